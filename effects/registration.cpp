// The module's effect types, registered once at start-up in catalogue order.
// A type joins this list when its render is complete.
#include "framework/registry.h"

void fx::RegisterEffects(EffectRegistry& registry) {
  (void)registry;
}
