// The filters of the module as a photographer names them: entry points,
// display names and families, found case-insensitively, with suggestions
// for a name that matches none.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/module_loader.h"

namespace standin {

struct FilterName {
  std::string entry;         // "PIMAIN_BleachBypass"
  std::string registryName;  // "BleachBypass"
  std::string displayName;   // "Ovra Bleach Bypass"
  std::string family;        // "Colour and tone"
};

// Every entry point of the module's entry table, in its order.
const std::vector<FilterName>& KnownFilters();

// The entry point a name means: an entry point with or without its prefix, a
// display name with or without "Ovra " or a trailing "...", all compared
// case-insensitively, and entry points the module exports that the table
// does not know. Empty when nothing matches; `suggestions` then holds the
// nearest names (at most three).
std::string ResolveFilter(const Module& module, const std::string& name, std::vector<std::string>& suggestions);

// The nearest of `candidates` to `word` by edit distance, case-insensitive,
// closest first, at most `limit`; only those close enough to be a slip.
std::vector<std::string> Nearest(const std::string& word, const std::vector<std::string>& candidates,
                                 std::size_t limit = 3);
// The same over (text matched, name shown) pairs; a name shown for several
// texts counts by its nearest one.
std::vector<std::string> NearestOf(const std::string& word,
                                   const std::vector<std::pair<std::string, std::string>>& candidates,
                                   std::size_t limit = 3);

std::string Lower(std::string s);

}  // namespace standin
