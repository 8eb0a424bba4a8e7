#include "host/dialog_commands.h"

#include <QApplication>
#include <QDialog>
#include <QPixmap>
#include <QTimer>

#include <cstdlib>
#include <iostream>
#include <memory>

#include "host/filter_run.h"
#include "host/standin_host.h"

namespace standin {
namespace {

// A picture needs no screen: without a display Qt draws off screen.
void ChoosePlatform() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The host's own application object: made before the module is called, so
// the module uses it rather than making one.
std::unique_ptr<QApplication> MakeApplication() {
  ChoosePlatform();
  static int argc = 1;
  static char name[] = "ovra-host";
  static char* argv[] = {name, nullptr};
  return std::make_unique<QApplication>(argc, argv);
}

// Waits for the module's modal dialog, lets it lay itself out and paint for
// one more turn of the event loop, saves it and cancels it.
class Photographer {
 public:
  explicit Photographer(std::string file) : file_(std::move(file)) {
    timer_.setInterval(100);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    timer_.start();
  }
  bool Taken() const { return taken_; }
  const std::string& Error() const { return error_; }

 private:
  void Tick() {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr || !dialog->isVisible()) {
      seen_ = false;
      return;
    }
    if (!seen_) {
      seen_ = true;
      return;
    }
    // Rendering the widget tree paints the preview as the screen would.
    const QPixmap picture = dialog->grab();
    if (picture.save(QString::fromStdString(file_), "PNG")) {
      taken_ = true;
    } else {
      error_ = "cannot write " + file_;
    }
    timer_.stop();
    if (auto* d = qobject_cast<QDialog*>(dialog)) {
      d->reject();
    } else {
      dialog->close();
    }
  }

  std::string file_;
  QTimer timer_;
  bool seen_ = false;
  bool taken_ = false;
  std::string error_;
};

int Failed(const std::string& message) {
  std::cerr << "ovra-host: " << message << "\n";
  return 1;
}

}  // namespace

int DialogScreenshot(const Module& module, const std::string& entry, Document doc, const std::string& file) {
  auto app = MakeApplication();
  Host host;
  host.SetDocument(std::move(doc));
  Photographer photographer(file);
  RunOptions options;
  options.showDialog = true;
  const RunResult run = RunFilter(host, module, entry, options);
  if (!photographer.Error().empty()) return Failed(photographer.Error());
  if (!photographer.Taken()) {
    return Failed(run.result != noErr ? run.message : std::string("the filter showed no dialog"));
  }
  if (run.result != userCanceledErr) return Failed("the dialog was not cancelled: " + run.message);
  return 0;
}

int AboutScreenshot(const Module& module, const std::string& file) {
  auto app = MakeApplication();
  Host host;
  Photographer photographer(file);
  // Only one entry point answers the about selector; the others return at once.
  for (const std::string& entry : module.ExportedEntries()) {
    host.CallAbout(module, entry);
    if (photographer.Taken() || !photographer.Error().empty()) break;
  }
  if (!photographer.Error().empty()) return Failed(photographer.Error());
  if (!photographer.Taken()) return Failed("no entry point showed an About box");
  return 0;
}

}  // namespace standin
