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

// The position of the row with this key in a parameter table, found at
// compile time, so an effect names its parameters by key instead of keeping
// a list of indexes beside its table.
template <std::size_t N>
consteval int KeyIndex(const std::array<ParamSpec, N>& table, std::string_view key) {
  for (std::size_t i = 0; i < N; ++i)
    if (table[i].key != nullptr && key == table[i].key) return static_cast<int>(i);
  throw "no parameter with this key";  // rejected at compile time
}

}  // namespace fx::effects
