#include "host/image_headers.h"

#include <array>
#include <fstream>
#include <vector>

namespace standin {
namespace {

uint32_t Le32(const uint8_t* b) {
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}
uint32_t Be32(const uint8_t* b) {
  return uint32_t{b[3]} | uint32_t{b[2]} << 8 | uint32_t{b[1]} << 16 | uint32_t{b[0]} << 24;
}
int64_t CeilDiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

// ---- OpenEXR -----------------------------------------------------------------
//
// After the magic and version, one header (or, in a multi-part file, a list
// of headers ended by an empty one), each a list of attributes (name, type,
// length, value) ended by an empty name. Then each part's table of chunk
// offsets, eight bytes a chunk, which the decoder allocates whole from what
// the header implies. Attribute values and the tables must fit in the file.

constexpr uint32_t kExrTiledFlag = 0x200, kExrMultipartFlag = 0x1000;

// What one header says about the size of its offset table.
struct ExrPart {
  bool haveWindow = false;
  int64_t width = 0, height = 0;
  int compression = -1;
  bool tiled = false;
  int64_t tileWidth = 0, tileHeight = 0;
  int64_t chunkCount = -1;
};

// Scanlines per chunk of each compression; an unknown one is taken at the
// most the format has, so that no sound file is refused.
int64_t ExrLinesPerChunk(int compression) {
  static constexpr std::array<int64_t, 10> kLines = {1, 1, 1, 16, 32, 16, 32, 32, 32, 256};
  return compression >= 0 && compression < static_cast<int>(kLines.size()) ? kLines[static_cast<std::size_t>(compression)]
                                                                            : 256;
}

std::string CheckExr(std::ifstream& in, int64_t size, uint32_t version, const SizeCheck& checkSize) {
  const bool multipart = (version & kExrMultipartFlag) != 0;
  const auto readName = [&](std::string& name) {
    name.clear();
    for (char c; in.get(c);) {
      if (c == '\0') return true;
      if (name.size() >= 255) return false;
      name.push_back(c);
    }
    return false;
  };
  std::vector<ExrPart> parts;
  for (;;) {
    ExrPart part;
    part.tiled = !multipart && (version & kExrTiledFlag) != 0;
    bool first = true;
    for (std::string name, type;; first = false) {
      if (!readName(name)) return "damaged EXR header";
      if (name.empty()) break;  // the end of this header
      if (!readName(type) || type.empty()) return "damaged EXR header";
      uint8_t b[4];
      if (!in.read(reinterpret_cast<char*>(b), 4)) return "damaged EXR header";
      const int64_t length = static_cast<int32_t>(Le32(b));
      const int64_t at = in.tellg();
      if (length < 0 || length > size - at)
        return "EXR header attribute \"" + name + "\" declares " + std::to_string(length) +
               " bytes, more than the file holds";
      std::vector<uint8_t> value;
      if (length <= 64) {
        value.resize(static_cast<std::size_t>(length));
        if (!in.read(reinterpret_cast<char*>(value.data()), length)) return "damaged EXR header";
      }
      if (name == "dataWindow" && type == "box2i" && length == 16) {
        const int64_t xMin = static_cast<int32_t>(Le32(&value[0])), yMin = static_cast<int32_t>(Le32(&value[4]));
        const int64_t xMax = static_cast<int32_t>(Le32(&value[8])), yMax = static_cast<int32_t>(Le32(&value[12]));
        part.width = xMax - xMin + 1;
        part.height = yMax - yMin + 1;
        if (part.width <= 0 || part.height <= 0) return "EXR data window is empty";
        // The data window sizes the decoder's tables before any check of
        // its own: the size limit applies to it here.
        if (std::string reason = checkSize(static_cast<uint64_t>(part.width), static_cast<uint64_t>(part.height));
            !reason.empty())
          return reason;
        part.haveWindow = true;
      } else if (name == "compression" && type == "compression" && length == 1) {
        part.compression = value[0];
      } else if (name == "tiles" && type == "tiledesc" && length == 9) {
        part.tileWidth = Le32(&value[0]);
        part.tileHeight = Le32(&value[4]);
        if (part.tileWidth == 0 || part.tileHeight == 0) return "EXR tile size is zero";
        part.tiled = true;
      } else if (name == "chunkCount" && type == "int" && length == 4) {
        part.chunkCount = static_cast<int32_t>(Le32(&value[0]));
        if (part.chunkCount < 0) return "EXR chunk count is negative";
      } else if (name == "type" && type == "string") {
        const std::string kind(value.begin(), value.end());
        if (kind == "tiledimage" || kind == "deeptile") part.tiled = true;
      }
      in.seekg(at + length);
    }
    // An empty header ends the list of a multi-part file.
    if (first && multipart) break;
    if (first) return "damaged EXR header";
    parts.push_back(part);
    if (!multipart) break;
  }
  if (parts.empty()) return "EXR file has no parts";

  // Each part's offset table, eight bytes a chunk, must fit in what the
  // file holds after the headers. A mip-mapped file has more chunks than its
  // first level: counting that level only keeps the bound a lower one.
  int64_t chunks = 0;
  for (const ExrPart& part : parts) {
    if (!part.haveWindow) continue;  // the decoder refuses it itself
    int64_t n = part.chunkCount;
    if (n < 0) {
      if (part.tiled)
        n = part.tileWidth > 0 && part.tileHeight > 0
                ? CeilDiv(part.width, part.tileWidth) * CeilDiv(part.height, part.tileHeight)
                : 0;
      else
        n = CeilDiv(part.height, ExrLinesPerChunk(part.compression));
    }
    chunks += n;
    if (chunks > size) break;
  }
  const int64_t tables = in.tellg();
  if (tables < 0 || chunks > (size - tables) / 8)
    return "EXR offset table of " + std::to_string(chunks) + " chunks is larger than the file";
  return {};
}

// ---- DPX -----------------------------------------------------------------------
//
// The file header gives the size of a block of user data, which the decoder
// allocates as declared, and the image header the size of the image.

std::string CheckDpx(std::ifstream& in, int64_t size, bool bigEndian, const SizeCheck& checkSize) {
  uint8_t header[780];
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return "damaged DPX header";
  const auto u32 = [&](std::size_t at) { return bigEndian ? Be32(header + at) : Le32(header + at); };
  const uint32_t userSize = u32(32);
  // All ones is the format's "undefined"; anything else is bytes of the file.
  if (userSize != 0xffffffffu && static_cast<int64_t>(userSize) > size)
    return "DPX user data declares " + std::to_string(userSize) + " bytes, more than the file holds";
  const uint32_t width = u32(772), height = u32(776);
  if (width != 0 && height != 0 && width != 0xffffffffu && height != 0xffffffffu)
    if (std::string reason = checkSize(width, height); !reason.empty()) return reason;
  return {};
}

// ---- PNG -------------------------------------------------------------------
//
// A chunk's buffer is allocated at the length its header declares before
// its bytes are read, so every chunk must fit in the file.

std::string CheckPng(std::ifstream& in, int64_t size) {
  for (int64_t at = 8; at + 8 <= size;) {
    uint8_t header[8];
    in.seekg(at);
    if (!in.read(reinterpret_cast<char*>(header), 8)) return {};
    const int64_t length = Be32(header);
    const std::string type(reinterpret_cast<const char*>(header + 4), 4);
    if (length > size - at - 12)
      return "PNG chunk \"" + type + "\" declares " + std::to_string(length) + " bytes, more than the file holds";
    if (type == "IEND") break;
    at += 12 + length;
  }
  return {};
}

// ---- GIF -------------------------------------------------------------------
//
// The decoder allocates the logical screen whole when it opens the file.

std::string CheckGif(std::ifstream& in, const SizeCheck& checkSize) {
  uint8_t screen[4];
  in.seekg(6);
  if (!in.read(reinterpret_cast<char*>(screen), 4)) return "damaged GIF header";
  const uint32_t width = uint32_t{screen[0]} | uint32_t{screen[1]} << 8;
  const uint32_t height = uint32_t{screen[2]} | uint32_t{screen[3]} << 8;
  return checkSize(width, height);
}

}  // namespace

std::string CheckImageHeader(const std::string& path, const SizeCheck& checkSize) {
  std::ifstream in(path, std::ios::binary);
  uint8_t magic[8];
  if (!in.read(reinterpret_cast<char*>(magic), 8)) return {};
  in.seekg(0, std::ios::end);
  const int64_t size = in.tellg();
  in.seekg(8);
  if (magic[0] == 0x76 && magic[1] == 0x2f && magic[2] == 0x31 && magic[3] == 0x01)
    return CheckExr(in, size, Le32(magic + 4), checkSize);
  // "GIF" and any version: the decoder does not look further.
  if (magic[0] == 'G' && magic[1] == 'I' && magic[2] == 'F') return CheckGif(in, checkSize);
  if (magic[0] == 0x89 && magic[1] == 'P' && magic[2] == 'N' && magic[3] == 'G') return CheckPng(in, size);
  if (magic[0] == 'S' && magic[1] == 'D' && magic[2] == 'P' && magic[3] == 'X') return CheckDpx(in, size, true, checkSize);
  if (magic[0] == 'X' && magic[1] == 'P' && magic[2] == 'D' && magic[3] == 'S') return CheckDpx(in, size, false, checkSize);
  return {};
}

}  // namespace standin
