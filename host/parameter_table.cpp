#include "host/parameter_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "framework/registry.h"
#include "framework/settings_block.h"
#include "host/filter_catalogue.h"
#include "host/settings_codec.h"
#include "plugin/entry_table.h"

namespace standin {
namespace {

constexpr std::size_t kValue = fx::kSettingsValueOffset;

template <class T>
T Get(const std::vector<uint8_t>& b, std::size_t at) {
  T v{};
  if (at + sizeof v <= b.size()) std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}

template <class T>
void Put(std::vector<uint8_t>& b, std::size_t at, T v) {
  if (at + sizeof v <= b.size()) std::memcpy(b.data() + at, &v, sizeof v);
}

fx::EffectRegistry& Tables() {
  static fx::EffectRegistry registry;
  if (registry.Count() == 0) fx::RegisterEffects(registry);
  return registry;
}

struct DestroyInstance {
  void operator()(fx::EffectInstance* e) const {
    if (e) e->routines->destroy(e);
  }
};
using InstancePtr = std::unique_ptr<fx::EffectInstance, DestroyInstance>;

// A new instance of the type, as the module's registry makes and holds it
// (effects behave as registry-held ones in the module).
InstancePtr MakeInstance(const std::string& registryName) {
  fx::EffectRegistry& r = Tables();
  for (int i = 0; i < r.Count(); ++i) {
    if (registryName != r.NameAt(i)) continue;
    InstancePtr e(r.RoutinesAt(i).create());
    if (e) e->flags |= fx::kHeldByRegistry;
    return e;
  }
  return nullptr;
}

std::string RegistryNameOf(const std::string& entry) {
  for (const ps::EntryInfo& e : ps::kEntryTable)
    if (entry == e.entryName) return e.registryName;
  return "";
}

// Whether the table's records are exactly the block's.
bool SameLayout(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  SettingsView va, vb;
  std::string error;
  if (!ParseSettings(a, va, error) || !ParseSettings(b, vb, error)) return false;
  if (va.effectName != vb.effectName || va.records.size() != vb.records.size()) return false;
  for (std::size_t i = 0; i < va.records.size(); ++i)
    if (va.records[i].kind != vb.records[i].kind || va.records[i].key != vb.records[i].key) return false;
  return true;
}

std::string Number(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return {buf, r.ptr};
}

// As the dialog's number field shows it.
std::string Shown(double v, bool whole) {
  char text[64];
  if (whole)
    std::snprintf(text, sizeof text, "%d", static_cast<int>(std::clamp(v, -2.0e9, 2.0e9)));
  else
    std::snprintf(text, sizeof text, "%lg", v);
  return text;
}

bool ParseNumber(const std::string& text, double& v) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+') ++begin;
  auto r = std::from_chars(begin, end, v);
  return r.ec == std::errc() && r.ptr == end && begin != end && std::isfinite(v);
}

bool ParseNumbers(const std::string& text, std::vector<double>& out) {
  out.clear();
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    while (!part.empty() && part.front() == ' ') part.erase(0, 1);
    while (!part.empty() && part.back() == ' ') part.pop_back();
    double v = 0;
    if (!ParseNumber(part, v)) return false;
    out.push_back(v);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

bool ParseHexColour(const std::string& text, double rgb[3]) {
  if (text.size() != 7 || text[0] != '#') return false;
  for (int c = 0; c < 3; ++c) {
    unsigned v = 0;
    auto r = std::from_chars(text.data() + 1 + 2 * c, text.data() + 3 + 2 * c, v, 16);
    if (r.ec != std::errc() || r.ptr != text.data() + 3 + 2 * c) return false;
    rgb[c] = v / 255.0;
  }
  return true;
}

std::string Hex(double r, double g, double b) {
  char text[16];
  const auto byte = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
  std::snprintf(text, sizeof text, "#%02x%02x%02x", byte(r), byte(g), byte(b));
  return text;
}

std::string Name(const ParamInfo& p) { return p.label.empty() ? p.key : p.label; }

std::string Choices(const ParamInfo& p) {
  std::string out;
  const std::size_t shown = std::min<std::size_t>(p.choices.size(), 12);
  for (std::size_t i = 0; i < shown; ++i) out += (i ? ", " : "") + std::to_string(i) + " " + p.choices[i];
  if (shown < p.choices.size()) out += ", ... (" + std::to_string(p.choices.size()) + " in all)";
  return out;
}

}  // namespace

const char* KindName(int32_t kind) {
  static const char* const kNames[] = {"",      "image", "range", "boolean", "list",   "colour",
                                       "point", "group", "end",   "presets", "file"};
  return kind >= 0 && kind <= 10 ? kNames[kind] : "";
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

bool DescribeParams(const std::string& entry, const std::vector<uint8_t>& block, EffectParams& out,
                    std::string& error) {
  SettingsView view;
  if (!ParseSettings(block, view, error)) return false;
  out = EffectParams{};
  out.entry = entry;
  out.registryName = RegistryNameOf(entry);
  out.effectName = view.effectName;
  std::vector<std::string> groups;
  for (std::size_t i = 0; i < view.records.size(); ++i) {
    const SettingsRecordView& r = view.records[i];
    ParamInfo p;
    p.index = static_cast<int32_t>(i);
    p.kind = r.kind;
    p.key = r.key;
    p.offset = r.offset;
    if (r.kind == 8 && !groups.empty()) groups.pop_back();
    p.group = groups.empty() ? "" : groups.back();
    if (r.kind == 7) groups.push_back(r.key);
    out.params.push_back(std::move(p));
  }

  InstancePtr instance = MakeInstance(out.registryName);
  if (!instance) return true;
  const std::vector<uint8_t> defaults = fx::BuildSettings(*instance);
  if (!SameLayout(defaults, block)) return true;
  out.known = true;
  out.defaults = defaults;
  // The dialog's view of the state: the block's values, then every record
  // that asks for it notified, in order, as the dialog does before it shows
  // its controls.
  fx::ApplySettings(*instance, block);
  for (uint32_t i = 0; i < instance->parameterCount; ++i)
    if (instance->parameters[i].flags & fx::kNotify) instance->routines->parameterChanged(instance.get(), i);
  int hiddenDepth = 0;
  for (uint32_t i = 0; i < instance->parameterCount && i < out.params.size(); ++i) {
    const fx::Parameter& rec = instance->parameters[i];
    ParamInfo& p = out.params[i];
    p.label = rec.label ? rec.label : "";
    p.flags = rec.flags;
    p.enabled = rec.Enabled();
    if (rec.kind == fx::Kind::GroupEnd && hiddenDepth > 0) --hiddenDepth;
    p.hidden = hiddenDepth > 0 || (rec.flags & fx::kHidden) != 0;
    if (rec.kind == fx::Kind::GroupStart && (hiddenDepth > 0 || (rec.flags & fx::kHidden))) ++hiddenDepth;
    if (rec.declaration) {
      p.minimum = rec.declaration->minimum;
      p.maximum = rec.declaration->maximum;
      p.decimals = rec.declaration->decimals;
      for (const char* item : rec.declaration->items) p.choices.push_back(item ? item : "");
    }
    p.wholeNumbers = (rec.flags & fx::kWholeNumbers) != 0;
  }
  return true;
}

int32_t FindParam(const EffectParams& params, const std::string& key, std::string& error) {
  const auto& ps = params.params;
  const auto usable = [](const ParamInfo& p) { return !p.key.empty(); };
  if (!key.empty() && key[0] == '#') {
    int32_t index = -1;
    auto r = std::from_chars(key.data() + 1, key.data() + key.size(), index);
    if (r.ec != std::errc() || r.ptr != key.data() + key.size() || index < 0 ||
        index >= static_cast<int32_t>(ps.size())) {
      error = "no parameter " + key + " in " + params.effectName + " (it has #0 to #" +
              std::to_string(ps.size() == 0 ? 0 : ps.size() - 1) + ")";
      return -1;
    }
    return index;
  }
  std::string group, bare = key;
  if (const std::size_t slash = key.find('/'); slash != std::string::npos) {
    group = key.substr(0, slash);
    bare = key.substr(slash + 1);
  }
  const auto matches = [&](bool anyCase) {
    std::vector<int32_t> found;
    for (const ParamInfo& p : ps) {
      if (!usable(p)) continue;
      const bool keyMatch = anyCase ? Lower(p.key) == Lower(bare) : p.key == bare;
      const bool groupMatch = group.empty() || (anyCase ? Lower(p.group) == Lower(group) : p.group == group);
      if (keyMatch && groupMatch) found.push_back(p.index);
    }
    return found;
  };
  std::vector<int32_t> found = matches(false);
  if (found.empty()) found = matches(true);
  // A label as the dialog shows it ("Presets", "destination kelvin").
  if (found.empty() && group.empty())
    for (const ParamInfo& p : ps)
      if (usable(p) && !p.label.empty() && Lower(p.label) == Lower(bare)) found.push_back(p.index);
  // A group shares its key with one of its rows (Split Field's "blur"): the
  // key names the row, since a group header takes no value.
  if (found.size() > 1) {
    std::vector<int32_t> valued;
    for (int32_t i : found)
      if (const int32_t kind = ps[static_cast<std::size_t>(i)].kind; kind != 1 && kind != 7 && kind != 8)
        valued.push_back(i);
    if (valued.size() == 1) found = valued;
  }
  if (found.size() == 1) return found[0];
  if (found.size() > 1) {
    error = "'" + key + "' names " + std::to_string(found.size()) + " parameters of " + params.effectName + ":";
    for (int32_t i : found) {
      const ParamInfo& p = ps[static_cast<std::size_t>(i)];
      error += " " + (p.group.empty() ? p.key : p.group + "/" + p.key) + " (#" + std::to_string(i) + ")";
    }
    error += "; name one of them";
    return -1;
  }
  std::vector<std::pair<std::string, std::string>> candidates;
  for (const ParamInfo& p : ps) {
    if (!usable(p)) continue;
    candidates.push_back({p.key, p.key});
    if (!p.label.empty()) candidates.push_back({p.label, p.key});
  }
  error = "no parameter '" + key + "' in " + params.effectName;
  const std::vector<std::string> near = NearestOf(bare, candidates);
  if (!near.empty()) {
    error += "; did you mean";
    for (std::size_t i = 0; i < near.size(); ++i) error += (i ? ", " : " ") + near[i];
    error += "?";
  }
  return -1;
}

bool SetParam(const EffectParams& params, int32_t index, const std::string& text, std::vector<uint8_t>& block,
              std::string& error) {
  if (index < 0 || static_cast<std::size_t>(index) >= params.params.size()) {
    error = "no parameter #" + std::to_string(index);
    return false;
  }
  const ParamInfo& p = params.params[static_cast<std::size_t>(index)];
  const std::size_t v = p.offset + kValue;
  const bool known = params.known;
  const std::string what = "--set " + p.key + "=" + text + ": " + Name(p);
  switch (p.kind) {
    case 2: {
      double number = 0;
      const bool parsed = ParseNumber(text, number);
      const std::string allowed =
          known ? std::string(p.wholeNumbers ? " takes a whole number from " : " takes a number from ") +
                      Shown(p.minimum, false) + " to " + Shown(p.maximum, false)
                : " takes a number";
      if (!parsed || (known && (number < p.minimum || number > p.maximum)) ||
          (known && p.wholeNumbers && number != std::trunc(number))) {
        error = what + allowed;
        return false;
      }
      Put(block, v, number);
      return true;
    }
    case 3: {
      const std::string t = Lower(text);
      if (t == "1" || t == "true" || t == "on" || t == "yes") {
        block[v] = 1;
        return true;
      }
      if (t == "0" || t == "false" || t == "off" || t == "no") {
        block[v] = 0;
        return true;
      }
      error = what + " takes on or off (also 1/0, true/false, yes/no)";
      return false;
    }
    case 4: {
      const int32_t count = static_cast<int32_t>(p.choices.size());
      int32_t i = -1;
      auto r = std::from_chars(text.data(), text.data() + text.size(), i);
      const bool isIndex = !text.empty() && r.ec == std::errc() && r.ptr == text.data() + text.size();
      if (isIndex && i >= 0 && (!known || i < count)) {
        Put(block, v, i);
        return true;
      }
      if (!isIndex && known) {
        std::vector<int32_t> exact, anyCase;
        for (int32_t c = 0; c < count; ++c) {
          if (p.choices[static_cast<std::size_t>(c)] == text) exact.push_back(c);
          if (Lower(p.choices[static_cast<std::size_t>(c)]) == Lower(text)) anyCase.push_back(c);
        }
        const std::vector<int32_t>& hit = exact.empty() ? anyCase : exact;
        if (hit.size() == 1) {
          Put(block, v, hit[0]);
          return true;
        }
        if (hit.size() > 1) {
          error = what + ": '" + text + "' is the name of several choices:";
          for (int32_t c : hit) error += " " + std::to_string(c) + " " + p.choices[static_cast<std::size_t>(c)];
          error += "; give the index";
          return false;
        }
        std::vector<std::string> near = Nearest(text, p.choices);
        error = what + " has no choice '" + text + "'";
        if (!near.empty()) {
          error += "; did you mean";
          for (std::size_t n = 0; n < near.size(); ++n) error += (n ? ", " : " ") + std::string("\"") + near[n] + "\"";
          error += "?";
        } else {
          error += "; choices: " + Choices(p);
        }
        return false;
      }
      error = known ? what + " takes an index from 0 to " + std::to_string(count - 1) + " or a choice name: " +
                          Choices(p)
                    : what + " takes a list index";
      return false;
    }
    case 5: {
      double rgb[3];
      if (ParseHexColour(text, rgb)) {
        for (int c = 0; c < 3; ++c) Put(block, v + 8 * static_cast<std::size_t>(c), rgb[c]);
        return true;
      }
      std::vector<double> values;
      if (ParseNumbers(text, values) && values.size() == 3) {
        const bool inRange = std::all_of(values.begin(), values.end(), [](double c) { return c >= 0 && c <= 1; });
        if (inRange) {
          for (int c = 0; c < 3; ++c) Put(block, v + 8 * static_cast<std::size_t>(c), values[static_cast<std::size_t>(c)]);
          return true;
        }
        const bool bytes = std::all_of(values.begin(), values.end(),
                                       [](double c) { return c >= 0 && c <= 255 && c == std::trunc(c); });
        error = what + " takes #rrggbb or r,g,b with each component from 0 to 1";
        if (bytes) error += "; for 0..255 components write " + Hex(values[0] / 255, values[1] / 255, values[2] / 255);
        return false;
      }
      error = what + " takes #rrggbb or r,g,b with each component from 0 to 1 (1,1,1 is white)";
      return false;
    }
    case 6: {
      std::vector<double> values;
      if (ParseNumbers(text, values) && values.size() == 2 &&
          std::all_of(values.begin(), values.end(), [](double c) { return std::fabs(c) <= fx::kPointLimit; })) {
        Put(block, v, values[0]);
        Put(block, v + 8, values[1]);
        return true;
      }
      error = what + " takes x,y: fractions of the image from its centre (0,0 the centre, -0.5,-0.5 the top left)";
      return false;
    }
    case 10:
      if (text.size() > fx::kMaxImageFileName || text.find('\0') != std::string::npos) {
        error = what + " takes a file name of at most " + std::to_string(fx::kMaxImageFileName) + " characters";
        return false;
      }
      std::memset(block.data() + v, 0, 64);
      std::memcpy(block.data() + v, text.data(), text.size());
      return true;
    default:
      error = what + " (" + KindName(p.kind) + ") takes no value";
      return false;
  }
}

std::string ShownValue(const EffectParams& params, const ParamInfo& p, const std::vector<uint8_t>& block) {
  const std::size_t v = p.offset + kValue;
  switch (p.kind) {
    case 2:
      return Shown(Get<double>(block, v), p.wholeNumbers);
    case 3:
      return block.size() > v && block[v] ? "on" : "off";
    case 4: {
      const int32_t i = Get<int32_t>(block, v);
      if (params.known && i >= 0 && static_cast<std::size_t>(i) < p.choices.size())
        return std::to_string(i) + " " + p.choices[static_cast<std::size_t>(i)];
      return std::to_string(i);
    }
    case 5:
      return Hex(Get<double>(block, v), Get<double>(block, v + 8), Get<double>(block, v + 16));
    case 6:
      return Shown(Get<double>(block, v), false) + "," + Shown(Get<double>(block, v + 8), false);
    case 10:
      return FormatValue(block, {p.kind, p.key, p.offset});
    default:
      return "";
  }
}

std::string ShownRange(const ParamInfo& p) {
  switch (p.kind) {
    case 2:
      return p.label.empty() ? "" : Shown(p.minimum, false) + " to " + Shown(p.maximum, false);
    case 3:
      return "on/off";
    case 4:
      return p.choices.empty() ? "index" : "0 to " + std::to_string(p.choices.size() - 1);
    case 5:
      return "#rrggbb";
    case 6:
      return "x,y";
    case 10:
      return "file name";
    default:
      return "";
  }
}

std::string JsonValue(const ParamInfo& p, const std::vector<uint8_t>& block) {
  const std::size_t v = p.offset + kValue;
  const auto number = [](double d) { return std::isfinite(d) ? Number(d) : std::string("null"); };
  switch (p.kind) {
    case 2:
      return number(Get<double>(block, v));
    case 3:
      return block.size() > v && block[v] ? "true" : "false";
    case 4:
      return std::to_string(Get<int32_t>(block, v));
    case 5:
      return "[" + number(Get<double>(block, v)) + ", " + number(Get<double>(block, v + 8)) + ", " +
             number(Get<double>(block, v + 16)) + "]";
    case 6:
      return "[" + number(Get<double>(block, v)) + ", " + number(Get<double>(block, v + 8)) + "]";
    case 10:
      return JsonString(FormatValue(block, {p.kind, p.key, p.offset}));
    default:
      return "null";
  }
}

std::vector<int32_t> FillDependents(const EffectParams& params, const std::vector<int32_t>& changed,
                                    std::vector<uint8_t>& block) {
  std::vector<int32_t> filled;
  if (!params.known) return filled;
  InstancePtr instance = MakeInstance(params.registryName);
  if (!instance || !fx::ApplySettings(*instance, block)) return filled;
  bool notified = false;
  for (int32_t i : changed) {
    if (i < 0 || static_cast<uint32_t>(i) >= instance->parameterCount) continue;
    if (!(instance->parameters[i].flags & fx::kNotify)) continue;
    instance->routines->parameterChanged(instance.get(), i);
    notified = true;
  }
  if (!notified) return filled;
  const std::vector<uint8_t> after = fx::BuildSettings(*instance);
  if (after.size() != block.size()) return filled;
  for (const ParamInfo& p : params.params)
    if (std::memcmp(after.data() + p.offset, block.data() + p.offset, fx::kSettingsRecordSize) != 0)
      filled.push_back(p.index);
  block = after;
  return filled;
}

}  // namespace standin
