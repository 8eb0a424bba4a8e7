// The light effects rendered directly: exact values of Flashing's lift and
// pull, the reflectors' fill, and Streaks against the glow it is made of.
#include "effects/light_effects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "effects/gel_catalogue_tables.h"
#include "effects/glow.h"
#include "effects/selection_matte.h"
#include "imaging/pixel.h"
#include "imaging/star_kernel.h"
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
        want[k] =
            static_cast<int32_t>(std::min<int64_t>(Full(is16), in[k] + static_cast<int64_t>(light * k3[k])));
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
    if (is16Bit)
      r->RowAs<uint16_t>(5)[4 * 4 + k] = static_cast<uint16_t>(v);
    else
      r->RowAs<uint8_t>(5)[4 * 4 + k] = static_cast<uint8_t>(v);
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

// ------------------------------------------------------------ Light, ReLight

namespace {

// The light of a uniform grey light value over the source, laid by
// BlendLight as the members lay their mask.
fx::RasterRef UniformLight(const fx::Raster& source, int32_t light, const fx::LightBlend& b) {
  fx::RasterRef want = fx::MakeRaster(source.Width(), source.Height(), 4, source.BytesPerSample());
  want->CopyFrom(source);
  fx::RasterRef mask = Flat(source.Width(), source.Height(), {light, light, light, light}, source.Is16Bit());
  fx::RasterRef grey = fx::MakeRaster(source.Width(), source.Height(), 1, source.BytesPerSample());
  for (int32_t y = 0; y < source.Height(); ++y)
    for (int32_t x = 0; x < source.Width(); ++x) {
      if (source.Is16Bit())
        grey->RowAs<uint16_t>(y)[x] = static_cast<uint16_t>(light);
      else
        grey->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(light);
    }
  fx::BlendLight(*want, *grey, want->Bounds(), b);
  return want;
}

// A 3 x 2 fixture of varied colours.
fx::RasterRef Small(bool is16Bit) {
  std::vector<std::vector<Pixel>> rows = {{{10, 200, 90, 255}, {250, 250, 250, 0}, {0, 0, 0, 255}},
                                          {{128, 64, 32, 255}, {60, 180, 240, 9}, {200, 20, 120, 255}}};
  if (is16Bit)
    for (auto& row : rows)
      for (Pixel& p : row)
        for (int32_t& v : p) v *= 128;
  return MakeRaster(rows, is16Bit);
}

void ExpectSame(const fx::Raster& a, const fx::Raster& b, const std::string& what) {
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x)
      ASSERT_EQ(At(a, x, y), At(b, x, y)) << what << " at " << x << "," << y;
}

}  // namespace

TEST(Light, OpenBeamInShapeOnlyIsAUniformLight) {
  for (bool is16 : {false, true})
    for (int blend : {0, 1}) {
      Instance e(fx::effects::kLight);
      fx::SetImageFile(e.P("pattern"), "");
      e.Set("lBlend", blend).Set("lBrightness", 140).Set("lColorPresets", 5);
      const fx::RasterRef src = Small(is16);
      const fx::gels::GelRow& row = fx::gels::kGamColorRows[4];
      fx::LightBlend b;
      b.brightness = 1.4;
      b.blend = blend == 0 ? fx::GlowBlend::kAdd : fx::GlowBlend::kScreen;
      b.colour = {row.red, row.green, row.blue};
      ExpectSame(*Render(e, *src), *UniformLight(*src, Full(is16), b), is16 ? "16-bit" : "8-bit");
    }
}

TEST(Light, UnloadablePatternBlocksAllLightAndTheShadowDarkens) {
  for (bool is16 : {false, true}) {
    Instance e(fx::effects::kLight);
    fx::SetImageFile(e.P("pattern"), "/nonexistent/pattern.png");
    e.Set("sBrightness", 100);
    const fx::RasterRef src = Small(is16);
    const fx::RasterRef out = Render(e, *src);
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 3; ++x) {
        const Pixel p = At(*out, x, y), s = At(*src, x, y);
        EXPECT_EQ((Pixel{p[0], p[1], p[2]}), (Pixel{0, 0, 0})) << x << "," << y;
        EXPECT_EQ(p[3], s[3]);
      }
  }
}

TEST(Light, ViewsShowShapeAndSelection) {
  Instance e(fx::effects::kLight);
  fx::SetImageFile(e.P("pattern"), "");
  e.Set("view", 2);
  EXPECT_TRUE(e.Active());
  const fx::RasterRef src = Small(false);
  EXPECT_EQ(At(*Render(e, *src), 2, 0), (Pixel{255, 255, 255, 255}));
  e.Set("view", 3).Set("mattePosition", 0).Set("matteRange", 40);
  EXPECT_EQ(At(*Render(e, *src), 2, 0), (Pixel{255, 255, 255, 255}));  // black is fully selected
  EXPECT_EQ(At(*Render(e, *src), 1, 0), (Pixel{0, 0, 0, 255}));
  e.Set("view", 1);
  EXPECT_FALSE(e.Active());
  e.Set("view", 0).Set("lBrightness", 0);
  EXPECT_FALSE(e.Active());
  e.Set("sBrightness", 1);
  EXPECT_TRUE(e.Active());
}

TEST(Relight, FullLightAtTheCentreNoneBeyondTheFalloff) {
  for (bool is16 : {false, true}) {
    Instance e(fx::effects::kRelight);
    e.Set("view", 1).Set("lBlurX", 0).Set("lBlurY", 0).Set("sRadius", 20).Set("sFalloffRadius", 30);
    const fx::RasterRef src = Flat(41, 41, {0, 0, 0, 0}, is16);
    const fx::RasterRef out = Render(e, *src);
    EXPECT_EQ(At(*out, 20, 20)[0], Full(is16));
    EXPECT_EQ(At(*out, 20 + 3, 20)[0], Full(is16));  // within the radius, 20 % of 20 pixels
    EXPECT_EQ(At(*out, 20 + 11, 20)[0], 0);          // beyond radius + falloff, 50 % of 20 pixels
    EXPECT_EQ(At(*out, 0, 0)[0], 0);
    EXPECT_GT(At(*out, 20 + 7, 20)[0], 0);
    EXPECT_LT(At(*out, 20 + 7, 20)[0], Full(is16));
  }
}

TEST(Relight, BrightnessZeroIsInactiveInTheOutputView) {
  Instance e(fx::effects::kRelight);
  EXPECT_TRUE(e.Active());
  e.Set("lBrightness", 0);
  EXPECT_FALSE(e.Active());
  e.Set("view", 1);
  EXPECT_TRUE(e.Active());
  e.Set("view", 3);
  EXPECT_FALSE(e.Active());
}

// --------------------------------------------------------------------- Star

namespace {

// One pass of the star composite: g = (k m / L) P / L, n passes, partial h.
int32_t StarPasses(int64_t p, int64_t m, int64_t k, int64_t n, int64_t r, int64_t L) {
  const int64_t g = (k * m / L) * p / L;
  for (int64_t i = 0; i < n; ++i) p = std::clamp<int64_t>(p + g - p * g / L, 0, L);
  if (r > 0) {
    const int64_t h = ((r * k / L) * m / L) * p / L;
    p = std::clamp<int64_t>(p + h - p * h / L, 0, L);
  }
  return static_cast<int32_t>(p);
}

}  // namespace

TEST(Star, SizeZeroIsTheMatteAndWholePassesFollowFullScale) {
  struct Case {
    bool is16;
    double brightness;
    int64_t n, r;
  };
  // 8-bit 100 % is one whole pass and no partial one; 16-bit 250 % is two
  // and a partial pass of 16384.
  for (const Case c : {Case{false, 100, 1, 0}, Case{true, 250, 2, 16384}, Case{false, 330, 3, 76}}) {
    const fx::RasterRef src = Small(c.is16);
    Instance e(fx::effects::kStar);
    e.Set("StarSize", 0).Set("StarBrightness", c.brightness).Set("mattePosition", 50).Set("matteRange", 50);
    fx::SetColour(e.P("StarColor"), {1.0, 0.5, 0.25});
    e.Set("view", 1);
    const fx::RasterRef selection = Render(e, *src);
    e.Set("view", 2);
    ExpectSame(*Render(e, *src), *selection, "Stars view");
    e.Set("view", 0);
    const fx::RasterRef out = Render(e, *src);
    const int64_t L = Full(c.is16);
    const int64_t k[3] = {L, static_cast<int64_t>(0.5 * L), static_cast<int64_t>(0.25 * L)};
    int lit = 0;
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 3; ++x) {
        const Pixel s = At(*src, x, y);
        const int64_t m = At(*selection, x, y)[0];
        Pixel want = s;
        if (m > 0)
          for (int ch = 0; ch < 3; ++ch) want[ch] = StarPasses(s[ch], m, k[ch], c.n, c.r, L);
        lit += want != s;
        EXPECT_EQ(At(*out, x, y), want) << c.is16 << " " << c.brightness << " at " << x << "," << y;
      }
    EXPECT_GE(lit, 2);
  }
}

TEST(Star, EightSpokesAroundABrightPixel) {
  for (bool is16 : {false, true}) {
    fx::RasterRef src = Flat(41, 41, {0, 0, 0, Full(is16)}, is16);
    for (int k = 0; k < 3; ++k) {
      if (is16)
        src->RowAs<uint16_t>(20)[4 * 20 + k] = 32768;
      else
        src->RowAs<uint8_t>(20)[4 * 20 + k] = 255;
    }
    Instance e(fx::effects::kStar);
    e.Set("view", 2).Set("StarSize", 250);
    const fx::RasterRef stars = Render(e, *src);
    const auto v = [&](int32_t dx, int32_t dy) { return At(*stars, 20 + dx, 20 + dy)[0]; };
    for (const auto& [dx, dy] :
         {std::pair{6, 0}, {-6, 0}, {0, 6}, {0, -6}, {4, 4}, {-4, -4}, {4, -4}, {-4, 4}}) {
      EXPECT_GT(v(dx, dy), 0) << dx << "," << dy;
    }
    // Off every spoke: more than two pixels from each of the four lines.
    EXPECT_EQ(v(6, 3), 0);
    EXPECT_EQ(v(-3, 6), 0);
  }
}

TEST(Star, BrightnessZeroIsInactive) {
  Instance e(fx::effects::kStar);
  EXPECT_TRUE(e.Active());
  e.Set("StarBrightness", 0);
  EXPECT_FALSE(e.Active());
  e.Set("view", 2);
  EXPECT_TRUE(e.Active());
  e.Set("view", 3);
  EXPECT_FALSE(e.Active());
}

// ---------------------------------------------------------------- Vari-Star

namespace {

// Black with bright pixels of the given 8-bit values (x 128 at 16 bits).
fx::RasterRef Points(bool is16Bit, const std::vector<std::array<int32_t, 3>>& points) {
  fx::RasterRef r = Flat(41, 41, {0, 0, 0, Full(is16Bit)}, is16Bit);
  for (const auto& [x, y, v] : points)
    for (int k = 0; k < 3; ++k) {
      if (is16Bit)
        r->RowAs<uint16_t>(y)[4 * x + k] = static_cast<uint16_t>(v * 128);
      else
        r->RowAs<uint8_t>(y)[4 * x + k] = static_cast<uint8_t>(v);
    }
  return r;
}

fx::RasterRef VariStars(const fx::Raster& src, int view, double density) {
  Instance e(fx::effects::kVariStar);
  e.Set("view", view).Set("density", density).Set("starBlur", 0).Set("radius1", 30).Set("spokes", 6);
  e.Set("angle", 10).Set("mattePosition", 70).Set("matteRange", 30);
  return Render(e, src);
}

}  // namespace

TEST(VariStar, NoiseOrDensityZeroKeepsTheMatte) {
  for (bool is16 : {false, true}) {
    const fx::RasterRef src = Small(is16);
    fx::MatteSettings m;
    m.centre = 0.7;
    m.width = 0.6;
    fx::RenderInfo info;
    info.imageWidth = 3;
    info.imageHeight = 2;
    fx::SelectionMatte builder;
    const fx::RasterRef matte = builder.Build(*src, src->Bounds(), info, m);
    for (const auto& [noise, density] : {std::pair{50.0, 0.0}, std::pair{0.0, 80.0}}) {
      Instance e(fx::effects::kVariStar);
      e.Set("view", 1)
          .Set("noise", noise)
          .Set("density", density)
          .Set("mattePosition", 70)
          .Set("matteRange", 30);
      const fx::RasterRef out = Render(e, *src);
      for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x) {
          const int32_t v = src->Is16Bit() ? matte->RowAs<uint16_t>(y)[x] : matte->RowAs<uint8_t>(y)[x];
          EXPECT_EQ(At(*out, x, y), (Pixel{v, v, v, Full(is16)})) << noise << " " << density;
        }
    }
  }
}

TEST(VariStar, OnePixelStampsTheKernelWeightedByItsMatte) {
  for (bool is16 : {false, true}) {
    const fx::RasterRef src = Points(is16, {{20, 20, 230}});
    const fx::RasterRef selection = VariStars(*src, 1, 0);
    const fx::RasterRef stars = VariStars(*src, 2, 0);
    const int32_t v = At(*selection, 20, 20)[0];
    ASSERT_GT(v, 0);
    fx::StarKernel k;
    k.Build({6, 0.3 * 41, 41 * 0.001, 10});
    for (int32_t y = 0; y < 41; ++y)
      for (int32_t x = 0; x < 41; ++x) {
        const int32_t dx = x - 20, dy = y - 20;
        const int32_t tap = std::abs(dx) <= k.Half() && std::abs(dy) <= k.Half()
                                ? k.Image()->RowAs<uint8_t>(dy + k.Half())[dx + k.Half()]
                                : 0;
        ASSERT_EQ(At(*stars, x, y)[0], tap * v / 255) << is16 << " at " << x << "," << y;
      }
  }
}

TEST(VariStar, OverlappingStampsKeepTheBrightest) {
  for (bool is16 : {false, true}) {
    const fx::RasterRef a = VariStars(*Points(is16, {{17, 19, 240}}), 2, 0);
    const fx::RasterRef b = VariStars(*Points(is16, {{22, 21, 200}}), 2, 0);
    const fx::RasterRef both = VariStars(*Points(is16, {{22, 21, 200}, {17, 19, 240}}), 2, 0);
    int overlaps = 0;
    for (int32_t y = 0; y < 41; ++y)
      for (int32_t x = 0; x < 41; ++x) {
        const int32_t u = At(*a, x, y)[0], w = At(*b, x, y)[0];
        overlaps += u > 0 && w > 0;
        ASSERT_EQ(At(*both, x, y)[0], std::max(u, w)) << is16 << " at " << x << "," << y;
      }
    EXPECT_GT(overlaps, 0);
  }
}

TEST(VariStar, StarsShowOverABlackSkyAndBrightnessZeroIsInactive) {
  const fx::RasterRef src = Points(false, {{20, 20, 240}});
  Instance e(fx::effects::kVariStar);
  e.Set("density", 0).Set("starBlur", 0);
  const fx::RasterRef out = Render(e, *src);
  EXPECT_GT(At(*out, 20, 17)[0], 0);  // up the first spoke, over black
  EXPECT_EQ(At(*out, 14, 14)[0], 0);
  e.Set("brightness", 0);
  EXPECT_FALSE(e.Active());
  e.Set("view", 2);
  EXPECT_TRUE(e.Active());
}
