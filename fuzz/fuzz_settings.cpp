// Settings blocks and preset files from untrusted bytes: applying them must
// never read past the block, and whatever they hold must leave the effect
// with values inside their ranges, that survive a write and a read back.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "framework/settings_block.h"
#include "fuzz/fuzz_effect.h"

namespace {

[[noreturn]] void Fail(const fx::Parameter& p, const char* what) {
  std::fprintf(stderr, "parameter %d (%s): %s\n", p.index, p.key ? p.key : "no key", what);
  std::fflush(stderr);
  __builtin_trap();
}

// Values applied from outside are made safe; this is what "safe" means.
void CheckValues(const fx::EffectInstance& e) {
  for (uint32_t i = 0; i < e.parameterCount; ++i) {
    const fx::Parameter& p = e.parameters[i];
    switch (p.kind) {
      case fx::Kind::Range:
        if (!(p.number >= p.Minimum() && p.number <= p.Maximum())) Fail(p, "range value outside its range");
        break;
      case fx::Kind::List:
        if (p.listIndex < 0 || p.listIndex >= p.ItemCount()) Fail(p, "list index outside its list");
        break;
      case fx::Kind::Colour:
        for (double c : {p.colour.r, p.colour.g, p.colour.b})
          if (!(c >= 0.0 && c <= 1.0)) Fail(p, "colour component outside 0..1");
        break;
      case fx::Kind::Point:
        for (double c : {p.point.x, p.point.y})
          if (!(std::fabs(c) <= fx::kPointLimit)) Fail(p, "point coordinate not finite or too far");
        break;
      case fx::Kind::ImageFile:
        if (p.fileName.size() > fx::kMaxImageFileName || p.fileName.find('\0') != std::string::npos)
          Fail(p, "image file name too long or holding a NUL");
        break;
      default:
        break;
    }
  }
}

// The preset file the inputs are written to: unlinked as soon as it is
// made (the fuzzer ends without running exit handlers) and opened again by
// ReadPreset through its descriptor.
struct PresetFile {
  int fd = -1;
  std::string path;
};

const PresetFile& Preset() {
  static const PresetFile preset = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string name = std::string(dir && *dir ? dir : "/tmp") + "/ovra_fuzz_preset_XXXXXX";
    PresetFile p;
    p.fd = mkstemp(name.data());
    if (p.fd < 0) std::abort();
    unlink(name.c_str());
    p.path = "/proc/self/fd/" + std::to_string(p.fd);
    return p;
  }();
  return preset;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::span<const uint8_t> input(data, size);
  ovrafuzz::Instance effect = ovrafuzz::MakeInstance();
  if (!effect) return 0;

  // The bytes as a whole block (the host's parameters handle, the registry).
  fx::ApplySettings(*effect, input);
  CheckValues(*effect);

  // The bytes as the records behind a header that fits, so that every input
  // reaches the records; a block cut short is refused as a whole.
  std::vector<uint8_t> block = fx::BuildSettings(*effect);
  const std::size_t records = std::min(size, block.size() - fx::kSettingsHeaderSize);
  if (records > 0) std::memcpy(block.data() + fx::kSettingsHeaderSize, data, records);
  const std::vector<uint8_t> before = fx::BuildSettings(*effect);
  if (fx::ApplySettings(*effect, std::span(block).first(fx::kSettingsHeaderSize + records)) !=
      (records == block.size() - fx::kSettingsHeaderSize)) {
    std::fprintf(stderr, "a block with a fitting header was %s\n",
                 records < block.size() - fx::kSettingsHeaderSize ? "applied although cut short" : "refused");
    __builtin_trap();
  }
  if (records < block.size() - fx::kSettingsHeaderSize && fx::BuildSettings(*effect) != before) {
    std::fprintf(stderr, "a refused block changed the effect\n");
    __builtin_trap();
  }
  CheckValues(*effect);

  // What was applied is written and read back unchanged.
  const std::vector<uint8_t> written = fx::BuildSettings(*effect);
  ovrafuzz::Instance copy = ovrafuzz::MakeInstance();
  if (copy && (!fx::ApplySettings(*copy, written) || fx::BuildSettings(*copy) != written)) {
    std::fprintf(stderr, "settings did not survive a write and a read back\n");
    __builtin_trap();
  }

  // The bytes as a preset file: an empty file or another version reads as
  // success with nothing applied, anything else as the block applies.
  ovrafuzz::Instance fresh = ovrafuzz::MakeInstance();
  if (!fresh) return 0;
  const bool expected =
      size == 0 || fx::SettingsVersion(input) != fx::kSettingsVersion || fx::ApplySettings(*fresh, input);
  const PresetFile& preset = Preset();
  if (ftruncate(preset.fd, 0) == 0 &&
      (size == 0 || pwrite(preset.fd, data, size, 0) == static_cast<ssize_t>(size))) {
    if (fx::ReadPreset(*effect, preset.path.c_str()) != expected) {
      std::fprintf(stderr, "reading the preset file did not give %s\n", expected ? "true" : "false");
      __builtin_trap();
    }
    CheckValues(*effect);
  }
  return 0;
}
