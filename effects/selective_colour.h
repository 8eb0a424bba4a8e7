// The selective and matte-based colour family: effects that change a chosen
// part of the image (a colour range, the sky, the highlights) or turn the
// whole image into another kind of film (infrared, night vision, moonlight).
#pragma once

#include "framework/effect.h"
#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx::effects {

extern const EffectRoutines& kEnhancing;
extern const EffectRoutines& kSelectiveColor;
extern const EffectRoutines& kPolarizer;
extern const EffectRoutines& kOverexpose;
extern const EffectRoutines& kInfrared;
extern const EffectRoutines& kNightVision;
extern const EffectRoutines& kDayForNight;

}  // namespace fx::effects

namespace fx {

// A corrected copy laid over the image through a matte: on R, G and B,
// D = S + (C - S) m / L in integers, the quotient truncated toward zero (so
// a darker correction rounds up, a lighter one down); alpha is the
// source's. All four rasters share coordinates; matte is one channel of the
// same depth. destination may be source or corrected.
void MixThroughMatte(const Raster& source, const Raster& corrected, const Raster& matte, Raster& destination,
                     const Rect& rect);

}  // namespace fx
