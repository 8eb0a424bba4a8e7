#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <span>

#include "effects/colour_ops.h"
#include "effects/colour_tone.h"
#include "effects/selection_matte.h"
#include "effects/tone_range.h"
#include "imaging/tone_curve.h"
#include "tests/effects/effect_harness.h"

using namespace effecttest;

namespace {

struct PixelCase {
  const char* what;
  std::vector<std::pair<std::string, double>> set;
  Pixel in;
  Pixel out;
  bool is16Bit = false;
};

void Check(const fx::EffectRoutines& routines, const std::vector<PixelCase>& cases,
           const std::function<void(Instance&)>& setup = {}) {
  for (const PixelCase& c : cases) {
    Instance e(routines);
    if (setup) setup(e);
    for (const auto& [k, v] : c.set) e.Set(k, v);
    EXPECT_EQ(RenderPixel(e, c.in, c.is16Bit), c.out) << c.what;
  }
}

TEST(OverlayBlend, EightBitLightBranchUses511) {
  EXPECT_EQ(fx::OverlayBlend<uint8_t>(128, 0), 0);    // 510 would give 1
  EXPECT_EQ(fx::OverlayBlend<uint8_t>(128, 38), 38);  // 510 would give 39
  EXPECT_EQ(fx::OverlayBlend<uint8_t>(255, 255), 255);
  EXPECT_EQ(fx::OverlayBlend<uint8_t>(100, 124), 97);
  EXPECT_EQ(fx::OverlayBlend<uint16_t>(16384, 10174), 10174);
  EXPECT_EQ(fx::OverlayBlend<uint16_t>(16383, 32768), 32766);
  EXPECT_EQ(fx::OverlayBlend<uint16_t>(32768, 0), 32768);
}

TEST(BleachBypass, PixelsComputedByHand) {
  Check(fx::effects::kBleachBypass,
        {
            // Y = 124; overlay of (200, 100, 50) with 124.
            {"full amount", {}, {200, 100, 50, 255}, {198, 97, 48, 255}},
            // Y = 38: the red overlay is 38 with 511 in the light branch.
            {"511", {}, {128, 0, 0, 7}, {38, 0, 0, 7}},
            // alpha 127: (O * 127 + P * 128) / 255.
            {"half amount", {{"amount", 50}}, {200, 100, 50, 255}, {199, 98, 49, 255}},
            // red x 0.5, blue x 1.5 after the overlay.
            {"temperature", {{"temperature", 50}}, {200, 100, 50, 255}, {99, 97, 72, 255}},
            // A grey keeps its colour through the saturation step.
            {"grey with saturation", {{"saturation", 50}}, {100, 100, 100, 255}, {78, 78, 78, 255}},
            // HSV (20, 0.75, v) saturated to 1: (200, 66, 0), overlaid with Y of the source.
            {"saturation", {{"saturation", 50}}, {200, 100, 50, 255}, {198, 64, 0, 255}},
            // Y = 10174 in 16 bits.
            {"16-bit", {}, {16384, 8192, 4096, 32768}, {10174, 5087, 2543, 32768}, true},
        });
}

TEST(BleachBypass, ActiveRules) {
  Instance e(fx::effects::kBleachBypass);
  EXPECT_TRUE(e.Active());
  e.Set("amount", 0);
  EXPECT_FALSE(e.Active());
  e.Set("temperature", -5);
  EXPECT_TRUE(e.Active());
  e.Set("view", 1);
  EXPECT_FALSE(e.Active());
  EXPECT_STREQ(e->routines->displayName(&*e), "Ovra Bleach Bypass");
  EXPECT_EQ(e->parameterCount, 6u);
}

TEST(BlackAndWhite, FiltersComputedByHand) {
  const Pixel p8 = {200, 100, 50, 9}, p16 = {16384, 8192, 4096, 32768};
  Check(fx::effects::kBlackAndWhite,
        {
            {"normal", {}, p8, {124, 124, 124, 9}},
            {"red", {{"filter", 1}}, p8, {200, 200, 200, 9}},
            {"green", {{"filter", 2}}, p8, {100, 100, 100, 9}},
            {"blue", {{"filter", 3}}, p8, {50, 50, 50, 9}},
            {"yellow", {{"filter", 4}}, p8, {125, 125, 125, 9}},
            {"orange", {{"filter", 5}}, p8, {142, 142, 142, 9}},
            {"normal 16", {}, p16, {10199, 10199, 10199, 32768}, true},
            {"yellow 16", {{"filter", 4}}, p16, {10289, 10289, 10289, 32768}, true},
            {"orange 16", {{"filter", 5}}, p16, {11684, 11684, 11684, 32768}, true},
            // Through the tone table: contrast 25 % maps 151 to 159, brightness 20 % 100 to 120.
            {"contrast", {{"filter", 1}, {"contrast", 25}}, {151, 0, 0, 255}, {159, 159, 159, 255}},
            {"brightness", {{"filter", 1}, {"brightness", 20}}, {100, 0, 0, 255}, {120, 120, 120, 255}},
        });
}

TEST(BlackAndWhite, OriginalViewIsInactive) {
  Instance e(fx::effects::kBlackAndWhite);
  EXPECT_TRUE(e.Active());
  e.Set("view", 1);
  EXPECT_FALSE(e.Active());
}

using fx::ToneAdjustment;
using fx::ToneRangeEngine;

// A w x h source of varied colours (8-bit values, times 128 at 16 bits),
// with varied alpha; row 0 holds black, white and two greys.
fx::RasterRef Pattern(int32_t w, int32_t h, bool is16Bit) {
  std::vector<std::vector<Pixel>> rows(h, std::vector<Pixel>(w));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      Pixel p = {(x * 37 + y * 11) % 256, (x * x + 3 * y) % 256, (x * y * 7 + 5) % 256, (x + y * 5) % 256};
      if (y == 0 && x < 4) p = {x * 85, x * 85, x * 85, 200};
      if (is16Bit)
        for (int c = 0; c < 4; ++c) p[c] = p[c] * 128 + (p[c] == 255 ? 128 : 0);
      rows[y][x] = p;
    }
  return MakeRaster(rows, is16Bit);
}

// A row of greys 0..L in `count` steps, opaque.
fx::RasterRef GreyRamp(int32_t count, bool is16Bit) {
  const int32_t L = is16Bit ? 32768 : 255;
  std::vector<Pixel> row;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t v = static_cast<int32_t>(int64_t{i} * L / (count - 1));
    row.push_back({v, v, v, L});
  }
  return MakeRaster({row}, is16Bit);
}

fx::RasterRef Copy(const fx::Raster& r) {
  fx::RasterRef c = fx::MakeRaster(r.Width(), r.Height(), r.Channels(), r.BytesPerSample());
  c->CopyFrom(r);
  return c;
}

fx::Rect Whole(const fx::Raster& r) {
  return {0, 0, r.Height(), r.Width()};
}

void ExpectSame(const fx::Raster& a, const fx::Raster& b, const std::string& what) {
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x)
      ASSERT_EQ(At(a, x, y), At(b, x, y)) << what << " at " << x << "," << y;
}

int32_t FullScale(bool is16Bit) {
  return is16Bit ? 32768 : 255;
}

// Renders with the given view and returns the output.
fx::RasterRef RenderView(Instance& e, const fx::Raster& src, int view) {
  e.Set("view", view);
  return Render(e, src);
}

// ------------------------------------------------------------ shared operations

TEST(WarmCoolShift, FromSourceCopiesGreenAndAlpha) {
  const fx::RasterRef src = MakeRaster({{{100, 50, 120, 7}, {100, 50, 200, 9}}}, false);
  fx::RasterRef dst = fx::MakeRaster(2, 1, 4, 1);
  fx::WarmCoolShift(*src, *dst, Whole(*src), 1.0);
  EXPECT_EQ(At(*dst, 0, 0), (Pixel{0, 50, 240, 7}));
  EXPECT_EQ(At(*dst, 1, 0), (Pixel{0, 50, 255, 9}));
  fx::WarmCoolShift(*src, *dst, Whole(*src), 0.0);  // t = 0 copies
  ExpectSame(*dst, *src, "t = 0");
}

TEST(HighlightMask, IsTheLuminanceSelectionAtPosition100Range80) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef src = Pattern(23, 9, is16Bit);
    const fx::Rect rect = {1, 2, 8, 20};
    const fx::RasterRef mask = fx::HighlightMask(*src, rect);
    fx::SelectionMatte selection;
    fx::RenderInfo info;
    info.imageWidth = 23;
    info.imageHeight = 9;
    // Position 1.0 and range 0.8 are the builder's own units: the band's
    // width is the range itself, not twice it.
    fx::MatteSettings s;  // luminance
    s.centre = 1.0;
    s.width = 0.8;
    const fx::RasterRef expected = selection.Build(*src, rect, info, s);
    for (int32_t y = 0; y < 9; ++y)
      for (int32_t x = 0; x < 23; ++x) {
        const auto m = [&](const fx::Raster& r) {
          return is16Bit ? int32_t{r.RowAs<uint16_t>(y)[x]} : int32_t{r.RowAs<uint8_t>(y)[x]};
        };
        ASSERT_EQ(m(*mask), m(*expected)) << is16Bit << " " << x << "," << y;
        if (!rect.Contains(x, y)) {
          ASSERT_EQ(m(*mask), 0);
        }
      }
  }
}

struct TintCase {
  const char* what;
  fx::Rgb tint;
  fx::TintMode mode;
  double opacity, preserve;
  Pixel in, out;
  bool is16Bit = false;
};

TEST(TintOp, PixelsComputedByHand) {
  const fx::Rgb red = {1, 0, 0}, blue = {0, 0, 0.5};
  using M = fx::TintMode;
  const TintCase cases[] = {
      // Hue 0 at full saturation keeps the value: (v, 0, 0).
      {"hsv", red, M::kHsv, 1, 0, {200, 100, 50, 3}, {200, 0, 0, 3}},
      // e = 127, f = 128: (128 P + 127 T) / 255.
      {"half opacity", red, M::kHsv, 0.5, 0, {200, 100, 50, 3}, {200, 50, 25, 3}},
      // A grey takes the tint's hue and saturation ...
      {"grey in hsv", red, M::kHsv, 1, 0, {100, 100, 100, 255}, {100, 0, 0, 255}},
      // ... but keeps its own (none) in "Replace".
      {"grey replaced", red, M::kReplace, 1, 0, {100, 100, 100, 255}, {100, 100, 100, 255}},
      // The tint's hue 240 with the pixel's saturation 1.
      {"replace", blue, M::kReplace, 1, 0, {200, 0, 0, 255}, {0, 0, 200, 255}},
      // White tinted in "HSV"; in "HLS" the highlight matte is full there:
      // w = 255 * trunc(p 255) / 255 restores (all of) the pixel.
      {"white hsv", red, M::kHsv, 1, 1, {255, 255, 255, 255}, {255, 0, 0, 255}},
      {"white hls 100", red, M::kHls, 1, 1, {255, 255, 255, 255}, {255, 255, 255, 255}},
      {"white hls 50", red, M::kHls, 1, 0.5, {255, 255, 255, 255}, {255, 127, 127, 255}},
      {"white hls 50 16",
       red,
       M::kHls,
       1,
       0.5,
       {32768, 32768, 32768, 32768},
       {32768, 16384, 16384, 32768},
       true},
      {"hsv 16", red, M::kHsv, 1, 0, {25600, 12800, 6400, 1}, {25600, 0, 0, 1}, true},
  };
  for (const TintCase& c : cases) {
    fx::RasterRef r = MakeRaster({{c.in}}, c.is16Bit);
    fx::TintOp(*r, Whole(*r), c.tint, c.mode, c.opacity, c.preserve);
    EXPECT_EQ(At(*r, 0, 0), c.out) << c.what;
  }
}

// ------------------------------------------------------------ ToneRangeEngine

TEST(ToneRangeEngine, AllZeroLeavesEveryPixelAlone) {
  for (bool is16Bit : {false, true}) {
    ToneRangeEngine engine;
    EXPECT_TRUE(engine.IsPassThrough());
    // Moving a band's centre and width is no setting that changes pixels.
    engine.ConfigureBand(ToneRangeEngine::kMidtones, {}, 0.3, 0.1);
    engine.ConfigureFlash({{1, 0, 0}, 0});
    EXPECT_TRUE(engine.IsPassThrough());
    const fx::RasterRef src = Pattern(40, 7, is16Bit);
    fx::RasterRef dst = fx::MakeRaster(40, 7, 4, src->BytesPerSample());
    engine.Prepare(is16Bit);
    engine.Apply(*src, *dst, Whole(*src));
    ExpectSame(*dst, *src, "zero engine");
  }
}

TEST(ToneRangeEngine, EveryKindOfSettingEndsThePassThrough) {
  const auto passes = [](auto configure) {
    ToneRangeEngine e;
    configure(e);
    return e.IsPassThrough();
  };
  EXPECT_FALSE(passes([](ToneRangeEngine& e) { e.Configure({.hue = 1, .saturation = 0, .tone = {}}); }));
  EXPECT_FALSE(passes([](ToneRangeEngine& e) { e.Configure({.hue = 0, .saturation = -1, .tone = {}}); }));
  EXPECT_FALSE(passes([](ToneRangeEngine& e) { e.Configure({.tone = {.bend = 0.1}}); }));
  EXPECT_FALSE(passes([](ToneRangeEngine& e) { e.ConfigureFlash({{0, 0, 0}, 0.1}); }));
  EXPECT_FALSE(
      passes([](ToneRangeEngine& e) { e.ConfigureBand(ToneRangeEngine::kHighlights, {.green = 0.1}); }));
}

TEST(ToneRangeEngine, MasterGainThenFlash) {
  // Red gain 0.2: R = trunc(0.2 i + i). Flash 0.5 of red: g = trunc(0.5 L),
  // table = (g trunc(flash L) + table (L - g)) / L.
  struct Case {
    bool is16Bit;
    double flash;
    Pixel in, out;
  };
  const Case cases[] = {
      {false, 0, {100, 50, 200, 9}, {120, 50, 200, 9}},
      {false, 0.5, {100, 50, 200, 9}, {187, 25, 100, 9}},  // 47745/255, 6400/255, 25600/255
      {true, 0, {12800, 6400, 25600, 32768}, {15360, 6400, 25600, 32768}},
      // g = 16384: (16384 * 32768 + 15360 * 16384) / 32768 = 24064.
      {true, 0.5, {12800, 6400, 25600, 32768}, {24064, 3200, 12800, 32768}},
  };
  for (const Case& c : cases) {
    ToneRangeEngine e;
    e.Configure({.tone = {.red = 0.2}});
    e.ConfigureFlash({{1, 0, 0}, c.flash});
    fx::RasterRef r = MakeRaster({{c.in}}, c.is16Bit);
    e.Apply(*r, *r, Whole(*r));
    EXPECT_EQ(At(*r, 0, 0), c.out) << c.is16Bit << " " << c.flash;
  }
}

// offset_c[i] = trunc((i x step) sum over bands of ((curve[i] - i) / L + gain_c) w[i]),
// step the single-precision-looking 0.003921569 in 8-bit, exactly 1/32768 in 16-bit.
template <class S>
void CheckOffsets() {
  constexpr int32_t L = fx::Depth<S>::L;
  const double step = sizeof(S) == 1 ? 0.003921569 : 0.000030517578125;
  const ToneAdjustment shadows = {.brightness = 0.1, .contrast = 0.2, .bend = 0.3, .red = -0.2, .green = 0.1};
  const ToneAdjustment highlights = {.bend = -0.4, .blue = 0.5};
  ToneRangeEngine e;
  e.ConfigureBand(ToneRangeEngine::kShadows, shadows, 0.1, 0.7);
  e.ConfigureBand(ToneRangeEngine::kHighlights, highlights);  // default centre 1, width 0.8
  e.Prepare(sizeof(S) == 2);
  const std::vector<S> ws = fx::CurveTable<S>(fx::TonalBand(0.1, 0.7));
  const std::vector<S> wh = fx::CurveTable<S>(fx::TonalBand(1.0, 0.8));
  const std::vector<S> cs = fx::ToneShapeTable<S>(0.1, 0.2, 0.3);
  const std::vector<S> ch = fx::ToneShapeTable<S>(0, 0, -0.4);
  for (int c = 0; c < 3; ++c) {
    const std::span<const int32_t> offset = e.OffsetTable<S>(c);
    ASSERT_EQ(offset.size(), static_cast<std::size_t>(L + 1));
    for (int32_t i = 0; i <= L; ++i) {
      const double sum = ((double(cs[i]) - i) / L + shadows.Gain(c)) * ws[i] +
                         ((double(ch[i]) - i) / L + highlights.Gain(c)) * wh[i];
      ASSERT_EQ(offset[i], static_cast<int32_t>(i * step * sum)) << c << " " << i;
    }
    // The master tables are the identity: no master setting.
    EXPECT_EQ(e.ChannelTable<S>(c)[L / 3], L / 3);
  }
}

TEST(ToneRangeEngine, BandOffsetsByTheFormula) {
  CheckOffsets<uint8_t>();
  CheckOffsets<uint16_t>();
}

TEST(ToneRangeEngine, ApplyAddsTheOffsetOfTheLuminanceBeforeTheMasterTable) {
  // Highlights: blue gain 1 over the whole range (centre 1, width 2), master
  // red gain 0.1. White: Y = 255, w = 255, offset_b = trunc(255 x 0.003921569 x 255)
  // = 255; B = table[clamp(255 + 255)] = 255; R = trunc(0.1 x 255 + 255) clamped.
  ToneRangeEngine e;
  e.Configure({.tone = {.red = 0.1}});
  e.ConfigureBand(ToneRangeEngine::kHighlights, {.blue = 1}, 1.0, 2.0);
  fx::RasterRef r = MakeRaster({{{255, 255, 255, 4}, {0, 0, 0, 5}}}, false);
  e.Apply(*r, *r, Whole(*r));
  EXPECT_EQ(At(*r, 0, 0), (Pixel{255, 255, 255, 4}));
  EXPECT_EQ(At(*r, 1, 0), (Pixel{0, 0, 0, 5}));  // level 0 carries no offset
  // A mid grey: offsets follow the tables.
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef ramp = GreyRamp(9, is16Bit);
    fx::RasterRef out = Copy(*ramp);
    e.Apply(*ramp, *out, Whole(*ramp));
    const int32_t L = FullScale(is16Bit);
    for (int32_t x = 0; x < 9; ++x) {
      const int32_t v = At(*ramp, x, 0)[0];
      const int32_t offset = is16Bit ? e.OffsetTable<uint16_t>(2)[v] : e.OffsetTable<uint8_t>(2)[v];
      const int32_t red = is16Bit ? e.ChannelTable<uint16_t>(0)[v] : e.ChannelTable<uint8_t>(0)[v];
      EXPECT_EQ(At(*out, x, 0), (Pixel{red, v, std::min(L, v + offset), L})) << is16Bit << " " << v;
    }
  }
}

TEST(ToneRangeEngine, ZeroWidthBandHasNoWeightAwayFromItsCentre) {
  for (bool is16Bit : {false, true}) {
    ToneRangeEngine e;
    e.ConfigureBand(ToneRangeEngine::kMidtones, {.brightness = 0.5, .red = 1}, 0.5, 0);
    EXPECT_EQ(e.Width(ToneRangeEngine::kMidtones), 0);
    const fx::RasterRef ramp = GreyRamp(257, is16Bit);
    fx::RasterRef shown = Copy(*ramp);
    e.ShowBand(*ramp, *shown, Whole(*ramp), ToneRangeEngine::kMidtones);
    fx::RasterRef out = Copy(*ramp);
    e.Apply(*ramp, *out, Whole(*ramp));
    const int32_t half = FullScale(is16Bit) / 2;
    for (int32_t x = 0; x < 257; ++x) {
      const Pixel in = At(*ramp, x, 0);
      if (in[0] == half) continue;  // the centre itself
      EXPECT_EQ(At(*shown, x, 0), (Pixel{0, 0, 0, in[3]})) << is16Bit << " " << in[0];
      EXPECT_EQ(At(*out, x, 0), in) << is16Bit << " " << in[0];
    }
  }
}

TEST(ToneRangeEngine, NegativeCentreOrWidthKeepsTheBandWhereItWas) {
  ToneRangeEngine e;
  e.ConfigureBand(ToneRangeEngine::kShadows, {}, 0.25, 0.5);
  e.ConfigureBand(ToneRangeEngine::kShadows, {.red = 0.1});
  EXPECT_EQ(e.Centre(ToneRangeEngine::kShadows), 0.25);
  EXPECT_EQ(e.Width(ToneRangeEngine::kShadows), 0.5);
  e.ConfigureBand(ToneRangeEngine::kShadows, {.red = 0.1}, -1, 0.3);
  EXPECT_EQ(e.Centre(ToneRangeEngine::kShadows), 0.25);
  EXPECT_EQ(e.Width(ToneRangeEngine::kShadows), 0.3);
  EXPECT_EQ(e.Centre(ToneRangeEngine::kHighlights), 1.0);
  EXPECT_EQ(e.Width(ToneRangeEngine::kMidtones), 0.4);
}

TEST(ToneRangeEngine, TablesFollowEveryChangeAtBothDepths) {
  ToneRangeEngine e;
  e.Configure({.tone = {.green = 0.5}});
  e.Prepare(false);
  e.Prepare(true);
  EXPECT_EQ(e.ChannelTable<uint8_t>(1)[100], 150);
  EXPECT_EQ(e.ChannelTable<uint16_t>(1)[10000], 15000);
  e.Configure({.tone = {.green = -0.5}});
  e.Prepare(false);
  EXPECT_EQ(e.ChannelTable<uint8_t>(1)[100], 50);
  e.Prepare(true);
  EXPECT_EQ(e.ChannelTable<uint16_t>(1)[10000], 5000);
  // A band's centre moving rebuilds its weights.
  e.ConfigureBand(ToneRangeEngine::kMidtones, {.red = 0.5}, 0.2, 0.1);
  e.Prepare(false);
  const int32_t atOldCentre = e.OffsetTable<uint8_t>(0)[128];
  EXPECT_EQ(atOldCentre, 0);
  EXPECT_GT(e.OffsetTable<uint8_t>(0)[51], 0);
  e.ConfigureBand(ToneRangeEngine::kMidtones, {.red = 0.5}, 0.5, 0.1);
  e.Prepare(false);
  EXPECT_GT(e.OffsetTable<uint8_t>(0)[128], 0);
  EXPECT_EQ(e.OffsetTable<uint8_t>(0)[51], 0);
}

// ------------------------------------------------------------ Color Correct

TEST(ColorCorrect, InactiveAtItsDefaultsButForTheBandViews) {
  Instance e(fx::effects::kColorCorrect);
  EXPECT_EQ(e->parameterCount, 44u);
  EXPECT_FALSE(e.Active());
  for (int view : {1, 2, 3}) EXPECT_TRUE(e.Set("view", view).Active()) << view;
  EXPECT_FALSE(e.Set("view", 4).Active());
  e.Set("view", 0);
  // The flash colour alone is not a change; its amount is.
  e.P("ccTintColor").colour = {1, 0, 0};
  EXPECT_FALSE(e.Active());
  EXPECT_TRUE(e.Set("ccTintAmount", 1).Active());
  EXPECT_TRUE(e.Set("ccTintAmount", 0).Set("ccMidG", -1).Active());
  EXPECT_FALSE(e.Set("ccMidG", 0).Set("ccMidPos", 20).Active());
  EXPECT_TRUE(e.Set("ccMasterHue", 5).Active());
}

TEST(ColorCorrect, MasterGainAndFlash) {
  Check(fx::effects::kColorCorrect,
        {
            {"red 20", {{"ccMasterR", 20}}, {100, 50, 200, 9}, {120, 50, 200, 9}},
            // Flash 50 % of white: g = 127, (127 * 255 + t * 128) / 255.
            {"flash", {{"ccMasterR", 20}, {"ccTintAmount", 50}}, {100, 50, 200, 9}, {187, 152, 227, 9}},
            {"16-bit", {{"ccMasterR", 20}}, {12800, 6400, 25600, 32768}, {15360, 6400, 25600, 32768}, true},
        });
}

TEST(ColorCorrect, BandViewsShowTheBandWeightWithTheSourceAlpha) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef src = Pattern(20, 6, is16Bit);
    Instance e(fx::effects::kColorCorrect);
    e.Set("ccMidPos", 30).Set("ccMidRange", 25);
    const fx::RasterRef out = RenderView(e, *src, 2);
    const int32_t L = FullScale(is16Bit);
    const auto table = [&](int32_t y) {
      return is16Bit ? int32_t{fx::CurveTable<uint16_t>(fx::TonalBand(0.3, 0.25))[y]}
                     : int32_t{fx::CurveTable<uint8_t>(fx::TonalBand(0.3, 0.25))[y]};
    };
    for (int32_t y = 0; y < 6; ++y)
      for (int32_t x = 0; x < 20; ++x) {
        const Pixel p = At(*src, x, y);
        const int32_t lum =
            is16Bit ? fx::Depth16::Luminance(p[0], p[1], p[2]) : fx::Depth8::Luminance(p[0], p[1], p[2]);
        const int32_t w = table(std::min(lum, L));
        ASSERT_EQ(At(*out, x, y), (Pixel{w, w, w, p[3]})) << is16Bit << " " << x << "," << y;
      }
  }
}

// ------------------------------------------------------------ Cross Processing

TEST(CrossProcessing, FullAmountIsTheOverlayOfTheSourceOnTheShiftedCopy) {
  for (bool is16Bit : {false, true}) {
    for (int mode : {0, 1}) {
      const fx::RasterRef src = Pattern(30, 5, is16Bit);
      // The shifted copy C as the mode's row of settings gives it for x.
      const auto shiftedCopy = [&](double x) {
        ToneRangeEngine c;
        if (mode == 0)
          c.Configure({.saturation = 0.2 * x, .tone = {.bend = 0.1 * x, .red = -0.7 * x, .blue = 0.2 * x}});
        else
          c.Configure({.tone = {.bend = 0.7 * x, .red = -0.5 * x, .blue = 1.0 * x}});
        fx::RasterRef shifted = Copy(*src);
        c.Apply(*src, *shifted, Whole(*src));
        return shifted;
      };
      const auto overlay = [&](const Pixel& s, const Pixel& c) {
        Pixel v;
        for (int i = 0; i < 3; ++i)
          v[i] = is16Bit ? fx::OverlayBlend<uint16_t>(s[i], c[i]) : fx::OverlayBlend<uint8_t>(s[i], c[i]);
        v[3] = c[3];
        return v;
      };
      Instance e(fx::effects::kCrossProcessing);
      e.Set("mode", mode);
      const fx::RasterRef full = Render(e, *src), fullCopy = shiftedCopy(1.0);
      e.Set("amount", 50);
      const fx::RasterRef half = Render(e, *src), halfCopy = shiftedCopy(0.5);
      const int32_t L = FullScale(is16Bit), k = is16Bit ? 16384 : 127;
      for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 30; ++x) {
          const Pixel s = At(*src, x, y);
          ASSERT_EQ(At(*full, x, y), overlay(s, At(*fullCopy, x, y)))
              << is16Bit << mode << " " << x << "," << y;
          const Pixel c = At(*halfCopy, x, y), v = overlay(s, c);
          Pixel mixed;
          for (int i = 0; i < 4; ++i) mixed[i] = (c[i] * (L - k) + v[i] * k) / L;
          ASSERT_EQ(At(*half, x, y), mixed) << is16Bit << mode << " " << x << "," << y;
        }
    }
  }
}

TEST(CrossProcessing, ZeroAmountOrOriginalIsInactive) {
  Instance e(fx::effects::kCrossProcessing);
  EXPECT_EQ(e.P("mode").listIndex, 1);
  EXPECT_TRUE(e.Active());
  EXPECT_FALSE(e.Set("amount", 0).Active());
  EXPECT_FALSE(e.Set("amount", 10).Set("view", 1).Active());
}

// ------------------------------------------------------------ Tint

TEST(Tint, PreserveHighlightsOnlyInHlsAndTheGradSwitch) {
  Instance e(fx::effects::kTint);
  const int mode = fx::IndexOfKey(*e, "tintMode"), enable = fx::IndexOfKey(*e, "gradEnable");
  EXPECT_EQ(e.P("tintMode").listIndex, 1);
  EXPECT_EQ(e->parameters[mode].flags & fx::kNotify, fx::kNotify);
  for (int m : {0, 2, 1}) {
    e.Set("tintMode", m);
    e->routines->parameterChanged(&*e, mode);
    EXPECT_EQ(e.P("highlights").Enabled(), m == 1) << m;
  }
  e.Set("gradEnable", 1);
  e->routines->parameterChanged(&*e, enable);
  for (const char* k : {"grad_nd", "dir", "grad_size", "ul", "ur", "lr", "ll"})
    EXPECT_TRUE(e.P(k).Enabled()) << k;
  e.Set("gradEnable", 0);
  e->routines->parameterChanged(&*e, enable);
  for (const char* k : {"grad_nd", "dir", "grad_size", "ul", "ur", "lr", "ll"})
    EXPECT_FALSE(e.P(k).Enabled()) << k;
  EXPECT_TRUE(e.P("highlights").Enabled());
  EXPECT_EQ(e.P("ul").flags & fx::kHidden, fx::kHidden);
  EXPECT_EQ(e.P("ur").flags & fx::kHidden, 0u);
}

TEST(Tint, ActiveRules) {
  Instance e(fx::effects::kTint);
  EXPECT_TRUE(e.Active());
  EXPECT_FALSE(e.Set("opacity", 0).Active());
  EXPECT_FALSE(e.Set("gradEnable", 1).Set("grad_nd", 50).Active());  // opacity alone decides "Output"
  EXPECT_TRUE(e.Set("view", 1).Active());
  EXPECT_FALSE(e.Set("view", 2).Active());
}

TEST(Tint, TheGradConfinesTheTint) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef src = Pattern(12, 16, is16Bit);
    Instance e(fx::effects::kTint);
    e.Set("tintMode", 0);
    const fx::RasterRef tinted = Render(e, *src);
    e.Set("gradEnable", 1).Set("grad_size", 60);
    const fx::RasterRef grad = RenderView(e, *src, 1);
    const fx::RasterRef confined = RenderView(e, *src, 0);
    const int32_t L = FullScale(is16Bit);
    int high = 0, low = 0;
    for (int32_t y = 0; y < 16; ++y)
      for (int32_t x = 0; x < 12; ++x) {
        const Pixel s = At(*src, x, y), t = At(*tinted, x, y), g = At(*grad, x, y);
        const int32_t m = g[0];
        ASSERT_EQ(g, (Pixel{m, m, m, s[3]}));
        Pixel expected;
        for (int c = 0; c < 3; ++c) expected[c] = (t[c] * m + s[c] * (L - m)) / L;
        expected[3] = s[3];
        ASSERT_EQ(At(*confined, x, y), expected) << is16Bit << " " << x << "," << y;
        high += m == L;
        low += m == 0;
      }
    EXPECT_GT(high, 0);
    EXPECT_GT(low, 0);
  }
}

// ------------------------------------------------------------ Mono Tint

TEST(MonoTint, BlackAndWhiteThenTheGel) {
  Check(fx::effects::kMonoTint,
        {
            // Normal grey 124, then the gel (1, 0.5, 0.25) without highlights.
            {"gel", {{"highlights", 0}}, {200, 100, 50, 9}, {124, 62, 31, 9}},
            {"no opacity", {{"gelOpacity", 0}}, {200, 100, 50, 9}, {124, 124, 124, 9}},
            {"red filter", {{"filter", 1}, {"highlights", 0}}, {200, 100, 50, 9}, {200, 100, 50, 9}},
            {"16-bit", {{"highlights", 0}}, {16384, 8192, 4096, 32768}, {10199, 5099, 2549, 32768}, true},
        },
        [](Instance& e) {
          e.P("gelColor").colour = {1, 0.5, 0.25};
        });
}

TEST(MonoTint, DefaultGelKeepsTheHighlights) {
  // White through the default gel: the highlight matte gives back half of
  // the filtered-away light (Preserve Highlights 50).
  Instance e(fx::effects::kMonoTint);
  const Pixel out = RenderPixel(e, {255, 255, 255, 255}, false);
  // F = (255, trunc(255 x 128/255), trunc(255 x 63/255)) = (255, 128, 63);
  // w = 255 x 127 / 255 = 127: (F x 128 + 255 x 127) / 255.
  EXPECT_EQ(out, (Pixel{255, 191, 158, 255}));
  EXPECT_FALSE(e.Set("view", 1).Active());
}

// ------------------------------------------------------------ Temperature

TEST(Temperature, TemperatureAndCyanMagentaAsGains) {
  Check(
      fx::effects::kTemperature,
      {
          // t = 0.5: red gain -0.5, blue +0.5.
          {"warm", {{"temperature", 50}}, {100, 100, 100, 7}, {50, 100, 150, 7}},
          // m = 0.25: red (1.25) - 1, green 0.75 - 1, blue 1.25 - 1.
          {"magenta", {{"cyanMagenta", 25}}, {100, 100, 100, 7}, {125, 75, 125, 7}},
          // t = 0.5, m = -0.25: red 0.5 x 0.75 - 1, green 1.25 - 1, blue 1.5 x 1.25 - 1.
          {"both", {{"temperature", 50}, {"cyanMagenta", -25}}, {80, 80, 80, 7}, {30, 100, 150, 7}},
          {"16-bit", {{"temperature", 50}}, {10000, 10000, 10000, 32768}, {5000, 10000, 15000, 32768}, true},
          {"defaults", {}, {12, 200, 99, 1}, {12, 200, 99, 1}},
      });
  Instance e(fx::effects::kTemperature);
  EXPECT_TRUE(e.Active());
  EXPECT_TRUE(e.Set("view", 3).Active());
  EXPECT_FALSE(e.Set("view", 4).Active());
}

TEST(Temperature, BandGainsFollowTheBand) {
  // Highlights warmed: white gets the full band weight, black none.
  Instance e(fx::effects::kTemperature);
  e.Set("Htemperature", 100).Set("Hrange", 100);
  const fx::RasterRef src = MakeRaster({{{255, 255, 255, 255}, {0, 0, 0, 255}, {90, 90, 90, 255}}}, false);
  const fx::RasterRef out = Render(e, *src);
  // red gain (1 - 1) - 1 = -1, blue (1 + 1) - 1 = 1: offsets -w and +w at
  // white, w the band's weight there (trunc(255 x 0.003921569 x w) = w).
  const int32_t w = fx::CurveTable<uint8_t>(fx::TonalBand(1.0, 1.0))[255];
  EXPECT_GT(w, 250);
  EXPECT_EQ(At(*out, 0, 0), (Pixel{255 - w, 255, 255, 255}));
  EXPECT_EQ(At(*out, 1, 0), (Pixel{0, 0, 0, 255}));
  const Pixel grey = At(*out, 2, 0);
  EXPECT_LT(grey[0], 90);
  EXPECT_EQ(grey[1], 90);
  EXPECT_GT(grey[2], 90);
}

// ------------------------------------------------------------ Warm/Cool, Fluorescent

TEST(WarmCool, HundredDoublesBlueAndZeroesRed) {
  Check(fx::effects::kWarmCool,
        {
            {"8", {{"temperature", 100}}, {100, 50, 120, 7}, {0, 50, 240, 7}},
            {"clamped", {{"temperature", 100}}, {100, 50, 200, 7}, {0, 50, 255, 7}},
            {"16", {{"temperature", 100}}, {16384, 1000, 10000, 32768}, {0, 1000, 20000, 32768}, true},
            {"16 clamped", {{"temperature", 100}}, {16384, 1000, 20000, 5}, {0, 1000, 32768, 5}, true},
            {"warmer", {{"temperature", -50}}, {100, 50, 120, 7}, {150, 50, 60, 7}},
        });
  Instance e(fx::effects::kWarmCool);
  EXPECT_FALSE(e.Active());
  EXPECT_TRUE(e.Set("temperature", -1).Active());
  EXPECT_FALSE(e.Set("view", 1).Active());
}

TEST(Fluorescent, GreenOutBlueInThenLifted) {
  Check(fx::effects::kFluorescent, {
                                       // d = 51: G 49 -> 58, B 151 -> 181, R 120.
                                       {"20", {{"temperature", 20}}, {100, 100, 100, 7}, {120, 58, 181, 7}},
                                       // d = 6553: G 6247 -> 7496, B 19353 -> 23223, R 15360.
                                       {"20 16-bit",
                                        {{"temperature", 20}},
                                        {12800, 12800, 12800, 32768},
                                        {15360, 7496, 23223, 32768},
                                        true},
                                       // G never goes below 0; B and R clamp at full scale.
                                       {"clamps", {{"temperature", 20}}, {240, 30, 230, 1}, {255, 0, 255, 1}},
                                       {"zero", {}, {240, 30, 230, 1}, {240, 30, 230, 1}},
                                   });
  Instance e(fx::effects::kFluorescent);
  EXPECT_FALSE(e.Active());
  EXPECT_TRUE(e.Set("temperature", 5).Active());
  EXPECT_FALSE(e.Set("view", 1).Active());
}

// ------------------------------------------------------------ Color Temperature

TEST(ColorTemperature, ColourMatchingTable) {
  const auto rows = fx::effects::ColourMatchingFunctions();
  ASSERT_EQ(rows.size(), 69u);
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].nm, 390 + 5 * static_cast<int32_t>(i));
  const auto row = [&](int32_t nm) { return rows[(nm - 390) / 5]; };
  EXPECT_EQ(row(390).r, 0.0018397);
  EXPECT_EQ(row(390).g, -0.00045393);
  EXPECT_EQ(row(390).b, 0.012152);
  EXPECT_EQ(row(540).r, 0.41976);
  EXPECT_EQ(row(540).g, 1.0512);
  EXPECT_EQ(row(540).b, -0.012191);
  EXPECT_EQ(row(590).r, 2.6725);
  EXPECT_EQ(row(590).g, 0.47675);
  EXPECT_EQ(row(590).b, -0.007021);
  // Each function peaks where the published curves do: red near 600 nm,
  // green near 540 nm, blue near 445 nm ...
  const auto peak = [&](double fx::effects::ColourMatchingRow::*c) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < rows.size(); ++i)
      if (rows[i].*c > rows[best].*c) best = i;
    return rows[best].nm;
  };
  EXPECT_EQ(peak(&fx::effects::ColourMatchingRow::r), 600);
  EXPECT_NEAR(peak(&fx::effects::ColourMatchingRow::g), 540, 5);
  EXPECT_EQ(peak(&fx::effects::ColourMatchingRow::b), 445);
  // ... and the curves are smooth: no bend sharper than 15 % of the peak
  // over two steps, and wherever the curve is above 5 % of its peak each
  // value lies within a factor of three of its neighbours' (a misplaced
  // digit or exponent breaks one or the other).
  for (auto c : {&fx::effects::ColourMatchingRow::r, &fx::effects::ColourMatchingRow::g,
                 &fx::effects::ColourMatchingRow::b}) {
    double top = 0;
    for (const auto& row : rows) top = std::max(top, std::fabs(row.*c));
    for (std::size_t i = 1; i + 1 < rows.size(); ++i) {
      const double a = rows[i - 1].*c, v = rows[i].*c, b = rows[i + 1].*c;
      EXPECT_LT(std::fabs(a - 2 * v + b), 0.15 * top) << rows[i].nm;
      if (std::min({std::fabs(a), std::fabs(v), std::fabs(b)}) < 0.05 * top || a * v <= 0 || v * b <= 0)
        continue;
      EXPECT_LT(std::fabs(std::log(v / a)), std::log(3.0)) << rows[i].nm;
      EXPECT_LT(std::fabs(std::log(v / b)), std::log(3.0)) << rows[i].nm;
    }
  }
}

TEST(ColorTemperature, LightSources) {
  const auto sources = fx::effects::LightSources();
  ASSERT_EQ(sources.size(), 60u);
  EXPECT_STREQ(sources[0].name, "Custom");
  EXPECT_EQ(sources[0].kelvin, 3200);
  EXPECT_STREQ(sources[7].name, "Incandescent Carbon-4 watts\\candle (2080K)");
  EXPECT_EQ(sources[7].kelvin, 2080);
  EXPECT_STREQ(sources[10].name, "Acetylene Lamp  (2415K)");
  EXPECT_EQ(sources[59].kelvin, 12000);
  for (const auto& s : sources) {
    EXPECT_GE(s.kelvin, 1300) << s.name;
    EXPECT_LE(s.kelvin, 14000) << s.name;
  }
}

TEST(ColorTemperature, Factors) {
  // Equal temperatures: exactly 1 (q16 / 256 is a real division; with an
  // integer one the factor would be 254 / 255).
  for (double k : {1300.0, 3200.0, 5500.0, 14000.0}) {
    const auto f = fx::effects::ColorTemperatureFactors(k, k);
    EXPECT_EQ(f, (std::array<double, 3>{1, 1, 1})) << k;
  }
  // Light of 3200 K seen as 5500 K: bluer; the other way round, redder.
  EXPECT_EQ(fx::effects::ColorTemperatureFactors(3200, 5500),
            (std::array<double, 3>{86 / 255.0, 121 / 255.0, 1}));
  EXPECT_EQ(fx::effects::ColorTemperatureFactors(5500, 3200),
            (std::array<double, 3>{1, 181 / 255.0, 86 / 255.0}));
  EXPECT_EQ(fx::effects::ColorTemperatureFactors(14000, 1300), (std::array<double, 3>{1, 48 / 255.0, 0}));
}

TEST(ColorTemperature, EqualKelvinsLeaveTheImageAlone) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef src = Pattern(25, 6, is16Bit);
    Instance e(fx::effects::kColorTemperature);
    e.Set("destKelvin", 4321).Set("sourceKelvin", 4321);
    ASSERT_TRUE(e.Active());
    ExpectSame(*Render(e, *src), *src, "equal");
  }
}

TEST(ColorTemperature, FactorsExposureOpacity) {
  // 5500 K seen as 3200 K: factors (255, 181, 86) / 255; no highlights.
  const std::vector<std::pair<std::string, double>> base = {
      {"sourceKelvin", 5500}, {"destKelvin", 3200}, {"highlights", 0}};
  auto with = [&](std::vector<std::pair<std::string, double>> more) {
    more.insert(more.begin(), base.begin(), base.end());
    return more;
  };
  Check(fx::effects::kColorTemperature,
        {
            {"factors", with({}), {200, 100, 50, 9}, {200, 70, 16, 9}},
            // Y 124 - Y 102 = 22, trunc(0.5 x 22) = 11 added.
            {"exposure", with({{"exposure", 50}}), {200, 100, 50, 9}, {211, 81, 27, 9}},
            // o = 127: (128 P + 127 F) / 255.
            {"opacity", with({{"exposure", 50}, {"opacity", 50}}), {200, 100, 50, 9}, {205, 90, 38, 9}},
            {"16-bit", with({}), {25600, 12800, 6400, 32768}, {25600, 9085, 2158, 32768}, true},
        });
}

TEST(ColorTemperature, HighlightsComeBackThroughTheMatte) {
  // White: the matte is full; Preserve Highlights 50 gives back 127 / 255.
  Instance e(fx::effects::kColorTemperature);
  e.Set("sourceKelvin", 5500).Set("destKelvin", 3200);
  // F = (255, 181, 86); (F x 128 + 255 x 127) / 255.
  EXPECT_EQ(RenderPixel(e, {255, 255, 255, 255}, false), (Pixel{255, 217, 170, 255}));
  e.Set("highlights", 100);
  EXPECT_EQ(RenderPixel(e, {255, 255, 255, 255}, false), (Pixel{255, 255, 255, 255}));
}

TEST(ColorTemperature, PresetsAgainstDestinationKelvin) {
  const int presets = 3;
  for (bool is16Bit : {false, true}) {
    const Pixel in = is16Bit ? Pixel{25000, 12000, 6000, 32768} : Pixel{200, 100, 50, 255};
    for (bool held : {false, true}) {
      SCOPED_TRACE(std::string(is16Bit ? "16-bit" : "8-bit") + (held ? " held" : " not held"));
      Instance e(fx::effects::kColorTemperature);
      ASSERT_EQ(fx::IndexOfKey(*e, "presets"), presets);
      if (held) e->flags |= fx::kHeldByRegistry;
      e.Set("sourceKelvin", 5500);
      ASSERT_EQ(fx::effects::LightSources()[43].kelvin, 5500);  // "Photographic Daylight (5500K)"
      // A recorded action carries the preset with the parameter left as it
      // was: the preset's Kelvin is the destination, Ts = Td.
      e.Set("presets", 43);
      ASSERT_EQ(e.P("destKelvin").number, 3200);
      EXPECT_EQ(RenderPixel(e, in, is16Bit), in);
      e->routines->parameterChanged(&*e, presets);
      if (held) {
        // The registry's instance takes the Kelvin into the parameter, which
        // stays editable.
        EXPECT_EQ(e.P("destKelvin").number, 5500);
        EXPECT_TRUE(e.P("destKelvin").Enabled());
        EXPECT_EQ(e.P("destKelvin").flags & 0x20000000u, 0x20000000u);
      } else {
        // Other instances grey the parameter out.
        EXPECT_EQ(e.P("destKelvin").number, 3200);
        EXPECT_FALSE(e.P("destKelvin").Enabled());
      }
      EXPECT_EQ(RenderPixel(e, in, is16Bit), in);
      e.Set("destKelvin", 3200);
      EXPECT_EQ(RenderPixel(e, in, is16Bit), in);
      // Without a preset the parameter is the destination.
      e.Set("presets", 0);
      e->routines->parameterChanged(&*e, presets);
      EXPECT_TRUE(e.P("destKelvin").Enabled());
      EXPECT_NE(RenderPixel(e, in, is16Bit), in);
    }
  }
}

TEST(ColorTemperature, ParametersAndActiveRules) {
  Instance e(fx::effects::kColorTemperature);
  EXPECT_EQ(e->parameterCount, 20u);
  EXPECT_EQ(e.P("presets").flags & 0x310u, 0x310u);
  EXPECT_TRUE(e.Active());
  EXPECT_FALSE(e.Set("opacity", 0).Active());
  EXPECT_FALSE(e.Set("gradEnable", 1).Active());
  EXPECT_TRUE(e.Set("grad_nd", 10).Active());
  EXPECT_TRUE(e.Set("view", 1).Active());
  EXPECT_FALSE(e.Set("view", 2).Active());
  e.Set("gradEnable", 0);
  e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, "gradEnable"));
  for (const char* k : {"grad_nd", "dir", "grad_size", "ul", "ur", "lr", "ll"})
    EXPECT_FALSE(e.P(k).Enabled()) << k;
}

// ------------------------------------------------------------ Selective Saturation

TEST(SelectiveSaturation, LeavesGreyUntouched) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef ramp = GreyRamp(101, is16Bit);
    Instance e(fx::effects::kSelectiveSaturation);
    e.Set("sSat", 100).Set("mSat", -100).Set("hSat", 70);
    ExpectSame(*Render(e, *ramp), *ramp, "greys");
  }
}

TEST(SelectiveSaturation, ChannelsMoveAwayFromTheLuminanceByTheWeightedSaturation) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef src = Pattern(30, 6, is16Bit);
    Instance e(fx::effects::kSelectiveSaturation);
    e.Set("sSat", 80).Set("mSat", -60).Set("hSat", 100).Set("mPos", 40).Set("hRange", 60);
    const fx::RasterRef out = Render(e, *src);
    const int32_t L = FullScale(is16Bit);
    const auto table = [&](double c, double w) {
      std::vector<int32_t> t;
      if (is16Bit)
        for (auto v : fx::CurveTable<uint16_t>(fx::TonalBand(c, w))) t.push_back(v);
      else
        for (auto v : fx::CurveTable<uint8_t>(fx::TonalBand(c, w))) t.push_back(v);
      return t;
    };
    const std::vector<int32_t> ws = table(0, 0.8), wm = table(0.4, 0.4), wh = table(1.0, 0.6);
    for (int32_t y = 0; y < 6; ++y)
      for (int32_t x = 0; x < 30; ++x) {
        const Pixel p = At(*src, x, y);
        const int32_t lum =
            is16Bit ? fx::Depth16::Luminance(p[0], p[1], p[2]) : fx::Depth8::Luminance(p[0], p[1], p[2]);
        const double s = 0.8 * ws[lum] / L + -0.6 * wm[lum] / L + 1.0 * wh[lum] / L;
        Pixel expected;
        for (int c = 0; c < 3; ++c)
          expected[c] = std::clamp<int32_t>(static_cast<int32_t>(s * (p[c] - lum) + p[c]), 0, L);
        expected[3] = p[3];
        ASSERT_EQ(At(*out, x, y), expected) << is16Bit << " " << x << "," << y;
      }
    EXPECT_FALSE(e.Set("view", 4).Active());
    EXPECT_TRUE(e.Set("view", 0).Active());
    EXPECT_FALSE(e.Set("sSat", 0).Set("mSat", 0).Set("hSat", 0).Active());
  }
}

// ------------------------------------------------------------ Ultra Contrast

TEST(UltraContrast, OnlyTheHighlightsTermCarriesTheLevel) {
  for (bool is16Bit : {false, true}) {
    const int32_t L = FullScale(is16Bit);
    const fx::RasterRef ramp = GreyRamp(L + 1, is16Bit);
    const auto tables = [&](double c, double w, double bend, std::vector<int32_t>& weight,
                            std::vector<int32_t>& curve) {
      if (is16Bit) {
        for (auto v : fx::CurveTable<uint16_t>(fx::TonalBand(c, w))) weight.push_back(v);
        for (auto v : fx::ToneShapeTable<uint16_t>(0, 0, bend)) curve.push_back(v);
      } else {
        for (auto v : fx::CurveTable<uint8_t>(fx::TonalBand(c, w))) weight.push_back(v);
        for (auto v : fx::ToneShapeTable<uint8_t>(0, 0, bend)) curve.push_back(v);
      }
    };
    std::vector<int32_t> ws, cs, wh, ch;
    tables(0, 0.8, 0.4, ws, cs);     // shadows: bend +40 %
    tables(1.0, 0.8, -0.3, wh, ch);  // highlights: bend -30 %
    for (bool shadows : {true, false}) {
      Instance e(fx::effects::kUltraContrast);
      e.Set("sGamma", shadows ? 40 : 0).Set("hGamma", shadows ? 0 : 30);
      const fx::RasterRef out = Render(e, *ramp);
      int differs = 0;
      for (int32_t i = 0; i <= L; ++i) {
        const double level = static_cast<double>(i) / L;
        const double term = shadows ? (double(cs[i]) - i) / L * ws[i] : (double(ch[i]) - i) / L * wh[i];
        const int32_t right = static_cast<int32_t>(shadows ? term : term * level);
        const int32_t wrong = static_cast<int32_t>(shadows ? term * level : term);
        differs += right != wrong;
        ASSERT_EQ(At(*out, i, 0)[0], std::clamp(i + right, 0, L)) << is16Bit << shadows << " " << i;
      }
      EXPECT_GT(differs, L / 10) << is16Bit << shadows;
    }
  }
}

TEST(UltraContrast, ViewsShowTheBandsWithFullAlpha) {
  Instance e(fx::effects::kUltraContrast);
  const fx::RasterRef src = MakeRaster({{{255, 255, 255, 3}, {0, 0, 0, 4}}}, false);
  const fx::RasterRef highlights = RenderView(e, *src, 2);
  EXPECT_EQ(At(*highlights, 0, 0), (Pixel{255, 255, 255, 255}));
  EXPECT_EQ(At(*highlights, 1, 0), (Pixel{0, 0, 0, 255}));
  const fx::RasterRef shadows = RenderView(e, *src, 1);
  EXPECT_EQ(At(*shadows, 0, 0), (Pixel{0, 0, 0, 255}));
  EXPECT_EQ(At(*shadows, 1, 0), (Pixel{255, 255, 255, 255}));
  EXPECT_FALSE(e.Set("view", 3).Active());
}

// ------------------------------------------------------------ Ozone

// The value Ozone looks a zone up with, by hand for (200, 100, 50).
TEST(Ozone, ZoneTablesOverEveryExtractedValue) {
  const Pixel p = {200, 100, 50, 9};
  struct Case {
    int use;
    int32_t e;  // extracted value
  };
  // hue 20: trunc(20 x 0.0027777778 x 255) = 14; saturation trunc(0.75 x 255).
  const Case cases[] = {{0, 124}, {1, 14}, {2, 191}, {3, 116}, {4, 200},
                        {5, 100}, {6, 50}, {7, 75},  {8, 125}, {9, 150}};
  const std::vector<uint8_t> w = fx::CurveTable<uint8_t>(fx::TonalBand(0.5, 0.9));
  const std::vector<uint8_t> curve = fx::ToneShapeTable<uint8_t>(0.2, 0, 0);
  for (const Case& c : cases) {
    Instance e(fx::effects::kOzone);
    // Zone 4 made wide and given brightness and gains; zone 7 only moved.
    e.Set("use", c.use).Set("pos4", 50).Set("rng4", 90).Set("bri4", 20).Set("red4", 150).Set("blu4", -200);
    e.Set("pos7", 10);
    const auto offset = [&](double gain) {
      const float o =
          static_cast<float>(0.0f + (double(c.e) / 255) * w[c.e] * ((double(curve[c.e]) - c.e) / 255 + gain));
      return static_cast<int32_t>(o);
    };
    const Pixel expected = {std::clamp(p[0] + offset(1.5), 0, 255), std::clamp(p[1] + offset(0), 0, 255),
                            std::clamp(p[2] + offset(-2), 0, 255), 9};
    EXPECT_EQ(RenderPixel(e, p, false), expected) << c.use;
    // "Zone 4" shows the zone's weight at the value, alpha full.
    e.Set("view", 5);
    EXPECT_EQ(RenderPixel(e, p, false), (Pixel{w[c.e], w[c.e], w[c.e], 255})) << c.use;
  }
}

TEST(Ozone, ZonesAddUpAndGreysHaveNoHue) {
  for (bool is16Bit : {false, true}) {
    const int32_t L = FullScale(is16Bit);
    const fx::RasterRef ramp = GreyRamp(65, is16Bit);
    Instance e(fx::effects::kOzone);
    e.Set("gam2", 40).Set("grn2", 30).Set("con8", -50).Set("red8", -100);
    const fx::RasterRef out = Render(e, *ramp);
    for (int32_t x = 0; x < 65; ++x) {
      const int32_t v = At(*ramp, x, 0)[0];
      float offset[3] = {0, 0, 0};
      for (int zone : {2, 8}) {
        std::vector<int32_t> w, c;
        const double bend = zone == 2 ? 0.4 : 0, contrast = zone == 8 ? -0.5 : 0;
        if (is16Bit) {
          for (auto t : fx::CurveTable<uint16_t>(fx::TonalBand(zone / 10.0, 0.3))) w.push_back(t);
          for (auto t : fx::ToneShapeTable<uint16_t>(0, contrast, bend)) c.push_back(t);
        } else {
          for (auto t : fx::CurveTable<uint8_t>(fx::TonalBand(zone / 10.0, 0.3))) w.push_back(t);
          for (auto t : fx::ToneShapeTable<uint8_t>(0, contrast, bend)) c.push_back(t);
        }
        const double gain[3] = {zone == 8 ? -1.0 : 0, zone == 2 ? 0.3 : 0, 0};
        for (int k = 0; k < 3; ++k) offset[k] += (double(v) / L) * w[v] * ((double(c[v]) - v) / L + gain[k]);
      }
      const Pixel expected = {std::clamp(v + static_cast<int32_t>(offset[0]), 0, L),
                              std::clamp(v + static_cast<int32_t>(offset[1]), 0, L),
                              std::clamp(v + static_cast<int32_t>(offset[2]), 0, L), L};
      ASSERT_EQ(At(*out, x, 0), expected) << is16Bit << " " << v;
    }
    // On "Hue" every grey reads 0: only zone 0 could touch them.
    e.Set("use", 1);
    ExpectSame(*Render(e, *ramp), *ramp, "greys on hue");
  }
}

TEST(Ozone, ParametersAndActiveRules) {
  Instance e(fx::effects::kOzone);
  EXPECT_EQ(e->parameterCount, 113u);
  EXPECT_EQ(e.P("pos10").number, 100);
  EXPECT_EQ(e.P("pos3").number, 30);
  EXPECT_EQ(e.P("rng7").number, 30);
  EXPECT_EQ(e.P("blu0").Minimum(), -200);
  EXPECT_FALSE(e.Active());
  EXPECT_TRUE(e.Set("view", 11).Active());
  EXPECT_FALSE(e.Set("view", 12).Active());
  EXPECT_TRUE(e.Set("view", 0).Set("grn10", 1).Active());
}

}  // namespace
