#include "ui/application.h"

#include <QApplication>

#include <cstdlib>
#include <mutex>
#include <stdexcept>

namespace ps {
namespace {

QApplication* g_owned = nullptr;

// Without a display Qt ends the process instead of failing, so a dialog the
// host asks for in a session without one is refused first.
bool DisplayAvailable() {
  return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void Create() {
  if (QCoreApplication::instance() != nullptr) return;
  if (!DisplayAvailable()) throw std::runtime_error("no display to show the dialog on");
  // Qt keeps references to both for the application's lifetime.
  static int argc = 1;
  static char name[] = "Photoshop Host";
  static char* argv[] = {name, nullptr};
  g_owned = new QApplication(argc, argv);
  KeepReleaseLast();
}

}  // namespace

QApplication& Application() {
  static std::once_flag once;
  std::call_once(once, Create);
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (app == nullptr) throw std::runtime_error("the host's application object cannot show widgets");
  return *app;
}

void KeepReleaseLast() {
  if (g_owned != nullptr) std::atexit(ReleaseApplication);
}

void ReleaseApplication() {
  if (g_owned != nullptr && QCoreApplication::instance() == g_owned) delete g_owned;
  g_owned = nullptr;
}

}  // namespace ps
