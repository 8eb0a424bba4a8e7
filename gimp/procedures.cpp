#include "gimp/procedures.h"

#include <cctype>

namespace ovra_gimp {
namespace {

bool Upper(char c) {
  return std::isupper(static_cast<unsigned char>(c)) != 0;
}
bool LowerOrDigit(char c) {
  return std::islower(static_cast<unsigned char>(c)) != 0 || std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::string Trimmed(const std::string& s) {
  const std::size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool EndsWithPresetExtension(const std::string& s) {
  if (s.size() < 4) return false;
  std::string ext = s.substr(s.size() - 4);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".kvr";
}

}  // namespace

std::string ProcedureName(const std::string& entry) {
  const std::string prefix = "PIMAIN_";
  const std::string bare = entry.rfind(prefix, 0) == 0 ? entry.substr(prefix.size()) : entry;
  std::string name = "plug-in-ovra";
  for (std::size_t i = 0; i < bare.size(); ++i) {
    const char c = bare[i];
    // A word starts at a capital after a small letter or digit, and at the
    // last capital of a run that a small letter follows (ND|Grad).
    const bool starts =
        i == 0 ||
        (Upper(c) && (LowerOrDigit(bare[i - 1]) || (Upper(bare[i - 1]) && i + 1 < bare.size() &&
                                                    std::islower(static_cast<unsigned char>(bare[i + 1])))));
    if (starts) name += '-';
    if (c != '_') name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

std::string MenuPath(const std::string& family) {
  return "<Image>/Filters/Ovra/" + (family.empty() ? std::string("Other") : family);
}

bool ParseSettingsText(const std::string& text, SettingsText& out, std::string& error) {
  out = {};
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find(';', at);
    if (end == std::string::npos) end = text.size();
    const std::string item = Trimmed(text.substr(at, end - at));
    at = end + 1;
    if (item.empty()) continue;
    if (item.find('=') != std::string::npos) {
      out.sets.push_back(item);
    } else if (EndsWithPresetExtension(item)) {
      if (!out.preset.empty()) {
        error = "the settings name more than one preset file ('" + out.preset + "', '" + item + "')";
        return false;
      }
      if (!out.sets.empty()) {
        error = "a preset file comes before the KEY=VALUE settings, not after: '" + item + "'";
        return false;
      }
      out.preset = item;
    } else {
      error = "settings take KEY=VALUE items separated by ';' or a .kvr preset file, not '" + item + "'";
      return false;
    }
  }
  return true;
}

}  // namespace ovra_gimp
