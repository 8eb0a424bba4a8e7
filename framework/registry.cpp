#include "framework/registry.h"

#include <cstring>

namespace fx {

const char* EffectRegistry::Register(const char* name, const EffectRoutines& routines) {
  types_.push_back({name, &routines});
  return name;
}

EffectInstance* EffectRegistry::Lookup(const char* name) {
  if (name == nullptr) return nullptr;
  for (const Made& m : instances_)
    if (m.name == name) return m.instance;
  for (const Type& t : types_) {
    if (std::strcmp(t.name, name) != 0) continue;
    EffectInstance* instance = t.routines->create();
    if (instance == nullptr) return nullptr;
    instance->flags |= kHeldByRegistry;
    try {
      instances_.push_back({name, instance});
    } catch (...) {
      t.routines->destroy(instance);
      throw;
    }
    return instance;
  }
  return nullptr;
}

void EffectRegistry::ReleaseAll() {
  for (Made& m : instances_) m.instance->routines->destroy(m.instance);
  instances_.clear();
}

}  // namespace fx
