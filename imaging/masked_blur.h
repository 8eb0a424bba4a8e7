// A Gaussian blur whose radius varies per pixel with a one-channel mask, in
// place over a rectangle: rows first, then columns. 8-bit and 16-bit
// samples, any channel count.
//
// Mask value m gives the radius g = r m / full (r the radius of the
// direction limited to the rect) and the kernel of index
// n = max(1, trunc(g / 2)); m = 0 leaves the pixel as it is. All values
// sharing an n share one kernel, the integer Gaussian SeparableBlur builds
// for index n from the g of the largest such m, so a pixel's result depends
// on its own mask value and the radius alone, never on the order pixels are
// met in, on bands or on threads. A sample is sum(tap x sample) / sum(taps)
// in 32-bit unsigned arithmetic, the line's samples clamped at the rect's
// ends.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/raster.h"
#include "imaging/rect.h"
#include "imaging/separable_blur.h"

namespace fx {

class MaskedBlur {
 public:
  MaskedBlur();
  ~MaskedBlur();
  MaskedBlur(const MaskedBlur&) = delete;
  MaskedBlur& operator=(const MaskedBlur&) = delete;

  // Blurs rect (clipped to the raster) with radii rx and ry in pixels, as
  // a SeparableBlur stores them (its RadiusX and RadiusY); NaN and negative
  // radii blur nothing. The mask has the raster's depth and coordinates;
  // positions outside it count as 0. Raises std::invalid_argument for a
  // mask of another depth or with more than one channel. Kernels are kept
  // per direction until the limited radius or the depth changes.
  void Blur(Raster& raster, const Rect& rect, const Raster& mask, float rx, float ry);
  // The same blur with only the samples of `needed` (within rect) filtered,
  // the rest of the rect left as it is: lines still end at the rect and the
  // radii are still limited by it, so those samples are the ones the whole
  // blur gives. A band renders its margins for the blur to read from, but
  // only its output part needs filtering.
  void Blur(Raster& raster, const Rect& rect, const Raster& mask, float rx, float ry, const Rect& needed);

  // The kernels of one direction: for each mask value its kernel index,
  // for each index the radius its kernel is built from and the kernel.
  struct Kernels {
    float radius = -1;   // the limited radius they belong to; -1 none
    uint32_t depth = 0;  // bytes per sample
    std::vector<uint32_t> indexOf;
    std::vector<float> radiusOf;
    std::vector<std::unique_ptr<GaussKernel>> kernels;
  };

 private:
  Kernels x_;
  Kernels y_;
  RasterRef temp_;
};

// For tests: the most the masked blur may use of the processor's vector
// instructions (0 the baseline set, 1 AVX2, the default); every level gives
// the same samples.
void LimitMaskedBlurInstructionSet(int32_t level);

}  // namespace fx
