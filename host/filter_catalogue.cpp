#include "host/filter_catalogue.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <string_view>

#include "effects/catalogue.h"
#include "plugin/entry_table.h"

namespace standin {
namespace {

constexpr std::string_view kPrefix = "PIMAIN_";

// The families the effect types are grouped in.
const std::map<std::string_view, std::string_view>& Families() {
  static const std::map<std::string_view, std::string_view> families = [] {
    std::map<std::string_view, std::string_view> m;
    const auto add = [&m](std::string_view family, std::initializer_list<std::string_view> members) {
      for (std::string_view name : members) m[name] = family;
    };
    add("Diffusion and glow", {"Diffusion", "Glow", "Mist", "BlackMist", "WarmMist", "WarmBlackMist", "Fog",
                               "SoftEFX", "WarmSoftEFX", "Halo", "LowContrast", "Defog", "FauxFilm"});
    add("Colour and tone", {"ColorCorrect", "BleachBypass", "BlackAndWhite", "CrossProcessing", "Tint", "MonoTint",
                            "Temperature", "WarmCool", "ColorTemp", "SelectiveSaturation", "UltraContrast", "Ozone",
                            "Fluorescent"});
    add("Selective colour", {"Enhancing", "SelectiveColor", "Overexpose", "InfraRed", "NightVision", "DayForNight",
                             "Polarizer"});
    add("Filters and gels", {"PhotoFilters", "LGels", "GamColor", "GamCineFilters", "GamNakedCosmetics",
                             "RoscoCalcolor", "RoscoCinegel", "RoscoCinelux", "RoscoVelante", "ColorCompensating",
                             "ColorConversion", "LightBalancing"});
    add("Grads and spots", {"NDGrad", "ColorGrad", "DualGrad", "StripGrad", "SunsetTwilight", "ColorSpot",
                            "CenterSpot", "RadialExposure", "SplitField", "Vignette"});
    add("Light", {"Star", "Streaks", "VariStar", "Light", "Relight", "Flashing", "SilverReflector", "GoldReflector"});
    add("Focus and blur", {"FastBlur", "DepthOfField", "RackFocus", "LensDistortion", "SkinSmoother"});
    add("Film looks", {"Grain", "Telecine", "PrinterPoints", "FStop", "MatteGenerator"});
    return m;
  }();
  return families;
}

// Without the prefix, which may be typed in any case.
std::string Bare(const std::string& entry) {
  const bool prefixed = entry.size() >= kPrefix.size() && Lower(entry.substr(0, kPrefix.size())) == Lower(std::string(kPrefix));
  return prefixed ? entry.substr(kPrefix.size()) : entry;
}

// A display name as typed: without "Ovra " and a trailing "...".
std::string ShortName(std::string name) {
  name = Lower(name);
  if (name.rfind("ovra ", 0) == 0) name.erase(0, 5);
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  return name;
}

std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

const std::vector<FilterName>& KnownFilters() {
  static const std::vector<FilterName> filters = [] {
    std::vector<FilterName> out;
    for (const ps::EntryInfo& e : ps::kEntryTable) {
      FilterName f{e.entryName, e.registryName, "", ""};
      for (const fx::catalogue::Entry& c : fx::catalogue::kEntries)
        if (f.registryName == c.registryName) f.displayName = c.displayName;
      if (auto it = Families().find(f.registryName); it != Families().end()) f.family = it->second;
      out.push_back(std::move(f));
    }
    return out;
  }();
  return filters;
}

std::vector<std::string> Nearest(const std::string& word, const std::vector<std::string>& candidates,
                                 std::size_t limit) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const std::string& c : candidates) pairs.push_back({c, c});
  return NearestOf(word, pairs, limit);
}

std::vector<std::string> NearestOf(const std::string& word,
                                   const std::vector<std::pair<std::string, std::string>>& candidates,
                                   std::size_t limit) {
  const std::string w = Lower(word);
  std::vector<std::pair<std::size_t, std::string>> scored;
  for (const auto& [text, shown] : candidates) {
    const std::string l = Lower(text);
    std::size_t d = Distance(w, l);
    // A word contained in a longer name is as good as a near miss.
    if (w.size() >= 3 && l.find(w) != std::string::npos) d = std::min<std::size_t>(d, 1);
    const std::size_t allowed = std::max<std::size_t>(2, std::min(w.size(), l.size()) / 3);
    if (d > allowed) continue;
    auto same = std::find_if(scored.begin(), scored.end(), [&](const auto& s) { return s.second == shown; });
    if (same == scored.end())
      scored.push_back({d, shown});
    else
      same->first = std::min(same->first, d);
  }
  std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (std::size_t i = 0; i < scored.size() && i < limit; ++i) out.push_back(scored[i].second);
  return out;
}

std::string ResolveFilter(const Module& module, const std::string& name, std::vector<std::string>& suggestions) {
  suggestions.clear();
  if (name.empty()) return "";
  if (module.Entry(name) != nullptr) return Module::EntryName(name);
  const std::string wanted = Lower(Bare(name));
  const std::string shortWanted = ShortName(name);
  std::vector<std::string> exported = module.ExportedEntries();
  for (const std::string& e : exported)
    if (Lower(Bare(e)) == wanted) return e;
  for (const FilterName& f : KnownFilters())
    if (!f.displayName.empty() && ShortName(f.displayName) == shortWanted && module.Entry(f.entry) != nullptr)
      return f.entry;
  // Each exported entry point is matched by its bare name and its display name.
  std::vector<std::pair<std::string, std::string>> candidates;
  for (const std::string& e : exported) {
    candidates.push_back({Bare(e), Bare(e)});
    for (const FilterName& f : KnownFilters())
      if (f.entry == e && !f.displayName.empty()) candidates.push_back({ShortName(f.displayName), Bare(e)});
  }
  suggestions = NearestOf(shortWanted, candidates, 3);
  if (suggestions.empty()) suggestions = NearestOf(Bare(name), candidates, 3);
  return "";
}

}  // namespace standin
