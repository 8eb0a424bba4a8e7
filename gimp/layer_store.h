// The pixels of an editor layer as the stand-in host's pixel store: the
// layer's buffer is the source, its shadow buffer the result, both moved by
// rectangles in perceptual 8- or 16-bit RGBA. Alpha is carried from the
// source to the result untouched; a layer without one reads opaque and drops
// it when written.
#pragma once

#include <gegl.h>

#include <cstdint>
#include <vector>

#include "host/standin_host.h"

namespace ovra_gimp {

class LayerStore final : public standin::PixelStore {
 public:
  // depth 8 or 16; the shadow's `area` starts as a copy of the source so
  // that the result reads as the source where nothing was written yet.
  LayerStore(GeglBuffer* source, GeglBuffer* shadow, int32_t depth, const GeglRectangle& area);
  ~LayerStore() override = default;
  LayerStore(const LayerStore&) = delete;
  LayerStore& operator=(const LayerStore&) = delete;

  void ReadSource(const VRect& r, uint16_t* samples) override;
  void ReadResult(const VRect& r, uint16_t* samples) override;
  void WriteResult(const VRect& r, const uint16_t* samples) override;
  // Writes what is still held back into the shadow buffer.
  void Flush();

 private:
  // The rectangle last read from or written to the shadow, raw RGBA in the
  // transfer format: the module moves one channel of it at a time.
  struct Pending {
    GeglRectangle rect{0, 0, 0, 0};
    std::vector<uint8_t> raw;
    bool dirty = false;
  };
  void Load(GeglBuffer* buffer, const VRect& r, std::vector<uint8_t>& raw) const;
  void HoldResult(const VRect& r);
  void ToSamples(const std::vector<uint8_t>& raw, uint16_t* samples) const;

  GeglBuffer* source_;
  GeglBuffer* shadow_;
  int32_t depth_;
  const Babl* format_;
  std::vector<uint8_t> scratch_;
  Pending pending_;
};

}  // namespace ovra_gimp
