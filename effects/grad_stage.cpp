#include "effects/grad_stage.h"

#include "imaging/masks.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"

namespace fx {
namespace {

// (m, m, m, source alpha) over rect.
template <class S>
void ShowGrey(const Raster& mask, const Raster& source, Raster& destination, const Rect& rect) {
  ParallelRows(rect.top, rect.bottom, 4 * int64_t{rect.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
    for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
      const S* m = mask.RowAs<S>(y) + rect.left;
      const S* s = source.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(rect.left);
      S* d = destination.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(rect.left);
      for (int32_t x = rect.left; x < rect.right; ++x, ++m, s += 4, d += 4) {
        d[0] = d[1] = d[2] = *m;
        d[3] = s[3];
      }
    }
  });
}

}  // namespace

void ShowMaskAsGrey(const Raster& mask, const Raster& source, Raster& destination, const Rect& rect) {
  const Rect r = rect.Intersect(destination.Bounds()).Intersect(source.Bounds()).Intersect(mask.Bounds());
  if (r.Empty()) return;
  WithDepth(destination.Is16Bit(), [&]<class S>() { ShowGrey<S>(mask, source, destination, r); });
}

GradStage GradStage::Read(const Effect& e, int header) {
  GradStage g;
  g.enabled = e.BooleanValue(header + GradRows::kEnable);
  g.nd = e.Percent(header + GradRows::kNd);
  g.shape = ReadGradShape(e, header + GradRows::kDirection);
  return g;
}

void GradStage::ParameterChanged(Effect& e, int header, int index) {
  const int enable = header + GradRows::kEnable;
  if (index == enable) EnableRestOfGroup(e, enable, e.BooleanValue(enable));
}

void GradStage::Apply(const Raster& source, RenderInfo& info, bool showGrad) const {
  if (!Needed(showGrad) || info.IsCancelled()) return;
  Raster& destination = *info.destination;
  const Rect area = info.area.Intersect(destination.Bounds()).Intersect(source.Bounds());
  if (area.Empty()) return;
  RasterRef mask = MakeRaster(destination.Width(), destination.Height(), 1, destination.BytesPerSample());
  // A degenerate quadrilateral draws nothing: the mask stays clear and the
  // filter absent.
  mask->Fill(0);
  if (ramp.empty())
    MakeGradMask(*mask, area, TileOrigin(info), shape, info.imageWidth, info.imageHeight);
  else
    MakeGradient(*mask, area, TileOrigin(info), shape.Corners(info.imageWidth, info.imageHeight), shape.size / 100,
                 rampDirection, ramp);
  if (showGrad) {
    ShowMaskAsGrey(*mask, source, destination, area);
    return;
  }
  BlendThroughMask(source, destination, *mask, destination, area, 1.0f);
  if (nd > 0) DarkenThroughMask(destination, *mask, area, static_cast<float>(nd));
}

}  // namespace fx
