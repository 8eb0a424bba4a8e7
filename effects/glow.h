// The glow the diffusion family lays over an image, and the light effects
// after it: the bright part of the image, chosen by a selection matte, is
// blurred and laid back over the image by a "Screen" or "ADD" blend whose
// brightness may exceed 100 %, one pass per 100 % plus a partial pass.
//
//   "Subtle": the (blurred) matte itself is the light, in the glow colour.
//   "Spread": the image's own colour, weighted by the matte, is blurred and
//             laid back, tinted by the glow colour.
//
// All per-pixel arithmetic is integer with truncating division, except the
// "Spread"/"ADD" step, which scales by brightness x colour in single
// precision.
#pragma once

#include <cstdint>

#include "framework/effect.h"
#include "framework/parameter.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx {

// The mode and blend lists, in their list order.
enum class GlowMode : int32_t { kSubtle = 0, kSpread = 1 };
enum class GlowBlend : int32_t { kScreen = 0, kAdd = 1 };
inline constexpr const char* kGlowModeItems[] = {"Subtle", "Spread"};
inline constexpr const char* kGlowBlendItems[] = {"Screen", "ADD"};

struct GlowSettings {
  double blurX = 0;  // blur radii in pixels at the render scale
  double blurY = 0;
  double brightness = 0;  // a fraction: 1 is 100 %
  GlowMode mode = GlowMode::kSpread;
  GlowBlend blend = GlowBlend::kScreen;
  Rgb colour = kWhite;
};

// The passes a brightness makes at depth S: e = trunc(brightness x L), split
// into n full passes and the weight r of a partial one (8-bit: n = e / 256,
// r = e - 256 n; 16-bit: n = e / 32769, r = e mod 32769). So 100 % is no
// full pass and a partial pass of weight L.
struct GlowPasses {
  int32_t full = 0;
  int32_t partial = 0;

  template <class S>
  static GlowPasses Of(double brightness) {
    constexpr int32_t kPass = sizeof(S) == 1 ? 256 : 32769;
    // Brightness comes from a range parameter (0..10 as a fraction); the
    // clamp only keeps a hand-made value from an undefined conversion.
    const double b = brightness > 0 ? (brightness < 1000 ? brightness : 1000) : 0;
    const int32_t e = static_cast<int32_t>(b * Depth<S>::L);
    return {e / kPass, e % kPass};
  }
};

// The white "Screen" passes of a light g over a sample p: n full passes
// p = clamp(p + g - p g / L), then, when r > 0, the partial pass with
// t = g r / L: p = p + t - t p / L. Low Contrast screens its light this way
// too.
template <class S>
inline int64_t ScreenPasses(int64_t p, int64_t g, const GlowPasses& passes) {
  constexpr int64_t L = Depth<S>::L;
  for (int32_t i = 0; i < passes.full; ++i) p = Depth<S>::Clamp(p + g - p * g / L);
  if (passes.partial > 0) {
    const int64_t t = g * passes.partial / L;
    p = p + t - t * p / L;
  }
  return p;
}

// Lays the glow of the matte over rect of the four-channel destination, in
// place. matte is one channel of the destination's size and depth (0..L);
// the blur is the box blur with the render information's pass count.
// Pixels the light does not reach are left exactly as they were, and alpha
// is kept.
void Glow(Raster& destination, const Raster& matte, const Rect& rect, const GlowSettings& s,
          const RenderInfo& info);

// How the "Spread" glow lays its blurred light: brightness (a fraction), the
// blend, and the colour that tints the light.
struct LightBlend {
  double brightness = 0;
  GlowBlend blend = GlowBlend::kScreen;
  Rgb colour = kWhite;
};

// Lays a light raster over rect of the four-channel destination, in place,
// as the "Spread" glow lays its blurred light. "Screen": n full passes of
// t = k L' / L (k = trunc(colour x L), L' the light), then the partial pass
// with u = trunc(r x colour) L' / L; "ADD": p + trunc(brightness x colour x
// L') in single precision. light has four channels (R, G, B and the alpha
// that tells where it reaches) or one (grey light for all three); pixels it
// does not reach are left exactly as they were, and alpha is kept.
void BlendLight(Raster& destination, const Raster& light, const Rect& rect, const LightBlend& s);

// How far the glow of a pixel reaches, in pixels at info's scale: the
// blur's whole reach (every box pass). What a band needs around it, on top
// of whatever the matte needs.
int32_t GlowReachX(const RenderInfo& info, const GlowSettings& s);
int32_t GlowReachY(const RenderInfo& info, const GlowSettings& s);

}  // namespace fx
