// An in-memory RGB document of the stand-in host: 8-bit samples 0..255 or
// 16-bit samples 0..32768, three interleaved channels per pixel.
#pragma once

#include <cstdint>
#include <vector>

namespace standin {

struct Document {
  int32_t width = 0;
  int32_t height = 0;
  int32_t depth = 8;  // bits per sample: 8 or 16
  // width * height * 3 samples, rows top-down. 8-bit documents use the low
  // byte range 0..255; 16-bit documents 0..32768.
  std::vector<uint16_t> samples;

  static Document Make(int32_t width, int32_t height, int32_t depth) {
    Document d;
    d.width = width;
    d.height = height;
    d.depth = depth;
    d.samples.assign(static_cast<std::size_t>(width) * height * 3, 0);
    return d;
  }
  int32_t FullScale() const { return depth == 16 ? 32768 : 255; }
  uint16_t& At(int32_t x, int32_t y, int c) {
    return samples[(static_cast<std::size_t>(y) * width + x) * 3 + c];
  }
  uint16_t At(int32_t x, int32_t y, int c) const {
    return samples[(static_cast<std::size_t>(y) * width + x) * 3 + c];
  }
  friend bool operator==(const Document&, const Document&) = default;
};

}  // namespace standin
