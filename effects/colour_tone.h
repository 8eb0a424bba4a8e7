// The colour and tone family.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "framework/effect.h"

namespace fx::effects {

extern const EffectRoutines& kBleachBypass;
extern const EffectRoutines& kBlackAndWhite;
extern const EffectRoutines& kColorCorrect;
extern const EffectRoutines& kColorTemperature;
extern const EffectRoutines& kCrossProcessing;
extern const EffectRoutines& kFluorescent;
extern const EffectRoutines& kMonoTint;
extern const EffectRoutines& kOzone;
extern const EffectRoutines& kSelectiveSaturation;
extern const EffectRoutines& kUltraContrast;
extern const EffectRoutines& kTemperature;
extern const EffectRoutines& kTint;
extern const EffectRoutines& kWarmCool;

// Color Temperature's data and arithmetic.
struct ColourMatchingRow {
  int32_t nm;
  double r, g, b;
};
struct LightSource {
  const char* name;
  int32_t kelvin;
};
// The colour-matching functions the factors are weighted by, 390..730 nm.
std::span<const ColourMatchingRow> ColourMatchingFunctions();
// The "Presets" list: "Custom" first, then named light sources.
std::span<const LightSource> LightSources();
// R, G and B factors (multiples of 1/255, the largest 1) that turn light of
// sourceKelvin into light of destinationKelvin.
std::array<double, 3> ColorTemperatureFactors(double sourceKelvin, double destinationKelvin);

}  // namespace fx::effects
