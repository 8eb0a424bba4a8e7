// What the members of the diffusion family share: the reading of their glow
// rows, the gang of the glow blur, and the margins a glow over a selection
// matte needs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "effects/colour_ops.h"
#include "effects/glow.h"
#include "effects/selection_matte.h"
#include "framework/effect.h"
#include "framework/parameter.h"

namespace fx::effects {

inline constexpr const char* kOutputOriginal[] = {"Output", "Original"};
inline constexpr const char* kOutputSelectionOriginal[] = {"Output", "Selection", "Original"};

// A length the user sets (thousandths of the image height) in pixels:
// horizontally H x sx / sy, vertically H, at the current scale.
inline double HorizontalPixels(const RenderInfo& info, double v) {
  return info.FullHeightPixels(v);
}
inline double VerticalPixels(const RenderInfo& info, double v) {
  return info.ScaledHeightPixels(v);
}

// While ganged the vertical blur takes the horizontal one's value and
// cannot be edited; for the parameter-changed routine.
inline void GangBlur(Effect& e, int index, int blurH, int blurV, int gang) {
  if (index != blurH && index != blurV && index != gang) return;
  const bool ganged = e.BooleanValue(gang);
  if (ganged) SetRange(e.Param(blurV), e.RangeValue(blurH));
  SetEnabled(e.Param(blurV), !ganged);
}

// Where a member's glow rows are: the mode list (-1 when the member always
// spreads), blend, brightness, the two blurs, their gang and the colour.
struct GlowParams {
  int mode;
  int blend;
  int brightness;
  int blurH;
  int blurV;
  int gang;
  int colour;

  // Brightness as a fraction.
  double Brightness(const Effect& e) const { return e.Percent(brightness); }
  // The vertical blur follows the horizontal one while ganged.
  double BlurV(const Effect& e) const {
    return e.BooleanValue(gang) ? e.RangeValue(blurH) : e.RangeValue(blurV);
  }

  GlowSettings Read(const Effect& e, const RenderInfo& info) const {
    GlowSettings s;
    s.blurX = HorizontalPixels(info, e.RangeValue(blurH));
    s.blurY = VerticalPixels(info, BlurV(e));
    s.brightness = Brightness(e);
    s.mode = mode < 0 ? GlowMode::kSpread : e.ListIndex(mode) == 0 ? GlowMode::kSubtle : GlowMode::kSpread;
    s.blend = e.ListIndex(blend) == 1 ? GlowBlend::kAdd : GlowBlend::kScreen;
    s.colour = e.ColourValue(colour);
    return s;
  }

  void GangChanged(Effect& e, int index) const { GangBlur(e, index, blurH, blurV, gang); }
};

// Margins on each side, in pixels at the render scale.
struct Margins {
  int32_t x = 0;
  int32_t y = 0;
};

// A glow over a selection matte reaches as far as the matte's blur and the
// glow's blur together: the light of a pixel comes from matte values up to
// the glow's reach away, each of which comes from source pixels up to the
// matte's reach away.
inline Margins MatteGlowMargins(const RenderInfo& info, const MatteSettings& matte,
                                const GlowSettings& glow) {
  const int64_t x = int64_t{SelectionMatte::ReachX(info, matte)} + GlowReachX(info, glow);
  const int64_t y = int64_t{SelectionMatte::ReachY(info, matte)} + GlowReachY(info, glow);
  constexpr int64_t kMax = int64_t{1} << 28;
  return {static_cast<int32_t>(std::min(x, kMax)), static_cast<int32_t>(std::min(y, kMax))};
}

// The "Original" and "Selection" views of a glow member, by their list
// indexes, and the selection matte its output view needs.
struct MatteViews {
  int32_t original;
  int32_t selection;

  // Renders the "Original" view (the source) or the "Selection" view (the
  // matte as grey) and returns true. For any other view returns false, with
  // `matte` built when `glowing` (the glow's brightness is above 0).
  bool Render(int32_t view, bool glowing, SelectionMatte& builder, const MatteSettings& settings,
              const Raster& source, const RenderInfo& info, RasterRef& matte) const {
    if (view == original) {
      CopyArea(source, *info.destination, info.area);
      return true;
    }
    if (view == selection || glowing) matte = builder.Build(source, info.area, info, settings);
    if (view == selection) {
      ShowMatte(*matte, *info.destination, info.area);
      return true;
    }
    return false;
  }
};

inline void Grow(Rect& rect, const Margins& m) {
  rect = rect.Grown(m.y, m.x);
}

}  // namespace fx::effects
