// Colour and tone effects that work by tonal zone or tint: Selective
// Saturation, Ultra Contrast, Ozone, Tint and Mono Tint.
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
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/tone_curve.h"

namespace fx::effects {
namespace {

using namespace tone;

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

}  // namespace

const EffectRoutines& kMonoTint = RoutinesOf<MonoTint, kMonoTintType>;
const EffectRoutines& kOzone = RoutinesOf<Ozone, kOzoneType>;
const EffectRoutines& kSelectiveSaturation = RoutinesOf<SelectiveSaturation, kSelectiveSaturationType>;
const EffectRoutines& kUltraContrast = RoutinesOf<UltraContrast, kUltraContrastType>;
const EffectRoutines& kTint = RoutinesOf<Tint, kTintType>;

}  // namespace fx::effects
