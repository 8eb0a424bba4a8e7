// Texture files from untrusted bytes: any input ends in a texture or in
// none, and a file that loads at one depth loads at the other with the same
// shape and the samples widened.
#include <cstdint>
#include <cstdio>
#include <span>

#include "imaging/pixel.h"
#include "imaging/texture.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::fflush(stderr);
  __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::span<const uint8_t> file(data, size);
  const fx::RasterRef r8 = fx::DecodeTexture(file, false);
  if (!r8) return 0;
  const fx::RasterRef r16 = fx::DecodeTexture(file, true);
  if (!r16) Fail("loads at 8 bits but not at 16");
  if (r8->Channels() != 1 || r16->Channels() != 1 || r8->BytesPerSample() != 1 || r16->BytesPerSample() != 2)
    Fail("not a one-channel raster of the asked depth");
  if (r8->Width() != r16->Width() || r8->Height() != r16->Height() || r8->Width() <= 0 || r8->Height() <= 0)
    Fail("the two depths differ in size");
  // Reading every sample also lets AddressSanitizer check the rows.
  for (int32_t y = 0; y < r8->Height(); ++y) {
    const uint8_t* s8 = r8->Row(y);
    const uint16_t* s16 = r16->RowAs<uint16_t>(y);
    for (int32_t x = 0; x < r8->Width(); ++x)
      if (s16[x] != fx::Magnitude8To16(s8[x])) Fail("a 16-bit sample is not the 8-bit one widened");
  }
  return 0;
}
