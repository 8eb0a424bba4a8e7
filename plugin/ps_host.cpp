#include "plugin/ps_host.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "plugin/entry_call.h"

bool PS_Host::DataPath(const char*, const char* subFolder, const char* fileName, char* out,
                       std::size_t capacity) const {
  if (out == nullptr || capacity == 0) return false;
  out[0] = '\0';
  std::string path;
  if (subFolder != nullptr) {
    std::string module = ps::PluginPath();
    const std::size_t slash = module.find_last_of('/');
    module = slash == std::string::npos ? std::string(".") : module.substr(0, slash);
    path = module + "/" + subFolder + "/";
  }
  if (fileName != nullptr) path += fileName;
  if (path.size() + 1 > capacity) return false;
  std::memcpy(out, path.c_str(), path.size() + 1);
  return true;
}

namespace {
// The module's one host object, current from load to unload.
PS_Host g_host;
}  // namespace
