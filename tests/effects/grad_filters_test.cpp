// The colour-filter table, the colour filter's arithmetic, and Color Grad,
// Strip Grad and Color Spot on small rasters at both depths.
#include "effects/grad_filters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "effects/colour_filters.h"
#include "effects/param_groups.h"
#include "imaging/masks.h"
#include "imaging/tone_curve.h"
#include "tests/effects/effect_harness.h"

using namespace effecttest;

namespace {

constexpr int32_t Full(bool is16Bit) { return is16Bit ? 32768 : 255; }

fx::RasterRef Fill(int32_t w, int32_t h, Pixel p, bool is16Bit) {
  return MakeRaster(std::vector<std::vector<Pixel>>(h, std::vector<Pixel>(w, p)), is16Bit);
}

// A raster whose pixels all differ, alpha varying too.
fx::RasterRef Varied(int32_t w, int32_t h, bool is16Bit) {
  std::vector<std::vector<Pixel>> rows(h, std::vector<Pixel>(w));
  const int32_t f = Full(is16Bit);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      rows[y][x] = {(37 * x + 11 * y + 5) * f / 300 % (f + 1), (23 * y + 7 * x + 90) * f / 260 % (f + 1),
                    (x * y * 13 + 40) * f / 255 % (f + 1), (x + y) * f / (w + h)};
  return MakeRaster(rows, is16Bit);
}

void SetColour(Instance& e, const std::string& key, fx::Rgb c) { fx::SetColour(e.P(key), c); }

void Changed(Instance& e, const std::string& key) {
  e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, key));
}

// ------------------------------------------------------------ the table

TEST(ColourFilterTable, RowsAndTheirColours) {
  const auto& t = fx::grads::kColourFilters;
  ASSERT_EQ(t.size(), 73u);
  EXPECT_STREQ(t[0].name, "Custom");
  EXPECT_STREQ(t[25].name, "Coral 1/8");
  EXPECT_STREQ(t[33].name, "Magenta 1");
  EXPECT_STREQ(t[72].name, "Blue 5");
  for (std::size_t i = 0; i < t.size(); ++i) EXPECT_STREQ(fx::grads::kColourFilterNames[i], t[i].name);
  struct Case {
    const char* name;
    int32_t r, g, b;
  };
  const Case cases[] = {
      // Quoted, and the deepest rows.
      {"Custom", 254, 203, 122},
      {"Cranberry 1", 243, 174, 188},
      {"Cranberry 3", 196, 0, 90},
      {"Tangerine 1", 254, 208, 158},
      {"Tobacco 3", 228, 160, 36},
      {"Tropic Blue 3", 0, 160, 220},
      {"Yellow 1", 255, 253, 232},
      {"Blue 5", 0, 125, 197},
      {"Tangerine 3", 250, 140, 40},
      {"Coral 5", 240, 110, 80},
      {"Cool Blue 5", 130, 170, 235},
      // Between known shades, rounded half up.
      {"Cranberry 2", 220, 87, 139},
      {"Straw 1", 250, 238, 210},
      {"Yellow 3", 255, 234, 126},
      {"Coral 1/8", 255, 251, 251},
      {"Coral 1", 252, 226, 220},
  };
  for (const Case& c : cases) {
    const fx::grads::ColourFilterRow* row = nullptr;
    for (const auto& r : t)
      if (std::string(r.name) == c.name) row = &r;
    ASSERT_NE(row, nullptr) << c.name;
    EXPECT_EQ(std::lround(row->colour.r * 255), c.r) << c.name;
    EXPECT_EQ(std::lround(row->colour.g * 255), c.g) << c.name;
    EXPECT_EQ(std::lround(row->colour.b * 255), c.b) << c.name;
    EXPECT_DOUBLE_EQ(row->colour.r, c.r / 255.0) << c.name;
  }
}

// ------------------------------------------------------------ the filter

Pixel Filtered(fx::Rgb colour, const fx::grads::ColourFilter::Settings& s, Pixel p, bool is16Bit) {
  fx::grads::ColourFilter f;
  f.Load(colour);
  const fx::RasterRef src = MakeRaster({{p}}, is16Bit);
  fx::RasterRef dst = MakeRaster({{p}}, is16Bit);
  f.Apply(*src, *dst, dst->Bounds(), s);
  return At(*dst, 0, 0);
}

TEST(ColourFilter, TablesAreTruncatedInDouble) {
  fx::grads::ColourFilter f;
  f.Load({0.7, 1, 0});
  // 10 / 255 x 0.7 x 255 is just below 7 in double.
  EXPECT_EQ(f.Table8(0)[10], 6);
  EXPECT_EQ(f.Table8(0)[50], 34);
  EXPECT_EQ(f.Table16(0)[32768], 22937);
  EXPECT_EQ(f.Table8(1)[200], 200);
  EXPECT_EQ(f.Table16(2)[32768], 0);
  f.Load({0.7, 1, 0});
  EXPECT_EQ(f.TableBuilds(), 1);
  f.Load({0.7, 1, 0.5});
  EXPECT_EQ(f.TableBuilds(), 2);
}

TEST(ColourFilter, ExposureOpacityAndHighlights) {
  using S = fx::grads::ColourFilter::Settings;
  for (bool is16Bit : {false, true}) {
    const int32_t L = Full(is16Bit);
    // White is the identity.
    const Pixel p{L * 3 / 5, L / 7, L - 1, L / 2};
    EXPECT_EQ(Filtered(fx::kWhite, S{}, p, is16Bit), p) << is16Bit;
    // Exposure 100 through grey 0.5 gives the luminance back.
    EXPECT_EQ(Filtered({0.5, 0.5, 0.5}, S{.exposure = 1}, Pixel{100, 100, 100, 9}, is16Bit),
              (Pixel{100, 100, 100, 9}));
    // Opacity 0 leaves the pixel whatever the colour.
    EXPECT_EQ(Filtered({0, 0.2, 0}, S{.opacity = 0}, p, is16Bit), p);
  }
  // The compensation's luminance has the 16-bit weights at 8 bits too:
  // (19235 x 255) >> 15 = 149, where the 8-bit luminance gives 150.
  EXPECT_EQ(Filtered({1, 0, 1}, S{.exposure = 1}, Pixel{0, 255, 0, 255}, false), (Pixel{149, 149, 149, 255}));
  EXPECT_EQ(Filtered({0.5, 1, 1}, S{.exposure = 0.5}, Pixel{200, 100, 50, 0}, false), (Pixel{115, 115, 65, 0}));
  // d = trunc(0.33 x 255) = 84: (84 x 0 + 171 x 200) / 255.
  EXPECT_EQ(Filtered(fx::kBlack, S{.opacity = 0.33}, Pixel{200, 200, 200, 1}, false), (Pixel{134, 134, 134, 1}));
  EXPECT_EQ(Filtered(fx::kBlack, S{.opacity = 0.5}, Pixel{20000, 0, 0, 1}, true), (Pixel{10000, 0, 0, 1}));
  // Highlights 100 keep white; a dark pixel is filtered.
  for (bool is16Bit : {false, true}) {
    const int32_t L = Full(is16Bit);
    EXPECT_EQ(Filtered(fx::kBlack, S{.highlights = 1}, Pixel{L, L, L, 3}, is16Bit), (Pixel{L, L, L, 3}));
    EXPECT_EQ(Filtered(fx::kBlack, S{.highlights = 1}, Pixel{L / 4, L / 4, L / 4, 3}, is16Bit), (Pixel{0, 0, 0, 3}));
  }
}

// ------------------------------------------------------------ Color Grad

TEST(ColorGrad, ParameterTable) {
  Instance e(fx::effects::kColorGrad);
  ASSERT_EQ(e->parameterCount, 19u);
  const char* keys[] = {"input", "view", "filters", "presets", "color", "opacity", "highlights", "exposure",
                        nullptr, "Grad", "gradEnable", "grad_nd", "dir", "grad_size", "ul", "ur", "lr", "ll"};
  for (int i = 0; i < 18; ++i)
    if (keys[i] != nullptr) {
      EXPECT_STREQ(e->parameters[i].key, keys[i]) << i;
    }
  EXPECT_EQ(e.P("presets").ItemCount(), 73);
  EXPECT_NE(e.P("presets").flags & fx::kNotify, 0u);
  EXPECT_TRUE(e.P("filters").GroupOpen());
  EXPECT_EQ(e.P("color").colour.g, 203 / 255.0);
  for (const char* corner : {"ul", "ur", "lr", "ll"}) EXPECT_NE(e.P(corner).flags & fx::kHidden, 0u) << corner;
  EXPECT_TRUE(e.P("gradEnable").boolean);
}

TEST(ColorGrad, PresetsAndEnableSwitchTheirControls) {
  Instance e(fx::effects::kColorGrad);
  e.Set("presets", 3);
  Changed(e, "presets");
  EXPECT_FALSE(e.P("color").Enabled());
  e.Set("presets", 0);
  Changed(e, "presets");
  EXPECT_TRUE(e.P("color").Enabled());
  e.Set("gradEnable", 0);
  Changed(e, "gradEnable");
  for (const char* k : {"grad_nd", "dir", "grad_size", "ul", "ll"}) EXPECT_FALSE(e.P(k).Enabled()) << k;
  EXPECT_TRUE(e.P("opacity").Enabled());
}

TEST(ColorGrad, IsActive) {
  Instance e(fx::effects::kColorGrad);
  EXPECT_TRUE(e.Active());
  e.Set("opacity", 0);
  EXPECT_FALSE(e.Active());
  e.Set("grad_nd", 40);
  EXPECT_TRUE(e.Active());
  e.Set("gradEnable", 0);
  EXPECT_FALSE(e.Active());
  e.Set("view", 1);
  EXPECT_TRUE(e.Active());
  e.Set("view", 2).Set("opacity", 100);
  EXPECT_FALSE(e.Active());
}

TEST(ColorGrad, WhiteWithoutGradIsTheIdentity) {
  for (bool is16Bit : {false, true}) {
    Instance e(fx::effects::kColorGrad);
    SetColour(e, "color", fx::kWhite);
    e.Set("gradEnable", 0);
    const fx::RasterRef src = Varied(7, 5, is16Bit);
    const fx::RasterRef out = Render(e, *src);
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 7; ++x) ASSERT_EQ(At(*out, x, y), At(*src, x, y));
  }
}

// Default corners, top to bottom, Size 100 on 4 rows: the mask runs full,
// 3/4, 1/2 and trunc(full / 4) (what the two-sample ramp gives the last
// row, not 0); the first row is the filter alone and the rest mix by it.
TEST(ColorGrad, GradConfinesTheFilter) {
  for (bool is16Bit : {false, true}) {
    const int32_t L = Full(is16Bit);
    Instance e(fx::effects::kColorGrad);
    const fx::RasterRef src = Varied(6, 4, is16Bit);
    e.Set("view", 1);
    const fx::RasterRef grad = Render(e, *src);
    const int32_t mask[4] = {L, L * 3 / 4, L / 2, L / 4};
    for (int32_t y = 0; y < 4; ++y)
      EXPECT_EQ(At(*grad, 2, y), (Pixel{mask[y], mask[y], mask[y], At(*src, 2, y)[3]})) << is16Bit << " " << y;
    e.Set("view", 0);
    const fx::RasterRef out = Render(e, *src);
    e.Set("gradEnable", 0);
    const fx::RasterRef whole = Render(e, *src);
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 6; ++x) {
        const Pixel s = At(*src, x, y), f = At(*whole, x, y), o = At(*out, x, y);
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(o[c], (int64_t{mask[y]} * f[c] + int64_t{L - mask[y]} * s[c]) / L) << y << " " << x;
        ASSERT_EQ(o[3], s[3]);
      }
  }
}

TEST(ColorGrad, NdAloneOnlyDarkens) {
  for (bool is16Bit : {false, true}) {
    const int32_t L = Full(is16Bit);
    Instance e(fx::effects::kColorGrad);
    e.Set("opacity", 0).Set("grad_nd", 40);
    const Pixel p{L / 2, L, 17, 5};
    const fx::RasterRef out = Render(e, *Fill(3, 4, p, is16Bit));
    // First row: g = full - trunc(0.4 full).
    const int32_t g = L - static_cast<int32_t>(0.4f * L);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(At(*out, 1, 0)[c], is16Bit ? (p[c] * g) >> 15 : p[c] * g / L);
    EXPECT_EQ(At(*out, 1, 0)[3], 5);
  }
}

TEST(ColorGrad, PresetRowsFilterLikeTheirColour) {
  for (bool is16Bit : {false, true}) {
    Instance preset(fx::effects::kColorGrad), custom(fx::effects::kColorGrad);
    preset.Set("presets", 22).Set("gradEnable", 0).Set("exposure", 40).Set("highlights", 30);
    custom.Set("gradEnable", 0).Set("exposure", 40).Set("highlights", 30);
    SetColour(custom, "color", fx::grads::kColourFilters[22].colour);
    const fx::RasterRef src = Varied(9, 6, is16Bit);
    const fx::RasterRef a = Render(preset, *src), b = Render(custom, *src);
    for (int32_t y = 0; y < 6; ++y)
      for (int32_t x = 0; x < 9; ++x) ASSERT_EQ(At(*a, x, y), At(*b, x, y));
    EXPECT_NE(At(*a, 3, 3), At(*src, 3, 3));
  }
}

// ------------------------------------------------------------ Strip Grad

TEST(StripGrad, FullAlongTheMiddleClearAtTheEdges) {
  for (bool is16Bit : {false, true}) {
    const int32_t L = Full(is16Bit);
    Instance e(fx::effects::kStripGrad);
    EXPECT_STREQ(e.P("dir").Item(0), "Horizontal");
    EXPECT_STREQ(e.P("dir").Item(1), "Vertical");
    const fx::RasterRef src = Fill(4, 4, {L / 3, L / 3, L / 3, L}, is16Bit);
    e.Set("view", 1);
    for (int dir : {0, 1}) {
      e.Set("dir", dir);
      const fx::RasterRef grad = Render(e, *src);
      const int32_t expected[4] = {0, L / 2, L, L / 2};
      for (int32_t t = 0; t < 4; ++t) {
        const Pixel p = dir == 0 ? At(*grad, 1, t) : At(*grad, t, 1);
        EXPECT_EQ(p[0], expected[t]) << is16Bit << " " << dir << " " << t;
      }
    }
    // Output: the first row is the source, the middle one filtered.
    e.Set("view", 0).Set("dir", 0);
    const fx::RasterRef out = Render(e, *src);
    EXPECT_EQ(At(*out, 0, 0), At(*src, 0, 0));
    Instance plain(fx::effects::kStripGrad);
    plain.Set("gradEnable", 0);
    EXPECT_EQ(At(*out, 0, 2), At(*Render(plain, *src), 0, 2));
    EXPECT_NE(At(*out, 0, 2), At(*src, 0, 2));
  }
}

// ------------------------------------------------------------ Color Spot

TEST(ColorSpot, TableAndActivity) {
  Instance e(fx::effects::kColorSpot);
  EXPECT_STREQ(e->parameters[2].key, "colorGroup");
  EXPECT_STREQ(e->parameters[2].label, "Color");
  EXPECT_STREQ(e->parameters[9].key, "spot");
  EXPECT_EQ(e.P("sRadius").number, 35);
  EXPECT_LT(fx::IndexOfKey(*e, "grad_nd"), 0);
  EXPECT_TRUE(e.Active());
  e.Set("opacity", 0);
  EXPECT_FALSE(e.Active());
  e.Set("view", 1);
  EXPECT_TRUE(e.Active());
  e.Set("view", 2);
  EXPECT_FALSE(e.Active());
}

TEST(ColorSpot, ClearCentreFilteredSurroundings) {
  for (bool is16Bit : {false, true}) {
    Instance e(fx::effects::kColorSpot);
    e.Set("sFalloffRadius", 30).Set("sFalloff", 40);
    const fx::RasterRef src = Varied(40, 30, is16Bit);
    e.Set("view", 1);
    const fx::RasterRef shown = Render(e, *src);
    fx::RasterRef mask = fx::MakeRaster(40, 30, 1, is16Bit ? 2 : 1);
    mask->Fill(0);
    fx::SpotSettings spot;
    spot.radius = 35;
    spot.falloffRadius = 30;
    spot.falloff = 40;
    fx::MakeSpotMask(*mask, mask->Bounds(), {}, spot.Shape(40, 30));
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 40; ++x) {
        const int32_t m = is16Bit ? mask->RowAs<uint16_t>(y)[x] : mask->RowAs<uint8_t>(y)[x];
        ASSERT_EQ(At(*shown, x, y), (Pixel{m, m, m, At(*src, x, y)[3]}));
      }
    e.Set("view", 0);
    const fx::RasterRef out = Render(e, *src);
    Instance grad(fx::effects::kColorGrad);
    grad.Set("gradEnable", 0);
    const fx::RasterRef filtered = Render(grad, *src);
    EXPECT_EQ(At(*out, 20, 15), At(*src, 20, 15));
    EXPECT_EQ(At(*out, 0, 0), At(*filtered, 0, 0));
    EXPECT_NE(At(*out, 0, 0), At(*src, 0, 0));
  }
}

// ------------------------------------------------------------------ ND Grad

int32_t FromLinear(int32_t linear, bool is16Bit) {
  const auto& t = fx::LinearTables::Get();
  return is16Bit ? t.FromLinear<uint16_t>()[linear] : t.FromLinear<uint8_t>()[linear];
}
int32_t ToLinear(int32_t v, bool is16Bit) {
  const auto& t = fx::LinearTables::Get();
  return is16Bit ? t.ToLinear<uint16_t>()[v] : t.ToLinear<uint8_t>()[v];
}

TEST(NdGrad, TableAndControls) {
  Instance e(fx::effects::kNdGrad);
  EXPECT_EQ(e->parameterCount, 16u);
  EXPECT_LT(fx::IndexOfKey(*e, "grad_nd"), 0);
  EXPECT_STREQ(e.P("exposure").label, "Stops");
  EXPECT_EQ(e.P("exposure").number, 1);
  EXPECT_EQ(e.P("preset").ItemCount(), 5);
  e.Set("preset", 2);
  Changed(e, "preset");
  EXPECT_FALSE(e.P("exposure").Enabled());
  e.Set("preset", 0);
  Changed(e, "preset");
  EXPECT_TRUE(e.P("exposure").Enabled());
  e.Set("gradEnable", 0);
  Changed(e, "gradEnable");
  for (const char* k : {"dir", "grad_size", "ul", "ll"}) EXPECT_FALSE(e.P(k).Enabled()) << k;
  e.Set("exposure", 0).Set("view", 0);
  EXPECT_TRUE(e.Active());
  e.Set("view", 1);
  EXPECT_TRUE(e.Active());
  e.Set("view", 2);
  EXPECT_FALSE(e.Active());
}

TEST(NdGrad, DarkensInLinearLight) {
  for (bool is16Bit : {false, true}) {
    const int32_t L = Full(is16Bit);
    const fx::RasterRef white = Fill(3, 4, {L, L, L, 7}, is16Bit);
    // ND.6: two stops, 32768 becomes 8192 in linear light.
    Instance nd6(fx::effects::kNdGrad);
    nd6.Set("preset", 2).Set("gradEnable", 0);
    const int32_t dark = FromLinear(8192, is16Bit);
    EXPECT_EQ(At(*Render(nd6, *white), 1, 3), (Pixel{dark, dark, dark, 7}));
    nd6.Set("gradEnable", 1);
    const fx::RasterRef graded = Render(nd6, *white);
    EXPECT_EQ(At(*graded, 1, 0), (Pixel{dark, dark, dark, 7}));
    EXPECT_NE(At(*graded, 1, 3), At(*graded, 1, 0));
    // Custom stops are not rounded to whole ones.
    Instance custom(fx::effects::kNdGrad);
    custom.Set("exposure", 0.5).Set("gradEnable", 0);
    const Pixel p{L / 3, L / 5, L - 2, 0};
    const Pixel out = At(*Render(custom, *Fill(1, 1, p, is16Bit)), 0, 0);
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(out[c], FromLinear(static_cast<int32_t>(ToLinear(p[c], is16Bit) * std::exp2(-0.5)), is16Bit));
    // Zero stops: the source itself, without a round trip.
    custom.Set("exposure", 0);
    const fx::RasterRef src = Varied(9, 7, is16Bit);
    const fx::RasterRef same = Render(custom, *src);
    for (int32_t y = 0; y < 7; ++y)
      for (int32_t x = 0; x < 9; ++x) ASSERT_EQ(At(*same, x, y), At(*src, x, y));
  }
}

TEST(NdGrad, PreservedHighlights) {
  for (bool is16Bit : {false, true}) {
    const int32_t L = Full(is16Bit);
    const fx::RasterRef white = Fill(3, 4, {L, L, L, L}, is16Bit);
    Instance e(fx::effects::kNdGrad);
    e.Set("preset", 3).Set("highlights", 100).Set("gradEnable", 0);
    EXPECT_EQ(At(*Render(e, *white), 0, 0), (Pixel{L, L, L, L}));
    // With the grad, half the highlight holds the grad back: m' = full -
    // trunc(0.5 full) on the first row.
    e.Set("preset", 1).Set("highlights", 50).Set("gradEnable", 1);
    const int32_t dark = FromLinear(16384, is16Bit);
    const int32_t m = L - L / 2;
    const int32_t expected = static_cast<int32_t>((int64_t{m} * dark + int64_t{L - m} * L) / L);
    EXPECT_EQ(At(*Render(e, *white), 2, 0)[0], expected);
  }
}

// ---------------------------------------------------- Dual Grad, Sunset/Twilight

int32_t Stored(double v, bool is16Bit) { return static_cast<int32_t>(v * Full(is16Bit)); }

TEST(DualGrad, TableAndControls) {
  Instance e(fx::effects::kDualGrad);
  EXPECT_LT(fx::IndexOfKey(*e, "gradEnable"), 0);
  EXPECT_LT(fx::IndexOfKey(*e, "grad_nd"), 0);
  EXPECT_EQ(e.P("highlights").number, 50);
  EXPECT_EQ(e.P("color2presets").ItemCount(), 73);
  EXPECT_EQ(e.P("tint2").colour.r, 122 / 255.0);
  e.Set("color2presets", 5);
  Changed(e, "color2presets");
  EXPECT_FALSE(e.P("tint2").Enabled());
  EXPECT_TRUE(e.P("tint1").Enabled());
  EXPECT_TRUE(e.Active());
  e.Set("view", 2);
  EXPECT_FALSE(e.Active());
}

// Top row: the first colour at opacity 100 alone, P x C1 / full; the Grad
// view shows the RGBA ramp; a preset row replaces the colour.
TEST(DualGrad, FirstRowIsTheFirstColour) {
  for (bool is16Bit : {false, true}) {
    const int32_t L = Full(is16Bit);
    Instance e(fx::effects::kDualGrad);
    e.Set("highlights", 0).Set("opacity2", 40);
    const fx::RasterRef src = Varied(8, 5, is16Bit);
    const fx::RasterRef out = Render(e, *src);
    const fx::Rgb c1 = e.P("tint1").colour;
    const int32_t C[3] = {Stored(c1.r, is16Bit), Stored(c1.g, is16Bit), Stored(c1.b, is16Bit)};
    for (int32_t x = 0; x < 8; ++x) {
      const Pixel p = At(*src, x, 0);
      EXPECT_EQ(At(*out, x, 0), (Pixel{p[0] * C[0] / L, p[1] * C[1] / L, p[2] * C[2] / L, p[3]})) << x;
    }
    e.Set("view", 1);
    const fx::RasterRef ramp = Render(e, *src);
    EXPECT_EQ(At(*ramp, 3, 0), (Pixel{C[0], C[1], C[2], L}));
    // The last of 5 rows: 1/5 of the way back from the second sample.
    EXPECT_EQ(At(*ramp, 3, 4)[3], Stored(0.4, is16Bit) + (L - Stored(0.4, is16Bit)) / 5);
    e.Set("view", 0).Set("color1presets", 3);
    const fx::Rgb row = fx::grads::kColourFilters[3].colour;
    EXPECT_EQ(At(*Render(e, *src), 2, 0)[0], At(*src, 2, 0)[0] * Stored(row.r, is16Bit) / L);
  }
}

TEST(DualGrad, ExposureAndHighlights) {
  const fx::RasterRef src = Fill(2, 3, {0, 255, 0, 255}, false);
  Instance e(fx::effects::kDualGrad);
  e.Set("highlights", 0).Set("exposure", 100);
  fx::SetColour(e.P("tint1"), {1, 0, 1});
  // f = 0, then + (19235 x 255) >> 15 = 149.
  EXPECT_EQ(At(*Render(e, *src), 1, 0), (Pixel{149, 149, 149, 255}));
  // Highlights 100 keep white whatever the colours.
  const fx::RasterRef white = Fill(2, 3, {255, 255, 255, 255}, false);
  e.Set("exposure", 0).Set("highlights", 100);
  EXPECT_EQ(At(*Render(e, *white), 1, 0), (Pixel{255, 255, 255, 255}));
}

TEST(SunsetTwilight, LooksAndTheirControls) {
  Instance e(fx::effects::kSunsetTwilight);
  EXPECT_EQ(e.P("preset").ItemCount(), 6);
  EXPECT_STREQ(e.P("preset").Item(3), "Twilight 1");
  EXPECT_EQ(e.P("color1").colour.g, 0.7);
  EXPECT_EQ(e.P("opacity2").number, 60);
  EXPECT_EQ(e.P("opacity3").number, 0);
  e.Set("preset", 4);
  Changed(e, "preset");
  for (const char* k : {"color1presets", "color2", "opacity3"}) EXPECT_FALSE(e.P(k).Enabled()) << k;
  e.Set("preset", 0).Set("color3presets", 2);
  Changed(e, "color3presets");
  EXPECT_TRUE(e.P("color1").Enabled());
  EXPECT_TRUE(e.P("opacity3").Enabled());
  EXPECT_FALSE(e.P("color3").Enabled());
}

TEST(SunsetTwilight, ThreeEqualColoursMultiplyUniformly) {
  for (bool is16Bit : {false, true}) {
    const int32_t L = Full(is16Bit);
    Instance e(fx::effects::kSunsetTwilight);
    e.Set("highlights", 0);
    const fx::Rgb c{0.3, 0.8, 0.55};
    for (const char* k : {"color1", "color2", "color3"}) fx::SetColour(e.P(k), c);
    for (const char* k : {"opacity1", "opacity2", "opacity3"}) e.Set(k, 100);
    const fx::RasterRef src = Varied(6, 7, is16Bit);
    const fx::RasterRef out = Render(e, *src);
    const int32_t C[3] = {Stored(c.r, is16Bit), Stored(c.g, is16Bit), Stored(c.b, is16Bit)};
    for (int32_t y = 0; y < 7; ++y)
      for (int32_t x = 0; x < 6; ++x) {
        const Pixel p = At(*src, x, y);
        ASSERT_EQ(At(*out, x, y), (Pixel{p[0] * C[0] / L, p[1] * C[1] / L, p[2] * C[2] / L, p[3]})) << y;
      }
    // Another look ignores the parameters: Twilight 3's first colour.
    e.Set("preset", 5);
    const Pixel p = At(*src, 1, 0);
    EXPECT_EQ(At(*Render(e, *src), 1, 0)[2], p[2] * Stored(0.65, is16Bit) / L);
  }
}

}  // namespace
