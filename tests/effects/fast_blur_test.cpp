#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "effects/focus_blur.h"
#include "imaging/separable_blur.h"
#include "tests/effects/effect_harness.h"

using namespace effecttest;

namespace {

fx::RasterRef RandomRaster(int32_t w, int32_t h, bool is16Bit, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int32_t> sample(0, is16Bit ? 32768 : 255);
  std::vector<std::vector<Pixel>> rows(h, std::vector<Pixel>(w));
  for (auto& row : rows)
    for (Pixel& p : row)
      for (int32_t& v : p) v = sample(gen);
  return MakeRaster(rows, is16Bit);
}

bool Same(const fx::Raster& a, const fx::Raster& b) {
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x)
      if (At(a, x, y) != At(b, x, y)) return false;
  return true;
}

TEST(FastBlur, ParameterTable) {
  Instance e(fx::effects::kFastBlur);
  EXPECT_STREQ(e->routines->displayName(&*e), "Ovra Fast Blur");
  EXPECT_STREQ(e->routines->description(&*e), "Blur images.");
  ASSERT_EQ(e->parameterCount, 6u);
  struct Row {
    const char* key;
    const char* label;
    fx::Kind kind;
  };
  const Row rows[] = {
      {"input", "Input", fx::Kind::ImageInput},     {"view", "View", fx::Kind::List},
      {"quality", "Quality", fx::Kind::List},       {"blurX", "Horizontal Blur", fx::Kind::Range},
      {"blurY", "Vertical Blur", fx::Kind::Range}, {"gang", "Gang", fx::Kind::Boolean},
  };
  for (uint32_t i = 0; i < 6; ++i) {
    const fx::Parameter& p = e->parameters[i];
    EXPECT_STREQ(p.key, rows[i].key);
    EXPECT_STREQ(p.label, rows[i].label);
    EXPECT_EQ(p.kind, rows[i].kind) << p.key;
  }
  EXPECT_EQ(e->imageInputCount, 1u);
  EXPECT_STREQ(e.P("view").Item(0), "Output");
  EXPECT_STREQ(e.P("view").Item(1), "Original");
  EXPECT_EQ(e.P("view").ItemCount(), 2);
  EXPECT_STREQ(e.P("quality").Item(0), "Box");
  EXPECT_STREQ(e.P("quality").Item(1), "Gaussian");
  EXPECT_EQ(e.P("quality").ItemCount(), 2);
  for (const char* key : {"blurX", "blurY"}) {
    EXPECT_EQ(e.P(key).Minimum(), 0) << key;
    EXPECT_EQ(e.P(key).Maximum(), 1000) << key;
    EXPECT_EQ(e.P(key).number, 20) << key;
  }
  EXPECT_TRUE(e.P("gang").boolean);
  EXPECT_EQ(e.P("view").listIndex, 0);
  EXPECT_EQ(e.P("quality").listIndex, 0);
  // The gang's rows notify the effect.
  for (const char* key : {"blurX", "blurY", "gang"}) EXPECT_NE(e.P(key).flags & fx::kNotify, 0u) << key;
  EXPECT_EQ(e.P("quality").flags & fx::kNotify, 0u);
}

TEST(FastBlur, GangKeepsTheVerticalBlurOnTheHorizontal) {
  Instance e(fx::effects::kFastBlur);
  const int blurX = fx::IndexOfKey(*e, "blurX"), gang = fx::IndexOfKey(*e, "gang");
  e.Set("blurX", 55);
  e->routines->parameterChanged(&*e, blurX);
  EXPECT_EQ(e.P("blurY").number, 55);
  EXPECT_FALSE(e.P("blurY").Enabled());
  EXPECT_NE(e.P("blurY").flags & fx::kStateChanged, 0u);
  // Off: the vertical blur is free again and no longer follows.
  e.Set("gang", 0);
  e->routines->parameterChanged(&*e, gang);
  EXPECT_TRUE(e.P("blurY").Enabled());
  e.Set("blurX", 70);
  e->routines->parameterChanged(&*e, blurX);
  EXPECT_EQ(e.P("blurY").number, 55);
  // On again: it takes the horizontal value.
  e.Set("gang", 1);
  e->routines->parameterChanged(&*e, gang);
  EXPECT_EQ(e.P("blurY").number, 70);
  EXPECT_FALSE(e.P("blurY").Enabled());
}

TEST(FastBlur, GangOnIgnoresTheVerticalBlur) {
  const fx::RasterRef source = RandomRaster(24, 30, false, 3);
  Instance ganged(fx::effects::kFastBlur), freed(fx::effects::kFastBlur), reference(fx::effects::kFastBlur);
  ganged.Set("blurX", 100).Set("blurY", 0);
  freed.Set("blurX", 100).Set("blurY", 0).Set("gang", 0);
  reference.Set("blurX", 100).Set("blurY", 100).Set("gang", 0);
  const fx::RasterRef a = Render(ganged, *source), b = Render(freed, *source), c = Render(reference, *source);
  EXPECT_TRUE(Same(*a, *c));
  EXPECT_FALSE(Same(*a, *b));
}

TEST(FastBlur, ZeroRadiusReturnsTheInput) {
  for (bool is16Bit : {false, true})
    for (int quality : {0, 1}) {
      const fx::RasterRef source = RandomRaster(9, 7, is16Bit, 4);
      Instance ganged(fx::effects::kFastBlur), freed(fx::effects::kFastBlur);
      ganged.Set("quality", quality).Set("blurX", 0).Set("blurY", 300);
      freed.Set("quality", quality).Set("blurX", 0).Set("blurY", 0).Set("gang", 0);
      EXPECT_FALSE(ganged.Active());
      EXPECT_FALSE(freed.Active());
      EXPECT_TRUE(Same(*Render(ganged, *source), *source));
      EXPECT_TRUE(Same(*Render(freed, *source), *source));
    }
  Instance original(fx::effects::kFastBlur);
  EXPECT_TRUE(original.Active());
  original.Set("view", 1);
  EXPECT_FALSE(original.Active());
}

// The render is the engine's blur with the mode from "quality", two box
// passes and the radii converted from thousandths of the height.
TEST(FastBlur, RendersTheEngineBlurWithConvertedRadii) {
  for (bool is16Bit : {false, true})
    for (int quality : {0, 1}) {
      const fx::RasterRef source = RandomRaster(40, 50, is16Bit, 5);
      Instance e(fx::effects::kFastBlur);
      e.Set("quality", quality).Set("gang", 0).Set("blurX", 130).Set("blurY", 45);  // 6.5 and 2.25 pixels
      const fx::RasterRef out = Render(e, *source);
      fx::RasterRef expected = fx::MakeRaster(40, 50, 4, is16Bit ? 2 : 1);
      expected->CopyFrom(*source);
      fx::SeparableBlur blur;
      blur.SetMode(quality);
      blur.SetPasses(1);
      blur.SetRadii(130 * 0.001 * 50, 45 * 0.001 * 50);
      blur.Blur(*expected, expected->Bounds());
      EXPECT_TRUE(Same(*out, *expected)) << is16Bit << " " << quality;
      EXPECT_FALSE(Same(*out, *source));
    }
}

TEST(FastBlur, ExpandRectCoversTheWholeReach) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, double>> set;
    int32_t imageHeight;
    float scaleX, scaleY;
    int32_t rows, columns;  // growth on each side
  };
  const std::vector<Case> cases = {
      // 20 pixels: two box passes of c = 10 reach 20; the band's lines need 2c + 1.
      {"box", {}, 1000, 1, 1, 21, 21},
      // Gaussian: three times the radius.
      {"gaussian", {{"quality", 1}}, 1000, 1, 1, 60, 60},
      // Gang off: 5 pixels vertically, h = 2.5, c = 3.
      {"free vertical", {{"gang", 0}, {"blurY", 5}}, 1000, 1, 1, 7, 21},
      // A preview at half scale: the image height is the zoomed one.
      {"preview", {}, 500, 0.5f, 0.5f, 11, 11},
      // Horizontal radius v x 0.001 x H x sx / sy = 40 pixels.
      {"anisotropic", {}, 1000, 1, 0.5f, 21, 41},
      {"original", {{"view", 1}}, 1000, 1, 1, 0, 0},
      {"zero", {{"blurX", 0}}, 1000, 1, 1, 0, 0},
  };
  for (const Case& c : cases) {
    Instance e(fx::effects::kFastBlur);
    for (const auto& [k, v] : c.set) e.Set(k, v);
    fx::RenderInfo info;
    info.imageHeight = c.imageHeight;
    info.imageWidth = 2 * c.imageHeight;
    info.scaleX = c.scaleX;
    info.scaleY = c.scaleY;
    const fx::Rect probe{100, 0, 356, 2000};
    fx::Rect rect = probe;
    e->routines->expandRect(&*e, &info, &rect);
    EXPECT_EQ(rect, probe.Grown(c.rows, c.columns)) << c.what;
  }
}

}  // namespace
