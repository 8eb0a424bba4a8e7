#include "imaging/masked_blur.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "imaging/parallel.h"
#include "imaging/raster.h"
#include "imaging/separable_blur.h"

namespace {

using fx::Rect;
using fx::RasterRef;

RasterRef Random(int32_t w, int32_t h, int32_t channels, bool is16Bit, uint32_t seed, uint32_t top) {
  RasterRef r = fx::MakeRaster(w, h, channels, is16Bit ? 2 : 1);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<uint32_t> d(0, top);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w * channels; ++x) {
      if (is16Bit) r->RowAs<uint16_t>(y)[x] = static_cast<uint16_t>(d(rng));
      else r->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(d(rng));
    }
  return r;
}

// A mask whose values change slowly along rows (runs of one kernel) with
// noise on some rows (a new kernel almost every pixel).
RasterRef SmoothMask(int32_t w, int32_t h, bool is16Bit, uint32_t seed) {
  RasterRef m = fx::MakeRaster(w, h, 1, is16Bit ? 2 : 1);
  std::mt19937 rng(seed);
  const uint32_t full = is16Bit ? 32768 : 255;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint32_t v = static_cast<uint32_t>((x * 7 + y * 3) % (w + 1)) * full / static_cast<uint32_t>(w);
      if (y % 3 == 1) v = rng() % (full + 1);
      if (y % 5 == 2 && x % 4 == 0) v = 0;
      if (is16Bit) m->RowAs<uint16_t>(y)[x] = static_cast<uint16_t>(v);
      else m->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(v);
    }
  return m;
}

bool Same(const fx::Raster& a, const fx::Raster& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.Channels() != b.Channels() ||
      a.BytesPerSample() != b.BytesPerSample())
    return false;
  const std::size_t row = static_cast<std::size_t>(a.Width()) * a.Channels() * a.BytesPerSample();
  for (int32_t y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.RowAs<uint8_t>(y), b.RowAs<uint8_t>(y), row) != 0) return false;
  return true;
}

RasterRef Copy(const fx::Raster& r) {
  RasterRef c = fx::MakeRaster(r.Width(), r.Height(), r.Channels(), r.BytesPerSample());
  c->CopyRect(r, r.Bounds(), 0, 0);
  return c;
}

// The blur of the separable engine's masked mode, the reference.
RasterRef Reference(const fx::Raster& image, const Rect& rect, const fx::Raster& mask, float rx, float ry) {
  RasterRef want = Copy(image);
  fx::SeparableBlur blur;
  blur.SetRadii(rx, ry);
  blur.BlurMasked(*want, rect, mask);
  return want;
}

RasterRef Masked(const fx::Raster& image, const Rect& rect, const fx::Raster& mask, float rx, float ry) {
  RasterRef got = Copy(image);
  fx::MaskedBlur blur;
  blur.Blur(*got, rect, mask, rx, ry);
  return got;
}

struct Case {
  int32_t w, h, channels;
  float rx, ry;
  Rect rect;             // within the image
  int32_t maskW, maskH;  // a mask smaller than the image counts as 0 beyond
};

// Every case at both depths, both instruction sets and one and two
// threads: the sums, the clamping at the rect's ends, the kernels' index
// rule and the copies where the mask is 0 all agree with the reference.
TEST(MaskedGaussian, MatchesTheSeparableEnginesMaskedBlur) {
  const Case cases[] = {
      {64, 48, 4, 24.0f, 18.0f, {0, 0, 48, 64}, 64, 48},
      {64, 48, 4, 61.7f, 3.3f, {5, 3, 40, 57}, 64, 48},  // radius limited to the rect
      {50, 40, 1, 9.5f, 30.0f, {0, 0, 40, 50}, 30, 25},
      {33, 70, 3, 0.0f, 12.0f, {2, 1, 69, 31}, 33, 70},  // columns only
      {70, 20, 4, 14.0f, 0.0f, {0, 0, 20, 70}, 70, 20},  // rows only
      {40, 40, 4, 0.3f, 0.7f, {0, 0, 40, 40}, 40, 40},   // one-tap kernels
      {29, 31, 5, 200.0f, 200.0f, {0, 0, 31, 29}, 29, 31},
      {48, 36, 2, 1e9f, 7.0f, {1, 1, 35, 47}, 48, 36},
  };
  for (const bool is16Bit : {false, true})
    for (const Case& c : cases) {
      // 16-bit samples above full scale too: the 32-bit sums wrap as the
      // reference's do.
      const RasterRef image = Random(c.w, c.h, c.channels, is16Bit, 11 + c.w, is16Bit ? 65535 : 255);
      const RasterRef mask = SmoothMask(c.maskW, c.maskH, is16Bit, 7 + c.h);
      const RasterRef want = Reference(*image, c.rect, *mask, c.rx, c.ry);
      for (const int32_t level : {0, 1})
        for (const int32_t threads : {1, 2}) {
          fx::LimitMaskedBlurInstructionSet(level);
          fx::SetThreadCount(threads);
          EXPECT_TRUE(Same(*Masked(*image, c.rect, *mask, c.rx, c.ry), *want))
              << is16Bit << " " << c.w << "x" << c.h << " level " << level << " threads " << threads;
        }
    }
  fx::LimitMaskedBlurInstructionSet(1);
  fx::SetThreadCount(0);
}

// A band's output part filtered alone: inside it the samples of the whole
// blur (lines still end at the rect, the radius still limited by it), the
// rest of the rect and raster as they were.
TEST(MaskedGaussian, NeededPartGivesTheWholeBlursSamples) {
  struct Part {
    float rx, ry;
    Rect rect, needed;
  };
  const Part parts[] = {
      {30.0f, 40.0f, {0, 0, 60, 50}, {20, 0, 36, 50}},   // a band between margins
      {30.0f, 40.0f, {4, 2, 60, 50}, {0, 0, 9, 50}},     // the top band, cut by the rect
      {12.0f, 0.0f, {0, 0, 60, 50}, {50, 10, 70, 30}},   // rows only, past the bottom
      {0.0f, 25.0f, {0, 0, 60, 50}, {10, 5, 11, 45}},    // columns only, one row
      {8.0f, 8.0f, {0, 0, 60, 50}, {0, 0, 60, 50}},      // all of it
  };
  for (const bool is16Bit : {false, true})
    for (const Part& p : parts) {
      const RasterRef image = Random(50, 60, 4, is16Bit, 21, is16Bit ? 32768 : 255);
      const RasterRef mask = SmoothMask(50, 60, is16Bit, 4);
      const RasterRef whole = Reference(*image, p.rect, *mask, p.rx, p.ry);
      RasterRef got = Copy(*image);
      fx::MaskedBlur blur;
      blur.Blur(*got, p.rect, *mask, p.rx, p.ry, p.needed);
      const Rect inside = p.needed.Intersect(p.rect);
      const int32_t bytes = image->BytesPerSample() * 4;
      int32_t wrong = 0;
      for (int32_t y = 0; y < 60; ++y)
        for (int32_t x = 0; x < 50; ++x) {
          const fx::Raster& want = inside.Contains(x, y) ? *whole : *image;
          wrong += std::memcmp(got->RowAs<uint8_t>(y) + x * bytes, want.RowAs<uint8_t>(y) + x * bytes, bytes) != 0;
        }
      EXPECT_EQ(wrong, 0) << is16Bit << " needed " << p.needed.top << "," << p.needed.left;
    }
}

// Every 8-bit sample against every 8-bit mask value, and a dense sweep of
// 16-bit ones, through the vector and the plain loops.
TEST(MaskedGaussian, EveryInstructionSetAgreesOverTheSampleRange) {
  for (const bool is16Bit : {false, true}) {
    const int32_t values = is16Bit ? 65536 : 256;
    const int32_t step = is16Bit ? 37 : 1;
    // Row y holds samples (x + y) step, wrapping; the mask runs through
    // every value along each row, in runs of 3 pixels.
    const int32_t w = 3 * (is16Bit ? 32769 / 41 + 1 : 256), h = 24;
    RasterRef image = fx::MakeRaster(w, h, 4, is16Bit ? 2 : 1);
    RasterRef mask = fx::MakeRaster(w, h, 1, is16Bit ? 2 : 1);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const uint32_t m = static_cast<uint32_t>(is16Bit ? std::min(x / 3 * 41 + y, 32768) : x / 3);
        for (int32_t c = 0; c < 4; ++c) {
          const uint32_t v = static_cast<uint32_t>(((x * 4 + c + y * 5) * step) % values);
          if (is16Bit) image->RowAs<uint16_t>(y)[4 * x + c] = static_cast<uint16_t>(v);
          else image->RowAs<uint8_t>(y)[4 * x + c] = static_cast<uint8_t>(v);
        }
        if (is16Bit) mask->RowAs<uint16_t>(y)[x] = static_cast<uint16_t>(m);
        else mask->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(m);
      }
    for (const float r : {2.0f, 9.0f, 40.0f}) {
      fx::LimitMaskedBlurInstructionSet(0);
      const RasterRef plain = Masked(*image, image->Bounds(), *mask, r, r * 0.5f);
      fx::LimitMaskedBlurInstructionSet(1);
      const RasterRef vector = Masked(*image, image->Bounds(), *mask, r, r * 0.5f);
      EXPECT_TRUE(Same(*plain, *vector)) << is16Bit << " r " << r;
      EXPECT_FALSE(Same(*plain, *image)) << is16Bit << " r " << r;
    }
  }
}

// Kernels kept from one call serve the next only while the limited radius
// and the depth stay: a blur object used at one radius, then another, then
// another depth, gives what fresh objects give.
TEST(MaskedGaussian, KeptKernelsFollowTheRadiusAndDepth) {
  fx::MaskedBlur kept;
  for (const bool is16Bit : {false, true, false})
    for (const float r : {20.0f, 6.0f, 20.0f}) {
      const RasterRef image = Random(40, 30, 4, is16Bit, 5, is16Bit ? 32768 : 255);
      const RasterRef mask = SmoothMask(40, 30, is16Bit, 9);
      RasterRef got = Copy(*image);
      kept.Blur(*got, got->Bounds(), *mask, r, r);
      EXPECT_TRUE(Same(*got, *Masked(*image, image->Bounds(), *mask, r, r))) << is16Bit << " " << r;
    }
}

TEST(MaskedGaussian, BadInput) {
  RasterRef image = Random(10, 8, 4, false, 1, 255);
  const RasterRef before = Copy(*image);
  fx::MaskedBlur blur;
  EXPECT_THROW(blur.Blur(*image, image->Bounds(), *Random(10, 8, 2, false, 2, 255), 4, 4), std::invalid_argument);
  EXPECT_THROW(blur.Blur(*image, image->Bounds(), *Random(10, 8, 1, true, 2, 255), 4, 4), std::invalid_argument);
  const RasterRef mask = Random(10, 8, 1, false, 3, 255);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  blur.Blur(*image, image->Bounds(), *mask, nan, -3);
  blur.Blur(*image, {20, 20, 30, 30}, *mask, 4, 4);
  EXPECT_TRUE(Same(*image, *before));
}

}  // namespace
