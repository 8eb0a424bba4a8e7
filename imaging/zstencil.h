// The targets a ZRenderer paints into. A ZStencil accumulates coverage in a
// one-channel raster (8 or 16-bit, full coverage = full scale) like an
// "over" of grey levels; a ZColorStencil paints a colour through the
// coverage onto a four-channel raster. Both clip to their bounds.
#pragma once

#include <cstdint>

#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx {

class ZStencil {
 public:
  // Bounds of a new stencil: no limit beyond the target's own.
  static constexpr int32_t kUnbounded = 1073741824;

  // The target must have one channel of 8 or 16 bits (std::invalid_argument
  // otherwise). The stencil holds a reference to it.
  explicit ZStencil(Raster& target);
  virtual ~ZStencil();
  ZStencil(const ZStencil&) = delete;
  ZStencil& operator=(const ZStencil&) = delete;

  // 0..255 (clamped); coverage is scaled by opacity / 255.
  void SetOpacity(int32_t opacity);
  int32_t Opacity() const { return opacity_; }

  // Limits painting to a rectangle of the target.
  void SetBounds(const Rect& bounds) { bounds_ = bounds; }
  // Where the renderer may paint: the bounds within the target.
  Rect Bounds() const { return bounds_.Intersect(target_->Bounds()); }
  Raster& Target() const { return *target_; }

  // Writes coverage 0..255 to columns x0..x1-1 of row y (one value), or to
  // count columns from x (one value each). The caller keeps within Bounds().
  virtual void WriteSpan(int32_t y, int32_t x0, int32_t x1, uint8_t coverage);
  virtual void WriteCoverage(int32_t y, int32_t x, const uint8_t* coverage, int32_t count);

 protected:
  ZStencil(Raster& target, int32_t channels);
  // Coverage after the opacity.
  int32_t Scaled(int32_t coverage) const { return coverage * opacity_ / 255; }

  RasterRef target_;
  int32_t opacity_ = 255;
  Rect bounds_{-kUnbounded, -kUnbounded, kUnbounded, kUnbounded};
};

class ZColorStencil : public ZStencil {
 public:
  // The target must have four channels (R, G, B, A) of 8 or 16 bits.
  ZColorStencil(Raster& target, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255);

  // 8-bit colour; on a 16-bit target it is widened (255 to 32768).
  void SetColor(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255);

  // Each pixel gets the colour composited "over" it with alpha
  // a x coverage / 255 (after the opacity).
  void WriteSpan(int32_t y, int32_t x0, int32_t x1, uint8_t coverage) override;
  void WriteCoverage(int32_t y, int32_t x, const uint8_t* coverage, int32_t count) override;

 private:
  uint8_t colour_[4];
};

}  // namespace fx
