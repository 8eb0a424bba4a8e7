// What the graduated and spot filters share beyond the mask groups: their
// view list and the lookup of a parameter's row by key.
#pragma once

#include <span>
#include <string_view>

#include "framework/parameter.h"

namespace fx::grads {

// Every member's "view": the output, its mask, the source.
enum View : int32_t { kOutput = 0, kMaskView = 1, kOriginal = 2 };

// The row of `key` in a table, searching from row `from` (for a key that a
// group shares with one of its rows); a compile-time error when absent.
constexpr int RowOf(std::span<const ParamSpec> table, std::string_view key, int from = 0) {
  for (std::size_t i = static_cast<std::size_t>(from); i < table.size(); ++i)
    if (table[i].key != nullptr && key == table[i].key) return static_cast<int>(i);
  throw "no such key in the parameter table";
}

}  // namespace fx::grads
