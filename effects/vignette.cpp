// Vignette: a shape picture placed over the image blurs and colours the
// frame around it.
#include <algorithm>
#include <cstdint>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/diffusion_common.h"
#include "effects/focus_common.h"
#include "effects/grad_family.h"
#include "effects/grad_stage.h"
#include "effects/param_groups.h"
#include "effects/spot_filters.h"
#include "framework/host_services.h"
#include "imaging/masked_blur.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/quad_warp.h"
#include "imaging/raster.h"
#include "imaging/separable_blur.h"
#include "imaging/texture.h"

namespace fx::effects {
namespace {

using grads::kMaskView;
using grads::kOriginal;
using grads::kOutput;

inline constexpr const char* kShapeViews[] = {"Output", "Shape", "Original"};
inline constexpr const char* kTypeItems[] = {"Circular", "Rectangular"};
// The shape pictures beside the module, by type.
inline constexpr const char* kShapeFolder = "Vignettes";
inline constexpr const char* kShapeFiles[] = {"circle.png", "square.png"};

inline constexpr ParamSpec kVignetteParams[] = {
    Image("input", "Input"),
    List("view", "View", kShapeViews),
    List("type", "Type", kTypeItems),
    Range("blurX", "Horizontal Blur", 0, 1000, 20).Flags(kNotify),
    Range("blurY", "Vertical Blur", 0, 1000, 20),
    Bool("blurGang", "Gang Blur", true).Flags(kNotify),
    Colour("color", "Color", kBlack),
    Range("opacity", "Opacity", 0, 100, 100),
    Group("shape", "Shape"),
    Range("softnessX", "Softness X", 1, 1000, 50).Flags(kNotify),
    Range("softnessY", "Softness Y", 1, 1000, 50),
    Bool("softnessGang", "Gang Softness", true).Flags(kNotify),
    Point("position", "Position", {0, 0}),
    Range("scaleX", "Size X", 0, 500, 180).Flags(kNotify),
    Range("scaleY", "Size Y", 0, 500, 180),
    Bool("scaleGang", "Gang Size", true).Flags(kNotify),
    End(),
};
static_assert(ValidTable(kVignetteParams));

// Where the shape lies and how soft it is, at the render's scale.
struct ShapePlacement {
  int32_t type = 0;
  int32_t centreX = 0, centreY = 0;  // whole-image pixels
  double width = 0, height = 0;      // the frame's size in pixels
  float softX = 0, softY = 0;        // box radii
  int32_t passes = 0;
  friend bool operator==(const ShapePlacement&, const ShapePlacement&) = default;
};

// The shape mask of a render area: the picture warped onto its frame (full
// scale beyond it), softened by a box blur over the area grown by the
// blur's reach, so that bands agree. Kept while nothing it depends on
// changes; the area, the tile origin and the depth are part of the key.
class ShapeMaskCache {
 public:
  // shape: the picture at the destination's depth, or null (no mask: all 0).
  const Raster& Get(const Raster* shape, const ShapePlacement& p, const Raster& destination, const Rect& area,
                    Origin origin) {
    const Key key{p, area, origin.x, origin.y, destination.Width(), destination.Height(),
                  destination.BytesPerSample(), shape};
    if (mask_ && key == key_) return *mask_;
    mask_ = MakeRaster(destination.Width(), destination.Height(), 1, destination.BytesPerSample());
    mask_->Fill(0);
    if (shape != nullptr) Build(*shape, p, area, origin);
    key_ = key;
    return *mask_;
  }

 private:
  struct Key {
    ShapePlacement p;
    Rect area;
    int32_t x = 0, y = 0, width = 0, height = 0;
    uint32_t bytes = 0;
    const Raster* shape = nullptr;
    friend bool operator==(const Key&, const Key&) = default;
  };

  void Build(const Raster& shape, const ShapePlacement& p, const Rect& area, Origin origin) {
    SeparableBlur soft;
    soft.SetPasses(p.passes);
    soft.SetRadii(p.softX, p.softY);
    const int32_t mx = soft.ReachX(), my = soft.ReachY();
    RasterRef grown = MakeRaster(area.Width() + 2 * mx, area.Height() + 2 * my, 1, shape.BytesPerSample());
    WithDepth(shape.Is16Bit(), [&]<class S>() {
      for (int32_t y = 0; y < grown->Height(); ++y) std::fill_n(grown->RowAs<S>(y), grown->Width(), S(Depth<S>::L));
    });
    const double x0 = p.centreX - p.width / 2, x1 = p.centreX + p.width / 2;
    const double y0 = p.centreY - p.height / 2, y1 = p.centreY + p.height / 2;
    const Quad frame{PixelPoint{x0, y0}, PixelPoint{x1, y0}, PixelPoint{x1, y1}, PixelPoint{x0, y1}};
    // Beyond the frame the warp repeats the picture's edge, which is full
    // scale; a frame of no size draws nothing and leaves it full everywhere.
    QuadWarp(shape, *grown, grown->Bounds(), {origin.x + area.left - mx, origin.y + area.top - my}, frame);
    if (p.softX > 0 || p.softY > 0) soft.Blur(*grown, grown->Bounds());
    mask_->CopyRect(*grown, {my, mx, my + area.Height(), mx + area.Width()}, area.left, area.top);
  }

  RasterRef mask_;
  Key key_;
};

// Blur, and a colour at an opacity, around a shape.
class Vignette final : public Effect {
 public:
  static constexpr int kView = RowOf(kVignetteParams, "view");
  static constexpr int kType = RowOf(kVignetteParams, "type");
  static constexpr int kBlurX = RowOf(kVignetteParams, "blurX");
  static constexpr int kBlurY = RowOf(kVignetteParams, "blurY");
  static constexpr int kBlurGang = RowOf(kVignetteParams, "blurGang");
  static constexpr int kColour = RowOf(kVignetteParams, "color");
  static constexpr int kOpacity = RowOf(kVignetteParams, "opacity");
  static constexpr int kSoftX = RowOf(kVignetteParams, "softnessX");
  static constexpr int kSoftY = RowOf(kVignetteParams, "softnessY");
  static constexpr int kSoftGang = RowOf(kVignetteParams, "softnessGang");
  static constexpr int kPosition = RowOf(kVignetteParams, "position");
  static constexpr int kScaleX = RowOf(kVignetteParams, "scaleX");
  static constexpr int kScaleY = RowOf(kVignetteParams, "scaleY");
  static constexpr int kScaleGang = RowOf(kVignetteParams, "scaleGang");
  using Effect::Effect;

  bool IsActive() const {
    const int32_t view = ListIndex(kView);
    return view == kMaskView || (view == kOutput && (Blurs() || RangeValue(kOpacity) != 0));
  }

  void ParameterChanged(int index) {
    GangBlur(*this, index, kBlurX, kBlurY, kBlurGang);
    GangBlur(*this, index, kSoftX, kSoftY, kSoftGang);
    GangBlur(*this, index, kScaleX, kScaleY, kScaleGang);
  }

  void ExpandRect(RenderInfo& info, Rect& rect) {
    const Margins m = MarginsOf(info);
    rect = rect.Grown(m.y, m.x);
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    CopyArea(source, d, info.area);
    const int32_t view = ListIndex(kView);
    if (view == kOriginal || info.IsCancelled()) return;
    const Rect area = info.area.Intersect(d.Bounds()).Intersect(source.Bounds());
    if (area.Empty()) return;
    const Margins m = MarginsOf(info);
    const ShapePlacement p = Placement(info);
    const Raster& mask = masks_.Get(Shape(p.type, d.Is16Bit()), p, d, area, TileOrigin(info, m.x, m.y));
    if (view == kMaskView) {
      ShowMaskAsGrey(mask, source, d, area);
      return;
    }
    if (Blurs()) {
      Configure(blur_, info);
      masked_.Blur(d, area, mask, blur_.RadiusX(), blur_.RadiusY(), OutputPart(info, TileOrigin(info, m.x, m.y)));
    }
    const double a = Percent(kOpacity);
    if (a != 0) WithDepth(d.Is16Bit(), [&]<class S>() { Colour<S>(mask, d, area, a); });
  }

 private:
  static double Ganged(const Effect& e, int x, int y, int gang) {
    return e.BooleanValue(gang) ? e.RangeValue(x) : e.RangeValue(y);
  }
  double BlurY() const { return Ganged(*this, kBlurX, kBlurY, kBlurGang); }
  bool Blurs() const { return RangeValue(kBlurX) > 0 || BlurY() > 0; }
  void Configure(SeparableBlur& blur, const RenderInfo& info) const {
    blur.SetPasses(info.reserved2);
    blur.SetRadii(static_cast<float>(RangeValue(kBlurX) * info.scaleX), static_cast<float>(BlurY() * info.scaleY));
  }
  Margins MarginsOf(const RenderInfo& info) const {
    if (ListIndex(kView) != kOutput || !Blurs()) return {};
    SeparableBlur blur;
    Configure(blur, info);
    return {blur.ReachX(), blur.ReachY()};
  }
  ShapePlacement Placement(const RenderInfo& info) const {
    ShapePlacement p;
    p.type = std::clamp(ListIndex(kType), 0, 1);
    PointInPixels(Param(kPosition), info.imageWidth, info.imageHeight, p.centreX, p.centreY);
    p.width = RangeValue(kScaleX) * 0.01 * info.imageWidth;
    p.height = Ganged(*this, kScaleX, kScaleY, kScaleGang) * 0.01 * info.imageHeight;
    p.softX = static_cast<float>(RangeValue(kSoftX) * info.scaleX);
    p.softY = static_cast<float>(Ganged(*this, kSoftX, kSoftY, kSoftGang) * info.scaleY);
    p.passes = info.reserved2;
    return p;
  }
  // The picture of the type at the depth, or null when it cannot be read.
  const Raster* Shape(int32_t type, bool sixteenBit) {
    char path[4096];
    const Host* host = CurrentHost();
    if (host == nullptr || !host->DataPath(kVendorFolder, kShapeFolder, kShapeFiles[type], path, sizeof path))
      return nullptr;
    return shapes_[type].Get(path, sixteenBit);
  }

  // Where m != 0: o = trunc(a full) m / full and each of R, G, B becomes
  // (P (full - o) + o trunc(colour full)) / full.
  template <class S>
  void Colour(const Raster& mask, Raster& d, const Rect& rect, double a) const {
    constexpr int64_t L = Depth<S>::L;
    const Rgb c = ColourValue(kColour);
    const int64_t colour[3] = {static_cast<int64_t>(c.r * L), static_cast<int64_t>(c.g * L),
                               static_cast<int64_t>(c.b * L)};
    const int64_t strength = static_cast<int64_t>(a * L);
    ParallelRows(rect.top, rect.bottom, 4 * int64_t{rect.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
      for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
        const S* m = mask.RowAs<S>(y) + rect.left;
        S* p = d.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(rect.left);
        for (int32_t x = rect.left; x < rect.right; ++x, ++m, p += 4) {
          if (*m == 0) continue;
          const int64_t o = strength * *m / L;
          for (int k = 0; k < 3; ++k) p[k] = static_cast<S>((p[k] * (L - o) + o * colour[k]) / L);
        }
      }
    });
  }

  SeparableBlur blur_;
  MaskedBlur masked_;
  TextureCache shapes_[2];
  ShapeMaskCache masks_;
};

inline constexpr EffectType kVignetteType = catalogue::Type("Vignette", kVignetteParams, 0);

}  // namespace

const EffectRoutines& kVignette = RoutinesOf<Vignette, kVignetteType>;

}  // namespace fx::effects
