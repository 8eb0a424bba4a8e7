// The glow passes at both depths: exact values of every mode, blend and
// kind of light, the partial pass, untouched pixels, and the blur.
#include "effects/glow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "imaging/raster.h"
#include "imaging/separable_blur.h"

namespace {

using Samples = std::array<int32_t, 3>;

constexpr fx::Rgb kTint{0.5, 0.25, 1.0};

// A four-channel raster of w x h copies of one pixel.
fx::RasterRef Filled(int32_t w, int32_t h, bool is16Bit, std::array<int32_t, 4> pixel) {
  fx::RasterRef r = fx::MakeRaster(w, h, 4, is16Bit ? 2 : 1);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      for (int c = 0; c < 4; ++c) {
        if (is16Bit)
          r->RowAs<uint16_t>(y)[4 * x + c] = static_cast<uint16_t>(pixel[c]);
        else
          r->RowAs<uint8_t>(y)[4 * x + c] = static_cast<uint8_t>(pixel[c]);
      }
  return r;
}

fx::RasterRef Matte(const std::vector<std::vector<int32_t>>& rows, bool is16Bit) {
  const int32_t h = static_cast<int32_t>(rows.size()), w = static_cast<int32_t>(rows[0].size());
  fx::RasterRef m = fx::MakeRaster(w, h, 1, is16Bit ? 2 : 1);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      if (is16Bit)
        m->RowAs<uint16_t>(y)[x] = static_cast<uint16_t>(rows[y][x]);
      else
        m->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(rows[y][x]);
    }
  return m;
}

int32_t Sample(const fx::Raster& r, int32_t x, int32_t y, int c) {
  const int32_t i = r.Channels() * x + c;
  return r.Is16Bit() ? r.RowAs<uint16_t>(y)[i] : r.RowAs<uint8_t>(y)[i];
}

std::array<int32_t, 4> PixelAt(const fx::Raster& r, int32_t x, int32_t y) {
  return {Sample(r, x, y, 0), Sample(r, x, y, 1), Sample(r, x, y, 2), Sample(r, x, y, 3)};
}

bool Same(const fx::Raster& a, const fx::Raster& b) {
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x)
      if (PixelAt(a, x, y) != PixelAt(b, x, y)) return false;
  return true;
}

fx::RasterRef Random(int32_t w, int32_t h, int32_t channels, bool is16Bit, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int32_t> sample(0, is16Bit ? 32768 : 255);
  fx::RasterRef r = fx::MakeRaster(w, h, channels, is16Bit ? 2 : 1);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t i = 0; i < w * channels; ++i) {
      if (is16Bit)
        r->RowAs<uint16_t>(y)[i] = static_cast<uint16_t>(sample(gen));
      else
        r->RowAs<uint8_t>(y)[i] = static_cast<uint8_t>(sample(gen));
    }
  return r;
}

fx::GlowSettings Settings(fx::GlowMode mode, fx::GlowBlend blend, double brightness,
                          fx::Rgb colour = fx::kWhite, double blur = 0) {
  fx::GlowSettings s;
  s.mode = mode;
  s.blend = blend;
  s.brightness = brightness;
  s.colour = colour;
  s.blurX = s.blurY = blur;
  return s;
}

TEST(GlowPasses, FullPassesAndPartialWeight) {
  struct Case {
    double brightness;
    fx::GlowPasses eight, sixteen;
  };
  const Case cases[] = {
      {0.0, {0, 0}, {0, 0}},       {1.0, {0, 255}, {0, 32768}}, {2.0, {1, 254}, {1, 32767}},
      {2.5, {2, 125}, {2, 16382}}, {8.0, {7, 248}, {7, 32761}},
  };
  for (const Case& c : cases) {
    const fx::GlowPasses p8 = fx::GlowPasses::Of<uint8_t>(c.brightness);
    const fx::GlowPasses p16 = fx::GlowPasses::Of<uint16_t>(c.brightness);
    EXPECT_EQ(p8.full, c.eight.full) << c.brightness;
    EXPECT_EQ(p8.partial, c.eight.partial) << c.brightness;
    EXPECT_EQ(p16.full, c.sixteen.full) << c.brightness;
    EXPECT_EQ(p16.partial, c.sixteen.partial) << c.brightness;
  }
}

// 100 at full selection: no full pass and a partial pass of 255 at 100 %
// (100 + 100 - 39 = 161); at 200 % one full pass (161) and a partial pass of
// 254 (161 + 99 - 62 = 198). The same through the light of "Spread".
TEST(Glow, WhiteScreenOfAFullySelectedPixel) {
  struct Case {
    bool is16Bit;
    int32_t value, full;
    double brightness;
    int32_t expected;
  };
  const Case cases[] = {
      {false, 100, 255, 1.0, 161},
      {false, 100, 255, 2.0, 198},
      {true, 12850, 32768, 1.0, 20661},
      {true, 12850, 32768, 2.0, 25409},
  };
  for (const Case& c : cases)
    for (fx::GlowMode mode : {fx::GlowMode::kSubtle, fx::GlowMode::kSpread}) {
      if (mode == fx::GlowMode::kSpread && c.brightness != 1.0) continue;
      fx::RasterRef d = Filled(1, 1, c.is16Bit, {c.value, c.value, c.value, c.full});
      const fx::RasterRef m = Matte({{c.full}}, c.is16Bit);
      fx::Glow(*d, *m, d->Bounds(), Settings(mode, fx::GlowBlend::kScreen, c.brightness), fx::RenderInfo{});
      EXPECT_EQ(PixelAt(*d, 0, 0), (std::array<int32_t, 4>{c.expected, c.expected, c.expected, c.full}))
          << c.is16Bit << " " << c.brightness << " mode " << static_cast<int>(mode);
    }
}

// Every blend and kind of light on one partly selected pixel, next to an
// unselected one that must stay exactly as it was; alpha is kept.
TEST(Glow, ExactValuesOfEveryModeBlendAndLight) {
  using fx::GlowBlend;
  using fx::GlowMode;
  struct Case {
    bool is16Bit;
    GlowMode mode;
    GlowBlend blend;
    bool white;
    double brightness;
    Samples expected;
  };
  const Case cases[] = {
      {false, GlowMode::kSubtle, GlowBlend::kScreen, true, 1.0, {148, 234, 51}},
      {false, GlowMode::kSubtle, GlowBlend::kScreen, true, 2.5, {193, 250, 78}},
      {false, GlowMode::kSubtle, GlowBlend::kAdd, true, 1.0, {178, 255, 53}},
      {false, GlowMode::kSubtle, GlowBlend::kAdd, true, 2.5, {255, 255, 87}},
      {false, GlowMode::kSubtle, GlowBlend::kScreen, false, 1.0, {124, 209, 51}},
      {false, GlowMode::kSubtle, GlowBlend::kScreen, false, 2.5, {156, 219, 89}},
      {false, GlowMode::kSubtle, GlowBlend::kAdd, false, 1.0, {138, 238, 53}},
      {false, GlowMode::kSubtle, GlowBlend::kAdd, false, 2.5, {194, 255, 87}},
      {true, GlowMode::kSubtle, GlowBlend::kScreen, true, 1.0, {18976, 30048, 6523}},
      {true, GlowMode::kSubtle, GlowBlend::kScreen, true, 2.5, {24687, 32044, 10044}},
      {true, GlowMode::kSubtle, GlowBlend::kAdd, true, 1.0, {22928, 32768, 6878}},
      {true, GlowMode::kSubtle, GlowBlend::kAdd, true, 2.5, {32768, 32768, 11412}},
      {true, GlowMode::kSubtle, GlowBlend::kScreen, false, 1.0, {15913, 26787, 6523}},
      {true, GlowMode::kSubtle, GlowBlend::kScreen, false, 2.5, {20084, 28127, 11495}},
      {true, GlowMode::kSubtle, GlowBlend::kAdd, false, 1.0, {17889, 30739, 6878}},
      {true, GlowMode::kSubtle, GlowBlend::kAdd, false, 2.5, {25447, 32768, 11412}},
      {false, GlowMode::kSpread, GlowBlend::kScreen, true, 0.75, {136, 226, 45}},
      {false, GlowMode::kSpread, GlowBlend::kScreen, true, 2.5, {193, 250, 78}},
      {false, GlowMode::kSpread, GlowBlend::kAdd, true, 0.75, {158, 255, 47}},
      {false, GlowMode::kSpread, GlowBlend::kAdd, true, 2.5, {255, 255, 87}},
      {false, GlowMode::kSpread, GlowBlend::kScreen, false, 0.75, {118, 207, 45}},
      {false, GlowMode::kSpread, GlowBlend::kScreen, false, 2.5, {152, 219, 78}},
      {false, GlowMode::kSpread, GlowBlend::kAdd, false, 0.75, {129, 229, 47}},
      {false, GlowMode::kSpread, GlowBlend::kAdd, false, 2.5, {197, 255, 87}},
      {true, GlowMode::kSpread, GlowBlend::kScreen, true, 0.75, {17445, 28961, 5856}},
      {true, GlowMode::kSpread, GlowBlend::kScreen, true, 2.5, {24687, 32044, 10044}},
      {true, GlowMode::kSpread, GlowBlend::kAdd, true, 0.75, {20408, 32768, 6122}},
      {true, GlowMode::kSpread, GlowBlend::kAdd, true, 2.5, {32768, 32768, 11412}},
      {true, GlowMode::kSpread, GlowBlend::kScreen, false, 0.75, {15148, 26516, 5856}},
      {true, GlowMode::kSpread, GlowBlend::kScreen, false, 2.5, {19602, 28096, 10044}},
      {true, GlowMode::kSpread, GlowBlend::kAdd, false, 0.75, {16629, 29479, 6122}},
      {true, GlowMode::kSpread, GlowBlend::kAdd, false, 2.5, {25447, 32768, 11412}},
  };
  for (const Case& c : cases) {
    const std::array<int32_t, 4> source = c.is16Bit ? std::array<int32_t, 4>{12850, 25700, 3855, 1234}
                                                    : std::array<int32_t, 4>{100, 200, 30, 77};
    fx::RasterRef d = Filled(2, 1, c.is16Bit, source);
    const fx::RasterRef m = Matte({{c.is16Bit ? 25700 : 200, 0}}, c.is16Bit);
    fx::Glow(*d, *m, d->Bounds(), Settings(c.mode, c.blend, c.brightness, c.white ? fx::kWhite : kTint),
             fx::RenderInfo{});
    const std::array<int32_t, 4> expected{c.expected[0], c.expected[1], c.expected[2], source[3]};
    EXPECT_EQ(PixelAt(*d, 0, 0), expected)
        << c.is16Bit << " mode " << static_cast<int>(c.mode) << " blend " << static_cast<int>(c.blend)
        << " white " << c.white << " " << c.brightness;
    EXPECT_EQ(PixelAt(*d, 1, 0), source);
  }
}

TEST(Glow, ZeroMatteLeavesTheDestinationAsItWas) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef source = Random(9, 7, 4, is16Bit, 5);
    const fx::RasterRef zero =
        Matte(std::vector<std::vector<int32_t>>(7, std::vector<int32_t>(9, 0)), is16Bit);
    for (fx::GlowMode mode : {fx::GlowMode::kSubtle, fx::GlowMode::kSpread})
      for (fx::GlowBlend blend : {fx::GlowBlend::kScreen, fx::GlowBlend::kAdd})
        for (fx::Rgb colour : {fx::kWhite, kTint})
          for (double blur : {0.0, 6.0}) {
            fx::RasterRef d = fx::MakeRaster(9, 7, 4, is16Bit ? 2 : 1);
            d->CopyFrom(*source);
            fx::Glow(*d, *zero, d->Bounds(), Settings(mode, blend, 8.0, colour, blur), fx::RenderInfo{});
            EXPECT_TRUE(Same(*d, *source)) << is16Bit << " " << static_cast<int>(mode) << " "
                                           << static_cast<int>(blend) << " " << colour.g << " " << blur;
          }
  }
}

// An RGB document's pixels arrive with alpha 0; a fully selected pixel
// still gives its whole light, blurred or not.
TEST(Glow, SpreadLightOfFullySelectedPixelsIgnoresTheirAlpha) {
  for (bool is16Bit : {false, true}) {
    const int32_t full = is16Bit ? 32768 : 255, value = is16Bit ? 12850 : 100;
    const int32_t expected = is16Bit ? 20661 : 161;
    for (double blur : {0.0, 4.0}) {
      fx::RasterRef d = Filled(6, 5, is16Bit, {value, value, value, 0});
      const fx::RasterRef m =
          Matte(std::vector<std::vector<int32_t>>(5, std::vector<int32_t>(6, full)), is16Bit);
      fx::Glow(*d, *m, d->Bounds(),
               Settings(fx::GlowMode::kSpread, fx::GlowBlend::kScreen, 1.0, fx::kWhite, blur),
               fx::RenderInfo{});
      for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 6; ++x)
          ASSERT_EQ(PixelAt(*d, x, y), (std::array<int32_t, 4>{expected, expected, expected, 0}))
              << is16Bit << " blur " << blur << " at " << x << ", " << y;
    }
  }
}

// "Subtle" glows with the blurred matte: the same as glowing without blur
// through a matte blurred beforehand, light reaching pixels outside the
// selection. "Spread" blurs the selected light itself, so an unselected
// neighbour of a selected pixel brightens too.
TEST(Glow, BlurSpreadsTheLightBeyondTheSelection) {
  for (bool is16Bit : {false, true}) {
    const int32_t full = is16Bit ? 32768 : 255;
    const fx::RasterRef source = Random(11, 9, 4, is16Bit, 9);
    std::vector<std::vector<int32_t>> spot(9, std::vector<int32_t>(11, 0));
    spot[4][5] = spot[4][6] = spot[5][5] = full;
    const fx::RasterRef m = Matte(spot, is16Bit);

    fx::RasterRef blurredMatte = fx::MakeRaster(11, 9, 1, is16Bit ? 2 : 1);
    blurredMatte->CopyFrom(*m);
    fx::SeparableBlur blur;
    blur.SetPasses(1);
    blur.SetRadii(5, 3);
    blur.Blur(*blurredMatte, blurredMatte->Bounds());

    fx::GlowSettings s = Settings(fx::GlowMode::kSubtle, fx::GlowBlend::kScreen, 1.5, kTint);
    fx::RasterRef expected = fx::MakeRaster(11, 9, 4, is16Bit ? 2 : 1);
    expected->CopyFrom(*source);
    fx::Glow(*expected, *blurredMatte, expected->Bounds(), s, fx::RenderInfo{});
    s.blurX = 5;
    s.blurY = 3;
    fx::RasterRef d = fx::MakeRaster(11, 9, 4, is16Bit ? 2 : 1);
    d->CopyFrom(*source);
    fx::Glow(*d, *m, d->Bounds(), s, fx::RenderInfo{});
    EXPECT_TRUE(Same(*d, *expected)) << is16Bit;
    EXPECT_NE(PixelAt(*d, 3, 4), PixelAt(*source, 3, 4)) << is16Bit;

    fx::RasterRef spread = fx::MakeRaster(11, 9, 4, is16Bit ? 2 : 1);
    spread->CopyFrom(*source);
    fx::Glow(*spread, *m, spread->Bounds(),
             Settings(fx::GlowMode::kSpread, fx::GlowBlend::kAdd, 1.0, fx::kWhite, 4), fx::RenderInfo{});
    for (int c = 0; c < 3; ++c) EXPECT_GT(Sample(*spread, 4, 4, c), Sample(*source, 4, 4, c)) << is16Bit;
    EXPECT_EQ(PixelAt(*spread, 0, 0), PixelAt(*source, 0, 0)) << is16Bit;
  }
}

TEST(Glow, WorksOnlyInsideTheRectangle) {
  for (bool is16Bit : {false, true}) {
    const int32_t full = is16Bit ? 32768 : 255;
    const fx::RasterRef source = Random(8, 6, 4, is16Bit, 3);
    const fx::RasterRef m =
        Matte(std::vector<std::vector<int32_t>>(6, std::vector<int32_t>(8, full)), is16Bit);
    for (fx::GlowMode mode : {fx::GlowMode::kSubtle, fx::GlowMode::kSpread}) {
      fx::RasterRef d = fx::MakeRaster(8, 6, 4, is16Bit ? 2 : 1);
      d->CopyFrom(*source);
      const fx::Rect rect{1, 2, 4, 6};
      fx::Glow(*d, *m, rect, Settings(mode, fx::GlowBlend::kScreen, 2.0, fx::kWhite, 3), fx::RenderInfo{});
      for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 8; ++x)
          if (!rect.Contains(x, y)) {
            ASSERT_EQ(PixelAt(*d, x, y), PixelAt(*source, x, y)) << x << ", " << y;
          }
    }
  }
}

TEST(Glow, ReachIsTheBlursWholeReach) {
  fx::RenderInfo info;
  fx::GlowSettings s;
  EXPECT_EQ(fx::GlowReachX(info, s), 0);
  EXPECT_EQ(fx::GlowReachY(info, s), 0);
  s.blurX = 20;
  s.blurY = 7.5;
  fx::SeparableBlur blur;
  blur.SetPasses(info.reserved2);
  blur.SetRadii(20, 7.5f);
  EXPECT_EQ(fx::GlowReachX(info, s), blur.ReachX());
  EXPECT_EQ(fx::GlowReachY(info, s), blur.ReachY());
  // Two box passes of half-width 10 reach further than the radius.
  EXPECT_GT(fx::GlowReachX(info, s), 20);
}

}  // namespace

// The 8-bit "Screen" of a light over every pair of sample and light value,
// against the passes written out: n full passes of t = k L' / 255, then the
// partial pass of u = trunc(r x colour) L' / 255, each clamped. Colours
// within 0..1 and one beyond (whose lights pass full scale) take different
// routes through the blend; both must give these values.
TEST(BlendLight, EightBitScreenOfEverySampleAndLight) {
  const fx::Rgb colours[] = {fx::kWhite, kTint, {0.0, 0.7, 0.999}, {1.5, 0.3, 1.0}};
  for (const fx::Rgb& colour : colours)
    for (double brightness : {0.75, 1.0, 2.5, 7.99}) {
      // Row y holds samples y in every channel, column x light x.
      fx::RasterRef d = fx::MakeRaster(256, 256, 4, 1);
      fx::RasterRef light = fx::MakeRaster(256, 256, 1, 1);
      for (int32_t y = 0; y < 256; ++y)
        for (int32_t x = 0; x < 256; ++x) {
          for (int c = 0; c < 4; ++c) d->RowAs<uint8_t>(y)[4 * x + c] = static_cast<uint8_t>(y);
          light->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(x);
        }
      fx::BlendLight(*d, *light, d->Bounds(), {brightness, fx::GlowBlend::kScreen, colour});
      const fx::GlowPasses passes = fx::GlowPasses::Of<uint8_t>(brightness);
      const double unit[3] = {colour.r, colour.g, colour.b};
      int32_t wrong = 0;
      for (int32_t y = 0; y < 256; ++y)
        for (int32_t x = 0; x < 256; ++x) {
          // Light 0 does not reach the pixel: it stays as it was.
          for (int c = 0; c < 3; ++c) {
            int32_t v = y;
            if (x > 0) {
              const int32_t t = static_cast<int32_t>(unit[c] * 255) * x / 255;
              for (int32_t i = 0; i < passes.full; ++i) v = std::clamp(v + t - t * v / 255, 0, 255);
              if (passes.partial > 0) {
                const int32_t u = static_cast<int32_t>(passes.partial * unit[c]) * x / 255;
                v = std::clamp(v + u - u * v / 255, 0, 255);
              }
            }
            if (Sample(*d, x, y, c) != v && wrong++ < 5)
              ADD_FAILURE() << "colour " << unit[0] << "," << unit[1] << "," << unit[2] << " brightness "
                            << brightness << " sample " << y << " light " << x << " channel " << c << ": "
                            << Sample(*d, x, y, c) << ", want " << v;
          }
          if (Sample(*d, x, y, 3) != y && wrong++ < 5) ADD_FAILURE() << "alpha changed at " << x << "," << y;
        }
      EXPECT_EQ(wrong, 0);
    }
}

// The 8-bit "ADD" of a light over every pair of sample and light value:
// p + trunc(brightness x colour x L') in single precision, clamped.
TEST(BlendLight, EightBitAddOfEverySampleAndLight) {
  for (const fx::Rgb& colour : {fx::kWhite, kTint, fx::Rgb{0.0, 0.7, 0.999}})
    for (double brightness : {0.75, 2.5, 7.99}) {
      fx::RasterRef d = fx::MakeRaster(256, 256, 4, 1);
      fx::RasterRef light = fx::MakeRaster(256, 256, 1, 1);
      for (int32_t y = 0; y < 256; ++y)
        for (int32_t x = 0; x < 256; ++x) {
          for (int c = 0; c < 4; ++c) d->RowAs<uint8_t>(y)[4 * x + c] = static_cast<uint8_t>(y);
          light->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(x);
        }
      fx::BlendLight(*d, *light, d->Bounds(), {brightness, fx::GlowBlend::kAdd, colour});
      const float b = static_cast<float>(brightness);
      const float f[3] = {b * static_cast<float>(colour.r), b * static_cast<float>(colour.g),
                          b * static_cast<float>(colour.b)};
      int32_t wrong = 0;
      for (int32_t y = 0; y < 256; ++y)
        for (int32_t x = 0; x < 256; ++x)
          for (int c = 0; c < 4; ++c) {
            const int32_t want =
                c == 3 || x == 0
                    ? y
                    : std::min<int32_t>(255, y + static_cast<int32_t>(f[c] * static_cast<float>(x)));
            if (Sample(*d, x, y, c) != want && wrong++ < 5)
              ADD_FAILURE() << "brightness " << brightness << " sample " << y << " light " << x << " channel "
                            << c << ": " << Sample(*d, x, y, c) << ", want " << want;
          }
      EXPECT_EQ(wrong, 0);
    }
}
