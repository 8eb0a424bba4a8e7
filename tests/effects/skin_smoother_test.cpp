#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "effects/focus_blur.h"
#include "effects/mask_mix.h"
#include "imaging/separable_blur.h"
#include "tests/effects/effect_harness.h"

using namespace effecttest;

namespace {

int32_t FullScale(bool is16Bit) { return is16Bit ? 32768 : 255; }

// A w x h image: white where inside(x, y), black elsewhere, opaque.
template <class F>
fx::RasterRef TwoTone(int32_t w, int32_t h, bool is16Bit, F inside) {
  const int32_t L = FullScale(is16Bit);
  std::vector<std::vector<Pixel>> rows(h, std::vector<Pixel>(w));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) rows[y][x] = inside(x, y) ? Pixel{L, L, L, L} : Pixel{0, 0, 0, L};
  return MakeRaster(rows, is16Bit);
}

fx::RasterRef RandomRaster(int32_t w, int32_t h, bool is16Bit, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int32_t> sample(0, FullScale(is16Bit));
  std::vector<std::vector<Pixel>> rows(h, std::vector<Pixel>(w));
  for (auto& row : rows)
    for (Pixel& p : row)
      for (int32_t& v : p) v = sample(gen);
  return MakeRaster(rows, is16Bit);
}

// The red samples of a grey view as a one-channel raster.
fx::RasterRef GreyOf(const fx::Raster& view) {
  fx::RasterRef m = fx::MakeRaster(view.Width(), view.Height(), 1, view.BytesPerSample());
  for (int32_t y = 0; y < view.Height(); ++y)
    for (int32_t x = 0; x < view.Width(); ++x) {
      if (view.Is16Bit()) m->RowAs<uint16_t>(y)[x] = static_cast<uint16_t>(At(view, x, y)[0]);
      else m->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(At(view, x, y)[0]);
    }
  return m;
}

bool Same(const fx::Raster& a, const fx::Raster& b) {
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x)
      if (At(a, x, y) != At(b, x, y)) return false;
  return true;
}

enum View { kOutput, kSelection, kEdge, kOriginal };

TEST(SkinSmoother, ParameterTable) {
  Instance e(fx::effects::kSkinSmoother);
  EXPECT_STREQ(e->routines->displayName(&*e), "Ovra Skin Smoother");
  EXPECT_STREQ(e->routines->description(&*e), "Selectively adjust blur.");
  struct Row {
    const char* key;
    const char* label;
    fx::Kind kind;
    double minimum, maximum, value;
    uint32_t flags;  // beyond the initial state
  };
  using K = fx::Kind;
  const Row rows[] = {
      {"background", "Background", K::ImageInput, 0, 0, 0, 0},
      {"view", "View", K::List, 0, 0, 0, 0},
      {"blur", "Blur", K::GroupStart, 0, 0, 0, fx::kGroupOpen},
      {"blurX", "Horizontal", K::Range, 0, 200, 5, fx::kNotify},
      {"blurY", "Vertical", K::Range, 0, 200, 5, fx::kNotify},
      {"gang", "Gang", K::Boolean, 0, 0, 0, fx::kNotify},
      {nullptr, nullptr, K::GroupEnd, 0, 0, 0, 0},
      {"edge", "Edge", K::GroupStart, 0, 0, 0, fx::kGroupOpen},
      {"EdgeBrightness", "Brightness", K::Range, 1, 10, 5, 0},
      {"EdgeBlur", "Blur", K::Range, 0, 100, 3, 0},
      {"EdgeOpacity", "Opacity", K::Range, 0, 100, 100, fx::kPrincipal},
      {nullptr, nullptr, K::GroupEnd, 0, 0, 0, 0},
      {"matte", "Selection", K::GroupStart, 0, 0, 0, fx::kGroupOpen},
      {"mattePosition", "Position", K::Range, 0, 100, 50, fx::kPrincipal},
      {"matteRange", "Range", K::Range, 0, 100, 40, fx::kPrincipal},
      {"matteBlur", "Blur", K::Range, 0, 1000, 0, 0},
      {nullptr, nullptr, K::GroupEnd, 0, 0, 0, 0},
  };
  ASSERT_EQ(e->parameterCount, std::size(rows));
  for (uint32_t i = 0; i < std::size(rows); ++i) {
    const fx::Parameter& p = e->parameters[i];
    const Row& r = rows[i];
    ASSERT_EQ(p.kind, r.kind) << i;
    if (r.key != nullptr) {
      EXPECT_STREQ(p.key, r.key) << i;
      EXPECT_STREQ(p.label, r.label) << i;
    }
    EXPECT_EQ(p.flags & (fx::kGroupOpen | fx::kNotify | fx::kPrincipal), r.flags) << i;
    if (r.kind == K::Range) {
      EXPECT_EQ(p.Minimum(), r.minimum) << r.key;
      EXPECT_EQ(p.Maximum(), r.maximum) << r.key;
      EXPECT_EQ(p.number, r.value) << r.key;
    }
  }
  EXPECT_TRUE(e.P("gang").boolean);
  const char* views[] = {"Output", "Selection", "Edge", "Original"};
  ASSERT_EQ(e.P("view").ItemCount(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_STREQ(e.P("view").Item(i), views[i]);
}

TEST(SkinSmoother, GangAndActivity) {
  Instance e(fx::effects::kSkinSmoother);
  const int blurX = fx::IndexOfKey(*e, "blurX"), gang = fx::IndexOfKey(*e, "gang");
  e.Set("blurX", 17);
  e->routines->parameterChanged(&*e, blurX);
  EXPECT_EQ(e.P("blurY").number, 17);
  EXPECT_FALSE(e.P("blurY").Enabled());
  e.Set("gang", 0);
  e->routines->parameterChanged(&*e, gang);
  EXPECT_TRUE(e.P("blurY").Enabled());

  struct Case {
    int view;
    double blurX, blurY;
    bool gang, active;
  };
  const Case cases[] = {
      {kOutput, 5, 5, true, true},     {kOutput, 0, 5, true, false},  // ganged: blurY follows 0
      {kOutput, 0, 5, false, true},    {kOutput, 0, 0, false, false}, {kSelection, 0, 0, false, true},
      {kEdge, 0, 0, true, true},       {kOriginal, 5, 5, true, false},
  };
  for (const Case& c : cases) {
    e.Set("view", c.view).Set("blurX", c.blurX).Set("blurY", c.blurY).Set("gang", c.gang);
    EXPECT_EQ(e.Active(), c.active) << c.view << " " << c.blurX << " " << c.blurY << " " << c.gang;
  }
}

TEST(SkinSmoother, FlatImageStaysUnchanged) {
  for (bool is16 : {false, true}) {
    Instance e(fx::effects::kSkinSmoother);
    e.Set("blurX", 40).Set("EdgeBlur", 10).Set("matteRange", 100);
    const int32_t L = FullScale(is16);
    std::vector<std::vector<Pixel>> rows(9, std::vector<Pixel>(13, Pixel{L / 2, L / 3, L / 5, L}));
    fx::RasterRef src = MakeRaster(rows, is16);
    fx::RasterRef out = Render(e, *src);
    EXPECT_TRUE(Same(*out, *src)) << is16;
  }
}

// The edge view with Brightness 1 and no edge blur shows the scaled Sobel
// magnitude: trunc(trunc(sqrt(gx^2 + gy^2)) x 0.17667844522968199).
TEST(SkinSmoother, EdgeMapFigures) {
  struct Case {
    const char* name;
    bool is16;
    bool horizontalStep;  // a step between rows instead of columns
    int32_t step;         // E on both sides of the step
  };
  // A full step has |g| = 4L: 1020 at 8 bits, 131072 at 16 bits, whose
  // square alone overflows 32 bits.
  const Case cases[] = {
      {"vertical 8", false, false, 180},
      {"vertical 16", true, false, 23157},
      {"horizontal 8", false, true, 180},
      {"horizontal 16", true, true, 23157},
  };
  for (const Case& c : cases) {
    Instance e(fx::effects::kSkinSmoother);
    e.Set("view", kEdge).Set("EdgeBrightness", 1).Set("EdgeBlur", 0);
    const int32_t w = c.horizontalStep ? 5 : 6, h = c.horizontalStep ? 6 : 5;
    fx::RasterRef src = TwoTone(w, h, c.is16, [&](int32_t x, int32_t y) { return (c.horizontalStep ? y : x) < 3; });
    fx::RasterRef out = Render(e, *src);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const int32_t across = c.horizontalStep ? y : x;
        const int32_t want = across == 2 || across == 3 ? c.step : 0;  // the image edges repeat: no edge there
        EXPECT_EQ(At(*out, x, y), (Pixel{want, want, want, FullScale(c.is16)})) << c.name << " " << x << "," << y;
      }
  }
}

// The render loop's last band is shorter than its raster, whose rows below
// the area still hold the band before: the edge map must not read them.
TEST(SkinSmoother, RowsBelowTheAreaAreNotRead) {
  for (bool is16 : {false, true}) {
    fx::RasterRef src = RandomRaster(12, 7, is16, 21);
    fx::RasterRef stale = RandomRaster(12, 11, is16, 22);
    stale->CopyRect(*src, {0, 0, 7, 12}, 0, 0);
    for (int view : {kEdge, kOutput}) {
      Instance whole(fx::effects::kSkinSmoother), banded(fx::effects::kSkinSmoother);
      whole.Set("view", view).Set("EdgeBlur", 0);
      banded.Set("view", view).Set("EdgeBlur", 0);
      fx::RasterRef want = Render(whole, *src);

      fx::RasterRef dst = fx::MakeRaster(12, 11, 4, is16 ? 2 : 1);
      dst->Fill(0);
      fx::RenderInfo info;
      info.imageWidth = 12;
      info.imageHeight = 7;
      info.is16Bit = is16;
      info.destination = dst.get();
      info.area = info.outputRect = {0, 0, 7, 12};
      banded->parameters[0].source = stale.get();
      banded->routines->render(&*banded, &info);
      banded->parameters[0].source = nullptr;
      for (int32_t y = 0; y < 7; ++y)
        for (int32_t x = 0; x < 12; ++x) ASSERT_EQ(At(*dst, x, y), At(*want, x, y)) << is16 << " " << x << "," << y;
    }
  }
}

TEST(SkinSmoother, SteepestCornerAndBrightness) {
  // Around (1, 1): left column white, right column black, and the top row
  // white up to the centre: gx = 4L, gy = 2L, gx^2 + gy^2 = 20 L^2.
  auto corner = [](int32_t x, int32_t y) { return x == 0 || (x == 1 && y == 0); };
  struct Case {
    bool is16;
    double brightness;
    int32_t want;
  };
  const Case cases[] = {
      {true, 1, 25890},    // trunc(trunc(sqrt(20) x 32768) x 0.1766...)
      {false, 1, 201},     // trunc(1140 x 0.1766...)
      {false, 1.25, 251},  // trunc(1.25 x 201)
      {false, 2, 255},     // clamped at full scale
      {true, 1.25, 32362},
      {true, 2, 32768},
  };
  for (const Case& c : cases) {
    Instance e(fx::effects::kSkinSmoother);
    e.Set("view", kEdge).Set("EdgeBrightness", c.brightness).Set("EdgeBlur", 0);
    fx::RasterRef src = TwoTone(4, 4, c.is16, corner);
    fx::RasterRef out = Render(e, *src);
    EXPECT_EQ(At(*out, 1, 1)[0], c.want) << c.is16 << " " << c.brightness;
  }
}

TEST(SkinSmoother, MaskMix) {
  struct Case {
    bool is16;
    int32_t m;
    double amount;
    Pixel want;
  };
  const Pixel first8{10, 20, 30, 40}, second8{200, 100, 50, 250};
  const Pixel first16{1000, 2000, 3000, 4000}, second16{30000, 20000, 10000, 32768};
  const Case cases[] = {
      {false, 0, 1, first8},
      {false, 255, 0, first8},
      {false, 255, 1, {200, 100, 50, 40}},  // full: the second colour, the first alpha
      {false, 100, 1, {84, 51, 37, 122}},   // alpha mixes too
      {false, 255, 0.5, {104, 59, 39, 144}},
      {false, 200, 0.3, {53, 38, 34, 88}},   // d = 200 x trunc(76.5) / 255 = 59
      {true, 0, 1, first16},
      {true, 32768, 0, first16},
      {true, 32768, 1, {30000, 20000, 10000, 4000}},
      {true, 16384, 1, {15500, 11000, 6500, 18384}},
      {true, 32768, 0.25, {8250, 6500, 4750, 11192}},
  };
  for (const Case& c : cases) {
    fx::RasterRef first = MakeRaster({{c.is16 ? first16 : first8}}, c.is16);
    fx::RasterRef second = MakeRaster({{c.is16 ? second16 : second8}}, c.is16);
    fx::RasterRef mask = fx::MakeRaster(1, 1, 1, c.is16 ? 2 : 1);
    if (c.is16) mask->RowAs<uint16_t>(0)[0] = static_cast<uint16_t>(c.m);
    else mask->RowAs<uint8_t>(0)[0] = static_cast<uint8_t>(c.m);
    fx::RasterRef out = fx::MakeRaster(1, 1, 4, c.is16 ? 2 : 1);
    fx::MaskMix(*first, *second, *mask, *out, {0, 0, 1, 1}, c.amount);
    EXPECT_EQ(At(*out, 0, 0), c.want) << c.is16 << " m " << c.m << " amount " << c.amount;
    // In place over the first image gives the same.
    fx::MaskMix(*first, *second, *mask, *first, {0, 0, 1, 1}, c.amount);
    EXPECT_EQ(At(*first, 0, 0), c.want);
  }
}

// Output = MaskMix(MaskMix(source, box-blurred source, M, 1), source, E, o),
// with M and E as the Selection and Edge views show them.
TEST(SkinSmoother, OutputMixesTheBlurThroughTheMatteAndRestoresEdges) {
  for (bool is16 : {false, true}) {
    fx::RasterRef src = RandomRaster(23, 17, is16, is16 ? 7u : 3u);
    auto configured = [&](Instance& e, int view) {
      e.Set("view", view).Set("blurX", 60).Set("EdgeBlur", 20).Set("EdgeOpacity", 70).Set("matteBlur", 30);
    };
    Instance output(fx::effects::kSkinSmoother), selection(fx::effects::kSkinSmoother),
        edge(fx::effects::kSkinSmoother);
    configured(output, kOutput);
    configured(selection, kSelection);
    configured(edge, kEdge);
    fx::RasterRef out = Render(output, *src);
    fx::RasterRef m = GreyOf(*Render(selection, *src));
    fx::RasterRef edges = GreyOf(*Render(edge, *src));

    fx::RasterRef blurred = fx::MakeRaster(23, 17, 4, is16 ? 2 : 1);
    blurred->CopyFrom(*src);
    fx::SeparableBlur blur;
    blur.SetPasses(1);
    fx::RenderInfo info;
    info.imageHeight = 17;
    blur.SetRadii(static_cast<float>(info.FullHeightPixels(60)), static_cast<float>(info.ScaledHeightPixels(60)));
    blur.Blur(*blurred, {0, 0, 17, 23});
    fx::RasterRef want = fx::MakeRaster(23, 17, 4, is16 ? 2 : 1);
    fx::MaskMix(*src, *blurred, *m, *want, {0, 0, 17, 23}, 1.0);
    fx::MaskMix(*want, *src, *edges, *want, {0, 0, 17, 23}, 0.7);
    EXPECT_TRUE(Same(*out, *want)) << is16;
    EXPECT_FALSE(Same(*out, *src)) << is16;
  }
}

// With the edge map at full scale next to a step (Brightness 10) the sharp
// step comes back exactly; away from edges the selected tones are blurred.
TEST(SkinSmoother, EdgesStaySharp) {
  Instance e(fx::effects::kSkinSmoother);
  e.Set("blurX", 200).Set("EdgeBrightness", 10).Set("EdgeBlur", 0).Set("matteRange", 100);
  std::vector<std::vector<Pixel>> rows(30, std::vector<Pixel>(40));
  for (auto& row : rows)
    for (int32_t x = 0; x < 40; ++x) row[x] = x < 20 ? Pixel{200, 180, 160, 255} : Pixel{40, 60, 80, 255};
  // A white square away from the step: its middle has no edge, so the blur
  // of the selected tones darkens it.
  for (int32_t y = 13; y < 18; ++y)
    for (int32_t x = 3; x < 8; ++x) rows[y][x] = {255, 255, 255, 255};
  fx::RasterRef src = MakeRaster(rows, false);
  fx::RasterRef out = Render(e, *src);
  for (int32_t y = 0; y < 30; ++y) {
    EXPECT_EQ(At(*out, 19, y), At(*src, 19, y)) << y;
    EXPECT_EQ(At(*out, 20, y), At(*src, 20, y)) << y;
  }
  EXPECT_LT(At(*out, 5, 15)[0], 250);
}

}  // namespace
