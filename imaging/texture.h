// Greyscale texture pictures (PNG or JPEG files) loaded into a one-channel
// raster of the depth the render works in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "imaging/raster.h"

namespace fx {

// Limits on what a texture file may claim, checked before anything is
// allocated for it: a header is only a few bytes, and a hostile one could
// otherwise ask for gigabytes.
// Textures are pictures of a few thousand pixels a side.
inline constexpr int32_t kMaxTextureSide = 8192;
inline constexpr int64_t kMaxTexturePixels = int64_t{kMaxTextureSide} * kMaxTextureSide;  // 128 MiB at 16 bits
inline constexpr int64_t kMaxTextureFileBytes = int64_t{1} << 28;
// Work memory libjpeg may take beyond the raster (whole-image coefficient
// buffers of multi-scan files), and the number of scans it may read: real
// progressive files have about ten, crafted ones can have thousands.
inline constexpr long kMaxJpegDecoderMemory = 512L << 20;
inline constexpr int kMaxJpegScans = 100;

// Loads a PNG or JPEG file into one channel of 8-bit samples (0..255), or of
// 16-bit samples (0..32768) when sixteenBit is set. PNG files must be
// greyscale (16-bit ones are cut to 8 bits first); colour JPEG files give the
// average of R, G and B. Null when the file cannot be read, is not a
// supported picture, is damaged or ends early, or is too large.
RasterRef LoadTexture(const char* path, bool sixteenBit);

// The same for a file's whole content already in memory.
RasterRef DecodeTexture(std::span<const uint8_t> file, bool sixteenBit);

// The texture an effect uses, kept with the file and depth it came from and
// loaded again only when either changes. A failed load is kept as well, so
// that a missing file is not looked for again in every band.
class TextureCache {
 public:
  // The texture of path at the given depth, or null when there is none.
  Raster* Get(const char* path, bool sixteenBit);
  void Clear();

 private:
  bool valid_ = false;
  bool sixteenBit_ = false;
  std::string path_;
  RasterRef raster_;
};

}  // namespace fx
