// The module's effect types, registered once at start-up in catalogue order.
// A type joins this list when its render is complete.
#include "effects/colour_tone.h"
#include "framework/registry.h"

void fx::RegisterEffects(EffectRegistry& registry) {
  registry.Register("BleachBypass", effects::kBleachBypass);
  registry.Register("BlackAndWhite", effects::kBlackAndWhite);
}
