// The selection matte many effects share: each pixel mapped to a value on a
// chosen channel (luminance, hue, a primary...), that value looked up in a
// tonal band, then clipped, shrunk or grown, blurred and optionally inverted.
// The result is a one-channel raster, full scale where a pixel is selected.
//
// Two parameter groups drive it, declared here once for every effect that
// offers them:
//   - the short group "matte"/"Selection" (position, range, blur), always a
//     luminance matte: MatteGroup() and MatteParams;
//   - the full Selection group (extract channel, clip, shrink/grow, separate
//     blurs, invert): SelectionGroup() and SelectionParams.
// An effect splices the rows into its table with fx::Join and reads them with
// the reader at the index where they start:
//
//   inline constexpr auto kParams = Join(Rows({Image(...), List(...)}),
//                                        MatteGroup({.position = 100, .range = 80}));
//   MatteSettings s = MatteParams{3}.Read(*this);
//   RasterRef matte = matte_.Build(*Source(), info.area, info, s);
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "framework/effect.h"
#include "framework/parameter.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/rect.h"

namespace fx {

// The channel a matte is extracted on; the order of the "Extract On" list.
enum class ExtractOn : int32_t {
  kLuminance,
  kHue,
  kSaturation,
  kAverage,
  kRed,
  kGreen,
  kBlue,
  kCyan,
  kMagenta,
  kYellow,
};
inline constexpr const char* kExtractOnItems[] = {"Luminance", "Hue",  "Saturation", "Average", "Red",
                                                  "Green",     "Blue", "Cyan",       "Magenta", "Yellow"};
inline constexpr int32_t kExtractOnCount = static_cast<int32_t>(std::size(kExtractOnItems));

// The highlight matte every "Preserve Highlights" control restores through:
// the luminance matte at position 1.0 and range 0.8, given to the builder as
// a band centred at full scale whose width is 0.8. Points (0.2, 0), (0.6, 0.2)
// and (1, 1): only the brightest parts keep their colour.
inline constexpr double kHighlightBandCentre = 1.0;
inline constexpr double kHighlightBandWidth = 0.8;

// The highlight band's table at depth S (kTableSize entries), built once per
// depth; every highlight restore reads this one table.
template <class S>
std::span<const S> HighlightTable();

// Everything a matte is built from, in the units the matte works in.
struct MatteSettings {
  ExtractOn extractOn = ExtractOn::kLuminance;
  // The selection groups' defaults (position 100, range 80 %, width twice
  // the percentage); the highlight matte is not built from these.
  double centre = 1.0;    // band centre, a fraction of full scale
  double width = 1.6;     // distance from the centre at which the band reaches 0
  double clipBlack = 0;   // fractions of full scale cut from the bottom ...
  double clipWhite = 0;   // ... and from the top, the rest stretched to the full range
  double shrinkGrow = 0;  // pixels at scale 1; positive grows, negative shrinks
  double blurX = 0;       // box blur radii in thousandths of the image height
  double blurY = 0;
  bool invert = false;
};

// Maps pixels to matte values: the chosen channel, then the tonal band table.
// The table is kept per depth and rebuilt only when the band changes.
class TonalSelector {
 public:
  // The value of a pixel (R, G, B samples) on the channel, 0..L.
  template <class S>
  static int32_t Value(ExtractOn channel, const S* pixel);

  // The band table of (centre, width) at depth S: kTableSize entries.
  template <class S>
  std::span<const S> Table(double centre, double width);

  // matte = table[Value(source pixel)] over rect; matte is one channel of
  // the source's depth, source four channels, same coordinates.
  void Select(const Raster& source, Raster& matte, const Rect& rect, ExtractOn channel, double centre,
              double width);

 private:
  template <class S>
  struct Cache {
    bool valid = false;
    double centre = 0;
    double width = 0;
    std::vector<S> table;
  };
  template <class S>
  Cache<S>& CacheOf();

  Cache<uint8_t> cache8_;
  Cache<uint16_t> cache16_;
};

class SelectionMatte {
 public:
  // The matte of rect of the four-channel source: a one-channel raster of
  // the source's size and depth, 0 outside rect. Lengths are converted at the
  // scale of info; the blur uses info's pass count.
  RasterRef Build(const Raster& source, const Rect& rect, const RenderInfo& info, const MatteSettings& s);

  // How far the matte of a pixel depends on its neighbours, in pixels at
  // info's scale: the shrink/grow window plus the blur's reach.
  static int32_t ReachX(const RenderInfo& info, const MatteSettings& s);
  static int32_t ReachY(const RenderInfo& info, const MatteSettings& s);
  // Grows an output rectangle to the source rectangle the matte needs.
  static void ExpandRect(const RenderInfo& info, const MatteSettings& s, Rect& rect);

  TonalSelector& Selector() { return selector_; }

 private:
  TonalSelector selector_;
};

// The steps after the band lookup, exposed for the effects that build a
// matte of their own and for tests. All work in place on a one-channel
// raster within rect.
//
// Clip: levels on the matte. With lo = trunc(black * L) and
// hi = trunc((1 - white) * L), m' = clamp((m - lo) * L / (hi - lo), 0, L)
// (integer division). When hi <= lo the range has closed to a point and the
// mapping is a threshold: L above lo, 0 at or below it. Nothing happens when
// both are 0.
void ClipMatte(Raster& matte, const Rect& rect, double black, double white);
// Grow (v > 0, separable maximum) or shrink (v < 0, separable minimum) with
// the radii |v| * scaleX and |v| * scaleY. The window of radius r spans
// ceil(r) samples on each side, clipped to the line; the two outermost enter
// weighted by f = 1 - (ceil(r) - r): the maximum takes trunc(f * s) of them.
// Shrinking mirrors growing exactly: it is the grow of the inverted matte,
// inverted back, so the outermost samples of the minimum enter as
// L - trunc(f * (L - s)).
void ShrinkGrowMatte(Raster& matte, const Rect& rect, double v, double scaleX, double scaleY);
// The matte's box blur as Build runs it: s.blurX and s.blurY (thousandths
// of the image height) at info's scale with info's pass count. Nothing
// happens when both are 0.
void BlurMatte(Raster& matte, const Rect& rect, const RenderInfo& info, const MatteSettings& s);
// m' = L - m.
void InvertMatte(Raster& matte, const Rect& rect);
// Shows a matte as grey: (m, m, m, full scale) for every pixel of rect of the
// four-channel destination.
void ShowMatte(const Raster& matte, Raster& destination, const Rect& rect);

// ------------------------------------------------------- parameter groups

// The short group "matte"/"Selection": position and range carry the
// principal-amount flag; the blur's maximum differs between effects.
struct MatteDefaults {
  double position = 100;
  double range = 80;
  double blur = 0;
  double blurMaximum = 1000;
};

constexpr std::array<ParamSpec, 3> MatteRows(MatteDefaults d) {
  return {
      Range("mattePosition", "Position", 0, 100, d.position).Flags(kPrincipal),
      Range("matteRange", "Range", 0, 100, d.range).Flags(kPrincipal),
      Range("matteBlur", "Blur", 0, d.blurMaximum, d.blur),
  };
}

constexpr std::array<ParamSpec, 5> MatteGroup(MatteDefaults d) {
  return Join(Rows({Group("matte", "Selection")}), MatteRows(d), Rows({End()}));
}

// Reads the short group whose "mattePosition" is parameter `position`: a
// luminance matte with centre = position %, width = twice the range % and
// both blurs = "matteBlur".
struct MatteParams {
  int position;
  MatteSettings Read(const Effect& effect) const;
};

// The full Selection group. Its "clip" sub-heading is closed right after the
// two clip values, so the group can follow any heading of an effect.
struct SelectionDefaults {
  int32_t extractOn = 0;
  double position = 100;
  double range = 80;
  double blurX = 0;
  double blurY = 0;
  bool gang = true;
};

// Extra attribute bit the Extract On list carries.
inline constexpr uint32_t kExtractOnFlag = 0x4;

constexpr std::array<ParamSpec, 12> SelectionGroup(SelectionDefaults d) {
  return {
      List("extractOn", "Extract On", kExtractOnItems, d.extractOn).Flags(kExtractOnFlag),
      Range("position", "Position", 0, 100, d.position).Flags(kPrincipal),
      Range("range", "Range", 0, 100, d.range),
      Group("clip", "Clip", true),
      Range("clipBlack", "Clip Black", 0, 100, 0).Flags(kPrincipal),
      Range("clipWhite", "Clip White", 0, 100, 0),
      End(),
      Range("matteAdjust", "Shrink/Grow", -50, 50, 0),
      Range("matteBlurX", "Horizontal Blur", 0, 500, d.blurX),
      Range("matteBlurY", "Vertical Blur", 0, 500, d.blurY),
      Bool("matteBlurGang", "Gang Blur", d.gang).Flags(kNotify),
      Bool("invert", "Invert", false),
  };
}

// Reads the full group whose "extractOn" is parameter `first`.
struct SelectionParams {
  enum Offset {
    kExtractOn,
    kPosition,
    kRange,
    kClip,
    kClipBlack,
    kClipWhite,
    kClipEnd,
    kAdjust,
    kBlurX,
    kBlurY,
    kBlurGang,
    kInvert,
    kCount,
  };
  int first;

  // Centre = position %, width = twice the range %, the vertical blur
  // following the horizontal one while ganged.
  MatteSettings Read(const Effect& effect) const;
  // The vertical blur is enabled exactly while the gang is off; call it from
  // the effect's parameter-changed routine.
  void ParameterChanged(Effect& effect, int index) const;
};

}  // namespace fx
