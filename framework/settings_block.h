// The serialised settings of an effect: one binary block used by the host's
// parameters handle, scripting descriptor and descriptor registry, and by
// preset files. Little-endian:
//
//   0   int32   version 1
//   4   char40  display name, NUL-terminated
//   44  uint32  record count (the effect's parameter count)
//   48  uint32  record size, 152
//   52  records, 152 bytes each: int32 kind, char84 key, 64 value bytes
//
// Values: range a double, boolean one byte, list an int32, colour three
// doubles, point two doubles, image file a name of at most 63 characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "framework/effect.h"

namespace fx {

inline constexpr int32_t kSettingsVersion = 1;
inline constexpr std::size_t kSettingsHeaderSize = 52;
inline constexpr std::size_t kSettingsRecordSize = 152;
inline constexpr std::size_t kSettingsNameSize = 40;
inline constexpr std::size_t kSettingsKeySize = 84;
inline constexpr std::size_t kSettingsValueOffset = 88;
inline constexpr std::size_t kMaxImageFileName = 63;

inline constexpr std::size_t SettingsSize(uint32_t count) {
  return kSettingsHeaderSize + kSettingsRecordSize * count;
}

// Writes the instance's current values into out, which holds exactly
// SettingsSize(parameterCount) bytes.
void WriteSettings(const EffectInstance& instance, std::span<uint8_t> out);
std::vector<uint8_t> BuildSettings(const EffectInstance& instance);

// The version field of a block, or 0 when the block is too short to hold one.
int32_t SettingsVersion(std::span<const uint8_t> block);

// Applies a block: false, changing nothing, when it belongs to another effect,
// has another count or record size, or is shorter than its header and count
// claim. Records whose kind or key differ from the parameter at the same
// position are skipped. Values are made safe as they are applied.
bool ApplySettings(EffectInstance& instance, std::span<const uint8_t> block);

// Preset files hold one block. Write: false when the file cannot be written.
// Read: false when the file cannot be read or the block does not apply; an
// empty file, or a block whose version is not 1, reads as true with nothing
// applied.
bool WritePreset(const EffectInstance& instance, const char* path);
bool ReadPreset(EffectInstance& instance, const char* path);

}  // namespace fx
