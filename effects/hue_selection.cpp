#include "effects/hue_selection.h"

#include <algorithm>

#include "imaging/colour.h"
#include "imaging/pixel.h"
#include "imaging/tone_curve.h"

namespace fx {
namespace {

// Blur-only settings: the matte's blur is the one step after the lookup.
MatteSettings BlurOnly(double blur) {
  MatteSettings s;
  s.blurX = s.blurY = blur;
  return s;
}

}  // namespace

std::optional<double> HueSelection::CentreOf(const Rgb& colour) {
  const Hsv hsv =
      RgbToHsv(static_cast<float>(colour.r), static_cast<float>(colour.g), static_cast<float>(colour.b));
  if (hsv.h == kHueUndefined) return std::nullopt;
  return hsv.h * 0.0027777778;
}

template <>
HueSelection::Cache<uint8_t>& HueSelection::CacheOf<uint8_t>() {
  return cache8_;
}
template <>
HueSelection::Cache<uint16_t>& HueSelection::CacheOf<uint16_t>() {
  return cache16_;
}

template <class S>
std::span<const S> HueSelection::Table(double centre, double width) {
  Cache<S>& c = CacheOf<S>();
  if (!c.valid || c.centre != centre || c.width != width) {
    c.table = CurveTable<S>(TonalBand(centre, width));
    for (double turn : {-1.0, 1.0}) {
      const std::vector<S> other = CurveTable<S>(TonalBand(centre + turn, width));
      for (std::size_t i = 0; i < c.table.size(); ++i) c.table[i] = std::max(c.table[i], other[i]);
    }
    c.centre = centre;
    c.width = width;
    c.valid = true;
  }
  return c.table;
}
template std::span<const uint8_t> HueSelection::Table<uint8_t>(double, double);
template std::span<const uint16_t> HueSelection::Table<uint16_t>(double, double);

RasterRef HueSelection::Build(const Raster& source, const Rect& area, const RenderInfo& info,
                              const Rgb& colour, double width, double blur) {
  RasterRef matte = MakeRaster(source.Width(), source.Height(), 1, source.BytesPerSample());
  matte->Fill(0);
  const Rect rect = area.Intersect(source.Bounds());
  const std::optional<double> centre = CentreOf(colour);
  if (rect.Empty() || !centre) return matte;
  WithDepth(source.Is16Bit(), [&]<class S>() {
    const std::span<const S> table = Table<S>(*centre, width);
    constexpr int32_t L = Depth<S>::L;
    for (int32_t y = rect.top; y < rect.bottom; ++y) {
      const S* p = source.RowAs<S>(y) + 4 * rect.left;
      S* m = matte->RowAs<S>(y) + rect.left;
      for (int32_t x = rect.left; x < rect.right; ++x, p += 4, ++m) {
        // A grey (all three equal) has no hue.
        if (p[0] == p[1] && p[1] == p[2]) continue;
        *m = table[std::clamp(TonalSelector::Value<S>(ExtractOn::kHue, p), 0, L)];
      }
    }
  });
  BlurMatte(*matte, rect, info, BlurOnly(blur));
  return matte;
}

int32_t HueSelection::ReachX(const RenderInfo& info, double blur) {
  return SelectionMatte::ReachX(info, BlurOnly(blur));
}
int32_t HueSelection::ReachY(const RenderInfo& info, double blur) {
  return SelectionMatte::ReachY(info, BlurOnly(blur));
}

}  // namespace fx
