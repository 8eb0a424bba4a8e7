// Lens Distortion: barrel and pincushion distortion with anamorphic
// squeeze, a geometric remap of the image with bilinear sampling. A band's
// source rows may lie anywhere in the image: the final render reads the
// rows its tile lacks through source access.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/focus_blur.h"
#include "effects/param_groups.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"

namespace fx::effects {
namespace {

inline constexpr const char* kLensViews[] = {"Output", "Original"};

inline constexpr ParamSpec kLensDistortionParams[] = {
    Image("input", "Input"),
    List("view", "View", kLensViews),
    Range("amount", "Distortion", -10, 100, 0),
    Range("squeeze", "Anamorphic Squeeze", 0.1, 10, 1),
    Range("asymetricX", "Curvature X", -5, 5, 0),
    Range("asymetricY", "Curvature Y", -5, 5, 0),
    Point("center", "Center", {0, 0}),
};
static_assert(ValidTable(kLensDistortionParams));

// The source position of an output pixel, both in whole-image pixels.
struct LensGeometry {
  double k = 0;   // distortion
  double kv = 0;  // vertical distortion, k over the squeeze
  double curvatureX = 1, curvatureY = 1;
  double cx = 0, cy = 0;
  double radius = 1;  // half the image diagonal

  void Source(double x, double y, double& xs, double& ys) const {
    const double e = (x - cx) / radius, f = (y - cy) / radius;
    xs = cx + radius * e * (1 + k * (e * e + curvatureX * f * f));
    ys = cy + radius * f * (1 + kv * (e * e + curvatureY * f * f));
  }
};

// Floor of a source coordinate as a pixel index; far-off and non-finite
// positions land well outside any image.
int64_t PixelIndex(double v) {
  constexpr double kFar = 1 << 30;
  if (!(v > -kFar)) return -(int64_t{1} << 30);
  if (!(v < kFar)) return int64_t{1} << 30;
  return static_cast<int64_t>(std::floor(v));
}

// The source rows one band samples, with their columns within `limits`
// (whole-image coordinates, inside the tile's columns): the tile's own rows
// where it holds them, the rest copied from source access.
template <class S>
class SourceRows {
 public:
  // tileRect: where the tile's valid pixels lie in the image.
  SourceRows(const Raster& tile, Origin origin, const Rect& tileRect, const Rect& limits, int32_t top,
             int32_t bottom)
      : limits_(limits), top_(top), rows_(static_cast<std::size_t>(bottom - top + 1), nullptr) {
    const Rect& t = tileRect;
    tileRows_ = {t.top, t.bottom};
    for (int32_t r = top; r <= bottom; ++r)
      if (r >= t.top && r < t.bottom)
        rows_[r - top] = tile.RowAs<S>(r - origin.y) + 4 * static_cast<std::ptrdiff_t>(limits.left - origin.x);
    tile_ = &tile;
    origin_ = origin;
  }

  // Fills the rows the tile lacks through source access (filter is the
  // rectangle source access speaks in). Each host band is read once: all of
  // its rows the span needs are copied as soon as it arrives, since the next
  // read reuses the same buffer. Rows that cannot be had repeat the tile's
  // nearest row.
  void Fetch(RenderInfo& info, const Rect& filter) {
    for (int32_t r = top_; r < top_ + static_cast<int32_t>(rows_.size()); ++r) {
      if (rows_[r - top_] != nullptr) continue;
      Rect band;
      const Raster* host = info.SourceAccess(limits_.left - filter.left, r - filter.top, band);
      const bool usable = host != nullptr && host->Is16Bit() == (sizeof(S) == 2) && host->Channels() == 4 &&
                          band.Contains(limits_.left - filter.left, r - filter.top) &&
                          band.right >= limits_.right - filter.left &&
                          host->Height() >= band.Height() && host->Width() >= band.Width();
      if (!usable) {
        rows_[r - top_] = NearestTileRow(r);
        continue;
      }
      if (!fetched_) fetched_ = MakeRaster(limits_.Width(), static_cast<int32_t>(rows_.size()), 4, sizeof(S));
      const int32_t last = std::min(top_ + static_cast<int32_t>(rows_.size()), band.bottom + filter.top);
      for (int32_t q = r; q < last; ++q) {
        if (rows_[q - top_] != nullptr) continue;
        const S* from = host->RowAs<S>(q - filter.top - band.top) +
                        4 * static_cast<std::ptrdiff_t>(limits_.left - filter.left - band.left);
        S* to = fetched_->RowAs<S>(q - top_);
        std::copy(from, from + 4 * static_cast<std::ptrdiff_t>(limits_.Width()), to);
        rows_[q - top_] = to;
      }
    }
  }

  // The pixel at whole-image (x, y), clamped into the limits.
  const S* At(int64_t x, int64_t y) const {
    const int64_t cy = std::clamp<int64_t>(y, top_, top_ + static_cast<int64_t>(rows_.size()) - 1);
    const int64_t cx = std::clamp<int64_t>(x, limits_.left, limits_.right - 1);
    return rows_[static_cast<std::size_t>(cy - top_)] + 4 * (cx - limits_.left);
  }

 private:
  const S* NearestTileRow(int32_t r) const {
    const int32_t q = std::clamp(r, tileRows_.first, tileRows_.second - 1);
    return tile_->RowAs<S>(q - origin_.y) + 4 * static_cast<std::ptrdiff_t>(limits_.left - origin_.x);
  }

  Rect limits_;
  int32_t top_;
  std::vector<const S*> rows_;
  std::pair<int32_t, int32_t> tileRows_;
  const Raster* tile_ = nullptr;
  Origin origin_;
  RasterRef fetched_;
};

template <class S>
void Remap(const Raster& source, Raster& destination, RenderInfo& info, const LensGeometry& lens) {
  constexpr int32_t L = Depth<S>::L;
  const Rect& area = info.area;
  const Origin origin = TileOrigin(info);
  const Rect image{0, 0, info.imageHeight, info.imageWidth};
  // Only the area holds this band's pixels: a band's raster may be larger.
  const Rect tile{origin.y + area.top, origin.x + area.left, origin.y + area.bottom, origin.x + area.right};
  // Previews never use source access: they sample their own tile, which
  // their expand rectangle makes the whole zoomed image. The final render
  // reads the filter rectangle, edges clamped, the image beyond it empty.
  const Rect filter = info.filterRect.Empty() ? image : info.filterRect;
  Rect limits = (info.isPreview != 0 ? tile : filter).Intersect(image);
  // Bands span the filter's width; a narrower tile keeps to its own columns.
  limits.left = std::max(limits.left, tile.left);
  limits.right = std::min(limits.right, tile.right);
  if (limits.Empty()) return;

  // The rows the band needs, one beyond the lowest for the bilinear pair.
  // Per row first, then over the rows: the extremes are the same in any order.
  std::vector<std::array<double, 2>> reach(static_cast<std::size_t>(area.Height()));
  ParallelRows(area.top, area.bottom, 8 * int64_t{area.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
    for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
      double low = std::numeric_limits<double>::infinity(), high = -low;
      for (int32_t x = area.left; x < area.right; ++x) {
        double xs, ys;
        lens.Source(static_cast<double>(x + origin.x), static_cast<double>(y + origin.y), xs, ys);
        low = std::min(low, ys);
        high = std::max(high, ys);
      }
      reach[static_cast<std::size_t>(y - area.top)] = {low, high};
    }
  });
  double lowest = std::numeric_limits<double>::infinity(), highest = -lowest;
  for (const auto& [low, high] : reach) {
    lowest = std::min(lowest, low);
    highest = std::max(highest, high);
  }
  const int32_t top = static_cast<int32_t>(std::clamp<int64_t>(PixelIndex(lowest), limits.top, limits.bottom - 1));
  const int32_t bottom =
      static_cast<int32_t>(std::clamp<int64_t>(PixelIndex(highest) + 1, limits.top, limits.bottom - 1));
  SourceRows<S> rows(source, origin, tile, limits, top, bottom);
  if (info.isPreview == 0) rows.Fetch(info, filter);

  const S kEmpty[4] = {0, 0, 0, 0};
  ParallelRows(area.top, area.bottom, 16 * int64_t{area.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
    for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
      S* out = destination.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(area.left);
      for (int32_t x = area.left; x < area.right; ++x, out += 4) {
        double xs, ys;
        lens.Source(static_cast<double>(x + origin.x), static_cast<double>(y + origin.y), xs, ys);
        const int64_t x0 = PixelIndex(xs), y0 = PixelIndex(ys);
        const double fx = xs - static_cast<double>(x0), fy = ys - static_cast<double>(y0);
        // Neighbours outside the image are transparent black.
        auto pixel = [&](int64_t px, int64_t py) {
          return px < 0 || py < 0 || px >= image.right || py >= image.bottom ? kEmpty : rows.At(px, py);
        };
        const S* p00 = pixel(x0, y0);
        const S* p10 = pixel(x0 + 1, y0);
        const S* p01 = pixel(x0, y0 + 1);
        const S* p11 = pixel(x0 + 1, y0 + 1);
        for (int c = 0; c < 4; ++c) {
          const double v =
              (1 - fy) * ((1 - fx) * p00[c] + fx * p10[c]) + fy * ((1 - fx) * p01[c] + fx * p11[c]);
          out[c] = static_cast<S>(std::clamp(v, 0.0, static_cast<double>(L)));
        }
      }
    }
  });
}

class LensDistortion final : public Effect {
 public:
  static constexpr int kView = RowOf(kLensDistortionParams, "view");
  static constexpr int kAmount = RowOf(kLensDistortionParams, "amount");
  static constexpr int kSqueeze = RowOf(kLensDistortionParams, "squeeze");
  static constexpr int kCurvatureX = RowOf(kLensDistortionParams, "asymetricX");
  static constexpr int kCurvatureY = RowOf(kLensDistortionParams, "asymetricY");
  static constexpr int kCenter = RowOf(kLensDistortionParams, "center");
  using Effect::Effect;

  // Distortion 0 is the identity whatever the squeeze and curvatures.
  bool IsActive() const { return ListIndex(kView) == 0 && RangeValue(kAmount) != 0; }

  // A preview samples only its own tile: it asks for the whole zoomed image.
  // The final render needs no margins: its source rows come through source
  // access.
  void ExpandRect(RenderInfo& info, Rect& rect) {
    if (info.isPreview != 0 && IsActive()) rect = {0, 0, info.imageHeight, info.imageWidth};
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    if (!IsActive() || info.imageWidth <= 0 || info.imageHeight <= 0) {
      CopyArea(source, d, info.area);
      return;
    }
    const LensGeometry lens = Geometry(info.imageWidth, info.imageHeight);
    WithDepth(d.Is16Bit(), [&]<class S>() { Remap<S>(source, d, info, lens); });
  }

 private:
  LensGeometry Geometry(int32_t w, int32_t h) const {
    LensGeometry g;
    g.k = RangeValue(kAmount) * 0.1;
    g.kv = g.k / RangeValue(kSqueeze);
    g.curvatureX = 1 + RangeValue(kCurvatureX);
    g.curvatureY = 1 + RangeValue(kCurvatureY);
    const PointD c = PointValue(kCenter);
    g.cx = (c.x + 0.5) * w;
    g.cy = (c.y + 0.5) * h;
    g.radius = std::sqrt((w / 2.0) * (w / 2.0) + (h / 2.0) * (h / 2.0));
    return g;
  }
};
// 0x40: reads source pixels outside its tile.
inline constexpr EffectType kLensDistortionType =
    catalogue::Type("LensDistortion", kLensDistortionParams, 0x108 | kReadsOutsideTile);

}  // namespace

const EffectRoutines& kLensDistortion = RoutinesOf<LensDistortion, kLensDistortionType>;

}  // namespace fx::effects
