// Effect types by registry name, and the instances made on lookup.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/effect.h"

namespace fx {

class EffectRegistry {
 public:
  static constexpr int kCapacity = 100;

  EffectRegistry() = default;
  ~EffectRegistry() { ReleaseAll(); }
  EffectRegistry(const EffectRegistry&) = delete;
  EffectRegistry& operator=(const EffectRegistry&) = delete;

  // Appends a type; callers register each type once, in catalogue order, and
  // stay within kCapacity.
  const char* Register(const char* name, const EffectRoutines& routines);

  // The instance made for exactly this name (case-sensitive), made on first
  // lookup with every parameter at its default; null for an unknown name or
  // when the instance cannot be made.
  EffectInstance* Lookup(const char* name);

  // Destroys every instance made so far.
  void ReleaseAll();

  int Count() const { return static_cast<int>(types_.size()); }
  const char* NameAt(int i) const { return types_[static_cast<std::size_t>(i)].name; }
  const EffectRoutines& RoutinesAt(int i) const { return *types_[static_cast<std::size_t>(i)].routines; }
  int InstanceCount() const { return static_cast<int>(instances_.size()); }

 private:
  struct Type {
    const char* name;
    const EffectRoutines* routines;
  };
  struct Made {
    std::string name;
    EffectInstance* instance;
  };
  std::vector<Type> types_;
  std::vector<Made> instances_;
};

// The module's registry, filled by RegisterEffects on first use (defined by
// the module frame).
EffectRegistry& Registry();

// The module's explicit list of effect types, in catalogue order. Each module
// build links exactly one definition.
void RegisterEffects(EffectRegistry& registry);

}  // namespace fx
