// The light effects that work pixel by pixel or through the glow: Streaks,
// Flashing and the two reflectors.
#include "effects/light_effects.h"

#include <algorithm>
#include <cstdint>
#include <span>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/diffusion_common.h"
#include "effects/gel_catalogue_tables.h"
#include "effects/glow.h"
#include "effects/selection_matte.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"

namespace fx::effects {
namespace {

// ------------------------------------------------------------------ Streaks

inline constexpr auto kStreaksParams =
    Join(Rows({
             Image("background", "Background"),
             List("view", "View", kOutputSelectionOriginal),
             Group("glow", "Streaks"),
             List("glowBlend", "Blend", kGlowBlendItems, 0),
             Range("glowBrightness", "Brightness", 0, 800, 200).Flags(kPrincipal),
             Range("glowHBlur", "Horizontal Streaks", 0, 1000, 0),
             Range("glowVBlur", "Vertical Streaks", 0, 1000, 400),
             Colour("glowColor", "Color", kWhite),
             End(),
         }),
         MatteGroup({.position = 100, .range = 80}));
static_assert(kStreaksParams.size() == 14);
static_assert(ValidTable(kStreaksParams));

// The "Spread" glow of the highlight matte with separate horizontal and
// vertical lengths: long blurs in one direction draw streaks.
class Streaks final : public Effect {
 public:
  static consteval int Key(std::string_view key) { return RowOf(kStreaksParams, key); }
  enum View { kOutput, kSelection, kOriginal };
  static constexpr MatteParams kMatte{RowOf(kStreaksParams, "mattePosition")};
  static constexpr MatteViews kMatteViews{kOriginal, kSelection};
  using Effect::Effect;

  bool IsActive() const {
    const int32_t view = ListIndex(Key("view"));
    return view == kOutput ? Brightness() > 0 : view != kOriginal;
  }

  // The light of a pixel comes from the whole reach of the glow's box passes
  // around matte values, each of which reaches as far again into the source.
  void ExpandRect(RenderInfo& info, Rect& rect) {
    Grow(rect, MatteGlowMargins(info, kMatte.Read(*this), Glow(info)));
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    const double brightness = Brightness();
    RasterRef matte;
    if (kMatteViews.Render(ListIndex(Key("view")), brightness > 0, matte_, kMatte.Read(*this), source, info,
                           matte))
      return;
    CopyArea(source, *info.destination, info.area);
    if (brightness > 0) fx::Glow(*info.destination, *matte, info.area, Glow(info), info);
  }

 private:
  double Brightness() const { return Percent(Key("glowBrightness")); }

  GlowSettings Glow(const RenderInfo& info) const {
    GlowSettings s;
    s.blurX = HorizontalPixels(info, RangeValue(Key("glowHBlur")));
    s.blurY = VerticalPixels(info, RangeValue(Key("glowVBlur")));
    s.brightness = Brightness();
    s.mode = GlowMode::kSpread;
    s.blend = ListIndex(Key("glowBlend")) == 1 ? GlowBlend::kAdd : GlowBlend::kScreen;
    s.colour = ColourValue(Key("glowColor"));
    return s;
  }

  SelectionMatte matte_;
};
inline constexpr EffectType kStreaksType = catalogue::Type("Streaks", kStreaksParams, 0);

// ----------------------------------------------------------------- Flashing

inline constexpr const char* kFlashingViews[] = {"Output", "Shadows", "Highlights", "Original"};
// Light lifts the shadows; hColor's complement pulls the highlights down, so
// black pulls them down neutrally.
inline constexpr Rgb kShadowsColour = kWhite;
inline constexpr Rgb kHighlightsColour = kBlack;

inline constexpr auto kFlashingParams = Rows({
    Image("input", "Input"),
    List("view", "View", kFlashingViews),
    Group("shadows", "Shadows"),
    Range("sBrightness", "Brightness", 0, 100, 0),
    List("sPresets", "Presets", gels::kPhotoFiltersPresets, 0).Flags(kNotify),
    Colour("sColor", "Color", kShadowsColour),
    Range("sPos", "Position", 0, 100, 0),
    Range("sRange", "Range", 0, 100, 80),
    End(),
    Group("highlights", "Highlights"),
    Range("hBrightness", "Brightness", 0, 100, 0),
    List("hPresets", "Presets", gels::kPhotoFiltersPresets, 0).Flags(kNotify),
    Colour("hColor", "Color", kHighlightsColour),
    Range("hPos", "Position", 0, 100, 100),
    Range("hRange", "Range", 0, 100, 80),
    End(),
});
static_assert(ValidTable(kFlashingParams));

// The colour of a preset list whose entry i > 0 is catalogue row i - 1 and
// whose entry 0, "Custom", is the colour parameter.
Rgb PresetColour(const Effect& e, int presets, int colour, std::span<const gels::GelRow> rows) {
  const int32_t i = e.ListIndex(presets);
  if (i <= 0 || i > static_cast<int32_t>(rows.size())) return e.ColourValue(colour);
  const gels::GelRow& row = rows[static_cast<std::size_t>(i - 1)];
  return {row.red, row.green, row.blue};
}

// A weight table shown as grey: (W[Y], W[Y], W[Y], full scale) for the
// luminance Y of each source pixel.
template <class S>
void ShowWeight(const Raster& source, Raster& destination, const Rect& rect, std::span<const S> weight) {
  ParallelRows(rect.top, rect.bottom, 4 * int64_t{rect.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
    for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
      const S* p = source.RowAs<S>(y) + 4 * rect.left;
      S* d = destination.RowAs<S>(y) + 4 * rect.left;
      for (int32_t x = rect.left; x < rect.right; ++x, p += 4, d += 4) {
        d[0] = d[1] = d[2] = weight[std::min(Depth<S>::Luminance(p[0], p[1], p[2]), Depth<S>::L)];
        d[3] = static_cast<S>(Depth<S>::L);
      }
    }
  });
}

// Shadows lifted towards a colour and highlights pulled down by the
// complement of another, each weighted by a tonal band of the luminance.
class Flashing final : public Effect {
 public:
  static consteval int Key(std::string_view key) { return RowOf(kFlashingParams, key); }
  enum View { kOutput, kShadowsView, kHighlightsView, kOriginal };
  using Effect::Effect;

  bool IsActive() const {
    const int32_t view = ListIndex(Key("view"));
    if (view == kOutput) return RangeValue(Key("sBrightness")) > 0 || RangeValue(Key("hBrightness")) > 0;
    return view != kOriginal;
  }

  void ParameterChanged(int32_t index) {
    if (index == Key("sPresets")) SetEnabled(Param(Key("sColor")), ListIndex(index) == 0);
    if (index == Key("hPresets")) SetEnabled(Param(Key("hColor")), ListIndex(index) == 0);
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const int32_t view = ListIndex(Key("view"));
    WithDepth(d.Is16Bit(), [&]<class S>() {
      const std::span<const S> shadows = shadows_.Table<S>(Percent(Key("sPos")), Percent(Key("sRange")));
      const std::span<const S> highlights =
          highlights_.Table<S>(Percent(Key("hPos")), Percent(Key("hRange")));
      if (view == kShadowsView) return ShowWeight<S>(source, d, info.area, shadows);
      if (view == kHighlightsView) return ShowWeight<S>(source, d, info.area, highlights);
      CopyArea(source, d, info.area);
      if (view == kOriginal) return;
      Flash<S>(d, info.area, shadows, highlights);
    });
  }

 private:
  template <class S>
  void Flash(Raster& d, const Rect& rect, std::span<const S> shadows, std::span<const S> highlights) const {
    constexpr int32_t L = Depth<S>::L;
    const double s = Percent(Key("sBrightness"));
    const double h = Percent(Key("hBrightness"));
    const Rgb cs = PresetColour(*this, Key("sPresets"), Key("sColor"), gels::kPhotoFiltersRows);
    const Rgb ch = PresetColour(*this, Key("hPresets"), Key("hColor"), gels::kPhotoFiltersRows);
    const double lift[3] = {cs.r * s, cs.g * s, cs.b * s};
    const double pull[3] = {(1 - ch.r) * h, (1 - ch.g) * h, (1 - ch.b) * h};
    ParallelRows(rect.top, rect.bottom, 8 * int64_t{rect.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
      for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
        S* p = d.RowAs<S>(y) + 4 * rect.left;
        for (int32_t x = rect.left; x < rect.right; ++x, p += 4) {
          // Both weights come from the source's luminance, before the lift.
          const int32_t lum = std::min(Depth<S>::Luminance(p[0], p[1], p[2]), L);
          const double ws = shadows[lum], wh = highlights[lum];
          if (s != 0 && ws != 0)
            for (int c = 0; c < 3; ++c)
              p[c] =
                  static_cast<S>(std::min<int64_t>(L, p[c] + static_cast<int64_t>(ws / L * p[c] * lift[c])));
          if (h != 0 && wh != 0)
            for (int c = 0; c < 3; ++c)
              p[c] = static_cast<S>(
                  std::max<int64_t>(0, p[c] - static_cast<int64_t>(pull[c] * (wh / L * p[c]))));
        }
      }
    });
  }

  TonalSelector shadows_;
  TonalSelector highlights_;
};
inline constexpr EffectType kFlashingType = catalogue::Type("Flashing", kFlashingParams, 0);

// --------------------------------------------------------------- Reflectors

// Gold is the module's warming colour.
inline constexpr Rgb kSilver = kWhite;
inline constexpr Rgb kGold{255 / 255.0, 203 / 255.0, 121 / 255.0};

constexpr std::array<ParamSpec, 6> ReflectorParams(Rgb colour) {
  return Rows({
      Image("background", "Background"),
      List("view", "View", kOutputSelectionOriginal),
      Range("brightness", "Brightness", 0, 500, 50),
      Colour("color", "Color", colour),
      Range("position", "Position", 0, 100, 0),
      Range("range", "Range", 0, 100, 80),
  });
}
inline constexpr auto kSilverReflectorParams = ReflectorParams(kSilver);
inline constexpr auto kGoldReflectorParams = ReflectorParams(kGold);
static_assert(ValidTable(kSilverReflectorParams));
static_assert(ValidTable(kGoldReflectorParams));

// The selected light of the image added back to it, tinted and scaled: the
// fill of a reflector held towards the subject.
class Reflector final : public Effect {
 public:
  static consteval int Key(std::string_view key) { return RowOf(kSilverReflectorParams, key); }
  enum View { kOutput, kSelection, kOriginal };
  static constexpr MatteViews kMatteViews{kOriginal, kSelection};
  using Effect::Effect;

  // At brightness 0 even the Selection view passes the source through.
  bool IsActive() const { return ListIndex(Key("view")) != kOriginal && RangeValue(Key("brightness")) > 0; }

  void BeginRender(RenderInfo&) {
    matte_.extractOn = ExtractOn::kLuminance;
    matte_.centre = Percent(Key("position"));
    matte_.width = RangeValue(Key("range")) * 0.02;
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const double b = Percent(Key("brightness"));
    RasterRef matte;
    if (kMatteViews.Render(ListIndex(Key("view")), b > 0, builder_, matte_, source, info, matte)) return;
    CopyArea(source, d, info.area);
    if (b <= 0) return;
    const Rgb c = ColourValue(Key("color"));
    const double k[3] = {c.r * b, c.g * b, c.b * b};
    WithDepth(d.Is16Bit(), [&]<class S>() { Reflect<S>(d, *matte, info.area, k); });
  }

 private:
  template <class S>
  static void Reflect(Raster& d, const Raster& matte, const Rect& rect, const double (&k)[3]) {
    constexpr int64_t L = Depth<S>::L;
    ParallelRows(rect.top, rect.bottom, 4 * int64_t{rect.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
      for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
        const S* m = matte.RowAs<S>(y) + rect.left;
        S* p = d.RowAs<S>(y) + 4 * rect.left;
        for (int32_t x = rect.left; x < rect.right; ++x, ++m, p += 4) {
          const int64_t a = *m;
          if (a == 0) continue;
          for (int c = 0; c < 3; ++c) {
            const int64_t s = p[c];
            const int64_t light = sizeof(S) == 1 ? a * s / 255 : (a * s) >> 15;
            p[c] = static_cast<S>(std::min<int64_t>(L, s + static_cast<int64_t>(light * k[c])));
          }
        }
      }
    });
  }

  MatteSettings matte_;
  SelectionMatte builder_;
};
inline constexpr EffectType kSilverReflectorType =
    catalogue::Type("SilverReflector", kSilverReflectorParams, 0);
inline constexpr EffectType kGoldReflectorType = catalogue::Type("GoldReflector", kGoldReflectorParams, 0);

}  // namespace

const EffectRoutines& kStreaks = RoutinesOf<Streaks, kStreaksType>;
const EffectRoutines& kFlashing = RoutinesOf<Flashing, kFlashingType>;
const EffectRoutines& kSilverReflector = RoutinesOf<Reflector, kSilverReflectorType>;
const EffectRoutines& kGoldReflector = RoutinesOf<Reflector, kGoldReflectorType>;

}  // namespace fx::effects
