// The diffusion family rendered directly: parameter tables, the gang of the
// glow blur, the selection defaults, Fog's veil, Diffusion's texture (blend
// and placement), Low Contrast's lifted shadows, the soft mix and Faux
// Film's grain.
#include "effects/diffusion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "effects/diffusion_texture.h"
#include "effects/film_looks.h"
#include "effects/gel_filter.h"
#include "effects/glow.h"
#include "effects/tone_range.h"
#include "framework/memory.h"
#include "imaging/parallel.h"
#include "imaging/quad_warp.h"
#include "imaging/separable_blur.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/grey_png.h"

using namespace effecttest;

namespace {

namespace fs = std::filesystem;

// ------------------------------------------------------------------ helpers

fx::RasterRef RandomImage(int32_t w, int32_t h, bool is16Bit, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int32_t> sample(0, is16Bit ? 32768 : 255);
  std::vector<std::vector<Pixel>> rows(h, std::vector<Pixel>(w));
  for (auto& row : rows)
    for (Pixel& p : row) p = {sample(gen), sample(gen), sample(gen), sample(gen)};
  return MakeRaster(rows, is16Bit);
}

fx::RasterRef Uniform(int32_t w, int32_t h, bool is16Bit, Pixel p) {
  return MakeRaster(std::vector<std::vector<Pixel>>(h, std::vector<Pixel>(w, p)), is16Bit);
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

// The single-channel value shown by a grey view at (x, y).
int32_t Grey(const fx::Raster& r, int32_t x, int32_t y) {
  return At(r, x, y)[0];
}

// Counts the blocks the module's memory handler hands out.
class CountingMemory final : public fx::MemoryHandler {
 public:
  CountingMemory() : previous_(fx::InstallMemoryHandler(this)) {}
  ~CountingMemory() override { fx::InstallMemoryHandler(previous_); }
  void* Allocate(std::size_t size) override {
    ++count;
    return previous_ ? previous_->Allocate(size) : ::operator new(size);
  }
  void Free(void* block) override {
    if (previous_)
      previous_->Free(block);
    else
      ::operator delete(block);
  }
  int count = 0;

 private:
  fx::MemoryHandler* previous_;
};

// Renders like effecttest::Render and reports how many blocks the render
// itself took.
fx::RasterRef RenderCounting(Instance& e, const fx::Raster& source, int& blocks) {
  fx::RasterRef dst = fx::MakeRaster(source.Width(), source.Height(), 4, source.BytesPerSample());
  fx::RenderInfo info;
  info.imageWidth = source.Width();
  info.imageHeight = source.Height();
  info.is16Bit = source.Is16Bit();
  info.tileCount = 1;
  info.tileIndex = 0;
  info.destination = dst.get();
  info.area = info.outputRect = {0, 0, source.Height(), source.Width()};
  e->parameters[0].source = const_cast<fx::Raster*>(&source);
  {
    CountingMemory memory;
    e->routines->render(&*e, &info);
    blocks = memory.count;
  }
  e->parameters[0].source = nullptr;
  return dst;
}

// ------------------------------------------------------------ the tables

TEST(DiffusionFamily, ParameterTables) {
  struct Table {
    const fx::EffectRoutines& routines;
    const char* displayName;
    std::vector<std::string> keys;
  };
  const std::vector<std::string> glowMist = {"glow",           "mist",      "glowBlend",
                                             "glowBrightness", "glowBlurH", "glowBlurV",
                                             "glowBlurGang",   "glowColor", ""};
  const std::vector<std::string> matte = {"matte", "mattePosition", "matteRange", "matteBlur", ""};
  const std::vector<std::string> gel = {"color", "opacity", "highlights", "exposure", ""};
  auto join = [](std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  const std::vector<Table> tables = {
      {fx::effects::kDiffusion, "Ovra Diffusion",
       join({{"background", "view", "glow", "diffusion", "glowBlend", "glowBrightness", "glowBlurH",
              "glowBlurV", "glowBlurGang", "glowColor", ""},
             matte,
             {"texture",
              "diffTexture",
              "diffTexBlend",
              "dve",
              "dveCrop",
              "dveCropTop",
              "dveCropBottom",
              "dveCropLeft",
              "dveCropRight",
              "",
              "dveCornerPin",
              "dveCornerPinUL",
              "dveCornerPinUR",
              "dveCornerPinLR",
              "dveCornerPinLL",
              "",
              "dvePosition",
              "dveScaleX",
              "dveScaleY",
              "dveScaleGang",
              "dveRotate",
              "dveShearX",
              "dveShearY",
              "dveAnchorX",
              "dveAnchorY",
              "",
              ""}})},
      {fx::effects::kGlow, "Ovra Glow",
       join({{"background", "view", "glow", "glowMode", "glowBlend", "glowBrightness", "glowHBlur",
              "glowVBlur", "glowGangBlur", "glowColor", ""},
             matte})},
      {fx::effects::kMist, "Ovra Mist", join({{"background", "view"}, glowMist, matte})},
      {fx::effects::kBlackMist, "Ovra Black Mist", join({{"background", "view"}, glowMist, matte})},
      {fx::effects::kFog, "Ovra Fog",
       join({{"background", "view", "fogGroup", "color", "vanish", "density", "minDepth", "maxDepth", "",
              "glow", "glowBlend", "glowBrightness", "glowHBlur", "glowVBlur", "glowGangBlur", "glowColor",
              ""},
             matte})},
      {fx::effects::kWarmMist, "Ovra Warm Mist",
       join({{"background", "view"}, glowMist, {"warming"}, gel, matte})},
      {fx::effects::kWarmBlackMist, "Ovra Warm Black Mist",
       join({{"background", "view"}, glowMist, {"warming"}, gel, matte})},
      {fx::effects::kDefog,
       "Ovra Defog",
       {"background", "view", "defog", "color", "vanish", "density", "minDepth", "maxDepth", "", "colorGroup",
        "hue", "saturation", "brightness", "contrast", "gamma", "red", "green", "blue", ""}},
      {fx::effects::kSoftEffects,
       "Ovra Soft Effects",
       {"input", "view", "blurX", "blurY", "blurGang", "opacity"}},
      {fx::effects::kWarmSoftEffects, "Ovra Warm Soft Effects",
       join({{"input", "view", "blurGroup", "blurX", "blurY", "blurGang", "opacity", "", "warmingGroup"},
             gel})},
      {fx::effects::kHalo,
       "Ovra Halo",
       {"input", "view", "diffusion", "blurX", "blurY", "blurGang", "opacity", "", "colorCorrect", "hue",
        "sat", "bri", "con", "gam", ""}},
      {fx::effects::kLowContrast, "Ovra Low Contrast",
       join({{"background", "view", "contrast", "lightBrightness", "lightSpread", "shadowBrightness", ""},
             matte})},
      {fx::effects::kFauxFilm, "Ovra Faux Film",
       join({{"background", "view"},
             glowMist,
             {"grain",
              "grainRSize",
              "grainGSize",
              "grainBSize",
              "grainRAmount",
              "grainGAmount",
              "grainBAmount",
              "grainRSoftness",
              "grainGSoftness",
              "grainBSoftness",
              "grainResponse",
              "grainPos",
              "grainRange",
              "grainMin",
              "",
              "",
              "density",
              "hue",
              "saturation",
              "brightness",
              "contrast",
              "gamma",
              "red",
              "green",
              "blue",
              "warmCool",
              ""},
             matte})},
  };
  for (const Table& t : tables) {
    Instance e(t.routines);
    EXPECT_STREQ(e->routines->displayName(&*e), t.displayName);
    EXPECT_EQ(Keys(e), t.keys) << t.displayName;
    EXPECT_EQ(e->imageInputCount, 1u) << t.displayName;
    const fx::Parameter& view = e->parameters[1];
    EXPECT_STREQ(view.Item(0), "Output") << t.displayName;
    EXPECT_STREQ(view.Item(view.ItemCount() - 1), "Original") << t.displayName;
  }
}

// Where the members' tables differ from each other.
TEST(DiffusionFamily, Defaults) {
  Instance diffusion(fx::effects::kDiffusion), glow(fx::effects::kGlow), mist(fx::effects::kMist),
      black(fx::effects::kBlackMist), fog(fx::effects::kFog), faux(fx::effects::kFauxFilm),
      low(fx::effects::kLowContrast), soft(fx::effects::kSoftEffects);
  EXPECT_EQ(diffusion.P("diffusion").listIndex, 1);
  EXPECT_EQ(diffusion.P("glowBlend").listIndex, 0);
  EXPECT_EQ(diffusion.P("glowBlurH").number, 20);
  EXPECT_EQ(diffusion.P("glowBrightness").Maximum(), 800);
  EXPECT_EQ(diffusion.P("diffTexBlend").ItemCount(), 8);
  EXPECT_EQ(diffusion.P("dveScaleX").number, 100);
  EXPECT_EQ(diffusion.P("dveRotate").Minimum(), -360);
  EXPECT_NE(diffusion.P("dveRotate").flags & 0x1000, 0u);
  EXPECT_EQ(diffusion.P("diffTexture").ImageFileName(), nullptr);  // no texture until one is picked
  EXPECT_EQ(glow.P("glowMode").listIndex, 1);
  EXPECT_EQ(glow.P("glowBlend").listIndex, 1);
  EXPECT_EQ(glow.P("glowHBlur").number, 50);
  EXPECT_EQ(mist.P("glowBlurH").number, 50);
  EXPECT_EQ(mist.P("mattePosition").number, 100);
  EXPECT_EQ(black.P("mattePosition").number, 0);
  EXPECT_EQ(black.P("matteRange").number, 80);
  EXPECT_EQ(fog.P("glowBrightness").Maximum(), 1000);
  EXPECT_EQ(fog.P("glowBrightness").number, 100);
  EXPECT_EQ(fog.P("matteRange").number, 20);
  EXPECT_EQ(fog.P("density").number, 10);
  EXPECT_EQ(faux.P("grainRAmount").number, 25);
  EXPECT_EQ(faux.P("grainBSize").number, 1);
  EXPECT_EQ(faux.P("warmCool").Minimum(), -50);
  EXPECT_EQ(low.P("shadowBrightness").Maximum(), 30);
  EXPECT_NE(low.P("contrast").flags & fx::kPlainGroup, 0u);
  EXPECT_EQ(soft.P("opacity").number, 35);
  Instance warmBlack(fx::effects::kWarmBlackMist), warmSoft(fx::effects::kWarmSoftEffects),
      halo(fx::effects::kHalo), defog(fx::effects::kDefog);
  EXPECT_EQ(warmBlack.P("mattePosition").number, 0);
  EXPECT_EQ(warmBlack.P("opacity").number, 50);
  EXPECT_NEAR(warmBlack.P("color").colour.g, 203 / 255.0, 1e-12);
  EXPECT_EQ(warmSoft->parameters[6].number, 35);   // the blur's opacity
  EXPECT_EQ(warmSoft->parameters[10].number, 50);  // the gel's
  EXPECT_EQ(halo.P("sat").number, -35);
  EXPECT_EQ(halo.P("gam").number, -25);
  EXPECT_EQ(defog.P("color").colour.r, 0.9);
  EXPECT_EQ(defog.P("view").ItemCount(), 2);
  for (Instance* e : {&diffusion, &glow, &mist, &fog, &faux})
    EXPECT_NE(e->P("glowBrightness").flags & fx::kPrincipal, 0u);
}

TEST(DiffusionFamily, GangKeepsTheVerticalBlurOnTheHorizontal) {
  struct Member {
    const fx::EffectRoutines& routines;
    const char *h, *v, *gang;
  };
  const Member members[] = {
      {fx::effects::kDiffusion, "glowBlurH", "glowBlurV", "glowBlurGang"},
      {fx::effects::kGlow, "glowHBlur", "glowVBlur", "glowGangBlur"},
      {fx::effects::kMist, "glowBlurH", "glowBlurV", "glowBlurGang"},
      {fx::effects::kFog, "glowHBlur", "glowVBlur", "glowGangBlur"},
      {fx::effects::kFauxFilm, "glowBlurH", "glowBlurV", "glowBlurGang"},
      {fx::effects::kSoftEffects, "blurX", "blurY", "blurGang"},
      {fx::effects::kWarmSoftEffects, "blurX", "blurY", "blurGang"},
      {fx::effects::kHalo, "blurX", "blurY", "blurGang"},
      {fx::effects::kWarmMist, "glowBlurH", "glowBlurV", "glowBlurGang"},
  };
  for (const Member& m : members) {
    Instance e(m.routines);
    e.Set(m.h, 77);
    e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, m.h));
    EXPECT_EQ(e.P(m.v).number, 77) << m.h;
    EXPECT_FALSE(e.P(m.v).Enabled()) << m.h;
    e.Set(m.gang, 0);
    e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, m.gang));
    EXPECT_TRUE(e.P(m.v).Enabled()) << m.h;
    e.Set(m.v, 5);
    e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, m.v));
    EXPECT_EQ(e.P(m.v).number, 5) << m.h;
  }
  Instance diffusion(fx::effects::kDiffusion);
  diffusion.Set("dveScaleX", 40);
  diffusion->routines->parameterChanged(&*diffusion, fx::IndexOfKey(*diffusion, "dveScaleGang"));
  EXPECT_EQ(diffusion.P("dveScaleY").number, 40);
  EXPECT_FALSE(diffusion.P("dveScaleY").Enabled());
}

// ------------------------------------------------------ glow through a matte

// Brightness 0 leaves the image as it is and builds no matte: the render
// takes no memory at all.
TEST(DiffusionFamily, BrightnessZeroBuildsNoMatte) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef source = RandomImage(7, 5, is16Bit, 1);
    for (const fx::EffectRoutines* r :
         {&fx::effects::kDiffusion, &fx::effects::kGlow, &fx::effects::kMist, &fx::effects::kBlackMist,
          &fx::effects::kWarmMist, &fx::effects::kWarmBlackMist, &fx::effects::kFog,
          &fx::effects::kFauxFilm}) {
      Instance e(*r);
      if (fx::IndexOfKey(*e, "highlights") >= 0) e.Set("opacity", 0);
      if (fx::IndexOfKey(*e, "grainRAmount") >= 0)
        for (const char* key : {"grainRAmount", "grainGAmount", "grainBAmount"}) e.Set(key, 0);
      e.Set("glowBrightness", 0);
      if (fx::IndexOfKey(*e, "density") >= 0) e.Set("density", 0);
      int blocks = -1;
      EXPECT_TRUE(Same(*RenderCounting(e, *source, blocks), *source)) << e->routines->displayName(&*e);
      EXPECT_EQ(blocks, 0) << e->routines->displayName(&*e);
      e.Set("glowBrightness", 50);
      RenderCounting(e, *source, blocks);
      EXPECT_GT(blocks, 0) << e->routines->displayName(&*e);
    }
  }
}

// Mist glows from the highlights, Black Mist from the shadows: the two
// selections mirror each other.
TEST(DiffusionFamily, BlackMistSelectsTheDarkAreasByDefault) {
  for (bool is16Bit : {false, true}) {
    const int32_t full = is16Bit ? 32768 : 255;
    const fx::RasterRef source = MakeRaster({{{0, 0, 0, full}, {full, full, full, full}}}, is16Bit);
    Instance black(fx::effects::kBlackMist), mist(fx::effects::kMist);
    black.Set("view", 1);
    mist.Set("view", 1);
    const fx::RasterRef b = Render(black, *source), m = Render(mist, *source);
    EXPECT_EQ(At(*b, 0, 0), (Pixel{full, full, full, full})) << is16Bit;
    EXPECT_LT(Grey(*b, 1, 0), full / 10) << is16Bit;
    EXPECT_EQ(At(*m, 1, 0), (Pixel{full, full, full, full})) << is16Bit;
    EXPECT_EQ(At(*m, 0, 0), At(*b, 1, 0)) << is16Bit;
  }
}

// The Glow effect's output is the glow of the matte its "Selection" view
// shows, with the blurs converted to pixels (thousandths of the height).
TEST(DiffusionFamily, GlowEffectLaysTheGlowOfItsSelection) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef source = RandomImage(10, 8, is16Bit, 3);
    Instance e(fx::effects::kGlow);
    e.Set("glowMode", 0).Set("glowBlend", 0).Set("glowBrightness", 150).Set("glowHBlur", 250);
    e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, "glowHBlur"));
    fx::SetColour(e.P("glowColor"), {0.5, 0.25, 1.0});
    e.Set("view", 1);
    const fx::RasterRef shown = Render(e, *source);
    fx::RasterRef matte = fx::MakeRaster(10, 8, 1, is16Bit ? 2 : 1);
    for (int32_t y = 0; y < 8; ++y)
      for (int32_t x = 0; x < 10; ++x) {
        if (is16Bit)
          matte->RowAs<uint16_t>(y)[x] = static_cast<uint16_t>(Grey(*shown, x, y));
        else
          matte->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(Grey(*shown, x, y));
      }
    fx::RasterRef expected = fx::MakeRaster(10, 8, 4, is16Bit ? 2 : 1);
    expected->CopyFrom(*source);
    fx::GlowSettings s;
    s.mode = fx::GlowMode::kSubtle;
    s.blend = fx::GlowBlend::kScreen;
    s.brightness = 1.5;
    s.colour = {0.5, 0.25, 1.0};
    s.blurX = s.blurY = 0.25 * 8;
    fx::Glow(*expected, *matte, expected->Bounds(), s, fx::RenderInfo{});
    e.Set("view", 0);
    EXPECT_TRUE(Same(*Render(e, *source), *expected)) << is16Bit;
  }
}

// ---------------------------------------------------------------------- Fog

TEST(Fog, NoDensityNoVeil) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef source = RandomImage(9, 6, is16Bit, 2);
    Instance e(fx::effects::kFog);
    e.Set("density", 0).Set("glowBrightness", 0);
    EXPECT_TRUE(Same(*Render(e, *source), *source)) << is16Bit;
  }
}

// A black image in white fog of density 100 %, Min Depth 0: the vanishing
// point (the centre) at Max Depth 100 gets 1 - exp(-5) of the fog, the far
// corner none, and half-way 1 - exp(-2.5). Swapped depths are the same.
TEST(Fog, VeilFollowsTheDepthFromTheVanishingPoint) {
  for (bool is16Bit : {false, true}) {
    const int32_t full = is16Bit ? 32768 : 255;
    const fx::RasterRef source = Uniform(21, 11, is16Bit, {0, 0, 0, 9});
    for (bool swapped : {false, true}) {
      Instance e(fx::effects::kFog);
      e.Set("density", 100).Set("glowBrightness", 0);
      e.Set("minDepth", swapped ? 100 : 0).Set("maxDepth", swapped ? 0 : 100);
      const fx::RasterRef out = Render(e, *source);
      // Vanishing point (10, 5); the far corner (20, 10) and the opposite
      // one (0, 0) both at a = sqrt(125).
      const auto expected = [&](double depth) {
        return static_cast<int32_t>((1 - std::exp(-(1.0 * depth * 0.05))) * full);
      };
      EXPECT_EQ(At(*out, 10, 5), (Pixel{expected(100), expected(100), expected(100), 9})) << is16Bit;
      EXPECT_EQ(At(*out, 0, 0), (Pixel{0, 0, 0, 9})) << is16Bit;
      // (10 + 10 * t, 5 + 5 * t) for t = 0.6 is (16, 8): d / a = 0.6.
      EXPECT_EQ(Grey(*out, 16, 8), expected(40)) << is16Bit;
    }
  }
}

TEST(Fog, VanishingPointMovesTheVeil) {
  const fx::RasterRef source = Uniform(20, 10, false, {0, 0, 0, 255});
  Instance e(fx::effects::kFog);
  e.Set("density", 100).Set("minDepth", 0).Set("glowBrightness", 0);
  fx::SetPoint(e.P("vanish"), {-0.5, -0.5});
  const fx::RasterRef out = Render(e, *source);
  EXPECT_EQ(Grey(*out, 0, 0), 253);  // 255 (1 - exp(-5))
  EXPECT_EQ(Grey(*out, 19, 9), 0);   // the far corner
  EXPECT_GT(Grey(*out, 2, 1), Grey(*out, 10, 5));
}

// Every pixel of the veil against its formula, for vanishing points at the
// centre, off it, in a corner and beyond the middle column: columns on both
// sides of the point share their distances, and each must still get the
// depth of its own place.
TEST(Fog, EveryPixelFollowsItsDistance) {
  const int32_t w = 23, h = 13;
  const fx::PointD points[] = {{0, 0}, {0.3, -0.2}, {-0.5, 0.5}, {0.45, 0.1}, {-0.13, 0.27}};
  for (bool is16Bit : {false, true}) {
    const int32_t full = is16Bit ? 32768 : 255;
    const fx::RasterRef source = Uniform(w, h, is16Bit, {0, 0, 0, 9});
    for (const fx::PointD& v : points) {
      Instance e(fx::effects::kFog);
      e.Set("density", 70).Set("minDepth", 20).Set("maxDepth", 90).Set("glowBrightness", 0);
      fx::SetPoint(e.P("vanish"), v);
      const fx::RasterRef out = Render(e, *source);
      const double vx = static_cast<double>(static_cast<int64_t>((v.x + 0.5) * w));
      const double vy = static_cast<double>(static_cast<int64_t>((v.y + 0.5) * h));
      const double a = std::hypot((vx < w * 0.5 ? w - 1 : 0) - vx, (vy < h * 0.5 ? h - 1 : 0) - vy);
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
          const double depth = 20 + (90 - 20) * (1 - std::hypot(x - vx, y - vy) / a);
          const double o = std::exp(-(0.7 * depth * 0.05));
          const int32_t want = static_cast<int32_t>(std::clamp(1 - o, 0.0, 1.0) * full);
          ASSERT_EQ(At(*out, x, y), (Pixel{want, want, want, 9}))
              << is16Bit << " vanishing point " << v.x << "," << v.y << " at " << x << "," << y;
        }
    }
  }
}

// ------------------------------------------------------------ the texture

TEST(DiffusionTexture, EveryBlendExactly) {
  using fx::TextureBlend;
  struct Case {
    TextureBlend blend;
    int32_t eight, sixteen;  // T = 200, M = 100; T = 25000, M = 12000
  };
  const Case cases[] = {
      {TextureBlend::kTextureOnly, 200, 25000}, {TextureBlend::kAdd, 255, 32768},
      {TextureBlend::kSubtract, 100, 13000},    {TextureBlend::kMultiply, 78, 9155},
      {TextureBlend::kScreen, 222, 27845},      {TextureBlend::kDifference, 144, 18690},
      {TextureBlend::kDarken, 100, 12000},      {TextureBlend::kLighten, 200, 25000},
  };
  for (const Case& c : cases)
    for (bool is16Bit : {false, true}) {
      fx::RasterRef t = fx::MakeRaster(2, 1, 1, is16Bit ? 2 : 1),
                    m = fx::MakeRaster(2, 1, 1, is16Bit ? 2 : 1);
      const auto put = [&](fx::Raster& r, int32_t x, int32_t v) {
        if (is16Bit)
          r.RowAs<uint16_t>(0)[x] = static_cast<uint16_t>(v);
        else
          r.RowAs<uint8_t>(0)[x] = static_cast<uint8_t>(v);
      };
      const auto get = [&](const fx::Raster& r, int32_t x) {
        return is16Bit ? int32_t{r.RowAs<uint16_t>(0)[x]} : int32_t{r.RowAs<uint8_t>(0)[x]};
      };
      put(*t, 0, is16Bit ? 25000 : 200);
      put(*m, 0, is16Bit ? 12000 : 100);
      // Subtract below zero, Add above full scale.
      put(*t, 1, is16Bit ? 12000 : 100);
      put(*m, 1, is16Bit ? 25000 : 200);
      fx::BlendTexture(*t, *m, {0, 0, 1, 2}, c.blend);
      EXPECT_EQ(get(*m, 0), is16Bit ? c.sixteen : c.eight) << static_cast<int>(c.blend) << " " << is16Bit;
      if (c.blend == TextureBlend::kSubtract) {
        EXPECT_EQ(get(*m, 1), 0);
      }
      if (c.blend == TextureBlend::kAdd) {
        EXPECT_EQ(get(*m, 1), is16Bit ? 32768 : 255);
      }
    }
}

// The texture as the "Texture" view shows it, for an image of w x h.
fx::RasterRef TextureView(Instance& e, int32_t w, int32_t h, bool is16Bit = false) {
  e.Set("view", 2);
  return Render(e, *Uniform(w, h, is16Bit, {10, 20, 30, 40}));
}

std::string ConstantTexture(int32_t w, int32_t h, int32_t value) {
  const std::string name =
      "constant_" + std::to_string(w) + "x" + std::to_string(h) + "_" + std::to_string(value) + ".png";
  return WriteGreyPng(name, std::vector<std::vector<int32_t>>(h, std::vector<int32_t>(w, value)));
}

TEST(DiffusionTexture, NoTextureShowsBlackAndUsesTheMatteAlone) {
  for (bool is16Bit : {false, true}) {
    const int32_t full = is16Bit ? 32768 : 255;
    Instance e(fx::effects::kDiffusion);
    fx::SetImageFile(e.P("diffTexture"), "");
    const fx::RasterRef shown = TextureView(e, 5, 3, is16Bit);
    for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(At(*shown, x, 1), (Pixel{0, 0, 0, full}));

    // Without a texture Diffusion is the Glow of its own settings.
    const fx::RasterRef source = RandomImage(12, 9, is16Bit, 4);
    Instance glow(fx::effects::kGlow);
    glow.Set("glowHBlur", 20).Set("glowVBlur", 20).Set("glowBlend", 0);
    e.Set("view", 0);
    EXPECT_TRUE(Same(*Render(e, *source), *Render(glow, *source))) << is16Bit;
  }
}

// A named file that is not there is a texture of zeros: black in the
// "Texture" view, no light through "Texture Only", the matte untouched
// through "Lighten".
TEST(DiffusionTexture, MissingFileIsAllZero) {
  const fx::RasterRef source = RandomImage(12, 9, false, 6);
  Instance e(fx::effects::kDiffusion);
  fx::SetImageFile(e.P("diffTexture"), (fs::path(testing::TempDir()) / "no such texture.png").string());
  const fx::RasterRef shown = TextureView(e, 6, 4);
  EXPECT_EQ(At(*shown, 3, 2), (Pixel{0, 0, 0, 255}));
  e.Set("view", 0);
  EXPECT_TRUE(Same(*Render(e, *source), *source));
  e.Set("diffTexBlend", 7);
  Instance plain(fx::effects::kDiffusion);
  fx::SetImageFile(plain.P("diffTexture"), "");
  EXPECT_TRUE(Same(*Render(e, *source), *Render(plain, *source)));
}

// The texture replaces the matte in "Texture Only": a constant texture of
// full scale selects everything.
TEST(DiffusionTexture, TextureOnlyIsTheMatte) {
  for (bool is16Bit : {false, true}) {
    const int32_t full = is16Bit ? 32768 : 255;
    Instance e(fx::effects::kDiffusion);
    fx::SetImageFile(e.P("diffTexture"), ConstantTexture(4, 4, 255));
    e.Set("view", 1);
    const fx::RasterRef selection = Render(e, *Uniform(6, 5, is16Bit, {0, 0, 0, 0}));
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 6; ++x) ASSERT_EQ(Grey(*selection, x, y), full) << x << ", " << y;
  }
}

// At the default placement the texture is stretched over the image as a
// warp onto the image rectangle stretches it.
TEST(DiffusionTexture, DefaultPlacementStretchesOverTheImage) {
  std::vector<std::vector<int32_t>> rows(7, std::vector<int32_t>(9));
  for (int32_t y = 0; y < 7; ++y)
    for (int32_t x = 0; x < 9; ++x) rows[y][x] = (x * 29 + y * 37) % 256;
  const std::string path = WriteGreyPng("ramp.png", rows);
  const fx::RasterRef texture = fx::LoadTexture(path.c_str(), false);
  ASSERT_TRUE(texture);
  fx::RasterRef expected = fx::MakeRaster(40, 30, 1, 1);
  fx::QuadWarp(*texture, *expected, expected->Bounds(), {}, fx::ImageQuad(40, 30));
  Instance e(fx::effects::kDiffusion);
  fx::SetImageFile(e.P("diffTexture"), path);
  const fx::RasterRef shown = TextureView(e, 40, 30);
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 40; ++x) {
      const int32_t want = expected->RowAs<uint8_t>(y)[x];
      ASSERT_NEAR(Grey(*shown, x, y), want, 1) << x << ", " << y;
    }
}

// Crop, scale, rotation, shear, position and corner pin, each on its own.
TEST(DiffusionTexture, PlacementMovesTheLayer) {
  const std::string constant = ConstantTexture(101, 101, 200);
  std::vector<std::vector<int32_t>> ramp(101, std::vector<int32_t>(101));
  for (auto& row : ramp)
    for (int32_t x = 0; x < 101; ++x) row[x] = x * 255 / 100;  // dark left, bright right
  const std::string rampPath = WriteGreyPng("leftright.png", ramp);

  {  // Half the texture cropped off the left: the left half of the image is empty.
    Instance e(fx::effects::kDiffusion);
    fx::SetImageFile(e.P("diffTexture"), constant);
    e.Set("dveCropLeft", 50);
    const fx::RasterRef t = TextureView(e, 100, 60);
    EXPECT_EQ(Grey(*t, 10, 30), 0);
    EXPECT_EQ(Grey(*t, 48, 30), 0);
    EXPECT_EQ(Grey(*t, 51, 30), 200);
    EXPECT_EQ(Grey(*t, 99, 59), 200);
  }
  {  // Half size about the centre.
    Instance e(fx::effects::kDiffusion);
    fx::SetImageFile(e.P("diffTexture"), constant);
    e.Set("dveScaleX", 50);
    e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, "dveScaleX"));
    const fx::RasterRef t = TextureView(e, 100, 60);
    EXPECT_EQ(Grey(*t, 50, 30), 200);
    EXPECT_EQ(Grey(*t, 27, 17), 200);
    EXPECT_EQ(Grey(*t, 20, 30), 0);
    EXPECT_EQ(Grey(*t, 50, 10), 0);
  }
  {  // A quarter turn clockwise: the texture's left edge comes to the top.
    Instance e(fx::effects::kDiffusion);
    fx::SetImageFile(e.P("diffTexture"), rampPath);
    e.Set("dveRotate", 90);
    const fx::RasterRef t = TextureView(e, 60, 60);
    EXPECT_LT(Grey(*t, 30, 3), 30);
    EXPECT_GT(Grey(*t, 30, 56), 225);
    EXPECT_NEAR(Grey(*t, 5, 30), Grey(*t, 54, 30), 1);
  }
  {  // Sheared horizontally: the top row moves left, the bottom row right.
    Instance e(fx::effects::kDiffusion);
    fx::SetImageFile(e.P("diffTexture"), constant);
    e.Set("dveShearX", 50);
    const fx::RasterRef t = TextureView(e, 100, 60);
    EXPECT_EQ(Grey(*t, 95, 1), 0);
    EXPECT_EQ(Grey(*t, 5, 1), 200);
    EXPECT_EQ(Grey(*t, 5, 58), 0);
    EXPECT_EQ(Grey(*t, 95, 58), 200);
  }
  {  // The anchor (the centre) moved to the right edge.
    Instance e(fx::effects::kDiffusion);
    fx::SetImageFile(e.P("diffTexture"), constant);
    fx::SetPoint(e.P("dvePosition"), {0.5, 0});
    const fx::RasterRef t = TextureView(e, 100, 60);
    EXPECT_EQ(Grey(*t, 40, 30), 0);
    EXPECT_EQ(Grey(*t, 60, 30), 200);
  }
  {  // The image rectangle pinned onto its left half.
    Instance e(fx::effects::kDiffusion);
    fx::SetImageFile(e.P("diffTexture"), rampPath);
    fx::SetPoint(e.P("dveCornerPinUR"), {0, -0.5});
    fx::SetPoint(e.P("dveCornerPinLR"), {0, 0.5});
    const fx::RasterRef t = TextureView(e, 100, 60);
    EXPECT_EQ(Grey(*t, 75, 30), 0);
    EXPECT_LT(Grey(*t, 2, 30), 15);
    EXPECT_GT(Grey(*t, 47, 30), 225);
  }
  {  // A corner pin with three corners on one line draws nothing.
    Instance e(fx::effects::kDiffusion);
    fx::SetImageFile(e.P("diffTexture"), constant);
    fx::SetPoint(e.P("dveCornerPinUR"), {0, -0.5});
    fx::SetPoint(e.P("dveCornerPinLR"), {0.5, -0.5});
    const fx::RasterRef t = TextureView(e, 30, 20);
    EXPECT_EQ(Grey(*t, 15, 10), 0);
  }
  {  // Scale 0 leaves nothing.
    Instance e(fx::effects::kDiffusion);
    fx::SetImageFile(e.P("diffTexture"), constant);
    e.Set("dveScaleX", 0);
    const fx::RasterRef t = TextureView(e, 30, 20);
    EXPECT_EQ(Grey(*t, 15, 10), 0);
  }
}

// A 16-bit render after an 8-bit one loads the texture again at 16 bits.
TEST(DiffusionTexture, FollowsTheRenderDepth) {
  Instance e(fx::effects::kDiffusion);
  fx::SetImageFile(e.P("diffTexture"), ConstantTexture(3, 3, 255));
  EXPECT_EQ(Grey(*TextureView(e, 4, 4, false), 2, 2), 255);
  EXPECT_EQ(Grey(*TextureView(e, 4, 4, true), 2, 2), 32768);
  EXPECT_EQ(Grey(*TextureView(e, 4, 4, false), 2, 2), 255);
}

// ------------------------------------------------------------ Low Contrast

// Shadow Brightness 30 % lifts black by trunc(0.3 L) along the shadow curve
// (1 at black) and leaves white.
TEST(LowContrast, LiftsTheShadows) {
  for (bool is16Bit : {false, true}) {
    const int32_t full = is16Bit ? 32768 : 255, lift = is16Bit ? 9830 : 76;
    Instance e(fx::effects::kLowContrast);
    e.Set("lightBrightness", 0).Set("shadowBrightness", 30);
    const fx::RasterRef source = MakeRaster({{{0, 0, 0, 3}, {full, full, full, 3}}}, is16Bit);
    const fx::RasterRef out = Render(e, *source);
    EXPECT_EQ(At(*out, 0, 0), (Pixel{lift, lift, lift, 3})) << is16Bit;
    EXPECT_EQ(At(*out, 1, 0), (Pixel{full, full, full, 3})) << is16Bit;
    e.Set("shadowBrightness", 0);
    EXPECT_TRUE(Same(*Render(e, *source), *source)) << is16Bit;
  }
}

// Without spread the "Spread" view is E = M + M - 2 M M / L of the
// "Selection" view's matte.
TEST(LowContrast, SpreadViewOfAnUnspreadMatte) {
  for (bool is16Bit : {false, true}) {
    const int64_t full = is16Bit ? 32768 : 255;
    const fx::RasterRef source = RandomImage(8, 5, is16Bit, 8);
    Instance e(fx::effects::kLowContrast);
    e.Set("lightSpread", 0).Set("view", 1);
    const fx::RasterRef selection = Render(e, *source);
    e.Set("view", 2);
    const fx::RasterRef spread = Render(e, *source);
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 8; ++x) {
        const int64_t m = Grey(*selection, x, y);
        ASSERT_EQ(Grey(*spread, x, y), m + m - 2 * m * m / full) << x << ", " << y;
      }
  }
}

// The light only brightens.
TEST(LowContrast, LightBrightens) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef source = RandomImage(16, 12, is16Bit, 10);
    Instance e(fx::effects::kLowContrast);
    e.Set("shadowBrightness", 0).Set("lightBrightness", 300);
    const fx::RasterRef out = Render(e, *source);
    bool brighter = false;
    for (int32_t y = 0; y < 12; ++y)
      for (int32_t x = 0; x < 16; ++x)
        for (int c = 0; c < 3; ++c) {
          ASSERT_GE(At(*out, x, y)[c], At(*source, x, y)[c]);
          brighter = brighter || At(*out, x, y)[c] > At(*source, x, y)[c];
        }
    EXPECT_TRUE(brighter) << is16Bit;
  }
}

// ------------------------------------------------------------ Soft Effects

// Opacity 35 %: f = trunc(0.65 L) of the source mixed into its box blur.
TEST(SoftEffects, MixesTheSourceIntoItsBlur) {
  for (bool is16Bit : {false, true}) {
    const int32_t L = is16Bit ? 32768 : 255;
    const fx::RasterRef source = RandomImage(20, 14, is16Bit, 12);
    Instance e(fx::effects::kSoftEffects);
    e.Set("blurX", 200);  // 2.8 pixels on a 14-row image
    const fx::RasterRef out = Render(e, *source);
    fx::RasterRef blurred = fx::MakeRaster(20, 14, 4, is16Bit ? 2 : 1);
    blurred->CopyFrom(*source);
    fx::SeparableBlur blur;
    blur.SetPasses(1);
    blur.SetRadii(static_cast<float>(200 * 0.001 * 14), static_cast<float>(200 * 0.001 * 14));
    blur.Blur(*blurred, blurred->Bounds());
    const int32_t f = static_cast<int32_t>((1 - 0.35) * L);
    for (int32_t y = 0; y < 14; ++y)
      for (int32_t x = 0; x < 20; ++x) {
        const Pixel s = At(*source, x, y), b = At(*blurred, x, y), o = At(*out, x, y);
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(o[c], (int64_t{s[c]} * f + int64_t{b[c]} * (L - f)) / L) << x << ", " << y;
      }
    for (const auto& [key, value] : {std::pair<const char*, double>{"opacity", 0}, {"blurX", 0}}) {
      Instance quiet(fx::effects::kSoftEffects);
      quiet.Set(key, value);
      EXPECT_TRUE(Same(*Render(quiet, *source), *source)) << key;
    }
  }
}

// ---------------------------------------------------------------- Defog

// Defog with Fog's colour, geometry and density takes Fog's veil away up to
// the rounding of the two renders (the veil at most halves the image at the
// default density, so a level lost by Fog costs at most two).
TEST(Defog, UndoesFog) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef source = RandomImage(24, 16, is16Bit, 18);
    Instance fog(fx::effects::kFog), defog(fx::effects::kDefog);
    fog.Set("glowBrightness", 0);
    for (Instance* e : {&fog, &defog}) {
      fx::SetPoint(e->P("vanish"), {0.2, -0.1});
      fx::SetColour(e->P("color"), {0.8, 0.85, 0.9});
      e->Set("density", 20).Set("minDepth", 10).Set("maxDepth", 60);
    }
    const fx::RasterRef fogged = Render(fog, *source);
    ASSERT_FALSE(Same(*fogged, *source));
    const fx::RasterRef clear = Render(defog, *fogged);
    for (int32_t y = 0; y < 16; ++y)
      for (int32_t x = 0; x < 24; ++x) {
        const Pixel a = At(*clear, x, y), b = At(*source, x, y);
        for (int c = 0; c < 3; ++c) ASSERT_NEAR(a[c], b[c], 2) << is16Bit << " at " << x << ", " << y;
        ASSERT_EQ(a[3], b[3]);
      }
  }
}

// The colour correction runs on the defogged image; "Original" is inactive.
TEST(Defog, ColourCorrectionAfterTheVeil) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef source = RandomImage(10, 6, is16Bit, 20);
    Instance plain(fx::effects::kDefog), graded(fx::effects::kDefog);
    graded.Set("hue", 30).Set("contrast", 20).Set("blue", -10);
    fx::RasterRef expected = Render(plain, *source);
    fx::ToneRangeEngine engine;
    engine.Configure({30, 0, {0, 0.2, 0, 0, 0, -0.1}});
    engine.Prepare(is16Bit);
    engine.Apply(*expected, *expected, expected->Bounds());
    EXPECT_TRUE(Same(*Render(graded, *source), *expected)) << is16Bit;
    graded.Set("view", 1);
    EXPECT_FALSE(graded.Active());
  }
}

// ------------------------------------------------------- warming layouts

// Warm Mist selects on the unwarmed source, warms the image with its gel,
// then lays the glow of that selection over the warmed image.
TEST(WarmMist, GelThenGlowOverTheWarmedImage) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef source = RandomImage(14, 10, is16Bit, 22);
    Instance warm(fx::effects::kWarmMist), mist(fx::effects::kMist);
    for (Instance* e : {&warm, &mist}) e->Set("mist", 0).Set("glowBlurH", 300).Set("glowBrightness", 120);
    warm.Set("exposure", 30);
    warm->routines->parameterChanged(&*warm, fx::IndexOfKey(*warm, "glowBlurH"));
    mist.Set("view", 1);
    warm.Set("view", 1);
    const fx::RasterRef selection = Render(mist, *source);
    ASSERT_TRUE(Same(*Render(warm, *source), *selection));

    fx::RasterRef matte = fx::MakeRaster(14, 10, 1, is16Bit ? 2 : 1);
    for (int32_t y = 0; y < 10; ++y)
      for (int32_t x = 0; x < 14; ++x) {
        if (is16Bit)
          matte->RowAs<uint16_t>(y)[x] = static_cast<uint16_t>(Grey(*selection, x, y));
        else
          matte->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(Grey(*selection, x, y));
      }
    fx::RasterRef expected = fx::MakeRaster(14, 10, 4, is16Bit ? 2 : 1);
    expected->CopyFrom(*source);
    fx::GelFilter gel;
    gel.Load({255 / 255.0, 203 / 255.0, 121 / 255.0}, 0.5, 0.5, 0.3);
    gel.Apply(*expected, expected->Bounds());
    fx::GlowSettings s;
    s.mode = fx::GlowMode::kSubtle;
    s.brightness = 1.2;
    s.blurX = s.blurY = 0.3 * 10;
    fx::Glow(*expected, *matte, expected->Bounds(), s, fx::RenderInfo{});
    warm.Set("view", 0);
    EXPECT_TRUE(Same(*Render(warm, *source), *expected)) << is16Bit;
  }
}

// Warm Soft Effects: the gel over the image, then the soft mix of the
// warmed image with the source mixed back.
TEST(WarmSoftEffects, GelThenSoftMixWithTheSource) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef source = RandomImage(16, 12, is16Bit, 24);
    Instance e(fx::effects::kWarmSoftEffects);
    e.Set("blurX", 250);
    fx::RasterRef expected = fx::MakeRaster(16, 12, 4, is16Bit ? 2 : 1);
    expected->CopyFrom(*source);
    fx::GelFilter gel;
    gel.Load({255 / 255.0, 203 / 255.0, 121 / 255.0}, 0.5, 0.5, 0);
    gel.Apply(*expected, expected->Bounds());
    fx::SoftMix(*source, *expected, expected->Bounds(), 0.25 * 12, 0.25 * 12, 0.35, fx::RenderInfo{});
    EXPECT_TRUE(Same(*Render(e, *source), *expected)) << is16Bit;
  }
}

// Halo: the soft mix, then the engine's colour correction.
TEST(Halo, SoftMixThenColourCorrection) {
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef source = RandomImage(16, 12, is16Bit, 26);
    Instance e(fx::effects::kHalo);
    fx::RasterRef expected = fx::MakeRaster(16, 12, 4, is16Bit ? 2 : 1);
    expected->CopyFrom(*source);
    fx::SoftMix(*source, *expected, expected->Bounds(), 0.05 * 12, 0.05 * 12, 0.5, fx::RenderInfo{});
    fx::ToneRangeEngine engine;
    engine.Configure({0, -35, {0.1, 0.3, -0.25, 0, 0, 0}});
    engine.Prepare(is16Bit);
    engine.Apply(*expected, *expected, expected->Bounds());
    EXPECT_TRUE(Same(*Render(e, *source), *expected)) << is16Bit;
  }
}

// -------------------------------------------------------------- Faux Film

// Faux Film's grain is the Grain effect's: with no glow and no colour
// correction the two render the same, for one-pixel grain and for grain
// from reduced planes.
TEST(FauxFilm, GrainAsTheGrainEffectDrivesIt) {
  for (bool is16Bit : {false, true})
    for (double size : {1.0, 2.0}) {
      const fx::RasterRef source = RandomImage(30, 20, is16Bit, 14);
      Instance faux(fx::effects::kFauxFilm), grain(fx::effects::kGrain);
      faux.Set("glowBrightness", 0);
      for (const char* key : {"grainRSize", "grainGSize", "grainBSize"}) faux.Set(key, size);
      for (const char* key : {"grainSizeRed", "grainSizeGrn", "grainSizeBlu"}) grain.Set(key, size);
      const fx::RasterRef a = Render(faux, *source), b = Render(grain, *source);
      EXPECT_TRUE(Same(*a, *b)) << is16Bit << " " << size;
      EXPECT_FALSE(Same(*a, *source));
    }
}

TEST(FauxFilm, AlwaysActiveAndOriginalCopies) {
  const fx::RasterRef source = RandomImage(6, 4, false, 16);
  Instance e(fx::effects::kFauxFilm);
  e.Set("view", 2);
  EXPECT_TRUE(e.Active());
  EXPECT_TRUE(Same(*Render(e, *source), *source));
}

// The blurs and per-pixel passes run on the workers: every thread count
// gives the one-thread image, and a second render through the same instance
// (its scratch rasters and blur work areas kept) gives it again. The image
// is large enough for the passes to split.
TEST(DiffusionFamily, EveryThreadCountGivesTheSameImage) {
  const fx::EffectRoutines* members[] = {&fx::effects::kGlow, &fx::effects::kSoftEffects,
                                         &fx::effects::kLowContrast, &fx::effects::kFog,
                                         &fx::effects::kWarmBlackMist, &fx::effects::kDiffusion};
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef source = RandomImage(301, 233, is16Bit, 40);
    for (const fx::EffectRoutines* routines : members) {
      Instance e(*routines);
      fx::SetThreadCount(1);
      const fx::RasterRef one = Render(e, *source);
      for (int32_t threads : {2, 7, 7}) {
        fx::SetThreadCount(threads);
        EXPECT_TRUE(Same(*Render(e, *source), *one)) << threads << " " << is16Bit << " " << e->routines->displayName(&*e);
      }
    }
  }
  fx::SetThreadCount(0);
}

}  // namespace
