// An in-memory RGB document of the stand-in host: 8-bit samples 0..255 or
// 16-bit samples 0..32768, three interleaved channels per pixel, with the
// file's alpha channel and what the file said beside its pixels carried along.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace standin {

// The metadata of the file a document was read from (ICC profile, EXIF,
// XMP, IPTC, resolution), defined by the image files' code.
struct ImageMetadata;

struct Document {
  int32_t width = 0;
  int32_t height = 0;
  int32_t depth = 8;  // bits per sample: 8 or 16
  // width * height * 3 samples, rows top-down. 8-bit documents use the low
  // byte range 0..255; 16-bit documents 0..32768.
  std::vector<uint16_t> samples;
  // width * height alpha samples on the same scale, or empty when the file
  // had no alpha. The filters render colour; alpha is carried through
  // unchanged, as the module carries it.
  std::vector<uint16_t> alpha;
  // Read from a grey file: written back grey when every pixel still is.
  bool grey = false;
  std::shared_ptr<const ImageMetadata> metadata;

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
  // The same picture: size, depth, colour and alpha (not where it came from).
  friend bool operator==(const Document& a, const Document& b) {
    return a.width == b.width && a.height == b.height && a.depth == b.depth && a.samples == b.samples &&
           a.alpha == b.alpha;
  }
};

}  // namespace standin
