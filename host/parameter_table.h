// What ovra-host knows of an effect's parameters beyond the settings block:
// labels, limits, defaults, list choices and enabled/hidden state, taken from
// the effect tables the module is built from, and the validation of values
// typed on the command line against them.
//
// The module's settings block stays the authority: a table is used only when
// its records match the block the module reported (effect name, count, kinds
// and keys); otherwise every parameter is described by its kind alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace standin {

struct ParamInfo {
  int32_t index = 0;
  int32_t kind = 0;
  std::string key;
  std::string group;  // key of the innermost enclosing group, empty at the top level
  std::size_t offset = 0;  // of the record in the block
  // From the table (known only when the table matched the block).
  std::string label;
  uint32_t flags = 0;
  bool enabled = true;
  bool hidden = false;
  double minimum = 0, maximum = 0;
  int32_t decimals = 1;
  bool wholeNumbers = false;
  std::vector<std::string> choices;
};

struct EffectParams {
  std::string entry;         // "PIMAIN_Grain"
  std::string registryName;  // "Grain"
  std::string effectName;    // "Ovra Grain"
  bool known = false;        // the table matched the block
  std::vector<ParamInfo> params;
  std::vector<uint8_t> defaults;  // the table's default block, when known
};

// The parameters of `block`, the settings the module reported for `entry`.
// False with a message when the block cannot be read.
bool DescribeParams(const std::string& entry, const std::vector<uint8_t>& block, EffectParams& out,
                    std::string& error);

// The name of a kind code ("range", "list", ...).
const char* KindName(int32_t kind);

// The record a command-line key addresses: "key" (unique, or unique without
// regard to case), "group/key", "#index", or a label ("Presets"). -1 with a
// message naming the candidates, or suggesting near keys.
int32_t FindParam(const EffectParams& params, const std::string& key, std::string& error);

// Sets record `index` of `block` from text, checked against its kind and,
// when known, its limits and choices. False with a message naming the key,
// the value and what is allowed.
bool SetParam(const EffectParams& params, int32_t index, const std::string& text, std::vector<uint8_t>& block,
              std::string& error);

// A record's value as the dialog shows it (numbers to their shown
// precision, list choices by name, colours as #rrggbb).
std::string ShownValue(const EffectParams& params, const ParamInfo& p, const std::vector<uint8_t>& block);
// The limits a record accepts, as text ("0 to 100"); empty when none.
std::string ShownRange(const ParamInfo& p);
// A record as a JSON value of its exact stored value.
std::string JsonValue(const ParamInfo& p, const std::vector<uint8_t>& block);

// The parameters the effect's own parameter-changed routine fills when the
// records `changed` take their values in `block`, as the dialog does when
// the user picks them (a grain stock, a light source): `block` receives the
// filled values, and the indexes of the records they changed are returned.
// Only records whose table asks for the notification take part; nothing
// happens when the table is not known.
std::vector<int32_t> FillDependents(const EffectParams& params, const std::vector<int32_t>& changed,
                                    std::vector<uint8_t>& block);

std::string JsonString(const std::string& s);

}  // namespace standin
