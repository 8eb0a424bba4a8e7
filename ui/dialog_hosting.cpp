// The module's dialogs as the filter frame runs them: the settings dialog
// for the start selector and the About box for the about selector, each a
// modal child of the host's window.
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTextEdit>
#include <QWindow>
#include <xcb/xcb.h>

#include <cstdlib>

#include <memory>
#include <new>

#include "framework/errors.h"
#include "plugin/entry_call.h"
#include "plugin/render_loop.h"
#include "ui/about_dialog.h"
#include "ui/application.h"
#include "ui/main_dialog.h"
#include "ui/qwinwidget.h"

namespace ps {
namespace {

// The bridge for the host window in the platform data; none when it cannot
// be made, and the dialog then has no Qt parent.
std::unique_ptr<QWinWidget> MakeBridge(const void* platformData) {
  Application();
  const auto* platform = static_cast<const PlatformData*>(platformData);
  try {
    return std::make_unique<QWinWidget>(platform ? platform->hwnd : 0,
                                        platform ? platform->windowOps : nullptr);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// On X11 a host's window handle is an X window, and the dialog is made
// transient for it: the window manager keeps the dialog above the host's
// window and with it. A handle that names no window (a host's own token) is
// left alone. The foreign window goes after the dialog.
std::unique_ptr<QWindow> MakeTransientForHost(QWidget& dialog, const void* platformData) {
  const auto* platform = static_cast<const PlatformData*>(platformData);
  if (platform == nullptr || platform->hwnd == 0 || QGuiApplication::platformName() != QLatin1String("xcb"))
    return nullptr;
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->connection() == nullptr) return nullptr;
  xcb_connection_t* connection = x11->connection();
  const auto window = static_cast<xcb_window_t>(platform->hwnd);
  xcb_generic_error_t* error = nullptr;
  xcb_get_window_attributes_reply_t* attributes =
      xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), &error);
  std::free(error);
  if (attributes == nullptr) return nullptr;
  std::free(attributes);
  std::unique_ptr<QWindow> host(QWindow::fromWinId(static_cast<WId>(window)));
  if (!host) return nullptr;
  dialog.winId();  // the dialog's own native window, to carry the property
  if (dialog.windowHandle() == nullptr) return nullptr;
  dialog.windowHandle()->setTransientParent(host.get());
  return host;
}

// Whatever Qt made for a dialog is still there when the application goes.
struct ReleaseStaysLast {
  ~ReleaseStaysLast() { KeepReleaseLast(); }
};

void CentreOnFirstScreen(QWidget& dialog) {
  const QList<QScreen*> screens = QGuiApplication::screens();
  if (screens.isEmpty()) return;
  const QRect area = screens.front()->geometry();
  dialog.move(area.x() + (area.width() - dialog.width()) / 2,
              area.y() + (area.height() - dialog.height()) / 2);
}

}  // namespace

bool RunSettingsDialog(EntryCall& call) {
  if (call.effect == nullptr) return false;
  const ReleaseStaysLast last;
  std::unique_ptr<QWinWidget> bridge = MakeBridge(call.filterRecord->platformData);
  try {
    auto preview = std::make_unique<PreviewRenderer>(call.filterRecord, *call.effect);
    auto dialog = std::make_unique<MainDialog>(bridge.get(), call, *preview);
    dialog->setWindowTitle(QString::fromUtf8(fx::DisplayName(*call.effect)));
    CentreOnFirstScreen(*dialog);
    const std::unique_ptr<QWindow> hostWindow = MakeTransientForHost(*dialog, call.filterRecord->platformData);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (accepted) {
      // The final render is made in the normal view.
      const int view = fx::IndexOfKey(*call.effect, "view");
      if (view >= 0 && call.effect->parameters[view].kind == fx::Kind::List)
        fx::SetListIndex(call.effect->parameters[view], 0);
    }
    dialog.reset();
    preview.reset();
    bridge.reset();
    return accepted;
  } catch (const fx::OSErrFailure& failure) {
    *call.result = failure.code;
    return false;
  }
}

void ShowAboutBox(const AboutRecord* record, fx::EffectInstance* effect) {
  const ReleaseStaysLast last;
  std::unique_ptr<QWinWidget> bridge = MakeBridge(record ? record->platformData : nullptr);
  auto dialog = std::make_unique<AboutDialog>(bridge.get());
  const std::unique_ptr<QWindow> hostWindow = MakeTransientForHost(*dialog, record ? record->platformData : nullptr);
  const char* product = effect ? effect->routines->productName(effect) : fx::kProductName;
  const char* maker = effect ? effect->routines->makerName(effect) : fx::kMakerName;
  int32_t major = fx::kVersionMajor, minor = fx::kVersionMinor, revision = fx::kVersionRevision;
  if (effect != nullptr) effect->routines->version(effect, &major, &minor, &revision);
  dialog->setWindowTitle(QString::asprintf("About %s", product));
  QString text = QString::asprintf("%s v%d.%d.%d", product, major, minor, revision);
  text += QString::asprintf("\nCopyright (c) %s. All rights reserved.", maker);
  text += QString::asprintf(
      "\n%s: photographic and cinematographic effects - lens filters, gels, film looks.", product);
  dialog->edit()->setPlainText(text);
  dialog->exec();
  dialog.reset();
  bridge.reset();
}

}  // namespace ps
