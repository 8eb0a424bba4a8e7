#include "effects/film_looks.h"

#include <gtest/gtest.h>

#include <vector>

#include "imaging/tone_curve.h"
#include "tests/effects/effect_harness.h"

using namespace effecttest;

namespace {

// A w x h source of varied colours (8-bit values, times 128 at 16 bits),
// with varied alpha.
fx::RasterRef Pattern(int32_t w, int32_t h, bool is16Bit) {
  std::vector<std::vector<Pixel>> rows(h, std::vector<Pixel>(w));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      Pixel p = {(x * 37 + y * 11) % 256, (x * x + 3 * y) % 256, (x * y * 7) % 256, (x + y * 5) % 256};
      if (is16Bit)
        for (int c = 0; c < 4; ++c) p[c] *= 128;
      rows[y][x] = p;
    }
  return MakeRaster(rows, is16Bit);
}

void ExpectSame(const fx::Raster& a, const fx::Raster& b, const std::string& what) {
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x)
      ASSERT_EQ(At(a, x, y), At(b, x, y)) << what << " at " << x << "," << y;
}

// --------------------------------------------------------------------- Grain

fx::RasterRef Flat(int32_t w, int32_t h, Pixel p, bool is16Bit) {
  return MakeRaster(std::vector<std::vector<Pixel>>(h, std::vector<Pixel>(w, p)), is16Bit);
}

// Counts the pixels that differ from the flat source and those whose three
// channels differ from each other.
struct GrainCount {
  int changed = 0;
  int coloured = 0;
};
GrainCount Count(const fx::Raster& out, Pixel flat) {
  GrainCount n;
  for (int32_t y = 0; y < out.Height(); ++y)
    for (int32_t x = 0; x < out.Width(); ++x) {
      const Pixel p = At(out, x, y);
      n.changed += p != flat;
      n.coloured += p[0] != p[1] || p[1] != p[2];
      EXPECT_EQ(p[3], flat[3]);
    }
  return n;
}

TEST(Grain, PresetFillsTheParametersOfTheRegistrysInstance) {
  Instance e(fx::effects::kGrain);
  e->flags |= fx::kHeldByRegistry;
  const int preset = fx::IndexOfKey(*e, "preset");
  e.Set("preset", 3);  // "Big"
  e->routines->parameterChanged(&*e, preset);
  for (const char* k : {"grainSizeRed", "grainSizeGrn", "grainSizeBlu"}) EXPECT_EQ(e.P(k).number, 2) << k;
  for (const char* k : {"grainAmountRed", "grainAmountGrn", "grainAmountBlu"})
    EXPECT_EQ(e.P(k).number, 50) << k;
  EXPECT_FALSE(e.P("grainMono").boolean);
  EXPECT_TRUE(e.P("grainAmountGrn").Enabled());
  // A monochrome stock switches "Monochrome" on, which disables green and blue.
  e.Set("preset", 25);  // "5298 500ASA" first, for its softness
  e->routines->parameterChanged(&*e, preset);
  EXPECT_EQ(e.P("grainSoftnessBlu").number, 0.8);
  EXPECT_EQ(e.P("grainAmountBlu").number, 70);
  e.Set("preset", 4);  // "Big Monochrome"
  e->routines->parameterChanged(&*e, preset);
  EXPECT_TRUE(e.P("grainMono").boolean);
  EXPECT_EQ(e.P("grainSizeRed").number, 1.5);
  EXPECT_EQ(e.P("grainAmountRed").number, 75);
  EXPECT_EQ(e.P("grainSoftnessBlu").number, 0);
  EXPECT_TRUE(e.P("grainSizeRed").Enabled());
  EXPECT_TRUE(e.P("grainAmountRed").Enabled());
  for (const char* k : {"grainSizeGrn", "grainAmountGrn", "grainSoftnessGrn", "grainSizeBlu",
                        "grainAmountBlu", "grainSoftnessBlu"})
    EXPECT_FALSE(e.P(k).Enabled()) << k;
  // Switching "Monochrome" off again leaves the values and enables them.
  e.Set("grainMono", 0);
  e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, "grainMono"));
  EXPECT_TRUE(e.P("grainAmountBlu").Enabled());
  EXPECT_EQ(e.P("grainSizeRed").number, 1.5);
}

TEST(Grain, OtherInstancesKeepTheirParametersForCustom) {
  Instance e(fx::effects::kGrain);  // made directly, not by the registry
  e.Set("preset", 3);
  e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, "preset"));
  EXPECT_EQ(e.P("grainSizeRed").number, 1);
  EXPECT_EQ(e.P("grainAmountRed").number, 25);
  for (const char* k : {"grainMono", "grainSizeRed", "grainAmountGrn", "grainSoftnessBlu"})
    EXPECT_FALSE(e.P(k).Enabled()) << k;
  EXPECT_TRUE(e.P("grainResponsePos").Enabled());
  e.Set("preset", 0);
  e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, "preset"));
  for (const char* k : {"grainMono", "grainSizeRed", "grainAmountGrn", "grainSoftnessBlu"})
    EXPECT_TRUE(e.P(k).Enabled()) << k;
  // ... but render the stock: "Big" amounts, not the parameters' zeros.
  e.Set("preset", 3).Set("grainAmountRed", 0).Set("grainAmountGrn", 0).Set("grainAmountBlu", 0);
  const Pixel grey = {128, 128, 128, 255};
  EXPECT_GT(Count(*Render(e, *Flat(30, 20, grey, false)), grey).changed, 0);
}

TEST(Grain, MonochromeStockRendersMonochromeWithTheSwitchOff) {
  const Pixel grey = {128, 128, 128, 255};  // "over" keeps an opaque alpha
  for (bool held : {false, true}) {
    Instance e(fx::effects::kGrain);
    if (held) e->flags |= fx::kHeldByRegistry;
    e.Set("preset", 2);  // "Basic Monochrome", not passed through parameter-changed
    ASSERT_FALSE(e.P("grainMono").boolean);
    const GrainCount mono = Count(*Render(e, *Flat(40, 30, grey, false)), grey);
    EXPECT_GT(mono.changed, 100) << held;
    EXPECT_EQ(mono.coloured, 0) << held;
  }
  // Colour grain on the same grey moves the channels apart.
  Instance colour(fx::effects::kGrain);
  const GrainCount n = Count(*Render(colour, *Flat(40, 30, grey, false)), grey);
  EXPECT_GT(n.coloured, 100);
}

TEST(Grain, SameTilingGivesTheSameGrain) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef src = Pattern(31, 17, is16Bit);
    Instance a(fx::effects::kGrain), b(fx::effects::kGrain);
    a.Set("grainSizeGrn", 3).Set("grainSoftnessBlu", 1.5);
    b.Set("grainSizeGrn", 3).Set("grainSoftnessBlu", 1.5);
    const fx::RasterRef first = Render(a, *src);
    ExpectSame(*Render(a, *src), *first, "again");
    ExpectSame(*Render(b, *src), *first, "another instance");
    int changed = 0;
    for (int32_t y = 0; y < 17; ++y)
      for (int32_t x = 0; x < 31; ++x) changed += At(*first, x, y) != At(*src, x, y);
    EXPECT_GT(changed, 31 * 17 / 2);
  }
}

TEST(Grain, NoAmountLeavesTheImageAlone) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef src = Pattern(20, 20, is16Bit);
    for (bool mono : {false, true}) {
      Instance e(fx::effects::kGrain);
      e.Set("grainAmountRed", 0).Set("grainAmountGrn", 0).Set("grainAmountBlu", 0).Set("grainMono", mono);
      e.Set("grainSizeBlu", 4).Set("grainSoftnessRed", 2);
      ExpectSame(*Render(e, *src), *src, mono ? "mono" : "colour");
    }
  }
}

TEST(Grain, Table) {
  Instance e(fx::effects::kGrain);
  EXPECT_STREQ(e->routines->displayName(&*e), "Ovra Grain");
  EXPECT_EQ(e->parameterCount, 17u);  // the group runs to the end of the table
  const fx::Parameter& preset = e.P("preset");
  EXPECT_EQ(preset.ItemCount(), 28);
  EXPECT_STREQ(preset.Item(0), "Custom");
  EXPECT_STREQ(preset.Item(27), "1600ASA");
  EXPECT_EQ(preset.flags & 0x210u, 0x210u);
  EXPECT_EQ(e.P("grainSizeGrn").flags & fx::kWholeNumbers, fx::kWholeNumbers);
  EXPECT_EQ(e.P("grainMono").flags & fx::kNotify, fx::kNotify);
  EXPECT_TRUE(e.Active());
  e.Set("view", 1);
  EXPECT_FALSE(e.Active());
}

// ------------------------------------------------------------------ Telecine

TEST(Telecine, NeutralRecordsPassTheImageThrough) {
  for (bool is16Bit : {false, true}) {
    Instance e(fx::effects::kTelecine);
    EXPECT_TRUE(e.Active());
    const fx::RasterRef src = Pattern(16, 16, is16Bit);
    ExpectSame(*Render(e, *src), *src, is16Bit ? "16-bit" : "8-bit");
    // Position and range alone move the band weights, not the image.
    e.Set("liftPos", 30).Set("gammaRange", 90).Set("gainPos", 60);
    ExpectSame(*Render(e, *src), *src, "bands moved");
  }
}

TEST(Telecine, HueShiftLeavesGreysAlone) {
  struct Case {
    const char* what;
    Pixel in, out;
    bool is16Bit;
  };
  const Case cases[] = {
      {"grey", {100, 100, 100, 7}, {100, 100, 100, 7}, false},
      {"black", {0, 0, 0, 7}, {0, 0, 0, 7}, false},
      {"grey 16", {20000, 20000, 20000, 1}, {20000, 20000, 20000, 1}, true},
      // 30 degrees turned to 150.
      {"orange 16", {32768, 16384, 0, 5}, {0, 32768, 16384, 5}, true},
  };
  for (const Case& c : cases) {
    Instance e(fx::effects::kTelecine);
    e.Set("masterMasterHue", 120).Set("masterMasterSat", 50);
    EXPECT_EQ(RenderPixel(e, c.in, c.is16Bit), c.out) << c.what;
  }
}

TEST(Telecine, SaturationScalesTheHsvSaturation) {
  // Master saturation -50 % halves s: (32768, 0, 0) becomes (32768, 16384, 16384).
  Instance e(fx::effects::kTelecine);
  e.Set("masterMasterSat", -50);
  EXPECT_EQ(RenderPixel(e, {32768, 0, 0, 32768}, true), (Pixel{32768, 16384, 16384, 32768}));
  // A band's hue is weighted by the band at the pixel's luminance: the gain
  // band (centre 1, full weight at white) cannot reach a black-luminance red.
  Instance f(fx::effects::kTelecine);
  f.Set("gainGainHue", 120);
  EXPECT_EQ(RenderPixel(f, {0, 0, 2, 255}, false), (Pixel{0, 0, 2, 255}));
}

TEST(Telecine, BandPedestalThroughTheWeightedTones) {
  // Gain pedestal -20 % on white: C[white] = L + trunc(-0.2 L), weighted by
  // the gain band at white and by u = 1. In 16 bits the weight's 1/L is
  // exact: 32768 - 6553 = 26215. In 8 bits it is 0.003921569, a hair above
  // 1/255, which takes the result just below 204.
  Instance e(fx::effects::kTelecine);
  e.Set("gainPedestal", -20);
  EXPECT_EQ(RenderPixel(e, {32768, 32768, 32768, 0}, true), (Pixel{26215, 26215, 26215, 0}));
  EXPECT_EQ(RenderPixel(e, {255, 255, 255, 0}, false), (Pixel{203, 203, 203, 0}));
  // Black has u = 0: no band moves it.
  EXPECT_EQ(RenderPixel(e, {0, 0, 0, 0}, false), (Pixel{0, 0, 0, 0}));
  // The same instance follows a changed record and a changed depth.
  e.Set("gainPedestal", -10);
  EXPECT_EQ(RenderPixel(e, {32768, 32768, 32768, 0}, true), (Pixel{29492, 29492, 29492, 0}));
  e.Set("gainPedestal", 0).Set("masterPedestal", 10);
  EXPECT_EQ(RenderPixel(e, {0, 0, 0, 0}, false), (Pixel{25, 25, 25, 0}));
}

TEST(Telecine, BandViewsShowTheWeightAsGrey) {
  struct Case {
    int view;
    Pixel in;
    int32_t weight;
    bool is16Bit;
  };
  const Case cases[] = {
      {1, {0, 0, 0, 9}, 255, false},               // lift: centre 0
      {1, {255, 255, 255, 9}, 0, false},           // beyond its reach of 0.8
      {2, {0, 0, 0, 9}, 0, false},                 // gamma: 0.5 +- 0.4
      {3, {32768, 32768, 32768, 9}, 32768, true},  // gain: centre 1
      {3, {0, 0, 0, 9}, 0, true},
  };
  for (const Case& c : cases) {
    Instance e(fx::effects::kTelecine);
    e.Set("view", c.view);
    EXPECT_TRUE(e.Active());
    const int32_t full = c.is16Bit ? 32768 : 255;
    EXPECT_EQ(RenderPixel(e, c.in, c.is16Bit), (Pixel{c.weight, c.weight, c.weight, full})) << c.view;
  }
  // The view follows the band's own position: the gamma band moved to 0.
  Instance e(fx::effects::kTelecine);
  e.Set("view", 2).Set("gammaPos", 0);
  EXPECT_EQ(RenderPixel(e, {0, 0, 0, 0}, false), (Pixel{255, 255, 255, 255}));
  e.Set("view", 4);
  EXPECT_FALSE(e.Active());
}

TEST(Telecine, Table) {
  Instance e(fx::effects::kTelecine);
  EXPECT_STREQ(e->routines->displayName(&*e), "Ovra Telecine");
  EXPECT_EQ(e->parameterCount, 40u);
  EXPECT_EQ(e.P("liftRange").number, 80.0000011920929);
  EXPECT_EQ(e.P("gammaRange").number, 40.00000059604645);
  EXPECT_EQ(e.P("gainPos").number, 100);
  EXPECT_EQ(e->parameters[39].kind, fx::Kind::GroupEnd);
}

// ------------------------------------------------------ F-Stop, Printer Points

TEST(FStop, PlusOneDoublesLinearLightUpToFullScale) {
  const fx::LinearTables& t = fx::LinearTables::Get();
  const auto to16 = t.ToLinear<uint16_t>();
  const auto from16 = t.FromLinear<uint16_t>();
  // The darkest 16-bit grey at or above mid-grey in linear light.
  int32_t mid = 0;
  while (to16[mid] < 16384) ++mid;
  Instance e(fx::effects::kFStop);
  e.Set("red", 1).Set("gang", 1);
  EXPECT_TRUE(e.Active());
  EXPECT_EQ(RenderPixel(e, {mid, mid, mid, 32768}, true), (Pixel{32768, 32768, 32768, 32768}));
  const int32_t below = from16[2 * to16[mid - 1]];
  EXPECT_LT(below, 32768);
  EXPECT_EQ(RenderPixel(e, {mid - 1, mid - 1, mid - 1, 3}, true), (Pixel{below, below, below, 3}));
  EXPECT_EQ(RenderPixel(e, {32768, 32768, 32768, 0}, true), (Pixel{32768, 32768, 32768, 0}));
  EXPECT_EQ(RenderPixel(e, {255, 255, 255, 255}, false), (Pixel{255, 255, 255, 255}));
}

TEST(FStop, WhiteStaysWhiteThroughLinearLight) {
  // Only the shadows change; white passes through linear light untouched.
  Instance e(fx::effects::kFStop);
  e.Set("sRed", -2).Set("sGang", 1);
  EXPECT_EQ(RenderPixel(e, {32768, 32768, 32768, 32768}, true), (Pixel{32768, 32768, 32768, 32768}));
  EXPECT_EQ(RenderPixel(e, {255, 255, 255, 255}, false), (Pixel{255, 255, 255, 255}));
  EXPECT_LT(RenderPixel(e, {40, 40, 40, 255}, false)[0], 40);
}

TEST(FStop, GangTakesRedForAllThreeChannels) {
  const fx::LinearTables& t = fx::LinearTables::Get();
  const int32_t grey = 100;
  const int32_t doubled = t.FromLinear<uint8_t>()[2 * t.ToLinear<uint8_t>()[grey]];
  const int32_t same = t.FromLinear<uint8_t>()[t.ToLinear<uint8_t>()[grey]];
  Instance e(fx::effects::kFStop);
  e.Set("red", 1);
  EXPECT_EQ(RenderPixel(e, {grey, grey, grey, 255}, false), (Pixel{doubled, same, same, 255}));
  e.Set("gang", 1).Set("green", -3).Set("blue", 4);  // ignored while ganged
  EXPECT_EQ(RenderPixel(e, {grey, grey, grey, 255}, false), (Pixel{doubled, doubled, doubled, 255}));
}

TEST(PrinterPoints, TwelvePointsAreOneStop) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef src = Pattern(16, 16, is16Bit);
    Instance points(fx::effects::kPrinterPoints), stops(fx::effects::kFStop);
    EXPECT_FALSE(points.Active());  // 25 is neutral
    points.Set("red", 37).Set("gang", 1);
    stops.Set("red", -1).Set("gang", 1);
    const fx::RasterRef a = Render(points, *src), b = Render(stops, *src);
    ExpectSame(*a, *b, is16Bit ? "16-bit" : "8-bit");
    EXPECT_LT(At(*a, 5, 5)[0], At(*src, 5, 5)[0]);
  }
  Instance points(fx::effects::kPrinterPoints);
  EXPECT_EQ(points.P("hBlue").Minimum(), -25);
  EXPECT_EQ(points.P("hBlue").Maximum(), 75);
  EXPECT_EQ(points.P("hBlue").number, 25);
  EXPECT_STREQ(points->routines->displayName(&*points), "Ovra Printer Points");
}

TEST(FStop, BandViewsAndActivity) {
  Instance e(fx::effects::kFStop);
  EXPECT_FALSE(e.Active());  // no exposure change
  e.Set("mGreen", 0.5);
  EXPECT_TRUE(e.Active());
  e.Set("mGreen", 0);
  struct Case {
    int view;
    Pixel in;
    int32_t weight;
    bool is16Bit;
  };
  const Case cases[] = {
      {1, {0, 0, 0, 4}, 255, false},               // shadows: centre 0
      {2, {0, 0, 0, 4}, 0, false},                 // midtones: 0.5 +- 0.4
      {3, {32768, 32768, 32768, 4}, 32768, true},  // highlights: centre 1
      {3, {0, 0, 0, 4}, 0, true},
  };
  for (const Case& c : cases) {
    e.Set("view", c.view);
    EXPECT_TRUE(e.Active()) << c.view;
    const int32_t full = c.is16Bit ? 32768 : 255;
    EXPECT_EQ(RenderPixel(e, c.in, c.is16Bit), (Pixel{c.weight, c.weight, c.weight, full})) << c.view;
  }
  e.Set("view", 4);
  EXPECT_FALSE(e.Active());
}

TEST(FStop, GangSwitchesDisableGreenAndBlue) {
  Instance e(fx::effects::kFStop);
  EXPECT_EQ(e->parameterCount, 32u);
  for (const char* group : {"", "s", "m", "h"}) {
    const std::string prefix = group;
    const std::string gang = prefix.empty() ? "gang" : prefix + "Gang";
    const std::string green = prefix.empty() ? "green" : prefix + "Green";
    const std::string blue = prefix.empty() ? "blue" : prefix + "Blue";
    const int index = fx::IndexOfKey(*e, gang);
    EXPECT_EQ(e->parameters[index].flags & fx::kNotify, fx::kNotify);
    e.Set(gang, 1);
    e->routines->parameterChanged(&*e, index);
    EXPECT_FALSE(e.P(green).Enabled()) << gang;
    EXPECT_FALSE(e.P(blue).Enabled()) << gang;
    e.Set(gang, 0);
    e->routines->parameterChanged(&*e, index);
    EXPECT_TRUE(e.P(green).Enabled()) << gang;
    EXPECT_TRUE(e.P(blue).Enabled()) << gang;
  }
  // Other parameters leave the switches' neighbours alone.
  e.Set("gang", 1);
  e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, "red"));
  EXPECT_TRUE(e.P("green").Enabled());
}

}  // namespace
