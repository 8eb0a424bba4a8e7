// The core operations split their rows among the workers; what they give
// must not depend on how many there are. Each case runs on an image large
// enough to be cut into many chunks, with one thread and with 2 and 7, at
// both depths, and the samples must agree.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "imaging/film_grain.h"
#include "imaging/masks.h"
#include "imaging/parallel.h"
#include "imaging/quad_warp.h"
#include "imaging/raster.h"
#include "imaging/resample.h"
#include "imaging/shear_rotate.h"

namespace fx {
namespace {

constexpr int32_t kWidth = 611, kHeight = 347;

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  return x ^ (x >> 16);
}

// Smooth gradients with noise on top, so that blends, warps and filters all
// have something to move.
RasterRef Picture(int32_t channels, bool sixteen, uint32_t salt) {
  RasterRef r = MakeRaster(kWidth, kHeight, channels, sixteen ? 2 : 1);
  const int32_t full = sixteen ? 32768 : 255;
  for (int32_t y = 0; y < kHeight; ++y)
    for (int32_t x = 0; x < kWidth; ++x)
      for (int32_t c = 0; c < channels; ++c) {
        const uint32_t h = Hash(static_cast<uint32_t>((y * kWidth + x) * 4 + c) ^ salt);
        const int32_t v =
            static_cast<int32_t>((static_cast<int64_t>(x + y + 97 * c) * full / (kWidth + kHeight) +
                                  static_cast<int64_t>(h % 64) * full / 256) %
                                 (full + 1));
        if (sixteen)
          r->RowAs<uint16_t>(y)[x * channels + c] = static_cast<uint16_t>(v);
        else
          r->RowAs<uint8_t>(y)[x * channels + c] = static_cast<uint8_t>(v);
      }
  return r;
}

std::vector<uint8_t> Bytes(const Raster& r) {
  std::vector<uint8_t> out;
  for (int32_t y = 0; y < r.Height(); ++y)
    out.insert(out.end(), r.Row(y), r.Row(y) + r.Width() * r.PixelBytes());
  return out;
}

// A raster behind the scaler's row interface.
class RasterRows final : public RowImage {
 public:
  explicit RasterRows(Raster& r) : r_(r) {}
  int32_t Channels() const override { return r_.Channels(); }
  int32_t BytesPerSample() const override { return static_cast<int32_t>(r_.BytesPerSample()); }
  void Size(int32_t& width, int32_t& height) const override {
    width = r_.Width();
    height = r_.Height();
  }
  void ReadRow(int32_t row, int32_t left, int32_t count, void* out) override {
    std::memcpy(out, r_.Row(row) + left * r_.PixelBytes(), static_cast<std::size_t>(count) * r_.PixelBytes());
  }
  void WriteRow(int32_t row, int32_t byteOffset, int32_t count, const void* in) override {
    std::memcpy(r_.Row(row) + byteOffset, in, static_cast<std::size_t>(count) * r_.PixelBytes());
  }

 private:
  Raster& r_;
};

struct Operation {
  const char* name;
  std::function<std::vector<uint8_t>(bool sixteen)> run;
};

const Rect kInner{5, 9, kHeight - 4, kWidth - 11};
const Quad kSkewed{{{40.5, -20}, {590, 30}, {560, 400}, {-15, 300}}};

std::vector<Operation> Operations() {
  return {
      {"spot mask",
       [](bool s) {
         RasterRef m = MakeRaster(kWidth, kHeight, 1, s ? 2 : 1);
         m->Fill(0);
         MakeSpotMask(*m, kInner, {3, -7}, {300, 160, 347, 0.1, 0.9, 0.4, 0.7});
         return Bytes(*m);
       }},
      {"noise mask, multiplied",
       [](bool s) {
         RasterRef m = MakeRaster(kWidth, kHeight, 1, s ? 2 : 1);
         m->Fill(0);
         MakeNoiseMask(*m, kInner, {100, 50}, 0.7, 0.8, 3.5, 2.5);
         MultiplyMask(*m, *Picture(1, s, 9), kInner);
         return Bytes(*m);
       }},
      {"blends and darkening through a mask",
       [](bool s) {
         RasterRef a = Picture(4, s, 1), b = Picture(4, s, 2), m = Picture(1, s, 3);
         RasterRef d = Picture(4, s, 4);
         BlendThroughMask(*a, *b, *m, *d, kInner, 0.8f);
         BlendWhereMasked(*d, *a, *m, *b, kInner, 0.6f);
         DarkenThroughMask(*b, *m, kInner, 0.45f);
         std::vector<uint8_t> out = Bytes(*d), more = Bytes(*b);
         out.insert(out.end(), more.begin(), more.end());
         return out;
       }},
      {"warp onto an upright rectangle",
       [](bool s) {
         RasterRef src = Picture(4, s, 5);
         RasterRef d = MakeRaster(kWidth, kHeight, 4, s ? 2 : 1);
         d->Fill(0);
         QuadWarp(*src, *d, kInner, {0, 0}, ImageQuad(kWidth * 2, kHeight * 3), 0.9, 1.0);
         return Bytes(*d);
       }},
      {"warp onto a skewed quadrilateral",
       [](bool s) {
         RasterRef src = Picture(1, s, 6);
         RasterRef d = MakeRaster(kWidth, kHeight, 1, s ? 2 : 1);
         d->Fill(0);
         QuadWarp(*src, *d, d->Bounds(), {-3, 4}, kSkewed, 1.1, 2.0);
         return Bytes(*d);
       }},
      {"shear rotation",
       [](bool s) {
         const PlacedRaster in{Picture(1, s, 7), {10, -4, 10 + kHeight, -4 + kWidth}};
         const PlacedRaster out = ShearRotate(in, {-31, 250, 180});
         const PlacedRaster window = ShearRotate(in, {17, 100, 40}, {0, 20, 300, 500});
         std::vector<uint8_t> bytes = Bytes(*out.raster), more = Bytes(*window.raster);
         bytes.insert(bytes.end(), more.begin(), more.end());
         return bytes;
       }},
      {"film grain, colour and monochrome",
       [](bool s) {
         RasterRef d = Picture(4, s, 8);
         for (bool mono : {false, true})
           for (double size : {1.0, 2.5}) {
             FilmGrain grain;
             grain.SetSizes(size, size * 1.5, 1);
             grain.SetAmounts(40, 25, 60);
             grain.SetSoftness(0, 1.5, 0);
             grain.SetScale(1, 1);
             GrainTile tile{kWidth, kHeight, {0, 0}, 0, 1};
             grain.Render(*d, kInner, tile, mono);
           }
         return Bytes(*d);
       }},
      {"scaling down and up",
       [](bool s) {
         RasterRef src = Picture(4, s, 10);
         RasterRows in(*src);
         RasterRef small = MakeRaster(233, 141, 4, s ? 2 : 1);
         RasterRef big = MakeRaster(1500, 200, 4, s ? 2 : 1);
         RasterRows down(*small), up(*big);
         Scale(in, {0, 0, kWidth - 1, kHeight - 1}, down, {0, 0, 232, 140}, *FindFilter("mitchell"),
               *FindFilter("triangle"));
         Scale(in, {3, 5, kWidth - 2, kHeight - 9}, up, {0, 0, 1499, 199}, *FindFilter("catrom"),
               *FindFilter("gaussian"));
         std::vector<uint8_t> bytes = Bytes(*small), more = Bytes(*big);
         bytes.insert(bytes.end(), more.begin(), more.end());
         return bytes;
       }},
  };
}

TEST(SplitAmongThreads, EveryOperationGivesTheSameSamples) {
  for (const Operation& op : Operations()) {
    for (bool sixteen : {false, true}) {
      SetThreadCount(1);
      const std::vector<uint8_t> reference = op.run(sixteen);
      for (int32_t threads : {2, 7}) {
        SetThreadCount(threads);
        EXPECT_TRUE(op.run(sixteen) == reference)
            << op.name << ", " << (sixteen ? 16 : 8) << "-bit, " << threads << " threads";
      }
    }
  }
  SetThreadCount(0);
}

}  // namespace
}  // namespace fx
