// The quadrilateral warp: every destination pixel is mapped through the
// projective transformation that takes four corner points to a square, and
// the source image is sampled bilinearly there. Gradient masks are a tiny
// ramp warped onto a quadrilateral; grain planes and depth images are warped
// onto the whole image rectangle to enlarge them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx {

// A position in pixels of the whole image at the current render scale;
// fractions allowed.
struct PixelPoint {
  double x = 0;
  double y = 0;
};

// Where a tile (or an area of it) lies inside the whole image: added to a
// raster's column and row before any whole-image geometry is evaluated.
struct Origin {
  int32_t x = 0;
  int32_t y = 0;
};

// Corners in the order upper-left, upper-right, lower-right, lower-left.
using Quad = std::array<PixelPoint, 4>;

// The four corners of the whole image rectangle: (0, 0), (W, 0), (W, H), (0, H).
constexpr Quad ImageQuad(int32_t width, int32_t height) {
  return {PixelPoint{0, 0}, PixelPoint{static_cast<double>(width), 0},
          PixelPoint{static_cast<double>(width), static_cast<double>(height)},
          PixelPoint{0, static_cast<double>(height)}};
}

// The single-precision homography taking the corners, in order, to the
// square points (-e, -e), (1 + e, -e), (1 + e, 1 + e), (-e, 1 + e) with
// e = (1 - size) / 2.
//
// It is held as ratios of the quadrilateral's edge lines: with L, R, T and
// B the line functions of the left, right, top and bottom edges (each 0 on
// its edge), u = L / (L + kU R) and v = T / (T + kV B) before the size
// scaling, the two constants solved (in double) from the linear dependency
// of the four lines. An edge function evaluated at one of its own corners is
// exactly 0 in floating point, so every corner maps exactly onto its square
// point, whatever the quadrilateral.
class QuadMapping {
 public:
  // None when three of the corners lie on one line (or a corner is not a
  // finite number): no projective mapping exists.
  static std::optional<QuadMapping> Solve(const Quad& corners, double size = 1.0);

  // (u, v) for the whole-image position (x, y), not clamped.
  void Map(double x, double y, float& u, float& v) const {
    float column[4], row[4];
    for (int k = 0; k < 4; ++k) {
      column[k] = ColumnTerm(k, x);
      row[k] = RowTerm(k, y);
    }
    u = ComposeU(column[0] - row[0], column[1] - row[1]);
    v = ComposeV(column[2] - row[2], column[3] - row[3]);
  }

  // The pieces of Map, for evaluating whole rows: edge k (left, right, top,
  // bottom) at (x, y) is ColumnTerm(k, x) - RowTerm(k, y).
  float ColumnTerm(int k, double x) const { return edges_[k].ey * static_cast<float>(x - edges_[k].px); }
  float RowTerm(int k, double y) const { return edges_[k].ex * static_cast<float>(y - edges_[k].py); }
  float ComposeU(float left, float right) const { return left / (left + kU_ * right) * scale_ - shift_; }
  float ComposeV(float top, float bottom) const { return top / (top + kV_ * bottom) * scale_ - shift_; }
  // u depends on the column only (vertical left and right edges); v on the
  // row only (horizontal top and bottom edges).
  bool UByColumn() const { return edges_[0].ex == 0 && edges_[1].ex == 0; }
  bool VByRow() const { return edges_[2].ey == 0 && edges_[3].ey == 0; }

 private:
  // The line through (px, py) in the direction (ex, ey):
  // ey (x - px) - ex (y - py).
  struct Edge {
    double px = 0, py = 0;
    float ex = 0, ey = 0;
  };

  QuadMapping() = default;

  Edge edges_[4];
  float kU_ = 0, kV_ = 0;
  float scale_ = 1, shift_ = 0;
};

// Fills rect of destination: the pixel at (column j, row i) is the source
// sampled at the mapped position of (j + origin.x, i + origin.y), with u and
// v clamped to 0..1, sx = u (source width / sourceScale - 1), likewise sy,
// and the four samples around (sx, sy) blended bilinearly (single precision,
// truncated). Source and destination have the same depth and the same
// channel count, 1 or 4 (std::invalid_argument otherwise). rect is clipped
// to the destination. A degenerate quadrilateral or an empty source draws
// nothing: the destination keeps its contents. Returns false for a
// degenerate quadrilateral.
bool QuadWarp(const Raster& source, Raster& destination, const Rect& rect, Origin origin, const Quad& corners,
              double size = 1.0, double sourceScale = 1.0);
// The same with a mapping solved once for many calls.
void QuadWarp(const Raster& source, Raster& destination, const Rect& rect, Origin origin,
              const QuadMapping& mapping, double sourceScale = 1.0);

}  // namespace fx
