// The exported entry points, one per line of the entry table. Nothing else
// leaves the module.
#include "plugin/entry_call.h"

#define OVRA_EXPORT extern "C" __attribute__((visibility("default")))

#define OVRA_ENTRY(entry, registryName, registryKey, aboutFlag)                                  \
  OVRA_EXPORT void PIMAIN_##entry(int32_t selector, void* paramBlock, intptr_t* data,             \
                                  int16_t* result) {                                              \
    static constexpr ps::EntryInfo kInfo{"PIMAIN_" #entry, registryName, registryKey, aboutFlag}; \
    ps::EntryPoint(kInfo, selector, paramBlock, data, result);                                    \
  }
#include "plugin/entry_table.inc"
#undef OVRA_ENTRY
