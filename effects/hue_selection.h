// The hue matte of Enhancing and Polarizer: the pixels whose hue lies near
// the hue of a chosen colour, then the selection matte's usual blur.
//
// The band is read on the hue circle: the table is the largest, entry by
// entry, of the tonal bands centred at c - 1, c and c + 1, so a centre near
// red also selects the hues just below 360 degrees. Where the band stays
// inside 0..1 it is the selection matte's hue band exactly. Greys have no
// hue and are never selected, and a grey colour selects nothing.
//
//   HueSelection hue_;                              // a member of the effect
//   RasterRef matte = hue_.Build(*Source(), info.area, info, colour, range * 0.02, blur);
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "effects/selection_matte.h"
#include "framework/effect.h"
#include "framework/parameter.h"
#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx {

class HueSelection {
 public:
  // The band centre of a colour (unit RGB): its HSV hue / 360, or nothing
  // for a colour without hue.
  static std::optional<double> CentreOf(const Rgb& colour);

  // The band table of (centre, width) on the hue circle at depth S,
  // kTableSize entries; rebuilt only when the band changes.
  template <class S>
  std::span<const S> Table(double centre, double width);

  // The matte of rect of the four-channel source: one channel of the
  // source's size and depth, 0 outside rect and everywhere for a colour
  // without hue. blur is in thousandths of the image height, blurred as the
  // selection matte blurs (box, info's scale and pass count).
  RasterRef Build(const Raster& source, const Rect& rect, const RenderInfo& info, const Rgb& colour,
                  double width, double blur);

  // How far the matte of a pixel depends on its neighbours (the blur's
  // whole reach), in pixels at info's scale.
  static int32_t ReachX(const RenderInfo& info, double blur);
  static int32_t ReachY(const RenderInfo& info, double blur);

 private:
  template <class S>
  struct Cache {
    bool valid = false;
    double centre = 0;
    double width = 0;
    std::vector<S> table;
  };
  template <class S>
  Cache<S>& CacheOf();

  Cache<uint8_t> cache8_;
  Cache<uint16_t> cache16_;
};

}  // namespace fx
