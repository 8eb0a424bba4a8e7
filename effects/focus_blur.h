// The focus and blur family.
#pragma once

#include "framework/effect.h"

namespace fx::effects {

extern const EffectRoutines& kDepthOfField;
extern const EffectRoutines& kFastBlur;
extern const EffectRoutines& kLensDistortion;
extern const EffectRoutines& kRackFocus;
extern const EffectRoutines& kSkinSmoother;

}  // namespace fx::effects
