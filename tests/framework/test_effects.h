// Small effect types for the framework's own tests.
#pragma once

#include "framework/effect.h"

namespace fxtest {

inline constexpr const char* kOutputOriginal[] = {"Output", "Original"};
inline constexpr const char* kModes[] = {"Subtle", "Spread"};

// Bleach Bypass's table: 6 parameters.
inline constexpr fx::ParamSpec kSixParams[] = {
    fx::Image("background", "Background"),
    fx::List("view", "View", kOutputOriginal),
    fx::Range("amount", "Amount", 0, 100, 100).Flags(fx::kPrincipal),
    fx::Range("saturation", "Saturation", -100, 100, 0),
    fx::Range("contrast", "Contrast", -100, 100, 0),
    fx::Range("temperature", "Temperature", -100, 100, 0),
};

// One of every kind that carries a value, in a group.
inline constexpr fx::ParamSpec kKindParams[] = {
    fx::Image("background", "Background"),
    fx::List("view", "View", kOutputOriginal),
    fx::Group("glow", "Glow", true),
    fx::Range("amount", "Amount", -50, 50, 12.5),
    fx::Bool("gang", "Gang", true).Flags(fx::kNotify),
    fx::List("mode", "Mode", kModes, 1),
    fx::Colour("tint", "Tint", {0.25, 0.5, 1.0}),
    fx::Point("center", "Center", {0.1, -0.2}),
    fx::End(),
    fx::ImageFile("texture", "Texture", "KVR Ovra v6", "textures", "205 venetian blind.png"),
    fx::Image("shape", "Shape", 1),
};

class Plain final : public fx::Effect {
 public:
  using Effect::Effect;
  bool IsActive() const { return ListIndex(1) == 0 && RangeValue(2) > 0; }
  void Render(fx::RenderInfo&) {}
};

inline constexpr fx::EffectType kSixType{"Ovra Bleach Bypass", "Tint a gradiated portion of the image.",
                                         kSixParams, 0x0A};
inline constexpr fx::EffectType kMistLikeType{"Ovra Mist", "", kSixParams, 0};
inline constexpr fx::EffectType kKindType{"Ovra Kinds", "", kKindParams, 0x08};

// Creates an instance outside any registry; destroy with Destroy().
inline fx::EffectInstance* Make(const fx::EffectRoutines& routines) { return routines.create(); }
inline void Destroy(fx::EffectInstance* e) {
  if (e) e->routines->destroy(e);
}

}  // namespace fxtest
