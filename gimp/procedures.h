// What the editor's plug-in makes of the module's filters without the editor:
// procedure names, menu places and the settings argument's text.
#pragma once

#include <string>
#include <vector>

namespace ovra_gimp {

// "plug-in-ovra-" and the entry point's name without its prefix, its words in
// lower case joined by dashes: PIMAIN_BleachBypass gives
// plug-in-ovra-bleach-bypass, PIMAIN_NDGrad plug-in-ovra-nd-grad.
std::string ProcedureName(const std::string& entry);

// The menu folder of a family: "<Image>/Filters/Ovra/Colour and tone".
std::string MenuPath(const std::string& family);

// The settings argument: empty, a preset file (.kvr), or KEY=VALUE items
// separated by ';' (a preset may come first, the items then override it).
// Blanks around items are ignored. False with a message when an item is
// neither a KEY=VALUE nor a preset file or there is more than one preset.
struct SettingsText {
  std::string preset;
  std::vector<std::string> sets;
};
bool ParseSettingsText(const std::string& text, SettingsText& out, std::string& error);

}  // namespace ovra_gimp
