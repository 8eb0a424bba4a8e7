// The light effects rendered directly: exact values of Flashing's lift and
// pull, the reflectors' fill, and Streaks against the glow it is made of.
#include "effects/light_effects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "effects/gel_catalogue_tables.h"
#include "effects/glow.h"
#include "effects/selection_matte.h"
#include "imaging/pixel.h"
#include "imaging/tone_curve.h"
#include "tests/effects/effect_harness.h"

using namespace effecttest;

namespace {

int32_t Full(bool is16Bit) {
  return is16Bit ? 32768 : 255;
}

int32_t Luminance(const Pixel& p, bool is16Bit) {
  return is16Bit ? fx::Depth16::Luminance(p[0], p[1], p[2]) : fx::Depth8::Luminance(p[0], p[1], p[2]);
}

// The weight of luminance y in the band (centre, width) at the depth.
int32_t Weight(double centre, double width, int32_t y, bool is16Bit) {
  if (is16Bit) return fx::CurveTable<uint16_t>(fx::TonalBand(centre, width))[y];
  return fx::CurveTable<uint8_t>(fx::TonalBand(centre, width))[y];
}

fx::RasterRef Flat(int32_t w, int32_t h, Pixel p, bool is16Bit) {
  return MakeRaster(std::vector<std::vector<Pixel>>(h, std::vector<Pixel>(w, p)), is16Bit);
}

// ----------------------------------------------------------------- Flashing

// Lift then pull of one channel, weights from the source luminance.
int32_t Flashed(int32_t p, int32_t ws, int32_t wh, double lift, double pull, bool is16Bit) {
  const double L = Full(is16Bit);
  if (lift != 0 && ws != 0) p = std::min<int32_t>(Full(is16Bit), p + static_cast<int32_t>(ws / L * p * lift));
  if (pull != 0 && wh != 0) p = std::max<int32_t>(0, p - static_cast<int32_t>(pull * (wh / L * p)));
  return p;
}

struct FlashCase {
  Pixel pixel;  // 8-bit values; x 128 at 16 bits
  double sBrightness, sPos, sRange;
  double hBrightness, hPos, hRange;
};

TEST(Flashing, LiftsShadowsAndPullsHighlightsByTheSourceLuminance) {
  const FlashCase cases[] = {
      {{40, 60, 20, 255}, 50, 0, 80, 0, 100, 80},      // lift only
      {{230, 200, 250, 255}, 0, 0, 80, 70, 100, 80},   // pull only
      {{90, 110, 70, 255}, 100, 30, 60, 100, 60, 50},  // both bands overlap the pixel
      {{0, 0, 0, 255}, 100, 0, 80, 100, 100, 80},      // black stays black
      {{255, 255, 255, 0}, 100, 90, 80, 0, 100, 80},   // clamped at full scale
  };
  for (bool is16 : {false, true})
    for (const FlashCase& c : cases) {
      Instance e(fx::effects::kFlashing);
      e.Set("sBrightness", c.sBrightness).Set("sPos", c.sPos).Set("sRange", c.sRange);
      e.Set("hBrightness", c.hBrightness).Set("hPos", c.hPos).Set("hRange", c.hRange);
      fx::SetColour(e.P("sColor"), {1.0, 0.5, 0.25});
      fx::SetColour(e.P("hColor"), {0.25, 0.5, 1.0});
      Pixel in = c.pixel;
      if (is16)
        for (int k = 0; k < 4; ++k) in[k] = std::min(in[k] * 128, 32768);
      const int32_t y = Luminance(in, is16);
      const int32_t ws = Weight(c.sPos / 100, c.sRange / 100, y, is16);
      const int32_t wh = Weight(c.hPos / 100, c.hRange / 100, y, is16);
      const double s = c.sBrightness / 100, h = c.hBrightness / 100;
      const double lift[3] = {1.0 * s, 0.5 * s, 0.25 * s};
      const double pull[3] = {0.75 * h, 0.5 * h, 0.0 * h};
      Pixel want = in;
      for (int k = 0; k < 3; ++k) want[k] = Flashed(in[k], ws, wh, lift[k], pull[k], is16);
      EXPECT_EQ(RenderPixel(e, in, is16), want) << is16 << " " << in[0];
    }
}

TEST(Flashing, LiftedPixelKeepsTheHighlightWeightOfItsSource) {
  // A pixel lifted into the highlight band is not pulled: its source
  // luminance lies outside that band.
  for (bool is16 : {false, true}) {
    Instance e(fx::effects::kFlashing);
    e.Set("sBrightness", 100).Set("sPos", 25).Set("sRange", 20);
    e.Set("hBrightness", 100).Set("hPos", 50).Set("hRange", 15);
    const int32_t v = Full(is16) / 4;
    const Pixel in{v, v, v, Full(is16)};
    const int32_t ws = Weight(0.25, 0.2, Luminance(in, is16), is16);
    ASSERT_GT(ws, 0);
    ASSERT_EQ(Weight(0.5, 0.15, Luminance(in, is16), is16), 0);
    const int32_t lifted = v + static_cast<int32_t>(ws / double(Full(is16)) * v * 1.0);
    ASSERT_GT(Weight(0.5, 0.15, lifted, is16), 0) << "the lifted value must lie in the highlight band";
    EXPECT_EQ(RenderPixel(e, in, is16), (Pixel{lifted, lifted, lifted, Full(is16)}));
  }
}

TEST(Flashing, BandViewsShowTheWeightsAsGrey) {
  for (bool is16 : {false, true}) {
    const Pixel in = is16 ? Pixel{9000, 12000, 3000, 0} : Pixel{70, 95, 20, 0};
    const int32_t y = Luminance(in, is16);
    Instance e(fx::effects::kFlashing);
    e.Set("sPos", 20).Set("sRange", 50).Set("hPos", 40).Set("hRange", 30);
    e.Set("view", 1);
    EXPECT_TRUE(e.Active());
    const int32_t ws = Weight(0.2, 0.5, y, is16);
    EXPECT_EQ(RenderPixel(e, in, is16), (Pixel{ws, ws, ws, Full(is16)}));
    e.Set("view", 2);
    const int32_t wh = Weight(0.4, 0.3, y, is16);
    EXPECT_EQ(RenderPixel(e, in, is16), (Pixel{wh, wh, wh, Full(is16)}));
  }
}

TEST(Flashing, PresetRowsReplaceTheColourWhichIsEnabledOnlyForCustom) {
  Instance e(fx::effects::kFlashing);
  e.Set("sBrightness", 100).Set("sPresets", 3);
  e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, "sPresets"));
  EXPECT_FALSE(e.P("sColor").flags & fx::kEnabled);
  const fx::gels::GelRow& row = fx::gels::kPhotoFiltersRows[2];
  const Pixel in{20, 20, 20, 255};
  const int32_t ws = Weight(0, 0.8, 20, false);
  const double gel[3] = {row.red, row.green, row.blue};
  Pixel want = in;
  for (int k = 0; k < 3; ++k) want[k] = Flashed(20, ws, 0, gel[k], 0, false);
  EXPECT_EQ(RenderPixel(e, in, false), want);
  e.Set("sPresets", 0);
  e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, "sPresets"));
  EXPECT_TRUE(e.P("sColor").flags & fx::kEnabled);
}

TEST(Flashing, DefaultsPullNothingAndAreInactive) {
  Instance e(fx::effects::kFlashing);
  EXPECT_FALSE(e.Active());
  e.Set("hBrightness", 10);
  EXPECT_TRUE(e.Active());
  e.Set("view", 3);
  EXPECT_FALSE(e.Active());
}

// --------------------------------------------------------------- Reflectors

TEST(Reflector, AddsTheSelectedLightTintedAndScaled) {
  struct Case {
    Pixel pixel;  // 8-bit values; x 128 at 16 bits
    double brightness, position, range;
  };
  const Case cases[] = {
      {{60, 80, 40, 255}, 50, 0, 80},
      {{120, 100, 140, 10}, 250, 30, 60},
      {{200, 220, 240, 255}, 500, 100, 80},  // clamped at full scale
      {{250, 250, 250, 255}, 500, 0, 25},    // outside the band: matte 0 keeps the source
  };
  const fx::Rgb tint{1.0, 0.75, 0.5};
  for (bool is16 : {false, true})
    for (const Case& c : cases) {
      Instance e(fx::effects::kSilverReflector);
      e.Set("brightness", c.brightness).Set("position", c.position).Set("range", c.range);
      fx::SetColour(e.P("color"), tint);
      Pixel in = c.pixel;
      if (is16)
        for (int k = 0; k < 4; ++k) in[k] *= 128;
      const int64_t m = Weight(c.position / 100, c.range / 50, Luminance(in, is16), is16);
      const double b = c.brightness / 100;
      const double k3[3] = {tint.r * b, tint.g * b, tint.b * b};
      Pixel want = in;
      for (int k = 0; k < 3; ++k) {
        const int64_t light = is16 ? (m * in[k]) >> 15 : m * in[k] / 255;
        want[k] = static_cast<int32_t>(std::min<int64_t>(Full(is16), in[k] + static_cast<int64_t>(light * k3[k])));
      }
      EXPECT_EQ(RenderPixel(e, in, is16), want) << is16 << " " << c.pixel[0];
    }
}

TEST(Reflector, SelectionViewShowsTheMatteAndNeedsBrightness) {
  Instance e(fx::effects::kGoldReflector);
  e.Set("view", 1);
  EXPECT_TRUE(e.Active());
  const Pixel in{100, 100, 100, 255};
  const int32_t m = Weight(0, 1.6, 100, false);
  EXPECT_EQ(RenderPixel(e, in, false), (Pixel{m, m, m, 255}));
  e.Set("brightness", 0);
  EXPECT_FALSE(e.Active());
  e.Set("brightness", 10).Set("view", 2);
  EXPECT_FALSE(e.Active());
}

TEST(Reflector, SilverIsWhiteAndGoldIsTheWarmingColour) {
  Instance silver(fx::effects::kSilverReflector);
  Instance gold(fx::effects::kGoldReflector);
  EXPECT_EQ(silver.P("color").colour.g, 1.0);
  EXPECT_EQ(gold.P("color").colour.g, 203 / 255.0);
  EXPECT_EQ(gold.P("color").colour.b, 121 / 255.0);
  EXPECT_STREQ(fx::DisplayName(*gold), "Ovra Gold Reflector");
}

// ------------------------------------------------------------------ Streaks

// A single bright pixel on black, 9 x 11.
fx::RasterRef BrightPixel(bool is16Bit) {
  fx::RasterRef r = Flat(9, 11, {0, 0, 0, Full(is16Bit)}, is16Bit);
  const int32_t v = Full(is16Bit);
  for (int k = 0; k < 4; ++k) {
    if (is16Bit) r->RowAs<uint16_t>(5)[4 * 4 + k] = static_cast<uint16_t>(v);
    else r->RowAs<uint8_t>(5)[4 * 4 + k] = static_cast<uint8_t>(v);
  }
  return r;
}

TEST(Streaks, OneDirectionLightsOnlyItsLineAndEqualsTheGlow) {
  struct Case {
    double h, v;
    bool column;
  };
  for (bool is16 : {false, true})
    for (const Case c : {Case{0, 300, true}, Case{300, 0, false}}) {
      const fx::RasterRef src = BrightPixel(is16);
      Instance e(fx::effects::kStreaks);
      e.Set("glowHBlur", c.h).Set("glowVBlur", c.v).Set("glowBrightness", 150);
      fx::SetColour(e.P("glowColor"), {1.0, 0.5, 0.75});
      const fx::RasterRef out = Render(e, *src);

      fx::RenderInfo info;
      info.imageWidth = src->Width();
      info.imageHeight = src->Height();
      fx::MatteSettings m;
      m.centre = 1.0;
      m.width = 1.6;
      fx::SelectionMatte builder;
      const fx::Rect all = src->Bounds();
      fx::RasterRef matte = builder.Build(*src, all, info, m);
      fx::RasterRef want = Flat(9, 11, {0, 0, 0, 0}, is16);
      want->CopyRows(*src, all);
      fx::GlowSettings g;
      g.blurX = c.h * 0.011;
      g.blurY = c.v * 0.011;
      g.brightness = 1.5;
      g.colour = {1.0, 0.5, 0.75};
      fx::Glow(*want, *matte, all, g, info);

      int lit = 0;
      for (int32_t y = 0; y < 11; ++y)
        for (int32_t x = 0; x < 9; ++x) {
          ASSERT_EQ(At(*out, x, y), At(*want, x, y)) << x << "," << y;
          const bool onLine = c.column ? x == 4 : y == 5;
          if (!onLine) {
            EXPECT_EQ(At(*out, x, y), At(*src, x, y)) << x << "," << y;
          }
          lit += onLine && At(*out, x, y) != At(*src, x, y);
        }
      EXPECT_GE(lit, 2);
    }
}

TEST(Streaks, SelectionViewAndActivity) {
  Instance e(fx::effects::kStreaks);
  EXPECT_TRUE(e.Active());
  e.Set("view", 1);
  const Pixel in{255, 255, 255, 0};
  EXPECT_EQ(RenderPixel(e, in, false), (Pixel{255, 255, 255, 255}));
  e.Set("view", 0).Set("glowBrightness", 0);
  EXPECT_FALSE(e.Active());
  e.Set("view", 1);
  EXPECT_TRUE(e.Active());
}

}  // namespace
