// Dialog hosting: the one application object, the bridge to the host's
// window, the settings dialog and About box as the entry points run them,
// and the host's screenshot commands.
#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <algorithm>
#include <string>

#include "ui/about_dialog.h"
#include "ui/ps_control.h"
#include "ui/qwinwidget.h"
#include "ui/viewer.h"
#include "ui_fixture.h"

// The module's entry points, linked into this test.
#define OVRA_ENTRY(entry, registryName, registryKey, aboutFlag) \
  extern "C" void PIMAIN_##entry(int32_t, void*, intptr_t*, int16_t*);
#include "plugin/entry_table.inc"
#undef OVRA_ENTRY

namespace {

using uitest::Session;
using uitest::WhenModal;

// Native window operations that record what the bridge asks of the host.
struct Recorder {
  std::vector<std::string> calls;
  intptr_t focused = 0;  // what getFocus answers

  static Recorder& Of(void* context) { return *static_cast<Recorder*>(context); }
  NativeWindowOps Ops() {
    NativeWindowOps ops{};
    ops.context = this;
    ops.setChildStyle = [](void* c, intptr_t) { Of(c).calls.push_back("setChildStyle"); };
    ops.setParent = [](void* c, intptr_t, intptr_t parent) {
      Of(c).calls.push_back("setParent " + std::to_string(parent));
    };
    ops.enableWindow = [](void* c, intptr_t w, Boolean on) {
      Of(c).calls.push_back((on ? "enable " : "disable ") + std::to_string(w));
    };
    ops.getFocus = [](void* c) {
      Of(c).calls.push_back("getFocus");
      return Of(c).focused;
    };
    ops.setFocus = [](void* c, intptr_t w) { Of(c).calls.push_back("setFocus " + std::to_string(w)); };
    ops.setActiveWindow = [](void* c, intptr_t w) {
      Of(c).calls.push_back("setActiveWindow " + std::to_string(w));
    };
    ops.bringWindowToTop = [](void* c, intptr_t w) {
      Of(c).calls.push_back("bringWindowToTop " + std::to_string(w));
    };
    return ops;
  }
};

std::ptrdiff_t Find(const std::vector<std::string>& calls, const std::string& call, std::ptrdiff_t from = 0) {
  for (std::ptrdiff_t i = from; i < static_cast<std::ptrdiff_t>(calls.size()); ++i)
    if (calls[static_cast<std::size_t>(i)] == call) return i;
  return -1;
}

// The host window went disabled while the dialog showed, and came back
// enabled with the focus after it.
void ExpectHandedBack(const std::vector<std::string>& calls, intptr_t window, intptr_t focus) {
  const std::string w = std::to_string(window);
  const std::ptrdiff_t disabled = Find(calls, "disable " + w);
  ASSERT_GE(disabled, 0);
  const std::ptrdiff_t enabled = Find(calls, "enable " + w, disabled);
  ASSERT_GT(enabled, disabled);
  EXPECT_GT(Find(calls, "setFocus " + std::to_string(focus), enabled), enabled);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "disable " + w),
            std::count(calls.begin(), calls.end(), "enable " + w));
}

QPushButton* Button(QWidget* dialog, const char* text) {
  for (QPushButton* b : dialog->findChildren<QPushButton*>())
    if (b->text() == text) return b;
  return nullptr;
}

TEST(Application, OneObjectMadeOnceAndReused) {
  QApplication& app = uitest::App();
  EXPECT_EQ(&app, QCoreApplication::instance());
  EXPECT_EQ(&ps::Application(), &app);
  EXPECT_EQ(QCoreApplication::arguments(), QStringList{"Photoshop Host"});
}

// ---------------------------------------------------------------- the bridge

TEST(Bridge, AModalChildDisablesTheHostWindowUntilItHides) {
  uitest::App();
  for (intptr_t focused : {intptr_t{0}, intptr_t{0x55}}) {
    Recorder r;
    r.focused = focused;
    const NativeWindowOps ops = r.Ops();
    auto bridge = std::make_unique<QWinWidget>(0x77, &ops);
    ASSERT_GE(r.calls.size(), 2u);
    EXPECT_EQ(r.calls[0], "setChildStyle");
    EXPECT_EQ(r.calls[1], "setParent 119");
    EXPECT_STREQ(bridge->metaObject()->className(), "QWinWidget");
    auto* dialog = new QDialog(bridge.get());
    bool disabledWhileShown = false;
    WhenModal<QDialog>([&](QDialog* d) {
      disabledWhileShown = bridge->owesReenable() && r.calls.back() == "disable 119";
      QTest::keyClick(d, Qt::Key_Escape);
    });
    EXPECT_EQ(dialog->exec(), QDialog::Rejected);
    EXPECT_TRUE(disabledWhileShown);
    EXPECT_FALSE(bridge->owesReenable());
    // Focus goes back where it was, or to the host window when nothing had it.
    ExpectHandedBack(r.calls, 0x77, focused != 0 ? focused : 0x77);
    delete dialog;
    bridge.reset();
    EXPECT_EQ(std::count(r.calls.begin(), r.calls.end(), "enable 119"), 1);
  }
}

TEST(Bridge, WithoutAHostWindowNothingIsReparentedAndTheDialogRuns) {
  uitest::App();
  Recorder r;
  const NativeWindowOps ops = r.Ops();
  QWinWidget bridge(0, &ops);
  QDialog dialog(&bridge);
  WhenModal<QDialog>([](QDialog* d) { d->accept(); });
  EXPECT_EQ(dialog.exec(), QDialog::Accepted);
  for (const std::string& call : r.calls) {
    EXPECT_EQ(call.find("setParent"), std::string::npos);
    EXPECT_EQ(call.find("able "), std::string::npos) << call;
  }
  // A host without operations at all.
  QWinWidget bare(0x77, nullptr);
  QDialog other(&bare);
  WhenModal<QDialog>([](QDialog* d) { d->reject(); });
  EXPECT_EQ(other.exec(), QDialog::Rejected);
}

// ---------------------------------------------------------------- the settings dialog

TEST(SettingsDialog, AcceptingSetsViewBackToOutputCancellingKeepsIt) {
  for (bool accept : {true, false}) {
    Session s(uitest::kOneGroup);
    QString title;
    QPoint at;
    WhenModal<MainDialog>([&](MainDialog* d) {
      title = d->windowTitle();
      at = d->pos();
      for (psControl* c : d->controls())
        if (std::string(c->parameter().key) == "view")
          emit static_cast<ListControl*>(c)->comboBox()->activated(1);
      Button(d, accept ? "&OK" : "&Cancel")->click();
    });
    EXPECT_EQ(ps::RunSettingsDialog(*s.call), accept);
    EXPECT_EQ(s.Param("view").listIndex, accept ? 0 : 1);
    EXPECT_EQ(title, "Ovra One Group");
    const QRect screen = QGuiApplication::screens().front()->geometry();
    auto d = s.Dialog();
    EXPECT_EQ(at, QPoint(screen.x() + (screen.width() - d->width()) / 2,
                         screen.y() + (screen.height() - d->height()) / 2));
  }
}

// A whole invocation through the entry point, as a host makes it, with the
// dialog asked for.
int16_t Invoke(standin::Host& host, PluginMainProc proc, std::function<void(MainDialog*)> act) {
  uitest::App();
  host.SetPlayInfo(plugInDialogDisplay);
  EXPECT_EQ(host.Call(proc, filterSelectorParameters), 0);
  EXPECT_EQ(host.Call(proc, filterSelectorPrepare), 0);
  WhenModal<MainDialog>(std::move(act));
  const int16_t result = host.Call(proc, filterSelectorStart);
  EXPECT_EQ(host.Call(proc, filterSelectorFinish), 0);
  return result;
}

TEST(SettingsDialog, TheHostWindowComesBackAfterEveryWayOfClosing) {
  QApplication* app = &uitest::App();
  struct Case {
    const char* how;
    int16_t result;
    std::function<void(MainDialog*)> close;
  };
  const Case cases[] = {
      {"OK", 0, [](MainDialog* d) { Button(d, "&OK")->click(); }},
      {"Cancel", userCanceledErr, [](MainDialog* d) { Button(d, "&Cancel")->click(); }},
      {"Escape", userCanceledErr, [](MainDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }},
      {"close box", userCanceledErr, [](MainDialog* d) { d->close(); }},
  };
  for (const Case& c : cases) {
    standin::Host host;
    host.SetDocument(uitest::Gradient(64, 48));
    const int16_t result = Invoke(host, &PIMAIN_BleachBypass, c.close);
    EXPECT_EQ(result, c.result) << c.how;
    const auto& calls = host.windowCalls;
    const std::string parent = " " + std::to_string(host.Window());
    EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [&](const std::string& call) {
      return call.rfind("setParent ", 0) == 0 && call.ends_with(parent);
    })) << c.how;
    ExpectHandedBack(calls, host.Window(), host.Window());
    // The same application object every time.
    EXPECT_EQ(QCoreApplication::instance(), app) << c.how;
  }
}

TEST(SettingsDialog, ItPreviewsTheHostDocumentWithTheEffect) {
  standin::Host host;
  standin::Document doc = standin::Document::Make(40, 30, 8);
  for (uint16_t& v : doc.samples) v = 200;
  host.SetDocument(doc);
  QImage shot;
  Invoke(host, &PIMAIN_BleachBypass, [&](MainDialog* d) {
    shot = d->viewer()->grab().toImage();
    d->reject();
  });
  ASSERT_FALSE(shot.isNull());
  // A 40 x 30 document at 100 %, centred; grey stays grey through the effect.
  const QColor c = shot.pixelColor(240, 175);
  EXPECT_EQ(c.red(), c.green());
  EXPECT_EQ(c.green(), c.blue());
  EXPECT_GT(host.scaledReadPixels, 0);
}

// ---------------------------------------------------------------- the About box

TEST(AboutBox, TitleTextAndSizeThroughTheAboutEntry) {
  uitest::App();
  standin::Host host;
  host.PrepareRecord();
  AboutRecord about{host.Record().platformData, nullptr, nullptr};
  QString title, text, editName;
  QSize size;
  bool readOnly = false, okIsDefault = false;
  WhenModal<AboutDialog>([&](AboutDialog* d) {
    title = d->windowTitle();
    size = d->size();
    text = d->edit()->toPlainText();
    editName = d->edit()->objectName();
    readOnly = d->edit()->isReadOnly();
    QPushButton* ok = Button(d, "&OK");
    okIsDefault = ok != nullptr && ok->isDefault();
    if (ok) ok->click();
  });
  intptr_t data = 0;
  int16_t result = 1;
  PIMAIN_BlackAndWhite(filterSelectorAbout, &about, &data, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(title, "About KVR Ovra v6");
  EXPECT_EQ(size, QSize(300, 200));
  EXPECT_EQ(editName, "edit");
  EXPECT_TRUE(readOnly);
  EXPECT_TRUE(okIsDefault);
  const QStringList lines = text.split('\n');
  ASSERT_GE(lines.size(), 2);
  EXPECT_EQ(lines[0], "KVR Ovra v6 v6.0.0");
  EXPECT_TRUE(lines[1].contains("Quillory"));
  ExpectHandedBack(host.windowCalls, host.Window(), host.Window());
}

// ---------------------------------------------------------------- ovra-host

// Runs ovra-host; its exit status, with stderr kept for the message.
int RunHost(const QStringList& arguments, QString& errors) {
  QProcess host;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("ASAN_OPTIONS", "detect_leaks=0");
  host.setProcessEnvironment(env);
  host.start(QStringLiteral(OVRA_MODULE_DIR "/ovra-host"), arguments);
  if (!host.waitForFinished(120000)) return -1;
  errors = QString::fromLocal8Bit(host.readAllStandardError());
  return host.exitStatus() == QProcess::NormalExit ? host.exitCode() : -1;
}

TEST(HostCommands, TheDialogAndAboutBoxArePhotographed) {
  uitest::App();
  QTemporaryDir dir;
  QString errors;
  const QString dialogShot = dir.filePath("dialog.png");
  ASSERT_EQ(RunHost({"dialog", "BleachBypass", OVRA_SOURCE_DIR "/data/samples/coffee.png", "--screenshot",
                     dialogShot},
                    errors),
            0)
      << errors.toStdString();
  const QImage dialog(dialogShot);
  ASSERT_FALSE(dialog.isNull());
  EXPECT_GT(dialog.width(), 480 + 310);
  EXPECT_GT(dialog.height(), 350);
  // The preview holds the photograph: many colours, not one flat fill.
  QSet<QRgb> colours;
  for (int y = 20; y < 330; y += 10)
    for (int x = 20; x < 460; x += 10) colours.insert(dialog.pixel(x, y));
  EXPECT_GT(colours.size(), 100);

  const QString aboutShot = dir.filePath("about.png");
  ASSERT_EQ(RunHost({"about", "--screenshot", aboutShot}, errors), 0) << errors.toStdString();
  EXPECT_EQ(QImage(aboutShot).size(), QSize(300, 200));

  EXPECT_EQ(RunHost({"dialog", "BleachBypass", OVRA_SOURCE_DIR "/data/samples/coffee.png"}, errors), 2);
}

}  // namespace
