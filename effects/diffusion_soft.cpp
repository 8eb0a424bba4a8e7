// Soft Effects and Low Contrast: a blurred copy mixed into the image, and
// lifted shadows with the light of the selected areas screened back.
#include <algorithm>
#include <array>
#include <span>
#include <type_traits>
#include <vector>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/diffusion.h"
#include "effects/diffusion_common.h"
#include "effects/gel_filter.h"
#include "effects/glow.h"
#include "effects/selection_matte.h"
#include "effects/tone_range.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/separable_blur.h"
#include "imaging/tone_curve.h"

namespace fx {
namespace {

// The box blur with the render information's pass count.
void ConfigureBox(SeparableBlur& blur, const RenderInfo& info, double blurX, double blurY) {
  blur.SetMode(SeparableBlur::kBox);
  blur.SetPasses(info.reserved2);
  blur.SetRadii(static_cast<float>(blurX), static_cast<float>(blurY));
}

int32_t BoxReachX(const RenderInfo& info, double blurX, double blurY) {
  if (!(blurX > 0 || blurY > 0)) return 0;
  SeparableBlur blur;
  ConfigureBox(blur, info, blurX, blurY);
  return blur.ReachX();
}

int32_t BoxReachY(const RenderInfo& info, double blurX, double blurY) {
  if (!(blurX > 0 || blurY > 0)) return 0;
  SeparableBlur blur;
  ConfigureBox(blur, info, blurX, blurY);
  return blur.ReachY();
}

}  // namespace

void SoftMix(const Raster& mixBack, Raster& destination, const Rect& area, double blurX, double blurY,
             double opacity, const RenderInfo& info) {
  if (!(blurX > 0 || blurY > 0) || !(opacity > 0)) return;
  const Rect rect = area.Intersect(destination.Bounds()).Intersect(mixBack.Bounds());
  SeparableBlur blur;
  ConfigureBox(blur, info, blurX, blurY);
  blur.Blur(destination, rect);
  WithDepth(destination.Is16Bit(), [&]<class S>() {
    constexpr int32_t L = Depth<S>::L;
    const int32_t f = static_cast<int32_t>((1 - std::min(opacity, 1.0)) * L);
    ForRows(rect, 4, [&](int32_t y) {
      const S* s = mixBack.RowAs<S>(y) + 4 * rect.left;
      S* d = destination.RowAs<S>(y) + 4 * rect.left;
      for (int32_t x = rect.left; x < rect.right; ++x, s += 4, d += 4)
        for (int c = 0; c < 3; ++c) d[c] = Depth<S>::Clamp((int64_t{s[c]} * f + int64_t{d[c]} * (L - f)) / L);
    });
  });
}

int32_t SoftMixReachX(const RenderInfo& info, double blurX, double blurY) {
  return BoxReachX(info, blurX, blurY);
}
int32_t SoftMixReachY(const RenderInfo& info, double blurX, double blurY) {
  return BoxReachY(info, blurX, blurY);
}

namespace effects {
namespace {

// ---------------------------------------------------------------- Soft Effects

inline constexpr ParamSpec kSoftEffectsParams[] = {
    Image("input", "Input"),
    List("view", "View", kOutputOriginal),
    Range("blurX", "Horizontal Blur", 0, 1000, 50),
    Range("blurY", "Vertical Blur", 0, 1000, 50),
    Bool("blurGang", "Gang Blur", true).Flags(kNotify),
    Range("opacity", "Opacity", 0, 100, 35),
};
static_assert(ValidTable(kSoftEffectsParams));

// A blurred copy of the image mixed into it by the opacity.
class SoftEffects final : public Effect {
 public:
  enum { kInput, kView, kBlurX, kBlurY, kGang, kOpacity };
  enum View { kOutput, kOriginal };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }
  void ParameterChanged(int32_t index) { GangBlur(*this, index, kBlurX, kBlurY, kGang); }
  void ExpandRect(RenderInfo& info, Rect& rect) {
    const double x = BlurX(info), y = BlurY(info);
    rect = rect.Grown(SoftMixReachY(info, x, y), SoftMixReachX(info, x, y));
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    CopyArea(source, d, info.area);
    if (ListIndex(kView) == kOriginal) return;
    SoftMix(source, d, info.area, BlurX(info), BlurY(info), Percent(kOpacity), info);
  }

 private:
  double BlurX(const RenderInfo& info) const { return HorizontalPixels(info, RangeValue(kBlurX)); }
  double BlurY(const RenderInfo& info) const {
    return VerticalPixels(info, BooleanValue(kGang) ? RangeValue(kBlurX) : RangeValue(kBlurY));
  }
};
inline constexpr EffectType kSoftEffectsType = catalogue::Type("SoftEFX", kSoftEffectsParams, 0);

// ----------------------------------------------------------- Warm Soft Effects

// Two groups, each with an "opacity": the blur's and the warming gel's. The
// effect's settings blocks hold exactly these records, matched by position
// as well as key, so each group is checked on its own.
inline constexpr auto kWarmSoftEffectsParams = std::to_array<ParamSpec>({
    Image("input", "Input"),
    List("view", "View", kOutputOriginal),
    Group("blurGroup", "Blur"),
    Range("blurX", "Horizontal Blur", 0, 1000, 50),
    Range("blurY", "Vertical Blur", 0, 1000, 50),
    Bool("blurGang", "Gang Blur", true).Flags(kNotify),
    Range("opacity", "Opacity", 0, 100, 35),
    End(),
    Group("warmingGroup", "Warming"),
    Colour("color", "Color", {255 / 255.0, 203 / 255.0, 121 / 255.0}),
    Range("opacity", "Opacity", 0, 100, 50),
    Range("highlights", "Preserve Highlights", 0, 100, 50),
    Range("exposure", "Exposure Compensation", 0, 100, 0),
    End(),
});
static_assert(kWarmSoftEffectsParams.size() == 14);
static_assert(ValidTable(kWarmSoftEffectsParams));

// The image warmed by the gel, softened by its blur, with the source mixed
// back.
class WarmSoftEffects final : public Effect {
 public:
  enum {
    kInput,
    kView,
    kBlurGroup,
    kBlurX,
    kBlurY,
    kGang,
    kOpacity,
    kBlurEnd,
    kWarmingGroup,
    kWarmColour,
    kWarmOpacity,
    kWarmHighlights,
    kWarmExposure
  };
  enum View { kOutput, kOriginal };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }
  void ParameterChanged(int32_t index) { GangBlur(*this, index, kBlurX, kBlurY, kGang); }
  void ExpandRect(RenderInfo& info, Rect& rect) {
    const double x = BlurX(info), y = BlurY(info);
    rect = rect.Grown(SoftMixReachY(info, x, y), SoftMixReachX(info, x, y));
  }
  void BeginRender(RenderInfo&) { LoadGel(); }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    CopyArea(source, d, info.area);
    if (ListIndex(kView) == kOriginal) return;
    LoadGel();
    gel_.Apply(d, info.area);
    SoftMix(source, d, info.area, BlurX(info), BlurY(info), Percent(kOpacity), info);
  }

 private:
  void LoadGel() {
    gel_.Load(ColourValue(kWarmColour), Percent(kWarmOpacity), Percent(kWarmHighlights),
              Percent(kWarmExposure));
  }
  double BlurX(const RenderInfo& info) const { return HorizontalPixels(info, RangeValue(kBlurX)); }
  double BlurY(const RenderInfo& info) const {
    return VerticalPixels(info, BooleanValue(kGang) ? RangeValue(kBlurX) : RangeValue(kBlurY));
  }

  GelFilter gel_;
};
inline constexpr EffectType kWarmSoftEffectsType = catalogue::Type("WarmSoftEFX", kWarmSoftEffectsParams, 0);

// ------------------------------------------------------------------------ Halo

inline constexpr auto kHaloParams = std::to_array<ParamSpec>({
    Image("input", "Input"),
    List("view", "View", kOutputOriginal),
    Group("diffusion", "Diffusion"),
    Range("blurX", "Horizontal Blur", 0, 1000, 50),
    Range("blurY", "Vertical Blur", 0, 1000, 50),
    Bool("blurGang", "Gang Blur", true).Flags(kNotify),
    Range("opacity", "Opacity", 0, 100, 50),
    End(),
    Group("colorCorrect", "Color Correct"),
    Range("hue", "Hue", -360, 360, 0),
    Range("sat", "Saturation", -100, 100, -35),
    Range("bri", "Brightness", -100, 100, 10),
    Range("con", "Contrast", -100, 100, 30),
    Range("gam", "Gamma", -100, 100, -25),
    End(),
});
static_assert(kHaloParams.size() == 15 && ValidTable(kHaloParams));

// The soft mix, then a colour correction by the tonal-range engine.
class Halo final : public Effect {
 public:
  enum {
    kInput,
    kView,
    kDiffusionGroup,
    kBlurX,
    kBlurY,
    kGang,
    kOpacity,
    kDiffusionEnd,
    kColourGroup,
    kHue,
    kSat,
    kBri,
    kCon,
    kGam
  };
  enum View { kOutput, kOriginal };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }
  void ParameterChanged(int32_t index) { GangBlur(*this, index, kBlurX, kBlurY, kGang); }
  void ExpandRect(RenderInfo& info, Rect& rect) {
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
    if (ListIndex(kView) == kOriginal) return;
    SoftMix(source, d, info.area, BlurX(info), BlurY(info), Percent(kOpacity), info);
    Configure();
    if (engine_.IsPassThrough()) return;
    engine_.Prepare(d.Is16Bit());
    engine_.Apply(d, d, info.area);
  }

 private:
  void Configure() {
    ToneMaster m;
    m.hue = RangeValue(kHue);
    m.saturation = RangeValue(kSat);
    m.tone.brightness = Percent(kBri);
    m.tone.contrast = Percent(kCon);
    m.tone.bend = Percent(kGam);
    engine_.Configure(m);
  }
  double BlurX(const RenderInfo& info) const { return HorizontalPixels(info, RangeValue(kBlurX)); }
  double BlurY(const RenderInfo& info) const {
    return VerticalPixels(info, BooleanValue(kGang) ? RangeValue(kBlurX) : RangeValue(kBlurY));
  }

  ToneRangeEngine engine_;
};
inline constexpr EffectType kHaloType = catalogue::Type("Halo", kHaloParams, 0);

// ---------------------------------------------------------------- Low Contrast

inline constexpr const char* kLowContrastViews[] = {"Output", "Selection", "Spread", "Original"};

inline constexpr auto kLowContrastParams =
    Join(Rows({
             Image("background", "Background"),
             List("view", "View", kLowContrastViews),
             Group("contrast", "Contrast", true).Flags(kPlainGroup),
             Range("lightBrightness", "Light Brightness", 0, 800, 100),
             Range("lightSpread", "Light Spread", 0, 1000, 200),
             Range("shadowBrightness", "Shadow Brightness", 0, 30, 5),
             End().Flags(kPlainGroup),
             Group("matte", "Selection").Flags(kPlainGroup),
         }),
         MatteRows({.position = 100, .range = 80}), Rows({End().Flags(kPlainGroup)}));
static_assert(kLowContrastParams.size() == 12 && ValidTable(kLowContrastParams));

// The fixed shadow curve through (0, 1), (0.05, 0.85) and (1, 0) as a
// table per depth, built once for the module's life.
template <class S>
const std::vector<S>& ShadowCurve() {
  static const std::vector<S> table = CurveTable<S>(ToneCurve{{0, 1}, {0.05, 0.85}, {1, 0}});
  return table;
}

// Lifted shadows, then the selected light, spread, screened back over the
// image.
class LowContrast final : public Effect {
 public:
  enum {
    kBackground,
    kView,
    kContrastGroup,
    kLightBrightness,
    kLightSpread,
    kShadowBrightness,
    kMattePosition = 8
  };
  enum View { kOutput, kSelection, kSpreadView, kOriginal };
  static constexpr MatteParams kMatte{kMattePosition};
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }

  // The light of a pixel comes from the blurred product of the image and
  // the spread matte, which is itself blurred: two blurs of the spread on
  // top of the matte's own reach.
  void ExpandRect(RenderInfo& info, Rect& rect) {
    const MatteSettings matte = kMatte.Read(*this);
    const double x = SpreadX(info), y = SpreadY(info);
    rect = rect.Grown(SelectionMatte::ReachY(info, matte) + 2 * BoxReachY(info, x, y),
                      SelectionMatte::ReachX(info, matte) + 2 * BoxReachX(info, x, y));
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const Rect& area = info.area;
    const int32_t view = ListIndex(kView);
    if (view == kOriginal) {
      CopyArea(source, d, area);
      return;
    }
    const RasterRef m = matte_.Build(source, area, info, kMatte.Read(*this));
    if (view == kSelection) {
      ShowMatte(*m, d, area);
      return;
    }
    WithDepth(d.Is16Bit(), [&]<class S>() { RenderT<S>(source, d, area, *m, info, view); });
  }

 private:
  double SpreadX(const RenderInfo& info) const { return HorizontalPixels(info, RangeValue(kLightSpread)); }
  double SpreadY(const RenderInfo& info) const { return VerticalPixels(info, RangeValue(kLightSpread)); }

  // T[i] = clamp(i + trunc(s L) C[i] / L) for the shadow brightness s.
  template <class S>
  const std::vector<S>& ShadowTable(double s) {
    constexpr int32_t L = Depth<S>::L;
    std::vector<S>* table;
    double* level;
    if constexpr (sizeof(S) == 1) {
      table = &shadows8_;
      level = &shadow8_;
    } else {
      table = &shadows16_;
      level = &shadow16_;
    }
    std::vector<S>& t = *table;
    double& kept = *level;
    if (t.empty() || kept != s) {
      const std::vector<S>& c = ShadowCurve<S>();
      const int64_t lift = static_cast<int64_t>(s * L);
      t.resize(c.size());
      for (int32_t i = 0; i <= L; ++i) t[i] = Depth<S>::Clamp(i + lift * c[i] / L);
      kept = s;
    }
    return t;
  }

  template <class S>
  void RenderT(const Raster& source, Raster& d, const Rect& area, const Raster& m, const RenderInfo& info,
               int32_t view) {
    constexpr int64_t L = Depth<S>::L;
    if (view != kSpreadView) {
      CopyArea(source, d, area);
      const double s = Percent(kShadowBrightness);
      if (s > 0) {
        const std::vector<S>& t = ShadowTable<S>(s);
        ForRows(area, 4, [&](int32_t y) {
          S* p = d.RowAs<S>(y) + 4 * area.left;
          for (int32_t x = area.left; x < area.right; ++x, p += 4)
            for (int c = 0; c < 3; ++c) p[c] = t[std::min<int32_t>(p[c], Depth<S>::L)];
        });
      }
    }
    const double light = Percent(kLightBrightness);
    if (!(light > 0) && view != kSpreadView) return;

    // E = M + W - 2 M W / L, W the matte blurred by the spread. Matte
    // samples are 0..L, and so is their blur: 2 M W stays within 2 L^2,
    // which 32 bits hold at 8 bits; at 16 bits (2^31) it takes 64.
    using Product = std::conditional_t<sizeof(S) == 1, int32_t, int64_t>;
    ConfigureBox(blur_, info, SpreadX(info), SpreadY(info));
    RasterRef& e = Scratch(spread_, m.Width(), m.Height(), 1, m.BytesPerSample());
    e->CopyRows(m, area);
    blur_.Blur(*e, area);
    ForRows(area, 1, [&](int32_t y) {
      const S* mm = m.RowAs<S>(y) + area.left;
      S* w = e->RowAs<S>(y) + area.left;
      for (int32_t x = area.left; x < area.right; ++x, ++mm, ++w) {
        const Product M = *mm, W = *w;
        *w = static_cast<S>(Depth<S>::Clamp(M + W - 2 * M * W / static_cast<Product>(L)));
      }
    });
    if (view == kSpreadView) {
      ShowMatte(*e, d, area);
      return;
    }

    // K: the image weighted by E, blurred, screened back with the light's
    // brightness.
    // A sample P (at most 65535) times E (at most L = 32768 at 16 bits) is
    // below 2^31: 32 bits hold it at both depths.
    RasterRef& k = Scratch(light_, d.Width(), d.Height(), 4, d.BytesPerSample());
    ForRows(area, 4, [&](int32_t y) {
      const S* p = d.RowAs<S>(y) + 4 * area.left;
      const S* w = e->RowAs<S>(y) + area.left;
      S* q = k->RowAs<S>(y) + 4 * area.left;
      for (int32_t x = area.left; x < area.right; ++x, p += 4, ++w, q += 4) {
        const int32_t weight = *w;
        for (int c = 0; c < 3; ++c) q[c] = static_cast<S>(int32_t{p[c]} * weight / static_cast<int32_t>(L));
        q[3] = p[3];
      }
    });
    blur_.Blur(*k, area);
    const GlowPasses passes = GlowPasses::Of<S>(light);
    ForRows(area, 4, [&](int32_t y) {
      const S* q = k->RowAs<S>(y) + 4 * area.left;
      S* p = d.RowAs<S>(y) + 4 * area.left;
      for (int32_t x = area.left; x < area.right; ++x, q += 4, p += 4)
        for (int c = 0; c < 3; ++c) p[c] = Depth<S>::Clamp(ScreenPasses<S>(p[c], q[c], passes));
    });
  }

  // A scratch raster kept from one band to the next while its shape holds.
  static RasterRef& Scratch(RasterRef& kept, int32_t width, int32_t height, int32_t channels, int32_t bytes) {
    if (!kept || kept->Width() != width || kept->Height() != height || kept->Channels() != channels ||
        kept->BytesPerSample() != static_cast<uint32_t>(bytes))
      kept = MakeRaster(width, height, channels, bytes);
    return kept;
  }

  SelectionMatte matte_;
  SeparableBlur blur_;  // its work areas are kept across bands
  RasterRef spread_, light_;
  std::vector<uint8_t> shadows8_;
  std::vector<uint16_t> shadows16_;
  double shadow8_ = -1, shadow16_ = -1;
};
inline constexpr EffectType kLowContrastType = catalogue::Type("LowContrast", kLowContrastParams, 0);

}  // namespace

const EffectRoutines& kSoftEffects = RoutinesOf<SoftEffects, kSoftEffectsType>;
const EffectRoutines& kWarmSoftEffects = RoutinesOf<WarmSoftEffects, kWarmSoftEffectsType>;
const EffectRoutines& kHalo = RoutinesOf<Halo, kHaloType>;
const EffectRoutines& kLowContrast = RoutinesOf<LowContrast, kLowContrastType>;

}  // namespace effects
}  // namespace fx
