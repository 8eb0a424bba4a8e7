#include "effects/rack_focus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "effects/focus_blur.h"
#include "imaging/separable_blur.h"
#include "imaging/tone_curve.h"
#include "tests/effects/effect_harness.h"

using namespace effecttest;
using fx::effects::ApertureShape;

namespace {

int32_t FullScale(bool is16Bit) { return is16Bit ? 32768 : 255; }

fx::RasterRef RandomRaster(int32_t w, int32_t h, bool is16Bit, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int32_t> sample(0, FullScale(is16Bit));
  std::vector<std::vector<Pixel>> rows(h, std::vector<Pixel>(w));
  for (auto& row : rows)
    for (Pixel& p : row)
      for (int32_t& v : p) v = sample(gen);
  return MakeRaster(rows, is16Bit);
}

int32_t Sample(const fx::Raster& r, int32_t x, int32_t y) {
  return r.Is16Bit() ? r.RowAs<uint16_t>(y)[x] : r.RowAs<uint8_t>(y)[x];
}

bool Same(const fx::Raster& a, const fx::Raster& b) {
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x)
      if (At(a, x, y) != At(b, x, y)) return false;
  return true;
}

int64_t Coverage(const fx::Raster& stencil) {
  int64_t sum = 0;
  for (int32_t y = 0; y < stencil.Height(); ++y)
    for (int32_t x = 0; x < stencil.Width(); ++x) sum += Sample(stencil, x, y);
  return sum;
}

enum View { kOutput, kSelection, kAperture, kOriginal };

TEST(RackFocus, ParameterTable) {
  Instance e(fx::effects::kRackFocus);
  EXPECT_STREQ(e->routines->displayName(&*e), "Ovra Rack Focus");
  EXPECT_STREQ(e->routines->description(&*e), "Film defocus");
  struct Row {
    const char* key;
    const char* label;
    fx::Kind kind;
    double minimum, maximum, value;
    uint32_t flags;
  };
  using K = fx::Kind;
  const Row rows[] = {
      {"input", "Input", K::ImageInput, 0, 0, 0, 0},
      {"view", "View", K::List, 0, 0, 0, 0},
      {"blur", "Blur", K::Range, 0, 100, 20, 0},
      {"aperture", "Aperture", K::GroupStart, 0, 0, 0, fx::kGroupOpen},
      {"boost", "Boost", K::Range, 0, 800, 0, 0},
      {"facets", "Facets", K::Range, 3, 15, 5, fx::kWholeNumbers},
      {"curvature", "Curvature", K::Range, 0, 100, 100, 0},
      {"angle", "Angle", K::Range, -360, 360, 0, 0x1000},
      {"size", "Size", K::Range, 0, 50, 5, 0},
      {"apertureBlur", "Blur", K::Range, 0, 100, 5, 0},
      {"noise", "Noise", K::Range, 0, 100, 50, 0},
      {"density", "Density", K::Range, 0, 100, 50, 0},
      {nullptr, nullptr, K::GroupEnd, 0, 0, 0, 0},
      {"matte", "Selection", K::GroupStart, 0, 0, 0, fx::kGroupOpen},
      {"mattePosition", "Position", K::Range, 0, 100, 90, fx::kPrincipal},
      {"matteRange", "Range", K::Range, 0, 100, 15, fx::kPrincipal},
      {"matteBlur", "Blur", K::Range, 0, 100, 5, 0},
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
    EXPECT_EQ(p.flags & (fx::kGroupOpen | fx::kWholeNumbers | 0x1000u | fx::kPrincipal), r.flags) << i;
    if (r.kind == K::Range) {
      EXPECT_EQ(p.Minimum(), r.minimum) << r.key;
      EXPECT_EQ(p.Maximum(), r.maximum) << r.key;
      EXPECT_EQ(p.number, r.value) << r.key;
    }
  }
  const char* views[] = {"Output", "Selection", "Aperture", "Original"};
  ASSERT_EQ(e.P("view").ItemCount(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_STREQ(e.P("view").Item(i), views[i]);
  for (int v : {kOutput, kSelection, kAperture}) EXPECT_TRUE(e.Set("view", v).Active()) << v;
  EXPECT_FALSE(e.Set("view", kOriginal).Active());
}

TEST(RackFocus, ApertureExtent) {
  struct Case {
    float diameter, angle;
    int32_t extent;
  };
  const Case cases[] = {
      {10, 0, 11},    // 10, made odd
      {10, 45, 15},   // trunc(2 x 10 cos 45) = 14, made odd
      {9.2f, 0, 11},  // the diameter is rounded up first
      {9, 90, 9},     {10, -30, 13},  // 8.66 + 5
      {0, 0, 1},      {0, 45, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(fx::effects::ApertureExtent(c.diameter, c.angle), c.extent) << c.diameter << " " << c.angle;
}

TEST(RackFocus, ApertureShape) {
  for (bool is16 : {false, true}) {
    // The shape shrinks steadily from straight facets to full curvature.
    for (int32_t facets : {3, 5, 8}) {
      int64_t previous = INT64_MAX;
      for (float u : {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}) {
        const int64_t area = Coverage(*fx::effects::ApertureStencil({facets, u, 0, 40}, is16));
        EXPECT_LT(area, previous) << is16 << " facets " << facets << " curvature " << u;
        EXPECT_GT(area, 0);
        previous = area;
      }
    }
    // Corner 0 points right of centre; the angle turns it clockwise (down
    // on screen at 90 degrees).
    auto extremes = [&](float angle) {
      fx::RasterRef s = fx::effects::ApertureStencil({3, 0, angle, 40}, is16);
      int32_t left = s->Width(), right = -1, top = s->Height(), bottom = -1;
      for (int32_t y = 0; y < s->Height(); ++y)
        for (int32_t x = 0; x < s->Width(); ++x)
          if (Sample(*s, x, y) != 0) {
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
          }
      const int32_t c = s->Width() / 2;
      return std::array<int32_t, 4>{c - left, right - c, c - top, bottom - c};
    };
    const auto upright = extremes(0);
    EXPECT_GT(upright[1], upright[0] + 5) << is16;  // 20 to the right, 10 to the left
    const auto turned = extremes(90);
    EXPECT_GT(turned[3], turned[2] + 5) << is16;
    // Diameter 0 leaves the stencil empty.
    EXPECT_EQ(Coverage(*fx::effects::ApertureStencil({5, 1, 0, 0}, is16)), 0);
  }
  // Drawn in bands of rows, a large stencil has the same runs as drawn whole.
  const ApertureShape big{7, 0.6f, 20, 610};
  const fx::effects::StencilRuns whole = fx::effects::StencilRuns::Of(*fx::effects::ApertureStencil(big, false));
  const fx::effects::StencilRuns banded = fx::effects::ApertureRuns(big, false);
  EXPECT_EQ(banded.extent, whole.extent);
  ASSERT_EQ(banded.runs.size(), whole.runs.size());
  for (std::size_t i = 0; i < whole.runs.size(); ++i) {
    EXPECT_EQ(banded.runs[i].row, whole.runs[i].row) << i;
    EXPECT_EQ(banded.runs[i].begin, whole.runs[i].begin) << i;
    EXPECT_EQ(banded.runs[i].end, whole.runs[i].end) << i;
  }
}

// The stamping the dilation stands for, pixel by pixel.
fx::RasterRef LiteralStamping(const fx::Raster& k, const fx::Raster& stencil, const fx::Rect& area) {
  fx::RasterRef e = fx::MakeRaster(k.Width(), k.Height(), 4, k.BytesPerSample());
  e->Fill(0);
  const int32_t s = stencil.Width(), half = s / 2;
  for (int32_t y = area.top; y < area.bottom; ++y)
    for (int32_t x = area.left; x < area.right; ++x) {
      const Pixel p = At(k, x, y);
      if (p[3] == 0) continue;
      for (int32_t sy = 0; sy < s; ++sy)
        for (int32_t sx = 0; sx < s; ++sx) {
          const int32_t X = x - half + sx, Y = y - half + sy;
          if (Sample(stencil, sx, sy) == 0 || !area.Contains(X, Y)) continue;
          for (int c = 0; c < 4; ++c) {
            if (k.Is16Bit()) {
              uint16_t& v = e->RowAs<uint16_t>(Y)[4 * X + c];
              v = std::max<uint16_t>(v, static_cast<uint16_t>(p[c]));
            } else {
              uint8_t& v = e->RowAs<uint8_t>(Y)[4 * X + c];
              v = std::max<uint8_t>(v, static_cast<uint8_t>(p[c]));
            }
          }
        }
    }
  return e;
}

TEST(RackFocus, DilationEqualsLiteralStamping) {
  struct Case {
    ApertureShape shape;
    int32_t alphaZeroOneIn;  // sparse highlights: most pixels have h = 0
  };
  const Case cases[] = {
      {{3, 0, 0, 9}, 2},     {{5, 1, 0, 12}, 1},  {{6, 0.5f, 33, 15}, 3},
      {{8, 0.2f, -70, 7}, 5}, {{15, 1, 200, 21}, 2},  // wider than the area's height
  };
  for (bool is16 : {false, true})
    for (const Case& c : cases) {
      fx::RasterRef k = RandomRaster(37, 19, is16, 11);
      std::mt19937 gen(3);
      for (int32_t y = 0; y < 19; ++y)
        for (int32_t x = 0; x < 37; ++x)
          if (gen() % c.alphaZeroOneIn != 0) {
            for (int ch = 0; ch < 4; ++ch) {
              if (is16) k->RowAs<uint16_t>(y)[4 * x + ch] = 0;
              else k->RowAs<uint8_t>(y)[4 * x + ch] = 0;
            }
          }
      fx::RasterRef stencil = fx::effects::ApertureStencil(c.shape, is16);
      // An area inside the raster: stamps are clipped to it and never read
      // or write outside.
      const fx::Rect area{2, 3, 17, 33};
      fx::RasterRef want = LiteralStamping(*k, *stencil, area);
      fx::RasterRef got = fx::MakeRaster(37, 19, 4, is16 ? 2 : 1);
      got->Fill(0);
      ASSERT_TRUE(fx::effects::StampHighlights(*k, fx::effects::StencilRuns::Of(*stencil), *got, area));
      EXPECT_TRUE(Same(*got, *want)) << is16 << " facets " << c.shape.facets << " angle " << c.shape.angle;
    }
}

TEST(RackFocus, SizeZeroIsALinearLightBoxBlur) {
  for (bool is16 : {false, true}) {
    Instance e(fx::effects::kRackFocus);
    e.Set("size", 0).Set("blur", 60).Set("mattePosition", 50).Set("matteRange", 100);
    fx::RasterRef src = RandomRaster(29, 21, is16, 4);
    fx::RasterRef out = Render(e, *src);

    const fx::Rect all{0, 0, 21, 29};
    fx::RasterRef linear = fx::MakeRaster(29, 21, 4, 2);
    fx::ToLinear(*src, *linear, all);
    fx::SeparableBlur blur;
    blur.SetPasses(1);
    fx::RenderInfo info;
    info.imageHeight = 21;
    blur.SetRadii(static_cast<float>(info.FullHeightPixels(60)), static_cast<float>(info.ScaledHeightPixels(60)));
    blur.Blur(*linear, all);
    fx::RasterRef want = fx::MakeRaster(29, 21, 4, is16 ? 2 : 1);
    fx::FromLinear(*linear, *want, all);
    EXPECT_TRUE(Same(*out, *want)) << is16;

    e.Set("view", kAperture);
    fx::RasterRef aperture = Render(e, *src);
    for (int32_t y = 0; y < 21; ++y)
      for (int32_t x = 0; x < 29; ++x) ASSERT_EQ(At(*aperture, x, y), (Pixel{0, 0, 0, 0})) << is16;
  }
}

// One white point on black, fully selected by the matte of the source, no
// noise and no aperture blur: the aperture view is the stencil around it in
// the point's linear-blurred colour, and the output screens that over the
// blurred image, boosted where the stamp reaches.
TEST(RackFocus, APointOfLightTakesTheApertureShape) {
  for (bool is16 : {false, true}) {
    const int32_t L = FullScale(is16);
    std::vector<std::vector<Pixel>> rows(40, std::vector<Pixel>(50, Pixel{0, 0, 0, L}));
    rows[17][23] = {L, L, L, L};
    fx::RasterRef src = MakeRaster(rows, is16);
    auto configured = [&](Instance& e, double size, int view, double boost) {
      e.Set("size", size).Set("blur", 20).Set("facets", 6).Set("curvature", 30).Set("angle", 10);
      e.Set("density", 0).Set("apertureBlur", 0).Set("matteBlur", 0).Set("mattePosition", 100);
      e.Set("matteRange", 50).Set("view", view).Set("boost", boost);
    };
    Instance plain(fx::effects::kRackFocus), aperture(fx::effects::kRackFocus), output(fx::effects::kRackFocus);
    configured(plain, 0, kOutput, 0);  // the linear blur alone
    // D = 20 x 0.05 x (50 x 40 x 0.01) = 20.
    configured(aperture, 50, kAperture, 0);
    configured(output, 50, kOutput, 150);
    fx::RasterRef blurred = Render(plain, *src);
    fx::RasterRef stamps = Render(aperture, *src);
    fx::RasterRef out = Render(output, *src);
    const Pixel k = At(*blurred, 23, 17);
    ASSERT_LT(k[0], L);  // the blur dimmed the point

    fx::RasterRef stencil = fx::effects::ApertureStencil({6, 0.3f, 10, 20}, is16);
    ASSERT_EQ(stencil->Width(), fx::effects::ApertureExtent(20, 10));
    const int32_t half = stencil->Width() / 2;
    int32_t inside = 0;
    for (int32_t y = 0; y < 40; ++y)
      for (int32_t x = 0; x < 50; ++x) {
        const int32_t sx = x - 23 + half, sy = y - 17 + half;
        const bool stamped = sx >= 0 && sy >= 0 && sx < stencil->Width() && sy < stencil->Width() &&
                             Sample(*stencil, sx, sy) != 0;
        inside += stamped;
        const Pixel e = stamped ? Pixel{k[0], k[1], k[2], L} : Pixel{0, 0, 0, 0};
        ASSERT_EQ(At(*stamps, x, y), e) << is16 << " " << x << "," << y;
        const Pixel b = At(*blurred, x, y);
        Pixel want = b;
        for (int c = 0; c < 3; ++c) {
          want[c] = e[c] + (L - e[c]) * b[c] / L;
          if (stamped) want[c] = std::min(L, want[c] + static_cast<int32_t>(1.5 * e[c]));
        }
        ASSERT_EQ(At(*out, x, y), want) << is16 << " " << x << "," << y;
      }
    EXPECT_GT(inside, 200) << is16;
  }
}

}  // namespace
