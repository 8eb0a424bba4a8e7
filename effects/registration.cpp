// The module's effect types, registered once at start-up in catalogue order.
// A type joins this list when its render is complete.
#include "effects/colour_tone.h"
#include "effects/diffusion.h"
#include "effects/film_looks.h"
#include "effects/focus_blur.h"
#include "effects/gel_catalogues.h"
#include "framework/registry.h"

void fx::RegisterEffects(EffectRegistry& registry) {
  registry.Register("BlackMist", effects::kBlackMist);
  registry.Register("BleachBypass", effects::kBleachBypass);
  registry.Register("BlackAndWhite", effects::kBlackAndWhite);
  registry.Register("ColorCompensating", effects::kColorCompensating);
  registry.Register("ColorConversion", effects::kColorConversion);
  registry.Register("ColorCorrect", effects::kColorCorrect);
  registry.Register("ColorTemp", effects::kColorTemperature);
  registry.Register("CrossProcessing", effects::kCrossProcessing);
  registry.Register("Defog", effects::kDefog);
  registry.Register("Diffusion", effects::kDiffusion);
  registry.Register("FastBlur", effects::kFastBlur);
  registry.Register("FauxFilm", effects::kFauxFilm);
  registry.Register("Fluorescent", effects::kFluorescent);
  registry.Register("Fog", effects::kFog);
  registry.Register("FStop", effects::kFStop);
  registry.Register("GamCineFilters", effects::kGamCineFilters);
  registry.Register("GamColor", effects::kGamColor);
  registry.Register("GamNakedCosmetics", effects::kGamNakedCosmetics);
  registry.Register("Glow", effects::kGlow);
  registry.Register("Grain", effects::kGrain);
  registry.Register("Halo", effects::kHalo);
  registry.Register("LGels", effects::kLGels);
  registry.Register("LensDistortion", effects::kLensDistortion);
  registry.Register("LightBalancing", effects::kLightBalancing);
  registry.Register("LowContrast", effects::kLowContrast);
  registry.Register("MatteGenerator", effects::kMatteGenerator);
  registry.Register("Mist", effects::kMist);
  registry.Register("MonoTint", effects::kMonoTint);
  registry.Register("Ozone", effects::kOzone);
  registry.Register("PhotoFilters", effects::kPhotoFilters);
  registry.Register("PrinterPoints", effects::kPrinterPoints);
  registry.Register("RackFocus", effects::kRackFocus);
  registry.Register("RoscoCalcolor", effects::kRoscoCalcolor);
  registry.Register("RoscoCinegel", effects::kRoscoCinegel);
  registry.Register("RoscoCinelux", effects::kRoscoCinelux);
  registry.Register("RoscoVelante", effects::kRoscoVelante);
  registry.Register("SelectiveSaturation", effects::kSelectiveSaturation);
  registry.Register("UltraContrast", effects::kUltraContrast);
  registry.Register("SkinSmoother", effects::kSkinSmoother);
  registry.Register("Telecine", effects::kTelecine);
  registry.Register("Temperature", effects::kTemperature);
  registry.Register("Tint", effects::kTint);
  registry.Register("SoftEFX", effects::kSoftEffects);
  registry.Register("WarmBlackMist", effects::kWarmBlackMist);
  registry.Register("WarmCool", effects::kWarmCool);
  registry.Register("WarmMist", effects::kWarmMist);
  registry.Register("WarmSoftEFX", effects::kWarmSoftEffects);
}
