// The kernel Vari-Star stamps around every selected pixel: a star of n
// spokes filled by the path rasterizer into a one-channel 8-bit raster, and
// the list of its non-zero taps, so that stamping visits only those.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "imaging/raster.h"
#include "imaging/rect.h"

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

  // star = max(star, k v / 255) for every tap k and every pixel v of the
  // one-channel matte over `from`, laid at the pixel's offset by the tap:
  // the brightest stamp wins wherever stamps overlap, whatever the order.
  // Only the star's pixels within `into` are written. Matte and star have
  // one depth. Rows of `into` are shared among the workers, each row
  // written by one worker alone; between blocks of pollRows of them this
  // thread asks `cancelled`, and a true answer stops stamping: false.
  bool Stamp(const Raster& matte, const Rect& from, Raster& star, const Rect& into, int32_t pollRows,
             const std::function<bool()>& cancelled) const;

 private:
  // Taps [begin, end) all lie on kernel row dy.
  struct Row {
    int32_t dy;
    int32_t begin;
    int32_t end;
  };
  template <class S>
  bool StampAs(const Raster& matte, const Rect& from, Raster& star, const Rect& into, int32_t pollRows,
               const std::function<bool()>& cancelled) const;

  bool built_ = false;
  StarShape shape_;
  int32_t side_ = 0;
  RasterRef image_;
  std::vector<Tap> taps_;
  std::vector<Row> rows_;
};

// out[i] = max(out[i], k m[i] / 255) for i < count, k in 0..255: one tap
// laid along a run of a matte row.
void MaxScaledRun(uint8_t* out, const uint8_t* m, int32_t count, int32_t k);
void MaxScaledRun(uint16_t* out, const uint16_t* m, int32_t count, int32_t k);

// For tests: the most stamping may use of the processor's vector
// instructions (0 the baseline set, 1 AVX2, the default); both give the
// same samples.
void LimitStampInstructionSet(int32_t level);
bool StampUsesAvx2();

}  // namespace fx
