// The three-shear rotation: a turn and its inverse keep a centred peak in
// place, and every stage is anchored at the image, so a band's rotation is
// the window of the whole image's.
#include "imaging/shear_rotate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace {

int32_t At(const fx::PlacedRaster& p, int32_t x, int32_t y) {
  const fx::Rect& e = p.extent;
  if (x < e.left || x >= e.right || y < e.top || y >= e.bottom) return 0;
  return p.raster->Is16Bit() ? p.raster->RowAs<uint16_t>(y - e.top)[x - e.left]
                             : p.raster->RowAs<uint8_t>(y - e.top)[x - e.left];
}

fx::PlacedRaster Blank(const fx::Rect& extent, bool is16Bit) {
  fx::PlacedRaster p;
  p.extent = extent;
  p.raster = fx::MakeRaster(extent.Width(), extent.Height(), 1, is16Bit ? 2 : 1);
  p.raster->Fill(0);
  return p;
}

void Put(fx::PlacedRaster& p, int32_t x, int32_t y, int32_t v) {
  if (p.raster->Is16Bit())
    p.raster->RowAs<uint16_t>(y - p.extent.top)[x - p.extent.left] = static_cast<uint16_t>(v);
  else
    p.raster->RowAs<uint8_t>(y - p.extent.top)[x - p.extent.left] = static_cast<uint8_t>(v);
}

TEST(ShearRotate, TurningThereAndBackKeepsACentredPeak) {
  for (bool is16 : {false, true}) {
    const int32_t full = is16 ? 32768 : 255;
    fx::PlacedRaster in = Blank({0, 0, 21, 25}, is16);
    Put(in, 12, 10, full);
    const fx::Rotation there{45, 12, 10};
    const fx::PlacedRaster turned = fx::ShearRotate(in, there);
    EXPECT_GT(turned.extent.Width(), 25);  // the turned image's corners reach beyond it
    const fx::PlacedRaster back = fx::ShearRotate(turned, {-45, 12, 10}, in.extent);
    EXPECT_EQ(back.extent, in.extent);
    int32_t best = -1, bx = 0, by = 0;
    for (int32_t y = 0; y < 21; ++y)
      for (int32_t x = 0; x < 25; ++x)
        if (At(back, x, y) > best) best = At(back, x, y), bx = x, by = y;
    EXPECT_EQ(bx, 12);
    EXPECT_EQ(by, 10);
    EXPECT_GT(best, full / 4);
  }
}

TEST(ShearRotate, ALineTurnsOntoTheDiagonal) {
  fx::PlacedRaster in = Blank({0, 0, 31, 31}, false);
  for (int32_t x = 5; x < 26; ++x) Put(in, x, 15, 255);
  const fx::PlacedRaster turned = fx::ShearRotate(in, {45, 15, 15});
  // Clockwise with y downwards: the right end goes down.
  EXPECT_GT(At(turned, 15 + 6, 15 + 6), 100);
  EXPECT_GT(At(turned, 15 - 6, 15 - 6), 100);
  EXPECT_EQ(At(turned, 15 + 6, 15 - 6), 0);
  EXPECT_EQ(At(turned, 15 + 8, 15), 0);
}

// At every angle, also those past 45 degrees that take quarter turns.
TEST(ShearRotate, ABandTurnsToTheWindowOfTheWholeImage) {
  std::mt19937 gen(7);
  std::uniform_int_distribution<int32_t> sample(0, 32768);
  for (double degrees : {45.0, -30.0, 70.0, 120.0, -100.0, 200.0, -135.0, 300.0})
  for (bool is16 : {false, true}) {
    const fx::Rect image{0, 0, 30, 40};
    const fx::Rect band{11, 0, 17, 40};
    fx::PlacedRaster whole = Blank(image, is16);
    fx::PlacedRaster part = Blank(band, is16);
    for (int32_t y = band.top; y < band.bottom; ++y)
      for (int32_t x = 0; x < 40; ++x) {
        const int32_t v = is16 ? sample(gen) : sample(gen) / 129;
        Put(whole, x, y, v);
        Put(part, x, y, v);
      }
    const fx::Rotation r{degrees, 19.5, 14.5};
    const fx::PlacedRaster a = fx::ShearRotate(whole, r);
    const fx::PlacedRaster b = fx::ShearRotate(part, r);
    int32_t lit = 0;
    for (int32_t y = a.extent.top - 2; y < a.extent.bottom + 2; ++y)
      for (int32_t x = a.extent.left - 2; x < a.extent.right + 2; ++x) {
        ASSERT_EQ(At(b, x, y), At(a, x, y)) << degrees << (is16 ? " 16" : " 8") << " turned at " << x << "," << y;
        lit += At(a, x, y) != 0;
      }
    EXPECT_GT(lit, 6 * 40 / 2) << degrees;
    // Back, computing only a window: the window of the whole back rotation.
    const fx::Rotation back{-degrees, 19.5, 14.5};
    const fx::PlacedRaster all = fx::ShearRotate(a, back, image);
    const fx::Rect window{13, 5, 15, 33};
    const fx::PlacedRaster some = fx::ShearRotate(a, back, window);
    EXPECT_EQ(some.extent, window);
    for (int32_t y = window.top; y < window.bottom; ++y)
      for (int32_t x = window.left; x < window.right; ++x)
        ASSERT_EQ(At(some, x, y), At(all, x, y)) << degrees << (is16 ? " 16" : " 8") << " back at " << x << "," << y;
  }
}

// Whole quarter turns about the image's centre move pixels and nothing
// else: every sample lands, unchanged, where the exact turn puts it, and
// nothing else is lit. Turning back restores the image.
TEST(ShearRotate, QuarterTurnsArePixelPermutations) {
  struct Case {
    double degrees;
    int32_t turns;  // clockwise
  };
  const Case cases[] = {{90, 1}, {180, 2}, {-90, 3}, {270, 3}, {-180, 2}, {450, 1}, {360, 0}};
  std::mt19937 gen(11);
  std::uniform_int_distribution<int32_t> sample(1, 255);
  // Odd by odd and even by even sides: the centre is a pixel or a corner.
  for (const fx::Rect image : {fx::Rect{0, 0, 9, 13}, fx::Rect{0, 0, 10, 6}})
    for (const Case& c : cases) {
      fx::PlacedRaster in = Blank(image, false);
      for (int32_t y = 0; y < image.bottom; ++y)
        for (int32_t x = 0; x < image.right; ++x) Put(in, x, y, sample(gen));
      const double cx = (image.right - 1) / 2.0, cy = (image.bottom - 1) / 2.0;
      const fx::PlacedRaster out = fx::ShearRotate(in, {c.degrees, cx, cy});
      int32_t lit = 0;
      for (int32_t y = out.extent.top; y < out.extent.bottom; ++y)
        for (int32_t x = out.extent.left; x < out.extent.right; ++x) lit += At(out, x, y) != 0;
      EXPECT_EQ(lit, image.Width() * image.Height()) << c.degrees;
      for (int32_t y = 0; y < image.bottom; ++y)
        for (int32_t x = 0; x < image.right; ++x) {
          // (x, y) about the centre, turned clockwise (y downwards).
          double dx = x - cx, dy = y - cy;
          for (int k = 0; k < c.turns; ++k) {
            const double t = dx;
            dx = -dy;
            dy = t;
          }
          const int32_t X = static_cast<int32_t>(cx + dx), Y = static_cast<int32_t>(cy + dy);
          ASSERT_EQ(cx + dx, X);
          ASSERT_EQ(At(out, X, Y), At(in, x, y)) << c.degrees << " from " << x << "," << y;
        }
      const fx::PlacedRaster back = fx::ShearRotate(out, {-c.degrees, cx, cy}, image);
      for (int32_t y = 0; y < image.bottom; ++y)
        for (int32_t x = 0; x < image.right; ++x) ASSERT_EQ(At(back, x, y), At(in, x, y)) << c.degrees;
    }
}

// Past 45 degrees the turn is the quarter turns of the sheared rest: a
// line at 100 degrees is the 10-degree line turned a quarter.
TEST(ShearRotate, PastFortyFiveTheRestIsShearedThenTurned) {
  fx::PlacedRaster in = Blank({0, 0, 31, 31}, true);
  for (int32_t x = 3; x < 28; ++x) Put(in, x, 15, 32768 - 500 * x);
  const fx::PlacedRaster ten = fx::ShearRotate(in, {10, 15, 15});
  const fx::PlacedRaster quarter = fx::ShearRotate(ten, {90, 15, 15});
  const fx::PlacedRaster hundred = fx::ShearRotate(in, {100, 15, 15});
  EXPECT_EQ(hundred.extent, quarter.extent);
  for (int32_t y = quarter.extent.top; y < quarter.extent.bottom; ++y)
    for (int32_t x = quarter.extent.left; x < quarter.extent.right; ++x)
      ASSERT_EQ(At(hundred, x, y), At(quarter, x, y)) << x << "," << y;
  // Clockwise: the line's right end now points down, a little left.
  EXPECT_GT(At(hundred, 13, 27), 1000);
  EXPECT_EQ(At(hundred, 27, 15), 0);
}

}  // namespace
