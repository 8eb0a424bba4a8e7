#include "imaging/raster.h"

#include <cstring>
#include <cstdlib>
#include <new>

#include "framework/memory.h"

namespace fx {

Raster* Raster::Create(int32_t width, int32_t height, int32_t channels, uint32_t bytesPerSample,
                       int32_t stride, void* externalMemory) {
  Raster* r = new (fx::Allocate(sizeof(Raster))) Raster();
  r->width_ = width;
  r->height_ = height;
  r->channels_ = channels;
  r->bytesPerSample_ = bytesPerSample;
  r->pixelBytes_ = channels * static_cast<int32_t>(bytesPerSample);
  r->hasAlpha_ = channels == 2 || channels == 4;
  r->bounds_ = {0, 0, height, width};
  const int64_t packed =
      static_cast<int64_t>(width > 0 ? width : 0) * channels * static_cast<int64_t>(bytesPerSample);
  r->rowBytes_ = stride != 0 ? static_cast<uint32_t>(stride < 0 ? -static_cast<int64_t>(stride) : stride)
                             : static_cast<uint32_t>(packed);
  r->rowStride_ = stride < 0 ? -static_cast<int32_t>(r->rowBytes_) : static_cast<int32_t>(r->rowBytes_);
  if (externalMemory != nullptr) {
    r->base_ = static_cast<uint8_t*>(externalMemory);
    r->ownsBuffer_ = false;
  } else {
    r->ownsBuffer_ = true;
    if (width > 0 && height > 0) {
      try {
        r->base_ = static_cast<uint8_t*>(fx::Allocate(static_cast<std::size_t>(r->rowBytes_) *
                                                      static_cast<std::size_t>(height)));
      } catch (...) {
        r->ownsBuffer_ = false;
        DestroyRecord(r);
        throw;
      }
    }
  }
  r->firstRow_ = r->base_;
  if (r->rowStride_ < 0 && height > 0 && r->base_ != nullptr)
    r->firstRow_ = r->base_ + static_cast<std::ptrdiff_t>(height - 1) * r->rowBytes_;
  return r;
}

Raster::~Raster() {
  if (ownsBuffer_) fx::Free(base_);
}

void Raster::DestroyRecord(Raster* r) {
  r->~Raster();
  fx::Free(r);
}

void Raster::Release() {
  if (--refCount_ == 0) DestroyRecord(this);
}

void Raster::CopyFrom(const Raster& other) {
  if (&other == this || base_ == nullptr || other.base_ == nullptr) return;
  if (rowStride_ == other.rowStride_ && rowBytes_ == other.rowBytes_) {
    std::memcpy(base_, other.base_, static_cast<std::size_t>(rowBytes_) * height_);
    return;
  }
  const std::size_t bytes = std::min(rowBytes_, other.rowBytes_);
  for (int32_t y = 0; y < height_ && y < other.height_; ++y) std::memcpy(Row(y), other.Row(y), bytes);
}

void Raster::CopyRect(const Raster& source, const Rect& sourceRect, int32_t column, int32_t row) {
  if (&source == this || sourceRect.Empty()) return;
  const std::size_t bytes = static_cast<std::size_t>(sourceRect.Width()) * pixelBytes_;
  for (int32_t y = sourceRect.top; y < sourceRect.bottom; ++y) {
    std::memcpy(Row(row + y - sourceRect.top) + static_cast<std::ptrdiff_t>(column) * pixelBytes_,
                source.Row(y) + static_cast<std::ptrdiff_t>(sourceRect.left) * source.pixelBytes_, bytes);
  }
}

void Raster::CopyRows(const Raster& source, const Rect& rect) {
  CopyRect(source, rect, rect.left, rect.top);
}

void Raster::Fill(uint8_t byteValue) {
  if (base_ != nullptr) std::memset(base_, byteValue, static_cast<std::size_t>(rowBytes_) * height_);
}

}  // namespace fx
