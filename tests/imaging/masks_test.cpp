#include "imaging/masks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "effects/param_groups.h"
#include "imaging/raster.h"

namespace {

using fx::GradDirection;
using fx::MakeRaster;
using fx::Origin;
using fx::PixelPoint;
using fx::Quad;
using fx::RasterRef;
using fx::Rect;

int32_t At(const fx::Raster& r, int32_t x, int32_t y, int32_t c = 0) {
  const int32_t i = x * r.Channels() + c;
  return r.Is16Bit() ? r.RowAs<uint16_t>(y)[i] : r.RowAs<uint8_t>(y)[i];
}

void Set(fx::Raster& r, int32_t x, int32_t y, int32_t c, int32_t v) {
  const int32_t i = x * r.Channels() + c;
  if (r.Is16Bit())
    r.RowAs<uint16_t>(y)[i] = static_cast<uint16_t>(v);
  else
    r.RowAs<uint8_t>(y)[i] = static_cast<uint8_t>(v);
}

RasterRef Mask(int32_t w, int32_t h, bool is16Bit, int32_t fill = 0) {
  RasterRef m = MakeRaster(w, h, 1, is16Bit ? 2 : 1);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) Set(*m, x, y, 0, fill);
  return m;
}

bool SameBytes(const fx::Raster& a, const fx::Raster& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelBytes() != b.PixelBytes()) return false;
  for (int32_t y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.Row(y), b.Row(y), static_cast<std::size_t>(a.Width()) * a.PixelBytes()) != 0)
      return false;
  return true;
}

// ------------------------------------------------------------ gradient mask

TEST(GradientMask, DefaultCornersRampFromFullToZeroAndMirror) {
  // Rows sample v = i / H with no half-pixel offset: the first row is full,
  // the ramp ends one row short of 0. Bottom-to-top is the mirror about the
  // quadrilateral's centre line: its row i equals top-to-bottom's row H - i.
  const int32_t w = 5, h = 8;
  const Quad corners = fx::ImageQuad(w, h);
  const int32_t topDown8[] = {255, 223, 191, 159, 127, 95, 63, 31};
  const int32_t bottomUp8[] = {0, 31, 63, 95, 127, 159, 191, 223};
  for (bool is16 : {false, true}) {
    RasterRef down = Mask(w, h, is16), up = Mask(w, h, is16);
    ASSERT_TRUE(fx::MakeGradientMask(*down, down->Bounds(), {}, corners, 1.0, GradDirection::kTopToBottom));
    ASSERT_TRUE(fx::MakeGradientMask(*up, up->Bounds(), {}, corners, 1.0, GradDirection::kBottomToTop));
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        EXPECT_EQ(At(*down, x, y), is16 ? 32768 - 4096 * y : topDown8[y]) << x << ", " << y;
        EXPECT_EQ(At(*up, x, y), is16 ? 4096 * y : bottomUp8[y]) << x << ", " << y;
        EXPECT_EQ(At(*up, x, y), y == 0 ? 0 : At(*down, x, h - y)) << x << ", " << y;
      }
  }
  // On a tall image the last row does reach 0.
  RasterRef tall = Mask(2, 400, false);
  fx::MakeGradientMask(*tall, tall->Bounds(), {}, fx::ImageQuad(2, 400), 1.0, GradDirection::kTopToBottom);
  EXPECT_EQ(At(*tall, 1, 0), 255);
  EXPECT_EQ(At(*tall, 1, 399), 0);
}

TEST(GradientMask, HorizontalDirectionsRunAlongTheRows) {
  const int32_t leftToRight[] = {255, 223, 191, 159, 127, 95, 63, 31};
  const int32_t rightToLeft[] = {0, 31, 63, 95, 127, 159, 191, 223};
  RasterRef lr = Mask(8, 3, false), rl = Mask(8, 3, false);
  fx::MakeGradientMask(*lr, lr->Bounds(), {}, fx::ImageQuad(8, 3), 1.0, GradDirection::kLeftToRight);
  fx::MakeGradientMask(*rl, rl->Bounds(), {}, fx::ImageQuad(8, 3), 1.0, GradDirection::kRightToLeft);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 8; ++x) {
      EXPECT_EQ(At(*lr, x, y), leftToRight[x]);
      EXPECT_EQ(At(*rl, x, y), rightToLeft[x]);
    }
}

TEST(GradientMask, SizeCompressesOrWidensTheTransition) {
  // Size 50: u' = 1.5 u - 0.25, so the outer quarters saturate; Size 199
  // spreads the ramp far beyond the quadrilateral.
  RasterRef m = Mask(1, 8, false);
  fx::MakeGradientMask(*m, m->Bounds(), {}, fx::ImageQuad(1, 8), 0.5, GradDirection::kTopToBottom);
  const int32_t half[] = {255, 255, 223, 175, 127, 79, 31, 0};
  for (int32_t y = 0; y < 8; ++y) EXPECT_EQ(At(*m, 0, y), half[y]) << y;

  fx::MakeGradientMask(*m, m->Bounds(), {}, fx::ImageQuad(1, 8), 1.99, GradDirection::kTopToBottom);
  for (int32_t y = 0; y < 8; ++y) {
    EXPECT_GT(At(*m, 0, y), 122) << y;
    EXPECT_LT(At(*m, 0, y), 133) << y;
  }
}

TEST(GradientMask, FollowsAProjectiveQuadrilateralAndKeepsTheEndsOutside) {
  // A trapezoid narrower at the top, inside a larger mask: full along the
  // top edge, the ends of the ramp held above and below it.
  const Quad q{PixelPoint{6, 2}, {10, 2}, {14, 10}, {2, 10}};
  RasterRef m = Mask(16, 14, false, 9);
  ASSERT_TRUE(fx::MakeGradientMask(*m, m->Bounds(), {}, q, 1.0, GradDirection::kTopToBottom));
  for (int32_t x = 0; x < 16; ++x) {
    EXPECT_EQ(At(*m, x, 0), 255) << x;  // above the quadrilateral
    EXPECT_EQ(At(*m, x, 2), 255) << x;  // its top edge
    EXPECT_EQ(At(*m, x, 13), 0) << x;   // below it
  }
  EXPECT_EQ(At(*m, 8, 10), 0);
  // Down the middle column the ramp falls monotonically, faster than linear
  // near the narrow top (projective foreshortening).
  for (int32_t y = 3; y <= 10; ++y) EXPECT_LE(At(*m, 8, y), At(*m, 8, y - 1)) << y;
  EXPECT_LT(At(*m, 8, 6), 127);
}

TEST(GradientMask, DegenerateCornersLeaveTheMaskAlone) {
  RasterRef m = Mask(4, 4, true, 0);
  const Quad line{PixelPoint{0, 0}, {2, 2}, {4, 4}, {0, 4}};
  EXPECT_FALSE(fx::MakeGradientMask(*m, m->Bounds(), {}, line, 1.0, GradDirection::kTopToBottom));
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) ASSERT_EQ(At(*m, x, y), 0);
  RasterRef colour = MakeRaster(4, 4, 4, 1);
  EXPECT_THROW(fx::MakeGradientMask(*colour, colour->Bounds(), {}, fx::ImageQuad(4, 4), 1.0,
                                    GradDirection::kTopToBottom),
               std::invalid_argument);
}

TEST(Gradient, NSamplesInOneOrFourChannels) {
  // Strip: 0, full, 0 over eight rows; sy = v x 2.
  RasterRef strip = Mask(2, 8, false);
  const double stripSamples[] = {0.0, 1.0, 0.0};
  ASSERT_TRUE(fx::MakeGradient(*strip, strip->Bounds(), {}, fx::ImageQuad(2, 8), 1.0,
                               GradDirection::kTopToBottom, stripSamples));
  const int32_t expected[] = {0, 63, 127, 191, 255, 191, 127, 63};
  for (int32_t y = 0; y < 8; ++y) EXPECT_EQ(At(*strip, 1, y), expected[y]) << y;

  // Two colour samples with opacity, left to right, stored as trunc(v x full).
  const double colours[] = {1.0, 0.5, 0.0, 1.0, /**/ 0.0, 0.0, 1.0, 0.5};
  RasterRef c8 = MakeRaster(4, 1, 4, 1), c16 = MakeRaster(4, 1, 4, 2);
  ASSERT_TRUE(fx::MakeGradient(*c8, c8->Bounds(), {}, fx::ImageQuad(4, 1), 1.0, GradDirection::kLeftToRight,
                               colours));
  ASSERT_TRUE(fx::MakeGradient(*c16, c16->Bounds(), {}, fx::ImageQuad(4, 1), 1.0, GradDirection::kRightToLeft,
                               colours));
  const int32_t first8[] = {255, 127, 0, 255}, middle8[] = {127, 63, 127, 191};
  const int32_t first16[] = {0, 0, 32768, 16384}, middle16[] = {16384, 8192, 16384, 24576};
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(At(*c8, 0, 0, c), first8[c]) << c;
    EXPECT_EQ(At(*c8, 2, 0, c), middle8[c]) << c;
    EXPECT_EQ(At(*c16, 0, 0, c), first16[c]) << c;  // reversed: the second sample first
    EXPECT_EQ(At(*c16, 2, 0, c), middle16[c]) << c;
  }
  // Fractions outside 0..1 are clamped; no samples draws nothing.
  const double wild[] = {-3.0, std::numeric_limits<double>::quiet_NaN(), 7.0};
  RasterRef w = Mask(1, 4, false, 5);
  ASSERT_TRUE(
      fx::MakeGradient(*w, w->Bounds(), {}, fx::ImageQuad(1, 4), 1.0, GradDirection::kTopToBottom, wild));
  EXPECT_EQ(At(*w, 0, 0), 0);
  EXPECT_EQ(At(*w, 0, 3), 127);  // ramp 0, 0, 255: sy = 1.5 half-way to 255
  EXPECT_FALSE(
      fx::MakeGradient(*w, w->Bounds(), {}, fx::ImageQuad(1, 4), 1.0, GradDirection::kTopToBottom, {}));
  EXPECT_EQ(fx::GradDirectionFromIndex(7), GradDirection::kTopToBottom);
  EXPECT_EQ(fx::GradDirectionFromIndex(3), GradDirection::kRightToLeft);
}

// ------------------------------------------------------------ spot mask

// The spot of the settings on a 64 x 48 image (S = 48, half = 24) centred
// at (32, 24).
fx::SpotShape Spot(double aspect, double radius, double falloffRadius, double falloff) {
  fx::SpotSettings s;
  s.aspect = aspect;
  s.radius = radius;
  s.falloffRadius = falloffRadius;
  s.falloff = falloff;
  return s.Shape(64, 48);
}

TEST(SpotMask, CubicFalloffFromTheClearCentre) {
  struct Case {
    double aspect, radius, falloffRadius, falloff;
    int32_t x, y;
    int32_t expected8, expected16;
  };
  const Case cases[] = {
      {100, 0, 100, 0, 32, 24, 0, 0},          // the centre is clear
      {100, 0, 100, 0, 32, 12, 31, 4096},      // half-way: 0.5^3
      {100, 0, 100, 0, 20, 24, 31, 4096},      // half-way horizontally
      {100, 0, 100, 0, 32, 0, 255, 32768},     // at half the smaller side
      {100, 0, 100, 0, 0, 0, 255, 32768},      // beyond
      {100, 0, 100, 100, 32, 12, 223, 28672},  // Falloff 100: 1 - 0.5^3
      {200, 0, 100, 0, 20, 24, 3, 512},        // Aspect 200: a quarter of the way horizontally
      {200, 0, 100, 0, 8, 24, 31, 4096},       // ... so twice as far for the same value
      {200, 0, 100, 0, 32, 12, 31, 4096},      // vertically unchanged
      {100, 50, 0, 0, 32, 13, 0, 0},           // hard edge: inside the inner radius
      {100, 50, 0, 0, 32, 12, 255, 32768},     // ... at it
      {100, 25, 50, 0, 32, 12, 31, 4096},      // inner 0.25, outer 0.75: half-way at 0.5
  };
  for (bool is16 : {false, true}) {
    RasterRef m = Mask(64, 48, is16, 7);
    for (const Case& c : cases) {
      fx::MakeSpotMask(*m, m->Bounds(), {}, Spot(c.aspect, c.radius, c.falloffRadius, c.falloff));
      EXPECT_EQ(At(*m, c.x, c.y), is16 ? c.expected16 : c.expected8)
          << c.aspect << " " << c.radius << " " << c.falloffRadius << " " << c.falloff << " at " << c.x
          << ", " << c.y;
    }
  }
}

TEST(SpotMask, SettingsMapToTheShape) {
  fx::SpotSettings s;
  s.position = {0.25, -0.5};
  s.aspect = 50;
  s.radius = 30;
  s.falloffRadius = 20;
  s.falloff = 40;
  const fx::SpotShape shape = s.Shape(101, 60);
  EXPECT_EQ(shape.centreX, 75);  // trunc(0.75 x 101)
  EXPECT_EQ(shape.centreY, 0);
  EXPECT_EQ(shape.side, 60);
  EXPECT_DOUBLE_EQ(shape.inner, 0.3);
  EXPECT_DOUBLE_EQ(shape.outer, 0.5);
  EXPECT_DOUBLE_EQ(shape.falloff, 0.4);
  EXPECT_DOUBLE_EQ(shape.horizontalFactor, 2.0);
  // A hostile shape (no image, zero aspect) gives samples, not undefined behaviour.
  fx::SpotShape bad;
  bad.horizontalFactor = std::numeric_limits<double>::infinity();
  bad.outer = std::numeric_limits<double>::quiet_NaN();
  RasterRef m = Mask(3, 2, false, 7);
  fx::MakeSpotMask(*m, m->Bounds(), {}, bad);
  for (int32_t x = 0; x < 3; ++x) EXPECT_LE(At(*m, x, 1), 255);
}

// ------------------------------------------------------------ noise mask

TEST(NoiseMask, ReferenceNoise) {
  // The reference implementation's published value, and 0 on the lattice.
  EXPECT_DOUBLE_EQ(fx::ImprovedNoise(3.14, 42, 7), 0.13691995878400012);
  for (double p : {0.0, 1.0, 17.0, -5.0, 300.0}) EXPECT_EQ(fx::ImprovedNoise(p, 2 * p, 0), 0.0) << p;
  // Period 256 in every direction.
  EXPECT_EQ(fx::ImprovedNoise(3.25, 7.75, 0.5), fx::ImprovedNoise(259.25, -248.25, 256.5));
  EXPECT_EQ(fx::ImprovedNoise(std::numeric_limits<double>::infinity(), 0, 0), 0.0);
  EXPECT_TRUE(std::isfinite(fx::ImprovedNoise(1e300, -1e300, 0)));
}

TEST(NoiseMask, ValuesAndScaleInvariance) {
  for (bool is16 : {false, true}) {
    const int32_t full = is16 ? 32768 : 255;
    RasterRef m = Mask(9, 7, is16);
    fx::MakeNoiseMask(*m, m->Bounds(), {}, 0.0, 0.7, 1.0, 1.0);  // n = 0: full everywhere
    for (int32_t y = 0; y < 7; ++y)
      for (int32_t x = 0; x < 9; ++x) ASSERT_EQ(At(*m, x, y), full);
    fx::MakeNoiseMask(*m, m->Bounds(), {}, 0.5, 0.0, 1.0, 1.0);  // d = 0: (1 - n) full
    EXPECT_EQ(At(*m, 4, 3), is16 ? 16384 : 127);
    // At pixel (x, y) of a half-scale render the pattern of (2x, 2y) of the
    // full-scale one; every whole-image position is (j + origin).
    RasterRef half = Mask(9, 7, is16), fullScale = Mask(40, 30, is16);
    fx::MakeNoiseMask(*half, half->Bounds(), Origin{3, 5}, 0.8, 0.9, 0.5, 0.5);
    fx::MakeNoiseMask(*fullScale, fullScale->Bounds(), {}, 0.8, 0.9, 1.0, 1.0);
    std::set<int32_t> values;
    for (int32_t y = 0; y < 7; ++y)
      for (int32_t x = 0; x < 9; ++x) {
        ASSERT_EQ(At(*half, x, y), At(*fullScale, 2 * (x + 3), 2 * (y + 5))) << x << ", " << y;
        values.insert(At(*half, x, y));
      }
    EXPECT_GT(values.size(), 20u);  // a pattern, not a constant
  }
}

TEST(NoiseMask, MultiplyMask) {
  RasterRef m8 = Mask(2, 1, false, 200), n8 = Mask(2, 1, false, 128);
  fx::MultiplyMask(*m8, *n8, m8->Bounds());
  EXPECT_EQ(At(*m8, 0, 0), 100);  // 200 x 128 / 255
  RasterRef m16 = Mask(2, 1, true, 32768), n16 = Mask(2, 1, true, 16385);
  fx::MultiplyMask(*m16, *n16, Rect{0, 1, 1, 2});
  EXPECT_EQ(At(*m16, 0, 0), 32768);  // outside the rect
  EXPECT_EQ(At(*m16, 1, 0), 16385);
  EXPECT_THROW(fx::MultiplyMask(*m8, *n16, m8->Bounds()), std::invalid_argument);
}

TEST(Masks, BuiltForAnAreaMatchTheWholeImage) {
  // A band's mask, placed by origin, equals the same rows of the whole mask.
  const Quad q{PixelPoint{3.5, -2}, {40, 4}, {33, 31}, {-1, 27}};
  const fx::SpotShape spot = Spot(150, 10, 80, 30);
  using Builder = void (*)(fx::Raster&, const Rect&, Origin, const Quad&, const fx::SpotShape&);
  const Builder builders[] = {
      [](fx::Raster& m, const Rect& r, Origin o, const Quad& q, const fx::SpotShape&) {
        fx::MakeGradientMask(m, r, o, q, 0.8, GradDirection::kRightToLeft);
      },
      [](fx::Raster& m, const Rect& r, Origin o, const Quad&, const fx::SpotShape& s) {
        fx::MakeSpotMask(m, r, o, s);
      },
      [](fx::Raster& m, const Rect& r, Origin o, const Quad&, const fx::SpotShape&) {
        fx::MakeNoiseMask(m, r, o, 0.6, 0.5, 0.75, 0.75);
      },
  };
  for (bool is16 : {false, true})
    for (Builder build : builders) {
      RasterRef whole = Mask(41, 29, is16);
      build(*whole, whole->Bounds(), {}, q, spot);
      for (int32_t top = 0; top < 29; top += 6) {
        const int32_t rows = std::min(6, 29 - top);
        RasterRef band = Mask(41, rows, is16);
        build(*band, band->Bounds(), Origin{0, top}, q, spot);
        for (int32_t y = 0; y < rows; ++y)
          for (int32_t x = 0; x < 41; ++x)
            ASSERT_EQ(At(*band, x, y), At(*whole, x, top + y)) << x << ", " << top + y;
      }
    }
}

// ------------------------------------------------------------ applying masks

// A 3 x 2 fixture: first, second and a mask with 0, partial and full samples.
struct BlendFixture {
  RasterRef first, second, mask, destination;
  explicit BlendFixture(bool is16) {
    const int32_t k = is16 ? 128 : 1;
    first = MakeRaster(3, 2, 4, is16 ? 2 : 1);
    second = MakeRaster(3, 2, 4, is16 ? 2 : 1);
    destination = MakeRaster(3, 2, 4, is16 ? 2 : 1);
    mask = Mask(3, 2, is16);
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 3; ++x) {
        for (int c = 0; c < 4; ++c) {
          Set(*first, x, y, c, (10 + 10 * c) * k);
          Set(*second, x, y, c, (210 + 10 * c) * k);
          Set(*destination, x, y, c, 77);
        }
      }
    Set(*mask, 1, 0, 0, is16 ? 16384 : 128);
    Set(*mask, 2, 0, 0, is16 ? 32768 : 255);
    Set(*mask, 1, 1, 0, 1);
  }
};

TEST(MaskBlends, BlendThroughMask) {
  BlendFixture f8(false);
  fx::BlendThroughMask(*f8.first, *f8.second, *f8.mask, *f8.destination, f8.destination->Bounds(), 1.0f);
  // m = 0: the first image; m = 128: k = 128, (128 s + 127 f) / 255; m = 255: the second.
  const int32_t expected[3][3] = {{10, 20, 30}, {110, 120, 130}, {210, 220, 230}};
  for (int32_t x = 0; x < 3; ++x) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(At(*f8.destination, x, 0, c), expected[x][c]) << x << " " << c;
    EXPECT_EQ(At(*f8.destination, x, 0, 3), 77);  // alpha never written
  }
  // Half the amount: k = 128 x 127 / 255 = 63.
  fx::BlendThroughMask(*f8.first, *f8.second, *f8.mask, *f8.destination, f8.destination->Bounds(), 0.5f);
  EXPECT_EQ(At(*f8.destination, 1, 0, 0), 59);  // (63 x 210 + 192 x 10) / 255

  BlendFixture f16(true);
  fx::BlendThroughMask(*f16.first, *f16.second, *f16.mask, *f16.destination, f16.destination->Bounds(), 1.0f);
  EXPECT_EQ(At(*f16.destination, 1, 0, 0), (1280 + 26880) / 2);  // k = 16384: the mean
  EXPECT_EQ(At(*f16.destination, 2, 0, 2), 230 * 128);
  EXPECT_EQ(At(*f16.destination, 1, 1, 0), 1280);  // m = 1: k = 1, (26880 + 32767 x 1280) >> 15 = 1280
}

TEST(MaskBlends, BlendWhereMasked) {
  BlendFixture f(false);
  fx::BlendWhereMasked(*f.first, *f.second, *f.mask, *f.destination, f.destination->Bounds(), 1.0f);
  EXPECT_EQ(At(*f.destination, 0, 0, 0), 77);   // k = 0: not written
  EXPECT_EQ(At(*f.destination, 1, 0, 0), 109);  // (128 x 10 + 127 x 210) / 255
  EXPECT_EQ(At(*f.destination, 2, 0, 1), 20);   // full weight to the first image
  EXPECT_EQ(At(*f.destination, 1, 1, 0), 209);  // k = 1 x 255 / 255 = 1: written, (10 + 254 x 210) / 255
  EXPECT_EQ(At(*f.destination, 2, 0, 3), 77);
  // In place into the second image (restoring highlights).
  fx::BlendWhereMasked(*f.first, *f.second, *f.mask, *f.second, f.second->Bounds(), 0.0f);
  EXPECT_EQ(At(*f.second, 2, 0, 0), 210);  // amount 0: k = 0 everywhere, nothing written
}

TEST(MaskBlends, DarkenThroughMask) {
  BlendFixture f8(false);
  fx::DarkenThroughMask(*f8.second, *f8.mask, f8.second->Bounds(), 0.5f);
  EXPECT_EQ(At(*f8.second, 0, 0, 0), 210);  // m = 0: untouched
  EXPECT_EQ(At(*f8.second, 2, 0, 0), 105);  // g = 255 - 127 = 128: 210 x 128 / 255
  EXPECT_EQ(At(*f8.second, 2, 0, 3), 240);  // alpha kept
  BlendFixture f16(true);
  fx::DarkenThroughMask(*f16.second, *f16.mask, f16.second->Bounds(), 0.25f);
  EXPECT_EQ(At(*f16.second, 2, 0, 0), 210 * 128 * 3 / 4);          // g = 32768 - 8192
  EXPECT_EQ(At(*f16.second, 1, 0, 1), (220 * 128 * 28672) >> 15);  // m = 16384: g = 32768 - 4096
}

TEST(MaskBlends, ZeroMaskLeavesEveryPixelBitIdentical) {
  for (bool is16 : {false, true})
    for (float amount : {1.0f, 0.3f}) {
      BlendFixture f(is16);
      RasterRef zero = Mask(3, 2, is16, 0);
      RasterRef original = MakeRaster(3, 2, 4, is16 ? 2 : 1);
      original->CopyFrom(*f.first);
      fx::BlendThroughMask(*f.first, *f.second, *zero, *f.first, f.first->Bounds(), amount);
      EXPECT_TRUE(SameBytes(*f.first, *original));
      fx::BlendWhereMasked(*f.first, *f.second, *zero, *f.first, f.first->Bounds(), amount);
      EXPECT_TRUE(SameBytes(*f.first, *original));
      fx::DarkenThroughMask(*f.first, *zero, f.first->Bounds(), amount);
      EXPECT_TRUE(SameBytes(*f.first, *original));
    }
}

TEST(MaskBlends, RefuseMismatchedRastersAndClipTheRect) {
  BlendFixture f(false);
  RasterRef mask16 = Mask(3, 2, true), small = Mask(1, 1, false, 255);
  EXPECT_THROW(fx::BlendThroughMask(*f.first, *f.second, *mask16, *f.destination, f.first->Bounds(), 1.0f),
               std::invalid_argument);
  EXPECT_THROW(fx::DarkenThroughMask(*f.mask, *f.mask, f.mask->Bounds(), 1.0f), std::invalid_argument);
  // The rect is limited to every raster: only pixel (0, 0) is inside the small mask.
  fx::BlendThroughMask(*f.first, *f.second, *small, *f.destination, Rect{-4, -4, 40, 40}, 7.0f);
  EXPECT_EQ(At(*f.destination, 0, 0, 0), 210);  // amount clamped to 1
  EXPECT_EQ(At(*f.destination, 1, 0, 0), 77);
}

// ------------------------------------------------------------ the shared groups

TEST(ParamGroups, GradAndSpotRows) {
  constexpr auto grad = fx::GradGroup();
  static_assert(fx::ValidTable(grad));
  EXPECT_STREQ(grad[fx::GradRows::kHeader].key, "Grad");
  EXPECT_TRUE(grad[fx::GradRows::kEnable].defaultBool);
  EXPECT_EQ(grad[fx::GradRows::kEnable].flags, fx::kNotify);
  EXPECT_STREQ(grad[fx::GradRows::kNd].key, "grad_nd");
  EXPECT_EQ(grad[fx::GradRows::kDirection].items.size(), 4u);
  EXPECT_EQ(grad[fx::GradRows::kSize].minimum, 1);
  EXPECT_EQ(grad[fx::GradRows::kSize].maximum, 199);
  const char* corners[] = {"ul", "ur", "lr", "ll"};
  for (int k = 0; k < 4; ++k) {
    EXPECT_STREQ(grad[fx::GradRows::kUpperLeft + k].key, corners[k]);
    EXPECT_EQ(grad[fx::GradRows::kUpperLeft + k].flags, fx::kHidden);
  }
  EXPECT_EQ(grad[fx::GradRows::kLowerRight].defaultPoint.x, 0.5);
  EXPECT_EQ(grad[fx::GradRows::kEnd].kind, fx::Kind::GroupEnd);

  // The colour effects' variant: closed by default, plain box, "ul" alone hidden.
  constexpr auto tint = fx::GradGroup({.headerFlags = fx::kPlainGroup,
                                       .endFlags = fx::kPlainGroup,
                                       .enableDefault = false,
                                       .hideAllCorners = false});
  static_assert(fx::ValidTable(tint));
  EXPECT_EQ(tint[fx::GradRows::kHeader].flags, fx::kPlainGroup);
  EXPECT_FALSE(tint[fx::GradRows::kEnable].defaultBool);
  EXPECT_EQ(tint[fx::GradRows::kUpperLeft].flags, fx::kHidden);
  EXPECT_EQ(tint[fx::GradRows::kUpperRight].flags, 0u);

  constexpr auto strip = fx::GradShapeGroup({.directions = fx::kStripDirectionItems});
  static_assert(fx::ValidTable(strip) && strip.size() == 8);
  EXPECT_EQ(strip[1].items.size(), 2u);
  EXPECT_EQ(fx::StripDirection(0), GradDirection::kTopToBottom);
  EXPECT_EQ(fx::StripDirection(1), GradDirection::kLeftToRight);

  constexpr auto spot = fx::SpotGroup({.radiusDefault = 35});
  static_assert(fx::ValidTable(spot));
  const char* keys[] = {"spot", "pos", "sAspect", "sRadius", "sFalloffRadius", "sFalloff"};
  for (int k = 0; k < 6; ++k) EXPECT_STREQ(spot[k].key, keys[k]);
  EXPECT_EQ(spot[fx::SpotRows::kRadius].defaultValue, 35);
  EXPECT_EQ(spot[fx::SpotRows::kAspect].minimum, 20);
  EXPECT_EQ(spot[fx::SpotRows::kFalloffRadius].maximum, 500);
}

inline constexpr const char* kViews[] = {"Output", "Grad", "Original"};
inline constexpr auto kGradEffectParams =
    fx::Join(fx::Rows({fx::Image("input", "Input"), fx::List("view", "View", kViews)}), fx::GradGroup(),
             fx::SpotGroup());
static_assert(fx::ValidTable(kGradEffectParams));
inline constexpr fx::EffectType kGradEffectType{"Ovra Test Grad", "", kGradEffectParams, 0};

TEST(ParamGroups, ReadersTurnValuesIntoGeometry) {
  fx::Effect e(kGradEffectType);
  const int grad = 2, spot = grad + fx::GradRows::kCount;
  fx::SetListIndex(e.Param(grad + fx::GradRows::kDirection), 2);
  fx::SetRange(e.Param(grad + fx::GradRows::kSize), 50);
  fx::SetPoint(e.Param(grad + fx::GradRows::kLowerRight), {0.25, 0.0});
  const fx::GradSettings g = fx::ReadGradShape(e, grad + fx::GradRows::kDirection);
  EXPECT_EQ(g.Direction(), GradDirection::kLeftToRight);
  const Quad q = g.Corners(200, 100);
  EXPECT_EQ(q[0].x, 0);
  EXPECT_EQ(q[1].x, 200);
  EXPECT_EQ(q[2].x, 150);
  EXPECT_EQ(q[2].y, 50);
  EXPECT_EQ(q[3].y, 100);
  // The mask for a band placed in the image equals that band of the whole mask.
  RasterRef whole = Mask(200, 100, false), band = Mask(200, 10, false);
  ASSERT_TRUE(fx::MakeGradMask(*whole, whole->Bounds(), {}, g, 200, 100));
  ASSERT_TRUE(fx::MakeGradMask(*band, band->Bounds(), Origin{0, 40}, g, 200, 100));
  EXPECT_EQ(At(*whole, 0, 40), 255);
  EXPECT_EQ(At(*band, 0, 0), 255);
  EXPECT_EQ(At(*band, 120, 5), At(*whole, 120, 45));

  // gradEnable switches the rest of its group, not what follows it.
  fx::EnableRestOfGroup(e, grad + fx::GradRows::kEnable, false);
  for (int i = grad + fx::GradRows::kNd; i < grad + fx::GradRows::kEnd; ++i)
    EXPECT_FALSE(e.Param(i).Enabled()) << i;
  EXPECT_TRUE(e.Param(spot + fx::SpotRows::kPosition).Enabled());
  EXPECT_TRUE(e.Param(grad + fx::GradRows::kEnable).Enabled());
  fx::EnableRestOfGroup(e, grad + fx::GradRows::kEnable, true);
  EXPECT_TRUE(e.Param(grad + fx::GradRows::kLowerLeft).Enabled());

  fx::SetRange(e.Param(spot + fx::SpotRows::kAspect), 200);
  fx::SetRange(e.Param(spot + fx::SpotRows::kRadius), 10);
  fx::SetRange(e.Param(spot + fx::SpotRows::kFalloff), 100);
  const fx::SpotSettings s = fx::ReadSpot(e, spot + fx::SpotRows::kPosition);
  EXPECT_EQ(s.aspect, 200);
  EXPECT_EQ(s.radius, 10);
  EXPECT_EQ(s.falloffRadius, 100);
  EXPECT_EQ(s.falloff, 100);
  EXPECT_EQ(s.Shape(200, 100).centreX, 100);
}

TEST(ParamGroups, TileOriginFromTheRenderInformation) {
  fx::RenderInfo info;
  // A band of the render loop without margins: the output rectangle is the tile.
  info.area = {0, 0, 64, 300};
  info.outputRect = {128, 20, 192, 320};
  EXPECT_EQ(fx::TileOrigin(info).x, 20);
  EXPECT_EQ(fx::TileOrigin(info).y, 128);
  // With margins of 10: the tile starts 10 rows above the output...
  info.area = {0, 0, 84, 300};
  EXPECT_EQ(fx::TileOrigin(info, 0, 10).y, 118);
  // ...except at the image's top, where the band is floored at 0.
  info.outputRect = {0, 20, 64, 320};
  info.area = {0, 0, 74, 300};
  EXPECT_EQ(fx::TileOrigin(info, 0, 10).y, 0);
  // A preview tile reports the whole tile as its output rectangle.
  info.outputRect = {50, 60, 124, 360};
  EXPECT_EQ(fx::TileOrigin(info, 10, 10).y, 50);
  EXPECT_EQ(fx::TileOrigin(info, 10, 10).x, 60);
}

}  // namespace
