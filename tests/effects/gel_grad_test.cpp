// The grad stage of the gel render: confinement to the grad, ND darkening,
// the "Grad" view, and bands placed in the whole image.
#include "effects/grad_stage.h"

#include <gtest/gtest.h>

#include <vector>

#include "imaging/masks.h"
#include "tests/effects/effect_harness.h"

using namespace effecttest;

namespace {

inline constexpr const char* kViews[] = {"Output", "Grad", "Original"};
inline constexpr auto kParams = fx::Join(
    fx::Rows({fx::Image("input", "Input"), fx::List("view", "View", kViews)}), fx::GelGradGroup(true));
static_assert(fx::ValidTable(kParams));
inline constexpr fx::EffectType kType{"Ovra Grad Stage Test", "", kParams, 0};
constexpr int kGrad = 2;

// A constant raster.
fx::RasterRef Fill(int32_t w, int32_t h, Pixel p, bool is16Bit) {
  return MakeRaster(std::vector<std::vector<Pixel>>(h, std::vector<Pixel>(w, p)), is16Bit);
}

// The grad mask of a whole image of w x h at the stage's shape.
fx::RasterRef WholeMask(const fx::GradStage& g, int32_t w, int32_t h, bool is16Bit) {
  fx::RasterRef m = fx::MakeRaster(w, h, 1, is16Bit ? 2 : 1);
  m->Fill(0);
  fx::MakeGradMask(*m, m->Bounds(), {}, g.shape, w, h);
  return m;
}

int32_t MaskAt(const fx::Raster& m, int32_t x, int32_t y) {
  return m.Is16Bit() ? m.RowAs<uint16_t>(y)[x] : m.RowAs<uint8_t>(y)[x];
}

// The stage over the whole of `filtered`.
void RunStage(const fx::GradStage& g, const fx::Raster& source, fx::Raster& filtered, bool show) {
  fx::RenderInfo info;
  info.destination = &filtered;
  info.area = filtered.Bounds();
  info.outputRect = info.area;
  info.imageWidth = filtered.Width();
  info.imageHeight = filtered.Height();
  info.is16Bit = filtered.Is16Bit();
  g.Apply(source, info, show);
}

TEST(GradStage, ReadsTheGroupAndSwitchesIt) {
  fx::Effect e(kType);
  EXPECT_EQ(e.parameterCount, 12u);
  EXPECT_TRUE(e.Param(kGrad).GroupOpen());
  EXPECT_EQ(e.Param(kGrad).declaration->flags, fx::kPlainGroup);
  EXPECT_EQ(e.Param(kGrad + fx::GradRows::kEnd).declaration->flags, fx::kPlainGroup);
  EXPECT_EQ(e.Param(kGrad + fx::GradRows::kEnable).declaration->flags, fx::kNotify);
  EXPECT_EQ(e.Param(kGrad + fx::GradRows::kUpperLeft).declaration->flags, fx::kHidden);
  EXPECT_EQ(e.Param(kGrad + fx::GradRows::kUpperRight).declaration->flags, 0u);
  fx::GradStage g = fx::GradStage::Read(e, kGrad);
  EXPECT_FALSE(g.enabled);
  EXPECT_FALSE(g.Needed(false));
  EXPECT_TRUE(g.Needed(true));

  fx::SetBoolean(e.Param(kGrad + fx::GradRows::kEnable), true);
  fx::SetRange(e.Param(kGrad + fx::GradRows::kNd), 40);
  fx::SetListIndex(e.Param(kGrad + fx::GradRows::kDirection), 3);
  fx::SetRange(e.Param(kGrad + fx::GradRows::kSize), 50);
  fx::SetPoint(e.Param(kGrad + fx::GradRows::kLowerLeft), {-0.25, 0.5});
  g = fx::GradStage::Read(e, kGrad);
  EXPECT_TRUE(g.enabled);
  EXPECT_DOUBLE_EQ(g.nd, 0.4);
  EXPECT_EQ(g.shape.Direction(), fx::GradDirection::kRightToLeft);
  EXPECT_EQ(g.shape.size, 50);
  EXPECT_EQ(g.shape.corners[3].x, -0.25);

  // gradEnable switches nd, direction, size and the corners; other indexes
  // are ignored.
  fx::SetBoolean(e.Param(kGrad + fx::GradRows::kEnable), false);
  fx::GradStage::ParameterChanged(e, kGrad, kGrad + fx::GradRows::kNd);
  EXPECT_TRUE(e.Param(kGrad + fx::GradRows::kNd).Enabled());
  fx::GradStage::ParameterChanged(e, kGrad, kGrad + fx::GradRows::kEnable);
  for (int i = kGrad + fx::GradRows::kNd; i <= kGrad + fx::GradRows::kLowerLeft; ++i)
    EXPECT_FALSE(e.Param(i).Enabled()) << i;
  EXPECT_TRUE(e.Param(kGrad + fx::GradRows::kEnable).Enabled());
  fx::SetBoolean(e.Param(kGrad + fx::GradRows::kEnable), true);
  fx::GradStage::ParameterChanged(e, kGrad, kGrad + fx::GradRows::kEnable);
  EXPECT_TRUE(e.Param(kGrad + fx::GradRows::kLowerLeft).Enabled());
}

TEST(GradStage, ConfinesTheFilterAndDarkensThroughTheGrad) {
  for (bool is16Bit : {false, true}) {
    const int32_t L = is16Bit ? 32768 : 255;
    const int32_t S = L * 4 / 5, F = L / 5;
    fx::RasterRef source = Fill(3, 5, {S, S, S, 7}, is16Bit);
    // The grad covers the upper half: full along the top, none below the
    // middle.
    fx::GradStage g;
    g.enabled = true;
    g.shape.corners[2] = {0.5, 0};
    g.shape.corners[3] = {-0.5, 0};
    const fx::RasterRef mask = WholeMask(g, 3, 5, is16Bit);
    ASSERT_EQ(MaskAt(*mask, 0, 0), L);
    ASSERT_GT(MaskAt(*mask, 0, 1), 0);
    ASSERT_LT(MaskAt(*mask, 0, 1), L);
    ASSERT_EQ(MaskAt(*mask, 0, 4), 0);

    // The filter stays where the mask is full, the source returns where it is 0.
    fx::RasterRef out = Fill(3, 5, {F, F, F, 7}, is16Bit);
    RunStage(g, *source, *out, false);
    for (int32_t y = 0; y < 5; ++y) {
      const int32_t m = MaskAt(*mask, 1, y);
      const int32_t v = (F * m + S * (L - m)) / L;
      EXPECT_EQ(At(*out, 1, y), (Pixel{v, v, v, 7})) << is16Bit << " row " << y;
    }
    EXPECT_EQ(At(*out, 2, 0)[0], F);
    EXPECT_EQ(At(*out, 2, 4)[0], S);

    // ND 50 darkens where the mask is set: t = L - m trunc(0.5 L) / L.
    g.nd = 0.5;
    out = Fill(3, 5, {F, F, F, 7}, is16Bit);
    RunStage(g, *source, *out, false);
    for (int32_t y = 0; y < 5; ++y) {
      const int32_t m = MaskAt(*mask, 1, y);
      const int32_t v = (F * m + S * (L - m)) / L;
      const int32_t t = L - m * (L / 2) / L;
      EXPECT_EQ(At(*out, 1, y)[0], m == 0 ? v : v * t / L) << is16Bit << " row " << y;
    }
    EXPECT_EQ(At(*out, 0, 0)[0], F * (L - L / 2) / L);
    EXPECT_EQ(At(*out, 0, 4)[0], S);
  }
}

TEST(GradStage, TheGradViewShowsTheMaskWithTheSourceAlpha) {
  fx::RasterRef source = Fill(4, 6, {10, 20, 30, 99}, false);
  fx::GradStage g;  // not enabled: the view shows it anyway
  g.shape.direction = 2;
  fx::RasterRef out = Fill(4, 6, {1, 2, 3, 4}, false);
  RunStage(g, *source, *out, true);
  const fx::RasterRef mask = WholeMask(g, 4, 6, false);
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t x = 0; x < 4; ++x) {
      const int32_t m = MaskAt(*mask, x, y);
      EXPECT_EQ(At(*out, x, y), (Pixel{m, m, m, 99})) << x << "," << y;
    }
  EXPECT_EQ(At(*out, 0, 3)[0], 255);  // left to right
}

TEST(GradStage, DoesNothingWhenOffOrCancelled) {
  fx::RasterRef source = Fill(2, 3, {200, 200, 200, 255}, false);
  fx::RasterRef out = Fill(2, 3, {50, 50, 50, 255}, false);
  fx::GradStage g;
  g.nd = 1;
  RunStage(g, *source, *out, false);
  EXPECT_EQ(At(*out, 1, 2), (Pixel{50, 50, 50, 255}));

  struct Cancelled : fx::RenderInfo {
    bool IsCancelled() override { return true; }
  } info;
  g.enabled = true;
  info.destination = out.get();
  info.area = out->Bounds();
  info.outputRect = info.area;
  info.imageWidth = 2;
  info.imageHeight = 3;
  g.Apply(*source, info, true);
  EXPECT_EQ(At(*out, 1, 2), (Pixel{50, 50, 50, 255}));

  // A degenerate quadrilateral leaves the mask clear: the source comes back.
  g.shape.corners = {fx::PointD{0, 0}, fx::PointD{0, 0}, fx::PointD{0, 0}, fx::PointD{0, 0}};
  g.nd = 0;
  RunStage(g, *source, *out, false);
  EXPECT_EQ(At(*out, 0, 0), (Pixel{200, 200, 200, 255}));
}

TEST(GradStage, ABandIsPlacedInTheWholeImage) {
  // A diagonal grad over a 6 x 8 image, rendered whole and as two bands of
  // the render loop (each destination holding just its band).
  fx::GradStage g;
  g.enabled = true;
  g.nd = 0.3;
  g.shape.size = 60;
  g.shape.corners[1] = {0.3, -0.2};
  for (bool is16Bit : {false, true}) {
    const int32_t L = is16Bit ? 32768 : 255;
    fx::RasterRef source = Fill(6, 8, {L, L / 2, L / 3, L}, is16Bit);
    fx::RasterRef whole = Fill(6, 8, {L / 7, L / 9, L, L}, is16Bit);
    RunStage(g, *source, *whole, false);
    for (int32_t top : {0, 3}) {
      const int32_t rows = top == 0 ? 3 : 5;
      fx::RasterRef bandSource = Fill(6, rows, {L, L / 2, L / 3, L}, is16Bit);
      fx::RasterRef band = Fill(6, rows, {L / 7, L / 9, L, L}, is16Bit);
      fx::RenderInfo info;
      info.destination = band.get();
      info.area = band->Bounds();
      info.outputRect = {top, 0, top + rows, 6};
      info.imageWidth = 6;
      info.imageHeight = 8;
      g.Apply(*bandSource, info, false);
      for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < 6; ++x)
          EXPECT_EQ(At(*band, x, y), At(*whole, x, top + y)) << x << "," << top + y;
    }
  }
}

}  // namespace
