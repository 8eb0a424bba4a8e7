// Colour and tone effects: pixel-by-pixel changes of colour and tone.
#include "effects/colour_tone.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <string_view>
#include <vector>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/gel_filter.h"
#include "effects/grad_stage.h"
#include "effects/selection_matte.h"
#include "effects/tone_range.h"
#include "imaging/colour.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/tone_curve.h"

namespace fx::effects {
namespace {

inline constexpr const char* kOutputOriginal[] = {"Output", "Original"};

// ---------------------------------------------------------------- Bleach Bypass

inline constexpr ParamSpec kBleachBypassParams[] = {
    Image("background", "Background"),
    List("view", "View", kOutputOriginal),
    Range("amount", "Amount", 0, 100, 100).Flags(kPrincipal),
    Range("saturation", "Saturation", -100, 100, 0),
    Range("contrast", "Contrast", -100, 100, 0),
    Range("temperature", "Temperature", -100, 100, 0),
};
static_assert(ValidTable(kBleachBypassParams));

// A contrast-shaped grey laid over a saturation-adjusted copy of the image,
// mixed back by the amount, then warmed or cooled.
class BleachBypass final : public Effect {
 public:
  enum { kBackground, kView, kAmount, kSaturation, kContrast, kTemperature };
  using Effect::Effect;

  bool IsActive() const {
    return (RangeValue(kAmount) > 0 || RangeValue(kTemperature) != 0) && ListIndex(kView) == 0;
  }

  void Render(RenderInfo& info) {
    WithDepth(info.is16Bit, [&]<class S>() { RenderT<S>(*Source(), *info.destination, info.area); });
    WarmCoolShift(*info.destination, info.area, Percent(kTemperature));
  }

 private:
  template <class S>
  void RenderT(const Raster& source, Raster& destination, const Rect& area) const {
    constexpr int32_t L = Depth<S>::L;
    const double a = Percent(kAmount), s = Percent(kSaturation), c = Percent(kContrast);
    const std::vector<S> table = ToneShapeTable<S>(0, c, 0);
    const int32_t alpha = static_cast<int32_t>(a * L);
    const float saturationFactor = static_cast<float>(1 + s);
    for (int32_t y = area.top; y < area.bottom; ++y) {
      const S* p = source.RowAs<S>(y) + 4 * area.left;
      S* d = destination.RowAs<S>(y) + 4 * area.left;
      for (int32_t x = area.left; x < area.right; ++x, p += 4, d += 4) {
        const int32_t g = table[Depth<S>::Luminance(p[0], p[1], p[2])];
        S q[4] = {p[0], p[1], p[2], p[3]};
        if (s != 0) AdjustHueSaturation<S>(q, 0.0f, saturationFactor);
        for (int k = 0; k < 3; ++k) {
          const int32_t o = OverlayBlend<S>(q[k], g);
          d[k] = static_cast<S>((o * alpha + p[k] * (L - alpha)) / L);
        }
        d[3] = p[3];
      }
    }
  }
};
inline constexpr EffectType kBleachBypassType = catalogue::Type("BleachBypass", kBleachBypassParams, 0x0A);

// ---------------------------------------------------------------- Black and White

// clang-format off
inline constexpr ParamSpec kBlackAndWhiteParams[] = {
    Image("background", "Background"),
    List("view", "View", kOutputOriginal),
    List("filter", "Filter", kMonoFilterItems),
    Range("brightness", "Brightness", -100, 100, 0),
    Range("contrast", "Contrast", -100, 100, 0),
    Range("gamma", "Gamma", -100, 100, 0),
};
// clang-format on
static_assert(ValidTable(kBlackAndWhiteParams));

class BlackAndWhite final : public Effect {
 public:
  enum { kBackground, kView, kFilter, kBrightness, kContrast, kGamma };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) == 0; }

  void Render(RenderInfo& info) {
    Raster& d = *info.destination;
    CopyArea(*Source(), d, info.area);
    MonoFilter(d, info.area, static_cast<MonoFilterKind>(ListIndex(kFilter)));
    ColorCorrection c;
    c.brightness = Percent(kBrightness);
    c.contrast = Percent(kContrast);
    c.bend = Percent(kGamma);
    ColorCorrectOp(d, info.area, c);
  }
};
inline constexpr EffectType kBlackAndWhiteType = catalogue::Type("BlackAndWhite", kBlackAndWhiteParams, 0x0A);

// The band views of the tonal-range members.
inline constexpr const char* kBandViews[] = {"Output", "Shadows", "Midtones", "Highlights", "Original"};
enum BandView { kBandOutput, kShowShadows, kShowMidtones, kShowHighlights, kBandOriginal };

// The engine band a band view shows.
constexpr int ViewedBand(int32_t view) {
  return view - kShowShadows;
}

// The output, one band's weight, or the untouched source, as the view asks.
void RenderBandView(ToneRangeEngine& engine, int32_t view, const Raster& source, Raster& destination,
                    const Rect& area) {
  if (view == kBandOutput)
    engine.Apply(source, destination, area);
  else if (view == kBandOriginal)
    CopyArea(source, destination, area);
  else
    engine.ShowBand(source, destination, area, ViewedBand(view));
}

// ---------------------------------------------------------------- Color Correct

// The keys of one band group, in table order: group, position, range,
// brightness, contrast, gamma, red, green, blue.
using BandKeys = std::array<const char*, 9>;

constexpr std::array<ParamSpec, 10> ColorCorrectBand(const BandKeys& k, const char* label, double position,
                                                     double range) {
  return {Group(k[0], label).Flags(kRedMark),
          Range(k[1], "Position", 0, 100, position),
          Range(k[2], "Range", 0, 100, range),
          Range(k[3], "Brightness", -100, 100, 0),
          Range(k[4], "Contrast", -100, 100, 0),
          Range(k[5], "Gamma", -100, 100, 0),
          Range(k[6], "Red", -100, 100, 0).Flags(kRedMark),
          Range(k[7], "Green", -100, 100, 0).Flags(kGreenMark),
          Range(k[8], "Blue", -100, 100, 0).Flags(kBlueMark),
          End()};
}

// Band positions and ranges in percent: the engine's defaults x 100.
constexpr double BandPercent(double fraction) {
  return fraction * 100;
}
using Engine = ToneRangeEngine;

inline constexpr auto kColorCorrectParams = Join(
    Rows({
        Image("input", "Input"),
        List("view", "View", kBandViews),
        Group("ccMaster", "Master").Flags(kRedMark),
        Range("ccMasterHue", "Hue", -360, 360, 0),
        Range("ccMasterSat", "Saturation", -100, 100, 0).Flags(kPrincipal),
        Range("ccBrightness", "Brightness", -100, 100, 0),
        Range("ccContrast", "Contrast", -100, 100, 0),
        Range("ccGamma", "Gamma", -100, 100, 0),
        Range("ccMasterR", "Red", -100, 100, 0).Flags(kRedMark),
        Range("ccMasterG", "Green", -100, 100, 0).Flags(kGreenMark),
        Range("ccMasterB", "Blue", -100, 100, 0).Flags(kBlueMark),
        Range("ccTintAmount", "Flash Amount", 0, 100, 0).Flags(kPrincipal),
        Colour("ccTintColor", "Flash Color", kWhite),
        End(),
    }),
    ColorCorrectBand({"ccShad", "ccShadPos", "ccShadRange", "ccShadBri", "ccShadCon", "ccShadGam", "ccShadR",
                      "ccShadG", "ccShadB"},
                     "Shadows", BandPercent(Engine::kDefaultCentre[0]),
                     BandPercent(Engine::kDefaultWidth[0])),
    ColorCorrectBand(
        {"ccMid", "ccMidPos", "ccMidRange", "ccMidBri", "ccMidCon", "ccMidGam", "ccMidR", "ccMidG", "ccMidB"},
        "Midtones", BandPercent(Engine::kDefaultCentre[1]), BandPercent(Engine::kDefaultWidth[1])),
    ColorCorrectBand({"ccHigh", "ccHighPos", "ccHighRange", "ccHighBri", "ccHighCon", "ccHighGam", "ccHighR",
                      "ccHighG", "ccHighB"},
                     "Highlights", BandPercent(Engine::kDefaultCentre[2]),
                     BandPercent(Engine::kDefaultWidth[2])));
static_assert(ValidTable(kColorCorrectParams));
static_assert(std::size(kColorCorrectParams) == 44);

// The tonal-range engine driven directly by its settings.
class ColorCorrect final : public Effect {
 public:
  enum {
    kInput,
    kView,
    kMaster,
    kHue,
    kSaturation,
    kBrightness,
    kContrast,
    kGamma,
    kRed,
    kFlashAmount = 11,
    kFlashColour,
    kMasterEnd,
    kShadows
  };
  static constexpr int kBandRows = 10;  // a band group, its end included
  using Effect::Effect;

  bool IsActive() const {
    const int32_t view = ListIndex(kView);
    if (view == kBandOriginal) return false;
    if (view != kBandOutput) return true;
    Engine e;
    Configure(e);
    return !e.IsPassThrough();
  }

  void BeginRender(RenderInfo& info) {
    Configure(engine_);
    engine_.Prepare(info.is16Bit);
  }

  void Render(RenderInfo& info) {
    RenderBandView(engine_, ListIndex(kView), *Source(), *info.destination, info.area);
  }

 private:
  // Brightness, contrast, gamma and the three gains from `first` on, as
  // fractions.
  ToneAdjustment Adjustment(int first) const {
    return {Percent(first),     Percent(first + 1), Percent(first + 2),
            Percent(first + 3), Percent(first + 4), Percent(first + 5)};
  }

  void Configure(Engine& e) const {
    e.Configure({RangeValue(kHue), RangeValue(kSaturation), Adjustment(kBrightness)});
    e.ConfigureFlash({ColourValue(kFlashColour), Percent(kFlashAmount)});
    for (int b = 0; b < Engine::kBandCount; ++b) {
      const int group = kShadows + b * kBandRows;
      e.ConfigureBand(b, Adjustment(group + 3), Percent(group + 1), Percent(group + 2));
    }
  }

  Engine engine_;
};
inline constexpr EffectType kColorCorrectType = catalogue::Type("ColorCorrect", kColorCorrectParams, 0);

// ---------------------------------------------------------------- Cross Processing

inline constexpr const char* kCrossModes[] = {"Print to Slide", "Slide to Print"};

inline constexpr ParamSpec kCrossProcessingParams[] = {
    Image("background", "Background"),
    List("view", "View", kOutputOriginal),
    List("mode", "Mode", kCrossModes, 1),
    Range("amount", "Amount", 0, 100, 100).Flags(kPrincipal),
};
static_assert(ValidTable(kCrossProcessingParams));

// A colour-shifted copy C (the engine with a bend and red/blue gains) with
// the source overlaid on it, the overlay mixed in by the amount.
class CrossProcessing final : public Effect {
 public:
  enum { kBackground, kView, kMode, kAmount };
  enum Mode { kPrintToSlide, kSlideToPrint };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) == 0 && RangeValue(kAmount) > 0; }

  void BeginRender(RenderInfo& info) {
    Configure();
    engine_.Prepare(info.is16Bit);
  }

  void Render(RenderInfo& info) {
    Raster& d = *info.destination;
    engine_.Apply(*Source(), d, info.area);
    WithDepth(d.Is16Bit(), [&]<class S>() { OverlaySource<S>(*Source(), d, info.area); });
  }

 private:
  void Configure() {
    const double x = Percent(kAmount);
    ToneMaster m;
    if (ListIndex(kMode) == kPrintToSlide) {
      m.saturation = 0.2 * x;  // percent: a change of 0.2 x percent
      m.tone.bend = 0.1 * x;
      m.tone.red = -0.7 * x;
      m.tone.blue = 0.2 * x;
    } else {
      m.tone.bend = 0.7 * x;
      m.tone.red = -0.5 * x;
      m.tone.blue = 1.0 * x;
    }
    engine_.Configure(m);
  }

  // d holds C; V = the source overlaid on C, mixed over C by k.
  template <class S>
  void OverlaySource(const Raster& source, Raster& d, const Rect& area) const {
    constexpr int32_t L = Depth<S>::L;
    const int32_t k = static_cast<S>(Percent(kAmount) * L);  // a sample: a byte in 8-bit
    for (int32_t y = area.top; y < area.bottom; ++y) {
      const S* s = source.RowAs<S>(y) + 4 * area.left;
      S* c = d.RowAs<S>(y) + 4 * area.left;
      for (int32_t x = area.left; x < area.right; ++x, s += 4, c += 4) {
        int32_t v[4];
        for (int i = 0; i < 3; ++i) v[i] = OverlayBlend<S>(s[i], c[i]);
        v[3] = c[3];
        // 64 bits: a stray 16-bit source sample above full scale overlays
        // beyond it.
        for (int i = 0; i < 4; ++i) c[i] = Depth<S>::Clamp((int64_t{c[i]} * (L - k) + int64_t{v[i]} * k) / L);
      }
    }
  }

  Engine engine_;
};
inline constexpr EffectType kCrossProcessingType =
    catalogue::Type("CrossProcessing", kCrossProcessingParams, 0);

// ---------------------------------------------------------------- Temperature

// One group of Temperature: position and range (bands only), temperature,
// cyan/magenta and brightness.
constexpr std::array<ParamSpec, 7> TemperatureBand(const char* group, const char* label,
                                                   const std::array<const char*, 5>& keys, double position,
                                                   double range) {
  return {Group(group, label).Flags(kRedMark),
          Range(keys[0], "Position", 0, 100, position),
          Range(keys[1], "Range", 0, 100, range),
          Range(keys[2], "Temperature", -100, 100, 0),
          Range(keys[3], "Cyan/Magenta", -100, 100, 0),
          Range(keys[4], "Brightness", -100, 100, 0),
          End()};
}

inline constexpr auto kTemperatureParams = Join(
    Rows({
        Image("input", "Input"),
        List("view", "View", kBandViews),
        Group("master", "Master").Flags(kRedMark),
        Range("temperature", "Temperature", -100, 100, 0),
        Range("cyanMagenta", "Cyan/Magenta", -100, 100, 0),
        Range("brightness", "Brightness", -100, 100, 0),
        End(),
    }),
    TemperatureBand("shadows", "Shadows", {"Spos", "Srange", "Stemperature", "ScyanMagenta", "Sbrightness"},
                    BandPercent(Engine::kDefaultCentre[0]), BandPercent(Engine::kDefaultWidth[0])),
    TemperatureBand("midtones", "Midtones", {"Mpos", "Mrange", "Mtemperature", "McyanMagenta", "Mbrightness"},
                    BandPercent(Engine::kDefaultCentre[1]), BandPercent(Engine::kDefaultWidth[1])),
    TemperatureBand("highlights", "Highlights",
                    {"Hpos", "Hrange", "Htemperature", "HcyanMagenta", "Hbrightness"},
                    BandPercent(Engine::kDefaultCentre[2]), BandPercent(Engine::kDefaultWidth[2])));
static_assert(ValidTable(kTemperatureParams));

// Temperature and cyan/magenta as red, green and blue gains, per tonal band.
class Temperature final : public Effect {
 public:
  enum { kInput, kView, kMaster, kTemperature, kCyanMagenta, kBrightness, kMasterEnd, kShadows };
  static constexpr int kBandRows = 7;
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kBandOriginal; }

  void BeginRender(RenderInfo& info) {
    engine_.Configure({0, 0, Adjustment(kTemperature)});
    for (int b = 0; b < Engine::kBandCount; ++b) {
      const int group = kShadows + b * kBandRows;
      engine_.ConfigureBand(b, Adjustment(group + 3), Percent(group + 1), Percent(group + 2));
    }
    engine_.Prepare(info.is16Bit);
  }

  void Render(RenderInfo& info) {
    RenderBandView(engine_, ListIndex(kView), *Source(), *info.destination, info.area);
  }

 private:
  // Temperature t and cyan/magenta m from `first` on, brightness after them:
  // red (1 - t)(1 + m) - 1, green (1 - m) - 1, blue (1 + t)(1 + |m|) - 1,
  // in single precision.
  ToneAdjustment Adjustment(int first) const {
    const float t = static_cast<float>(Percent(first));
    const float m = static_cast<float>(Percent(first + 1));
    ToneAdjustment a;
    a.brightness = Percent(first + 2);
    a.red = (1 - t) * (1 + m) - 1;
    a.green = (1 - m) - 1;
    a.blue = (1 + t) * (1 + std::fabs(m)) - 1;
    return a;
  }

  Engine engine_;
};
inline constexpr EffectType kTemperatureType = catalogue::Type("Temperature", kTemperatureParams, 0);

// ---------------------------------------------------------------- Warm/Cool

inline constexpr ParamSpec kWarmCoolParams[] = {
    Image("background", "Background"),
    List("view", "View", kOutputOriginal),
    Range("temperature", "Temperature", -100, 100, 0),
};
static_assert(ValidTable(kWarmCoolParams));

class WarmCool final : public Effect {
 public:
  enum { kBackground, kView, kTemperature };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) == 0 && RangeValue(kTemperature) != 0; }
  void Render(RenderInfo& info) {
    WarmCoolShift(*Source(), *info.destination, info.area, Percent(kTemperature));
  }
};
inline constexpr EffectType kWarmCoolType = catalogue::Type("WarmCool", kWarmCoolParams, 0);

// ---------------------------------------------------------------- Fluorescent

inline constexpr ParamSpec kFluorescentParams[] = {
    Image("background", "Background"),
    List("view", "View", kOutputOriginal),
    Range("temperature", "Temperature", 0, 20, 0),
};
static_assert(ValidTable(kFluorescentParams));

// Takes green out and puts blue in by the same level, then lifts every
// channel by x of itself.
class Fluorescent final : public Effect {
 public:
  enum { kBackground, kView, kTemperature };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) == 0 && RangeValue(kTemperature) > 0; }

  void Render(RenderInfo& info) {
    WithDepth(info.is16Bit, [&]<class S>() { RenderT<S>(*Source(), *info.destination, info.area); });
  }

 private:
  template <class S>
  void RenderT(const Raster& source, Raster& destination, const Rect& area) const {
    constexpr int32_t L = Depth<S>::L;
    const float x = static_cast<float>(Percent(kTemperature));
    const int32_t d = static_cast<int32_t>(x * L);
    const auto lift = [x](int32_t v) {
      return std::min<int32_t>(Depth<S>::L, v + static_cast<int32_t>(x * v));
    };
    for (int32_t y = area.top; y < area.bottom; ++y) {
      const S* p = source.RowAs<S>(y) + 4 * area.left;
      S* q = destination.RowAs<S>(y) + 4 * area.left;
      for (int32_t i = area.left; i < area.right; ++i, p += 4, q += 4) {
        const int32_t g = std::max(0, p[1] - d);
        const int32_t b = p[2] + d;
        const S r = p[0], a = p[3];
        q[2] = static_cast<S>(lift(b));
        q[1] = static_cast<S>(lift(g));
        q[0] = static_cast<S>(lift(r));
        q[3] = a;
      }
    }
  }
};
inline constexpr EffectType kFluorescentType = catalogue::Type("Fluorescent", kFluorescentParams, 0);

// ---------------------------------------------------------------- Selective Saturation

inline constexpr ParamSpec kSelectiveSaturationParams[] = {
    Image("input", "Input"),
    List("view", "View", kBandViews),
    Group("Shadows", "Shadows"),
    Range("sSat", "Saturation", -100, 100, 0),
    Range("sPos", "Position", 0, 100, 0),
    Range("sRange", "Range", 0, 100, 80),
    End(),
    Group("midtones", "Midtones"),
    Range("mSat", "Saturation", -100, 100, 0),
    Range("mPos", "Position", 0, 100, 50),
    Range("mRange", "Range", 0, 100, 40),
    End(),
    Group("highlights", "Highlights"),
    Range("hSat", "Saturation", -100, 100, 0),
    Range("hPos", "Position", 0, 100, 100),
    Range("hRange", "Range", 0, 100, 80),
    End(),
};
static_assert(ValidTable(kSelectiveSaturationParams));

// Moves each channel away from (or towards) the pixel's luminance by a
// saturation weighted by the three tonal bands.
class SelectiveSaturation final : public Effect {
 public:
  enum { kInput, kView, kShadows };
  static constexpr int kBandRows = 5;  // group, saturation, position, range, end
  using Effect::Effect;

  bool IsActive() const {
    const int32_t view = ListIndex(kView);
    if (view == kBandOriginal) return false;
    if (view != kBandOutput) return true;
    for (int b = 0; b < 3; ++b)
      if (RangeValue(Row(b)) != 0) return true;
    return false;
  }

  // Builds (or finds cached) the band tables of the render's depth.
  void BeginRender(RenderInfo& info) {
    WithDepth(info.is16Bit, [&]<class S>() {
      for (int b = 0; b < 3; ++b) Weight<S>(b);
    });
  }

  void Render(RenderInfo& info) {
    const int32_t view = ListIndex(kView);
    Raster& d = *info.destination;
    if (view == kBandOriginal) {
      CopyArea(*Source(), d, info.area);
      return;
    }
    WithDepth(d.Is16Bit(), [&]<class S>() {
      if (view == kBandOutput)
        Saturate<S>(*Source(), d, info.area);
      else
        ShowWeight<S>(*Source(), d, info.area, Weight<S>(ViewedBand(view)), false);
    });
  }

 private:
  // The band's saturation row; position and range follow it.
  static constexpr int Row(int band) { return kShadows + 1 + band * kBandRows; }

  template <class S>
  std::span<const S> Weight(int band) {
    return weights_[band].Table<S>(Percent(Row(band) + 1), Percent(Row(band) + 2));
  }

  template <class S>
  void Saturate(const Raster& source, Raster& d, const Rect& area) {
    constexpr int32_t L = Depth<S>::L;
    const std::span<const S> w[3] = {Weight<S>(0), Weight<S>(1), Weight<S>(2)};
    const double sat[3] = {Percent(Row(0)), Percent(Row(1)), Percent(Row(2))};
    for (int32_t y = area.top; y < area.bottom; ++y) {
      const S* p = source.RowAs<S>(y) + 4 * area.left;
      S* q = d.RowAs<S>(y) + 4 * area.left;
      for (int32_t x = area.left; x < area.right; ++x, p += 4, q += 4) {
        const int32_t luminance = Depth<S>::Luminance(p[0], p[1], p[2]);
        const int32_t i = std::min(luminance, L);
        const double s = sat[0] * w[0][i] / L + sat[1] * w[1][i] / L + sat[2] * w[2][i] / L;
        const S a = p[3];
        for (int c = 0; c < 3; ++c) {
          const double v = s * (p[c] - luminance) + p[c];
          q[c] = Depth<S>::Clamp(static_cast<int64_t>(v));
        }
        q[3] = a;
      }
    }
  }

  std::array<TonalSelector, 3> weights_;
};
inline constexpr EffectType kSelectiveSaturationType =
    catalogue::Type("SelectiveSaturation", kSelectiveSaturationParams, 0);

// ---------------------------------------------------------------- Ultra Contrast

inline constexpr const char* kUltraContrastViews[] = {"Output", "Shadows", "Highlights", "Original"};

inline constexpr ParamSpec kUltraContrastParams[] = {
    Image("input", "Input"),
    List("view", "View", kUltraContrastViews),
    Group("shadows", "Shadows").Flags(kPlainGroup),
    Range("sGamma", "Shadows", 0, 100, 25),
    Range("sPos", "Position", 0, 100, 0),
    Range("sRange", "Range", 0, 100, 80),
    End(),
    Group("highlights", "Highlights").Flags(kPlainGroup),
    Range("hGamma", "Highlights", 0, 100, 25),
    Range("hPos", "Position", 0, 100, 100),
    Range("hRange", "Range", 0, 100, 80),
    End(),
};
static_assert(ValidTable(kUltraContrastParams));

// Opens the shadows and compresses the highlights: one luminance-indexed
// offset added to every channel.
class UltraContrast final : public Effect {
 public:
  enum {
    kInput,
    kView,
    kShadowsGroup,
    kShadowsGamma,
    kShadowsPos,
    kShadowsRange,
    kShadowsEnd,
    kHighlightsGroup,
    kHighlightsGamma,
    kHighlightsPos,
    kHighlightsRange
  };
  enum View { kOutput, kShowShadows, kShowHighlights, kOriginal };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }

  void BeginRender(RenderInfo& info) {
    WithDepth(info.is16Bit, [&]<class S>() { Offsets<S>(); });
  }

  void Render(RenderInfo& info) {
    const int32_t view = ListIndex(kView);
    Raster& d = *info.destination;
    if (view == kOriginal) {
      CopyArea(*Source(), d, info.area);
      return;
    }
    WithDepth(d.Is16Bit(), [&]<class S>() {
      if (view == kOutput)
        AddOffsets<S>(*Source(), d, info.area, Offsets<S>());
      else if (view == kShowShadows)
        ShowWeight<S>(*Source(), d, info.area, Weight<S>(0), true);
      else
        ShowWeight<S>(*Source(), d, info.area, Weight<S>(1), true);
    });
  }

 private:
  struct Key {
    double shadows = -1, shadowsPos = 0, shadowsRange = 0, highlights = 0, highlightsPos = 0,
           highlightsRange = 0;
    friend bool operator==(const Key&, const Key&) = default;
  };
  Key Current() const {
    return {Percent(kShadowsGamma),    Percent(kShadowsPos),    Percent(kShadowsRange),
            Percent(kHighlightsGamma), Percent(kHighlightsPos), Percent(kHighlightsRange)};
  }

  // 0: shadows, 1: highlights.
  template <class S>
  std::span<const S> Weight(int band) {
    const int pos = band == 0 ? kShadowsPos : kHighlightsPos;
    return weights_[band].Table<S>(Percent(pos), Percent(pos + 1));
  }

  // offset[i] = trunc(((cH[i] - i) / L) wH[i] (i / L) + ((cS[i] - i) / L) wS[i]):
  // only the highlights term carries the level; rebuilt when a setting
  // changed.
  template <class S>
  const std::vector<int32_t>& Offsets() {
    constexpr int32_t L = Depth<S>::L;
    Cached& c = sizeof(S) == 1 ? offsets8_ : offsets16_;
    const Key key = Current();
    if (c.key == key && !c.offset.empty()) return c.offset;
    const std::span<const S> ws = Weight<S>(0), wh = Weight<S>(1);
    const std::vector<S> cs = ToneShapeTable<S>(0, 0, key.shadows);
    const std::vector<S> ch = ToneShapeTable<S>(0, 0, -key.highlights);
    c.offset.assign(Depth<S>::kTableSize, 0);
    for (int32_t i = 0; i <= L; ++i) {
      const double v = ((static_cast<double>(ch[i]) - i) / L) * wh[i] * (static_cast<double>(i) / L) +
                       ((static_cast<double>(cs[i]) - i) / L) * ws[i];
      c.offset[i] = static_cast<int32_t>(v);
    }
    c.key = key;
    return c.offset;
  }

  template <class S>
  static void AddOffsets(const Raster& source, Raster& d, const Rect& area,
                         const std::vector<int32_t>& offset) {
    constexpr int32_t L = Depth<S>::L;
    for (int32_t y = area.top; y < area.bottom; ++y) {
      const S* p = source.RowAs<S>(y) + 4 * area.left;
      S* q = d.RowAs<S>(y) + 4 * area.left;
      for (int32_t x = area.left; x < area.right; ++x, p += 4, q += 4) {
        const int32_t k = offset[std::min(Depth<S>::Luminance(p[0], p[1], p[2]), L)];
        const S a = p[3];
        for (int c = 0; c < 3; ++c) q[c] = Depth<S>::Clamp(p[c] + k);
        q[3] = a;
      }
    }
  }

  struct Cached {
    Key key;
    std::vector<int32_t> offset;
  };
  Cached offsets8_, offsets16_;
  std::array<TonalSelector, 2> weights_;
};
inline constexpr EffectType kUltraContrastType = catalogue::Type("UltraContrast", kUltraContrastParams, 0);

// ---------------------------------------------------------------- Ozone

inline constexpr const char* kOzoneViews[] = {"Output", "Zone 0",  "Zone 1",  "Zone 2", "Zone 3",
                                              "Zone 4", "Zone 5",  "Zone 6",  "Zone 7", "Zone 8",
                                              "Zone 9", "Zone 10", "Original"};
inline constexpr int kZoneCount = 11;

// Zone N's group: keys with N appended, position 10 N, range 30.
// clang-format off
#define OVRA_OZONE_ZONE(N)                                   \
  Group("zone" #N, "Zone " #N),                              \
  Range("pos" #N, "Position", 0, 100, 10 * (N)),             \
  Range("rng" #N, "Range", 0, 100, 30),                      \
  Range("bri" #N, "Brightness", -100, 100, 0),               \
  Range("con" #N, "Contrast", -100, 100, 0),                 \
  Range("gam" #N, "Gamma", -100, 100, 0),                    \
  Range("red" #N, "Red", -200, 200, 0),                      \
  Range("grn" #N, "Green", -200, 200, 0),                    \
  Range("blu" #N, "Blue", -200, 200, 0),                     \
  End()
// clang-format on

inline constexpr ParamSpec kOzoneParams[] = {
    Image("input", "Input"),
    List("view", "View", kOzoneViews),
    List("use", "Extract On", kExtractOnItems),
    OVRA_OZONE_ZONE(0),
    OVRA_OZONE_ZONE(1),
    OVRA_OZONE_ZONE(2),
    OVRA_OZONE_ZONE(3),
    OVRA_OZONE_ZONE(4),
    OVRA_OZONE_ZONE(5),
    OVRA_OZONE_ZONE(6),
    OVRA_OZONE_ZONE(7),
    OVRA_OZONE_ZONE(8),
    OVRA_OZONE_ZONE(9),
    OVRA_OZONE_ZONE(10),
};
#undef OVRA_OZONE_ZONE
static_assert(ValidTable(kOzoneParams));
static_assert(std::size(kOzoneParams) == 113);

// A zone-system correction: eleven tonal bands over a value extracted from
// each pixel, each adding its tone shape and gains to the channels.
class Ozone final : public Effect {
 public:
  enum { kInput, kView, kUse, kZones };
  static constexpr int kZoneRows = 10;  // group, 8 values, end
  enum ZoneRow { kGroup, kPos, kRange, kBrightness, kContrast, kGamma, kRed, kGreen, kBlue };
  static constexpr int kOriginal = kZoneCount + 1;
  using Effect::Effect;

  bool IsActive() const {
    const int32_t view = ListIndex(kView);
    if (view == kOriginal) return false;
    if (view != 0) return true;
    for (int z = 0; z < kZoneCount; ++z)
      if (ZoneActive(z)) return true;
    return false;
  }

  void BeginRender(RenderInfo& info) {
    WithDepth(info.is16Bit, [&]<class S>() { Build<S>(); });
  }

  void Render(RenderInfo& info) {
    const int32_t view = ListIndex(kView);
    Raster& d = *info.destination;
    if (view == kOriginal || view < 0 || view > kOriginal) {
      CopyArea(*Source(), d, info.area);
      return;
    }
    WithDepth(d.Is16Bit(), [&]<class S>() {
      if (view == 0) {
        if (builtFor_ != static_cast<int32_t>(sizeof(S))) Build<S>();
        Correct<S>(*Source(), d, info.area);
      } else {
        ShowZone<S>(*Source(), d, info.area, view - 1);
      }
    });
  }

  // The value a zone is looked up with, 0..L.
  template <class S>
  static int32_t Extract(ExtractOn use, const S* p) {
    constexpr int32_t L = Depth<S>::L;
    switch (use) {
      case ExtractOn::kHue: {
        const Hsv hsv =
            RgbToHsv(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]));
        if (hsv.h == kHueUndefined) return 0;
        return std::clamp(static_cast<int32_t>(hsv.h * 0.0027777778f * L), 0, L);
      }
      case ExtractOn::kSaturation: {
        const Hsv hsv =
            RgbToHsv(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]));
        return std::clamp(static_cast<int32_t>(hsv.s * L), 0, L);
      }
      default:
        return std::clamp(TonalSelector::Value<S>(use, p), 0, L);
    }
  }

 private:
  int Row(int zone, ZoneRow row) const { return kZones + zone * kZoneRows + row; }
  bool ZoneActive(int z) const {
    for (int r = kBrightness; r <= kBlue; ++r)
      if (RangeValue(Row(z, static_cast<ZoneRow>(r))) != 0) return true;
    return false;
  }
  ExtractOn Use() const {
    return static_cast<ExtractOn>(std::clamp(ListIndex(kUse), 0, kExtractOnCount - 1));
  }

  template <class S>
  std::span<const S> Weight(int zone) {
    return weights_[zone].Table<S>(Percent(Row(zone, kPos)), Percent(Row(zone, kRange)));
  }

  // offset_c[i] += (i / L) w[i] ((C[i] - i) / L + gain_c) for every zone with
  // something to add; float tables.
  template <class S>
  void Build() {
    constexpr int32_t L = Depth<S>::L;
    for (auto& o : offset_) o.assign(Depth<S>::kTableSize, 0.0f);
    for (int z = 0; z < kZoneCount; ++z) {
      if (!ZoneActive(z)) continue;
      const std::span<const S> w = Weight<S>(z);
      const std::vector<S> curve = ToneShapeTable<S>(Percent(Row(z, kBrightness)), Percent(Row(z, kContrast)),
                                                     Percent(Row(z, kGamma)));
      const double gain[3] = {Percent(Row(z, kRed)), Percent(Row(z, kGreen)), Percent(Row(z, kBlue))};
      for (int c = 0; c < 3; ++c)
        for (int32_t i = 0; i <= L; ++i)
          offset_[c][i] +=
              (static_cast<double>(i) / L) * w[i] * ((static_cast<double>(curve[i]) - i) / L + gain[c]);
    }
    builtFor_ = sizeof(S);
  }

  template <class S>
  void Correct(const Raster& source, Raster& d, const Rect& area) const {
    const ExtractOn use = Use();
    for (int32_t y = area.top; y < area.bottom; ++y) {
      const S* p = source.RowAs<S>(y) + 4 * area.left;
      S* q = d.RowAs<S>(y) + 4 * area.left;
      for (int32_t x = area.left; x < area.right; ++x, p += 4, q += 4) {
        const int32_t e = Extract<S>(use, p);
        const S a = p[3];
        for (int c = 0; c < 3; ++c) q[c] = Depth<S>::Clamp(p[c] + static_cast<int64_t>(offset_[c][e]));
        q[3] = a;
      }
    }
  }

  template <class S>
  void ShowZone(const Raster& source, Raster& d, const Rect& area, int zone) {
    const std::span<const S> w = Weight<S>(zone);
    const ExtractOn use = Use();
    for (int32_t y = area.top; y < area.bottom; ++y) {
      const S* p = source.RowAs<S>(y) + 4 * area.left;
      S* q = d.RowAs<S>(y) + 4 * area.left;
      for (int32_t x = area.left; x < area.right; ++x, p += 4, q += 4) {
        q[0] = q[1] = q[2] = w[Extract<S>(use, p)];
        q[3] = static_cast<S>(Depth<S>::L);
      }
    }
  }

  std::array<std::vector<float>, 3> offset_;
  int32_t builtFor_ = 0;  // bytes per sample of the tables, 0 before the first build
  std::array<TonalSelector, kZoneCount> weights_;
};
inline constexpr EffectType kOzoneType = catalogue::Type("Ozone", kOzoneParams, 0);

// ---------------------------------------------------------------- Tint

inline constexpr const char* kGradViews[] = {"Output", "Grad", "Original"};
enum GradView { kGradOutput, kShowGrad, kGradOriginal };

inline constexpr auto kTintParams = Join(
    Rows({
        Image("background", "Background"),
        List("view", "View", kGradViews),
        Group("Tint", "Tint", true),
        Range("opacity", "Opacity", 0, 100, 100),
        Colour("tint", "Tint", {1, 0.6, 0.39}),
        List("tintMode", "Tint Mode", kTintModeItems, static_cast<int32_t>(TintMode::kHls)).Flags(kNotify),
        Range("highlights", "Preserve Highlights", 0, 100, 100),
        End(),
    }),
    GelGradGroup(false));
static_assert(ValidTable(kTintParams));
static_assert(std::size(kTintParams) == 18);

// The image in the tint's hue (and saturation), optionally confined to a
// grad.
class Tint final : public Effect {
 public:
  enum { kBackground, kView, kTintGroup, kOpacity, kTint, kMode, kHighlights, kTintEnd, kGrad };
  using Effect::Effect;

  bool IsActive() const {
    const int32_t view = ListIndex(kView);
    return view == kShowGrad || (view == kGradOutput && RangeValue(kOpacity) > 0);
  }

  void ParameterChanged(int index) {
    if (index == kMode) SetEnabled(Param(kHighlights), Mode() == TintMode::kHls);
    GradStage::ParameterChanged(*this, kGrad, index);
  }

  void Render(RenderInfo& info) {
    const int32_t view = ListIndex(kView);
    CopyArea(*Source(), *info.destination, info.area);
    if (view == kGradOriginal) return;
    if (view == kGradOutput)
      TintOp(*info.destination, info.area, ColourValue(kTint), Mode(), Percent(kOpacity),
             Percent(kHighlights));
    GradStage::Read(*this, kGrad).Apply(*Source(), info, view == kShowGrad);
  }

 private:
  TintMode Mode() const { return static_cast<TintMode>(std::clamp(ListIndex(kMode), 0, 2)); }
};
inline constexpr EffectType kTintType = catalogue::Type("Tint", kTintParams, 0);

// ---------------------------------------------------------------- Mono Tint

inline constexpr ParamSpec kMonoTintParams[] = {
    Image("background", "Background"),
    List("view", "View", kOutputOriginal),
    Group("bw", "Black and White"),
    List("filter", "Filter", kMonoFilterItems),
    Range("brightness", "Brightness", -100, 100, 0),
    Range("contrast", "Contrast", -100, 100, 0),
    Range("gamma", "Gamma", -100, 100, 0),
    End(),
    Group("tint", "Tint"),
    Colour("gelColor", "Color", {255 / 255.0, 128 / 255.0, 63 / 255.0}),
    Range("gelOpacity", "Opacity", 0, 100, 100),
    Range("highlights", "Preserve Highlights", 0, 100, 50),
    End(),
};
static_assert(ValidTable(kMonoTintParams));

// Black and white, then a gel over it.
class MonoTint final : public Effect {
 public:
  enum {
    kBackground,
    kView,
    kBw,
    kFilter,
    kBrightness,
    kContrast,
    kGamma,
    kBwEnd,
    kTintGroup,
    kColour,
    kOpacity,
    kHighlights
  };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) == 0; }

  void BeginRender(RenderInfo&) {
    gel_.Load(ColourValue(kColour), Percent(kOpacity), Percent(kHighlights), 0);
  }

  void Render(RenderInfo& info) {
    Raster& d = *info.destination;
    CopyArea(*Source(), d, info.area);
    MonoFilter(d, info.area, static_cast<MonoFilterKind>(std::clamp(ListIndex(kFilter), 0, 5)));
    ColorCorrection c;
    c.brightness = Percent(kBrightness);
    c.contrast = Percent(kContrast);
    c.bend = Percent(kGamma);
    ColorCorrectOp(d, info.area, c);
    if (RangeValue(kOpacity) != 0) gel_.Apply(d, info.area);
  }

 private:
  GelFilter gel_;
};
inline constexpr EffectType kMonoTintType = catalogue::Type("MonoTint", kMonoTintParams, 0);

// ---------------------------------------------------------------- Color Temperature

// Light sources and their colour temperatures, as photographers' tables
// list them (the Kelvin is repeated in each name). Row 0 stands for the
// "Destination Kelvin" parameter.
inline constexpr LightSource kLightSources[] = {
    {"Custom", 3200},
    {"Match Flame (1700K)", 1700},
    {"Candle Flame (1850K)", 1850},
    {"Hefner Lamp (1880K)", 1880},
    {"Harcourt Pentane Lamp (1920K)", 1920},
    {"Standard British Candle (1930K)", 1930},
    {"Sunlight-Sunrise or Sunset (2000K)", 2000},
    {"Incandescent Carbon-4 watts\\candle (2080K)", 2080},
    {"High Pressure Sodium-Lucalox\\Lumalux (2100K)", 2100},
    {"Incandescent Tungsten-1.25 watts\\candle (2400K)", 2400},
    {"Acetylene Lamp  (2415K)", 2415},
    {"40watt-general service  (2650K)", 2650},
    {"Fluorescent-Incandescent  (2700K)", 2700},
    {"75watt-general service  (2820K)", 2820},
    {"100watt-general service  (2900K)", 2900},
    {"Fluorescent-Deluxe Warm White  (2950K)", 2950},
    {"Tungsten-Gas Filled Lamps:200-500W  (2980K)", 2980},
    {"200watt-general service  (2980K)", 2980},
    {"Tungsten-Gas Filled Lamps:1000W  (2990K)", 2990},
    {"Fluorescent-Warm White (3050K)", 3050},
    {"Incandescent-Standard & Tungsten\\Halogen (3200K)", 3200},
    {"CP Gas Filled (3350K)", 3350},
    {"Carbon Arc-225ABrute-Yellow Flame\\YF 101 Filter (3350K)", 3350},
    {"Photoflood (3400K)", 3400},
    {"Fluorescent-White (3500K)", 3500},
    {"Mercury Vapor-Warm Deluxe (3500K)", 3500},
    {"Sunlight-One Hour After Sunrise (3500K)", 3500},
    {"Fluorescent-Natural White (3700K)", 3700},
    {"Metal Halide-Metalarc C (3800K)", 3800},
    {"Clear Aluminum Wire-Filled Flash (3800K)", 3800},
    {"Mercury Vapor-White Deluxe (4000K)", 4000},
    {"Crater of Carbon Arc (4000K)", 4000},
    {"Fluorescent-Deluxe Cool White (4100K)", 4100},
    {"Metal Halide Additive AC Arc-CSI (4200K)", 4200},
    {"Clear Zirconium Wire-Filled Flash (4200K)", 4200},
    {"Fluorescent-Cool White (4300K)", 4300},
    {"Sunlight-Early Morning\\Late Afternoon (4300K)", 4300},
    {"Daylight Blue Photoflood (4800K)", 4800},
    {"Flashcube-Magicube or Flipflash (4950K)", 4950},
    {"White Flame Carbon Arc (5000K)", 5000},
    {"Carbon Arc-225ABrute-White Flame\\Y-1 Filter (5100K)", 5100},
    {"Fluorescent-Design White (5200K)", 5200},
    {"Sunlight-mean noon (5400K)", 5400},
    {"Photographic Daylight (5500K)", 5500},
    {"High Intensity Carbon Arc-sun arc (5500K)", 5500},
    {"Metal Halide Additive AC Arc-HMI (5600K)", 5600},
    {"Metal Halide Additive AC Arc-CID  (5600K)", 5600},
    {"Carbon Arc-225ABrute-White Flame\\No Filter (5800K)", 5800},
    {"Sunlight-Midsummer (5800K)", 5800},
    {"Mercury Vapor-Clear Mercury (5900K)", 5900},
    {"Metal Halide-Multi Arc\\Metal Vapor (5900K)", 5900},
    {"Xenon High Pressure DC Short Arc (6000K)", 6000},
    {"Overcast Sky (6000K)", 6000},
    {"Fluorescent-Daylight (6500K)", 6500},
    {"Average Summer Daylight (6500K)", 6500},
    {"Light Summer Shade (7100K)", 7100},
    {"Average Summer Shade (8000K)", 8000},
    {"Partly Cloudy Sky (8000K)", 8000},
    {"Summer Skylight (9500K)", 9500},
    {"Skylight (12000K)", 12000},
};
static_assert(std::size(kLightSources) == 60);

// The Kelvin written at the end of a name, "(...K)", or -1.
constexpr int32_t KelvinInName(std::string_view name) {
  if (name.size() < 3 || name.substr(name.size() - 2) != "K)") return -1;
  const std::size_t open = name.rfind('(');
  if (open == std::string_view::npos) return -1;
  int32_t k = 0;
  for (std::size_t i = open + 1; i + 2 < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    k = k * 10 + (name[i] - '0');
  }
  return k;
}
constexpr bool NamesCarryTheirKelvin() {
  if (kLightSources[0].kelvin != 3200 || KelvinInName(kLightSources[0].name) != -1) return false;
  for (std::size_t i = 1; i < std::size(kLightSources); ++i)
    if (KelvinInName(kLightSources[i].name) != kLightSources[i].kelvin) return false;
  return true;
}
static_assert(NamesCarryTheirKelvin());

inline constexpr auto kLightSourceNames = [] {
  std::array<const char*, std::size(kLightSources)> names{};
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = kLightSources[i].name;
  return names;
}();

// The 10-degree RGB colour-matching functions of Stiles and Burch (1959),
// primaries at 645.16, 526.32 and 444.44 nm, 390..730 nm in 5 nm steps, as
// the standard tabulations of colour-matching data publish them.
inline constexpr ColourMatchingRow kStilesBurch10[] = {
    {390, 1.83970E-03, -4.53930E-04, 1.21520E-02}, {395, 4.61530E-03, -1.04640E-03, 3.11100E-02},
    {400, 9.62640E-03, -2.16890E-03, 6.23710E-02}, {405, 1.89790E-02, -4.43040E-03, 1.31610E-01},
    {410, 3.08030E-02, -7.20480E-03, 2.27500E-01}, {415, 4.24590E-02, -1.25790E-02, 3.58970E-01},
    {420, 5.16620E-02, -1.66510E-02, 5.23960E-01}, {425, 5.28370E-02, -2.12400E-02, 6.85860E-01},
    {430, 4.42870E-02, -1.99360E-02, 7.96040E-01}, {435, 3.22200E-02, -1.60970E-02, 8.94590E-01},
    {440, 1.47630E-02, -7.34570E-03, 9.63950E-01}, {445, -2.33920E-03, 1.36900E-03, 9.98140E-01},
    {450, -2.91300E-02, 1.96100E-02, 9.18750E-01}, {455, -6.06770E-02, 4.34640E-02, 8.24870E-01},
    {460, -9.62240E-02, 7.09540E-02, 7.85540E-01}, {465, -1.37590E-01, 1.10220E-01, 6.67230E-01},
    {470, -1.74860E-01, 1.50880E-01, 6.10980E-01}, {475, -2.12600E-01, 1.97940E-01, 4.88290E-01},
    {480, -2.37800E-01, 2.40420E-01, 3.61950E-01}, {485, -2.56740E-01, 2.79930E-01, 2.66340E-01},
    {490, -2.77270E-01, 3.33530E-01, 1.95930E-01}, {495, -2.91250E-01, 4.05210E-01, 1.47300E-01},
    {500, -2.95000E-01, 4.90600E-01, 1.07490E-01}, {505, -2.97060E-01, 5.96730E-01, 7.67140E-02},
    {510, -2.67590E-01, 7.01840E-01, 5.02480E-02}, {515, -2.17250E-01, 8.08520E-01, 2.87810E-02},
    {520, -1.47680E-01, 9.10760E-01, 1.33090E-02}, {525, -3.51840E-02, 9.84820E-01, 2.11700E-03},
    {530, 1.06140E-01, 1.03390E+00, -4.15740E-03}, {535, 2.59810E-01, 1.05380E+00, -8.30320E-03},
    {540, 4.19760E-01, 1.05120E+00, -1.21910E-02}, {545, 5.92590E-01, 1.04980E+00, -1.40390E-02},
    {550, 7.90040E-01, 1.03680E+00, -1.46810E-02}, {555, 1.00780E+00, 9.98260E-01, -1.49470E-02},
    {560, 1.22830E+00, 9.37830E-01, -1.46130E-02}, {565, 1.47270E+00, 8.80390E-01, -1.37820E-02},
    {570, 1.74760E+00, 8.28350E-01, -1.26500E-02}, {575, 2.02140E+00, 7.46860E-01, -1.13560E-02},
    {580, 2.27240E+00, 6.49300E-01, -9.93170E-03}, {585, 2.48960E+00, 5.63170E-01, -8.41480E-03},
    {590, 2.67250E+00, 4.76750E-01, -7.02100E-03}, {595, 2.80930E+00, 3.84840E-01, -5.74370E-03},
    {600, 2.87170E+00, 3.00690E-01, -4.27430E-03}, {605, 2.85250E+00, 2.28530E-01, -2.91320E-03},
    {610, 2.76010E+00, 1.65750E-01, -2.26930E-03}, {615, 2.59890E+00, 1.13730E-01, -1.99660E-03},
    {620, 2.37430E+00, 7.46820E-02, -1.50690E-03}, {625, 2.10540E+00, 4.65040E-02, -9.38220E-04},
    {630, 1.81450E+00, 2.63330E-02, -5.53160E-04}, {635, 1.52470E+00, 1.27240E-02, -2.79600E-04},
    {640, 1.25430E+00, 4.50330E-03, -7.62700E-05}, {645, 1.00760E+00, 9.66110E-05, -5.86380E-06},
    {650, 7.86420E-01, -1.96450E-03, 2.36350E-05}, {655, 5.96590E-01, -2.63270E-03, 3.84580E-05},
    {660, 4.43200E-01, -2.62620E-03, 4.38530E-05}, {665, 3.24100E-01, -2.30270E-03, 4.06040E-05},
    {670, 2.34550E-01, -1.87000E-03, 3.46610E-05}, {675, 1.68840E-01, -1.44240E-03, 2.83070E-05},
    {680, 1.20860E-01, -1.07550E-03, 2.25970E-05}, {685, 8.58110E-02, -7.90040E-04, 1.74370E-05},
    {690, 6.02600E-02, -5.67650E-04, 1.29600E-05}, {695, 4.14800E-02, -3.92740E-04, 9.12490E-06},
    {700, 2.81140E-02, -2.62310E-04, 6.10130E-06}, {705, 1.91170E-02, -1.75120E-04, 3.89480E-06},
    {710, 1.33050E-02, -1.21400E-04, 2.55980E-06}, {715, 9.40920E-03, -8.57310E-05, 1.84390E-06},
    {720, 6.51770E-03, -5.95250E-05, 1.31160E-06}, {725, 4.53770E-03, -4.15500E-05, 9.20050E-07},
    {730, 3.17420E-03, -2.92240E-05, 6.46640E-07},
};
static_assert(std::size(kStilesBurch10) == 69);

inline constexpr auto kColorTempParams =
    Join(Rows({
             Image("input", "Input"),
             List("view", "View", kGradViews),
             Group("Color", "Color Temperature", true).Flags(kPlainGroup),
             List("presets", "Presets", kLightSourceNames).Flags(kNotify | 0x300),
             Range("destKelvin", "Destination Kelvin", 1300, 14000, 3200),
             Range("sourceKelvin", "Source Kelvin", 1300, 14000, 3200),
             Range("opacity", "Opacity", 0, 100, 100),
             Range("highlights", "Preserve Highlights", 0, 100, 50),
             Range("exposure", "Exposure Compensation", 0, 100, 0),
             End().Flags(kPlainGroup),
         }),
         GelGradGroup(false));
static_assert(ValidTable(kColorTempParams));
static_assert(std::size(kColorTempParams) == 20);

// Marks a value written by the effect itself, for the dialog to show.
inline constexpr uint32_t kValueWritten = 0x20000000;

// The light of one colour temperature seen as another: per-channel factors
// from black-body spectra weighted by the colour-matching functions, laid
// over the image like a gel, optionally through a grad.
class ColorTemp final : public Effect {
 public:
  enum {
    kInput,
    kView,
    kColourGroup,
    kPresets,
    kDestination,
    kSourceKelvin,
    kOpacity,
    kHighlights,
    kExposure,
    kColourEnd,
    kGrad
  };
  using Effect::Effect;

  bool IsActive() const {
    switch (ListIndex(kView)) {
      case kGradOutput: {
        const GradStage g = GradStage::Read(*this, kGrad);
        return RangeValue(kOpacity) > 0 || (g.enabled && g.nd > 0);
      }
      case kShowGrad:
        return true;
      default:
        return false;
    }
  }

  // A chosen light source stands for "Destination Kelvin", which is greyed
  // out; an instance the registry holds writes the source's Kelvin into the
  // parameter instead and keeps it editable.
  void ParameterChanged(int index) {
    if (index == kPresets) {
      const int32_t preset = Preset();
      if (HeldByRegistry()) {
        if (preset > 0) {
          SetRange(Param(kDestination), kLightSources[preset].kelvin);
          SetFlagBit(Param(kDestination), kValueWritten, true);
        }
        SetEnabled(Param(kDestination), true);
      } else {
        SetEnabled(Param(kDestination), preset == 0);
      }
    }
    GradStage::ParameterChanged(*this, kGrad, index);
  }

  void Render(RenderInfo& info) {
    const int32_t view = ListIndex(kView);
    Raster& d = *info.destination;
    CopyArea(*Source(), d, info.area);
    if (view == kGradOriginal) return;
    if (view == kGradOutput) {
      const std::array<double, 3> f = Factors(RangeValue(kSourceKelvin), DestinationKelvin());
      WithDepth(d.Is16Bit(), [&]<class S>() { Filter<S>(d, info.area, f); });
    }
    GradStage::Read(*this, kGrad).Apply(*Source(), info, view == kShowGrad);
  }

  // A chosen light source is the destination for every instance; the
  // registry flag only changes what choosing it does to the parameter.
  double DestinationKelvin() const {
    const int32_t preset = Preset();
    return preset > 0 ? kLightSources[preset].kelvin : RangeValue(kDestination);
  }

 private:
  bool HeldByRegistry() const { return (flags & kHeldByRegistry) != 0; }
  int32_t Preset() const { return std::clamp<int32_t>(ListIndex(kPresets), 0, std::size(kLightSources) - 1); }

  // The factors of the last pair of temperatures, kept between bands.
  std::array<double, 3> Factors(double sourceKelvin, double destinationKelvin) {
    if (sourceKelvin != kelvin_[0] || destinationKelvin != kelvin_[1]) {
      factors_ = ColorTemperatureFactors(sourceKelvin, destinationKelvin);
      kelvin_ = {sourceKelvin, destinationKelvin};
    }
    return factors_;
  }

  // In place on the unfiltered image: the factors, the exposure
  // compensation, the opacity mix, then the highlights restored through the
  // highlight matte.
  template <class S>
  void Filter(Raster& d, const Rect& area, const std::array<double, 3>& factor) const {
    constexpr int32_t L = Depth<S>::L;
    const double e = Percent(kExposure);
    const int32_t o = static_cast<int32_t>(Percent(kOpacity) * L);
    const int32_t h = static_cast<int32_t>(Percent(kHighlights) * L);
    RasterRef mask;
    if (h > 0) mask = HighlightMask(d, area);
    for (int32_t y = area.top; y < area.bottom; ++y) {
      S* p = d.RowAs<S>(y) + 4 * area.left;
      const S* m = mask ? mask->RowAs<S>(y) + area.left : nullptr;
      for (int32_t x = area.left; x < area.right; ++x, p += 4) {
        const int32_t P[3] = {p[0], p[1], p[2]};
        int32_t F[3];
        for (int c = 0; c < 3; ++c) F[c] = static_cast<int32_t>(std::min<double>(L, factor[c] * P[c]));
        if (e > 0) {
          const int32_t delta = Depth<S>::Luminance(P[0], P[1], P[2]) - Depth<S>::Luminance(F[0], F[1], F[2]);
          const int32_t k = static_cast<int32_t>(e * delta);
          for (int c = 0; c < 3; ++c) F[c] = Depth<S>::Clamp(F[c] + k);
        }
        if (o < L)
          for (int c = 0; c < 3; ++c) F[c] = ((L - o) * P[c] + o * F[c]) / L;
        if (m != nullptr) {
          const int32_t w = *m++ * h / L;
          if (w != 0)
            for (int c = 0; c < 3; ++c) F[c] = (F[c] * (L - w) + P[c] * w) / L;
        }
        for (int c = 0; c < 3; ++c) p[c] = Depth<S>::Clamp(F[c]);
      }
    }
  }

  std::array<double, 2> kelvin_{-1, -1};
  std::array<double, 3> factors_{1, 1, 1};
};
inline constexpr EffectType kColorTempType = catalogue::Type("ColorTemp", kColorTempParams, 0);

}  // namespace

std::span<const ColourMatchingRow> ColourMatchingFunctions() {
  return kStilesBurch10;
}
std::span<const LightSource> LightSources() {
  return kLightSources;
}

std::array<double, 3> ColorTemperatureFactors(double sourceKelvin, double destinationKelvin) {
  // Planck's law without its constant factor, over the wavelength in mm
  // (second radiation constant 14.3877 mm K); the cube, not the fifth power,
  // of the wavelength in micrometres.
  const auto radiance = [](double mm, double um, double kelvin) {
    return 1.0 / ((std::exp(14.3877 / (mm * kelvin)) - 1) * (um * um * um));
  };
  double destination[3] = {0, 0, 0}, source[3] = {0, 0, 0};
  for (const ColourMatchingRow& row : kStilesBurch10) {
    const double mm = row.nm * 1e-6;
    const double um = mm * 1000;
    const double pd = radiance(mm, um, destinationKelvin), ps = radiance(mm, um, sourceKelvin);
    const double w[3] = {row.r, row.g, row.b};
    for (int c = 0; c < 3; ++c) {
      destination[c] += pd * w[c];
      source[c] += ps * w[c];
    }
  }
  std::array<double, 3> ratio{};
  for (int c = 0; c < 3; ++c) {
    ratio[c] = destination[c] / source[c];
    // A temperature outside every sensible range could leave a sum at 0.
    if (!(ratio[c] > 0) || !std::isfinite(ratio[c])) ratio[c] = 0;
  }
  const double m = std::max({ratio[0], ratio[1], ratio[2]});
  std::array<double, 3> factor{};
  for (int c = 0; c < 3; ++c) {
    const double r = m > 0 ? ratio[c] / m : ratio[c];
    // To 16 bits, then to the 8-bit precision both depths use.
    const int32_t q16 = static_cast<int32_t>(65535 * r + 0.5);
    factor[c] = static_cast<int32_t>(q16 / 256.0 - 0.5) / 255.0;
  }
  return factor;
}

const EffectRoutines& kBleachBypass = RoutinesOf<BleachBypass, kBleachBypassType>;
const EffectRoutines& kBlackAndWhite = RoutinesOf<BlackAndWhite, kBlackAndWhiteType>;
const EffectRoutines& kColorCorrect = RoutinesOf<ColorCorrect, kColorCorrectType>;
const EffectRoutines& kColorTemperature = RoutinesOf<ColorTemp, kColorTempType>;
const EffectRoutines& kCrossProcessing = RoutinesOf<CrossProcessing, kCrossProcessingType>;
const EffectRoutines& kFluorescent = RoutinesOf<Fluorescent, kFluorescentType>;
const EffectRoutines& kMonoTint = RoutinesOf<MonoTint, kMonoTintType>;
const EffectRoutines& kOzone = RoutinesOf<Ozone, kOzoneType>;
const EffectRoutines& kSelectiveSaturation = RoutinesOf<SelectiveSaturation, kSelectiveSaturationType>;
const EffectRoutines& kUltraContrast = RoutinesOf<UltraContrast, kUltraContrastType>;
const EffectRoutines& kTemperature = RoutinesOf<Temperature, kTemperatureType>;
const EffectRoutines& kTint = RoutinesOf<Tint, kTintType>;
const EffectRoutines& kWarmCool = RoutinesOf<WarmCool, kWarmCoolType>;

}  // namespace fx::effects
