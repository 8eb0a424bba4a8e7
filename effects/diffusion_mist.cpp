// Mist, Black Mist, Fog and Faux Film: a glow over the image, with a depth
// veil (Fog) or a colour correction and film grain (Faux Film).
#include <algorithm>
#include <cmath>
#include <vector>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/diffusion.h"
#include "effects/diffusion_common.h"
#include "effects/gel_filter.h"
#include "effects/glow.h"
#include "effects/param_groups.h"
#include "effects/selection_matte.h"
#include "effects/tone_range.h"
#include "imaging/film_grain.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"

namespace fx::effects {
namespace {

// ------------------------------------------------------------------ Mist family

// The glow group of the Mist family and Faux Film: rows 2 to 10.
constexpr std::array<ParamSpec, 9> MistGlowGroup() {
  return {
      Group("glow", "Mist", true),
      List("mist", "Mist", kGlowModeItems, 1),
      List("glowBlend", "Blend", kGlowBlendItems, 0),
      Range("glowBrightness", "Brightness", 0, 800, 75).Flags(kPrincipal),
      Range("glowBlurH", "Horizontal Blur", 0, 1000, 50).Flags(kNotify),
      Range("glowBlurV", "Vertical Blur", 0, 1000, 50).Flags(kNotify),
      Bool("glowBlurGang", "Gang Blur", true).Flags(kNotify),
      Colour("glowColor", "Color", kWhite),
      End(),
  };
}

// The warming gel's group, rows 11 to 16 of the warming layout.
constexpr std::array<ParamSpec, 6> WarmingGroup() {
  return {
      Group("warming", "Warming"),
      Colour("color", "Color", {255 / 255.0, 203 / 255.0, 121 / 255.0}),
      Range("opacity", "Opacity", 0, 100, 50),
      Range("highlights", "Preserve Highlights", 0, 100, 50),
      Range("exposure", "Exposure Compensation", 0, 100, 0),
      End(),
  };
}

// The plain layout has 16 parameters, the warming layout 22: the warming
// group sits between the glow and the selection. The Black Mist variants
// select the shadows: their selection is centred on black.
constexpr auto MistParams(double mattePosition) {
  return Join(Rows({Image("background", "Background"), List("view", "View", kOutputSelectionOriginal)}),
              MistGlowGroup(), MatteGroup({.position = mattePosition, .range = 80}));
}
constexpr auto WarmMistParams(double mattePosition) {
  return Join(Rows({Image("background", "Background"), List("view", "View", kOutputSelectionOriginal)}),
              MistGlowGroup(), WarmingGroup(), MatteGroup({.position = mattePosition, .range = 80}));
}
inline constexpr auto kMistParams = MistParams(100);
inline constexpr auto kBlackMistParams = MistParams(0);
inline constexpr auto kWarmMistParams = WarmMistParams(100);
inline constexpr auto kWarmBlackMistParams = WarmMistParams(0);
static_assert(kMistParams.size() == 16 && ValidTable(kMistParams) && ValidTable(kBlackMistParams));
static_assert(kWarmMistParams.size() == 22 && ValidTable(kWarmMistParams) &&
              ValidTable(kWarmBlackMistParams));

// One class in two layouts; the members differ only in where their
// selection starts. The warming layout lays the warming gel over the image
// before the glow.
template <bool kWarming>
class Mist final : public Effect {
 public:
  enum {
    kBackground,
    kView,
    kGlowGroup,
    kMode,
    kBlend,
    kBrightness,
    kBlurH,
    kBlurV,
    kGang,
    kColour,
    kGlowEnd
  };
  // The warming group's rows (warming layout only).
  enum { kWarmColour = 12, kWarmOpacity, kWarmHighlights, kWarmExposure };
  static constexpr int kMattePosition = kWarming ? 18 : 12;
  enum View { kOutput, kSelection, kOriginal };
  static constexpr GlowParams kGlow{kMode, kBlend, kBrightness, kBlurH, kBlurV, kGang, kColour};
  static constexpr MatteParams kMatte{kMattePosition};
  static constexpr MatteViews kMatteViews{kOriginal, kSelection};
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }
  void ParameterChanged(int32_t index) { kGlow.GangChanged(*this, index); }
  void ExpandRect(RenderInfo& info, Rect& rect) {
    Grow(rect, MatteGlowMargins(info, kMatte.Read(*this), kGlow.Read(*this, info)));
  }
  void BeginRender(RenderInfo&) {
    if constexpr (kWarming) LoadGel();
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const double brightness = kGlow.Brightness(*this);
    RasterRef matte;
    if (kMatteViews.Render(ListIndex(kView), brightness > 0, matte_, kMatte.Read(*this), source, info, matte))
      return;
    CopyArea(source, d, info.area);
    if constexpr (kWarming) {
      LoadGel();
      gel_.Apply(d, info.area);
    }
    if (brightness > 0) Glow(d, *matte, info.area, kGlow.Read(*this, info), info);
  }

 private:
  void LoadGel() {
    gel_.Load(ColourValue(kWarmColour), Percent(kWarmOpacity), Percent(kWarmHighlights),
              Percent(kWarmExposure));
  }

  SelectionMatte matte_;
  GelFilter gel_;
};
inline constexpr EffectType kMistType = catalogue::Type("Mist", kMistParams, 0);
inline constexpr EffectType kBlackMistType = catalogue::Type("BlackMist", kBlackMistParams, 0);
inline constexpr EffectType kWarmMistType = catalogue::Type("WarmMist", kWarmMistParams, 0);
inline constexpr EffectType kWarmBlackMistType = catalogue::Type("WarmBlackMist", kWarmBlackMistParams, 0);

// ------------------------------------------------------------------------ Fog

// Where the fog is thickest: the vanishing point, with the depth falling
// from Max Depth there to Min Depth at the image corner farthest from it.
class FogGeometry {
 public:
  // The point is a fraction of the image from its centre, converted to
  // pixels of the whole image at the current scale.
  FogGeometry(PointD vanish, double minDepth, double maxDepth, int32_t width, int32_t height) {
    vx_ = PixelOf(vanish.x, width);
    vy_ = PixelOf(vanish.y, height);
    const double farX = vx_ < width * 0.5 ? width - 1 : 0;
    const double farY = vy_ < height * 0.5 ? height - 1 : 0;
    a_ = std::hypot(farX - vx_, farY - vy_);
    min_ = std::min(minDepth, maxDepth);
    max_ = std::max(minDepth, maxDepth);
  }

  // Depth at the whole-image pixel (x, y). A one-pixel image has its far
  // corner on the vanishing point: every pixel is then at Max Depth.
  double Depth(double x, double y) const {
    if (!(a_ > 0)) return max_;
    const double d = std::hypot(x - vx_, y - vy_);
    return min_ + (max_ - min_) * (1 - d / a_);
  }

  // The whole-image column mirrored about the vanishing point: the same
  // distance, so the same depth, in every row.
  double MirrorX(double x) const { return 2 * vx_ - x; }

 private:
  // trunc((x + 0.5) size); points arrive finite and bounded.
  static double PixelOf(double fraction, int32_t size) {
    return static_cast<double>(static_cast<int64_t>((fraction + 0.5) * size));
  }

  double vx_ = 0, vy_ = 0, a_ = 0, min_ = 0, max_ = 0;
};

// f(depth) for every pixel of a row of rect at whole-image row y, into
// out[0 .. width): a column and its mirror about the vanishing point lie at
// one distance, so the second of them takes the first one's value.
template <class F>
void RowOfDepths(const FogGeometry& g, const Rect& rect, Origin origin, int32_t y, double* out, F&& f) {
  for (int32_t x = rect.left; x < rect.right; ++x) {
    const double wx = x + origin.x;
    const double mirror = g.MirrorX(wx) - origin.x;  // a column of the tile
    if (mirror >= rect.left && mirror < x) {
      out[x - rect.left] = out[static_cast<int32_t>(mirror) - rect.left];
      continue;
    }
    out[x - rect.left] = f(g.Depth(wx, y + origin.y));
  }
}

// The veil over rect, source to destination, at whole-image position
// origin of pixel (0, 0): transmission o = exp(-(density x depth x 0.05)),
// each colour channel trunc(clamp(o P / L + (1 - o) fog, 0, 1) L), alpha
// copied; all in double precision.
template <class S>
void FogVeil(const Raster& source, Raster& d, const Rect& rect, Origin origin, const FogGeometry& g,
             double density, const Rgb& fog) {
  constexpr double L = Depth<S>::L;
  const double colour[3] = {fog.r, fog.g, fog.b};
  ParallelRows(rect.top, rect.bottom, int64_t{rect.Width()} * 16, [&](int32_t first, int32_t end) {
    std::vector<double> transmission(static_cast<size_t>(rect.Width()));
    for (int32_t y = first; y < end; ++y) {
      RowOfDepths(g, rect, origin, y, transmission.data(),
                  [&](double depth) { return std::exp(-(density * depth * 0.05)); });
      const S* p = source.RowAs<S>(y) + 4 * rect.left;
      S* q = d.RowAs<S>(y) + 4 * rect.left;
      for (int32_t x = rect.left; x < rect.right; ++x, p += 4, q += 4) {
        const double o = transmission[x - rect.left];
        for (int c = 0; c < 3; ++c)
          q[c] = static_cast<S>(std::clamp(o * p[c] / L + (1 - o) * colour[c], 0.0, 1.0) * L);
        q[3] = p[3];
      }
    }
  });
}

inline constexpr auto kFogParams =
    Join(Rows({
             Image("background", "Background"),
             List("view", "View", kOutputSelectionOriginal),
             Group("fogGroup", "Fog", true),
             Colour("color", "Color", kWhite),
             Point("vanish", "Vanishing Point", {0, 0}),
             Range("density", "Fog", 0, 100, 10),
             Range("minDepth", "Min Depth", 0, 100, 50),
             Range("maxDepth", "Max Depth", 0, 100, 100),
             End(),
             Group("glow", "Glow", true),
             List("glowBlend", "Blend", kGlowBlendItems, 0),
             Range("glowBrightness", "Brightness", 0, 1000, 100).Flags(kPrincipal),
             Range("glowHBlur", "Horizontal Blur", 0, 1000, 100),
             Range("glowVBlur", "Vertical Blur", 0, 1000, 100),
             Bool("glowGangBlur", "Gang Blur", true).Flags(kNotify),
             Colour("glowColor", "Color", kWhite),
             End(),
         }),
         MatteGroup({.position = 100, .range = 20}));
static_assert(kFogParams.size() == 22 && ValidTable(kFogParams));

// A depth veil in the fog colour, then a spread glow of the veiled image.
class Fog final : public Effect {
 public:
  enum {
    kBackground,
    kView,
    kFogGroup,
    kColour,
    kVanish,
    kDensity,
    kMinDepth,
    kMaxDepth,
    kFogEnd,
    kGlowGroup,
    kBlend,
    kBrightness,
    kBlurH,
    kBlurV,
    kGang,
    kGlowColour,
    kGlowEnd,
    kMatteGroup,
    kMattePosition,
  };
  enum View { kOutput, kSelection, kOriginal };
  static constexpr GlowParams kGlow{-1, kBlend, kBrightness, kBlurH, kBlurV, kGang, kGlowColour};
  static constexpr MatteParams kMatte{kMattePosition};
  static constexpr MatteViews kMatteViews{kOriginal, kSelection};
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }
  void ParameterChanged(int32_t index) { kGlow.GangChanged(*this, index); }
  void ExpandRect(RenderInfo& info, Rect& rect) { Grow(rect, Reach(info)); }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const double brightness = kGlow.Brightness(*this);
    RasterRef matte;
    if (kMatteViews.Render(ListIndex(kView), brightness > 0, matte_, kMatte.Read(*this), source, info, matte))
      return;
    const Margins m = Reach(info);
    const FogGeometry geometry(PointValue(kVanish), RangeValue(kMinDepth), RangeValue(kMaxDepth),
                               info.imageWidth, info.imageHeight);
    WithDepth(d.Is16Bit(), [&]<class S>() {
      FogVeil<S>(source, d, info.area, TileOrigin(info, m.x, m.y), geometry, Percent(kDensity),
                 ColourValue(kColour));
    });
    if (brightness > 0) Glow(d, *matte, info.area, kGlow.Read(*this, info), info);
  }

 private:
  Margins Reach(const RenderInfo& info) const {
    return MatteGlowMargins(info, kMatte.Read(*this), kGlow.Read(*this, info));
  }

  SelectionMatte matte_;
};
inline constexpr EffectType kFogType = catalogue::Type("Fog", kFogParams, 0);

// ---------------------------------------------------------------------- Defog

// The veil taken away: r = exp(+(density x depth x 0.05)), t = 1 - 1 / r,
// each colour channel trunc(clamp(r (P / L - t colour), 0, 1) L), alpha
// copied; in double precision. With Fog's colour and geometry it undoes
// Fog up to rounding.
template <class S>
void DefogVeil(const Raster& source, Raster& d, const Rect& rect, Origin origin, const FogGeometry& g,
               double density, const Rgb& fog) {
  constexpr double L = Depth<S>::L;
  const double colour[3] = {fog.r, fog.g, fog.b};
  ParallelRows(rect.top, rect.bottom, int64_t{rect.Width()} * 16, [&](int32_t first, int32_t end) {
    std::vector<double> gain(static_cast<size_t>(rect.Width()));
    for (int32_t y = first; y < end; ++y) {
      RowOfDepths(g, rect, origin, y, gain.data(),
                  [&](double depth) { return std::exp(density * depth * 0.05); });
      const S* p = source.RowAs<S>(y) + 4 * rect.left;
      S* q = d.RowAs<S>(y) + 4 * rect.left;
      for (int32_t x = rect.left; x < rect.right; ++x, p += 4, q += 4) {
        const double r = gain[x - rect.left];
        const double t = 1 - 1 / r;
        for (int c = 0; c < 3; ++c)
          q[c] = static_cast<S>(std::clamp(r * (p[c] / L - t * colour[c]), 0.0, 1.0) * L);
        q[3] = p[3];
      }
    }
  });
}

inline constexpr auto kDefogParams = std::to_array<ParamSpec>({
    Image("background", "Background"),
    List("view", "View", kOutputOriginal),
    Group("defog", "Defog", true),
    Colour("color", "Color", {0.9, 0.9, 0.9}),
    Point("vanish", "Vanishing Point", {0, 0}),
    Range("density", "Defog", 0, 100, 10),
    Range("minDepth", "Min Depth", 0, 100, 50),
    Range("maxDepth", "Max Depth", 0, 100, 100),
    End(),
    Group("colorGroup", "Color"),
    Range("hue", "Hue", -360, 360, 0),
    Range("saturation", "Saturation", -100, 100, 0).Flags(kPrincipal),
    Range("brightness", "Brightness", -100, 100, 0),
    Range("contrast", "Contrast", -100, 100, 0),
    Range("gamma", "Gamma", -100, 100, 0),
    Range("red", "Red", -100, 100, 0),
    Range("green", "Green", -100, 100, 0),
    Range("blue", "Blue", -100, 100, 0),
    End(),
});
static_assert(kDefogParams.size() == 19 && ValidTable(kDefogParams));

// Fog's veil taken away, then a colour correction by the tonal-range
// engine.
class Defog final : public Effect {
 public:
  enum {
    kBackground,
    kView,
    kDefogGroup,
    kColour,
    kVanish,
    kDensity,
    kMinDepth,
    kMaxDepth,
    kDefogEnd,
    kColourGroup,
    kHue,
    kSaturation,
    kBright,
    kContrast,
    kGamma,
    kRed,
    kGreen,
    kBlue,
  };
  enum View { kOutput, kOriginal };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) == kOutput; }

  void BeginRender(RenderInfo& info) {
    Configure();
    engine_.Prepare(info.is16Bit);
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    if (ListIndex(kView) != kOutput) {
      CopyArea(source, d, info.area);
      return;
    }
    const FogGeometry geometry(PointValue(kVanish), RangeValue(kMinDepth), RangeValue(kMaxDepth),
                               info.imageWidth, info.imageHeight);
    WithDepth(d.Is16Bit(), [&]<class S>() {
      DefogVeil<S>(source, d, info.area, TileOrigin(info), geometry, Percent(kDensity), ColourValue(kColour));
    });
    Configure();
    if (engine_.IsPassThrough()) return;
    engine_.Prepare(d.Is16Bit());
    engine_.Apply(d, d, info.area);
  }

 private:
  void Configure() {
    ToneMaster m;
    m.hue = RangeValue(kHue);
    m.saturation = RangeValue(kSaturation);
    m.tone = {Percent(kBright), Percent(kContrast), Percent(kGamma),
              Percent(kRed),    Percent(kGreen),    Percent(kBlue)};
    engine_.Configure(m);
  }

  ToneRangeEngine engine_;
};
inline constexpr EffectType kDefogType = catalogue::Type("Defog", kDefogParams, 0);

// ------------------------------------------------------------------ Faux Film

// The grain group sits inside an outer "Grain" group, and its "Film
// Response" heading opens a group of its own: groups nest here. The grain
// starts at sizes 1 and amounts 25 %.
inline constexpr auto kFauxFilmParams =
    Join(Rows({Image("background", "Background"), List("view", "View", kOutputSelectionOriginal)}),
         MistGlowGroup(), Rows({Group("grain", "Grain", true)}), GrainGroup({.size = 1, .amount = 25}),
         Rows({End()}),
         Rows({
             Group("density", "Color Correct", true),
             Range("hue", "Hue", -360, 360, 0),
             Range("saturation", "Saturation", -100, 100, 0).Flags(kPrincipal),
             Range("brightness", "Brightness", -100, 100, 0).Flags(kPrincipal),
             Range("contrast", "Contrast", -100, 100, 0).Flags(kPrincipal),
             Range("gamma", "Gamma", -100, 100, 0).Flags(kPrincipal),
             Range("red", "Red", -100, 100, 0),
             Range("green", "Green", -100, 100, 0),
             Range("blue", "Blue", -100, 100, 0),
             Range("warmCool", "Temperature", -50, 50, 0),
             End(),
             Group("matte", "Selection", true),
         }),
         MatteRows({.position = 100, .range = 80}), Rows({End()}));
static_assert(kFauxFilmParams.size() == 43);
static_assert(ValidTable(kFauxFilmParams));

// A Mist glow, a colour correction and colour film grain in one effect.
class FauxFilm final : public Effect {
 public:
  enum {
    kBackground,
    kView,
    kGlowGroup,
    kMode,
    kBlend,
    kBrightness,
    kBlurH,
    kBlurV,
    kGang,
    kColour,
    kGlowEnd,
    kGrainGroup,
    kGrain,  // the first row of the grain group
    kHue = 28,
    kSaturation,
    kBright,
    kContrast,
    kGamma,
    kRed,
    kGreen,
    kBlue,
    kWarmCool,
    kMattePosition = 39,
  };
  enum View { kOutput, kSelection, kOriginal };
  static constexpr GlowParams kGlow{kMode, kBlend, kBrightness, kBlurH, kBlurV, kGang, kColour};
  static constexpr MatteParams kMatte{kMattePosition};
  static constexpr MatteViews kMatteViews{kOriginal, kSelection};
  using Effect::Effect;

  bool IsActive() const { return true; }
  void ParameterChanged(int32_t index) { kGlow.GangChanged(*this, index); }
  void ExpandRect(RenderInfo& info, Rect& rect) { Grow(rect, Reach(info)); }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const Rect& area = info.area;
    const double brightness = kGlow.Brightness(*this);
    RasterRef matte;
    if (kMatteViews.Render(ListIndex(kView), brightness > 0, matte_, kMatte.Read(*this), source, info, matte))
      return;
    CopyArea(source, d, area);
    ColorCorrection c;
    c.hue = RangeValue(kHue);
    c.saturation = Percent(kSaturation);
    c.brightness = Percent(kBright);
    c.contrast = Percent(kContrast);
    c.bend = Percent(kGamma);
    c.redGain = Percent(kRed);
    c.greenGain = Percent(kGreen);
    c.blueGain = Percent(kBlue);
    c.multiply = false;
    ColorCorrectOp(d, area, c);
    if (RangeValue(kWarmCool) != 0) WarmCoolShift(d, area, Percent(kWarmCool));
    if (brightness > 0) Glow(d, *matte, area, kGlow.Read(*this, info), info);
    // The grain as the Grain effect drives it in its "Output" view.
    grain_.UpdateFromGroup(ReadGrainGroup(*this, kGrain));
    grain_.SetScale(info.scaleX, info.scaleY);
    grain_.SetPasses(info.reserved2);
    const Margins m = Reach(info);
    grain_.Render(d, area, GrainTileOf(info, m.x, m.y), false);
  }

 private:
  Margins Reach(const RenderInfo& info) const {
    return MatteGlowMargins(info, kMatte.Read(*this), kGlow.Read(*this, info));
  }

  SelectionMatte matte_;
  FilmGrain grain_;
};
inline constexpr EffectType kFauxFilmType = catalogue::Type("FauxFilm", kFauxFilmParams, 0);

}  // namespace

const EffectRoutines& kMist = RoutinesOf<Mist<false>, kMistType>;
const EffectRoutines& kBlackMist = RoutinesOf<Mist<false>, kBlackMistType>;
const EffectRoutines& kWarmMist = RoutinesOf<Mist<true>, kWarmMistType>;
const EffectRoutines& kWarmBlackMist = RoutinesOf<Mist<true>, kWarmBlackMistType>;
const EffectRoutines& kFog = RoutinesOf<Fog, kFogType>;
const EffectRoutines& kDefog = RoutinesOf<Defog, kDefogType>;
const EffectRoutines& kFauxFilm = RoutinesOf<FauxFilm, kFauxFilmType>;

}  // namespace fx::effects
