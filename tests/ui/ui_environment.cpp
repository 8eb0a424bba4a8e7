// The test process's surroundings: screens of known sizes, and data and
// settings folders of its own, so that no test reads or writes the user's
// home. The test process ends as a host that unloads the module does: the
// module's application object goes before the process's own teardown.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include "ui/application.h"
#include "ui_fixture.h"

namespace uitest {

const QTemporaryDir& Surroundings() {
  static QTemporaryDir dir;
  return dir;
}

void PrepareSurroundings() {
  static const bool prepared = [] {
    const QTemporaryDir& dir = Surroundings();
    if (!dir.isValid()) {
      ADD_FAILURE() << "no temporary folder for the tests";
      return false;
    }
    QDir().mkpath(dir.filePath("home"));
    qputenv("HOME", QFile::encodeName(dir.filePath("home")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath("config"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.filePath("config"));
    // The first screen is the primary one. The offscreen platform reads the
    // file once, when the application object is made.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen") {
      QByteArray screens = "{\"screens\": [";
      for (std::size_t i = 0; i < std::size(kScreens); ++i) {
        const TestScreen& s = kScreens[i];
        screens += QByteArray(i ? "," : "") + "{\"name\": \"" + s.name + "\", \"x\": " +
                   QByteArray::number(s.x) + ", \"y\": 0, \"width\": " + QByteArray::number(s.width) +
                   ", \"height\": " + QByteArray::number(s.height) +
                   ", \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": " + QByteArray::number(s.ratio) + "}";
      }
      screens += "]}";
      QFile file(dir.filePath("screens.json"));
      if (!file.open(QIODevice::WriteOnly) || file.write(screens) != screens.size()) {
        ADD_FAILURE() << "cannot write the screens file";
        return false;
      }
      file.close();
      qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(file.fileName()));
    }
    return true;
  }();
  (void)prepared;
}

}  // namespace uitest

namespace {

class Surroundings final : public ::testing::Environment {
 public:
  void SetUp() override { uitest::PrepareSurroundings(); }
  void TearDown() override { ps::ReleaseApplication(); }
};

const ::testing::Environment* const kSurroundings = ::testing::AddGlobalTestEnvironment(new Surroundings);

}  // namespace
