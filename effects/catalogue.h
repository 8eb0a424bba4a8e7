// The catalogue of effect types: registry name, display name and description
// of every type, in registration order. Effect declarations take their names
// from here so that each fact is written once.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "framework/effect.h"

namespace fx::catalogue {

struct Entry {
  const char* registryName;
  const char* displayName;
  const char* description;
};

inline constexpr Entry kEntries[] = {
#define OVRA_EFFECT(registryName, displayName, description) {#registryName, displayName, description},
#include "effects/catalogue.inc"
#undef OVRA_EFFECT
};

inline constexpr int kTypeCount = static_cast<int>(std::size(kEntries));

constexpr const Entry& Find(std::string_view registryName) {
  for (const Entry& e : kEntries)
    if (registryName == e.registryName) return e;
  throw "not a registry name of the catalogue";  // a compile-time error in constant evaluation
}

// The effect type registered under registryName.
constexpr EffectType Type(std::string_view registryName, std::span<const ParamSpec> params,
                          uint32_t creationFlags) {
  const Entry& e = Find(registryName);
  return EffectType{e.displayName, e.description, params, creationFlags};
}

}  // namespace fx::catalogue
