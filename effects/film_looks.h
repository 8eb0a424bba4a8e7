// The film looks: grain, telecine grading, exposure in stops or printer
// points, and the selection matte generator.
#pragma once

#include "framework/effect.h"

namespace fx::effects {

extern const EffectRoutines& kGrain;
extern const EffectRoutines& kTelecine;
extern const EffectRoutines& kFStop;
extern const EffectRoutines& kPrinterPoints;
extern const EffectRoutines& kMatteGenerator;

}  // namespace fx::effects
