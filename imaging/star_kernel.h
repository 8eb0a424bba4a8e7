// The kernel Vari-Star stamps around every selected pixel: a star of n
// spokes filled by the path rasterizer into a one-channel 8-bit raster, and
// the list of its non-zero taps, so that stamping visits only those.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imaging/raster.h"

namespace fx {

struct StarShape {
  int32_t spokes = 4;
  double outer = 0;    // tip distance R, pixels
  double inner = 0;    // notch distance r, pixels
  double degrees = 0;  // turn of the whole star, clockwise on the image
  friend bool operator==(const StarShape&, const StarShape&) = default;
};

class StarKernel {
 public:
  struct Tap {
    int32_t dx;
    int32_t dy;
    int32_t k;  // 1..255
  };

  // Rebuilds the kernel when the shape differs from the one it holds. R and
  // r are taken as at least 0.01. The side is odd, 2 ceil(R + r) + 1, the
  // star centred on its middle pixel: spoke i's tip lies at angle
  // i 360 / n - 90 + degrees and distance R, its notches at half a spoke's
  // angle either side and distance r, all filled with 255.
  void Build(const StarShape& shape);

  int32_t Side() const { return side_; }
  int32_t Half() const { return side_ / 2; }
  const Raster* Image() const { return image_.get(); }
  // The taps with k > 0, offsets from the middle pixel, row by row.
  std::span<const Tap> Taps() const { return taps_; }

 private:
  bool built_ = false;
  StarShape shape_;
  int32_t side_ = 0;
  RasterRef image_;
  std::vector<Tap> taps_;
};

}  // namespace fx
