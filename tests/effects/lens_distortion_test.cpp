#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "effects/focus_blur.h"
#include "tests/effects/effect_harness.h"

using namespace effecttest;

namespace {

// A 9 x 7 image whose samples are linear in x and y, so that bilinear
// sampling between four inside pixels gives the plane's value at the source
// position: R = 10x + 7y, G = 30y + 5, B = 200 - 9x, A = 255 - 10x - 5y
// (times 128 at 16 bits).
fx::RasterRef Plane(bool is16Bit) {
  const int32_t k = is16Bit ? 128 : 1;
  std::vector<std::vector<Pixel>> rows(7, std::vector<Pixel>(9));
  for (int32_t y = 0; y < 7; ++y)
    for (int32_t x = 0; x < 9; ++x)
      rows[y][x] = {k * (10 * x + 7 * y), k * (30 * y + 5), k * (200 - 9 * x), k * (255 - 10 * x - 5 * y)};
  return MakeRaster(rows, is16Bit);
}

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

TEST(LensDistortion, ParameterTable) {
  Instance e(fx::effects::kLensDistortion);
  EXPECT_STREQ(e->routines->displayName(&*e), "Ovra Lens Distortion");
  EXPECT_STREQ(e->routines->description(&*e), "");
  // Reads source rows outside its tile.
  EXPECT_EQ(e->flags & 0x148u, 0x148u);
  struct Row {
    const char* key;
    const char* label;
    fx::Kind kind;
    double minimum, maximum, value;
  };
  const Row rows[] = {
      {"input", "Input", fx::Kind::ImageInput, 0, 0, 0},
      {"view", "View", fx::Kind::List, 0, 0, 0},
      {"amount", "Distortion", fx::Kind::Range, -10, 100, 0},
      {"squeeze", "Anamorphic Squeeze", fx::Kind::Range, 0.1, 10, 1},
      {"asymetricX", "Curvature X", fx::Kind::Range, -5, 5, 0},
      {"asymetricY", "Curvature Y", fx::Kind::Range, -5, 5, 0},
      {"center", "Center", fx::Kind::Point, 0, 0, 0},
  };
  ASSERT_EQ(e->parameterCount, std::size(rows));
  for (uint32_t i = 0; i < std::size(rows); ++i) {
    const fx::Parameter& p = e->parameters[i];
    EXPECT_STREQ(p.key, rows[i].key);
    EXPECT_STREQ(p.label, rows[i].label);
    EXPECT_EQ(p.kind, rows[i].kind) << p.key;
    if (p.kind == fx::Kind::Range) {
      EXPECT_EQ(p.Minimum(), rows[i].minimum) << p.key;
      EXPECT_EQ(p.Maximum(), rows[i].maximum) << p.key;
      EXPECT_EQ(p.number, rows[i].value) << p.key;
    }
  }
  EXPECT_EQ(e.P("center").point.x, 0);
  EXPECT_EQ(e.P("center").point.y, 0);
  EXPECT_EQ(e.P("view").ItemCount(), 2);
  EXPECT_STREQ(e.P("view").Item(1), "Original");
}

TEST(LensDistortion, ZeroDistortionIsTheIdentity) {
  for (bool is16 : {false, true}) {
    Instance e(fx::effects::kLensDistortion);
    fx::RasterRef src = RandomRaster(31, 23, is16, 5);
    for (const auto& [squeeze, cx, cy] : {std::tuple{1.0, 0.0, 0.0}, {0.1, 3.0, -2.0}, {10.0, -5.0, 5.0}}) {
      e.Set("amount", 0).Set("squeeze", squeeze).Set("asymetricX", cx).Set("asymetricY", cy);
      fx::SetPoint(e.P("center"), {0.3, -0.2});
      EXPECT_FALSE(e.Active());
      EXPECT_TRUE(Same(*Render(e, *src), *src)) << is16 << " " << squeeze;
    }
    e.Set("amount", -1);
    EXPECT_TRUE(e.Active());
    e.Set("view", 1);
    EXPECT_FALSE(e.Active());
  }
}

// Pixels of the 9 x 7 plane worked out by hand. Centre (4.5, 3.5), R the
// half diagonal sqrt(32.5). With Distortion -5 (k = -0.5) the corner (0, 0)
// has e^2 + f^2 = 1 and maps to (4.5 - 4.5 x 0.5, 3.5 - 3.5 x 0.5) =
// (2.25, 1.75): R = 10 x 2.25 + 7 x 1.75 = 34.75, truncated to 34.
TEST(LensDistortion, HandWorkedPixels) {
  struct Case {
    const char* name;
    double amount, squeeze, curvatureX;
    fx::PointD centre;
    int32_t x, y;
    Pixel want;
  };
  const Case cases[] = {
      {"corner", -5, 1, 0, {0, 0}, 0, 0, {34, 57, 179, 223}},
      // e^2 + f^2 = 24.5 / 32.5: source (6.6808, 1.3192).
      {"upper right", -5, 1, 0, {0, 0}, 8, 0, {76, 44, 139, 181}},
      // Squeeze 2 halves the vertical pull, Curvature X 1 doubles f^2 in the
      // horizontal: source (4.5 - 4.5 (1 - 0.5 x 44.75 / 32.5), 3.5 - 3.5 x 0.75)
      // = (3.0981, 0.875).
      {"squeezed", -5, 2, 1, {0, 0}, 0, 0, {37, 31, 172, 219}},
      // Centre moved to x = 6.75: source (3.8132, 4.4274).
      {"off centre", -5, 1, 0, {0.25, 0}, 2, 5, {69, 137, 165, 194}},
      // Distortion 1 pushes the corner out to (-0.45, -0.35): only pixel
      // (0, 0) is inside, weighted 0.55 x 0.65, the rest transparent black.
      {"fading edge", 1, 1, 0, {0, 0}, 0, 0, {0, 1, 71, 91}},
      // A strong pincushion samples far outside: the corners are empty.
      {"outside", 50, 1, 0, {0, 0}, 0, 0, {0, 0, 0, 0}},
      {"outside", 50, 1, 0, {0, 0}, 8, 6, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    Instance e(fx::effects::kLensDistortion);
    e.Set("amount", c.amount).Set("squeeze", c.squeeze).Set("asymetricX", c.curvatureX);
    fx::SetPoint(e.P("center"), c.centre);
    fx::RasterRef out = Render(e, *Plane(false));
    EXPECT_EQ(At(*out, c.x, c.y), c.want) << c.name;
  }
  // At 16 bits the corner is the same plane value times 128, exactly.
  Instance e(fx::effects::kLensDistortion);
  e.Set("amount", -5);
  EXPECT_EQ(At(*Render(e, *Plane(true)), 0, 0), (Pixel{4448, 7360, 23008, 28640}));
}

TEST(LensDistortion, PincushionEmptiesEveryCorner) {
  for (bool is16 : {false, true}) {
    Instance e(fx::effects::kLensDistortion);
    e.Set("amount", 10);
    fx::RasterRef src = RandomRaster(40, 30, is16, 9);
    fx::RasterRef out = Render(e, *src);
    for (auto [x, y] : {std::pair{0, 0}, {39, 0}, {0, 29}, {39, 29}})
      EXPECT_EQ(At(*out, x, y), (Pixel{0, 0, 0, 0})) << is16 << " " << x << "," << y;
    // The centre pixel stays where it is.
    EXPECT_EQ(At(*out, 20, 15), At(*src, 20, 15)) << is16;
  }
}

}  // namespace
