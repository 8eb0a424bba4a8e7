#include "gimp/layer_store.h"

#include <cstring>

#include "host/image_io.h"

namespace ovra_gimp {
namespace {

GeglRectangle ToGegl(const VRect& r) {
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

bool Same(const GeglRectangle& a, const GeglRectangle& b) {
  return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

std::size_t Pixels(const GeglRectangle& r) {
  return static_cast<std::size_t>(r.width) * r.height;
}

}  // namespace

LayerStore::LayerStore(GeglBuffer* source, GeglBuffer* shadow, int32_t depth, const GeglRectangle& area)
    : source_(source),
      shadow_(shadow),
      depth_(depth),
      format_(babl_format(depth == 16 ? "R'G'B'A u16" : "R'G'B'A u8")) {
  gegl_buffer_copy(source_, &area, GEGL_ABYSS_NONE, shadow_, &area);
}

void LayerStore::Load(GeglBuffer* buffer, const VRect& r, std::vector<uint8_t>& raw) const {
  const GeglRectangle rect = ToGegl(r);
  raw.resize(Pixels(rect) * 4 * (depth_ == 16 ? 2 : 1));
  if (!raw.empty())
    gegl_buffer_get(buffer, &rect, 1.0, format_, raw.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
}

void LayerStore::ToSamples(const std::vector<uint8_t>& raw, uint16_t* samples) const {
  const std::size_t pixels = raw.size() / (depth_ == 16 ? 8 : 4);
  if (depth_ == 16) {
    for (std::size_t p = 0; p < pixels; ++p)
      for (int c = 0; c < 3; ++c) {
        uint16_t u;
        std::memcpy(&u, raw.data() + (p * 4 + c) * 2, 2);
        samples[p * 3 + c] = standin::FileToDocument16(u);
      }
  } else {
    for (std::size_t p = 0; p < pixels; ++p)
      for (int c = 0; c < 3; ++c) samples[p * 3 + c] = raw[p * 4 + c];
  }
}

void LayerStore::ReadSource(const VRect& r, uint16_t* samples) {
  Load(source_, r, scratch_);
  ToSamples(scratch_, samples);
}

void LayerStore::HoldResult(const VRect& r) {
  const GeglRectangle rect = ToGegl(r);
  if (Same(rect, pending_.rect) && !pending_.raw.empty()) return;
  Flush();
  Load(shadow_, r, pending_.raw);
  pending_.rect = rect;
}

void LayerStore::ReadResult(const VRect& r, uint16_t* samples) {
  HoldResult(r);
  ToSamples(pending_.raw, samples);
}

void LayerStore::WriteResult(const VRect& r, const uint16_t* samples) {
  HoldResult(r);
  const std::size_t pixels = Pixels(pending_.rect);
  uint8_t* raw = pending_.raw.data();
  if (depth_ == 16) {
    for (std::size_t p = 0; p < pixels; ++p)
      for (int c = 0; c < 3; ++c) {
        const uint16_t u = standin::DocumentToFile16(samples[p * 3 + c]);
        std::memcpy(raw + (p * 4 + c) * 2, &u, 2);
      }
  } else {
    for (std::size_t p = 0; p < pixels; ++p)
      for (int c = 0; c < 3; ++c) raw[p * 4 + c] = static_cast<uint8_t>(samples[p * 3 + c]);
  }
  if (pixels > 0) pending_.dirty = true;
}

void LayerStore::Flush() {
  if (!pending_.dirty) return;
  gegl_buffer_set(shadow_, &pending_.rect, 0, format_, pending_.raw.data(), GEGL_AUTO_ROWSTRIDE);
  pending_.dirty = false;
}

}  // namespace ovra_gimp
