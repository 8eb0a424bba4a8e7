// Sample depths. Every pixel operation is written once as a template over the
// sample type and instantiated for both depths; Depth<S> carries what differs:
// the full scale L, luminance, clamping and the unit conversions.
#pragma once

#include <cstdint>
#include <type_traits>

namespace fx {

template <class S>
struct Depth;

template <>
struct Depth<uint8_t> {
  using Sample = uint8_t;
  static constexpr int32_t L = 255;
  static constexpr uint32_t kBytes = 1;
  static constexpr int32_t kTableSize = 256;
  // Sample to unit float, 1/255 in single precision.
  static constexpr float kToUnit = 0.003921569f;

  static constexpr int32_t Luminance(int32_t r, int32_t g, int32_t b) {
    return (76 * r + 150 * g + 29 * b) / 255;
  }
  static constexpr Sample Clamp(int64_t v) {
    return static_cast<Sample>(v < 0 ? 0 : (v > L ? L : v));
  }
  // Luminance as an index into a 256-entry table.
  static constexpr int32_t LuminanceIndex256(int32_t y) { return y; }
};

template <>
struct Depth<uint16_t> {
  using Sample = uint16_t;
  static constexpr int32_t L = 32768;
  static constexpr uint32_t kBytes = 2;
  static constexpr int32_t kTableSize = 32769;
  static constexpr float kToUnit = 0.000030517578125f;

  static constexpr int32_t Luminance(int32_t r, int32_t g, int32_t b) {
    return (9798 * r + 19235 * g + 3735 * b) >> 15;
  }
  static constexpr Sample Clamp(int64_t v) {
    return static_cast<Sample>(v < 0 ? 0 : (v > L ? L : v));
  }
  static constexpr int32_t LuminanceIndex256(int32_t y) {
    return static_cast<int32_t>((y + 64) * 0.007782101167315175) & 0xFF;
  }
};

using Depth8 = Depth<uint8_t>;
using Depth16 = Depth<uint16_t>;

// Calls f with the sample type matching the raster's depth:
//   WithDepth(raster.Is16Bit(), [&]<class S>() { Apply<S>(...); });
template <class F>
decltype(auto) WithDepth(bool is16Bit, F&& f) {
  if (is16Bit) return f.template operator()<uint16_t>();
  return f.template operator()<uint8_t>();
}

// 8-bit magnitude to 16-bit magnitude: 255 maps to 32768.
constexpr int32_t Magnitude8To16(int32_t s) { return static_cast<int32_t>(s * 128.5 + 0.5); }

// "Over" compositing of a straight colour (cs, as) onto a destination pixel,
// four samples R, G, B, A.
template <class S>
inline void CompositeOver(S* dst, const int32_t* cs, int32_t as) {
  constexpr int32_t L = Depth<S>::L;
  if constexpr (std::is_same_v<S, uint8_t>) {
    if (as == 255) {
      for (int c = 0; c < 3; ++c) dst[c] = static_cast<S>(cs[c]);
      dst[3] = static_cast<S>(as);
      return;
    }
    if (as == 0) return;
    for (int c = 0; c < 3; ++c) dst[c] = static_cast<S>((cs[c] * as + dst[c] * (L - as)) / L);
    dst[3] = static_cast<S>(as + (dst[3] * (L - as)) / L);
  } else {
    if (as > 32768) {
      for (int c = 0; c < 3; ++c) dst[c] = static_cast<S>(cs[c]);
      dst[3] = 32768;
      return;
    }
    if (as == 0) return;
    const int32_t k = 32768 - as;
    for (int c = 0; c < 3; ++c) dst[c] = static_cast<S>((as * cs[c] + k * dst[c]) >> 15);
    dst[3] = static_cast<S>(as + ((dst[3] * k) >> 15));
  }
}

}  // namespace fx
