#include "ui/data_folders.h"

#include <QFile>

#include <optional>

#include "framework/host_services.h"
#include "plugin/ps_host.h"

namespace ps {

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

}  // namespace ps
