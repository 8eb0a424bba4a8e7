// Center Spot and Radial Exposure on small rasters at both depths.
#include "effects/spot_filters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "effects/param_groups.h"
#include "framework/host_services.h"
#include "imaging/masks.h"
#include "imaging/tone_curve.h"
#include "tests/effects/effect_harness.h"

using namespace effecttest;

namespace {

constexpr int32_t Full(bool is16Bit) { return is16Bit ? 32768 : 255; }

fx::RasterRef Varied(int32_t w, int32_t h, bool is16Bit) {
  std::vector<std::vector<Pixel>> rows(h, std::vector<Pixel>(w));
  const int32_t f = Full(is16Bit);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      rows[y][x] = {(37 * x + 11 * y + 5) * f / 300 % (f + 1), (23 * y * y + 7 * x + 90) * f / 260 % (f + 1),
                    (x * y * 13 + 40) * f / 255 % (f + 1), (x + y) * f / (w + h)};
  return MakeRaster(rows, is16Bit);
}

void Changed(Instance& e, const std::string& key) {
  e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, key));
}

int32_t FromLinear(int32_t linear, bool is16Bit) {
  const auto& t = fx::LinearTables::Get();
  return is16Bit ? t.FromLinear<uint16_t>()[linear] : t.FromLinear<uint8_t>()[linear];
}
int32_t ToLinear(int32_t v, bool is16Bit) {
  const auto& t = fx::LinearTables::Get();
  return is16Bit ? t.ToLinear<uint16_t>()[v] : t.ToLinear<uint8_t>()[v];
}

// The spot mask of a whole w x h image.
fx::RasterRef SpotMask(const fx::SpotSettings& s, int32_t w, int32_t h, bool is16Bit) {
  fx::RasterRef m = fx::MakeRaster(w, h, 1, is16Bit ? 2 : 1);
  m->Fill(0);
  fx::MakeSpotMask(*m, m->Bounds(), {}, s.Shape(w, h));
  return m;
}
int32_t MaskAt(const fx::Raster& m, int32_t x, int32_t y) {
  return m.Is16Bit() ? m.RowAs<uint16_t>(y)[x] : m.RowAs<uint8_t>(y)[x];
}

// ---------------------------------------------------------------- Center Spot

TEST(CenterSpot, GangActivityAndMargins) {
  Instance e(fx::effects::kCenterSpot);
  EXPECT_EQ(e.P("sRadius").number, 0);
  e.Set("blurX", 35);
  Changed(e, "blurX");
  EXPECT_EQ(e.P("blurY").number, 35);
  EXPECT_FALSE(e.P("blurY").Enabled());
  e.Set("gang", 0);
  Changed(e, "gang");
  EXPECT_TRUE(e.P("blurY").Enabled());
  e.Set("blurY", 4);
  // Box radii 35 and 4 at scale 1, two passes: 2 ceil(r / 2) + 1.
  fx::RenderInfo info;
  info.imageWidth = 100;
  info.imageHeight = 80;
  fx::Rect r{10, 0, 20, 100};
  e->routines->expandRect(&*e, &info, &r);
  EXPECT_EQ(r, (fx::Rect{10 - 5, -37, 20 + 5, 137}));
  EXPECT_TRUE(e.Active());
  e.Set("blurX", 0).Set("blurY", 0);
  EXPECT_FALSE(e.Active());
  e.Set("view", 1);
  EXPECT_TRUE(e.Active());
  e.Set("view", 2);
  EXPECT_FALSE(e.Active());
}

TEST(CenterSpot, SharpCentreBlurredSurroundings) {
  for (bool is16Bit : {false, true}) {
    Instance e(fx::effects::kCenterSpot);
    e.Set("sRadius", 40).Set("blurX", 6);
    const fx::RasterRef src = Varied(40, 30, is16Bit);
    const fx::RasterRef out = Render(e, *src);
    fx::SpotSettings spot;
    spot.radius = 40;
    const fx::RasterRef mask = SpotMask(spot, 40, 30, is16Bit);
    int32_t changed = 0;
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 40; ++x) {
        if (MaskAt(*mask, x, y) == 0) ASSERT_EQ(At(*out, x, y), At(*src, x, y)) << x << " " << y;
        else changed += At(*out, x, y) != At(*src, x, y);
      }
    EXPECT_GT(changed, 300);
    e.Set("view", 1);
    const fx::RasterRef shown = Render(e, *src);
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 40; ++x) {
        const int32_t m = MaskAt(*mask, x, y);
        ASSERT_EQ(At(*shown, x, y), (Pixel{m, m, m, At(*src, x, y)[3]}));
      }
  }
}

// ------------------------------------------------------------ Radial Exposure

TEST(RadialExposure, TableAndActivity) {
  Instance e(fx::effects::kRadialExposure);
  EXPECT_STREQ(e->parameters[2].key, "exposure");
  EXPECT_EQ(e.P("sRadius").number, 100);
  EXPECT_FALSE(e.Active());
  e.Set("center", 0.5);
  EXPECT_TRUE(e.Active());
  e.Set("center", 0).Set("view", 1);
  EXPECT_TRUE(e.Active());
  e.Set("view", 2).Set("edges", 1);
  EXPECT_FALSE(e.Active());
}

// A hard spot (no falloff): outside, Edges -1 halves the linear value;
// inside, the pixel only makes the linear round trip; Center +1 doubles
// inside and leaves outside alone.
TEST(RadialExposure, HardSpot) {
  for (bool is16Bit : {false, true}) {
    const int32_t L = Full(is16Bit);
    Instance e(fx::effects::kRadialExposure);
    e.Set("sRadius", 50).Set("sFalloffRadius", 0).Set("edges", -1);
    const fx::RasterRef src = Varied(40, 30, is16Bit);
    const fx::RasterRef out = Render(e, *src);
    const auto expect = [&](const fx::Raster& o, int32_t x, int32_t y, double gain) {
      const Pixel p = At(*src, x, y), q = At(o, x, y);
      for (int c = 0; c < 3; ++c) {
        const int32_t lin = ToLinear(p[c], is16Bit);
        EXPECT_EQ(q[c], FromLinear(std::min(32768, static_cast<int32_t>(lin * gain)), is16Bit))
            << is16Bit << " " << x << " " << y << " " << c;
      }
      EXPECT_EQ(q[3], p[3]);
    };
    expect(*out, 0, 0, 0.5);
    expect(*out, 39, 29, 0.5);
    expect(*out, 20, 15, 1.0);
    e.Set("edges", 0).Set("center", 1);
    const fx::RasterRef bright = Render(e, *src);
    expect(*bright, 20, 15, 2.0);
    expect(*bright, 21, 14, 2.0);
    expect(*bright, 0, 0, 1.0);
    // The Spot view: full scale at the centre, 0 outside.
    e.Set("view", 1);
    const fx::RasterRef w = Render(e, *src);
    EXPECT_EQ(At(*w, 20, 15)[0], L);
    EXPECT_EQ(At(*w, 0, 0)[0], 0);
  }
}

// In the falloff an 8-bit weight d counts as d x 32768 / 255.
TEST(RadialExposure, WeightsInTheFalloff) {
  Instance e(fx::effects::kRadialExposure);
  e.Set("sRadius", 10).Set("sFalloffRadius", 80).Set("edges", -2);
  const fx::RasterRef src = Varied(40, 30, false);
  const fx::RasterRef out = Render(e, *src);
  e.Set("view", 1);
  const fx::RasterRef w = Render(e, *src);
  int32_t checked = 0;
  for (int32_t x = 0; x < 40; ++x) {
    const int32_t d = At(*w, x, 15)[0];
    if (d == 0 || d == 255) continue;
    const int32_t w16 = d * 32768 / 255;
    const double exponent = (32768 - w16) / 32768.0 * -2;
    const float gain = static_cast<float>(1.0 / std::exp2(-exponent));
    for (int c = 0; c < 3; ++c) {
      const int32_t lin = ToLinear(At(*src, x, 15)[c], false);
      ASSERT_EQ(At(*out, x, 15)[c], FromLinear(static_cast<int32_t>(static_cast<float>(lin) * gain), false)) << x;
    }
    ++checked;
  }
  EXPECT_GT(checked, 10);
}

// ---------------------------------------------------------------- Split Field

TEST(SplitField, TableAndGang) {
  Instance e(fx::effects::kSplitField);
  const int group = fx::IndexOfKey(*e, "blur");
  EXPECT_EQ(e->parameters[group].kind, fx::Kind::GroupStart);
  EXPECT_EQ(e->parameters[e->parameterCount - 2].kind, fx::Kind::Range);
  EXPECT_STREQ(e->parameters[e->parameterCount - 2].key, "blur");
  e.Set("blurX", 7);
  Changed(e, "blurX");
  EXPECT_EQ(e.P("blurY").number, 7);
  EXPECT_FALSE(e.P("blurY").Enabled());
  EXPECT_TRUE(e.Active());
  e.Set("blurX", 0);
  Changed(e, "blurX");
  EXPECT_FALSE(e.Active());
  e.Set("view", 1);
  EXPECT_TRUE(e.Active());
}

// At 0 degrees the rows above the split position stay bit for bit and the
// rows below are blurred.
TEST(SplitField, KeepsTheRowsAboveThePosition) {
  for (bool is16Bit : {false, true}) {
    Instance e(fx::effects::kSplitField);
    fx::SetPoint(e.P("position"), {0, -0.2});  // row trunc(0.3 x 30) = 9
    const fx::RasterRef src = Varied(24, 30, is16Bit);
    const fx::RasterRef out = Render(e, *src);
    for (int32_t y = 0; y < 9; ++y)
      for (int32_t x = 0; x < 24; ++x) ASSERT_EQ(At(*out, x, y), At(*src, x, y)) << y;
    int32_t changed = 0;
    for (int32_t y = 9; y < 30; ++y)
      for (int32_t x = 0; x < 24; ++x) changed += At(*out, x, y) != At(*src, x, y);
    EXPECT_GT(changed, 21 * 24 * 3 / 4);
    e.Set("view", 1);
    const fx::RasterRef split = Render(e, *src);
    EXPECT_EQ(At(*split, 5, 8)[0], 0);
    EXPECT_EQ(At(*split, 5, 9)[0], Full(is16Bit));
  }
}

// At 90 degrees on a portrait frame the whole left side is blurred, its
// corners too (a rectangle of W x 2H would miss them).
TEST(SplitField, TurnedSplitCoversAWholeSide) {
  for (bool is16Bit : {false, true}) {
    const int32_t L = Full(is16Bit);
    Instance e(fx::effects::kSplitField);
    e.Set("rotate", 90).Set("view", 1);
    const fx::RasterRef src = Varied(10, 40, is16Bit);
    const fx::RasterRef split = Render(e, *src);
    for (int32_t y = 0; y < 40; ++y)
      for (int32_t x = 0; x < 10; ++x) ASSERT_EQ(At(*split, x, y)[0], x < 5 ? L : 0) << x << " " << y;
    // -90 turns the other way.
    e.Set("rotate", -90);
    EXPECT_EQ(At(*Render(e, *src), 9, 0)[0], L);
  }
}

// The transition: a soft edge, the same whichever rows a band holds.
TEST(SplitField, SoftTransition) {
  for (bool is16Bit : {false, true}) {
    Instance e(fx::effects::kSplitField);
    // "blur" is first the group's key; the softness is the last record.
    e.Set("view", 1).Set("rotate", 30);
    fx::SetRange(e->parameters[e->parameterCount - 2], 8);
    const fx::RasterRef src = Varied(30, 30, is16Bit);
    const fx::RasterRef split = Render(e, *src);
    int32_t between = 0;
    for (int32_t x = 0; x < 30; ++x) {
      const int32_t v = At(*split, x, 15)[0];
      between += v > 0 && v < Full(is16Bit);
    }
    EXPECT_GE(between, 4);
    EXPECT_EQ(At(*split, 15, 0)[0], 0);
    EXPECT_EQ(At(*split, 15, 29)[0], Full(is16Bit));
  }
}

// ------------------------------------------------------------------ Vignette

// A host whose data folder holds no shapes.
class NoShapes final : public fx::Host {
 public:
  bool DataPath(const char*, const char* subFolder, const char* fileName, char* out,
                std::size_t capacity) const override {
    const std::string path = std::string("/nonexistent-ovra-data/") + subFolder + "/" + fileName;
    if (path.size() + 1 > capacity) return false;
    std::copy(path.c_str(), path.c_str() + path.size() + 1, out);
    return true;
  }
};

TEST(Vignette, TableGangsAndActivity) {
  Instance e(fx::effects::kVignette);
  EXPECT_EQ(e.P("color").colour.r, 0);
  EXPECT_EQ(e.P("scaleX").number, 180);
  EXPECT_STREQ(e.P("view").Item(1), "Shape");
  for (const char* x : {"blurX", "softnessX", "scaleX"}) {
    e.Set(x, 77);
    Changed(e, x);
  }
  for (const char* y : {"blurY", "softnessY", "scaleY"}) {
    EXPECT_EQ(e.P(y).number, 77) << y;
    EXPECT_FALSE(e.P(y).Enabled()) << y;
  }
  e.Set("scaleGang", 0);
  Changed(e, "scaleGang");
  EXPECT_TRUE(e.P("scaleY").Enabled());
  EXPECT_FALSE(e.P("softnessY").Enabled());
  EXPECT_TRUE(e.Active());
  e.Set("blurX", 0).Set("blurY", 0);
  Changed(e, "blurX");
  EXPECT_TRUE(e.Active());  // the colour still applies
  e.Set("opacity", 0);
  EXPECT_FALSE(e.Active());
  e.Set("view", 1);
  EXPECT_TRUE(e.Active());
}

TEST(Vignette, AShapeThatCannotBeReadChangesNothing) {
  NoShapes host;
  for (bool is16Bit : {false, true}) {
    Instance e(fx::effects::kVignette);
    const fx::RasterRef src = Varied(20, 16, is16Bit);
    const fx::RasterRef out = Render(e, *src);
    for (int32_t y = 0; y < 16; ++y)
      for (int32_t x = 0; x < 20; ++x) ASSERT_EQ(At(*out, x, y), At(*src, x, y));
  }
}

}  // namespace
