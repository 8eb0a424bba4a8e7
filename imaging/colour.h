// The HSV colour model in single precision. Hue is in degrees, 0 <= h < 360,
// or kHueUndefined for a grey; saturation and value are in the unit of the
// inputs' scale (any common unit: 0..1 or 0..255 for value).
#pragma once

namespace fx {

inline constexpr float kHueUndefined = -1.0f;

struct Hsv {
  float h = 0;
  float s = 0;
  float v = 0;
};

struct RgbF {
  float r = 0;
  float g = 0;
  float b = 0;
};

Hsv RgbToHsv(float r, float g, float b);

// A grey comes back for an undefined hue (or a non-finite one) or s = 0.
RgbF HsvToRgb(float h, float s, float v);
inline RgbF HsvToRgb(const Hsv& c) { return HsvToRgb(c.h, c.s, c.v); }

}  // namespace fx
