// Lens Distortion in the dialog's preview: a preview samples only its own
// tile (no source access), so it asks for the whole zoomed image; at 1:1 a
// region of it equals that region of the final render.
#include <gtest/gtest.h>

#include <vector>

#include "effects/focus_blur.h"
#include "plugin/render_loop.h"
#include "tests/ui/ui_fixture.h"

using uitest::Session;

namespace {

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
