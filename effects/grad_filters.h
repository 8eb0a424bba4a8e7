// The graduated filters and the colour spot: a colour or neutral-density
// filter laid over the image through a gradient or a spot mask.
#pragma once

#include "framework/effect.h"

namespace fx::effects {

extern const EffectRoutines& kNdGrad;
extern const EffectRoutines& kColorGrad;
extern const EffectRoutines& kStripGrad;
extern const EffectRoutines& kColorSpot;
extern const EffectRoutines& kDualGrad;
extern const EffectRoutines& kSunsetTwilight;

}  // namespace fx::effects
