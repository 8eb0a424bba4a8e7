// The entry table as data, for the module's own checks and its tests.
#pragma once

#include "plugin/entry_call.h"

namespace ps {

inline constexpr EntryInfo kEntryTable[] = {
#define OVRA_ENTRY(entry, registryName, registryKey, aboutFlag) \
  {"PIMAIN_" #entry, registryName, registryKey, aboutFlag},
#include "plugin/entry_table.inc"
#undef OVRA_ENTRY
};

inline constexpr int kEntryCount = static_cast<int>(std::size(kEntryTable));
static_assert(kEntryCount == 77);

}  // namespace ps
