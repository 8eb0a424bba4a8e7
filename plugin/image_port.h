// Moving pixels between the host and memory: tile buffers and the two
// transfer paths (channel ports at 8 and 16 bits, or the host's interleaved
// planes through advance-state, at the document's depth).
#pragma once

#include <cstdint>

#include "imaging/raster.h"
#include "imaging/rect.h"
#include "plugin/protocol/filter_record.h"

namespace ps {

class HostImagePort;

// The protocol's pixel memory descriptor of one channel, plus its type.
struct ChannelDesc {
  PixelMemoryDesc memory;
  int16_t channelType = 0;
};

// Interleaved R, G, B, A memory of one rectangle, rows top-down, no padding.
struct TileBuffer {
  HostImagePort* owner = nullptr;
  fx::Rect rect;
  ChannelDesc channels[4];
  int32_t bytesPerSample = 1;
  int32_t rowBytes = 0;
  int32_t pixelBytes = 0;
  int16_t imageMode = 0;
  uint8_t* data = nullptr;
  BufferID hostBufferId = nullptr;
  char* suiteBuffer = nullptr;
  uint32_t size = 0;

  int32_t Width() const { return rect.Width(); }
  int32_t Height() const { return rect.Height(); }
  // A raster over the buffer's memory (not owning it).
  fx::RasterRef Wrap() const;
  void Clear();
};

class HostImagePort {
 public:
  explicit HostImagePort(FilterRecord* record);
  ~HostImagePort();
  HostImagePort(const HostImagePort&) = delete;
  HostImagePort& operator=(const HostImagePort&) = delete;

  // A zero-filled buffer of rect's size, 4 channels (3 are made 4). Raises
  // -108 when the memory cannot be had, a service failure when the buffer
  // service cannot be acquired.
  TileBuffer* Allocate(const fx::Rect& rect, int32_t channels, int32_t bytesPerSample,
                       int16_t imageMode);
  void Release(TileBuffer* buffer);

  // Fallback path only: sets the host's rectangles and planes and advances.
  void Request(const fx::Rect& inputRect, const fx::Rect& outputRect);
  // Fills the buffer from host rectangle rect (buffer row i = host row
  // rect.top + i).
  void Read(TileBuffer& buffer, const fx::Rect& rect);
  // Writes buffer rows and columns from offset on to host rectangle outputRect.
  void Write(const TileBuffer& buffer, const fx::Rect& outputRect, int32_t offsetRows,
             int32_t offsetColumns);
  // Fills the buffer with sourceRect of the host image scaled to the size of
  // destinationRect (8-bit).
  void ReadScaled(TileBuffer& buffer, const fx::Rect& sourceRect, const fx::Rect& destinationRect);

  bool UseChannelPorts() const { return useChannelPorts_; }
  int32_t ChannelCount() const { return channelCount_; }
  int64_t BytesInUse() const { return bytesInUse_; }
  FilterRecord* Record() const { return record_; }

 private:
  // The channel list the ports path moves, in order.
  ReadChannelDesc* Channels() const;
  void FallbackCopyIn(TileBuffer& buffer, int32_t rows, int32_t columns);

  FilterRecord* record_;
  int32_t channelCount_ = 0;
  int64_t bytesInUse_ = 0;
  bool useChannelPorts_ = false;
};

}  // namespace ps
