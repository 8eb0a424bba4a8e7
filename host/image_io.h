// Reading and writing the stand-in host's documents as image files, through
// OpenImageIO: PNG, JPEG, TIFF, WebP, OpenEXR, DPX and the other formats it
// reads, the format taken from the file's bytes.
//
// Samples: 8-bit documents hold 0..255, 16-bit documents 0..32768, while 16-bit
// files hold 0..65535. The two 16-bit mappings below are exact inverses for
// every document sample, so a 16-bit PNG or TIFF carries a document without loss.
//
// Reading takes pixel values exactly as stored: no colour conversion, and
// alpha unassociated (never premultiplied or divided). Files of at most 8 bits
// a sample give an 8-bit document; deeper integer files (10, 12, 16 bits) are
// read at 16 bits, float files at 16 bits with values outside 0..1 clipped
// (and a warning saying so). Grey files are copied to R, G and B and marked
// grey; an alpha channel is kept beside the colour. The metadata that
// describes the picture (ICC profile, EXIF, GPS, XMP, IPTC, resolution,
// orientation) is kept for the output; orientation is not applied.
//
// Size limit: each side 1..kMaxImageSide and at most kMaxImagePixels pixels,
// checked from the header before any pixel is decoded, so a hostile header
// cannot make the host decode or allocate without bound.
//
// Errors never throw: the functions return false and set `error` to one line
// "<path>: <reason>"; a failed read leaves `out` as it was.
#pragma once

#include <cstdint>
#include <string>

#include "host/document.h"

namespace standin {

inline constexpr int32_t kMaxImageSide = 65535;
inline constexpr int64_t kMaxImagePixels = int64_t{1} << 27;  // 134 million pixels

// 16-bit file sample (0..65535) to document sample (0..32768).
constexpr uint16_t FileToDocument16(uint32_t u) { return static_cast<uint16_t>((u * 32768u + 32767u) / 65535u); }
// 16-bit document sample (0..32768) to file sample (0..65535).
constexpr uint16_t DocumentToFile16(uint32_t v) { return static_cast<uint16_t>((v * 65535u + 16384u) / 32768u); }
// 8-bit sample to 16-bit document sample: trunc(s * 128.5 + 0.5), 255 -> 32768.
constexpr uint16_t Sample8To16(uint32_t s) { return static_cast<uint16_t>(s * 128.5 + 0.5); }
// 16-bit document sample to 8-bit sample, rounded to nearest:
// (v * 255 + 16384) / 32768. Inverts Sample8To16 for every 8-bit value.
constexpr uint16_t Sample16To8(uint32_t v) { return static_cast<uint16_t>((v * 255u + 16384u) / 32768u); }

bool ReadImage(const std::string& path, Document& out, std::string& error);
// The same; `warning` says what reading changed (clipped float values), or
// is empty.
bool ReadImage(const std::string& path, Document& out, std::string& error, std::string& warning);
struct ReadOptions {
  // A lower size limit than the host's (kept within 1..kMaxImagePixels):
  // for callers that must stay small, such as the fuzz target under the
  // sanitizers, where a legitimately large picture is merely slow.
  int64_t maxPixels = kMaxImagePixels;
};
bool ReadImage(const std::string& path, Document& out, std::string& error, std::string& warning,
               const ReadOptions& options);

struct WriteOptions {
  int quality = 95;  // lossy formats, 1..100
};

// Format by the path's extension (any OpenImageIO writes). The document's
// depth is kept where the format can hold it (8-bit JPEG gets a 16-bit
// document through Sample16To8; float formats get v / 32768), its alpha is
// written unassociated, a document read grey whose pixels are all still grey
// is written grey, and the metadata it was read with is copied. A document
// whose sample count does not match its size, whose depth is not 8 or 16,
// or whose size is beyond the reading limit is refused; samples above the
// full scale are written as full scale. A file left incomplete by a failed
// write is removed.
bool WriteImage(const std::string& path, const Document& doc, std::string& error, const WriteOptions& options = {});

// Whether WriteImage writes path's format (by its extension); the text says
// why not, or what it will do to a document of that depth (empty: nothing).
std::string OutputFormatNote(const std::string& path, int depth, bool& writable);

// The document at another depth (8 or 16), sample by sample with Sample8To16 or
// Sample16To8, alpha likewise; samples above the full scale count as full
// scale. Any other depth, or the document's own, returns a copy.
Document ConvertDepth(const Document& doc, int depth);

}  // namespace standin
