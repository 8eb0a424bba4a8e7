#include "imaging/quad_warp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "imaging/raster.h"

namespace {

using fx::MakeRaster;
using fx::Origin;
using fx::PixelPoint;
using fx::Quad;
using fx::QuadMapping;
using fx::QuadWarp;
using fx::Rect;

// The homography taking the corners to the (size-scaled) unit square,
// solved independently in double as the 8 x 8 linear system
// u (g x + h y + 1) = a x + b y + c, v (g x + h y + 1) = d x + e y + f.
struct Reference {
  double m[8];
  void Map(double x, double y, double& u, double& v) const {
    const double w = m[6] * x + m[7] * y + 1;
    u = (m[0] * x + m[1] * y + m[2]) / w;
    v = (m[3] * x + m[4] * y + m[5]) / w;
  }
};

Reference SolveReference(const Quad& q, double size) {
  const double e = (1 - size) / 2;
  const double us[4] = {-e, 1 + e, 1 + e, -e}, vs[4] = {-e, -e, 1 + e, 1 + e};
  double a[8][9] = {};
  for (int k = 0; k < 4; ++k) {
    const double x = q[k].x, y = q[k].y;
    double* r0 = a[2 * k];
    double* r1 = a[2 * k + 1];
    r0[0] = x, r0[1] = y, r0[2] = 1, r0[6] = -us[k] * x, r0[7] = -us[k] * y, r0[8] = us[k];
    r1[3] = x, r1[4] = y, r1[5] = 1, r1[6] = -vs[k] * x, r1[7] = -vs[k] * y, r1[8] = vs[k];
  }
  for (int c = 0; c < 8; ++c) {
    int pivot = c;
    for (int r = c + 1; r < 8; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    for (int k = 0; k < 9; ++k) std::swap(a[c][k], a[pivot][k]);
    for (int r = 0; r < 8; ++r) {
      if (r == c) continue;
      const double f = a[r][c] / a[c][c];
      for (int k = c; k < 9; ++k) a[r][k] -= f * a[c][k];
    }
  }
  Reference ref;
  for (int c = 0; c < 8; ++c) ref.m[c] = a[c][8] / a[c][c];
  return ref;
}

// Quadrilaterals of every sort: upright rectangles (one too large for
// single-precision products to stay exact), a parallelogram, projective
// trapezoids with fractional corners, a rotated square and a non-convex one.
const Quad kQuads[] = {
    {PixelPoint{0, 0}, {8, 0}, {8, 8}, {0, 8}},
    {PixelPoint{0, 0}, {6000, 0}, {6000, 4000}, {0, 4000}},
    {PixelPoint{3, 1}, {13, 3}, {11, 9}, {1, 7}},
    {PixelPoint{2.5, 1.25}, {9.75, 2}, {12, 10.5}, {0.125, 9}},
    {PixelPoint{-40.3, -12.7}, {630.1, 20.9}, {701.6, 455.2}, {-3.3, 380.4}},
    {PixelPoint{50, 0}, {100, 50}, {50, 100}, {0, 50}},
    {PixelPoint{0, 0}, {10, 0}, {3, 3}, {0, 10}},
};

TEST(QuadMapping, CornersMapExactlyOntoTheSquare) {
  for (const Quad& q : kQuads) {
    for (double size : {1.0, 0.5, 1.5}) {
      const auto map = QuadMapping::Solve(q, size);
      ASSERT_TRUE(map.has_value());
      const float e = (1.0f - static_cast<float>(size)) * 0.5f;
      const float us[4] = {-e, 1 + e, 1 + e, -e}, vs[4] = {-e, -e, 1 + e, 1 + e};
      for (int k = 0; k < 4; ++k) {
        float u, v;
        map->Map(q[k].x, q[k].y, u, v);
        EXPECT_EQ(u, us[k]) << "corner " << k << " of quad at " << q[0].x << ", size " << size;
        EXPECT_EQ(v, vs[k]) << "corner " << k << " of quad at " << q[0].x << ", size " << size;
      }
    }
  }
}

TEST(QuadMapping, IsTheProjectiveMapOfTheCorners) {
  for (const Quad& q : kQuads) {
    for (double size : {1.0, 0.37, 1.99}) {
      const auto map = QuadMapping::Solve(q, size);
      ASSERT_TRUE(map.has_value());
      const Reference ref = SolveReference(q, size);
      // Points inside and around the quadrilateral, as blends of its corners.
      for (double s : {-0.2, 0.0, 0.3, 0.5, 0.9, 1.1})
        for (double t : {-0.1, 0.25, 0.5, 0.8, 1.2}) {
          const double x = (1 - t) * ((1 - s) * q[0].x + s * q[1].x) + t * ((1 - s) * q[3].x + s * q[2].x);
          const double y = (1 - t) * ((1 - s) * q[0].y + s * q[1].y) + t * ((1 - s) * q[3].y + s * q[2].y);
          float u, v;
          map->Map(x, y, u, v);
          double ru, rv;
          ref.Map(x, y, ru, rv);
          // Single precision: a few units in the last place of the result.
          EXPECT_NEAR(u, ru, 2e-5 * std::max(1.0, std::fabs(ru))) << x << ", " << y;
          EXPECT_NEAR(v, rv, 2e-5 * std::max(1.0, std::fabs(rv))) << x << ", " << y;
        }
    }
  }
}

TEST(QuadMapping, DiagonalsMeetAtTheSquaresCentre) {
  // A projective map keeps incidence: the diagonals' crossing goes to (0.5, 0.5).
  const Quad q{PixelPoint{0, 0}, {12, 0}, {8, 4}, {0, 6}};
  const auto map = QuadMapping::Solve(q);
  ASSERT_TRUE(map.has_value());
  // Upper-left to lower-right is (8t, 4t), upper-right to lower-left is
  // (12 - 12s, 6s): they cross at t = 0.75, s = 0.5, the point (6, 3).
  float u, v;
  map->Map(6, 3, u, v);
  EXPECT_NEAR(u, 0.5, 1e-6);
  EXPECT_NEAR(v, 0.5, 1e-6);
  // The midpoint of the top edge does not go to u = 0.5: the map is not affine.
  map->Map(6, 0, u, v);
  EXPECT_EQ(v, 0.0f);
  EXPECT_GT(std::fabs(u - 0.5f), 0.01f);
}

TEST(QuadMapping, DegenerateCornersHaveNoMapping) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Quad cases[] = {
      {PixelPoint{0, 0}, {5, 0}, {10, 0}, {0, 5}},   // upper-left, upper-right, lower-right on a line
      {PixelPoint{0, 0}, {4, 4}, {8, 0}, {2, 2}},    // lower-left on the upper-left/upper-right line
      {PixelPoint{0, 0}, {5, 0}, {5, 0}, {0, 5}},    // two corners equal
      {PixelPoint{3, 3}, {3, 3}, {3, 3}, {3, 3}},    // a point
      {PixelPoint{0, 0}, {5, 0}, {5, nan}, {0, 5}},  // not a number
  };
  for (const Quad& q : cases) EXPECT_FALSE(QuadMapping::Solve(q).has_value()) << q[1].x << ", " << q[2].y;
  EXPECT_FALSE(QuadMapping::Solve(kQuads[0], std::numeric_limits<double>::infinity()).has_value());

  // Nothing is drawn: the destination keeps its contents.
  fx::RasterRef src = MakeRaster(2, 2, 1, 1);
  src->Fill(200);
  fx::RasterRef dst = MakeRaster(6, 4, 1, 1);
  dst->Fill(77);
  for (const Quad& q : cases) EXPECT_FALSE(QuadWarp(*src, *dst, dst->Bounds(), {}, q));
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 6; ++x) ASSERT_EQ(dst->RowAs<uint8_t>(y)[x], 77);
}

// ------------------------------------------------------------- QuadWarp

TEST(QuadWarp, EnlargesBilinearlyWithoutHalfPixelOffset) {
  // A 2 x 1 ramp over an 8-pixel row: pixel j samples u = j / 8, so the
  // last pixel is 7/8 of the way, and values truncate.
  fx::RasterRef src8 = MakeRaster(2, 1, 1, 1);
  src8->RowAs<uint8_t>(0)[0] = 0;
  src8->RowAs<uint8_t>(0)[1] = 255;
  fx::RasterRef dst8 = MakeRaster(8, 1, 1, 1);
  ASSERT_TRUE(QuadWarp(*src8, *dst8, dst8->Bounds(), {}, fx::ImageQuad(8, 1)));
  const int32_t expected8[] = {0, 31, 63, 95, 127, 159, 191, 223};
  for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(dst8->RowAs<uint8_t>(0)[x], expected8[x]) << x;

  fx::RasterRef src16 = MakeRaster(2, 1, 1, 2);
  src16->RowAs<uint16_t>(0)[0] = 0;
  src16->RowAs<uint16_t>(0)[1] = 32768;
  fx::RasterRef dst16 = MakeRaster(8, 1, 1, 2);
  ASSERT_TRUE(QuadWarp(*src16, *dst16, dst16->Bounds(), {}, fx::ImageQuad(8, 1)));
  for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(dst16->RowAs<uint16_t>(0)[x], 4096 * x) << x;
}

TEST(QuadWarp, CornerPixelsTakeTheSourceCorners) {
  // A 2 x 2 source onto a projective quadrilateral whose corners are pixel
  // positions: each corner pixel gets exactly its source corner, at both
  // depths and with four channels.
  const Quad q{PixelPoint{2, 1}, {9, 2}, {11, 8}, {0, 9}};
  const int32_t values[4][4] = {
      {10, 20, 30, 40}, {50, 60, 70, 80}, {90, 100, 110, 120}, {130, 140, 150, 160}};
  // Source layout: (0,0) UL, (1,0) UR, (1,1) LR, (0,1) LL.
  const int32_t at[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  for (uint32_t bytes : {1u, 2u}) {
    fx::RasterRef src = MakeRaster(2, 2, 4, bytes);
    for (int k = 0; k < 4; ++k)
      for (int c = 0; c < 4; ++c) {
        const int32_t v = values[k][c] * (bytes == 2 ? 200 : 1);
        if (bytes == 2)
          src->RowAs<uint16_t>(at[k][1])[4 * at[k][0] + c] = static_cast<uint16_t>(v);
        else
          src->RowAs<uint8_t>(at[k][1])[4 * at[k][0] + c] = static_cast<uint8_t>(v);
      }
    fx::RasterRef dst = MakeRaster(12, 10, 4, bytes);
    dst->Fill(0);
    ASSERT_TRUE(QuadWarp(*src, *dst, dst->Bounds(), {}, q));
    for (int k = 0; k < 4; ++k)
      for (int c = 0; c < 4; ++c) {
        const int32_t x = static_cast<int32_t>(q[k].x), y = static_cast<int32_t>(q[k].y);
        const int32_t got =
            bytes == 2 ? dst->RowAs<uint16_t>(y)[4 * x + c] : dst->RowAs<uint8_t>(y)[4 * x + c];
        EXPECT_EQ(got, values[k][c] * (bytes == 2 ? 200 : 1)) << "corner " << k << " channel " << c;
      }
  }
}

TEST(QuadWarp, ConstantSourceStaysConstant) {
  for (uint32_t bytes : {1u, 2u}) {
    const int32_t value = bytes == 2 ? 12345 : 201;
    fx::RasterRef src = MakeRaster(5, 3, 1, bytes);
    for (int32_t y = 0; y < 3; ++y)
      for (int32_t x = 0; x < 5; ++x) {
        if (bytes == 2)
          src->RowAs<uint16_t>(y)[x] = static_cast<uint16_t>(value);
        else
          src->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(value);
      }
    fx::RasterRef dst = MakeRaster(31, 17, 1, bytes);
    ASSERT_TRUE(QuadWarp(*src, *dst, dst->Bounds(), {}, kQuads[3]));
    for (int32_t y = 0; y < 17; ++y)
      for (int32_t x = 0; x < 31; ++x)
        ASSERT_EQ(bytes == 2 ? dst->RowAs<uint16_t>(y)[x] : dst->RowAs<uint8_t>(y)[x], value)
            << x << ", " << y;
  }
}

// A source of distinct values at either depth, four channels.
fx::RasterRef Pattern(int32_t w, int32_t h, uint32_t bytes) {
  fx::RasterRef r = MakeRaster(w, h, 4, bytes);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < 4 * w; ++x) {
      const int32_t v = (x * 37 + y * 101) % (bytes == 2 ? 32769 : 256);
      if (bytes == 2)
        r->RowAs<uint16_t>(y)[x] = static_cast<uint16_t>(v);
      else
        r->RowAs<uint8_t>(y)[x] = static_cast<uint8_t>(v);
    }
  return r;
}

bool SameRows(const fx::Raster& a, int32_t ay, const fx::Raster& b, int32_t by, int32_t rows) {
  const std::size_t bytes = static_cast<std::size_t>(a.Width()) * a.PixelBytes();
  for (int32_t i = 0; i < rows; ++i)
    if (std::memcmp(a.Row(ay + i), b.Row(by + i), bytes) != 0) return false;
  return true;
}

TEST(QuadWarp, TilesPlacedByOriginMatchTheWholeImage) {
  // Bands of any height, each warped into its own raster with its position
  // as origin, give the rows of the whole-image warp, for an upright
  // rectangle (column and row caching) and a projective quadrilateral.
  for (uint32_t bytes : {1u, 2u}) {
    fx::RasterRef src = Pattern(9, 7, bytes);
    for (const Quad& q : {fx::ImageQuad(37, 23), kQuads[3], kQuads[2]}) {
      fx::RasterRef whole = MakeRaster(37, 23, 4, bytes);
      ASSERT_TRUE(QuadWarp(*src, *whole, whole->Bounds(), {}, q));
      for (int32_t band : {1, 5, 23}) {
        for (int32_t top = 0; top < 23; top += band) {
          const int32_t rows = std::min(band, 23 - top);
          fx::RasterRef tile = MakeRaster(37, rows, 4, bytes);
          ASSERT_TRUE(QuadWarp(*src, *tile, tile->Bounds(), Origin{0, top}, q));
          ASSERT_TRUE(SameRows(*whole, top, *tile, 0, rows)) << "band " << band << " at " << top;
        }
      }
      // A rect inside a larger raster, with the raster's own origin.
      fx::RasterRef part = MakeRaster(37, 23, 4, bytes);
      part->Fill(0);
      ASSERT_TRUE(QuadWarp(*src, *part, Rect{4, 0, 11, 37}, {}, q));
      EXPECT_TRUE(SameRows(*whole, 4, *part, 4, 7));
    }
  }
}

TEST(QuadWarp, RectIsClippedAndSourceScaleShrinksTheSpan) {
  fx::RasterRef src = MakeRaster(4, 1, 1, 1);
  const uint8_t row[4] = {0, 100, 200, 250};
  std::memcpy(src->Row(0), row, 4);
  fx::RasterRef dst = MakeRaster(4, 2, 1, 1);
  dst->Fill(9);
  // Source scale 2 spans the first half of the source: u = j / 4 over 0..1.
  ASSERT_TRUE(QuadWarp(*src, *dst, Rect{-5, -5, 1, 100}, {}, fx::ImageQuad(4, 2), 1.0, 2.0));
  const int32_t expected[4] = {0, 25, 50, 75};
  for (int32_t x = 0; x < 4; ++x) {
    EXPECT_EQ(dst->RowAs<uint8_t>(0)[x], expected[x]) << x;
    EXPECT_EQ(dst->RowAs<uint8_t>(1)[x], 9) << x;  // outside the rect
  }
  // Nonsense scales behave as 1.
  for (double scale : {0.0, -3.0, std::numeric_limits<double>::quiet_NaN()}) {
    ASSERT_TRUE(QuadWarp(*src, *dst, dst->Bounds(), {}, fx::ImageQuad(4, 2), 1.0, scale));
    EXPECT_EQ(dst->RowAs<uint8_t>(1)[1], 75) << scale;  // u = 1/4 over 0..3: 0.75 of 100
  }
}

TEST(QuadWarp, RefusesMismatchedRastersAndSkipsEmptySources) {
  fx::RasterRef one8 = MakeRaster(2, 2, 1, 1), four8 = MakeRaster(2, 2, 4, 1), one16 = MakeRaster(2, 2, 1, 2);
  fx::RasterRef two8 = MakeRaster(2, 2, 2, 1);
  EXPECT_THROW(QuadWarp(*one8, *four8, four8->Bounds(), {}, kQuads[0]), std::invalid_argument);
  EXPECT_THROW(QuadWarp(*one8, *one16, one16->Bounds(), {}, kQuads[0]), std::invalid_argument);
  EXPECT_THROW(QuadWarp(*two8, *two8, two8->Bounds(), {}, kQuads[0]), std::invalid_argument);

  fx::RasterRef empty = MakeRaster(0, 3, 1, 1);
  one8->Fill(5);
  EXPECT_TRUE(QuadWarp(*empty, *one8, one8->Bounds(), {}, kQuads[0]));
  for (int32_t y = 0; y < 2; ++y) EXPECT_EQ(one8->RowAs<uint8_t>(y)[1], 5);
}

}  // namespace
