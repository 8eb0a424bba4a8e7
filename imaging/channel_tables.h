// Per-channel look-up tables over a rectangle of a four-channel raster, on
// the workers, with an AVX2 loop chosen at run time where the processor has
// it. The vector loops give exactly the samples of the plain loops.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "imaging/rect.h"

namespace fx {

class Raster;

// R, G and B tables of Depth<S>::kTableSize entries each.
template <class S>
using ChannelTables = std::array<std::span<const S>, 3>;

// In place over rect (clipped to the raster): sample c becomes
// tables[c][min(sample, L)] (a 16-bit sample above full scale reads the
// table's last entry); alpha is kept. std::invalid_argument for a raster
// that is not four-channel or a table of another size.
void ApplyChannelTables(Raster& raster, const Rect& rect, const ChannelTables<uint8_t>& tables);
void ApplyChannelTables(Raster& raster, const Rect& rect, const ChannelTables<uint16_t>& tables);

// Whether the per-pixel colour loops may use AVX2: the processor has it and
// tests have not limited them to the baseline set.
bool ColourLoopsUseAvx2();
// For tests: 0 the baseline instruction set, 1 (the default) AVX2 where the
// processor has it. Every level gives the same samples.
void LimitColourLoopInstructionSet(int32_t level);

}  // namespace fx
