#include "ui/data_folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <optional>

#include "framework/host_services.h"
#include "plugin/ps_host.h"

namespace ps {
namespace {

constexpr char kLastPresetFolder[] = "presets/lastFolder";

// The module's own settings file in the user's settings folder, whatever the
// host names itself.
QSettings DialogSettings() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ovra"),
                   QStringLiteral("dialog"));
}

}  // namespace

QString DataFolder(const char* vendorFolder, const char* subFolder) {
  char path[1024];
  // The module's host object is current from load to unload; naming PS_Host
  // here also makes sure its unit is linked into every module with dialogs.
  const fx::Host* host = fx::CurrentHost();
  std::optional<PS_Host> fallback;
  if (host == nullptr) host = &fallback.emplace();
  if (!host->DataPath(vendorFolder, subFolder, nullptr, path, sizeof path)) return {};
  return QFile::decodeName(path);
}

QString UserPresetFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/ovra/Presets");
}

QString LastPresetFolder() {
  const QString folder = DialogSettings().value(QLatin1String(kLastPresetFolder)).toString();
  return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void RememberPresetFolder(const QString& file) {
  DialogSettings().setValue(QLatin1String(kLastPresetFolder), QFileInfo(file).absolutePath());
}

}  // namespace ps
