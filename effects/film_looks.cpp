// Film looks: film grain with a catalogue of stocks, telecine lift/gamma/gain
// grading, exposure changes per tonal range in stops or printer points, and
// the selection matte generator.
#include "effects/film_looks.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <vector>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/param_groups.h"
#include "effects/selection_matte.h"
#include "imaging/film_grain.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/tone_curve.h"

namespace fx::effects {
namespace {

// The stored defaults of the band ranges: 0.8 and 0.4 in single precision,
// times 100.
inline constexpr double kWideRange = 80.0000011920929;
inline constexpr double kNarrowRange = 40.00000059604645;

// A band weight shown as grey: (W[Y], W[Y], W[Y], full scale) for the
// luminance Y of each source pixel. Table indexes are kept within full scale
// wherever a stray 16-bit sample above it could reach them.
template <class S>
void ShowBand(const Raster& source, Raster& destination, const Rect& rect, std::span<const S> weight) {
  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    const S* p = source.RowAs<S>(y) + 4 * rect.left;
    S* d = destination.RowAs<S>(y) + 4 * rect.left;
    for (int32_t x = rect.left; x < rect.right; ++x, p += 4, d += 4) {
      d[0] = d[1] = d[2] = weight[std::min(Depth<S>::Luminance(p[0], p[1], p[2]), Depth<S>::L)];
      d[3] = static_cast<S>(Depth<S>::L);
    }
  }
}

// The TonalBand table of (centre, width) at the render's depth, as grey.
void ShowBand(TonalSelector& bands, const Raster& source, Raster& destination, const Rect& rect,
              double centre, double width) {
  WithDepth(destination.Is16Bit(),
            [&]<class S>() { ShowBand<S>(source, destination, rect, bands.Table<S>(centre, width)); });
}

// --------------------------------------------------------------------- Grain

// A film stock: monochrome or not, then size, amount (percent) and softness
// per channel R, G, B.
struct GrainPreset {
  const char* name;
  bool monochrome;
  std::array<double, 3> size, amount, softness;
};

// Row 0 stands for the parameters themselves.
inline constexpr GrainPreset kGrainPresets[] = {
    {"Custom", false, {1, 1, 1}, {25, 25, 25}, {0, 0, 0}},
    {"Basic", false, {1, 1, 1}, {15, 15, 15}, {0, 0, 0}},
    {"Basic Monochrome", true, {1, 1, 1}, {25, 15, 15}, {0, 0, 0}},
    {"Big", false, {2, 2, 2}, {50, 50, 50}, {0, 0, 0}},
    {"Big Monochrome", true, {1.5, 2, 2}, {75, 50, 50}, {0, 0, 0}},
    {"Heavy", false, {1, 1, 1}, {50, 50, 50}, {0, 0, 0}},
    {"Heavy Monochrome", true, {1, 1, 1}, {75, 50, 50}, {0, 0, 0}},
    {"25ASA", false, {1, 1, 1}, {10, 10, 10}, {0, 0, 0}},
    {"5245 50ASA", false, {1, 1, 1}, {10, 10, 30}, {0.1, 0.1, 0.3}},
    {"100ASA", false, {1, 1, 1}, {13, 13, 13}, {0.1, 0.1, 0.3}},
    {"5247 100ASA", false, {1, 1, 1}, {30, 30, 40}, {0.2, 0.2, 0.2}},
    {"5248 100ASA", false, {1, 1, 1}, {22, 10, 25}, {0.1, 0.1, 0.2}},
    {"5254 100ASA", false, {1, 1, 1}, {22, 10, 25}, {0.6, 0.6, 0.6}},
    {"5274 200ASA", false, {1, 1, 1}, {12, 15, 27}, {0.2, 0.1, 0.2}},
    {"5287 200ASA", false, {1, 1, 1}, {50, 40, 90}, {0.3, 0.3, 0.3}},
    {"5293 200ASA", false, {1, 1, 1}, {35, 35, 55}, {0.4, 0.4, 0.4}},
    {"SFX 200", false, {1, 1, 1}, {25, 17, 35}, {0.2, 0.2, 0.3}},
    {"5246 250ASA", false, {1, 1, 1}, {20, 16, 20}, {0.1, 0.2, 0.3}},
    {"5277 320ASA", false, {1, 1, 1}, {15, 16, 33}, {0.1, 0.2, 0.3}},
    {"5294 400ASA", false, {1, 1, 1}, {15, 14, 30}, {0.1, 0.1, 0.2}},
    {"400ASA", false, {1, 1, 1}, {20, 20, 20}, {0, 0, 0}},
    {"5279 500ASA", false, {1, 1, 1}, {22, 20, 50}, {0.1, 0.2, 0.3}},
    {"5284 500ASA", false, {1, 1, 1}, {13, 22, 43}, {0.1, 0.2, 0.3}},
    {"5289 800ASA", false, {1, 1, 1}, {25, 25, 55}, {0.2, 0.2, 0.4}},
    {"5296 500ASA", false, {1, 1, 1}, {25, 22, 48}, {0.1, 0.1, 0.3}},
    {"5298 500ASA", false, {1, 1, 1}, {33, 30, 70}, {0.7, 0.7, 0.8}},
    {"800ASA", false, {1, 1, 1}, {28, 28, 28}, {0, 0, 0}},
    {"1600ASA", false, {1, 1, 1}, {38, 38, 38}, {0, 0, 0}},
};
inline constexpr int32_t kGrainPresetCount = static_cast<int32_t>(std::size(kGrainPresets));
static_assert(kGrainPresetCount == 28);

inline constexpr auto kGrainPresetNames = [] {
  std::array<const char*, std::size(kGrainPresets)> names{};
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = kGrainPresets[i].name;
  return names;
}();

inline constexpr const char* kOutputOriginal[] = {"Output", "Original"};

// The grain group runs to the end of the table: 17 records, as the settings
// blocks and presets of this effect hold them.
inline constexpr ParamSpec kGrainParams[] = {
    Image("input", "Input"),
    List("view", "View", kOutputOriginal),
    List("preset", "Presets", kGrainPresetNames).Flags(kNotify | 0x200),
    Group("grainGroup", "Grain"),
    Bool("grainMono", "Monochrome", false).Flags(kNotify),
    Range("grainSizeRed", "Red Size", 1, 10, 1).Flags(kWholeNumbers),
    Range("grainSizeGrn", "Green Size", 1, 10, 1).Flags(kWholeNumbers),
    Range("grainSizeBlu", "Blue Size", 1, 10, 1).Flags(kWholeNumbers),
    Range("grainAmountRed", "Red Amount", 0, 100, 25),
    Range("grainAmountGrn", "Green Amount", 0, 100, 25),
    Range("grainAmountBlu", "Blue Amount", 0, 100, 25),
    Range("grainSoftnessRed", "Red Softness", 0, 10, 0),
    Range("grainSoftnessGrn", "Green Softness", 0, 10, 0),
    Range("grainSoftnessBlu", "Blue Softness", 0, 10, 0),
    Range("grainResponsePos", "Response Position", 0, 100, 50),
    Range("grainResponseRange", "Response Range", 0, 100, 80),
    Range("grainResponseMin", "Response Minimum", 0, 100, 20),
};
static_assert(ValidTable(kGrainParams, LastGroup::MayRunToEnd));

// Film grain from a stock preset or from its own parameters. Grain reads no
// source pixel beyond the one it changes, so it needs no margins; its one-
// pixel noise follows the tile index, the same tiling giving the same grain.
class Grain final : public Effect {
 public:
  enum {
    kInput,
    kView,
    kPreset,
    kGroup,
    kMono,
    kSize,  // red, green, blue
    kAmount = kSize + 3,
    kSoftness = kAmount + 3,
    kResponsePos = kSoftness + 3,
    kResponseRange,
    kResponseMin,
  };
  enum View { kOutput, kOriginal };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }

  // An instance the registry holds takes a chosen stock into its parameters
  // and keeps them all editable; any other instance renders the stock's
  // record and leaves the parameters to "Custom".
  void ParameterChanged(int index) {
    const int32_t preset = PresetIndex();
    if (HeldByRegistry() && index == kPreset && preset > 0) {
      const GrainPreset& p = kGrainPresets[preset];
      SetBoolean(Param(kMono), p.monochrome);
      for (int c = 0; c < 3; ++c) {
        SetRange(Param(kSize + c), p.size[c]);
        SetRange(Param(kAmount + c), p.amount[c]);
        SetRange(Param(kSoftness + c), p.softness[c]);
      }
    }
    const bool editable = HeldByRegistry() || preset == 0;
    const bool mono = BooleanValue(kMono);
    SetEnabled(Param(kMono), editable);
    for (int c = 0; c < 3; ++c) {
      const bool on = editable && (c == 0 || !mono);
      SetEnabled(Param(kSize + c), on);
      SetEnabled(Param(kAmount + c), on);
      SetEnabled(Param(kSoftness + c), on);
    }
  }

  void BeginRender(RenderInfo&) {
    const GrainPreset v = Values();
    grain_.SetSizes(v.size[0], v.size[1], v.size[2]);
    grain_.SetSoftness(v.softness[0], v.softness[1], v.softness[2]);
    grain_.SetAmounts(v.amount[0], v.amount[1], v.amount[2]);
    grain_.SetResponse(RangeValue(kResponsePos), RangeValue(kResponseRange), RangeValue(kResponseMin));
  }

  void Render(RenderInfo& info) {
    Raster& d = *info.destination;
    CopyArea(*Source(), d, info.area);
    if (ListIndex(kView) != kOutput) return;
    grain_.SetScale(info.scaleX, info.scaleY);
    grain_.SetPasses(info.reserved2);
    // A monochrome stock renders monochrome whatever the switch says.
    const bool mono = kGrainPresets[PresetIndex()].monochrome || BooleanValue(kMono);
    grain_.Render(d, info.area, GrainTileOf(info), mono);
  }

 private:
  bool HeldByRegistry() const { return (flags & kHeldByRegistry) != 0; }
  int32_t PresetIndex() const { return std::clamp(ListIndex(kPreset), 0, kGrainPresetCount - 1); }

  // The stock's record when one is chosen and the instance is not the
  // registry's; otherwise the parameters.
  GrainPreset Values() const {
    const int32_t preset = PresetIndex();
    if (preset > 0 && !HeldByRegistry()) return kGrainPresets[preset];
    GrainPreset v{"", BooleanValue(kMono), {}, {}, {}};
    for (int c = 0; c < 3; ++c) {
      v.size[c] = RangeValue(kSize + c);
      v.amount[c] = RangeValue(kAmount + c);
      v.softness[c] = RangeValue(kSoftness + c);
    }
    return v;
  }

  FilmGrain grain_;
};
inline constexpr EffectType kGrainType = catalogue::Type("Grain", kGrainParams, 0);

// ------------------------------------------------------------------ Telecine

inline constexpr const char* kTelecineViews[] = {"Output", "Lift", "Gamma", "Gain", "Original"};

inline constexpr ParamSpec kTelecineParams[] = {
    Image("input", "Input"),
    List("view", "View", kTelecineViews),
    Group("masterGroup", "Master", true).Flags(kRedMark),
    Range("masterMasterHue", "Hue", -360, 360, 0),
    Range("masterMasterSat", "Saturation", -100, 100, 0),
    Range("masterBrightness", "Brightness", -100, 100, 0),
    Range("masterContrast", "Contrast", -100, 100, 0),
    Range("masterGamma", "Gamma", -100, 100, 0),
    Range("masterPedestal", "Pedestal", -100, 100, 0),
    End(),
    Group("liftGroup", "Lift", true).Flags(kRedMark),
    Range("liftPos", "Position", 0, 100, 0),
    Range("liftRange", "Range", 0, 100, kWideRange),
    Range("liftLiftHue", "Hue", -360, 360, 0),
    Range("liftLiftSat", "Saturation", -100, 100, 0),
    Range("liftBrightness", "Brightness", -100, 100, 0),
    Range("liftContrast", "Contrast", -100, 100, 0),
    Range("liftGamma", "Gamma", -100, 100, 0),
    Range("liftPedestal", "Pedestal", -100, 100, 0),
    End(),
    Group("gammaGroup", "Gamma", true).Flags(kRedMark),
    Range("gammaPos", "Position", 0, 100, 50),
    Range("gammaRange", "Range", 0, 100, kNarrowRange),
    Range("gammaGammaHue", "Hue", -360, 360, 0),
    Range("gammaGammaSat", "Saturation", -100, 100, 0),
    Range("gammaBrightness", "Brightness", -100, 100, 0),
    Range("gammaContrast", "Contrast", -100, 100, 0),
    Range("gammaGamma", "Gamma", -100, 100, 0),
    Range("gammaPedestal", "Pedestal", -100, 100, 0),
    End(),
    Group("gainGroup", "Gain", true).Flags(kRedMark),
    Range("gainPos", "Position", 0, 100, 100),
    Range("gainRange", "Range", 0, 100, kWideRange),
    Range("gainGainHue", "Hue", -360, 360, 0),
    Range("gainGainSat", "Saturation", -100, 100, 0),
    Range("gainBrightness", "Brightness", -100, 100, 0),
    Range("gainContrast", "Contrast", -100, 100, 0),
    Range("gainGamma", "Gamma", -100, 100, 0),
    Range("gainPedestal", "Pedestal", -100, 100, 0),
    End(),
};
static_assert(ValidTable(kTelecineParams));
static_assert(std::size(kTelecineParams) == 40);

// Lift, gamma and gain grading: a master tone shape, then per tonal band a
// tone shape, hue shift and saturation weighted by the band, all folded into
// one tone table and two HSV tables indexed by luminance.
class Telecine final : public Effect {
 public:
  enum { kInput, kView, kMasterHue = 3, kLiftPos = 11, kGammaPos = 21, kGainPos = 31 };
  enum View { kOutput, kLift, kGamma, kGain, kOriginal };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }

  void BeginRender(RenderInfo& info) {
    bool changed = false;
    const Grading now[4] = {ReadMaster(), ReadBand(kLiftPos), ReadBand(kGammaPos), ReadBand(kGainPos)};
    for (int r = 0; r < 4; ++r) {
      if (!(now[r] == kept_[r])) {
        kept_[r] = now[r];
        changed = true;
      }
    }
    hsvActive_ = false;
    for (const Grading& g : kept_) hsvActive_ = hsvActive_ || g.hue != 0 || g.saturation != 0;
    const std::size_t entries = info.is16Bit ? Depth16::kTableSize : Depth8::kTableSize;
    if (hue_.size() != entries || changed) WithDepth(info.is16Bit, [&]<class S>() { Build<S>(); });
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const int32_t view = ListIndex(kView);
    if (view == kOriginal) {
      CopyArea(source, d, info.area);
      return;
    }
    if (view != kOutput) {
      const int first = view == kLift ? kLiftPos : view == kGamma ? kGammaPos : kGainPos;
      ShowBand(bandView_, source, d, info.area, Percent(first), Percent(first + 1));
      return;
    }
    CopyArea(source, d, info.area);
    WithDepth(d.Is16Bit(), [&]<class S>() {
      if (hue_.size() != static_cast<std::size_t>(Depth<S>::kTableSize)) Build<S>();
      Grade<S>(d, info.area);
    });
  }

 private:
  // One grading record; every value but the hue is a fraction.
  struct Grading {
    double position = 0, range = 0, hue = 0, saturation = 0, brightness = 0, contrast = 0, gamma = 0,
           pedestal = 0;
    friend bool operator==(const Grading&, const Grading&) = default;
  };

  Grading ReadMaster() const {
    Grading g;
    g.hue = RangeValue(kMasterHue);
    g.saturation = RangeValue(kMasterHue + 1) / 100;
    g.brightness = RangeValue(kMasterHue + 2) / 100;
    g.contrast = RangeValue(kMasterHue + 3) / 100;
    g.gamma = RangeValue(kMasterHue + 4) / 100;
    g.pedestal = RangeValue(kMasterHue + 5) / 100;
    return g;
  }
  Grading ReadBand(int first) const {
    Grading g;
    g.position = RangeValue(first) / 100;
    g.range = RangeValue(first + 1) / 100;
    g.hue = RangeValue(first + 2);
    g.saturation = RangeValue(first + 3) / 100;
    g.brightness = RangeValue(first + 4) / 100;
    g.contrast = RangeValue(first + 5) / 100;
    g.gamma = RangeValue(first + 6) / 100;
    g.pedestal = RangeValue(first + 7) / 100;
    return g;
  }

  // The record's tone shape with its pedestal added, clamped.
  template <class S>
  static std::vector<S> ShapeTable(const Grading& g) {
    constexpr int32_t L = Depth<S>::L;
    std::vector<S> t = ToneShapeTable<S>(g.brightness, g.contrast, g.gamma);
    const int32_t pedestal = static_cast<int32_t>(g.pedestal * L);
    for (S& v : t) v = Depth<S>::Clamp(int64_t{v} + pedestal);
    return t;
  }

  template <class S>
  void Build() {
    constexpr int32_t L = Depth<S>::L;
    constexpr bool k16 = sizeof(S) == 2;
    constexpr double step = k16 ? 0.000030517578125 : 0.00392156862745098;
    constexpr double weight = k16 ? 0.000030517578125 : 0.003921569;
    const Grading& master = kept_[0];
    const std::vector<S> m = ShapeTable<S>(master);
    std::vector<S> w[3], c[3];
    for (int b = 0; b < 3; ++b) {
      w[b] = CurveTable<S>(TonalBand(kept_[b + 1].position, kept_[b + 1].range));
      c[b] = ShapeTable<S>(kept_[b + 1]);
    }
    tone_.assign(Depth<S>::kTableSize, 0);
    hue_.assign(Depth<S>::kTableSize, 0.0f);
    saturation_.assign(Depth<S>::kTableSize, 0.0f);
    for (int32_t i = 0; i <= L; ++i) {
      const int32_t mi = m[i];
      const double u = i * step;
      double shift = 0, hue = 0, saturation = 0;
      for (int b = 0; b < 3; ++b) {
        const Grading& g = kept_[b + 1];
        shift += (c[b][mi] - i) * weight * w[b][mi];
        hue += w[b][mi] * g.hue * weight;
        saturation += w[b][mi] * g.saturation * weight;
      }
      tone_[i] = Depth<S>::Clamp(static_cast<int64_t>(mi + u * shift));
      hue_[i] = static_cast<float>(std::fmod(master.hue + hue, 360.0));
      saturation_[i] = static_cast<float>(std::fmod(master.saturation + saturation, 360.0));
    }
  }

  // d holds the source's copy; the hue and saturation of each pixel follow
  // its luminance, then the tone table.
  template <class S>
  void Grade(Raster& d, const Rect& rect) const {
    constexpr int32_t L = Depth<S>::L;
    ForRows(rect, 16, [&](int32_t y) {
      S* q = d.RowAs<S>(y) + 4 * rect.left;
      if (hsvActive_) AdjustHueSaturationByLuminance(q, rect.Width(), hue_.data(), saturation_.data());
      const int32_t* tone = tone_.data();
      for (int32_t x = rect.left; x < rect.right; ++x, q += 4)
        for (int k = 0; k < 3; ++k) q[k] = static_cast<S>(tone[std::min<int32_t>(q[k], L)]);
    });
  }

  Grading kept_[4];
  bool hsvActive_ = false;
  std::vector<int32_t> tone_;
  std::vector<float> hue_;
  std::vector<float> saturation_;
  TonalSelector bandView_;
};
inline constexpr EffectType kTelecineType = catalogue::Type("Telecine", kTelecineParams, 0);

// ------------------------------------------------------ F-Stop, Printer Points

// What tells the two exposure effects apart: the range and neutral value of
// every exposure parameter, and k, the stops per unit of exposure.
struct ExposureScale {
  double minimum;
  double maximum;
  double neutral;
  float k;
};
inline constexpr ExposureScale kStops{-5, 5, 0, 1.0f};
// Twelve printer points darken by one stop.
inline constexpr ExposureScale kPrinterPointsScale{-25, 75, 25, -0.0833333358168602f};

inline constexpr const char* kExposureViews[] = {"Output", "Shadows", "Midtones", "Highlights", "Original"};

constexpr std::array<ParamSpec, 32> ExposureParams(ExposureScale e) {
  const auto exposure = [&](const char* key, const char* label) {
    return Range(key, label, e.minimum, e.maximum, e.neutral);
  };
  return {
      Image("input", "Input"),
      List("view", "View", kExposureViews),
      Group("master", "Master", true).Flags(kRedMark),
      exposure("red", "Red Exposure"),
      exposure("green", "Green Exposure"),
      exposure("blue", "Blue Exposure"),
      Bool("gang", "Gang", false).Flags(kNotify),
      End(),
      Group("shadows", "Shadows", true),
      Range("sPos", "Position", 0, 100, 0),
      Range("sRange", "Range", 0, 100, kWideRange),
      exposure("sRed", "Red Exposure"),
      exposure("sGreen", "Green Exposure"),
      exposure("sBlue", "Blue Exposure"),
      Bool("sGang", "Gang", false).Flags(kNotify),
      End(),
      Group("midtones", "Midtones", true),
      Range("mPos", "Position", 0, 100, 50),
      Range("mRange", "Range", 0, 100, kNarrowRange),
      exposure("mRed", "Red Exposure"),
      exposure("mGreen", "Green Exposure"),
      exposure("mBlue", "Blue Exposure"),
      Bool("mGang", "Gang", false).Flags(kNotify),
      End(),
      Group("highlights", "Highlights", true),
      Range("hPos", "Position", 0, 100, 100),
      Range("hRange", "Range", 0, 100, kWideRange),
      exposure("hRed", "Red Exposure"),
      exposure("hGreen", "Green Exposure"),
      exposure("hBlue", "Blue Exposure"),
      Bool("hGang", "Gang", false).Flags(kNotify),
      End(),
  };
}
inline constexpr auto kFStopParams = ExposureParams(kStops);
inline constexpr auto kPrinterPointsParams = ExposureParams(kPrinterPointsScale);
static_assert(ValidTable(kFStopParams) && ValidTable(kPrinterPointsParams));

// Exposure per channel and tonal band, applied as gains in linear light.
template <const ExposureScale& K>
class Exposure final : public Effect {
 public:
  enum {
    kInput,
    kView,
    kMasterRed = 3,
    kMasterGang = 6,
    kShadowsPos = 9,
    kMidtonesPos = 17,
    kHighlightsPos = 25
  };
  enum View { kOutput, kShadows, kMidtones, kHighlights, kOriginal };
  // Parameter index of each group's red exposure: master, shadows, midtones,
  // highlights; the gang follows the blue one.
  static constexpr int kRed[4] = {kMasterRed, kShadowsPos + 2, kMidtonesPos + 2, kHighlightsPos + 2};
  using Effect::Effect;

  void ParameterChanged(int index) {
    for (int red : kRed) {
      if (index != red + 3) continue;
      const bool free = !BooleanValue(index);
      SetEnabled(Param(red + 1), free);
      SetEnabled(Param(red + 2), free);
    }
  }

  bool IsActive() const {
    switch (ListIndex(kView)) {
      case kOriginal:
        return false;
      case kOutput:
        for (const Offsets& o : ReadOffsets())
          for (double v : o)
            if (v != 0) return true;
        return false;
      default:
        return true;
    }
  }

  void BeginRender(RenderInfo&) {
    const std::array<Offsets, 4> offsets = ReadOffsets();
    const std::array<Band, 3> bands = ReadBands();
    if (built_ && offsets == offsets_ && bands == bands_) return;
    offsets_ = offsets;
    bands_ = bands;
    BuildGains();
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const int32_t view = ListIndex(kView);
    if (view == kOriginal) {
      CopyArea(source, d, info.area);
      return;
    }
    if (!built_) BeginRender(info);
    if (view != kOutput) {
      const Band& band = bands_[view - 1];
      ShowBand(bandView_, source, d, info.area, band.position, band.range);
      return;
    }
    Expose(source, d, info.area);
  }

 private:
  using Offsets = std::array<double, 3>;
  struct Band {
    double position = 0, range = 0;
    friend bool operator==(const Band&, const Band&) = default;
  };

  // Master, shadows, midtones, highlights: each channel's distance from the
  // neutral value, or the red one three times while the group is ganged.
  std::array<Offsets, 4> ReadOffsets() const {
    std::array<Offsets, 4> out{};
    for (int g = 0; g < 4; ++g) {
      const int red = kRed[g];
      const bool ganged = BooleanValue(red + 3);
      for (int c = 0; c < 3; ++c) out[g][c] = RangeValue(ganged ? red : red + c) - K.neutral;
    }
    return out;
  }
  std::array<Band, 3> ReadBands() const {
    std::array<Band, 3> out{};
    const int first[3] = {kShadowsPos, kMidtonesPos, kHighlightsPos};
    for (int b = 0; b < 3; ++b) out[b] = {Percent(first[b]), Percent(first[b] + 1)};
    return out;
  }

  void BuildGains() {
    std::vector<uint16_t> w[3];
    for (int b = 0; b < 3; ++b) w[b] = CurveTable<uint16_t>(TonalBand(bands_[b].position, bands_[b].range));
    const Offsets& master = offsets_[0];
    const Offsets& shadows = offsets_[1];
    const Offsets& midtones = offsets_[2];
    const Offsets& highlights = offsets_[3];
    for (int c = 0; c < 3; ++c) gain_[c].assign(Depth16::kTableSize, 1.0f);
    for (int32_t i = 0; i < Depth16::kTableSize; ++i) {
      const double ws = w[0][i] / 32768.0, wm = w[1][i] / 32768.0, wh = w[2][i] / 32768.0;
      for (int c = 0; c < 3; ++c) {
        const double e = K.k * (wh * highlights[c] + ws * shadows[c] + wm * midtones[c] + master[c]);
        gain_[c][i] = static_cast<float>(e < 0 ? 1.0 / std::exp2(-e) : std::exp2(e));
      }
    }
    built_ = true;
  }

  // The area in 16-bit linear light, each channel times its gain at the
  // pixel's linear luminance, back at the destination's depth, alpha as it
  // was. A 16-bit area is worked in the destination itself; the source is
  // never written.
  void Expose(const Raster& source, Raster& d, const Rect& area) const {
    RasterRef scratch;
    Raster* linear = &d;
    Rect rect = area;
    if (!d.Is16Bit()) {
      scratch = MakeRaster(area.Width(), area.Height(), 4, 2);
      linear = scratch.get();
      rect = {0, 0, area.Height(), area.Width()};
    }
    ToLinear(source, area, *linear, rect.left, rect.top);
    for (int32_t y = rect.top; y < rect.bottom; ++y) {
      uint16_t* p = linear->RowAs<uint16_t>(y) + 4 * rect.left;
      for (int32_t x = rect.left; x < rect.right; ++x, p += 4) {
        const int32_t luminance = Depth16::Luminance(p[0], p[1], p[2]);
        for (int c = 0; c < 3; ++c) p[c] = Depth16::Clamp(static_cast<int64_t>(gain_[c][luminance] * p[c]));
      }
    }
    FromLinear(*linear, rect, d, area.left, area.top);
    // Alpha is the source's: linear light would cost it levels at both ends.
    WithDepth(d.Is16Bit(), [&]<class S>() {
      for (int32_t y = area.top; y < area.bottom; ++y) {
        const S* p = source.RowAs<S>(y) + 4 * area.left;
        S* q = d.RowAs<S>(y) + 4 * area.left;
        for (int32_t x = area.left; x < area.right; ++x, p += 4, q += 4) q[3] = p[3];
      }
    });
  }

  bool built_ = false;
  std::array<Offsets, 4> offsets_{};
  std::array<Band, 3> bands_{};
  std::vector<float> gain_[3];
  TonalSelector bandView_;
};

inline constexpr EffectType kFStopType = catalogue::Type("FStop", kFStopParams, 0);
inline constexpr EffectType kPrinterPointsType = catalogue::Type("PrinterPoints", kPrinterPointsParams, 0);

// --------------------------------------------------------- Selection (matte)

inline constexpr const char* kMatteViews[] = {"Output", "Selection", "Original"};

inline constexpr auto kMatteGeneratorParams =
    Join(Rows({Image("matte", "Selection"), List("view", "View", kMatteViews)}), SelectionGroup({}));
static_assert(ValidTable(kMatteGeneratorParams));

// Extracts the selection matte and shows it: "Output" and "Selection" both
// give the matte as grey.
class MatteGenerator final : public Effect {
 public:
  enum { kMatte, kView, kSelection };
  enum View { kOutput, kShowSelection, kOriginal };
  static constexpr SelectionParams kGroup{kSelection};
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }
  void ParameterChanged(int index) { kGroup.ParameterChanged(*this, index); }
  void ExpandRect(RenderInfo& info, Rect& rect) {
    SelectionMatte::ExpandRect(info, kGroup.Read(*this), rect);
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    if (ListIndex(kView) == kOriginal) {
      CopyArea(source, *info.destination, info.area);
      return;
    }
    const RasterRef m = matte_.Build(source, info.area, info, kGroup.Read(*this));
    ShowMatte(*m, *info.destination, info.area);
  }

 private:
  SelectionMatte matte_;
};
inline constexpr EffectType kMatteGeneratorType = catalogue::Type("MatteGenerator", kMatteGeneratorParams, 0);

}  // namespace

const EffectRoutines& kGrain = RoutinesOf<Grain, kGrainType>;
const EffectRoutines& kTelecine = RoutinesOf<Telecine, kTelecineType>;
const EffectRoutines& kFStop = RoutinesOf<Exposure<kStops>, kFStopType>;
const EffectRoutines& kPrinterPoints = RoutinesOf<Exposure<kPrinterPointsScale>, kPrinterPointsType>;
const EffectRoutines& kMatteGenerator = RoutinesOf<MatteGenerator, kMatteGeneratorType>;

}  // namespace fx::effects
