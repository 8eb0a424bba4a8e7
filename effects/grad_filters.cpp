// Graduated filters: Color Grad, Strip Grad and Color Spot lay a colour
// filter over the image through a gradient or a spot.
#include "effects/grad_filters.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>

#include "effects/catalogue.h"
#include "effects/colour_filters.h"
#include "effects/colour_ops.h"
#include "effects/grad_family.h"
#include "effects/grad_stage.h"
#include "effects/param_groups.h"
#include "imaging/masks.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/tone_curve.h"

namespace fx::effects {
namespace {

using grads::kMaskView;
using grads::kOriginal;
using grads::kOutput;

inline constexpr const char* kGradViews[] = {"Output", "Grad", "Original"};
inline constexpr const char* kSpotViews[] = {"Output", "Spot", "Original"};

// The colour filter's rows, in a group of the given key and label.
constexpr std::array<ParamSpec, 7> FilterGroup(const char* key, const char* label) {
  return {Group(key, label, true),
          List("presets", "Presets", grads::kColourFilterNames).Flags(kNotify),
          Colour("color", "Color", grads::kCustomColour),
          Range("opacity", "Opacity", 0, 100, 100),
          Range("highlights", "Preserve Highlights", 0, 100, 0),
          Range("exposure", "Exposure Compensation", 0, 100, 0),
          End()};
}

constexpr auto ColourGradParams(std::span<const char* const> directions) {
  return Join(Rows({Image("input", "Input"), List("view", "View", kGradViews)}), FilterGroup("filters", "Filters"),
              GradGroup({.directions = directions}));
}
inline constexpr auto kColorGradParams = ColourGradParams(kGradDirectionItems);
inline constexpr auto kStripGradParams = ColourGradParams(kStripDirectionItems);
static_assert(ValidTable(kColorGradParams) && ValidTable(kStripGradParams));
static_assert(kColorGradParams.size() == 19 && RowOf(kColorGradParams, "Grad") == 9);

inline constexpr auto kColorSpotParams =
    Join(Rows({Image("input", "Input"), List("view", "View", kSpotViews)}), FilterGroup("colorGroup", "Color"),
         SpotGroup({.radiusDefault = 35}));
static_assert(ValidTable(kColorSpotParams));

// The colour filter's parameters, shared by the three members (same rows in
// the same places).
template <const auto& kParams>
struct FilterRows {
  static constexpr int kView = RowOf(kParams, "view");
  static constexpr int kPresets = RowOf(kParams, "presets");
  static constexpr int kColor = RowOf(kParams, "color");
  static constexpr int kOpacity = RowOf(kParams, "opacity");
  static constexpr int kHighlights = RowOf(kParams, "highlights");
  static constexpr int kExposure = RowOf(kParams, "exposure");

  static Rgb Colour(const Effect& e) {
    const int32_t preset = e.ListIndex(kPresets);
    return preset == 0 ? e.ColourValue(kColor) : grads::ColourFilterColour(preset);
  }
  static grads::ColourFilter::Settings Settings(const Effect& e) {
    return {.opacity = e.Percent(kOpacity), .highlights = e.Percent(kHighlights), .exposure = e.Percent(kExposure)};
  }
  // The colour is the user's only under "Custom".
  static void ParameterChanged(Effect& e, int index) {
    if (index == kPresets) SetEnabled(e.Param(kColor), e.ListIndex(kPresets) == 0);
  }
};

// ------------------------------------------------------- Color / Strip Grad

// The colour filter through the grad. Strip Grad's mask is the three-sample
// ramp (0, full, 0) across the quadrilateral, "Horizontal" running it from
// top to bottom.
template <bool kStrip>
class ColourGrad final : public Effect {
 public:
  // The two tables differ only in the direction list's items.
  using F = FilterRows<kColorGradParams>;
  static constexpr int kGrad = RowOf(kColorGradParams, "Grad");
  static constexpr double kStripRamp[] = {0, 1, 0};
  using Effect::Effect;

  bool IsActive() const {
    switch (ListIndex(F::kView)) {
      case kOriginal:
        return false;
      case kMaskView:
        return true;
      default: {
        const GradStage g = GradStage::Read(*this, kGrad);
        return RangeValue(F::kOpacity) > 0 || (g.enabled && g.nd > 0);
      }
    }
  }

  void ParameterChanged(int index) {
    F::ParameterChanged(*this, index);
    GradStage::ParameterChanged(*this, kGrad, index);
  }

  void BeginRender(RenderInfo&) { filter_.Load(F::Colour(*this)); }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    CopyArea(source, *info.destination, info.area);
    const int32_t view = ListIndex(F::kView);
    if (view == kOriginal) return;
    if (view == kOutput) {
      filter_.Load(F::Colour(*this));
      filter_.Apply(source, *info.destination, info.area, F::Settings(*this));
    }
    GradStage g = GradStage::Read(*this, kGrad);
    if constexpr (kStrip) {
      g.ramp = kStripRamp;
      g.rampDirection = StripDirection(g.shape.direction);
    }
    g.Apply(source, info, view == kMaskView);
  }

 private:
  grads::ColourFilter filter_;
};

inline constexpr EffectType kColorGradType = catalogue::Type("ColorGrad", kColorGradParams, 0);
inline constexpr EffectType kStripGradType = catalogue::Type("StripGrad", kStripGradParams, 0);

// --------------------------------------------------------------- Color Spot

// The colour filter around a clear spot.
class ColourSpot final : public Effect {
 public:
  using F = FilterRows<kColorSpotParams>;
  static constexpr int kSpot = RowOf(kColorSpotParams, "spot");
  using Effect::Effect;

  bool IsActive() const {
    switch (ListIndex(F::kView)) {
      case kOriginal:
        return false;
      case kMaskView:
        return true;
      default:
        return RangeValue(F::kOpacity) > 0;
    }
  }

  void ParameterChanged(int index) { F::ParameterChanged(*this, index); }

  void BeginRender(RenderInfo&) { filter_.Load(F::Colour(*this)); }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    CopyArea(source, d, info.area);
    const int32_t view = ListIndex(F::kView);
    if (view == kOriginal) return;
    const Rect area = info.area.Intersect(d.Bounds()).Intersect(source.Bounds());
    if (area.Empty()) return;
    RasterRef mask = MakeRaster(d.Width(), d.Height(), 1, d.BytesPerSample());
    mask->Fill(0);
    MakeSpotMask(*mask, area, TileOrigin(info),
                 ReadSpot(*this, kSpot + SpotRows::kPosition).Shape(info.imageWidth, info.imageHeight));
    if (view == kMaskView) {
      ShowMaskAsGrey(*mask, source, d, area);
      return;
    }
    filter_.Load(F::Colour(*this));
    filter_.Apply(source, d, area, F::Settings(*this));
    BlendThroughMask(source, d, *mask, d, area, 1.0f);
  }

 private:
  grads::ColourFilter filter_;
};

inline constexpr EffectType kColorSpotType = catalogue::Type("ColorSpot", kColorSpotParams, 0);

// ------------------------------------------------------------------ ND Grad

inline constexpr const char* kNdPresets[] = {"Custom", "ND.3", "ND.6", "ND.9", "ND1.2"};

// The Grad group without "grad_nd", which the neutral-density render does
// not use: header, "gradEnable", the shape rows, end.
constexpr std::array<ParamSpec, 9> NdGradGroup() {
  return Join(Rows({Group("Grad", "Grad"), GradEnableRow()}), GradShapeRows(), Rows({End()}));
}

inline constexpr auto kNdGradParams =
    Join(Rows({Image("input", "Input"), List("view", "View", kGradViews), Group("filters", "Filters", true),
               List("preset", "Presets", kNdPresets).Flags(kNotify), Range("exposure", "Stops", 0, 10, 1),
               Range("highlights", "Preserve Highlights", 0, 100, 0), End()}),
         NdGradGroup());
static_assert(ValidTable(kNdGradParams));

// The darkened image: a gain of 2^-stops in 16-bit linear light, at both
// depths, the source's alpha kept. Zero stops leave the source as it is
// (a round trip alone would move some samples).
void Darken(const Raster& source, Raster& darkened, const Rect& area, double stops) {
  if (stops == 0) {
    CopyArea(source, darkened, area);
    return;
  }
  const double gain = std::exp2(-stops);
  RasterRef linear = MakeRaster(area.Width(), area.Height(), 4, 2);
  const Rect local{0, 0, area.Height(), area.Width()};
  ToLinear(source, area, *linear, 0, 0);
  ParallelRows(0, local.bottom, 4 * int64_t{local.right}, [&](int32_t rowsBegin, int32_t rowsEnd) {
    for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
      uint16_t* p = linear->RowAs<uint16_t>(y);
      for (int32_t x = 0; x < local.right; ++x, p += 4)
        for (int c = 0; c < 3; ++c) p[c] = Depth16::Clamp(static_cast<int64_t>(p[c] * gain));
    }
  });
  FromLinear(*linear, local, darkened, area.left, area.top);
  WithDepth(darkened.Is16Bit(), [&]<class S>() {
    ParallelRows(area.top, area.bottom, area.Width(), [&](int32_t rowsBegin, int32_t rowsEnd) {
      for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
        const S* s = source.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(area.left);
        S* d = darkened.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(area.left);
        for (int32_t x = area.left; x < area.right; ++x, s += 4, d += 4) d[3] = s[3];
      }
    });
  });
}

// In place over rect: m' = (full - trunc(h x highlight)) m / full, shifted
// by 15 at 16 bits: the grad held back where the source is brightest.
template <class S>
void HoldBackHighlights(Raster& mask, const Raster& highlight, const Rect& rect, double h) {
  constexpr int64_t L = Depth<S>::L;
  ParallelRows(rect.top, rect.bottom, rect.Width(), [&](int32_t rowsBegin, int32_t rowsEnd) {
    for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
      S* m = mask.RowAs<S>(y) + rect.left;
      const S* k = highlight.RowAs<S>(y) + rect.left;
      for (int32_t x = rect.left; x < rect.right; ++x, ++m, ++k) {
        const int64_t keep = (L - static_cast<int64_t>(h * *k)) * *m;
        *m = static_cast<S>(sizeof(S) == 2 ? keep >> 15 : keep / L);
      }
    }
  });
}

// Neutral density through the grad, in stops.
class NdGrad final : public Effect {
 public:
  static constexpr int kView = RowOf(kNdGradParams, "view");
  static constexpr int kPreset = RowOf(kNdGradParams, "preset");
  static constexpr int kStops = RowOf(kNdGradParams, "exposure");
  static constexpr int kHighlights = RowOf(kNdGradParams, "highlights");
  static constexpr int kEnable = RowOf(kNdGradParams, "gradEnable");
  static constexpr int kDirection = RowOf(kNdGradParams, "dir");
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }

  void ParameterChanged(int index) {
    if (index == kPreset) SetEnabled(Param(kStops), ListIndex(kPreset) == 0);
    if (index == kEnable) EnableRestOfGroup(*this, kEnable, BooleanValue(kEnable));
  }

  // "Custom" takes "Stops"; ND.3 to ND1.2 are 1 to 4 stops.
  double Stops() const {
    const int32_t preset = ListIndex(kPreset);
    return preset == 0 ? RangeValue(kStops) : static_cast<double>(preset);
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    CopyArea(source, d, info.area);
    const int32_t view = ListIndex(kView);
    if (view == kOriginal || info.IsCancelled()) return;
    const Rect area = info.area.Intersect(d.Bounds()).Intersect(source.Bounds());
    if (area.Empty()) return;
    const bool grad = BooleanValue(kEnable) || view == kMaskView;
    RasterRef mask;
    if (grad) {
      mask = MakeRaster(d.Width(), d.Height(), 1, d.BytesPerSample());
      mask->Fill(0);
      MakeGradMask(*mask, area, TileOrigin(info), ReadGradShape(*this, kDirection), info.imageWidth,
                   info.imageHeight);
      if (view == kMaskView) {
        ShowMaskAsGrey(*mask, source, d, area);
        return;
      }
    }
    Darken(source, d, area, Stops());
    const double h = Percent(kHighlights);
    if (h > 0) {
      const RasterRef highlight = HighlightMask(source, area);
      if (!grad) {
        BlendWhereMasked(source, d, *highlight, d, area, static_cast<float>(h));
        return;
      }
      WithDepth(d.Is16Bit(), [&]<class S>() { HoldBackHighlights<S>(*mask, *highlight, area, h); });
    }
    if (grad) BlendThroughMask(source, d, *mask, d, area, 1.0f);
  }
};

inline constexpr EffectType kNdGradType = catalogue::Type("NDGrad", kNdGradParams, 0);

// ---------------------------------------------------- Dual Grad, Sunset/Twilight

// One colour's group: its presets (the colour-filter table, item 0 taking
// the colour parameter), the colour and its opacity.
constexpr std::array<ParamSpec, 5> TintGroup(const char* key, const char* label, const char* presets,
                                             const char* colour, Rgb colourDefault, double opacityDefault,
                                             const char* opacity) {
  return {Group(key, label), List(presets, "Presets", grads::kColourFilterNames).Flags(kNotify),
          Colour(colour, "Color", colourDefault), Range(opacity, "Opacity", 0, 100, opacityDefault), End()};
}

inline constexpr auto kTintTail = Rows({Range("highlights", "Preserve Highlights", 0, 100, 50),
                                        Range("exposure", "Exposure Compensation", 0, 100, 0)});

inline constexpr auto kDualGradParams =
    Join(Rows({Image("input", "Input"), List("view", "View", kGradViews)}),
         TintGroup("Color1", "Color 1", "color1presets", "tint1", grads::kCustomColour, 100, "opacity1"),
         TintGroup("Color2", "Color 2", "color2presets", "tint2", {122 / 255.0, 173 / 255.0, 254 / 255.0}, 100,
                   "opacity2"),
         kTintTail, GradShapeGroup());
static_assert(ValidTable(kDualGradParams));

// A look: three colours and their opacities in percent, top sample first.
struct Look {
  const char* name;
  Rgb colour[3];
  double opacity[3];
};
inline constexpr Look kLooks[] = {
    {"Sunset 1", {{1, .7, .4}, {1, .85, .6}, kWhite}, {100, 60, 0}},
    {"Sunset 2", {{1, .55, .25}, {1, .75, .45}, {1, .9, .75}}, {100, 70, 30}},
    {"Sunset 3", {{.9, .35, .2}, {1, .6, .3}, {1, .8, .55}}, {100, 80, 50}},
    {"Twilight 1", {{.55, .6, .95}, {.9, .75, .95}, kWhite}, {100, 50, 0}},
    {"Twilight 2", {{.4, .4, .85}, {.85, .6, .85}, {1, .85, .8}}, {100, 60, 30}},
    {"Twilight 3", {{.3, .25, .65}, {.75, .45, .75}, {1, .7, .6}}, {100, 80, 50}},
};
inline constexpr int32_t kLookCount = static_cast<int32_t>(std::size(kLooks));
inline constexpr auto kLookNames = [] {
  std::array<const char*, std::size(kLooks)> names{};
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = kLooks[i].name;
  return names;
}();

// The first look is the editable one: the colour parameters start at it.
inline constexpr auto kSunsetParams = Join(
    Rows({Image("input", "Input"), List("view", "View", kGradViews),
          List("preset", "Presets", kLookNames).Flags(kNotify)}),
    TintGroup("Color1", "Color 1", "color1presets", "color1", kLooks[0].colour[0], kLooks[0].opacity[0], "opacity1"),
    TintGroup("Color2", "Color 2", "color2presets", "color2", kLooks[0].colour[1], kLooks[0].opacity[1], "opacity2"),
    TintGroup("Color3", "Color 3", "color3presets", "color3", kLooks[0].colour[2], kLooks[0].opacity[2], "opacity3"),
    kTintTail, GradShapeGroup());
static_assert(ValidTable(kSunsetParams));

// Per pixel with the ramp's colour C and opacity A: f = P C / full, plus
// trunc(e (Y(P) - Y(f))) clamped when e != 0, then (A f + (full - A) P) /
// full; alpha is the source's.
template <class S>
void TintThroughRamp(const Raster& source, const Raster& ramp, Raster& d, const Rect& rect, double e) {
  using D = Depth<S>;
  constexpr int32_t L = D::L;
  ParallelRows(rect.top, rect.bottom, 4 * int64_t{rect.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
    for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
      const S* p = source.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(rect.left);
      const S* r = ramp.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(rect.left);
      S* q = d.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(rect.left);
      for (int32_t x = rect.left; x < rect.right; ++x, p += 4, r += 4, q += 4) {
        const int64_t P[3] = {std::min<int32_t>(p[0], L), std::min<int32_t>(p[1], L),
                              std::min<int32_t>(p[2], L)};
        int64_t f[3];
        for (int c = 0; c < 3; ++c) f[c] = P[c] * r[c] / L;
        if (e != 0) {
          const int32_t o = static_cast<int32_t>(
              e * (grads::FilterLuminance(static_cast<int32_t>(P[0]), static_cast<int32_t>(P[1]),
                                          static_cast<int32_t>(P[2])) -
                   grads::FilterLuminance(static_cast<int32_t>(f[0]), static_cast<int32_t>(f[1]),
                                          static_cast<int32_t>(f[2]))));
          for (int c = 0; c < 3; ++c) f[c] = D::Clamp(f[c] + o);
        }
        const int64_t a = r[3];
        for (int c = 0; c < 3; ++c) q[c] = static_cast<S>((a * f[c] + (L - a) * P[c]) / L);
        q[3] = p[3];
      }
    }
  });
}

// Two (Dual Grad) or three (Sunset/Twilight) colours laid along the grad.
template <int kColours>
class TintGrad final : public Effect {
 public:
  static constexpr bool kLooksOn = kColours == 3;
  static constexpr std::span<const ParamSpec> kParams =
      kLooksOn ? std::span<const ParamSpec>(kSunsetParams) : std::span<const ParamSpec>(kDualGradParams);
  static constexpr int kView = RowOf(kParams, "view");
  static constexpr int kLook = kLooksOn ? RowOf(kParams, "preset") : -1;
  static constexpr int kFirstGroup = RowOf(kParams, "Color1");
  static constexpr int kGroupRows = 5;  // header, presets, colour, opacity, end
  static constexpr int kHighlights = RowOf(kParams, "highlights");
  static constexpr int kExposure = RowOf(kParams, "exposure");
  static constexpr int kDirection = RowOf(kParams, "dir");
  static constexpr int Presets(int i) { return kFirstGroup + i * kGroupRows + 1; }
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }

  // A colour is the user's while its preset (and the look) is at item 0;
  // under any look but the first the look decides everything.
  void ParameterChanged(int) {
    const bool own = LookIndex() == 0;
    for (int i = 0; i < kColours; ++i) {
      SetEnabled(Param(Presets(i)), own);
      SetEnabled(Param(Presets(i) + 1), own && ListIndex(Presets(i)) == 0);
      SetEnabled(Param(Presets(i) + 2), own);
    }
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    CopyArea(source, d, info.area);
    const int32_t view = ListIndex(kView);
    if (view == kOriginal || info.IsCancelled()) return;
    const Rect area = info.area.Intersect(d.Bounds()).Intersect(source.Bounds());
    if (area.Empty()) return;
    std::array<double, 4 * kColours> samples{};
    for (int i = 0; i < kColours; ++i) {
      double opacity = 0;
      const Rgb c = ColourOf(i, opacity);
      samples[4 * i] = c.r;
      samples[4 * i + 1] = c.g;
      samples[4 * i + 2] = c.b;
      samples[4 * i + 3] = opacity * 0.01;
    }
    const GradSettings shape = ReadGradShape(*this, kDirection);
    RasterRef ramp = MakeRaster(d.Width(), d.Height(), 4, d.BytesPerSample());
    ramp->Fill(0);
    MakeGradient(*ramp, area, TileOrigin(info), shape.Corners(info.imageWidth, info.imageHeight), shape.size * 0.01,
                 shape.Direction(), samples);
    if (view == kMaskView) {
      CopyArea(*ramp, d, area);
      return;
    }
    WithDepth(d.Is16Bit(), [&]<class S>() { TintThroughRamp<S>(source, *ramp, d, area, Percent(kExposure)); });
    const double h = Percent(kHighlights);
    if (h > 0) BlendWhereMasked(source, d, *HighlightMask(source, area), d, area, static_cast<float>(h));
  }

 private:
  int32_t LookIndex() const {
    if constexpr (kLooksOn) return std::clamp(ListIndex(kLook), 0, kLookCount - 1);
    else return 0;
  }
  // Colour i and its opacity in percent.
  Rgb ColourOf(int i, double& opacity) const {
    if (const int32_t look = LookIndex(); look != 0) {
      opacity = kLooks[look].opacity[i];
      return kLooks[look].colour[i];
    }
    opacity = RangeValue(Presets(i) + 2);
    const int32_t preset = ListIndex(Presets(i));
    return preset == 0 ? ColourValue(Presets(i) + 1) : grads::ColourFilterColour(preset);
  }
};

inline constexpr EffectType kDualGradType = catalogue::Type("DualGrad", kDualGradParams, 0);
inline constexpr EffectType kSunsetType = catalogue::Type("SunsetTwilight", kSunsetParams, 0);

}  // namespace

const EffectRoutines& kNdGrad = RoutinesOf<NdGrad, kNdGradType>;
const EffectRoutines& kColorGrad = RoutinesOf<ColourGrad<false>, kColorGradType>;
const EffectRoutines& kStripGrad = RoutinesOf<ColourGrad<true>, kStripGradType>;
const EffectRoutines& kColorSpot = RoutinesOf<ColourSpot, kColorSpotType>;
const EffectRoutines& kDualGrad = RoutinesOf<TintGrad<2>, kDualGradType>;
const EffectRoutines& kSunsetTwilight = RoutinesOf<TintGrad<3>, kSunsetType>;

}  // namespace fx::effects
