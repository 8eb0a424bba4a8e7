// The hue and saturation step of the colour effects: a pixel to HSV, its hue
// shifted and its saturation scaled, and back, in single precision. One pixel
// at a time, or runs of pixels with an AVX2 loop chosen at run time (see
// ColourLoopsUseAvx2) that gives exactly the samples of the one-pixel step.
#pragma once

#include <cstdint>

#include "imaging/colour.h"
#include "imaging/pixel.h"

namespace fx {

// One four-sample pixel: hue shifted by hueShift degrees (wrapped once),
// saturation multiplied by saturationFactor and clamped to 0..1. Greys
// (undefined hue) are left as they are; alpha is kept.
template <class S>
inline void AdjustHueSaturation(S* pixel, float hueShift, float saturationFactor) {
  constexpr float kUnit = Depth<S>::kToUnit;
  Hsv hsv = RgbToHsv(pixel[0] * kUnit, pixel[1] * kUnit, pixel[2] * kUnit);
  if (hsv.h == kHueUndefined) return;
  float h = hsv.h + hueShift;
  if (h < 0) {
    h += 360.0f;
  } else if (h > 360.0f) {
    h -= 360.0f;
  }
  float s = saturationFactor * hsv.s;
  s = s < 0.0f ? 0.0f : (s > 1.0f ? 1.0f : s);
  const RgbF rgb = HsvToRgb(h, s, hsv.v);
  constexpr int32_t L = Depth<S>::L;
  pixel[0] = Depth<S>::Clamp(static_cast<int64_t>(rgb.r * L));
  pixel[1] = Depth<S>::Clamp(static_cast<int64_t>(rgb.g * L));
  pixel[2] = Depth<S>::Clamp(static_cast<int64_t>(rgb.b * L));
}

// The step over count consecutive pixels with one shift and factor. With a
// mask (one sample per pixel), pixels whose mask is 0 are left alone.
void AdjustHueSaturationRun(uint8_t* pixels, int32_t count, float hueShift, float saturationFactor,
                            const uint8_t* mask = nullptr);
void AdjustHueSaturationRun(uint16_t* pixels, int32_t count, float hueShift, float saturationFactor,
                            const uint16_t* mask = nullptr);

// The step over count consecutive pixels, each with the shift hue[Y] and the
// factor 1 + saturation[Y] for its own luminance Y (clamped to full scale);
// both tables have Depth<S>::kTableSize entries.
void AdjustHueSaturationByLuminance(uint8_t* pixels, int32_t count, const float* hue, const float* saturation);
void AdjustHueSaturationByLuminance(uint16_t* pixels, int32_t count, const float* hue, const float* saturation);

// The tint of count consecutive pixels: the colour of the given hue and
// saturation (or, with ownSaturation, each pixel's own) at each pixel's own
// value, as samples trunc(L * c), three per pixel into tinted (not clamped:
// a 16-bit sample above full scale gives one above it).
void HsvTintRun(const uint8_t* pixels, int32_t count, float hue, float saturation, bool ownSaturation,
                int32_t* tinted);
void HsvTintRun(const uint16_t* pixels, int32_t count, float hue, float saturation, bool ownSaturation,
                int32_t* tinted);

}  // namespace fx
