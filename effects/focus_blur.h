// The focus and blur family.
#pragma once

#include "framework/effect.h"

namespace fx::effects {

extern const EffectRoutines& kFastBlur;

}  // namespace fx::effects
