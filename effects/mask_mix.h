// Mixing two images through a one-channel mask, the way the selective
// effects put a processed image back over the original only where selected.
#pragma once

#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx {

// Over rect of four-channel rasters of one depth (same coordinates; the
// destination may be first or second), per pixel with mask value m:
//   8-bit:  d = m x trunc(amount x 255) / 255 (integer division),
//   16-bit: d = (trunc(amount x 32768) x m) >> 15.
// d = 0 gives the first pixel; d = full scale gives the second pixel's
// colour with the first pixel's alpha; otherwise every sample, alpha
// included, is (second x d + first x (L - d)) / L.
void MaskMix(const Raster& first, const Raster& second, const Raster& mask, Raster& destination,
             const Rect& rect, double amount);

}  // namespace fx
