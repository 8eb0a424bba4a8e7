// The colour and tone family.
#pragma once

#include "framework/effect.h"

namespace fx::effects {

extern const EffectRoutines& kBleachBypass;
extern const EffectRoutines& kBlackAndWhite;

}  // namespace fx::effects
