// The spot and field filters: a blur or an exposure change laid over the
// image through a spot, a split line or a vignette shape.
#pragma once

#include "framework/effect.h"

namespace fx::effects {

extern const EffectRoutines& kCenterSpot;
extern const EffectRoutines& kRadialExposure;
extern const EffectRoutines& kSplitField;
extern const EffectRoutines& kVignette;  // vignette.cpp

}  // namespace fx::effects
