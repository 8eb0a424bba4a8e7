// The twelve catalogue effects: their tables, parameters and renders.
#include "effects/gel_catalogues.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "effects/param_groups.h"
#include "imaging/masks.h"
#include "tests/effects/effect_harness.h"

using namespace effecttest;
using fx::effects::GelCatalogueEffects;

namespace {

const fx::effects::GelCatalogueEntry& Entry(const std::string& registryName) {
  for (const auto& e : GelCatalogueEffects())
    if (registryName == e.registryName) return e;
  ADD_FAILURE() << registryName;
  return GelCatalogueEffects()[0];
}

TEST(GelCatalogues, EveryRowIsATransmissionWithAUniqueName) {
  ASSERT_EQ(GelCatalogueEffects().size(), 12u);
  std::size_t total = 0;
  for (const auto& e : GelCatalogueEffects()) {
    std::set<std::string> names;
    for (const fx::gels::GelRow& row : e.rows) {
      ASSERT_NE(row.name, nullptr) << e.registryName;
      EXPECT_FALSE(std::string(row.name).empty()) << e.registryName;
      EXPECT_TRUE(names.insert(row.name).second) << e.registryName << ": " << row.name << " twice";
      for (double v : {row.red, row.green, row.blue}) {
        EXPECT_GE(v, 0.0) << e.registryName << ": " << row.name;
        EXPECT_LE(v, 1.0) << e.registryName << ": " << row.name;
      }
    }
    total += e.rows.size();
  }
  EXPECT_EQ(total, 36u + 10 + 30 + 137 + 6 + 193 + 10 + 95 + 32 + 38 + 131 + 10);
}

TEST(GelCatalogues, TellingRowsAreAsMeasured) {
  struct Row {
    const char* catalogue;
    const char* name;
    double r, g, b;
  };
  const Row rows[] = {
      {"ColorCompensating", "CC05R", 0.9517, 0.9109, 0.9041},
      {"ColorCompensating", "CC50R", 0.8803, 0.5869, 0.5737},
      {"ColorCompensating", "CC50B", 0.6086, 0.6032, 0.8957},
      {"ColorConversion", "80A Blue", 0.4101, 0.5935, 0.8622},
      {"ColorConversion", "85 Amber", 0.9926, 0.7619, 0.632},
      {"ColorConversion", "85N9 Amber", 0.404, 0.2938, 0.2309},
      {"GamCineFilters", "1520, Extra Blue CTB", 0.07, 0.41, 0.7},
      {"GamColor", "101 Lavender Blue", 0.78, 0.46, 0.65},
      {"GamNakedCosmetics", "NCR3 Rosey Hint", 1.0, 0.95, 0.97},
      {"GamNakedCosmetics", "NCW9 Warm Hi-light", 1.0, 0.82, 0.58},
      {"LGels", "L003 Lavender Tint", 0.91, 0.87, 0.98},
      {"LGels", "L209 0.3ND", 0.75, 0.74, 0.77},
      {"LGels", "L299 1.2ND", 0.29, 0.28, 0.3},
      {"LightBalancing", "81 Yellowish", 0.9487, 0.9385, 0.9166},
      {"LightBalancing", "82C Bluish", 0.7237, 0.7928, 0.8896},
      {"PhotoFilters", "1A Pale Pink", 0.9536, 0.9295, 0.9351},
      {"PhotoFilters", "8 Yellow", 0.97, 0.9481, 0.0},
      {"PhotoFilters", "24 Red", 0.9391, 0.0, 0.0},
      {"PhotoFilters", "80A Blue", 0.4101, 0.5935, 0.8622},
      {"PhotoFilters", "82C Bluish", 0.7237, 0.7928, 0.8896},
      {"PhotoFilters", "CC50R", 0.8803, 0.5869, 0.5737},
      {"RoscoCalcolor", "R4215 15 Blue", 0.7, 0.77, 0.87},
      {"RoscoCinegel", "R3202 Full Blue CTB", 0.43, 0.6, 0.82},
      {"RoscoCinelux", "R01 Light Bstard Amber", 1.0, 0.65, 0.67},
      {"RoscoVelante", "R2001 KD Red", 0.62, 0.12, 0.2},
      {"RoscoVelante", "R2003 KD Yellow", 1.0, 0.74, 0.0},
  };
  for (const Row& want : rows) {
    const fx::gels::GelRow* found = nullptr;
    for (const fx::gels::GelRow& row : Entry(want.catalogue).rows)
      if (std::string(row.name) == want.name) found = &row;
    ASSERT_NE(found, nullptr) << want.catalogue << ": " << want.name;
    EXPECT_EQ(found->red, want.r) << want.name;
    EXPECT_EQ(found->green, want.g) << want.name;
    EXPECT_EQ(found->blue, want.b) << want.name;
  }
  // The first row of each catalogue.
  const std::vector<std::string> first = {"CC05R",
                                          "80A Blue",
                                          "1520, Extra Blue CTB",
                                          "101 Lavender Blue",
                                          "NCR3 Rosey Hint",
                                          "L003 Lavender Tint",
                                          "81 Yellowish",
                                          "1A Pale Pink",
                                          "R4215 15 Blue",
                                          "R3202 Full Blue CTB",
                                          "R01 Light Bstard Amber",
                                          "R2001 KD Red"};
  for (std::size_t i = 0; i < first.size(); ++i) EXPECT_EQ(GelCatalogueEffects()[i].rows[0].name, first[i]);
}

TEST(GelCatalogues, FiltersSharedBetweenCataloguesAgree) {
  // The photographic filters list the compensating, conversion and
  // balancing filters again; a filter is the same wherever it is listed.
  int shared = 0;
  for (const fx::gels::GelRow& photo : Entry("PhotoFilters").rows)
    for (const char* other : {"ColorCompensating", "ColorConversion", "LightBalancing"})
      for (const fx::gels::GelRow& row : Entry(other).rows)
        if (std::string(row.name) == photo.name) {
          ++shared;
          EXPECT_EQ(row.red, photo.red) << row.name;
          EXPECT_EQ(row.green, photo.green) << row.name;
          EXPECT_EQ(row.blue, photo.blue) << row.name;
        }
  EXPECT_EQ(shared, 36 + 10 + 10);
}

TEST(GelCatalogues, SeriesGrowDenserWithTheirNumber) {
  // Within a series the absorbed channels darken as the density grows.
  auto row = [](const char* catalogue, const std::string& name) {
    for (const fx::gels::GelRow& r : Entry(catalogue).rows)
      if (name == r.name) return r;
    ADD_FAILURE() << name;
    return fx::gels::GelRow{};
  };
  for (const char* colour : {"R", "G", "B", "Y", "C", "M"}) {
    double previous = 3;
    for (const char* d : {"05", "10", "20", "30", "40", "50"}) {
      const fx::gels::GelRow r = row("ColorCompensating", std::string("CC") + d + colour);
      const double sum = r.red + r.green + r.blue;
      EXPECT_LT(sum, previous) << r.name;
      previous = sum;
    }
  }
  const char* ctb[] = {"R3216 1/8 Blue CTB",   "R3208 1/4 Blue CTB", "R3206 1/3 Blue CTB",
                       "R3204 1/2 Blue CTB",   "R3203 3/4 Blue CTB", "R3202 Full Blue CTB",
                       "R3220 Double Blue CTB"};
  for (int i = 1; i < 7; ++i)
    EXPECT_LT(row("RoscoCinegel", ctb[i]).red, row("RoscoCinegel", ctb[i - 1]).red) << ctb[i];
  const char* nd[] = {"L298 0.15ND", "L209 0.3ND", "L210 0.6ND", "L211 0.9ND", "L299 1.2ND"};
  for (int i = 1; i < 5; ++i) EXPECT_LT(row("LGels", nd[i]).green, row("LGels", nd[i - 1]).green) << nd[i];
  // Amber filters pass red and stop blue; blue filters the reverse.
  EXPECT_GT(row("ColorConversion", "85B Amber").red, row("ColorConversion", "85B Amber").blue);
  EXPECT_LT(row("ColorConversion", "80B Blue").red, row("ColorConversion", "80B Blue").blue);
  EXPECT_LT(row("LightBalancing", "81EF Yellowish").blue, row("LightBalancing", "81 Yellowish").blue);
}

TEST(GelCatalogues, TheKdRangeListsItsTenColoursInOrder) {
  const std::vector<std::string> expected = {
      "R2001 KD Red",   "R2002 KD Orange", "R2003 KD Yellow", "R2004 KD Green",  "R2005 KD Cyan",
      "R2006 KD Azure", "R2007 KD Blue",   "R2008 KD Indigo", "R2009 KD Violet", "R2010 KD Magenta"};
  Instance e(fx::effects::kRoscoVelante);
  const fx::Parameter& presets = e.P("presets");
  ASSERT_EQ(presets.ItemCount(), 11);
  EXPECT_STREQ(presets.Item(0), "Custom");
  for (int i = 0; i < 10; ++i) EXPECT_EQ(presets.Item(i + 1), expected[i]);
}

TEST(GelCatalogues, NineteenParametersWithTheFirstRowInEffect) {
  const char* keys[] = {"input",    "view",  "Gels", "presets",    "color",   "opacity", "highlights",
                        "exposure", nullptr, "Grad", "gradEnable", "grad_nd", "dir",     "grad_size",
                        "ul",       "ur",    "lr",   "ll",         nullptr};
  const std::set<std::string> filters = {"ColorCompensating", "ColorConversion", "LightBalancing",
                                         "PhotoFilters"};
  for (const auto& entry : GelCatalogueEffects()) {
    Instance e(*entry.routines);
    SCOPED_TRACE(entry.registryName);
    ASSERT_EQ(e->parameterCount, 19u);
    for (int i = 0; i < 19; ++i) {
      if (keys[i] == nullptr)
        EXPECT_EQ(e->parameters[i].kind, fx::Kind::GroupEnd) << i;
      else
        EXPECT_STREQ(e->parameters[i].key, keys[i]) << i;
    }
    EXPECT_STREQ(e.P("Gels").label, filters.count(entry.registryName) ? "Filters" : "Gels");
    const fx::Parameter& presets = e.P("presets");
    EXPECT_EQ(presets.listIndex, 1);
    EXPECT_EQ(presets.declaration->flags, 0x310u);
    ASSERT_EQ(presets.ItemCount(), static_cast<int32_t>(entry.rows.size()) + 1);
    EXPECT_STREQ(presets.Item(0), "Custom");
    for (std::size_t i = 0; i < entry.rows.size(); ++i)
      EXPECT_EQ(presets.Item(static_cast<int32_t>(i) + 1), entry.rows[i].name);
    EXPECT_EQ(e.P("color").colour.g, 203 / 255.0);
    EXPECT_EQ(e.P("opacity").number, 100);
    EXPECT_EQ(e.P("highlights").number, 50);
    EXPECT_EQ(e.P("exposure").number, 0);
    EXPECT_FALSE(e.P("gradEnable").boolean);
    EXPECT_TRUE(e.P("Grad").GroupOpen());
    EXPECT_EQ(e.P("ul").declaration->flags, fx::kHidden);
    EXPECT_EQ(std::string(fx::DisplayName(*e)).rfind("Ovra ", 0), 0u);
    EXPECT_TRUE(e.Active());
  }
}

TEST(GelCatalogues, PresetsAndGradEnableSwitchTheirControls) {
  Instance e(fx::effects::kLGels);
  auto changed = [&](const char* key, double value) {
    e.Set(key, value);
    e->routines->parameterChanged(&*e, fx::IndexOfKey(*e, key));
  };
  changed("presets", 0);
  EXPECT_TRUE(e.P("color").Enabled());
  changed("presets", 7);
  EXPECT_FALSE(e.P("color").Enabled());
  changed("gradEnable", 0);
  for (const char* k : {"grad_nd", "dir", "grad_size", "ul", "ur", "lr", "ll"})
    EXPECT_FALSE(e.P(k).Enabled()) << k;
  EXPECT_TRUE(e.P("gradEnable").Enabled());
  EXPECT_TRUE(e.P("opacity").Enabled());
  changed("gradEnable", 1);
  for (const char* k : {"grad_nd", "dir", "grad_size", "ul", "ur", "lr", "ll"})
    EXPECT_TRUE(e.P(k).Enabled()) << k;
}

// ------------------------------------------------------------ renders

// A 3 x 2 raster of assorted pixels, scaled to the depth.
std::vector<std::vector<Pixel>> Assorted(bool is16Bit) {
  std::vector<std::vector<Pixel>> rows = {{{0, 0, 0, 255}, {255, 128, 3, 0}, {17, 200, 90, 4}},
                                          {{255, 255, 255, 255}, {1, 2, 3, 200}, {128, 128, 128, 128}}};
  if (is16Bit)
    for (auto& row : rows)
      for (Pixel& p : row)
        for (int32_t& v : p) v = v * 32768 / 255;
  return rows;
}

void SetColour(Instance& e, fx::Rgb c) {
  fx::SetColour(e.P("color"), c);
}

TEST(GelCatalogueRender, CustomWhiteAtFullOpacityChangesNothing) {
  for (bool is16Bit : {false, true}) {
    Instance e(fx::effects::kGamColor);
    e.Set("presets", 0);
    SetColour(e, {1, 1, 1});
    fx::RasterRef src = MakeRaster(Assorted(is16Bit), is16Bit);
    fx::RasterRef out = Render(e, *src);
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 3; ++x)
        EXPECT_EQ(At(*out, x, y), At(*src, x, y)) << is16Bit << " " << x << "," << y;
  }
}

TEST(GelCatalogueRender, ARowFiltersThroughItsTransmission) {
  // CC50R = (0.8803, 0.5869, 0.5737); without highlight preservation each
  // channel is trunc(v x t) in single precision.
  Instance e(fx::effects::kColorCompensating);
  e.Set("presets", 6).Set("highlights", 0);
  EXPECT_EQ(RenderPixel(e, {200, 200, 200, 31}, false), (Pixel{176, 117, 114, 31}));
  EXPECT_EQ(RenderPixel(e, {20000, 20000, 20000, 31}, true), (Pixel{17606, 11738, 11474, 31}));
  // "24 Red" stops green and blue.
  Instance photo(fx::effects::kPhotoFilters);
  photo.Set("presets", 15).Set("highlights", 0);
  EXPECT_EQ(RenderPixel(photo, {100, 200, 250, 255}, false), (Pixel{93, 0, 0, 255}));
}

TEST(GelCatalogueRender, ExposureCompensationOfAGreyFilter) {
  for (bool is16Bit : {false, true}) {
    const int32_t g = is16Bit ? 20000 : 200;
    Instance e(fx::effects::kRoscoCinegel);
    e.Set("presets", 0).Set("highlights", 0);
    SetColour(e, {0.5, 0.5, 0.5});
    EXPECT_EQ(RenderPixel(e, {g, g, g, 9}, is16Bit), (Pixel{g / 2, g / 2, g / 2, 9}));
    e.Set("exposure", 100);
    EXPECT_EQ(RenderPixel(e, {g, g, g, 9}, is16Bit), (Pixel{g, g, g, 9}));
  }
}

TEST(GelCatalogueRender, PreserveHighlightsKeepsWhiteWhite) {
  for (bool is16Bit : {false, true}) {
    const int32_t L = is16Bit ? 32768 : 255;
    Instance e(fx::effects::kRoscoVelante);  // KD Red: (0.62, 0.12, 0.2)
    e.Set("highlights", 0);
    const Pixel filtered = RenderPixel(e, {L, L, L, L}, is16Bit);
    EXPECT_EQ(filtered[0], is16Bit ? 20316 : 158);
    EXPECT_EQ(filtered[1], is16Bit ? 3932 : 30);
    e.Set("highlights", 100);
    EXPECT_EQ(RenderPixel(e, {L, L, L, L}, is16Bit), (Pixel{L, L, L, L}));
    // Black is outside the highlight matte: it stays black either way.
    EXPECT_EQ(RenderPixel(e, {0, 0, 0, 3}, is16Bit), (Pixel{0, 0, 0, 3}));
  }
}

TEST(GelCatalogueRender, PreserveHighlightsSparesOnlyTheBrightest) {
  // CC05R with Preserve Highlights 100: below 0.2 of full scale the highlight
  // matte is 0 and the grey is fully filtered; white keeps its colour; a 70 %
  // grey lies strictly between its filtered and its unfiltered value.
  for (bool is16Bit : {false, true}) {
    const int32_t L = is16Bit ? 32768 : 255;
    Instance e(fx::effects::kColorCompensating);
    e.Set("presets", 1);
    ASSERT_EQ(e.P("highlights").number, 50);
    const int32_t dark = L * 15 / 100, light = L * 70 / 100;
    e.Set("highlights", 0);
    const Pixel darkFiltered = RenderPixel(e, {dark, dark, dark, 5}, is16Bit);
    const Pixel lightFiltered = RenderPixel(e, {light, light, light, 5}, is16Bit);
    ASSERT_LT(lightFiltered[2], light);
    e.Set("highlights", 100);
    EXPECT_EQ(RenderPixel(e, {dark, dark, dark, 5}, is16Bit), darkFiltered) << is16Bit;
    EXPECT_EQ(RenderPixel(e, {L, L, L, 5}, is16Bit), (Pixel{L, L, L, 5})) << is16Bit;
    const Pixel between = RenderPixel(e, {light, light, light, 5}, is16Bit);
    for (int c = 1; c < 3; ++c) {
      EXPECT_GT(between[c], lightFiltered[c]) << is16Bit << " channel " << c;
      EXPECT_LT(between[c], light) << is16Bit << " channel " << c;
    }
  }
}

TEST(GelCatalogueRender, NoOpacityOnlyDarkensThroughTheGrad) {
  for (bool is16Bit : {false, true}) {
    const int32_t L = is16Bit ? 32768 : 255;
    Instance e(fx::effects::kLightBalancing);
    e.Set("opacity", 0);
    EXPECT_FALSE(e.Active());
    e.Set("gradEnable", 1);
    EXPECT_FALSE(e.Active());  // the grad alone changes nothing
    e.Set("grad_nd", 50);
    EXPECT_TRUE(e.Active());

    std::vector<std::vector<Pixel>> rows(6, std::vector<Pixel>(4, Pixel{L * 3 / 4, L / 2, L / 5, 77}));
    fx::RasterRef src = MakeRaster(rows, is16Bit);
    fx::RasterRef out = Render(e, *src);
    fx::RasterRef mask = fx::MakeRaster(4, 6, 1, is16Bit ? 2 : 1);
    mask->Fill(0);
    fx::MakeGradMask(*mask, mask->Bounds(), {}, fx::GradSettings{}, 4, 6);
    for (int32_t y = 0; y < 6; ++y) {
      const int32_t m = is16Bit ? mask->RowAs<uint16_t>(y)[0] : mask->RowAs<uint8_t>(y)[0];
      const int32_t t = L - m * (L / 2) / L;
      const Pixel p = rows[y][0];
      const Pixel want = m == 0 ? p : Pixel{p[0] * t / L, p[1] * t / L, p[2] * t / L, 77};
      for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(At(*out, x, y), want) << is16Bit << " row " << y;
    }
  }
}

TEST(GelCatalogueRender, TheGradConfinesTheFilterAndTheGradViewShowsIt) {
  Instance e(fx::effects::kRoscoCinelux);
  e.Set("highlights", 0).Set("gradEnable", 1).Set("dir", 1);  // bottom to top
  std::vector<std::vector<Pixel>> rows(5, std::vector<Pixel>(2, Pixel{200, 150, 100, 60}));
  fx::RasterRef src = MakeRaster(rows, false);
  fx::RasterRef out = Render(e, *src);
  // Full effect at the bottom edge's side, none at the top row.
  EXPECT_EQ(At(*out, 0, 0), (Pixel{200, 150, 100, 60}));
  const Pixel bottom = At(*out, 1, 4);
  EXPECT_LT(bottom[1], 150);
  EXPECT_EQ(bottom[3], 60);

  e.Set("view", 1);
  EXPECT_TRUE(e.Active());
  out = Render(e, *src);
  EXPECT_EQ(At(*out, 0, 0), (Pixel{0, 0, 0, 60}));
  EXPECT_NE(e.P("input").flags & 0x20000u, 0u);
  EXPECT_GT(At(*out, 0, 4)[0], 0);
  e.Set("view", 0);
  Render(e, *src);
  EXPECT_EQ(e.P("input").flags & 0x20000u, 0u);
  e.Set("view", 2);
  EXPECT_FALSE(e.Active());
  out = Render(e, *src);
  EXPECT_EQ(At(*out, 1, 4), (Pixel{200, 150, 100, 60}));
}

}  // namespace
