// Skin Smoother: blurs the tones a luminance selection picks and puts the
// sharp source back along edges, so skin softens while eyes and outlines
// stay crisp.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/focus_blur.h"
#include "effects/focus_common.h"
#include "effects/mask_mix.h"
#include "effects/selection_matte.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/separable_blur.h"

namespace fx::effects {

namespace {

// ------------------------------------------------------------------ edge map

// Scales the Sobel magnitude into the sample range: 4 x full scale, the
// steepest plain step, gives 0.7 of it.
constexpr double kEdgeScale = 0.17667844522968199;

template <class S>
void EdgeMapRows(const Raster& source, Raster& edge, const Rect& area) {
  const int32_t w = area.Width();
  auto fill = [&](int32_t y, int32_t* out) {
    const S* p = source.RowAs<S>(std::clamp(y, area.top, area.bottom - 1)) + 4 * area.left;
    for (int32_t x = 0; x < w; ++x, p += 4) out[x + 1] = Depth<S>::Luminance(p[0], p[1], p[2]);
    out[0] = out[1];
    out[w + 1] = out[w];
  };
  // Each chunk of rows rolls its own three luminance lines, one repeated
  // column at each end, starting from the row above its first.
  ParallelRows(area.top, area.bottom, 8 * int64_t{w}, [&](int32_t first, int32_t end) {
    std::vector<int32_t> lines(3 * static_cast<std::size_t>(w + 2));
    auto line = [&](int k) { return lines.data() + static_cast<std::size_t>(k) * (w + 2); };
    int32_t* above = line(0);
    int32_t* here = line(1);
    int32_t* below = line(2);
    fill(first - 1, above);
    fill(first, here);
    for (int32_t y = first; y < end; ++y) {
      fill(y + 1, below);
      S* out = edge.RowAs<S>(y) + area.left;
      for (int32_t x = 1; x <= w; ++x) {
        // A plain 16-bit step already squares to 1.7e10: 64-bit sums.
        const int64_t gx = (int64_t{above[x - 1]} + 2 * here[x - 1] + below[x - 1]) -
                           (int64_t{above[x + 1]} + 2 * here[x + 1] + below[x + 1]);
        const int64_t gy = (int64_t{above[x - 1]} + 2 * above[x] + above[x + 1]) -
                           (int64_t{below[x - 1]} + 2 * below[x] + below[x + 1]);
        const double magnitude = std::trunc(std::sqrt(static_cast<double>(gx * gx + gy * gy)));
        out[x - 1] = Depth<S>::Clamp(static_cast<int64_t>(magnitude * kEdgeScale));
      }
      std::swap(above, here);
      std::swap(here, below);
    }
  });
}

// The Sobel edge map of area into the one-channel edge raster; the area's
// edge rows and columns repeat beyond it. (A band's raster may be taller
// than its area: the rows below hold another band's pixels, never read.)
void SobelEdgeMap(const Raster& source, Raster& edge, const Rect& area) {
  if (area.Empty()) return;
  WithDepth(source.Is16Bit(), [&]<class S>() { EdgeMapRows<S>(source, edge, area); });
}

// Every sample of rect of a one-channel raster becomes
// clamp(trunc(b x sample), 0, full scale).
void Brighten(Raster& mask, const Rect& rect, double b) {
  WithDepth(mask.Is16Bit(), [&]<class S>() {
    ParallelRows(rect.top, rect.bottom, rect.Width(), [&](int32_t rowsBegin, int32_t rowsEnd) {
      for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
        S* m = mask.RowAs<S>(y);
        for (int32_t x = rect.left; x < rect.right; ++x)
          m[x] = Depth<S>::Clamp(static_cast<int64_t>(b * m[x]));
      }
    });
  });
}

// ------------------------------------------------------------ Skin Smoother

inline constexpr const char* kSkinViews[] = {"Output", "Selection", "Edge", "Original"};

inline constexpr auto kSkinSmootherParams =
    Join(Rows({
             Image("background", "Background"),
             List("view", "View", kSkinViews),
             Group("blur", "Blur", true),
             Range("blurX", "Horizontal", 0, 200, 5).Flags(kNotify),
             Range("blurY", "Vertical", 0, 200, 5).Flags(kNotify),
             Bool("gang", "Gang", true).Flags(kNotify),
             End(),
             Group("edge", "Edge", true),
             Range("EdgeBrightness", "Brightness", 1, 10, 5),
             Range("EdgeBlur", "Blur", 0, 100, 3),
             Range("EdgeOpacity", "Opacity", 0, 100, 100).Flags(kPrincipal),
             End(),
             Group("matte", "Selection", true),
         }),
         MatteRows({.position = 50, .range = 40, .blur = 0, .blurMaximum = 1000}), Rows({End()}));
static_assert(kSkinSmootherParams.size() == 17);
static_assert(ValidTable(kSkinSmootherParams));

class SkinSmoother final : public Effect {
 public:
  static constexpr int kView = RowOf(kSkinSmootherParams, "view");
  static constexpr GangedBlur kBlur{RowOf(kSkinSmootherParams, "blurX"), RowOf(kSkinSmootherParams, "blurY"),
                                    RowOf(kSkinSmootherParams, "gang")};
  static constexpr int kEdgeBrightness = RowOf(kSkinSmootherParams, "EdgeBrightness");
  static constexpr int kEdgeBlur = RowOf(kSkinSmootherParams, "EdgeBlur");
  static constexpr int kEdgeOpacity = RowOf(kSkinSmootherParams, "EdgeOpacity");
  static constexpr MatteParams kMatte{RowOf(kSkinSmootherParams, "mattePosition")};
  enum View { kOutput, kSelection, kEdge, kOriginal };
  using Effect::Effect;

  bool IsActive() const {
    switch (ListIndex(kView)) {
      case kSelection:
      case kEdge:
        return true;
      case kOutput:
        return kBlur.X(*this) != 0 || kBlur.Y(*this) != 0;
      default:
        return false;
    }
  }

  void ParameterChanged(int32_t index) { kBlur.Changed(*this, index); }

  // Per direction the farthest of what an output pixel reads: the matte,
  // the edge map (one pixel of Sobel window, then its blur) and the
  // smoothing blur, each running its passes.
  void ExpandRect(RenderInfo& info, Rect& rect) {
    if (!IsActive()) return;
    const MatteSettings matte = kMatte.Read(*this);
    SeparableBlur edge, smooth;
    ConfigureEdgeBlur(edge, info);
    ConfigureSmoothing(smooth, info);
    const int32_t x = std::max({SelectionMatte::ReachX(info, matte), 1 + edge.ReachX(), smooth.ReachX()});
    const int32_t y = std::max({SelectionMatte::ReachY(info, matte), 1 + edge.ReachY(), smooth.ReachY()});
    rect = rect.Grown(y, x);
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const Rect& area = info.area;
    const int32_t view = ListIndex(kView);
    if (view != kOutput && view != kSelection && view != kEdge) {
      CopyArea(source, d, area);
      return;
    }
    const double opacity = Percent(kEdgeOpacity);
    RasterRef matte;
    if (view == kOutput || view == kSelection) matte = matte_.Build(source, area, info, kMatte.Read(*this));
    RasterRef edge;
    if (view == kEdge || (view == kOutput && opacity > 0)) edge = EdgeMap(source, info);
    if (view == kSelection || view == kEdge) {
      ShowMatte(view == kSelection ? *matte : *edge, d, area);
      return;
    }
    RasterRef smooth = MakeRaster(source.Width(), source.Height(), 4, source.BytesPerSample());
    smooth->CopyRows(source, area);
    if (kBlur.X(*this) > 0 || kBlur.Y(*this) > 0) {
      SeparableBlur blur;
      ConfigureSmoothing(blur, info);
      blur.Blur(*smooth, area);
    }
    MaskMix(source, *smooth, *matte, d, area, 1.0);
    if (edge) MaskMix(d, source, *edge, d, area, opacity);
  }

 private:
  // The edge map of the area, blurred and brightened.
  RasterRef EdgeMap(const Raster& source, const RenderInfo& info) const {
    RasterRef edge = MakeRaster(source.Width(), source.Height(), 1, source.BytesPerSample());
    SobelEdgeMap(source, *edge, info.area);
    if (RangeValue(kEdgeBlur) != 0) {
      SeparableBlur blur;
      ConfigureEdgeBlur(blur, info);
      blur.Blur(*edge, info.area);
    }
    const double b = RangeValue(kEdgeBrightness);
    if (b > 1) Brighten(*edge, info.area, b);
    return edge;
  }

  void ConfigureEdgeBlur(SeparableBlur& blur, const RenderInfo& info) const {
    Configure(blur, info, RangeValue(kEdgeBlur), RangeValue(kEdgeBlur));
  }
  void ConfigureSmoothing(SeparableBlur& blur, const RenderInfo& info) const {
    Configure(blur, info, kBlur.X(*this), kBlur.Y(*this));
  }
  static void Configure(SeparableBlur& blur, const RenderInfo& info, double x, double y) {
    blur.SetMode(SeparableBlur::kBox);
    blur.SetPasses(info.reserved2);  // the render information's pass count
    blur.SetRadii(static_cast<float>(info.FullHeightPixels(x)), static_cast<float>(info.ScaledHeightPixels(y)));
  }

  SelectionMatte matte_;
};
inline constexpr EffectType kSkinSmootherType = catalogue::Type("SkinSmoother", kSkinSmootherParams, 0);

}  // namespace

const EffectRoutines& kSkinSmoother = RoutinesOf<SkinSmoother, kSkinSmootherType>;

}  // namespace fx::effects
