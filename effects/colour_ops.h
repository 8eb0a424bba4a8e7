// Colour operations shared by the colour, tone and film effects. Each pixel
// formula is written once over the sample type S (uint8_t or uint16_t) and
// works on four-channel rasters (R, G, B, A); alpha is kept.
#pragma once

#include <cstdint>
#include <type_traits>

#include "framework/parameter.h"
#include "imaging/colour.h"
#include "imaging/hue_saturation.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx {

// Overlay of one channel: base is the lower layer, blend the upper. The
// 8-bit light branch uses 511, not 510.
template <class S>
constexpr int32_t OverlayBlend(int32_t base, int32_t blend) {
  if constexpr (std::is_same_v<S, uint8_t>) {
    if (base >= 128) return 255 - (511 - 2 * base) * (255 - blend) / 255;
    return 2 * base * blend / 255;
  } else {
    if (base >= 16384) return 32768 + 2 * (base - 32768) * (32768 - blend) / 32768;
    return 2 * base * blend / 32768;
  }
}

// In place: blue multiplied by (1 + t), red by (1 - t), single-precision
// factors. Positive t makes the image bluer. Nothing happens for t = 0.
void WarmCoolShift(Raster& raster, const Rect& rect, double t);
// The same shift from source to destination (same coordinates); green and
// alpha are copied, and t = 0 copies the pixels.
void WarmCoolShift(const Raster& source, Raster& destination, const Rect& rect, double t);

// In place: hue shift (degrees) and saturation (a fraction, -1..1) through
// HSV, then a tone table of brightness, contrast and bend (fractions) with
// per-channel gains: added (gain * i) or, with multiply, multiplying.
struct ColorCorrection {
  double hue = 0;
  double saturation = 0;
  double brightness = 0;
  double contrast = 0;
  double bend = 0;
  double redGain = 0;
  double greenGain = 0;
  double blueGain = 0;
  bool multiply = false;
};
void ColorCorrectOp(Raster& raster, const Rect& rect, const ColorCorrection& c);

// In place: black and white through a filter; the list the effects offer.
enum class MonoFilterKind : int32_t { Normal, Red, Green, Blue, Yellow, Orange };
inline constexpr const char* kMonoFilterItems[] = {"Normal", "Red", "Green", "Blue", "Yellow", "Orange"};
void MonoFilter(Raster& raster, const Rect& rect, MonoFilterKind filter);

// The matte of the image's brightest parts: the luminance selection matte
// with its band at position 1.0 and range 0.8 (centre 1, width 0.8), nothing
// clipped, grown or blurred. mask is one channel of the image's depth with
// the image's coordinates; only rect is written.
void FillHighlightMask(const Raster& image, Raster& mask, const Rect& rect);
// A new mask of the image's size, 0 outside rect.
RasterRef HighlightMask(const Raster& image, const Rect& rect);

// The "Tint Mode" list. "HSV" and "HLS" give each pixel the tint's hue and
// saturation, "HLS" then restores the brightest parts through the highlight
// matte; "Replace" gives the tint's hue only.
enum class TintMode : int32_t { kHsv, kHls, kReplace };
inline constexpr const char* kTintModeItems[] = {"HSV", "HLS", "Replace"};

// In place: tints rect with the tint colour (unit RGB) in the mode, mixed
// with the untinted pixel by opacity (0..1). In "HLS" the untinted pixel is
// restored through the highlight matte by preserveHighlights (0..1).
void TintOp(Raster& raster, const Rect& rect, const Rgb& tint, TintMode mode, double opacity,
            double preserveHighlights);

// Copies rect of source into the same place of destination (four channels).
inline void CopyArea(const Raster& source, Raster& destination, const Rect& rect) {
  destination.CopyRows(source, rect);
}

}  // namespace fx
