#include "framework/settings_block.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fx {
namespace {

void PutI32(uint8_t* p, int32_t v) { std::memcpy(p, &v, 4); }
void PutU32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
void PutF64(uint8_t* p, double v) { std::memcpy(p, &v, 8); }
int32_t GetI32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
uint32_t GetU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
double GetF64(const uint8_t* p) {
  double v;
  std::memcpy(&v, p, 8);
  return v;
}

// Copies text into a fixed field, cut to leave room for the terminator.
void PutText(uint8_t* field, std::size_t size, const char* text) {
  if (text == nullptr) return;
  const std::size_t n = strnlen(text, size - 1);
  std::memcpy(field, text, n);
}

// A text field read without passing its end.
std::string_view GetText(const uint8_t* field, std::size_t size) {
  const char* s = reinterpret_cast<const char*>(field);
  return {s, strnlen(s, size)};
}

}  // namespace

void WriteSettings(const EffectInstance& instance, std::span<uint8_t> out) {
  std::memset(out.data(), 0, out.size());
  uint8_t* p = out.data();
  PutI32(p, kSettingsVersion);
  PutText(p + 4, kSettingsNameSize, DisplayName(instance));
  PutU32(p + 44, instance.parameterCount);
  PutU32(p + 48, static_cast<uint32_t>(kSettingsRecordSize));
  for (uint32_t i = 0; i < instance.parameterCount; ++i) {
    const Parameter& param = instance.parameters[i];
    uint8_t* r = p + kSettingsHeaderSize + kSettingsRecordSize * i;
    uint8_t* v = r + kSettingsValueOffset;
    PutI32(r, static_cast<int32_t>(param.kind));
    PutText(r + 4, kSettingsKeySize, param.key);
    switch (param.kind) {
      case Kind::Range:
        PutF64(v, param.number);
        break;
      case Kind::Boolean:
        v[0] = param.boolean ? 1 : 0;
        break;
      case Kind::List:
        PutI32(v, param.listIndex);
        break;
      case Kind::Colour:
        PutF64(v, param.colour.r);
        PutF64(v + 8, param.colour.g);
        PutF64(v + 16, param.colour.b);
        break;
      case Kind::Point:
        PutF64(v, param.point.x);
        PutF64(v + 8, param.point.y);
        break;
      case Kind::ImageFile:
        PutText(v, kMaxImageFileName + 1, param.ImageFileName());
        break;
      default:
        break;
    }
  }
}

std::vector<uint8_t> BuildSettings(const EffectInstance& instance) {
  std::vector<uint8_t> block(SettingsSize(instance.parameterCount));
  WriteSettings(instance, block);
  return block;
}

int32_t SettingsVersion(std::span<const uint8_t> block) {
  return block.size() < 4 ? 0 : GetI32(block.data());
}

bool ApplySettings(EffectInstance& instance, std::span<const uint8_t> block) {
  if (block.size() < kSettingsHeaderSize) return false;
  const uint8_t* p = block.data();
  if (GetText(p + 4, kSettingsNameSize) != std::string_view(DisplayName(instance))) return false;
  const uint32_t count = GetU32(p + 44);
  if (count != instance.parameterCount || GetU32(p + 48) != kSettingsRecordSize) return false;
  // The count is bounded by the instance's parameter count, so this cannot
  // overflow; a block shorter than it claims is refused as a whole.
  if (block.size() < SettingsSize(count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* r = p + kSettingsHeaderSize + kSettingsRecordSize * i;
    const uint8_t* v = r + kSettingsValueOffset;
    Parameter& param = instance.parameters[i];
    if (GetI32(r) != static_cast<int32_t>(param.kind) || param.key == nullptr) continue;
    if (GetText(r + 4, kSettingsKeySize) != std::string_view(param.key)) continue;
    switch (param.kind) {
      case Kind::Range:
        SetRange(param, GetF64(v));
        break;
      case Kind::Boolean:
        SetBoolean(param, v[0] != 0);
        break;
      case Kind::List:
        SetListIndex(param, GetI32(v));
        break;
      case Kind::Colour:
        SetColour(param, {GetF64(v), GetF64(v + 8), GetF64(v + 16)});
        break;
      case Kind::Point:
        SetPoint(param, {GetF64(v), GetF64(v + 8)});
        break;
      case Kind::ImageFile:
        SetImageFile(param, GetText(v, kMaxImageFileName));
        break;
      default:
        break;
    }
  }
  return true;
}

bool WritePreset(const EffectInstance& instance, const char* path) {
  const std::vector<uint8_t> block = BuildSettings(instance);
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(block.data(), 1, block.size(), f) == block.size();
  return (std::fclose(f) == 0) && written;
}

bool ReadPreset(EffectInstance& instance, const char* path) {
  // Opened without blocking and checked on the descriptor: a FIFO named as a
  // preset is refused instead of waited on.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }
  std::FILE* f = fdopen(fd, "rb");
  if (f == nullptr) {
    close(fd);
    return false;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(f, &std::fclose);
  if (std::fseek(f, 0, SEEK_END) != 0) return false;
  const long size = std::ftell(f);
  if (size < 0 || std::fseek(f, 0, SEEK_SET) != 0) return false;
  if (size == 0) return true;
  // No block of this module is larger than its header and 100 parameters;
  // anything far larger is not a preset.
  if (static_cast<unsigned long>(size) > SettingsSize(4096)) return false;
  std::vector<uint8_t> block(static_cast<std::size_t>(size));
  if (std::fread(block.data(), 1, block.size(), f) != block.size()) return false;
  if (SettingsVersion(block) != kSettingsVersion) return true;
  return ApplySettings(instance, block);
}

}  // namespace fx
