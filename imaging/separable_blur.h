// The blur every softening effect shares: a rectangle of a raster blurred in
// place, horizontally then vertically, with independent radii, as an
// iterated fractional box filter or a truncated integer Gaussian; and a
// Gaussian blur whose radius varies per pixel with a mask. 8-bit and 16-bit
// samples, one or four channels.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx {

// Integer Gaussian weights: 2 floor(s) + 1 symmetric taps and their sum.
struct GaussKernel {
  std::vector<int32_t> taps;
  uint32_t sum = 0;
  float s = 0;
};

// The integer Gaussian of index n for radius r: 2 floor(s) + 1 symmetric
// taps, s = n + ceil(r / 2) - r / 2, weights A exp(-t^2 / 2 sigma^2) x 65535
// rounded, capped at 131071.
std::unique_ptr<GaussKernel> BuildGaussKernel(int32_t n, float r);

class SeparableBlur {
 public:
  enum Mode : int32_t { kBox = 0, kGaussian = 1 };

  SeparableBlur();
  ~SeparableBlur();
  SeparableBlur(const SeparableBlur&) = delete;
  SeparableBlur& operator=(const SeparableBlur&) = delete;

  // Switching mode re-applies the stored radii in the new mode. Any mode
  // other than kGaussian is the box.
  void SetMode(int32_t mode);
  // Extra box passes: the box mode runs passes + 1 times in each direction.
  // Kept within 0..255.
  void SetPasses(int32_t passes);
  // Stores the radii (x 3 in Gaussian mode); false when nothing changed, in
  // which case the kernel caches are kept. NaN and negative radii count as
  // 0; radii are capped at 1e9.
  bool SetRadii(float rx, float ry);

  // Blurs rect of raster in place with the stored settings. The rect is
  // clipped to the raster.
  void Blur(Raster& raster, const Rect& rect);
  // Gaussian blur of rect in place, the radius at each pixel scaled by the
  // one-channel mask (same depth, same coordinates as raster; positions
  // outside the mask count as 0). Raises std::invalid_argument for a mask of
  // another depth or with more than one channel.
  //
  // Mask value m gives the radius g = r m / full (r the stored radius
  // limited to the rect) and the kernel of index n = max(1, trunc(g / 2)).
  // All values sharing an n share one kernel, built from the g of the
  // largest such m: a pixel's result depends on its own mask value and the
  // radius alone, never on the order pixels are met in, on bands or on
  // earlier blurs. These kernels are kept apart from Blur's, per direction,
  // until the limited radius or the depth changes.
  void BlurMasked(Raster& raster, const Rect& rect, const Raster& mask);

  int32_t Mode() const { return mode_; }
  int32_t Passes() const { return passes_; }
  float RadiusX() const { return radiusX_; }
  float RadiusY() const { return radiusY_; }

  // How far, in pixels, Blur (and BlurMasked) with the stored settings
  // reaches from a pixel horizontally and vertically: what a band needs
  // around it so that banded output equals whole-image output. Beyond the
  // taps themselves it keeps the lines of a band long enough that the
  // box's half-width limit and the Gaussian's radius limit act as they do
  // on the whole image.
  int32_t ReachX() const;
  int32_t ReachY() const;

 private:
  float radiusX_ = 0;
  float radiusY_ = 0;
  int32_t passes_ = 0;
  int32_t mode_ = kBox;
  // Work areas of Blur (line blocks and column strips), one for each part
  // a pass is split into among the worker threads; they only grow.
  std::vector<std::vector<uint8_t>> workAreas_;
  // Kernels by index n; slots are added on demand and emptied when the
  // radius of their direction changes.
  std::vector<std::unique_ptr<GaussKernel>> kernelsX_;
  std::vector<std::unique_ptr<GaussKernel>> kernelsY_;
  // The masked blur's kernels of one direction: for each index n, the
  // radius its kernel is built from and the kernel once built.
  struct MaskedKernels {
    float radius = -1;  // the limited radius they belong to; -1 none
    uint32_t depth = 0;  // bytes per sample
    std::vector<float> radiusOf;
    std::vector<std::unique_ptr<GaussKernel>> kernels;
  };
  MaskedKernels maskedX_;
  MaskedKernels maskedY_;
  RasterRef maskedTemp_;
};

// For tests: the most the blur may use of the processor's vector
// instructions (0 the baseline set, 1 AVX2, 2 AVX-512, the default); every
// level gives the same samples.
void LimitBlurInstructionSet(int32_t level);

}  // namespace fx
