// The filter and gel catalogues: twelve effects of one class, each laying a
// filter chosen from its catalogue of named photographic filters or lighting
// gels (or a custom colour) over the image through the gel engine, with an
// optional graduated application.
#pragma once

#include <span>

#include "effects/gel_catalogue_tables.h"
#include "framework/effect.h"

namespace fx::effects {

extern const EffectRoutines& kColorCompensating;
extern const EffectRoutines& kColorConversion;
extern const EffectRoutines& kGamCineFilters;
extern const EffectRoutines& kGamColor;
extern const EffectRoutines& kGamNakedCosmetics;
extern const EffectRoutines& kLGels;
extern const EffectRoutines& kLightBalancing;
extern const EffectRoutines& kPhotoFilters;
extern const EffectRoutines& kRoscoCalcolor;
extern const EffectRoutines& kRoscoCinegel;
extern const EffectRoutines& kRoscoCinelux;
extern const EffectRoutines& kRoscoVelante;

// The twelve in registration order, with the catalogue each one owns.
struct GelCatalogueEntry {
  const char* registryName;
  const EffectRoutines* routines;
  std::span<const gels::GelRow> rows;
};
std::span<const GelCatalogueEntry> GelCatalogueEffects();

}  // namespace fx::effects
