// The selective and matte-based colour family rendered directly: parameter
// tables, the arithmetic of each member at both depths, and the shared
// matte mix and hue selection.
#include "effects/selective_colour.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "effects/colour_ops.h"
#include "effects/diffusion.h"
#include "effects/gel_filter.h"
#include "effects/glow.h"
#include "effects/hue_selection.h"
#include "effects/selection_matte.h"
#include "effects/tone_range.h"
#include "imaging/colour.h"
#include "imaging/masks.h"
#include "tests/effects/effect_harness.h"

using namespace effecttest;

namespace {

// ------------------------------------------------------------------ helpers

fx::RasterRef RandomImage(int32_t w, int32_t h, bool is16Bit, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int32_t> sample(0, is16Bit ? 32768 : 255);
  std::vector<std::vector<Pixel>> rows(h, std::vector<Pixel>(w));
  for (auto& row : rows)
    for (Pixel& p : row) p = {sample(gen), sample(gen), sample(gen), sample(gen)};
  return MakeRaster(rows, is16Bit);
}

bool Same(const fx::Raster& a, const fx::Raster& b) {
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x)
      if (At(a, x, y) != At(b, x, y)) return false;
  return true;
}

std::vector<std::string> Keys(const Instance& e) {
  std::vector<std::string> keys;
  for (uint32_t i = 0; i < e->parameterCount; ++i)
    keys.push_back(e->parameters[i].key ? e->parameters[i].key : "");
  return keys;
}

int32_t Full(bool is16Bit) {
  return is16Bit ? 32768 : 255;
}

// ------------------------------------------------------------------ Overexpose

TEST(Overexpose, ParameterTable) {
  Instance e(fx::effects::kOverexpose);
  EXPECT_STREQ(e->routines->displayName(&*e), "Ovra Overexpose");
  EXPECT_STREQ(e->routines->description(&*e),
               "Simulates the overexposure that occurs when a film camera starts or stops.");
  EXPECT_EQ(Keys(e),
            (std::vector<std::string>{"input", "view", "amount", "intensity", "blurX", "blurY", "gang"}));
  EXPECT_STREQ(e.P("blurY").label, "Veritcal Blur");
  EXPECT_EQ(e.P("amount").number, 0);
  EXPECT_EQ(e.P("intensity").number, 1000);
  EXPECT_EQ(e.P("intensity").Maximum(), 1000);
  EXPECT_EQ(e.P("blurX").number, 100);
  EXPECT_TRUE(e.P("gang").boolean);
  EXPECT_NE(e.P("amount").flags & fx::kPrincipal, 0u);
  EXPECT_NE(e.P("blurX").flags & fx::kNotify, 0u);
  EXPECT_EQ(e.P("blurY").flags & fx::kNotify, 0u);
}

TEST(Overexpose, ActiveOnlyWithAnAmountInTheOutputView) {
  Instance e(fx::effects::kOverexpose);
  EXPECT_FALSE(e.Active());
  e.Set("amount", 1);
  EXPECT_TRUE(e.Active());
  e.Set("view", 1);
  EXPECT_FALSE(e.Active());
}

TEST(Overexpose, FullAmountIsWhiteWithTheSourceAlpha) {
  for (bool is16 : {false, true}) {
    Instance e(fx::effects::kOverexpose);
    e.Set("amount", 100).Set("intensity", 0);
    const fx::RasterRef src = RandomImage(7, 5, is16, 3);
    const fx::RasterRef out = Render(e, *src);
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 7; ++x) {
        const int32_t L = Full(is16);
        EXPECT_EQ(At(*out, x, y), (Pixel{L, L, L, At(*src, x, y)[3]})) << is16 << " " << x << "," << y;
      }
  }
}

TEST(Overexpose, HalfAmountAddsTheGlowThenWhitens) {
  // k = 100 x 0.5 x 0.01 = 0.5; w = 1 - sin(pi/4), W = 74 at 8 bits, 9597 at
  // 16. 8-bit 100 -> trunc(0.5 x 100 + 100) = 150 -> (255 x 74 + 150 x 181)
  // / 255 = 180; a sample the glow lifts past L stays at L.
  struct Case {
    bool is16;
    int32_t in, out;
  };
  for (const Case& c : {Case{false, 100, 180}, Case{false, 200, 255}, Case{false, 0, 74},
                        Case{true, 10000, 20203}, Case{true, 0, 9597}}) {
    Instance e(fx::effects::kOverexpose);
    e.Set("amount", 50).Set("intensity", 100).Set("blurX", 0).Set("gang", 1);
    EXPECT_EQ(RenderPixel(e, {c.in, c.in, c.in, 7}, c.is16), (Pixel{c.out, c.out, c.out, 7}))
        << c.is16 << " " << c.in;
  }
}

TEST(Overexpose, TheGlowIsTheBlurredSource) {
  // A single bright pixel lights its neighbours only through the blur; the
  // vertical blur follows the horizontal one while ganged.
  for (bool is16 : {false, true}) {
    std::vector<std::vector<Pixel>> rows(9, std::vector<Pixel>(9, Pixel{0, 0, 0, 0}));
    rows[4][4] = {Full(is16), Full(is16), Full(is16), Full(is16)};
    const fx::RasterRef src = MakeRaster(rows, is16);
    Instance sharp(fx::effects::kOverexpose);
    sharp.Set("amount", 10).Set("blurX", 0).Set("blurY", 0).Set("gang", 0);
    const fx::RasterRef a = Render(sharp, *src);
    Instance soft(fx::effects::kOverexpose);
    soft.Set("amount", 10).Set("blurX", 200).Set("blurY", 0).Set("gang", 1);
    const fx::RasterRef b = Render(soft, *src);
    EXPECT_EQ(At(*a, 4, 3), At(*a, 0, 0));
    EXPECT_GT(At(*b, 4, 3)[0], At(*a, 4, 3)[0]) << is16;
    EXPECT_GT(At(*b, 3, 4)[0], At(*a, 3, 4)[0]) << is16;
    EXPECT_EQ(At(*b, 4, 3)[3], 0);
  }
}

// ------------------------------------------------------------ MixThroughMatte

// One pixel of each raster through the mix.
Pixel Mix(Pixel s, Pixel c, int32_t m, bool is16Bit) {
  const fx::RasterRef source = MakeRaster({{s}}, is16Bit), corrected = MakeRaster({{c}}, is16Bit);
  fx::RasterRef matte = fx::MakeRaster(1, 1, 1, is16Bit ? 2 : 1);
  if (is16Bit)
    *matte->RowAs<uint16_t>(0) = static_cast<uint16_t>(m);
  else
    *matte->RowAs<uint8_t>(0) = static_cast<uint8_t>(m);
  fx::RasterRef out = MakeRaster({{Pixel{1, 2, 3, 4}}}, is16Bit);
  fx::MixThroughMatte(*source, *corrected, *matte, *out, {0, 0, 1, 1});
  return At(*out, 0, 0);
}

TEST(MixThroughMatte, TruncatesTowardZero) {
  // 100 + (51 - 100) 128 / 255 = 100 - 24 = 76 (the "over" mix of the two
  // would give 75); a lighter correction truncates down. At 16 bits
  // m / 32768 is exact. Alpha is always the source's.
  struct Case {
    bool is16;
    int32_t s, c, m, out;
  };
  for (const Case& k :
       {Case{false, 100, 51, 128, 76}, Case{false, 51, 100, 128, 75}, Case{false, 100, 51, 0, 100},
        Case{false, 100, 51, 255, 51}, Case{true, 10000, 5001, 16384, 7501},
        Case{true, 5001, 10000, 16384, 7500}, Case{true, 9, 32768, 32768, 32768}}) {
    EXPECT_EQ(Mix({k.s, k.s, k.s, 9}, {k.c, k.c, k.c, 200}, k.m, k.is16), (Pixel{k.out, k.out, k.out, 9}))
        << k.is16 << " " << k.s << " " << k.c << " " << k.m;
  }
}

TEST(MixThroughMatte, InPlaceOverTheCorrectedCopy) {
  for (bool is16 : {false, true}) {
    const fx::RasterRef source = RandomImage(6, 4, is16, 1);
    fx::RasterRef corrected = RandomImage(6, 4, is16, 2);
    const fx::RasterRef expected = RandomImage(6, 4, is16, 2);
    fx::RasterRef matte = fx::MakeRaster(6, 4, 1, is16 ? 2 : 1);
    std::mt19937 gen(5);
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 6; ++x) {
        const int32_t v = static_cast<int32_t>(gen() % (Full(is16) + 1));
        if (is16)
          matte->RowAs<uint16_t>(y)[x] = static_cast<uint16_t>(v);
        else
          matte->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(v);
      }
    fx::RasterRef separate = fx::MakeRaster(6, 4, 4, is16 ? 2 : 1);
    fx::MixThroughMatte(*source, *expected, *matte, *separate, {0, 0, 4, 6});
    fx::MixThroughMatte(*source, *corrected, *matte, *corrected, {0, 0, 4, 6});
    EXPECT_TRUE(Same(*corrected, *separate)) << is16;
  }
}

// --------------------------------------------------- Selective Color Correct

// A render whose cancellation flag is already set.
struct CancelledInfo final : fx::RenderInfo {
  bool IsCancelled() override { return true; }
};

fx::RasterRef RenderCancelled(Instance& effect, const fx::Raster& source) {
  fx::RasterRef dst = fx::MakeRaster(source.Width(), source.Height(), 4, source.BytesPerSample());
  dst->Fill(0);
  CancelledInfo info;
  info.imageWidth = source.Width();
  info.imageHeight = source.Height();
  info.is16Bit = source.Is16Bit();
  info.tileCount = 1;
  info.tileIndex = 0;
  info.destination = dst.get();
  info.area = {0, 0, source.Height(), source.Width()};
  info.outputRect = info.area;
  effect->parameters[0].source = const_cast<fx::Raster*>(&source);
  effect->routines->render(&*effect, &info);
  effect->parameters[0].source = nullptr;
  return dst;
}

// The selection matte of the effect's Selection group, built by hand.
fx::RasterRef SelectionOf(const fx::Raster& source, const fx::MatteSettings& s) {
  fx::RenderInfo info;
  info.imageWidth = source.Width();
  info.imageHeight = source.Height();
  fx::SelectionMatte builder;
  return builder.Build(source, {0, 0, source.Height(), source.Width()}, info, s);
}

TEST(SelectiveColor, ParameterTable) {
  Instance e(fx::effects::kSelectiveColor);
  EXPECT_STREQ(e->routines->displayName(&*e), "Ovra Selective Color Correct");
  EXPECT_STREQ(e->routines->description(&*e), "Selectively adjust color.");
  EXPECT_EQ(Keys(e), (std::vector<std::string>{"background",
                                               "view",
                                               "cc",
                                               "hue",
                                               "saturation",
                                               "ccBrightness",
                                               "ccContrast",
                                               "ccGamma",
                                               "ccMasterR",
                                               "ccMasterG",
                                               "ccMasterB",
                                               "warmCool",
                                               "",
                                               "matte",
                                               "extractOn",
                                               "position",
                                               "range",
                                               "clip",
                                               "clipBlack",
                                               "clipWhite",
                                               "",
                                               "matteAdjust",
                                               "matteBlurX",
                                               "matteBlurY",
                                               "matteBlurGang",
                                               "invert",
                                               ""}));
  EXPECT_STREQ(e.P("cc").label, "Color Correct");
  EXPECT_EQ(e.P("saturation").number, 0);
  EXPECT_EQ(e.P("hue").Minimum(), -360);
  EXPECT_EQ(e.P("warmCool").Maximum(), 50);
  EXPECT_NE(e.P("ccMasterG").flags & fx::kGreenMark, 0u);
  // The Selection effect's defaults.
  EXPECT_EQ(e.P("extractOn").listIndex, 0);
  EXPECT_EQ(e.P("position").number, 100);
  EXPECT_EQ(e.P("range").number, 80);
  EXPECT_EQ(e.P("matteBlurX").number, 0);
  EXPECT_TRUE(e.P("matteBlurGang").boolean);
  EXPECT_FALSE(e.Active());
  e.Set("view", 1);
  EXPECT_TRUE(e.Active());
  e.Set("view", 2).Set("warmCool", 10);
  EXPECT_FALSE(e.Active());
}

TEST(SelectiveColor, NoCorrectionUnderAFullSelectionIsTheIdentity) {
  for (bool is16 : {false, true}) {
    Instance e(fx::effects::kSelectiveColor);
    e.Set("position", 50).Set("range", 100);  // every luminance selected
    const fx::RasterRef src = RandomImage(8, 6, is16, 11);
    EXPECT_TRUE(Same(*Render(e, *src), *src)) << is16;
  }
}

TEST(SelectiveColor, MixesTheCorrectedCopyThroughTheSelection) {
  for (bool is16 : {false, true}) {
    Instance e(fx::effects::kSelectiveColor);
    e.Set("hue", 40).Set("saturation", 30).Set("ccContrast", 20).Set("ccMasterB", -15).Set("warmCool", 12);
    e.Set("extractOn", 1).Set("position", 30).Set("range", 40).Set("clipBlack", 10).Set("matteBlurX", 100);
    const fx::RasterRef src = RandomImage(12, 9, is16, 7);
    const fx::RasterRef out = Render(e, *src);

    fx::MatteSettings s;
    s.extractOn = fx::ExtractOn::kHue;
    s.centre = 0.3;
    s.width = 0.8;
    s.clipBlack = 0.1;
    s.blurX = s.blurY = 100;
    const fx::RasterRef matte = SelectionOf(*src, s);
    fx::RasterRef corrected = RandomImage(12, 9, is16, 7);
    fx::ColorCorrection c;
    c.hue = 40;
    c.saturation = 0.3;
    c.contrast = 0.2;
    c.blueGain = -0.15;
    const fx::Rect all{0, 0, 9, 12};
    fx::ColorCorrectOp(*corrected, all, c);
    fx::WarmCoolShift(*corrected, all, 0.12);
    fx::MixThroughMatte(*src, *corrected, *matte, *corrected, all);
    EXPECT_TRUE(Same(*out, *corrected)) << is16;
  }
}

TEST(SelectiveColor, SelectionViewShowsTheMatteAndCancellationKeepsTheSource) {
  for (bool is16 : {false, true}) {
    Instance e(fx::effects::kSelectiveColor);
    e.Set("view", 1).Set("position", 60).Set("invert", 1);
    const fx::RasterRef src = RandomImage(5, 4, is16, 9);
    const fx::RasterRef out = Render(e, *src);
    fx::MatteSettings s;
    s.centre = 0.6;
    s.invert = true;
    const fx::RasterRef matte = SelectionOf(*src, s);
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 5; ++x) {
        const int32_t m = is16 ? matte->RowAs<uint16_t>(y)[x] : matte->RowAs<uint8_t>(y)[x];
        EXPECT_EQ(At(*out, x, y), (Pixel{m, m, m, Full(is16)}));
      }
    e.Set("view", 0).Set("saturation", 50);
    EXPECT_TRUE(Same(*RenderCancelled(e, *src), *src)) << is16;
  }
}

// -------------------------------------------------------------- HueSelection

// A pixel of the given hue (degrees), saturation and value 1.
Pixel OfHue(float h, bool is16Bit) {
  const fx::RgbF c = fx::HsvToRgb(h, 1.0f, 1.0f);
  const int32_t L = Full(is16Bit);
  return {static_cast<int32_t>(c.r * L), static_cast<int32_t>(c.g * L), static_cast<int32_t>(c.b * L), L};
}

int32_t MatteAt(const fx::Raster& m, int32_t x, int32_t y) {
  return m.Is16Bit() ? m.RowAs<uint16_t>(y)[x] : m.RowAs<uint8_t>(y)[x];
}

fx::RasterRef HueMatte(const fx::Raster& source, const fx::Rgb& colour, double width, double blur = 0) {
  fx::RenderInfo info;
  info.imageWidth = source.Width();
  info.imageHeight = source.Height();
  fx::HueSelection selection;
  return selection.Build(source, {0, 0, source.Height(), source.Width()}, info, colour, width, blur);
}

TEST(HueSelection, ReadsTheBandOnTheHueCircle) {
  // "Red" at range 5 (width 0.1, 36 degrees) selects 354 and 10 degrees;
  // 300 and 60 degrees lie outside the band, greys never have a hue.
  for (bool is16 : {false, true}) {
    const int32_t L = Full(is16);
    const fx::RasterRef src = MakeRaster({{OfHue(354, is16), OfHue(10, is16), OfHue(300, is16),
                                           OfHue(60, is16), Pixel{L, L, L, L}, Pixel{0, 0, 0, L}}},
                                         is16);
    const fx::RasterRef m = HueMatte(*src, {1, 0, 0}, 5 * 0.02);
    EXPECT_GT(MatteAt(*m, 0, 0), L / 2) << is16;
    EXPECT_GT(MatteAt(*m, 1, 0), L / 2) << is16;
    for (int32_t x = 2; x < 6; ++x) EXPECT_EQ(MatteAt(*m, x, 0), 0) << is16 << " " << x;
  }
}

TEST(HueSelection, InsideTheCircleItIsTheSelectionMattesHueBand) {
  for (bool is16 : {false, true}) {
    const fx::RasterRef src = RandomImage(40, 30, is16, 21);
    const fx::RasterRef hue = HueMatte(*src, {0, 1, 0}, 0.3);
    fx::MatteSettings s;
    s.extractOn = fx::ExtractOn::kHue;
    s.centre = 120 * 0.0027777778;
    s.width = 0.3;
    const fx::RasterRef band = SelectionOf(*src, s);
    int32_t selected = 0;
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 40; ++x) {
        EXPECT_EQ(MatteAt(*hue, x, y), MatteAt(*band, x, y)) << is16 << " " << x << "," << y;
        selected += MatteAt(*hue, x, y) != 0;
      }
    EXPECT_GT(selected, 0);
  }
}

TEST(HueSelection, AGreyColourSelectsNothing) {
  EXPECT_FALSE(fx::HueSelection::CentreOf({0.5, 0.5, 0.5}).has_value());
  EXPECT_FALSE(fx::HueSelection::CentreOf({0, 0, 0}).has_value());
  EXPECT_DOUBLE_EQ(*fx::HueSelection::CentreOf({0, 0, 1}), 240 * 0.0027777778);
  for (bool is16 : {false, true}) {
    const fx::RasterRef src = RandomImage(9, 7, is16, 4);
    const fx::RasterRef m = HueMatte(*src, {0.3, 0.3, 0.3}, 2.0, 50);
    for (int32_t y = 0; y < 7; ++y)
      for (int32_t x = 0; x < 9; ++x) EXPECT_EQ(MatteAt(*m, x, y), 0);
  }
}

TEST(HueSelection, TheBlurIsTheSelectionMattesBlur) {
  for (bool is16 : {false, true}) {
    const fx::RasterRef src = RandomImage(30, 20, is16, 8);
    fx::RasterRef sharp = HueMatte(*src, {1, 0.5, 0}, 0.4);
    fx::RenderInfo info;
    info.imageWidth = 30;
    info.imageHeight = 20;
    fx::MatteSettings s;
    s.blurX = s.blurY = 150;
    fx::BlurMatte(*sharp, {0, 0, 20, 30}, info, s);
    const fx::RasterRef soft = HueMatte(*src, {1, 0.5, 0}, 0.4, 150);
    for (int32_t y = 0; y < 20; ++y)
      for (int32_t x = 0; x < 30; ++x) EXPECT_EQ(MatteAt(*soft, x, y), MatteAt(*sharp, x, y));
    EXPECT_EQ(fx::HueSelection::ReachX(info, 150), fx::SelectionMatte::ReachX(info, s));
    EXPECT_EQ(fx::HueSelection::ReachX(info, 0), 0);
  }
}

// ------------------------------------------------------------------ Enhancing

TEST(Enhancing, ParameterTableAndPresets) {
  Instance e(fx::effects::kEnhancing);
  EXPECT_STREQ(e->routines->displayName(&*e), "Ovra Enhancing");
  EXPECT_EQ(Keys(e), (std::vector<std::string>{"background", "view", "enhancing", "matte", "preset", "hue",
                                               "matteRange", "matteBlur", ""}));
  EXPECT_EQ(e.P("enhancing").number, 50);
  EXPECT_EQ(e.P("matteRange").number, 30);
  EXPECT_EQ(e.P("matteBlur").Maximum(), 1000);
  EXPECT_EQ(e.P("preset").ItemCount(), 4);
  EXPECT_STREQ(e.P("preset").Item(3), "Blue");
  EXPECT_EQ(e.P("hue").colour.r, 1);
  EXPECT_EQ(e.P("hue").colour.g, 0);
  const int preset = fx::IndexOfKey(*e, "preset");
  for (bool held : {false, true}) {
    Instance f(fx::effects::kEnhancing);
    if (held) f->flags |= fx::kHeldByRegistry;
    f.Set("preset", 2);
    f->routines->parameterChanged(&*f, preset);
    EXPECT_EQ(f.P("hue").Enabled(), held);
    EXPECT_EQ(f.P("hue").colour.g, held ? 1 : 0);
    EXPECT_EQ((f.P("hue").flags & 0x20000000u) != 0, held);
    f.Set("preset", 0);
    f->routines->parameterChanged(&*f, preset);
    EXPECT_TRUE(f.P("hue").Enabled());
  }
}

TEST(Enhancing, BoostsOnlyTheSelectedHueAndNeverAGrey) {
  for (bool is16 : {false, true}) {
    const int32_t L = Full(is16);
    const Pixel red{L * 4 / 5, L * 2 / 5, L * 2 / 5, L}, green{L * 2 / 5, L * 4 / 5, L * 2 / 5, 9},
        grey{L / 2, L / 2, L / 2, L};
    const fx::RasterRef src = MakeRaster({{red, green, grey}}, is16);
    Instance e(fx::effects::kEnhancing);
    e.Set("matteRange", 10);  // 36 degrees either side
    const fx::RasterRef out = Render(e, *src);
    Pixel boosted = red;
    if (is16) {
      uint16_t p[4] = {static_cast<uint16_t>(red[0]), static_cast<uint16_t>(red[1]),
                       static_cast<uint16_t>(red[2]), static_cast<uint16_t>(red[3])};
      fx::AdjustHueSaturation<uint16_t>(p, 0.0f, 1.5f);
      boosted = {p[0], p[1], p[2], p[3]};
    } else {
      uint8_t p[4] = {static_cast<uint8_t>(red[0]), static_cast<uint8_t>(red[1]),
                      static_cast<uint8_t>(red[2]), static_cast<uint8_t>(red[3])};
      fx::AdjustHueSaturation<uint8_t>(p, 0.0f, 1.5f);
      boosted = {p[0], p[1], p[2], p[3]};
    }
    EXPECT_NE(boosted, red);
    EXPECT_EQ(At(*out, 0, 0), boosted) << is16;
    EXPECT_EQ(At(*out, 1, 0), green) << is16;
    EXPECT_EQ(At(*out, 2, 0), grey) << is16;
    // "Green" is used instead of the red "hue" by every instance.
    e.Set("preset", 2);
    const fx::RasterRef other = Render(e, *src);
    EXPECT_EQ(At(*other, 0, 0), red);
    EXPECT_NE(At(*other, 1, 0), green);
  }
}

TEST(Enhancing, ZeroOrAGreyColourReturnsTheSource) {
  for (bool is16 : {false, true}) {
    const fx::RasterRef src = RandomImage(11, 8, is16, 13);
    Instance off(fx::effects::kEnhancing);
    off.Set("enhancing", 0).Set("matteRange", 100);
    EXPECT_FALSE(off.Active());
    EXPECT_TRUE(Same(*Render(off, *src), *src));
    Instance grey(fx::effects::kEnhancing);
    grey.Set("enhancing", 100).Set("matteRange", 100);
    fx::SetColour(grey.P("hue"), {0.7, 0.7, 0.7});
    EXPECT_TRUE(Same(*Render(grey, *src), *src));
  }
}

// ------------------------------------------------------------------ Polarizer

// The grey of a matte view, channel 0 of each pixel, as a one-channel matte.
fx::RasterRef MatteOfView(const fx::Raster& view) {
  fx::RasterRef m = fx::MakeRaster(view.Width(), view.Height(), 1, view.BytesPerSample());
  for (int32_t y = 0; y < view.Height(); ++y)
    for (int32_t x = 0; x < view.Width(); ++x) {
      const int32_t v = At(view, x, y)[0];
      if (m->Is16Bit())
        m->RowAs<uint16_t>(y)[x] = static_cast<uint16_t>(v);
      else
        m->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(v);
    }
  return m;
}

// Blue pixels of many shades, so the sky matte takes many values.
fx::RasterRef SkyImage(bool is16Bit) {
  std::mt19937 gen(17);
  const int32_t L = Full(is16Bit);
  std::vector<std::vector<Pixel>> rows(16, std::vector<Pixel>(12));
  for (auto& row : rows)
    for (Pixel& p : row) {
      const int32_t b = L / 2 + static_cast<int32_t>(gen() % (L / 2));
      p = {static_cast<int32_t>(gen() % b), static_cast<int32_t>(gen() % b), b,
           static_cast<int32_t>(gen() % L)};
    }
  return MakeRaster(rows, is16Bit);
}

enum PolarizerView { kOutputView, kSelectionView, kGradView, kSkyView, kOriginalView };

Instance& GradOn(Instance& e, double opacity, double nd) {
  return e.Set("gradEnable", 1).Set("grad_opacity", opacity).Set("grad_nd", nd).Set("grad_size", 60);
}

TEST(Polarizer, ParameterTable) {
  Instance e(fx::effects::kPolarizer);
  ASSERT_EQ(e->parameterCount, 29u);
  EXPECT_STREQ(e.P("cc").label, "Sky");
  EXPECT_EQ(e.P("saturation").number, 50);
  EXPECT_EQ(e.P("matteColor").colour.b, 1);
  EXPECT_EQ(e.P("matteBlur").Maximum(), 500);
  EXPECT_FALSE(e.P("gradEnable").boolean);
  EXPECT_NE(e.P("gradEnable").flags & fx::kNotify, 0u);
  EXPECT_EQ(e.P("grad_opacity").number, 100);
  EXPECT_STREQ(e.P("grad_nd").label, "ND Brightness");
  EXPECT_NE(e.P("ul").flags & fx::kHidden, 0u);
  for (const char* corner : {"ur", "lr", "ll"}) EXPECT_EQ(e.P(corner).flags & fx::kHidden, 0u) << corner;
  EXPECT_EQ(e.P("view").ItemCount(), 5);
  // Saturation 50 by default: active; without corrections only an ND grad is.
  EXPECT_TRUE(e.Active());
  e.Set("saturation", 0);
  EXPECT_FALSE(e.Active());
  GradOn(e, 100, 0);
  EXPECT_FALSE(e.Active());
  e.Set("grad_nd", 10);
  EXPECT_TRUE(e.Active());
}

TEST(Polarizer, TheGradAtFullAndNoOpacity) {
  for (bool is16 : {false, true}) {
    const fx::RasterRef src = SkyImage(is16);
    Instance e(fx::effects::kPolarizer);
    GradOn(e, 100, 0).Set("view", kGradView);
    const fx::RasterRef grad = MatteOfView(*Render(e, *src));
    e.Set("view", kSelectionView);
    const fx::RasterRef hue = MatteOfView(*Render(e, *src));
    e.Set("view", kSkyView);
    const fx::RasterRef full = MatteOfView(*Render(e, *src));
    e.Set("grad_opacity", 0);
    const fx::RasterRef none = MatteOfView(*Render(e, *src));
    const int32_t L = Full(is16);
    int32_t graded = 0;
    for (int32_t y = 0; y < 16; ++y)
      for (int32_t x = 0; x < 12; ++x) {
        const int32_t m = MatteAt(*hue, x, y), g = MatteAt(*grad, x, y);
        EXPECT_EQ(MatteAt(*full, x, y), m * g / L) << is16 << " " << x << "," << y;
        EXPECT_EQ(MatteAt(*none, x, y), m) << is16 << " " << x << "," << y;
        graded += g != 0 && g != L;
      }
    EXPECT_GT(graded, 0);
  }
}

TEST(Polarizer, CorrectsThroughTheSkyThenDarkensThroughTheGrad) {
  for (bool is16 : {false, true}) {
    const fx::RasterRef src = SkyImage(is16);
    Instance e(fx::effects::kPolarizer);
    GradOn(e, 60, 40)
        .Set("saturation", 40)
        .Set("ccBrightness", -20)
        .Set("warmCool", 10)
        .Set("matteBlur", 100);
    e.Set("view", kGradView);
    const fx::RasterRef grad = MatteOfView(*Render(e, *src));
    e.Set("view", kSkyView);
    const fx::RasterRef sky = MatteOfView(*Render(e, *src));
    e.Set("view", kOutputView);
    const fx::RasterRef out = Render(e, *src);

    const fx::Rect all{0, 0, 16, 12};
    fx::RasterRef expected = SkyImage(is16);
    fx::ColorCorrection c;
    c.saturation = 0.4;
    c.brightness = -0.2;
    fx::ColorCorrectOp(*expected, all, c);
    fx::WarmCoolShift(*expected, all, 0.1);
    fx::MixThroughMatte(*src, *expected, *sky, *expected, all);
    fx::DarkenThroughMask(*expected, *grad, all, 0.4f);
    EXPECT_TRUE(Same(*out, *expected)) << is16;

    // Without corrections only the ND acts.
    Instance nd(fx::effects::kPolarizer);
    GradOn(nd, 60, 40).Set("saturation", 0);
    fx::RasterRef darkened = SkyImage(is16);
    fx::DarkenThroughMask(*darkened, *grad, all, 0.4f);
    EXPECT_TRUE(Same(*Render(nd, *src), *darkened)) << is16;
    // Cancelled before the selection: the source.
    EXPECT_TRUE(Same(*RenderCancelled(e, *src), *src)) << is16;
  }
}

// ------------------------------------------------------- Infrared, Night Vision

fx::RenderInfo WholeImage(const fx::Raster& r) {
  fx::RenderInfo info;
  info.imageWidth = r.Width();
  info.imageHeight = r.Height();
  info.is16Bit = r.Is16Bit();
  info.area = {0, 0, r.Height(), r.Width()};
  info.outputRect = info.area;
  info.tileCount = 1;
  info.tileIndex = 0;
  return info;
}

// The glow of the defaults: "Spread", "Screen", 75 %, blur 50 (of the
// image height), white.
fx::GlowSettings DefaultWhiteGlow(const fx::RenderInfo& info) {
  fx::GlowSettings g;
  g.blurX = info.FullHeightPixels(50);
  g.blurY = info.ScaledHeightPixels(50);
  g.brightness = 0.75;
  g.mode = fx::GlowMode::kSpread;
  g.blend = fx::GlowBlend::kScreen;
  g.colour = fx::kWhite;
  return g;
}

fx::MatteSettings DefaultLuminanceMatte() {
  fx::MatteSettings s;
  s.centre = 1.0;
  s.width = 1.6;
  return s;
}

TEST(Infrared, ParameterTable) {
  Instance e(fx::effects::kInfrared);
  EXPECT_STREQ(e->routines->displayName(&*e), "Ovra Infrared");
  ASSERT_EQ(e->parameterCount, 21u);
  EXPECT_EQ(e.P("filter").listIndex, 1);
  EXPECT_STREQ(e.P("filter").Item(5), "Orange");
  EXPECT_EQ(e.P("mist").listIndex, 1);
  EXPECT_STREQ(e.P("mist").Item(0), "Subtle");
  EXPECT_EQ(e.P("glowBlend").listIndex, 0);
  EXPECT_EQ(e.P("glowBrightness").number, 75);
  EXPECT_STREQ(e.P("density").label, "Color Correct");
  EXPECT_NE(e.P("gamma").flags & fx::kPrincipal, 0u);
  EXPECT_EQ(e.P("matteRange").number, 80);
  EXPECT_EQ(e.P("matteBlur").Maximum(), 1000);
  EXPECT_TRUE(e.Active());
}

TEST(Infrared, IsItsSharedOperationsInOrder) {
  for (bool is16 : {false, true}) {
    const fx::RasterRef src = RandomImage(24, 20, is16, 31);
    Instance e(fx::effects::kInfrared);
    e.Set("brightness", 20).Set("contrast", 10).Set("gamma", -10).Set("filter", 4);
    const fx::RasterRef out = Render(e, *src);

    fx::RasterRef expected = RandomImage(24, 20, is16, 31);
    const fx::RenderInfo info = WholeImage(*src);
    fx::ColorCorrection c;
    c.brightness = 0.2;
    c.contrast = 0.1;
    c.bend = -0.1;
    fx::ColorCorrectOp(*expected, info.area, c);
    fx::SelectionMatte builder;
    const fx::RasterRef matte = builder.Build(*src, info.area, info, DefaultLuminanceMatte());
    fx::Glow(*expected, *matte, info.area, DefaultWhiteGlow(info), info);
    fx::MonoFilter(*expected, info.area, fx::MonoFilterKind::Yellow);
    EXPECT_TRUE(Same(*out, *expected)) << is16;
  }
}

TEST(NightVision, ParameterTable) {
  Instance e(fx::effects::kNightVision);
  EXPECT_STREQ(e->routines->description(&*e), "Creates the effect of a Night Vision lens.");
  ASSERT_EQ(e->parameterCount, 31u);
  EXPECT_EQ(Keys(e)[9], "glowMode");
  EXPECT_STREQ(e.P("glowMode").label, "Glow");
  EXPECT_EQ(e.P("tintMode").ItemCount(), 2);
  EXPECT_EQ(e.P("tintMode").listIndex, 1);
  EXPECT_EQ(e.P("TintColor").colour.g, 1);
  EXPECT_EQ(e.P("highlights").number, 75);
  EXPECT_EQ(e.P("GrainAmount").number, 25);
  EXPECT_EQ(e.P("GrainSoftness").Maximum(), 10);
  EXPECT_NE(e.P("GrainSize").flags & fx::kWholeNumbers, 0u);
  EXPECT_STREQ(e.P("brightness").label, "Brightness");
  EXPECT_STREQ(e.P("gamma").label, "Gamma");
  EXPECT_TRUE(e.P("grain").GroupOpen());
  EXPECT_FALSE(e.P("matte").GroupOpen());
  // "Preserve Highlights" only in "HLS".
  e.Set("tintMode", 0);
  e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, "tintMode"));
  EXPECT_FALSE(e.P("highlights").Enabled());
  e.Set("tintMode", 1);
  e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, "tintMode"));
  EXPECT_TRUE(e.P("highlights").Enabled());
}

TEST(NightVision, WithoutGrainIsItsSharedOperationsInOrder) {
  for (bool is16 : {false, true}) {
    for (int32_t mode : {0, 1}) {
      const fx::RasterRef src = RandomImage(24, 20, is16, 41);
      Instance e(fx::effects::kNightVision);
      e.Set("GrainAmount", 0).Set("contrast", 25).Set("tintMode", mode).Set("mattePosition", 70);
      const fx::RasterRef out = Render(e, *src);

      fx::RasterRef expected = RandomImage(24, 20, is16, 41);
      const fx::RenderInfo info = WholeImage(*src);
      fx::MonoFilter(*expected, info.area, fx::MonoFilterKind::Normal);
      fx::ColorCorrection c;
      c.contrast = 0.25;
      fx::ColorCorrectOp(*expected, info.area, c);
      fx::TintOp(*expected, info.area, {0, 1, 0}, mode == 0 ? fx::TintMode::kHsv : fx::TintMode::kHls, 1.0,
                 0.75);
      fx::MatteSettings s = DefaultLuminanceMatte();
      s.centre = 0.7;
      fx::SelectionMatte builder;
      const fx::RasterRef matte = builder.Build(*src, info.area, info, s);
      fx::Glow(*expected, *matte, info.area, DefaultWhiteGlow(info), info);
      EXPECT_TRUE(Same(*out, *expected)) << is16 << " " << mode;
    }
  }
}

TEST(NightVision, SelectionIsTheSourcesMatteAndGrainIsColourless) {
  for (bool is16 : {false, true}) {
    // Saturated colours: the black-and-white filter would change their
    // luminance matte.
    const fx::RasterRef src = RandomImage(16, 12, is16, 43);
    Instance e(fx::effects::kNightVision);
    e.Set("view", 1).Set("mattePosition", 60);
    const fx::RasterRef view = Render(e, *src);
    fx::MatteSettings s = DefaultLuminanceMatte();
    s.centre = 0.6;
    const fx::RasterRef matte = SelectionOf(*src, s);
    for (int32_t y = 0; y < 12; ++y)
      for (int32_t x = 0; x < 16; ++x) {
        const int32_t m = MatteAt(*matte, x, y);
        EXPECT_EQ(At(*view, x, y), (Pixel{m, m, m, Full(is16)}));
      }
    // A grey tint keeps the image grey: the grain adds no colour.
    Instance grainy(fx::effects::kNightVision);
    grainy.Set("GrainAmount", 100).Set("glowBrightness", 0).Set("tintMode", 0);
    fx::SetColour(grainy.P("TintColor"), {0.5, 0.5, 0.5});
    const fx::RasterRef out = Render(grainy, *src);
    grainy.Set("GrainAmount", 0);
    const fx::RasterRef clean = Render(grainy, *src);
    EXPECT_FALSE(Same(*out, *clean)) << is16;
    for (int32_t y = 0; y < 12; ++y)
      for (int32_t x = 0; x < 16; ++x) {
        const Pixel p = At(*out, x, y);
        EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << is16 << " " << x << "," << y;
      }
  }
}

// ---------------------------------------------------------------- DayForNight

TEST(DayForNight, ParameterTable) {
  Instance e(fx::effects::kDayForNight);
  EXPECT_STREQ(e->routines->displayName(&*e), "Ovra DayForNight");
  EXPECT_STREQ(e->routines->description(&*e), "");
  EXPECT_EQ(Keys(e),
            (std::vector<std::string>{"input",      "view",       "diffusion", "blurX",        "blurY",
                                      "blurGang",   "opacity",    "",          "moonlight",    "gelColor",
                                      "gelOpacity", "highlights", "",          "colorCorrect", "hue",
                                      "sat",        "bri",        "con",       "gam",          ""}));
  EXPECT_DOUBLE_EQ(e.P("gelColor").colour.r, 54 / 255.0);
  EXPECT_DOUBLE_EQ(e.P("gelColor").colour.g, 127 / 255.0);
  EXPECT_EQ(e.P("sat").number, -40);
  EXPECT_EQ(e.P("con").number, 30);
  EXPECT_EQ(e.P("gam").number, -15);
  EXPECT_EQ(e.P("opacity").number, 50);
  EXPECT_EQ(e.P("highlights").number, 50);
}

TEST(DayForNight, NothingToDoReturnsTheSource) {
  for (bool is16 : {false, true}) {
    Instance e(fx::effects::kDayForNight);
    e.Set("opacity", 0).Set("gelOpacity", 0).Set("sat", 0).Set("con", 0).Set("gam", 0);
    const fx::RasterRef src = RandomImage(10, 8, is16, 51);
    EXPECT_TRUE(Same(*Render(e, *src), *src)) << is16;
  }
}

TEST(DayForNight, IsItsSharedOperationsInOrder) {
  for (bool is16 : {false, true}) {
    const fx::RasterRef src = RandomImage(30, 24, is16, 53);
    Instance e(fx::effects::kDayForNight);
    e.Set("hue", 15).Set("bri", -10);
    const fx::RasterRef out = Render(e, *src);

    fx::RasterRef expected = RandomImage(30, 24, is16, 53);
    const fx::RenderInfo info = WholeImage(*src);
    fx::SoftMix(*src, *expected, info.area, info.FullHeightPixels(50), info.ScaledHeightPixels(50), 0.5,
                info);
    fx::GelFilter gel;
    gel.Load({54 / 255.0, 127 / 255.0, 1.0}, 1.0, 0.5, 0);
    gel.Apply(*expected, info.area);
    fx::ToneRangeEngine engine;
    fx::ToneMaster m;
    m.hue = 15;
    m.saturation = -40;
    m.tone.brightness = -0.1;
    m.tone.contrast = 0.3;
    m.tone.bend = -0.15;
    engine.Configure(m);
    engine.Prepare(is16);
    engine.Apply(*expected, *expected, info.area);
    EXPECT_TRUE(Same(*out, *expected)) << is16;
  }
}

}  // namespace
