// A small effect type for the settings fuzzer: one parameter of every kind,
// including the kinds that carry no value and a record without a key.
#pragma once

#include <memory>

#include "framework/effect.h"

namespace ovrafuzz {

inline constexpr const char* kViewItems[] = {"Output", "Mask", "Original"};
inline constexpr const char* kModes[] = {"Soft", "Hard", "Screen"};

inline constexpr fx::ParamSpec kParams[] = {
    fx::Image("background", "Background"),
    fx::List("view", "View", kViewItems),
    fx::PresetsFolder(),
    fx::Group("glow", "Glow", true),
    fx::Range("amount", "Amount", -50, 50, 12.5),
    fx::Range("radius", "Radius", 0, 1000, 20).Flags(fx::kWholeNumbers),
    fx::Bool("gang", "Gang", true),
    fx::List("mode", "Mode", kModes, 1),
    fx::Colour("tint", "Tint", {0.25, 0.5, 1.0}),
    fx::Point("center", "Center", {0.1, -0.2}),
    fx::End(),
    fx::ImageFile("texture", "Texture", "KVR Ovra v6", "textures", "paper.png"),
    fx::Image("shape", "Shape", 1),
};
static_assert(fx::ValidTable(kParams));

class Kinds final : public fx::Effect {
 public:
  using Effect::Effect;
  bool IsActive() const { return true; }
  void Render(fx::RenderInfo&) {}
};

inline constexpr fx::EffectType kKindsType{"Ovra Fuzz Kinds", "", kParams, 0};

struct DestroyInstance {
  void operator()(fx::EffectInstance* e) const {
    if (e != nullptr) e->routines->destroy(e);
  }
};
using Instance = std::unique_ptr<fx::EffectInstance, DestroyInstance>;

inline Instance MakeInstance() {
  return Instance(fx::RoutinesOf<Kinds, kKindsType>.create());
}

}  // namespace ovrafuzz
