// The HSV colour model in single precision. Hue is in degrees, 0 <= h < 360,
// or kHueUndefined for a grey; saturation and value are in the unit of the
// inputs' scale (any common unit: 0..1 or 0..255 for value).
#pragma once

#include <algorithm>
#include <cmath>

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

inline Hsv RgbToHsv(float r, float g, float b) {
  Hsv out;
  const float v = std::max(std::max(r, g), b);
  const float delta = v - std::min(std::min(r, g), b);
  out.v = v;
  out.s = v == 0.0f ? 0.0f : delta / v;
  if (out.s == 0.0f) {
    out.h = kHueUndefined;
    return out;
  }
  const float rc = (v - r) / delta;
  const float gc = (v - g) / delta;
  const float bc = (v - b) / delta;
  float h;
  if (r == v) {
    h = bc - gc;
  } else if (g == v) {
    h = 2.0f + rc - bc;
  } else {
    h = 4.0f + gc - rc;
  }
  h = h * 60.0f;
  if (h < 0.0f) h += 360.0f;
  out.h = h;
  return out;
}

// A grey comes back for an undefined hue (or a non-finite one) or s = 0.
inline RgbF HsvToRgb(float h, float s, float v) {
  if (h == kHueUndefined || s == 0.0f || !std::isfinite(h)) return {v, v, v};
  if (h == 360.0f) h = 0.0f;
  h = h * 0.016666668f;
  const float i = std::max(0.0f, std::floor(h));
  const float f = h - i;
  const float p = v * (1.0f - s);
  const float q = v * (1.0f - s * f);
  const float t = v * (1.0f - s * (1.0f - f));
  // A hue at or just under 360 can round up to sector 6, and hues beyond
  // 360 go further; the sectors repeat every 360 degrees.
  switch (static_cast<int>(i < 6.0f ? i : std::fmod(i, 6.0f))) {
    case 0:
      return {v, t, p};
    case 1:
      return {q, v, p};
    case 2:
      return {p, v, t};
    case 3:
      return {p, q, v};
    case 4:
      return {t, p, v};
    default:
      return {v, p, q};
  }
}
inline RgbF HsvToRgb(const Hsv& c) { return HsvToRgb(c.h, c.s, c.v); }

}  // namespace fx
