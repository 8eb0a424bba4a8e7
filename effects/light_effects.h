// The light effects: streaks and star flares grown out of an image's
// brightest parts, coloured and patterned light, flashing of shadows and
// highlights, and the fill light of a reflector.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "framework/effect.h"
#include "framework/parameter.h"

namespace fx::effects {

extern const EffectRoutines& kStreaks;
extern const EffectRoutines& kFlashing;
extern const EffectRoutines& kSilverReflector;
extern const EffectRoutines& kGoldReflector;
extern const EffectRoutines& kLight;
extern const EffectRoutines& kRelight;
extern const EffectRoutines& kStar;
extern const EffectRoutines& kVariStar;

}  // namespace fx::effects
