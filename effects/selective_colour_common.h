// What the two halves of the selective colour family share: rows looked up
// by key, and the correction rows that Selective Color Correct and
// Polarizer both offer.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "effects/colour_ops.h"
#include "framework/effect.h"
#include "framework/parameter.h"

namespace fx::effects {

// The correction group: hue, saturation, brightness, contrast, gamma, the
// three master gains and the temperature, in that order after its header.
constexpr std::array<ParamSpec, 11> CorrectionGroup(const char* label, double saturation) {
  return {
      Group("cc", label, true),
      Range("hue", "Hue", -360, 360, 0),
      Range("saturation", "Saturation", -100, 100, saturation),
      Range("ccBrightness", "Brightness", -100, 100, 0),
      Range("ccContrast", "Contrast", -100, 100, 0),
      Range("ccGamma", "Gamma", -100, 100, 0),
      Range("ccMasterR", "Red", -100, 100, 0).Flags(kRedMark),
      Range("ccMasterG", "Green", -100, 100, 0).Flags(kGreenMark),
      Range("ccMasterB", "Blue", -100, 100, 0).Flags(kBlueMark),
      Range("warmCool", "Temperature", -50, 50, 0),
      End(),
  };
}

// Reads the correction group whose "hue" is parameter `hue`.
struct CorrectionRows {
  enum Offset { kHue, kSaturation, kBrightness, kContrast, kGamma, kRed, kGreen, kBlue, kWarmCool, kCount };
  int hue;

  // Any of the nine values is not 0.
  bool Any(const Effect& e) const {
    for (int i = 0; i < kCount; ++i)
      if (e.RangeValue(hue + i) != 0) return true;
    return false;
  }
  // The colour correction adds its gains; the temperature follows it.
  ColorCorrection Read(const Effect& e) const {
    ColorCorrection c;
    c.hue = e.RangeValue(hue + kHue);
    c.saturation = e.Percent(hue + kSaturation);
    c.brightness = e.Percent(hue + kBrightness);
    c.contrast = e.Percent(hue + kContrast);
    c.bend = e.Percent(hue + kGamma);
    c.redGain = e.Percent(hue + kRed);
    c.greenGain = e.Percent(hue + kGreen);
    c.blueGain = e.Percent(hue + kBlue);
    c.multiply = false;
    return c;
  }
  // In place over rect.
  void Apply(const Effect& e, Raster& raster, const Rect& rect) const {
    ColorCorrectOp(raster, rect, Read(e));
    WarmCoolShift(raster, rect, e.Percent(hue + kWarmCool));
  }
};

}  // namespace fx::effects
