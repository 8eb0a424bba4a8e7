#include "imaging/quad_warp.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "imaging/parallel.h"
#include "imaging/pixel.h"

namespace fx {
namespace {

// Twice the signed area of the triangle abc; 0 exactly when the three lie on
// one line. In double so that corners given in whole or half pixels are
// judged exactly.
double Cross(const PixelPoint& a, const PixelPoint& b, const PixelPoint& c) {
  return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

// 3 x 3 determinant of the columns a, b, c.
double Det3(const double* a, const double* b, const double* c) {
  return a[0] * (b[1] * c[2] - b[2] * c[1]) - b[0] * (a[1] * c[2] - a[2] * c[1]) +
         c[0] * (a[1] * b[2] - a[2] * b[1]);
}

void CheckPair(const Raster& source, const Raster& destination) {
  if (source.Channels() != destination.Channels() ||
      source.BytesPerSample() != destination.BytesPerSample() ||
      (source.Channels() != 1 && source.Channels() != 4))
    throw std::invalid_argument("QuadWarp: source and destination must match with 1 or 4 channels");
}

// Where one source coordinate falls: the two neighbouring samples and the
// weight of the second.
struct Tap {
  int32_t i0 = 0, i1 = 0;
  float f = 0;
};

// Position t in 0..1 (clamped; NaN, which a pixel on the quadrilateral's
// horizon line gives, counts as 0) over span, with the indexes clamped into
// 0..last. Clamping the position first picks the same samples as clamping
// the indexes and keeps every conversion in range.
inline Tap TapAt(float t, float span, int32_t last) {
  const float clamped = t > 0.0f ? (t < 1.0f ? t : 1.0f) : 0.0f;
  const float p = std::clamp(clamped * span, 0.0f, static_cast<float>(last));
  Tap tap;
  tap.i0 = static_cast<int32_t>(p);
  tap.i1 = std::min(tap.i0 + 1, last);
  tap.f = p - static_cast<float>(tap.i0);
  return tap;
}

template <class S, int C>
inline void Sample(const S* r0, const S* r1, const Tap& x, float fy, S* d) {
  for (int c = 0; c < C; ++c) {
    const float s00 = r0[C * x.i0 + c], s10 = r0[C * x.i1 + c];
    const float s01 = r1[C * x.i0 + c], s11 = r1[C * x.i1 + c];
    // Interpolated differences: a constant neighbourhood stays exactly
    // constant, and a zero weight returns the sample itself.
    const float top = s00 + (s10 - s00) * x.f;
    const float bottom = s01 + (s11 - s01) * x.f;
    d[c] = Depth<S>::Clamp(static_cast<int64_t>(top + (bottom - top) * fy));
  }
}

// One source row sampled at every column's tap: the horizontal step of Sample.
template <class S, int C>
void Interpolate(const S* r, const std::vector<Tap>& taps, float* out) {
  for (const Tap& x : taps)
    for (int c = 0; c < C; ++c, ++out) {
      const float s0 = r[C * x.i0 + c], s1 = r[C * x.i1 + c];
      *out = s0 + (s1 - s0) * x.f;
    }
}

template <class S, int C>
void WarpT(const Raster& source, Raster& destination, const Rect& rect, Origin origin, const QuadMapping& map,
           double sourceScale) {
  const int32_t sw = source.Width(), sh = source.Height();
  const float spanX = static_cast<float>(sw / sourceScale - 1.0);
  const float spanY = static_cast<float>(sh / sourceScale - 1.0);
  const int32_t width = rect.Width();
  // Column parts of the four edge functions, and the whole horizontal tap
  // when u depends on the column alone (as for a warp onto an upright
  // rectangle). Every pixel is computed with the same operations either way.
  std::vector<float> columns(static_cast<std::size_t>(width) * 4);
  for (int32_t j = 0; j < width; ++j) {
    const double x = static_cast<double>(rect.left + j) + origin.x;
    for (int k = 0; k < 4; ++k) columns[4 * j + k] = map.ColumnTerm(k, x);
  }
  const bool uByColumn = map.UByColumn(), vByRow = map.VByRow();
  std::vector<Tap> columnTaps;
  if (uByColumn) {
    columnTaps.resize(static_cast<std::size_t>(width));
    for (int32_t j = 0; j < width; ++j)
      columnTaps[j] = TapAt(map.ComposeU(columns[4 * j], columns[4 * j + 1]), spanX, sw - 1);
  }
  // Each chunk of rows keeps its own pair of interpolated source rows: the
  // cache only saves work, every row gets the same samples either way.
  const bool cached = uByColumn && vByRow;
  ParallelRows(rect.top, rect.bottom, 4 * int64_t{width} * C, [&](int32_t first, int32_t end) {
    std::vector<float> top, bottom;
    int32_t cachedRows[2] = {-1, -1};
    if (cached) {
      top.resize(static_cast<std::size_t>(width) * C);
      bottom.resize(static_cast<std::size_t>(width) * C);
    }
    for (int32_t i = first; i < end; ++i) {
      const double y = static_cast<double>(i) + origin.y;
      float row[4];
      for (int k = 0; k < 4; ++k) row[k] = map.RowTerm(k, y);
      S* d = destination.RowAs<S>(i) + static_cast<std::ptrdiff_t>(C) * rect.left;
      if (cached) {
        // The two source rows interpolated along the row once for all the
        // destination rows between them; then only the vertical step remains.
        const Tap ty = TapAt(map.ComposeV(columns[2] - row[2], columns[3] - row[3]), spanY, sh - 1);
        if (ty.i0 != cachedRows[0] || ty.i1 != cachedRows[1]) {
          Interpolate<S, C>(source.RowAs<S>(ty.i0), columnTaps, top.data());
          Interpolate<S, C>(source.RowAs<S>(ty.i1), columnTaps, bottom.data());
          cachedRows[0] = ty.i0;
          cachedRows[1] = ty.i1;
        }
        const float fy = ty.f;
        for (int32_t k = 0; k < width * C; ++k)
          d[k] = static_cast<S>(
              std::clamp(static_cast<int32_t>(top[k] + (bottom[k] - top[k]) * fy), 0, Depth<S>::L));
        continue;
      }
      for (int32_t j = 0; j < width; ++j, d += C) {
        const float* col = &columns[4 * static_cast<std::size_t>(j)];
        const Tap tx =
            uByColumn ? columnTaps[j] : TapAt(map.ComposeU(col[0] - row[0], col[1] - row[1]), spanX, sw - 1);
        const Tap ty = TapAt(map.ComposeV(col[2] - row[2], col[3] - row[3]), spanY, sh - 1);
        Sample<S, C>(source.RowAs<S>(ty.i0), source.RowAs<S>(ty.i1), tx, ty.f, d);
      }
    }
  });
}

}  // namespace

std::optional<QuadMapping> QuadMapping::Solve(const Quad& corners, double size) {
  for (const PixelPoint& p : corners)
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return std::nullopt;
  if (!std::isfinite(size)) return std::nullopt;
  const PixelPoint &ul = corners[0], &ur = corners[1], &lr = corners[2], &ll = corners[3];
  if (Cross(ul, ur, lr) == 0 || Cross(ul, ur, ll) == 0 || Cross(ul, lr, ll) == 0 || Cross(ur, lr, ll) == 0)
    return std::nullopt;

  // Left, right, top and bottom edges, each from its first corner.
  const PixelPoint from[4] = {ul, ur, ul, ll};
  const PixelPoint to[4] = {ll, lr, ur, lr};
  QuadMapping q;
  double line[4][3];  // a x + b y + c of each edge function
  for (int k = 0; k < 4; ++k) {
    const double ex = to[k].x - from[k].x, ey = to[k].y - from[k].y;
    q.edges_[k] = {from[k].x, from[k].y, static_cast<float>(ex), static_cast<float>(ey)};
    line[k][0] = ey;
    line[k][1] = -ex;
    line[k][2] = ex * from[k].y - ey * from[k].x;
  }
  // The homography's divisor is both L + kU R and a multiple c (T + kV B):
  // kU R - c T - g B = -L, with kV = g / c, by Cramer's rule.
  const double* l = line[0];
  const double* r = line[1];
  const double t[3] = {-line[2][0], -line[2][1], -line[2][2]};
  const double b[3] = {-line[3][0], -line[3][1], -line[3][2]};
  const double rhs[3] = {-l[0], -l[1], -l[2]};
  const double det = Det3(r, t, b);
  if (det == 0 || !std::isfinite(det)) return std::nullopt;
  const double kU = Det3(rhs, t, b) / det;
  const double c = Det3(r, rhs, b) / det;
  const double g = Det3(r, t, rhs) / det;
  if (c == 0) return std::nullopt;
  q.kU_ = static_cast<float>(kU);
  q.kV_ = static_cast<float>(g / c);

  // Scale about the square's centre: u' = u (1 + 2e) - e.
  const float e = (1.0f - static_cast<float>(size)) * 0.5f;
  q.scale_ = 1.0f + 2.0f * e;
  q.shift_ = e;
  for (float v : {q.kU_, q.kV_, q.scale_, q.shift_})
    if (!std::isfinite(v)) return std::nullopt;
  return q;
}

void QuadWarp(const Raster& source, Raster& destination, const Rect& rect, Origin origin,
              const QuadMapping& mapping, double sourceScale) {
  CheckPair(source, destination);
  const Rect r = rect.Intersect(destination.Bounds());
  if (r.Empty() || source.Width() <= 0 || source.Height() <= 0) return;
  if (!(sourceScale > 0) || !std::isfinite(sourceScale)) sourceScale = 1.0;
  WithDepth(source.Is16Bit(), [&]<class S>() {
    if (source.Channels() == 1)
      WarpT<S, 1>(source, destination, r, origin, mapping, sourceScale);
    else
      WarpT<S, 4>(source, destination, r, origin, mapping, sourceScale);
  });
}

bool QuadWarp(const Raster& source, Raster& destination, const Rect& rect, Origin origin, const Quad& corners,
              double size, double sourceScale) {
  CheckPair(source, destination);
  const std::optional<QuadMapping> mapping = QuadMapping::Solve(corners, size);
  if (!mapping) return false;
  QuadWarp(source, destination, rect, origin, *mapping, sourceScale);
  return true;
}

}  // namespace fx
