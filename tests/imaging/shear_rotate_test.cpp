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

TEST(ShearRotate, ABandTurnsToTheWindowOfTheWholeImage) {
  std::mt19937 gen(7);
  std::uniform_int_distribution<int32_t> sample(0, 32768);
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
    const fx::Rotation r{45, 19.5, 14.5};
    const fx::PlacedRaster a = fx::ShearRotate(whole, r);
    const fx::PlacedRaster b = fx::ShearRotate(part, r);
    for (int32_t y = a.extent.top - 2; y < a.extent.bottom + 2; ++y)
      for (int32_t x = a.extent.left - 2; x < a.extent.right + 2; ++x)
        ASSERT_EQ(At(b, x, y), At(a, x, y)) << is16 << " turned at " << x << "," << y;
    // Back, computing only a window: the window of the whole back rotation.
    const fx::PlacedRaster all = fx::ShearRotate(a, {-45, 19.5, 14.5}, image);
    const fx::Rect window{13, 5, 15, 33};
    const fx::PlacedRaster some = fx::ShearRotate(a, {-45, 19.5, 14.5}, window);
    EXPECT_EQ(some.extent, window);
    for (int32_t y = window.top; y < window.bottom; ++y)
      for (int32_t x = window.left; x < window.right; ++x)
        ASSERT_EQ(At(some, x, y), At(all, x, y)) << is16 << " back at " << x << "," << y;
  }
}

}  // namespace
