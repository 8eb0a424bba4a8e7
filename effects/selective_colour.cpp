// The selection members of the selective colour family: Enhancing,
// Selective Color Correct and Polarizer, and the mix of a corrected copy
// through a matte they share.
#include "effects/selective_colour.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <type_traits>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/diffusion_common.h"
#include "effects/hue_selection.h"
#include "effects/param_groups.h"
#include "effects/selection_matte.h"
#include "effects/selective_colour_common.h"
#include "imaging/masks.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"

namespace fx {

void MixThroughMatte(const Raster& source, const Raster& corrected, const Raster& matte, Raster& destination,
                     const Rect& rect) {
  const Rect r = rect.Intersect(source.Bounds())
                     .Intersect(corrected.Bounds())
                     .Intersect(matte.Bounds())
                     .Intersect(destination.Bounds());
  WithDepth(destination.Is16Bit(), [&]<class S>() {
    // 8-bit products fit 32 bits; 16-bit samples may exceed full scale.
    using Wide = std::conditional_t<sizeof(S) == 1, int32_t, int64_t>;
    constexpr Wide L = Depth<S>::L;
    ForRows(r, 8, [&](int32_t y) {
      const S* s = source.RowAs<S>(y) + 4 * r.left;
      const S* c = corrected.RowAs<S>(y) + 4 * r.left;
      const S* m = matte.RowAs<S>(y) + r.left;
      S* d = destination.RowAs<S>(y) + 4 * r.left;
      for (int32_t x = r.left; x < r.right; ++x, s += 4, c += 4, ++m, d += 4) {
        const Wide k = *m;
        const S alpha = s[3];
        for (int ch = 0; ch < 3; ++ch) {
          const Wide from = s[ch];
          // C++ division truncates toward zero, as the mix wants.
          d[ch] = Depth<S>::Clamp(from + (c[ch] - from) * k / L);
        }
        d[3] = alpha;
      }
    });
  });
}

namespace effects {
namespace {

// ----------------------------------------------------------------- Enhancing

inline constexpr const char* kEnhancingPresetItems[] = {"Custom", "Red", "Green", "Blue"};
// The colour each preset stands for; "Custom" uses the "hue" parameter.
inline constexpr Rgb kEnhancingPresetColours[] = {{1, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
static_assert(std::size(kEnhancingPresetColours) == std::size(kEnhancingPresetItems));

// Marks a value written by the effect itself, for the dialog to show.
inline constexpr uint32_t kValueWritten = 0x20000000;

inline constexpr ParamSpec kEnhancingParams[] = {
    Image("background", "Background"),
    List("view", "View", kOutputSelectionOriginal),
    Range("enhancing", "Enhancing", 0, 100, 50),
    Group("matte", "Selection", true),
    List("preset", "Presets", kEnhancingPresetItems).Flags(kNotify),
    Colour("hue", "Hue", {1, 0, 0}),
    Range("matteRange", "Range", 0, 100, 30).Flags(kPrincipal),
    Range("matteBlur", "Blur", 0, 1000, 0),
    End(),
};
static_assert(ValidTable(kEnhancingParams));

// A saturation boost for the pixels of one hue. The matte is a gate: every
// pixel it touches gets the whole boost.
class Enhancing final : public Effect {
 public:
  static constexpr int kView = RowOf(kEnhancingParams, "view");
  static constexpr int kEnhancing = RowOf(kEnhancingParams, "enhancing");
  static constexpr int kPreset = RowOf(kEnhancingParams, "preset");
  static constexpr int kHue = RowOf(kEnhancingParams, "hue");
  static constexpr int kRange = RowOf(kEnhancingParams, "matteRange");
  static constexpr int kBlur = RowOf(kEnhancingParams, "matteBlur");
  enum View { kOutput, kSelectionView, kOriginal };
  using Effect::Effect;

  bool IsActive() const {
    const int32_t view = ListIndex(kView);
    return view == kSelectionView || (view == kOutput && RangeValue(kEnhancing) > 0);
  }

  // For an instance the registry holds, a preset is written into "hue",
  // which stays editable; otherwise "hue" is editable only while "Custom".
  void ParameterChanged(int32_t index) {
    if (index != kPreset) return;
    const int32_t preset = Preset();
    if ((flags & kHeldByRegistry) != 0) {
      if (preset > 0) {
        SetColour(Param(kHue), kEnhancingPresetColours[preset]);
        SetFlagBit(Param(kHue), kValueWritten, true);
      }
      SetEnabled(Param(kHue), true);
    } else {
      SetEnabled(Param(kHue), preset == 0);
    }
  }

  void ExpandRect(RenderInfo& info, Rect& rect) {
    if (IsActive()) rect = rect.Grown(HueSelection::ReachY(info, Blur()), HueSelection::ReachX(info, Blur()));
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    CopyArea(source, d, info.area);
    if (!IsActive()) return;
    const RasterRef matte = hue_.Build(source, info.area, info, Colour(), RangeValue(kRange) * 0.02, Blur());
    if (ListIndex(kView) == kSelectionView) {
      ShowMatte(*matte, d, info.area);
      return;
    }
    const Rect area = info.area.Intersect(d.Bounds());
    const float factor = static_cast<float>(1 + Percent(kEnhancing));
    WithDepth(d.Is16Bit(), [&]<class S>() {
      // Only pixels inside the selection; greys are left alone.
      ForRows(area, 16, [&](int32_t y) {
        AdjustHueSaturationRun(d.RowAs<S>(y) + 4 * area.left, area.Width(), 0.0f, factor,
                               matte->RowAs<S>(y) + area.left);
      });
    });
  }

  // The colour whose hue is selected: a preset's for every instance, else
  // "hue".
  Rgb Colour() const {
    const int32_t preset = Preset();
    return preset > 0 ? kEnhancingPresetColours[preset] : ColourValue(kHue);
  }

 private:
  int32_t Preset() const {
    return std::clamp<int32_t>(ListIndex(kPreset), 0, std::size(kEnhancingPresetItems) - 1);
  }
  double Blur() const { return RangeValue(kBlur); }

  HueSelection hue_;
};
inline constexpr EffectType kEnhancingType = catalogue::Type("Enhancing", kEnhancingParams, 0);

// ---------------------------------------------------- Selective Color Correct

inline constexpr auto kSelectiveColorParams =
    Join(Rows({Image("background", "Background"), List("view", "View", kOutputSelectionOriginal)}),
         CorrectionGroup("Color Correct", 0), Rows({Group("matte", "Selection", true)}), SelectionGroup({}),
         Rows({End()}));
static_assert(kSelectiveColorParams.size() == 27);
static_assert(ValidTable(kSelectiveColorParams));

// A colour correction confined to a selection: the corrected copy is mixed
// into the image through the selection matte.
class SelectiveColor final : public Effect {
 public:
  static constexpr int kView = RowOf(kSelectiveColorParams, "view");
  static constexpr CorrectionRows kCorrection{RowOf(kSelectiveColorParams, "hue")};
  static constexpr SelectionParams kSelection{RowOf(kSelectiveColorParams, "extractOn")};
  enum View { kOutput, kSelectionView, kOriginal };
  using Effect::Effect;

  bool IsActive() const {
    const int32_t view = ListIndex(kView);
    return view == kSelectionView || (view == kOutput && kCorrection.Any(*this));
  }
  void ParameterChanged(int32_t index) { kSelection.ParameterChanged(*this, index); }
  void ExpandRect(RenderInfo& info, Rect& rect) {
    if (IsActive()) SelectionMatte::ExpandRect(info, kSelection.Read(*this), rect);
  }

  // The band table of the render's depth is built once, before the bands.
  void BeginRender(RenderInfo& info) {
    if (!IsActive()) return;
    const MatteSettings s = kSelection.Read(*this);
    WithDepth(info.is16Bit, [&]<class S>() { matte_.Selector().Table<S>(s.centre, s.width); });
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    CopyArea(source, d, info.area);
    if (!IsActive() || info.IsCancelled()) return;
    const RasterRef matte = matte_.Build(source, info.area, info, kSelection.Read(*this));
    if (ListIndex(kView) == kSelectionView) {
      ShowMatte(*matte, d, info.area);
      return;
    }
    kCorrection.Apply(*this, d, info.area);
    MixThroughMatte(source, d, *matte, d, info.area);
  }

 private:
  SelectionMatte matte_;
};
inline constexpr EffectType kSelectiveColorType = catalogue::Type("SelectiveColor", kSelectiveColorParams, 0);

// ------------------------------------------------------------------ Polarizer

inline constexpr const char* kPolarizerViews[] = {"Output", "Selection", "Grad", "Sky", "Original"};

// "gradEnable" switches the rest of the Grad group; of the corners only "ul"
// is hidden.
inline constexpr auto kPolarizerParams =
    Join(Rows({Image("background", "Background"), List("view", "View", kPolarizerViews)}),
         CorrectionGroup("Sky", 50),
         Rows({
             Group("matte", "Selection"),
             Colour("matteColor", "Hue", {0, 0, 1}),
             Range("matteRange", "Range", 0, 100, 30),
             Range("matteBlur", "Blur", 0, 500, 0),
             End(),
             Group("Grad", "Grad"),
             GradEnableRow({.enableDefault = false}),
             Range("grad_opacity", "Opacity", 0, 100, 100),
             GradNdRow(),
         }),
         GradShapeRows({.hideAllCorners = false}), Rows({End()}));
static_assert(kPolarizerParams.size() == 29);
static_assert(ValidTable(kPolarizerParams));

// A correction of the sky: a hue selection, optionally confined to a grad,
// through which a corrected copy is mixed; the grad's ND darkens through
// the grad afterwards, as the gels' grad does.
class Polarizer final : public Effect {
 public:
  static constexpr int kView = RowOf(kPolarizerParams, "view");
  static constexpr CorrectionRows kCorrection{RowOf(kPolarizerParams, "hue")};
  static constexpr int kColour = RowOf(kPolarizerParams, "matteColor");
  static constexpr int kRange = RowOf(kPolarizerParams, "matteRange");
  static constexpr int kBlur = RowOf(kPolarizerParams, "matteBlur");
  static constexpr int kGradEnable = RowOf(kPolarizerParams, "gradEnable");
  static constexpr int kGradOpacity = RowOf(kPolarizerParams, "grad_opacity");
  static constexpr int kGradNd = RowOf(kPolarizerParams, "grad_nd");
  static constexpr int kDirection = RowOf(kPolarizerParams, "dir");
  enum View { kOutput, kSelectionView, kGradView, kSkyView, kOriginal };
  using Effect::Effect;

  bool IsActive() const {
    const int32_t view = ListIndex(kView);
    if (view == kOriginal) return false;
    return view != kOutput || kCorrection.Any(*this) || Darkening();
  }

  void ParameterChanged(int32_t index) {
    if (index == kGradEnable) EnableRestOfGroup(*this, kGradEnable, BooleanValue(kGradEnable));
  }

  void ExpandRect(RenderInfo& info, Rect& rect) {
    if (!IsActive()) return;
    const Margins m = Reach(info);
    rect = rect.Grown(m.y, m.x);
  }

  // The hue band table of the render's depth is built once, before the
  // bands.
  void BeginRender(RenderInfo& info) {
    const std::optional<double> centre = HueSelection::CentreOf(ColourValue(kColour));
    if (!IsActive() || !centre) return;
    WithDepth(info.is16Bit, [&]<class S>() { hue_.Table<S>(*centre, Width()); });
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    CopyArea(source, d, info.area);
    if (!IsActive() || info.IsCancelled()) return;
    const int32_t view = ListIndex(kView);
    const bool correcting = kCorrection.Any(*this);
    RasterRef matte;
    if (view == kSelectionView || view == kSkyView || (view == kOutput && correcting)) {
      matte = hue_.Build(source, info.area, info, ColourValue(kColour), Width(), RangeValue(kBlur));
      if (view == kSelectionView) {
        ShowMatte(*matte, d, info.area);
        return;
      }
    }
    RasterRef grad;
    if (BooleanValue(kGradEnable) || view == kGradView || view == kSkyView) {
      if (info.IsCancelled()) return;
      grad = MakeRaster(d.Width(), d.Height(), 1, d.BytesPerSample());
      grad->Fill(0);  // a degenerate quadrilateral leaves nothing selected
      const Margins m = Reach(info);
      MakeGradMask(*grad, info.area, TileOrigin(info, m.x, m.y), ReadGradShape(*this, kDirection),
                   info.imageWidth, info.imageHeight);
      if (view == kGradView) {
        ShowMatte(*grad, d, info.area);
        return;
      }
      if (matte) MultiplyThroughGrad(*matte, *grad, info.area);
    }
    if (view == kSkyView) {
      ShowMatte(*matte, d, info.area);
      return;
    }
    if (correcting) {
      kCorrection.Apply(*this, d, info.area);
      MixThroughMatte(source, d, *matte, d, info.area);
    }
    if (Darkening()) DarkenThroughMask(d, *grad, info.area, static_cast<float>(Percent(kGradNd)));
  }

 private:
  double Width() const { return RangeValue(kRange) * 0.02; }
  bool Darkening() const { return BooleanValue(kGradEnable) && RangeValue(kGradNd) > 0; }
  Margins Reach(const RenderInfo& info) const {
    return {HueSelection::ReachX(info, RangeValue(kBlur)), HueSelection::ReachY(info, RangeValue(kBlur))};
  }

  // matte = matte g' / L with g' = L - (L - g) trunc(o L) / L: the grad at
  // opacity o, so 100 % gives matte g / L and 0 leaves the matte.
  void MultiplyThroughGrad(Raster& matte, const Raster& grad, const Rect& rect) const {
    const Rect r = rect.Intersect(matte.Bounds());
    WithDepth(matte.Is16Bit(), [&]<class S>() {
      constexpr int64_t L = Depth<S>::L;
      const int64_t o = static_cast<int64_t>(Percent(kGradOpacity) * L);
      ForRows(r, 1, [&](int32_t y) {
        const S* g = grad.RowAs<S>(y) + r.left;
        S* m = matte.RowAs<S>(y) + r.left;
        for (int32_t x = r.left; x < r.right; ++x, ++g, ++m) {
          const int64_t weight = L - (L - *g) * o / L;
          *m = Depth<S>::Clamp(*m * weight / L);
        }
      });
    });
  }

  HueSelection hue_;
};
inline constexpr EffectType kPolarizerType = catalogue::Type("Polarizer", kPolarizerParams, 0);

}  // namespace

const EffectRoutines& kEnhancing = RoutinesOf<Enhancing, kEnhancingType>;
const EffectRoutines& kSelectiveColor = RoutinesOf<SelectiveColor, kSelectiveColorType>;
const EffectRoutines& kPolarizer = RoutinesOf<Polarizer, kPolarizerType>;

}  // namespace effects
}  // namespace fx
