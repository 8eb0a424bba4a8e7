// Reading and writing the stand-in host's documents as PNG, JPEG and TIFF files.
//
// Samples: 8-bit documents hold 0..255, 16-bit documents 0..32768, while 16-bit
// files hold 0..65535. The two 16-bit mappings below are exact inverses for
// every document sample, so a 16-bit PNG or TIFF carries a document without loss.
//
// Reading picks the format from the file's first bytes, never its extension:
//   PNG   1, 2, 4, 8 and 16 bits, grey, grey+alpha, RGB, RGBA and palette.
//         Bit depths below 8 and palettes give an 8-bit document; 16-bit files
//         a 16-bit one. Grey is copied to R, G and B; alpha and transparency
//         are dropped; gamma and colour chunks are ignored (samples are taken
//         as stored).
//   JPEG  8-bit precision; grey is copied to R, G and B; CMYK and YCCK are
//         converted without colour management by
//         R = ((255 - C) * (255 - K) + 127) / 255 (likewise G from M, B from Y;
//         files with the Adobe marker store the inks inverted, which is taken
//         into account). Data that ends early or is damaged so that pixels are
//         lost is refused rather than padded with grey.
//   TIFF  8 or 16 bits per sample, unsigned integer samples, grey
//         (min-is-black or min-is-white) or RGB, strips or tiles, contiguous
//         or separate planes, any compression libtiff decodes. Extra samples
//         (alpha) are dropped and colours taken as stored, premultiplied or
//         not. Only the first image of the file is read; the orientation tag
//         is ignored (rows are taken top-down).
// Everything else (palette or CMYK TIFF, 12-bit JPEG, ...) is refused.
//
// Size limit: each side 1..kMaxImageSide and at most kMaxImagePixels pixels
// (a 1.5 GiB sample buffer), checked from the header before any pixel buffer
// is allocated, so a hostile header cannot make the host allocate without bound.
//
// Errors never throw: the functions return false and set `error` to one line
// "<path>: <reason>"; a failed read leaves `out` as it was.
#pragma once

#include <cstdint>
#include <string>

#include "host/document.h"

namespace standin {

inline constexpr int32_t kMaxImageSide = 65535;
inline constexpr int64_t kMaxImagePixels = int64_t{1} << 28;

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

// Format by the path's extension, case-insensitive: .png (at the document's
// depth), .jpg/.jpeg (8-bit, quality 92; a 16-bit document is converted with
// Sample16To8), .tif/.tiff (RGB at the document's depth, deflate-compressed).
// A document whose sample count does not match its size, whose depth is not 8
// or 16, or whose size is beyond the reading limit is refused; samples above
// the full scale are written as full scale. A file left incomplete by a failed
// write is removed.
bool WriteImage(const std::string& path, const Document& doc, std::string& error);

// Whether WriteImage writes path's format (by its extension); the text says
// why not, or what it will do to a document of that depth (empty: nothing).
std::string OutputFormatNote(const std::string& path, int depth, bool& writable);

// The document at another depth (8 or 16), sample by sample with Sample8To16 or
// Sample16To8; samples above the full scale count as full scale. Any other
// depth, or the document's own, returns a copy.
Document ConvertDepth(const Document& doc, int depth);

}  // namespace standin
