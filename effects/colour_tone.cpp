// Colour and tone effects: pixel-by-pixel changes of colour and tone (Bleach
// Bypass to Fluorescent; the zone and tint members and Color Temperature have
// files of their own).
#include "effects/colour_tone.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <string_view>
#include <vector>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/colour_tone_common.h"
#include "effects/gel_filter.h"
#include "effects/grad_stage.h"
#include "effects/selection_matte.h"
#include "effects/tone_range.h"
#include "imaging/colour.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/tone_curve.h"

namespace fx::effects {
namespace {

using namespace tone;

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
    ParallelRows(area.top, area.bottom, 16 * int64_t{area.Width()}, [&](int32_t first, int32_t end) {
      // The saturated copy of a row; the source row itself when s = 0.
      std::vector<S> saturated(s != 0 ? 4 * static_cast<std::size_t>(area.Width()) : 0);
      for (int32_t y = first; y < end; ++y) {
        const S* p = source.RowAs<S>(y) + 4 * area.left;
        S* d = destination.RowAs<S>(y) + 4 * area.left;
        const S* q = p;
        if (s != 0) {
          std::copy(p, p + saturated.size(), saturated.begin());
          AdjustHueSaturationRun(saturated.data(), area.Width(), 0.0f, saturationFactor);
          q = saturated.data();
        }
        for (int32_t x = area.left; x < area.right; ++x, p += 4, q += 4, d += 4) {
          const int32_t g = table[std::min(Depth<S>::Luminance(p[0], p[1], p[2]), L)];
          const S a = p[3];
          for (int k = 0; k < 3; ++k) {
            const int32_t o = OverlayBlend<S>(q[k], g);
            d[k] = static_cast<S>((o * alpha + p[k] * (L - alpha)) / L);
          }
          d[3] = a;
        }
      }
    });
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

}  // namespace

const EffectRoutines& kBleachBypass = RoutinesOf<BleachBypass, kBleachBypassType>;
const EffectRoutines& kBlackAndWhite = RoutinesOf<BlackAndWhite, kBlackAndWhiteType>;
const EffectRoutines& kColorCorrect = RoutinesOf<ColorCorrect, kColorCorrectType>;
const EffectRoutines& kCrossProcessing = RoutinesOf<CrossProcessing, kCrossProcessingType>;
const EffectRoutines& kFluorescent = RoutinesOf<Fluorescent, kFluorescentType>;
const EffectRoutines& kTemperature = RoutinesOf<Temperature, kTemperatureType>;
const EffectRoutines& kWarmCool = RoutinesOf<WarmCool, kWarmCoolType>;

}  // namespace fx::effects
