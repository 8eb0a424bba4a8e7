// Shared pieces of the benchmarks: the effects module linked in-process and
// driven through the stand-in host, and large test documents.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/document.h"
#include "host/filter_run.h"
#include "host/standin_host.h"
#include "plugin/protocol/filter_record.h"

// The module's entry points, linked into the benchmark.
#define OVRA_ENTRY(entry, registryName, registryKey, aboutFlag) \
  extern "C" void PIMAIN_##entry(int32_t, void*, intptr_t*, int16_t*);
#include "plugin/entry_table.inc"
#undef OVRA_ENTRY

namespace bench {

// A photograph-like document: smooth gradients with some texture.
inline standin::Document Scene(int32_t width, int32_t height, int32_t depth) {
  standin::Document d = standin::Document::Make(width, height, depth);
  const int32_t full = d.FullScale();
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const int32_t r = (x * 255 / width + ((x * 7 + y * 3) & 15)) & 255;
      const int32_t g = (y * 255 / height + ((x * 5 ^ y * 11) & 31)) & 255;
      const int32_t b = ((x + y) * 255 / (width + height)) & 255;
      d.At(x, y, 0) = static_cast<uint16_t>(r * full / 255);
      d.At(x, y, 1) = static_cast<uint16_t>(g * full / 255);
      d.At(x, y, 2) = static_cast<uint16_t>(b * full / 255);
    }
  return d;
}

// Prepares an invocation of proc: the settings block reported by the
// parameters selector, edited by `edit`, handed over as a recorded action.
template <class Edit>
void PrepareRun(standin::Host& host, PluginMainProc proc, Edit&& edit) {
  host.Call(proc, filterSelectorParameters);
  std::vector<uint8_t> block = *host.ParametersBytes();
  edit(block);
  host.SetScriptingSettings(block, plugInDialogDontDisplay);
  host.Call(proc, filterSelectorPrepare);
}

}  // namespace bench
