// The in-memory image every operation works on: 1 or 4 interleaved channels
// (2 accepted) of 8-bit (0..255) or 16-bit (0..32768) samples, with a signed
// row stride so that bottom-up memory can be wrapped as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "imaging/rect.h"

namespace fx {

class Raster {
 public:
  // Owned memory when externalMemory is null (uninitialised, allocated only
  // when width and height are positive). stride 0 packs rows back to back;
  // a negative stride makes the rows bottom-up.
  static Raster* Create(int32_t width, int32_t height, int32_t channels, uint32_t bytesPerSample,
                        int32_t stride = 0, void* externalMemory = nullptr);

  // Reference counting: a new raster has count 1.
  void Acquire() { ++refCount_; }
  void Release();
  int32_t RefCount() const { return refCount_; }

  uint8_t* Row(int32_t y) { return firstRow_ + static_cast<std::ptrdiff_t>(y) * rowStride_; }
  const uint8_t* Row(int32_t y) const {
    return firstRow_ + static_cast<std::ptrdiff_t>(y) * rowStride_;
  }
  template <class S>
  S* RowAs(int32_t y) {
    return reinterpret_cast<S*>(Row(y));
  }
  template <class S>
  const S* RowAs(int32_t y) const {
    return reinterpret_cast<const S*>(Row(y));
  }
  uint8_t* Pixel(int32_t x, int32_t y) { return Row(y) + static_cast<std::ptrdiff_t>(x) * pixelBytes_; }

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t Channels() const { return channels_; }
  uint32_t BytesPerSample() const { return bytesPerSample_; }
  bool Is16Bit() const { return bytesPerSample_ == 2; }
  int32_t PixelBytes() const { return pixelBytes_; }
  uint32_t RowBytes() const { return rowBytes_; }
  int32_t RowStride() const { return rowStride_; }
  bool HasAlpha() const { return hasAlpha_; }
  bool OwnsBuffer() const { return ownsBuffer_; }
  const Rect& Bounds() const { return bounds_; }
  uint8_t* Base() { return base_; }

  // Same-sized rasters; onto itself does nothing.
  void CopyFrom(const Raster& other);
  // Copies sourceRect of source with its top-left corner at (column, row).
  void CopyRect(const Raster& source, const Rect& sourceRect, int32_t column, int32_t row);
  // CopyRect at the same coordinates in both rasters.
  void CopyRows(const Raster& source, const Rect& rect);
  // Sets every byte of the block.
  void Fill(uint8_t byteValue);

  Raster(const Raster&) = delete;
  Raster& operator=(const Raster&) = delete;

 private:
  Raster() = default;
  ~Raster();
  static void DestroyRecord(Raster* r);

  uint8_t* base_ = nullptr;
  uint8_t* firstRow_ = nullptr;
  int32_t refCount_ = 1;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t channels_ = 0;
  uint32_t bytesPerSample_ = 1;
  int32_t pixelBytes_ = 0;
  uint32_t rowBytes_ = 0;
  int32_t rowStride_ = 0;
  bool hasAlpha_ = false;
  bool ownsBuffer_ = false;
  Rect bounds_;
};

// Holds one reference to a raster.
class RasterRef {
 public:
  RasterRef() = default;
  // Adopts a raster that already carries the reference (as Create returns it).
  static RasterRef Adopt(Raster* r) {
    RasterRef ref;
    ref.r_ = r;
    return ref;
  }
  static RasterRef Share(Raster* r) {
    if (r) r->Acquire();
    return Adopt(r);
  }
  RasterRef(const RasterRef& o) : r_(o.r_) {
    if (r_) r_->Acquire();
  }
  RasterRef(RasterRef&& o) noexcept : r_(o.r_) { o.r_ = nullptr; }
  RasterRef& operator=(RasterRef o) noexcept {
    std::swap(r_, o.r_);
    return *this;
  }
  ~RasterRef() {
    if (r_) r_->Release();
  }
  Raster* get() const { return r_; }
  Raster* operator->() const { return r_; }
  Raster& operator*() const { return *r_; }
  explicit operator bool() const { return r_ != nullptr; }

 private:
  Raster* r_ = nullptr;
};

inline RasterRef MakeRaster(int32_t width, int32_t height, int32_t channels,
                            uint32_t bytesPerSample) {
  return RasterRef::Adopt(Raster::Create(width, height, channels, bytesPerSample));
}

}  // namespace fx
