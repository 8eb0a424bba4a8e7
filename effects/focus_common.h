// What the members of the focus family share: the blur-radius convention
// and the gang of a horizontal and a vertical blur.
#pragma once

#include "framework/effect.h"
#include "framework/parameter.h"
#include "imaging/quad_warp.h"
#include "imaging/rect.h"
#include "imaging/separable_blur.h"

namespace fx::effects {

// A blur value (thousandths of the rendered image height) in pixels:
// horizontally v x 0.001 x H x sx / sy, vertically v x 0.001 x H.
inline double HorizontalBlurPixels(const RenderInfo& info, double v) {
  return v * 0.001 * info.imageHeight * info.scaleX / info.scaleY;
}
inline double VerticalBlurPixels(const RenderInfo& info, double v) { return v * 0.001 * info.imageHeight; }

// Sets a blur as Fast Blur renders: the mode, the render information's pass
// count and the two blur values (thousandths of the height) in pixels.
inline void ConfigureBlur(SeparableBlur& blur, const RenderInfo& info, int32_t mode, double x, double y) {
  blur.SetMode(mode);
  blur.SetPasses(info.reserved2);
  blur.SetRadii(static_cast<float>(HorizontalBlurPixels(info, x)), static_cast<float>(VerticalBlurPixels(info, y)));
}

// The part of the render area the host takes from the destination: the
// output rectangle placed with the tile's whole-image origin (TileOrigin with
// the effect's margins); the whole area when the two do not meet. A band's
// margins are only read by the blurs, never shown.
inline Rect OutputPart(const RenderInfo& info, Origin origin) {
  const Rect& o = info.outputRect;
  const Rect part =
      Rect{o.top - origin.y, o.left - origin.x, o.bottom - origin.y, o.right - origin.x}.Intersect(info.area);
  return part.Empty() ? info.area : part;
}

// A horizontal and a vertical blur with a gang: while ganged the vertical
// value follows the horizontal one and cannot be edited.
struct GangedBlur {
  int blurX;
  int blurY;
  int gang;

  double X(const Effect& e) const { return e.RangeValue(blurX); }
  double Y(const Effect& e) const { return e.BooleanValue(gang) ? e.RangeValue(blurX) : e.RangeValue(blurY); }

  // For the parameter-changed routine.
  void Changed(Effect& e, int index) const {
    if (index != blurX && index != blurY && index != gang) return;
    const bool ganged = e.BooleanValue(gang);
    if (ganged) SetRange(e.Param(blurY), e.RangeValue(blurX));
    SetEnabled(e.Param(blurY), !ganged);
  }
};

}  // namespace fx::effects
