#include "host/png_exif.h"

#include <OpenImageIO/tiffutils.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

namespace standin {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

uint32_t ReadBe32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// Whether the spec carries a tag the EXIF block holds: EXIF and GPS tags by
// their prefix, and the TIFF tags of the main directory a camera writes.
bool HasExifTags(const OIIO::ImageSpec& spec) {
  static const char* const kTiffTags[] = {"Make", "Model", "Artist", "Copyright", "DateTime", "Orientation"};
  for (const OIIO::ParamValue& p : spec.extra_attribs) {
    const std::string name = p.name().string();
    if (name.rfind("Exif:", 0) == 0 || name.rfind("GPS:", 0) == 0) return true;
    for (const char* tag : kTiffTags)
      if (name == tag) return true;
  }
  return false;
}

}  // namespace

bool AddPngExif(const std::string& path, const OIIO::ImageSpec& spec, std::string& reason) {
  if (!HasExifTags(spec)) return true;
  std::vector<char> blob;
  OIIO::encode_exif(spec, blob);
  // The chunk holds the TIFF structure itself, without the "Exif\0\0" of JPEG.
  if (blob.size() >= 6 && std::memcmp(blob.data(), "Exif\0\0", 6) == 0) blob.erase(blob.begin(), blob.begin() + 6);
  if (blob.size() < 8 || blob.size() > 0x7fffffffu) return true;

  std::vector<uint8_t> file;
  {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      reason = "cannot read the written file back";
      return false;
    }
    file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) {
    reason = "not a PNG file";
    return false;
  }
  // Walk the chunks to the first image data; an eXIf must come before it.
  std::size_t at = 8;
  std::size_t firstData = 0;
  while (at + 12 <= file.size()) {
    const uint32_t length = ReadBe32(&file[at]);
    if (length > file.size() - at - 12) break;
    const uint8_t* type = &file[at + 4];
    if (std::memcmp(type, "eXIf", 4) == 0) return true;
    if (std::memcmp(type, "IDAT", 4) == 0) {
      firstData = at;
      break;
    }
    at += 12 + std::size_t{length};
  }
  if (firstData == 0) {
    reason = "PNG file without image data";
    return false;
  }

  std::vector<uint8_t> chunk;
  chunk.reserve(blob.size() + 12);
  PutBe32(chunk, static_cast<uint32_t>(blob.size()));
  for (char c : std::string_view("eXIf")) chunk.push_back(static_cast<uint8_t>(c));
  chunk.insert(chunk.end(), blob.begin(), blob.end());
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
  PutBe32(chunk, static_cast<uint32_t>(crc));
  file.insert(file.begin() + static_cast<std::ptrdiff_t>(firstData), chunk.begin(), chunk.end());

  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    reason = "cannot rewrite the file: " + std::string(std::strerror(errno));
    return false;
  }
  const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  const bool closed = std::fclose(out) == 0;
  if (!written || !closed) {
    reason = "cannot rewrite the file";
    return false;
  }
  return true;
}

}  // namespace standin
