// Loads an effects module file as a host does and finds its entry points.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "plugin/protocol/filter_record.h"

namespace standin {

// A filter the module's resources register with the host.
struct ResourceFilter {
  int32_t id = 0;
  std::string menuName;
  std::string entryPoint;
  std::string category;
  std::string registryKey;  // the terminology scope text
};

class Module {
 public:
  // Null with a message when the file cannot be loaded.
  static std::unique_ptr<Module> Load(const std::string& path, std::string& error);
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  const std::string& Path() const { return path_; }
  // The entry point of that name, with or without its "PIMAIN_" prefix.
  PluginMainProc Entry(const std::string& name) const;
  // Any exported symbol, or null.
  void* Symbol(const std::string& name) const;
  // Every exported "PIMAIN_" function, in the order of the file's symbol table.
  std::vector<std::string> ExportedEntries() const;
  // Every dynamic symbol the file defines and exports.
  std::vector<std::string> ExportedSymbols() const;
  // The filters of the module's resource section (read from the file, not
  // by running the module).
  std::vector<ResourceFilter> Resources(std::string& error) const;
  // The raw bytes of a named ELF section, empty when there is none.
  std::vector<uint8_t> Section(const std::string& name) const;

  static std::string EntryName(const std::string& name);

 private:
  Module() = default;
  std::string path_;
  void* handle_ = nullptr;
};

}  // namespace standin
