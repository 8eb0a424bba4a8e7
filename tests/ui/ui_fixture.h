// Shared pieces of the dialog tests: small effect types, a host with a
// document and the entry call the start selector would have, and a way to
// act on a modal dialog from inside its event loop.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/effect.h"
#include "framework/registry.h"
#include "host/document.h"
#include "host/standin_host.h"
#include "imaging/raster.h"
#include "plugin/entry_call.h"
#include "plugin/render_loop.h"
#include "ui/application.h"
#include "ui/main_dialog.h"

namespace uitest {

// What the test effects saw.
struct Probe {
  int renders = 0;
  std::vector<int32_t> changed;  // parameter-changed calls, by index
  bool saw16Bit = false;
};
inline Probe& TheProbe() {
  static Probe probe;
  return probe;
}

// Inverts the image (so the preview shows that it rendered). A "linked"
// boolean greys out "amount" while it is on.
class Invert final : public fx::Effect {
 public:
  using Effect::Effect;
  bool IsActive() const {
    const int view = IndexOf("view");
    return view < 0 || ListIndex(view) == 0;
  }
  void Render(fx::RenderInfo& info) {
    ++TheProbe().renders;
    const fx::Raster& s = *Source();
    fx::Raster& d = *info.destination;
    if (s.Is16Bit()) TheProbe().saw16Bit = true;
    for (int32_t y = info.area.top; y < info.area.bottom; ++y) {
      const uint8_t* in = s.RowAs<uint8_t>(y);
      uint8_t* out = d.RowAs<uint8_t>(y);
      for (int32_t x = info.area.left; x < info.area.right; ++x)
        for (int c = 0; c < 4; ++c)
          out[4 * x + c] = c == 3 ? in[4 * x + c] : static_cast<uint8_t>(255 - in[4 * x + c]);
    }
  }
  void ParameterChanged(int32_t index) {
    TheProbe().changed.push_back(index);
    const int linked = IndexOf("linked"), amount = IndexOf("amount");
    if (index == linked && amount >= 0) fx::SetEnabled(Param(amount), !BooleanValue(linked));
  }
};

inline constexpr const char* kOutputOriginal[] = {"Output", "Original"};
inline constexpr const char* kModes[] = {"Soft", "Hard", "Edge"};

// One top-level group: a group box, no pages.
inline constexpr fx::ParamSpec kOneGroupParams[] = {
    fx::Image("background", "Background"),   fx::List("view", "View", kOutputOriginal),
    fx::Group("tone", "Tone", true),         fx::Range("amount", "Amount", 0, 100, 50),
    fx::Bool("soft", "Soft", false),         fx::End(),
    fx::Range("after", "After", -10, 10, 0),
};
static_assert(fx::ValidTable(kOneGroupParams));

// Three pages, a hidden group and a plain group.
inline constexpr fx::ParamSpec kPagesParams[] = {
    fx::Image("background", "Background"),
    fx::List("view", "View", kOutputOriginal),
    fx::Group("shape", "Shape", true),
    fx::Range("amount", "Amount", 0, 100, 50),
    fx::Point("center", "Center", {0.0, 0.0}),
    fx::End(),
    fx::Group("colour", "Colour"),
    fx::Colour("tint", "Tint", {1.0, 0.5, 0.0}),
    fx::Bool("linked", "Linked", false).Flags(fx::kNotify),
    fx::End(),
    fx::Group("secret", "Secret").Flags(fx::kHidden),
    fx::Range("hiddenAmount", "Hidden Amount", 0, 100, 10),
    fx::List("hiddenMode", "Hidden Mode", kModes, 2),
    fx::End(),
    fx::Group("plain", "Plain").Flags(fx::kPlainGroup),
    fx::Range("plainAmount", "Plain Amount", -5, 5, 1),
    fx::End(),
    fx::Group("texture", "Texture"),
    fx::ImageFile("pattern", "Pattern", "KVR Ovra v6", "textures", "stripes.png"),
    fx::List("mode", "Mode", kModes, 0),
    fx::End(),
};
static_assert(fx::ValidTable(kPagesParams));

// Points on two of three pages, in a plain group outside them and in a
// hidden group.
inline constexpr fx::ParamSpec kPagePointsParams[] = {
    fx::Image("background", "Background"),
    fx::Group("first", "First"),
    fx::Point("firstPoint", "First Point", {-0.3, -0.3}),
    fx::End(),
    fx::Group("second", "Second"),
    fx::Point("secondPoint", "Second Point", {0.3, -0.3}),
    fx::Group("inner", "Inner"),
    fx::Point("innerPoint", "Inner Point", {0.3, 0.0}),
    fx::End(),
    fx::End(),
    fx::Group("third", "Third"),
    fx::Range("thirdAmount", "Third Amount", 0, 100, 50),
    fx::End(),
    fx::Group("always", "Always").Flags(fx::kPlainGroup),
    fx::Point("alwaysPoint", "Always Point", {0.0, 0.3}),
    fx::End(),
    fx::Group("secret", "Secret").Flags(fx::kHidden),
    fx::Point("secretPoint", "Secret Point", {-0.3, 0.3}),
    fx::End(),
};
static_assert(fx::ValidTable(kPagePointsParams));

// No groups: every kind of control, a whole-number range and a point that
// is no handle.
inline constexpr fx::ParamSpec kKindsParams[] = {
    fx::Image("background", "Background"),
    fx::List("view", "View", kOutputOriginal),
    fx::Range("amount", "Amount", 0, 100, 50),
    fx::Range("count", "Count", 0, 10, 3).Flags(fx::kWholeNumbers),
    fx::Bool("linked", "Linked", false).Flags(fx::kNotify),
    fx::List("mode", "Mode", kModes, 1),
    fx::Colour("tint", "Tint", {1.0, 0.5, 0.0}),
    fx::Point("center", "Center", {0.0, 0.0}),
    fx::Point("fixed", "Fixed", {0.25, 0.25}).Flags(fx::kNoHandle),
    fx::ImageFile("pattern", "Pattern", "KVR Ovra v6", "textures", ""),
    fx::ImageFile("photo", "Photo", nullptr, nullptr, ""),
};
static_assert(fx::ValidTable(kKindsParams));

// Two dozen sliders: taller than a laptop's screen, lower than a desktop's.
inline constexpr fx::ParamSpec kTallParams[] = {
    fx::Image("background", "Background"),
    fx::Range("step01", "Step 1", 0, 100, 1),
    fx::Range("step02", "Step 2", 0, 100, 2),
    fx::Range("step03", "Step 3", 0, 100, 3),
    fx::Range("step04", "Step 4", 0, 100, 4),
    fx::Range("step05", "Step 5", 0, 100, 5),
    fx::Range("step06", "Step 6", 0, 100, 6),
    fx::Range("step07", "Step 7", 0, 100, 7),
    fx::Range("step08", "Step 8", 0, 100, 8),
    fx::Range("step09", "Step 9", 0, 100, 9),
    fx::Range("step10", "Step 10", 0, 100, 10),
    fx::Range("step11", "Step 11", 0, 100, 11),
    fx::Range("step12", "Step 12", 0, 100, 12),
    fx::Range("step13", "Step 13", 0, 100, 13),
    fx::Range("step14", "Step 14", 0, 100, 14),
    fx::Range("step15", "Step 15", 0, 100, 15),
    fx::Range("step16", "Step 16", 0, 100, 16),
    fx::Range("step17", "Step 17", 0, 100, 17),
    fx::Range("step18", "Step 18", 0, 100, 18),
    fx::Range("step19", "Step 19", 0, 100, 19),
    fx::Range("step20", "Step 20", 0, 100, 20),
    fx::Range("step21", "Step 21", 0, 100, 21),
    fx::Range("step22", "Step 22", 0, 100, 22),
    fx::Range("step23", "Step 23", 0, 100, 23),
    fx::Range("step24", "Step 24", 0, 100, 24),
};
static_assert(fx::ValidTable(kTallParams));

// Presets kept in the module's folder.
inline constexpr fx::ParamSpec kModulePresetsParams[] = {
    fx::Image("background", "Background"),
    fx::PresetsFolder(),
    fx::Range("amount", "Amount", 0, 100, 50),
};
static_assert(fx::ValidTable(kModulePresetsParams));

inline constexpr fx::EffectType kOneGroupType{"Ovra One Group", "", kOneGroupParams, 0};
inline constexpr fx::EffectType kPagesType{"Ovra Pages", "", kPagesParams, 0};
inline constexpr fx::EffectType kKindsType{"Ovra Kinds", "", kKindsParams, 0};
inline constexpr fx::EffectType kPagePointsType{"Ovra Page Points", "", kPagePointsParams, 0};
inline constexpr fx::EffectType kModulePresetsType{"Ovra Module Presets", "", kModulePresetsParams, 0};
inline constexpr fx::EffectType kTallType{"Ovra Tall", "", kTallParams, 0};
// Reads outside its tile: previewed from the whole zoomed image.
inline constexpr fx::EffectType kOutsideType{"Ovra Outside", "", kOneGroupParams, fx::kReadsOutsideTile};

inline constexpr const fx::EffectRoutines& kOneGroup = fx::RoutinesOf<Invert, kOneGroupType>;
inline constexpr const fx::EffectRoutines& kPages = fx::RoutinesOf<Invert, kPagesType>;
inline constexpr const fx::EffectRoutines& kKinds = fx::RoutinesOf<Invert, kKindsType>;
inline constexpr const fx::EffectRoutines& kPagePoints = fx::RoutinesOf<Invert, kPagePointsType>;
inline constexpr const fx::EffectRoutines& kModulePresets = fx::RoutinesOf<Invert, kModulePresetsType>;
inline constexpr const fx::EffectRoutines& kTall = fx::RoutinesOf<Invert, kTallType>;
inline constexpr const fx::EffectRoutines& kOutside = fx::RoutinesOf<Invert, kOutsideType>;

// The screens of the test process (offscreen platform): a desktop monitor
// (the primary one), a laptop's, a high-density one and one narrower than
// the dialog, side by side.
struct TestScreen {
  const char* name;
  int x, width, height;
  int ratio;
};
inline constexpr TestScreen kScreens[] = {
    {"Desk", 0, 1920, 1200, 1},
    {"Laptop", 1920, 1366, 768, 1},
    {"Dense", 3286, 1280, 800, 2},
    {"Small", 4566, 800, 600, 1},
};

// Sets up the screens and the process's own data and settings folders
// (below a temporary folder) before the application object is made.
void PrepareSurroundings();

// The process's application object, made the way the module makes it.
inline QApplication& App() {
  PrepareSurroundings();
  return ps::Application();
}

// The screen of that name (the primary one when there is none: another
// platform than offscreen was asked for).
inline QScreen* Screen(const char* name) {
  App();
  for (QScreen* s : QGuiApplication::screens())
    if (s->name() == QLatin1String(name)) return s;
  return QGuiApplication::primaryScreen();
}

// A window standing on a screen, as the host's window a dialog is made for.
inline std::unique_ptr<QWidget> WindowOn(QScreen* screen) {
  auto w = std::make_unique<QWidget>();
  w->setScreen(screen);
  w->move(screen->geometry().topLeft() + QPoint(10, 10));
  w->winId();
  return w;
}

// A smooth 8- or 16-bit test document.
inline standin::Document Gradient(int32_t width, int32_t height, int32_t depth = 8) {
  standin::Document d = standin::Document::Make(width, height, depth);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      d.At(x, y, 0) = static_cast<uint16_t>((x * 255 / std::max(1, width - 1)) * d.FullScale() / 255);
      d.At(x, y, 1) = static_cast<uint16_t>((y * 255 / std::max(1, height - 1)) * d.FullScale() / 255);
      d.At(x, y, 2) = static_cast<uint16_t>(((x + y) % 256) * d.FullScale() / 255);
    }
  return d;
}

// An effect instance over a host document, with the entry call and preview
// context the start selector hands the dialog.
class Session {
 public:
  explicit Session(const fx::EffectRoutines& routines, standin::Document doc = Gradient(300, 200),
                   standin::HostOptions options = {})
      : host(std::move(options)), effect(routines.create()) {
    App();
    host.SetDocument(std::move(doc));
    host.PrepareRecord();
    call = std::make_unique<ps::EntryCall>(&host.Record(), &data, &result, effect, "test-key", false);
    preview = std::make_unique<ps::PreviewRenderer>(&host.Record(), *effect);
    TheProbe() = {};
  }
  ~Session() {
    preview.reset();
    call.reset();
    effect->routines->destroy(effect);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  std::unique_ptr<MainDialog> Dialog(QWidget* parent = nullptr) {
    return std::make_unique<MainDialog>(parent, *call, *preview);
  }
  fx::Parameter& Param(const char* key) { return effect->parameters[fx::IndexOfKey(*effect, key)]; }

  standin::Host host;
  fx::EffectInstance* effect;
  intptr_t data = 0;
  int16_t result = 0;
  std::unique_ptr<ps::EntryCall> call;
  std::unique_ptr<ps::PreviewRenderer> preview;
};

// A registered effect of the module, by registry name.
inline const fx::EffectRoutines& Registered(const char* name) {
  fx::EffectRegistry& registry = fx::Registry();
  for (int i = 0; i < registry.Count(); ++i)
    if (std::string(registry.NameAt(i)) == name) return registry.RoutinesAt(i);
  ADD_FAILURE() << name << " is not registered";
  return kOneGroup;
}

// Calls act with the next visible modal dialog of type T, from inside its
// event loop. If none comes, whatever modal dialog is up is cancelled so the
// test fails instead of hanging.
template <class T>
void WhenModal(std::function<void(T*)> act) {
  App();
  auto* timer = new QTimer(qApp);
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, act, tries] {
    auto* w = qobject_cast<T*>(QApplication::activeModalWidget());
    if (w == nullptr || !w->isVisible()) {
      if (++*tries < 500) return;
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << "no modal " << T::staticMetaObject.className() << " appeared";
      if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget())) other->reject();
      return;
    }
    timer->stop();
    timer->deleteLater();
    act(w);
    // A dialog that did not go away would hold the test for ever.
    QTimer::singleShot(5000, [dialog = QPointer<T>(w)] {
      if (dialog.isNull() || !dialog->isVisible()) return;
      ADD_FAILURE() << dialog->metaObject()->className() << " stayed open";
      if (auto* d = qobject_cast<QDialog*>(dialog.data())) d->reject();
    });
  });
  timer->start(10);
}

// Chooses path in an open file chooser and confirms it, as a user typing
// the name does (selectFile alone does not reach a chooser still reading
// its folder).
inline void ChooseFile(QFileDialog* chooser, const QString& path) {
  if (auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
    name->setText(path);
  } else {
    chooser->selectFile(path);
  }
  static_cast<QDialog*>(chooser)->accept();  // QFileDialog hides it
}

// Runs every event that is due.
inline void Settle() {
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

}  // namespace uitest
