// The diffusion and glow family: effects that soften an image by spreading
// its light (glows through a selection matte, mist, fog, soft focus).
#pragma once

#include <cstdint>

#include "framework/effect.h"
#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx::effects {

extern const EffectRoutines& kDiffusion;
extern const EffectRoutines& kGlow;
extern const EffectRoutines& kMist;
extern const EffectRoutines& kBlackMist;
extern const EffectRoutines& kWarmMist;
extern const EffectRoutines& kWarmBlackMist;
extern const EffectRoutines& kFog;
extern const EffectRoutines& kSoftEffects;
extern const EffectRoutines& kWarmSoftEffects;
extern const EffectRoutines& kHalo;
extern const EffectRoutines& kLowContrast;
extern const EffectRoutines& kDefog;
extern const EffectRoutines& kFauxFilm;

}  // namespace fx::effects

namespace fx {

// The soft mix of the soft-focus effects: rect of destination (holding the
// image to soften) is box-blurred in place with the radii (pixels at the
// render scale, the render information's pass count), then mixBack is mixed
// into it: f = trunc((1 - opacity) L), D = (S f + D (L - f)) / L on R, G and
// B. Nothing happens unless a radius and the opacity are above 0.
void SoftMix(const Raster& mixBack, Raster& destination, const Rect& rect, double blurX, double blurY,
             double opacity, const RenderInfo& info);
// The blur's whole reach, in pixels at info's scale.
int32_t SoftMixReachX(const RenderInfo& info, double blurX, double blurY);
int32_t SoftMixReachY(const RenderInfo& info, double blurX, double blurY);

}  // namespace fx
