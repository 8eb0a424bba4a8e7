// A minimal writer of 8-bit greyscale PNG files for fixtures that must say
// exactly what a picture holds.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace effecttest {

// Stored deflate blocks, no compression.
inline void PutBE32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}
inline uint32_t Crc32(const std::string& s) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : s) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}
inline void PutChunk(std::string& out, const char* type, const std::string& payload) {
  PutBE32(out, static_cast<uint32_t>(payload.size()));
  const std::string body = std::string(type, 4) + payload;
  out += body;
  PutBE32(out, Crc32(body));
}
inline std::string WriteGreyPng(const std::string& name, const std::vector<std::vector<int32_t>>& rows) {
  const uint32_t h = static_cast<uint32_t>(rows.size()), w = static_cast<uint32_t>(rows[0].size());
  std::string raw;
  for (const auto& row : rows) {
    raw.push_back(0);
    for (int32_t v : row) raw.push_back(static_cast<char>(v));
  }
  std::string z = "\x78\x01";
  for (std::size_t at = 0; at < raw.size();) {
    const std::size_t n = std::min<std::size_t>(raw.size() - at, 65535);
    z.push_back(at + n == raw.size() ? 1 : 0);
    z.push_back(static_cast<char>(n));
    z.push_back(static_cast<char>(n >> 8));
    z.push_back(static_cast<char>(~n));
    z.push_back(static_cast<char>(~n >> 8));
    z += raw.substr(at, n);
    at += n;
  }
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  PutBE32(z, (b << 16) | a);
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string ihdr;
  PutBE32(ihdr, w);
  PutBE32(ihdr, h);
  ihdr += std::string("\x08\x00\x00\x00\x00", 5);
  PutChunk(png, "IHDR", ihdr);
  PutChunk(png, "IDAT", z);
  PutChunk(png, "IEND", "");
  const std::string path = (std::filesystem::path(testing::TempDir()) / name).string();
  std::ofstream(path, std::ios::binary) << png;
  return path;
}

}  // namespace effecttest
