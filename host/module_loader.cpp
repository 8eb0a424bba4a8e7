#include "host/module_loader.h"

#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "host/resources_reader.h"

namespace standin {
namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <class T>
bool At(const std::vector<uint8_t>& file, uint64_t offset, T& out) {
  if (offset > file.size() || file.size() - offset < sizeof(T)) return false;
  std::memcpy(&out, file.data() + offset, sizeof(T));
  return true;
}

struct SectionView {
  Elf64_Shdr header;
  std::string name;
};

std::vector<SectionView> Sections(const std::vector<uint8_t>& file) {
  std::vector<SectionView> out;
  Elf64_Ehdr eh;
  if (!At(file, 0, eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64)
    return out;
  Elf64_Shdr names;
  if (!At(file, eh.e_shoff + static_cast<uint64_t>(eh.e_shstrndx) * sizeof(Elf64_Shdr), names)) return out;
  for (uint16_t i = 0; i < eh.e_shnum; ++i) {
    SectionView s;
    if (!At(file, eh.e_shoff + static_cast<uint64_t>(i) * sizeof(Elf64_Shdr), s.header)) break;
    const uint64_t at = names.sh_offset + s.header.sh_name;
    if (at < file.size()) s.name = std::string(reinterpret_cast<const char*>(file.data() + at), strnlen(reinterpret_cast<const char*>(file.data() + at), file.size() - at));
    out.push_back(s);
  }
  return out;
}

}  // namespace

std::unique_ptr<Module> Module::Load(const std::string& path, std::string& error) {
  // The file stays mapped until the process ends, as editors keep their
  // plug-ins for the session: libraries the module's dialogs bring in (the
  // widget toolkit's) do not clean up after themselves when unloaded. The
  // module's own unload work still runs, at exit.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* e = dlerror();
    error = e ? e : "cannot load the module";
    return nullptr;
  }
  std::unique_ptr<Module> m(new Module());
  m->path_ = path;
  m->handle_ = handle;
  return m;
}

Module::~Module() {
  if (handle_ != nullptr) dlclose(handle_);
}

std::string Module::EntryName(const std::string& name) {
  return name.rfind("PIMAIN_", 0) == 0 ? name : "PIMAIN_" + name;
}

PluginMainProc Module::Entry(const std::string& name) const {
  return reinterpret_cast<PluginMainProc>(dlsym(handle_, EntryName(name).c_str()));
}

void* Module::Symbol(const std::string& name) const { return dlsym(handle_, name.c_str()); }

std::vector<std::string> Module::ExportedSymbols() const {
  std::vector<std::string> out;
  const std::vector<uint8_t> file = ReadFile(path_);
  const auto sections = Sections(file);
  for (const SectionView& s : sections) {
    if (s.header.sh_type != SHT_DYNSYM || s.header.sh_link >= sections.size()) continue;
    const Elf64_Shdr& strings = sections[s.header.sh_link].header;
    const uint64_t count = s.header.sh_entsize ? s.header.sh_size / s.header.sh_entsize : 0;
    for (uint64_t i = 0; i < count; ++i) {
      Elf64_Sym sym;
      if (!At(file, s.header.sh_offset + i * sizeof(Elf64_Sym), sym)) break;
      if (sym.st_shndx == SHN_UNDEF || sym.st_name == 0) continue;
      const int bind = ELF64_ST_BIND(sym.st_info);
      if (bind != STB_GLOBAL && bind != STB_WEAK) continue;
      const uint64_t at = strings.sh_offset + sym.st_name;
      if (at >= file.size()) continue;
      out.emplace_back(reinterpret_cast<const char*>(file.data() + at),
                       strnlen(reinterpret_cast<const char*>(file.data() + at), file.size() - at));
    }
  }
  return out;
}

std::vector<std::string> Module::ExportedEntries() const {
  std::vector<std::string> out;
  for (std::string& s : ExportedSymbols())
    if (s.rfind("PIMAIN_", 0) == 0) out.push_back(std::move(s));
  return out;
}

std::vector<uint8_t> Module::Section(const std::string& name) const {
  const std::vector<uint8_t> file = ReadFile(path_);
  for (const SectionView& s : Sections(file)) {
    if (s.name != name || s.header.sh_type == SHT_NOBITS) continue;
    if (s.header.sh_offset > file.size() || file.size() - s.header.sh_offset < s.header.sh_size) return {};
    return {file.begin() + static_cast<std::ptrdiff_t>(s.header.sh_offset),
            file.begin() + static_cast<std::ptrdiff_t>(s.header.sh_offset + s.header.sh_size)};
  }
  return {};
}

std::vector<ResourceFilter> Module::Resources(std::string& error) const {
  return ReadResourceFilters(Section(".ovra_resources"), error);
}

}  // namespace standin
