// The film members of the selective colour family: Overexpose, Infrared,
// Night Vision and DayForNight.
#include "effects/selective_colour.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <span>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/diffusion.h"
#include "effects/diffusion_common.h"
#include "effects/gel_filter.h"
#include "effects/glow.h"
#include "effects/param_groups.h"
#include "effects/selection_matte.h"
#include "effects/selective_colour_common.h"
#include "effects/tone_range.h"
#include "imaging/film_grain.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/separable_blur.h"

namespace fx::effects {
namespace {

// The box blur with the render information's pass count.
void ConfigureBox(SeparableBlur& blur, const RenderInfo& info, double blurX, double blurY) {
  blur.SetMode(SeparableBlur::kBox);
  blur.SetPasses(info.reserved2);
  blur.SetRadii(static_cast<float>(blurX), static_cast<float>(blurY));
}

// ------------------------------------------------------------------ Overexpose

// "Veritcal Blur" is the label stored scripts and peers know the row by.
inline constexpr ParamSpec kOverexposeParams[] = {
    Image("input", "Input"),
    List("view", "View", kOutputOriginal),
    Range("amount", "Amount", 0, 100, 0).Flags(kPrincipal),
    Range("intensity", "Intensity", 0, 1000, 1000).Flags(kPrincipal),
    Range("blurX", "Horizontal Blur", 0, 1000, 100).Flags(kNotify),
    Range("blurY", "Veritcal Blur", 0, 1000, 100),
    Bool("gang", "Gang Blur", true).Flags(kNotify),
};
static_assert(ValidTable(kOverexposeParams));

// The image burnt towards white: a blurred glow of the image added Intensity
// times over, then a whitening that reaches full white at Amount 100. The
// whitening follows a quarter sine, so it starts slowly.
class Overexpose final : public Effect {
 public:
  static constexpr int kView = RowOf(kOverexposeParams, "view");
  static constexpr int kAmount = RowOf(kOverexposeParams, "amount");
  static constexpr int kIntensity = RowOf(kOverexposeParams, "intensity");
  static constexpr int kBlurX = RowOf(kOverexposeParams, "blurX");
  static constexpr int kBlurY = RowOf(kOverexposeParams, "blurY");
  static constexpr int kGang = RowOf(kOverexposeParams, "gang");
  enum View { kOutput, kOriginal };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) == kOutput && RangeValue(kAmount) > 0; }
  void ParameterChanged(int32_t index) { GangBlur(*this, index, kBlurX, kBlurY, kGang); }

  void ExpandRect(RenderInfo& info, Rect& rect) {
    if (!IsActive() || !Blurred()) return;
    SeparableBlur blur;
    ConfigureBox(blur, info, BlurX(info), BlurY(info));
    rect = rect.Grown(blur.ReachY(), blur.ReachX());
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const Rect area = info.area.Intersect(d.Bounds()).Intersect(source.Bounds());
    CopyArea(source, d, info.area);
    if (!IsActive()) return;
    const double a = Percent(kAmount);
    const double k = RangeValue(kIntensity) * a * 0.01;
    constexpr double kHalfPi = 1.57079632675;
    const double w = std::sin(a * kHalfPi - kHalfPi) + 1;
    WithDepth(d.Is16Bit(), [&]<class S>() {
      constexpr int32_t L = Depth<S>::L;
      if (w == 1) {
        ForRows(area, 4, [&](int32_t y) {
          const S* s = source.RowAs<S>(y) + 4 * area.left;
          S* p = d.RowAs<S>(y) + 4 * area.left;
          for (int32_t x = area.left; x < area.right; ++x, s += 4, p += 4) {
            p[0] = p[1] = p[2] = static_cast<S>(L);
            p[3] = s[3];
          }
        });
        return;
      }
      RasterRef blurred;
      const Raster* glow = &source;
      if (Blurred()) {
        blurred = MakeRaster(d.Width(), d.Height(), 4, d.BytesPerSample());
        blurred->CopyRows(source, area);
        SeparableBlur blur;
        ConfigureBox(blur, info, BlurX(info), BlurY(info));
        blur.Blur(*blurred, area);
        glow = blurred.get();
      }
      const int64_t whiten = static_cast<int64_t>(w * L);
      ForRows(area, 8, [&](int32_t y) {
        const S* s = source.RowAs<S>(y) + 4 * area.left;
        const S* g = glow->RowAs<S>(y) + 4 * area.left;
        S* p = d.RowAs<S>(y) + 4 * area.left;
        for (int32_t x = area.left; x < area.right; ++x, s += 4, g += 4, p += 4) {
          for (int c = 0; c < 3; ++c) {
            int64_t v = std::min<int64_t>(L, static_cast<int64_t>(k * g[c] + p[c]));
            if (whiten != 0) v = (L * whiten + v * (L - whiten)) / L;
            p[c] = static_cast<S>(v);
          }
          p[3] = s[3];
        }
      });
    });
  }

 private:
  double BlurYValue() const { return BooleanValue(kGang) ? RangeValue(kBlurX) : RangeValue(kBlurY); }
  bool Blurred() const { return RangeValue(kBlurX) > 0 || BlurYValue() > 0; }
  double BlurX(const RenderInfo& info) const { return HorizontalPixels(info, RangeValue(kBlurX)); }
  double BlurY(const RenderInfo& info) const { return VerticalPixels(info, BlurYValue()); }
};
inline constexpr EffectType kOverexposeType = catalogue::Type("Overexpose", kOverexposeParams, 0);

// ---------------------------------------------------- Infrared, Night Vision

// The glow rows of Infrared and Night Vision: mode, blend, brightness, the
// two blurs and their gang, in that order from `mode`. Their glow is white.
struct WhiteGlowRows {
  int mode;

  constexpr GlowParams Params() const { return {mode, mode + 1, mode + 2, mode + 3, mode + 4, mode + 5, -1}; }
  double Brightness(const Effect& e) const { return Params().Brightness(e); }
  GlowSettings Read(const Effect& e, const RenderInfo& info) const {
    const GlowParams p = Params();
    GlowSettings s;
    s.blurX = HorizontalPixels(info, e.RangeValue(p.blurH));
    s.blurY = VerticalPixels(info, p.BlurV(e));
    s.brightness = p.Brightness(e);
    s.mode = e.ListIndex(p.mode) == 0 ? GlowMode::kSubtle : GlowMode::kSpread;
    s.blend = e.ListIndex(p.blend) == 1 ? GlowBlend::kAdd : GlowBlend::kScreen;
    s.colour = kWhite;
    return s;
  }
  void GangChanged(Effect& e, int index) const { Params().GangChanged(e, index); }
};

// Brightness, contrast and gamma from the row of "brightness" on; the hue,
// saturation and gains stay 0.
struct ToneRows {
  int brightness;

  bool Any(const Effect& e) const {
    return e.RangeValue(brightness) != 0 || e.RangeValue(brightness + 1) != 0 ||
           e.RangeValue(brightness + 2) != 0;
  }
  void Apply(const Effect& e, Raster& raster, const Rect& rect) const {
    if (!Any(e)) return;
    ColorCorrection c;
    c.brightness = e.Percent(brightness);
    c.contrast = e.Percent(brightness + 1);
    c.bend = e.Percent(brightness + 2);
    ColorCorrectOp(raster, rect, c);
  }
};

constexpr std::array<ParamSpec, 3> ToneRowsOf() {
  return {Range("brightness", "Brightness", -100, 100, 0).Flags(kPrincipal),
          Range("contrast", "Contrast", -100, 100, 0).Flags(kPrincipal),
          Range("gamma", "Gamma", -100, 100, 0).Flags(kPrincipal)};
}

// Mode (Infrared's "mist", Night Vision's "glowMode"), blend, brightness,
// the two blurs and their gang.
constexpr std::array<ParamSpec, 6> WhiteGlowRowsOf(const char* modeKey, const char* modeLabel) {
  return {List(modeKey, modeLabel, kGlowModeItems, 1),
          List("glowBlend", "Blend", kGlowBlendItems, 0),
          Range("glowBrightness", "Brightness", 0, 800, 75).Flags(kPrincipal),
          Range("glowBlurH", "Horizontal Blur", 0, 1000, 50).Flags(kNotify),
          Range("glowBlurV", "Vertical Blur", 0, 1000, 50).Flags(kNotify),
          Bool("glowBlurGang", "Gang Blur", true).Flags(kNotify)};
}

// ------------------------------------------------------------------- Infrared

inline constexpr auto kInfraredParams =
    Join(Rows({Image("background", "Background"), List("view", "View", kOutputSelectionOriginal),
               List("filter", "Black and White", kMonoFilterItems, 1), Group("glow", "Mist", true)}),
         WhiteGlowRowsOf("mist", "Mist"), Rows({End(), Group("density", "Color Correct")}), ToneRowsOf(),
         Rows({End()}), MatteGroup({.position = 100, .range = 80}));
static_assert(kInfraredParams.size() == 21);
static_assert(ValidTable(kInfraredParams));

// Infrared film: the brightened image glows through a luminance selection
// and is then seen through a black-and-white filter.
class Infrared final : public Effect {
 public:
  static constexpr int kView = RowOf(kInfraredParams, "view");
  static constexpr int kFilter = RowOf(kInfraredParams, "filter");
  static constexpr WhiteGlowRows kGlow{RowOf(kInfraredParams, "mist")};
  static constexpr ToneRows kTone{RowOf(kInfraredParams, "brightness")};
  static constexpr MatteParams kMatte{RowOf(kInfraredParams, "mattePosition")};
  enum View { kOutput, kSelectionView, kOriginal };
  static constexpr MatteViews kMatteViews{kOriginal, kSelectionView};
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }
  void ParameterChanged(int32_t index) { kGlow.GangChanged(*this, index); }
  void ExpandRect(RenderInfo& info, Rect& rect) {
    if (IsActive()) Grow(rect, MatteGlowMargins(info, kMatte.Read(*this), kGlow.Read(*this, info)));
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const bool glowing = kGlow.Brightness(*this) > 0;
    RasterRef matte;
    if (kMatteViews.Render(ListIndex(kView), glowing, matte_, kMatte.Read(*this), source, info, matte))
      return;
    CopyArea(source, d, info.area);
    kTone.Apply(*this, d, info.area);
    if (glowing) Glow(d, *matte, info.area, kGlow.Read(*this, info), info);
    MonoFilter(d, info.area, Filter());
  }

 private:
  MonoFilterKind Filter() const {
    return static_cast<MonoFilterKind>(
        std::clamp<int32_t>(ListIndex(kFilter), 0, std::size(kMonoFilterItems) - 1));
  }

  SelectionMatte matte_;
};
inline constexpr EffectType kInfraredType = catalogue::Type("InfraRed", kInfraredParams, 0);

// --------------------------------------------------------------- Night Vision

// Of the tint modes only the two that keep the tint's saturation.
inline constexpr std::span<const char* const> kNightVisionTintModes(kTintModeItems, 2);

inline constexpr auto kNightVisionParams =
    Join(Rows({
             Image("background", "Background"),
             List("view", "View", kOutputSelectionOriginal),
             List("filter", "Black and White", kMonoFilterItems, 0),
             Group("Tint", "Tint", true),
             Colour("TintColor", "Color", {0, 1, 0}),
             List("tintMode", "Tint Mode", kNightVisionTintModes, 1).Flags(kNotify),
             Range("highlights", "Preserve Highlights", 0, 100, 75),
             End(),
             Group("glow", "Glow", true),
         }),
         WhiteGlowRowsOf("glowMode", "Glow"),
         Rows({
             End(),
             Group("grain", "Grain", true),
             Range("GrainSize", "Size", 1, 10, 1).Flags(kWholeNumbers),
             Range("GrainAmount", "Amount", 0, 100, 25).Flags(kPrincipal),
             Range("GrainSoftness", "Softness", 0, 10, 0),
             End(),
             Group("density", "Color Correct", true),
         }),
         ToneRowsOf(), Rows({End()}), MatteGroup({.position = 100, .range = 80}));
static_assert(kNightVisionParams.size() == 31);
static_assert(ValidTable(kNightVisionParams));

// A night-vision tube: black and white, a tone correction, a green tint,
// the glow of the bright parts and the tube's colourless noise.
class NightVision final : public Effect {
 public:
  static constexpr int kView = RowOf(kNightVisionParams, "view");
  static constexpr int kFilter = RowOf(kNightVisionParams, "filter");
  static constexpr int kTintColour = RowOf(kNightVisionParams, "TintColor");
  static constexpr int kTintMode = RowOf(kNightVisionParams, "tintMode");
  static constexpr int kHighlights = RowOf(kNightVisionParams, "highlights");
  static constexpr WhiteGlowRows kGlow{RowOf(kNightVisionParams, "glowMode")};
  static constexpr int kGrainSize = RowOf(kNightVisionParams, "GrainSize");
  static constexpr int kGrainAmount = RowOf(kNightVisionParams, "GrainAmount");
  static constexpr int kGrainSoftness = RowOf(kNightVisionParams, "GrainSoftness");
  static constexpr ToneRows kTone{RowOf(kNightVisionParams, "brightness")};
  static constexpr MatteParams kMatte{RowOf(kNightVisionParams, "mattePosition")};
  enum View { kOutput, kSelectionView, kOriginal };
  static constexpr MatteViews kMatteViews{kOriginal, kSelectionView};
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }

  // "Preserve Highlights" acts only in "HLS".
  void ParameterChanged(int32_t index) {
    kGlow.GangChanged(*this, index);
    if (index == kTintMode) SetEnabled(Param(kHighlights), Mode() == TintMode::kHls);
  }
  void ExpandRect(RenderInfo& info, Rect& rect) {
    if (IsActive()) Grow(rect, Reach(info));
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const Rect& area = info.area;
    const bool glowing = kGlow.Brightness(*this) > 0;
    // The matte is the source's, before the black-and-white filter.
    RasterRef matte;
    if (kMatteViews.Render(ListIndex(kView), glowing, matte_, kMatte.Read(*this), source, info, matte))
      return;
    CopyArea(source, d, area);
    MonoFilter(d, area, Filter());
    kTone.Apply(*this, d, area);
    TintOp(d, area, ColourValue(kTintColour), Mode(), 1.0, Percent(kHighlights));
    if (glowing) Glow(d, *matte, area, kGlow.Read(*this, info), info);
    // Monochrome grain with the grain group's default response.
    const GrainDefaults response;
    grain_.SetUniform(RangeValue(kGrainSize), RangeValue(kGrainAmount), RangeValue(kGrainSoftness));
    grain_.SetResponse(response.position, response.range, response.minimum);
    grain_.SetScale(info.scaleX, info.scaleY);
    grain_.SetPasses(info.reserved2);
    if (!grain_.Active()) return;
    const Margins m = Reach(info);
    grain_.Render(d, area, GrainTileOf(info, m.x, m.y), true);
  }

 private:
  MonoFilterKind Filter() const {
    return static_cast<MonoFilterKind>(
        std::clamp<int32_t>(ListIndex(kFilter), 0, std::size(kMonoFilterItems) - 1));
  }
  TintMode Mode() const { return ListIndex(kTintMode) == 0 ? TintMode::kHsv : TintMode::kHls; }
  Margins Reach(const RenderInfo& info) const {
    return MatteGlowMargins(info, kMatte.Read(*this), kGlow.Read(*this, info));
  }

  SelectionMatte matte_;
  FilmGrain grain_;
};
inline constexpr EffectType kNightVisionType = catalogue::Type("NightVision", kNightVisionParams, 0);

// ---------------------------------------------------------------- DayForNight

inline constexpr ParamSpec kDayForNightParams[] = {
    Image("input", "Input"),
    List("view", "View", kOutputOriginal),
    Group("diffusion", "Diffusion", true),
    Range("blurX", "Horizontal Blur", 0, 1000, 50),
    Range("blurY", "Vertical Blur", 0, 1000, 50),
    Bool("blurGang", "Gang Blur", true).Flags(kNotify),
    Range("opacity", "Opacity", 0, 100, 50),
    End(),
    Group("moonlight", "Moonlight", true),
    Colour("gelColor", "Color", {54 / 255.0, 127 / 255.0, 255 / 255.0}),
    Range("gelOpacity", "Opacity", 0, 100, 100),
    Range("highlights", "Preserve Highlights", 0, 100, 50),
    End(),
    Group("colorCorrect", "Color Correct", true),
    Range("hue", "Hue", -360, 360, 0),
    Range("sat", "Saturation", -100, 100, -40),
    Range("bri", "Brightness", -100, 100, 0),
    Range("con", "Contrast", -100, 100, 30),
    Range("gam", "Gamma", -100, 100, -15),
    End(),
};
static_assert(ValidTable(kDayForNightParams));

// Moonlight from a day shot: a soft diffusion, a blue gel and a darker,
// less saturated, harder tone.
class DayForNight final : public Effect {
 public:
  static constexpr int kView = RowOf(kDayForNightParams, "view");
  static constexpr int kBlurX = RowOf(kDayForNightParams, "blurX");
  static constexpr int kBlurY = RowOf(kDayForNightParams, "blurY");
  static constexpr int kGang = RowOf(kDayForNightParams, "blurGang");
  static constexpr int kOpacity = RowOf(kDayForNightParams, "opacity");
  static constexpr int kGelColour = RowOf(kDayForNightParams, "gelColor");
  static constexpr int kGelOpacity = RowOf(kDayForNightParams, "gelOpacity");
  static constexpr int kHighlights = RowOf(kDayForNightParams, "highlights");
  static constexpr int kHue = RowOf(kDayForNightParams, "hue");
  static constexpr int kSaturation = RowOf(kDayForNightParams, "sat");
  static constexpr int kBrightness = RowOf(kDayForNightParams, "bri");
  static constexpr int kContrast = RowOf(kDayForNightParams, "con");
  static constexpr int kGamma = RowOf(kDayForNightParams, "gam");
  enum View { kOutput, kOriginal };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }
  void ParameterChanged(int32_t index) { GangBlur(*this, index, kBlurX, kBlurY, kGang); }
  void ExpandRect(RenderInfo& info, Rect& rect) {
    if (!IsActive() || !(Percent(kOpacity) > 0)) return;
    const double x = BlurX(info), y = BlurY(info);
    rect = rect.Grown(SoftMixReachY(info, x, y), SoftMixReachX(info, x, y));
  }

  void BeginRender(RenderInfo& info) {
    Configure();
    engine_.Prepare(info.is16Bit);
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    CopyArea(source, d, info.area);
    if (!IsActive()) return;
    SoftMix(source, d, info.area, BlurX(info), BlurY(info), Percent(kOpacity), info);
    // Settings may have changed since begin render (a preview); loading
    // again rebuilds nothing that is current.
    Configure();
    if (RangeValue(kGelOpacity) != 0) gel_.Apply(d, info.area);
    if (engine_.IsPassThrough()) return;
    engine_.Prepare(d.Is16Bit());
    engine_.Apply(d, d, info.area);
  }

 private:
  double BlurX(const RenderInfo& info) const { return HorizontalPixels(info, RangeValue(kBlurX)); }
  double BlurY(const RenderInfo& info) const {
    return VerticalPixels(info, BooleanValue(kGang) ? RangeValue(kBlurX) : RangeValue(kBlurY));
  }

  // The gel has no exposure compensation; the engine no gains and no bands.
  void Configure() {
    gel_.Load(ColourValue(kGelColour), Percent(kGelOpacity), Percent(kHighlights), 0);
    ToneMaster m;
    m.hue = RangeValue(kHue);
    m.saturation = RangeValue(kSaturation);
    m.tone.brightness = Percent(kBrightness);
    m.tone.contrast = Percent(kContrast);
    m.tone.bend = Percent(kGamma);
    engine_.Configure(m);
  }

  GelFilter gel_;
  ToneRangeEngine engine_;
};
inline constexpr EffectType kDayForNightType = catalogue::Type("DayForNight", kDayForNightParams, 0);

}  // namespace

const EffectRoutines& kOverexpose = RoutinesOf<Overexpose, kOverexposeType>;
const EffectRoutines& kInfrared = RoutinesOf<Infrared, kInfraredType>;
const EffectRoutines& kNightVision = RoutinesOf<NightVision, kNightVisionType>;
const EffectRoutines& kDayForNight = RoutinesOf<DayForNight, kDayForNightType>;

}  // namespace fx::effects
