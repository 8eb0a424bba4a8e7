// Effects that read outside their tile in the dialog's preview: a preview
// samples only its own tile (no source access), so the renderer gives them
// the whole zoomed image, and Lens Distortion asks for it too; a zoomed-in
// region equals that region of the whole preview, and at 1:1 that region of
// the final render.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "effects/focus_blur.h"
#include "plugin/render_loop.h"
#include "tests/ui/ui_fixture.h"

using uitest::Session;

namespace {

// Mirrors its tile left to right: each pixel comes from the far end of its
// row, outside the visible part of a zoomed-in preview. It asks for no
// margins; the flag alone tells the renderer.
class Mirror final : public fx::Effect {
 public:
  using Effect::Effect;
  bool IsActive() const { return true; }
  void Render(fx::RenderInfo& info) {
    const fx::Raster& s = *Source();
    fx::Raster& d = *info.destination;
    const fx::Rect& a = info.area;
    for (int32_t y = a.top; y < a.bottom; ++y)
      for (int32_t x = a.left; x < a.right; ++x)
        for (int c = 0; c < 4; ++c) d.RowAs<uint8_t>(y)[4 * x + c] = s.RowAs<uint8_t>(y)[4 * (a.left + a.right - 1 - x) + c];
  }
};
inline constexpr fx::ParamSpec kMirrorParams[] = {fx::Image("background", "Background")};
inline constexpr fx::EffectType kMirrorType{"Ovra Mirror", "", kMirrorParams, fx::kReadsOutsideTile};
inline constexpr const fx::EffectRoutines& kMirror = fx::RoutinesOf<Mirror, kMirrorType>;

// The preview of `region` at `zoom`, four samples a pixel.
std::vector<uint8_t> Preview(Session& s, const fx::Rect& region, float zoom) {
  std::vector<uint8_t> out(static_cast<std::size_t>(region.Width()) * region.Height() * 4);
  EXPECT_TRUE(s.preview->Render(region, zoom, out.data(), region.Width() * 4, false));
  return out;
}

TEST(OutsideTilePreview, AZoomedRegionIsThatRegionOfTheWholePreview) {
  struct Case {
    const fx::EffectRoutines* effect;
    float zoom;
    fx::Rect region;
  };
  const Case cases[] = {
      {&kMirror, 1.0f, {40, 60, 130, 200}},
      {&kMirror, 0.5f, {10, 5, 70, 50}},
      {&fx::effects::kLensDistortion, 0.75f, {20, 30, 110, 150}},
  };
  for (const Case& c : cases) {
    Session s(*c.effect, uitest::Gradient(240, 170));
    if (c.effect == &fx::effects::kLensDistortion) fx::SetRange(s.Param("amount"), -6);
    const fx::Rect whole{0, 0, static_cast<int32_t>(170 * c.zoom), static_cast<int32_t>(240 * c.zoom)};
    const std::vector<uint8_t> all = Preview(s, whole, c.zoom);
    const std::vector<uint8_t> part = Preview(s, c.region, c.zoom);
    for (int32_t y = c.region.top; y < c.region.bottom; ++y)
      for (int32_t x = c.region.left; x < c.region.right; ++x)
        for (int k = 0; k < 4; ++k) {
          const std::size_t at = (static_cast<std::size_t>(y - c.region.top) * c.region.Width() + (x - c.region.left)) * 4 + k;
          const std::size_t from = (static_cast<std::size_t>(y) * whole.Width() + x) * 4 + k;
          ASSERT_EQ(part[at], all[from]) << c.zoom << " at " << x << "," << y;
        }
  }
}

TEST(LensDistortionPreview, OneToOneRegionEqualsTheFinalRender) {
  for (const char* amount : {"-5", "30"}) {
    Session s(fx::effects::kLensDistortion, uitest::Gradient(240, 170));
    fx::SetRange(s.Param("amount"), std::atof(amount));
    fx::SetRange(s.Param("squeeze"), 1.5);
    fx::SetPoint(s.Param("center"), {0.1, -0.05});
    const fx::Rect region{40, 60, 130, 200};
    std::vector<uint8_t> out(static_cast<std::size_t>(region.Width()) * region.Height() * 4);
    ASSERT_TRUE(s.preview->Render(region, 1.0f, out.data(), region.Width() * 4, false));

    s.host.Options().tileRows = 32;  // bands that read each other's rows
    s.host.PrepareRecord();
    ps::RenderAllTiles(*s.call);
    ASSERT_EQ(s.result, 0);
    const standin::Document& final = s.host.Doc();
    for (int32_t y = region.top; y < region.bottom; ++y)
      for (int32_t x = region.left; x < region.right; ++x)
        for (int c = 0; c < 3; ++c) {
          const uint8_t p = out[(static_cast<std::size_t>(y - region.top) * region.Width() + (x - region.left)) * 4 + c];
          ASSERT_EQ(p, final.At(x, y, c)) << amount << " at " << x << "," << y << " channel " << c;
        }
  }
}

}  // namespace
