// Depth of Field: a Gaussian blur whose radius follows a depth mask, so that
// the image is sharp where the mask is 0 and fully blurred where it is full
// scale. The mask comes from a luminance selection, a graduated ramp or a
// depth picture stretched over the image.
#include <algorithm>
#include <cstdint>
#include <string>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/diffusion_texture.h"
#include "effects/focus_blur.h"
#include "effects/focus_common.h"
#include "effects/param_groups.h"
#include "effects/selection_matte.h"
#include "framework/host_services.h"
#include "imaging/masked_blur.h"
#include "imaging/quad_warp.h"
#include "imaging/raster.h"
#include "imaging/separable_blur.h"
#include "imaging/texture.h"

namespace fx::effects {
namespace {

inline constexpr const char* kDepthViews[] = {"Output", "Depth", "Original"};
// Where the depth mask comes from, in list order.
inline constexpr const char* kDepthSources[] = {"Selection", "Grad", "Input"};

// Every corner of the ramp is a control of its own.
inline constexpr GradOptions kDepthGrad{.hideAllCorners = false, .hideUpperLeft = false};

inline constexpr auto kDepthOfFieldParams =
    Join(Rows({
             Image("input", "Input"),
             List("view", "View", kDepthViews),
             Group("depthGroup", "Depth"),
             List("depthSource", "Depth", kDepthSources).Flags(kNotify),
             ImageFile("depthInput", "Input", kVendorFolder, kTextureFolder, nullptr),
             End(),
             Group("Blur", "Blur"),
             Range("blurX", "Horizontal Blur", 0, 1000, 20).Flags(kNotify),
             Range("blurY", "Vertical Blur", 0, 1000, 20).Flags(kNotify),
             Bool("gang", "Gang", true).Flags(kNotify),
             End(),
         }),
         GradShapeGroup(kDepthGrad), MatteGroup({.position = 100, .range = 80, .blur = 10}));
static_assert(kDepthOfFieldParams.size() == 24);
static_assert(ValidTable(kDepthOfFieldParams));

class DepthOfField final : public Effect {
 public:
  static constexpr int kView = RowOf(kDepthOfFieldParams, "view");
  static constexpr int kSource = RowOf(kDepthOfFieldParams, "depthSource");
  static constexpr int kFile = RowOf(kDepthOfFieldParams, "depthInput");
  static constexpr GangedBlur kBlur{RowOf(kDepthOfFieldParams, "blurX"), RowOf(kDepthOfFieldParams, "blurY"),
                                    RowOf(kDepthOfFieldParams, "gang")};
  static constexpr int kGradHeader = RowOf(kDepthOfFieldParams, "Grad");
  static constexpr int kDirection = RowOf(kDepthOfFieldParams, "dir");
  static constexpr int kMatteHeader = RowOf(kDepthOfFieldParams, "matte");
  static constexpr MatteParams kMatte{RowOf(kDepthOfFieldParams, "mattePosition")};
  enum View { kOutput, kDepth, kOriginal };
  enum DepthSource { kSelection, kGrad, kInput };

  // The rows of the source in use are the only ones enabled, from the start.
  explicit DepthOfField(const EffectType& type) : Effect(type) { EnableSourceRows(); }

  bool IsActive() const {
    switch (ListIndex(kView)) {
      case kOutput:
        return Blurs();
      case kDepth:
        return true;
      default:
        return false;
    }
  }

  void ParameterChanged(int32_t index) {
    kBlur.Changed(*this, index);
    if (index == kSource) EnableSourceRows();
  }

  // The Gaussian's reach, and for a selection the matte's on top: the
  // mask of a pixel at the blur's edge depends on its own neighbours.
  void ExpandRect(RenderInfo& info, Rect& rect) {
    if (!IsActive()) return;
    const Margins m = Reach(info);
    rect = rect.Grown(m.y, m.x);
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const Rect& area = info.area;
    CopyArea(source, d, area);
    if (!IsActive()) return;
    // No depth picture: no mask, and the image stays as it is.
    RasterRef mask = DepthMask(info, source, d);
    if (!mask) return;
    if (ListIndex(kView) == kDepth) {
      ShowMatte(*mask, d, area);
      return;
    }
    Configure(blur_, info);
    const Margins m = Reach(info);
    masked_.Blur(d, area, *mask, blur_.RadiusX(), blur_.RadiusY(), OutputPart(info, TileOrigin(info, m.x, m.y)));
  }

 private:
  struct Margins {
    int32_t x = 0;
    int32_t y = 0;
  };

  bool Blurs() const { return kBlur.X(*this) > 0 || kBlur.Y(*this) > 0; }
  DepthSource MaskSource() const { return static_cast<DepthSource>(ListIndex(kSource)); }

  void EnableSourceRows() {
    const DepthSource s = MaskSource();
    SetEnabled(Param(kFile), s == kInput);
    EnableRestOfGroup(*this, kGradHeader, s == kGrad);
    EnableRestOfGroup(*this, kMatteHeader, s == kSelection);
  }

  void Configure(SeparableBlur& blur, const RenderInfo& info) const {
    ConfigureBlur(blur, info, SeparableBlur::kGaussian, kBlur.X(*this), kBlur.Y(*this));
  }

  Margins Reach(const RenderInfo& info) const {
    Margins m;
    if (ListIndex(kView) == kOutput) {
      SeparableBlur blur;
      Configure(blur, info);
      m = {blur.ReachX(), blur.ReachY()};
    }
    if (MaskSource() == kSelection) {
      const MatteSettings matte = kMatte.Read(*this);
      m.x += SelectionMatte::ReachX(info, matte);
      m.y += SelectionMatte::ReachY(info, matte);
    }
    return m;
  }

  // The depth mask over the area, in the destination's coordinates; null
  // when the depth picture cannot be had.
  RasterRef DepthMask(const RenderInfo& info, const Raster& source, const Raster& d) {
    const Rect& area = info.area;
    if (MaskSource() == kSelection) return matte_.Build(source, area, info, kMatte.Read(*this));
    RasterRef mask = MakeRaster(d.Width(), d.Height(), 1, d.BytesPerSample());
    mask->Fill(0);
    const Margins m = Reach(info);
    const Origin origin = TileOrigin(info, m.x, m.y);
    if (MaskSource() == kGrad) {
      MakeGradMask(*mask, area, origin, ReadGradShape(*this, kDirection), info.imageWidth, info.imageHeight);
      return mask;
    }
    const Raster* picture = depth_.Get(TextureFile(ImageFileName(kFile)).c_str(), d.Is16Bit());
    if (picture == nullptr) return {};
    QuadWarp(*picture, *mask, area, origin, ImageQuad(info.imageWidth, info.imageHeight));
    return mask;
  }

  SeparableBlur blur_;
  MaskedBlur masked_;
  SelectionMatte matte_;
  TextureCache depth_;
};
inline constexpr EffectType kDepthOfFieldType = catalogue::Type("DepthOfField", kDepthOfFieldParams, 0);

}  // namespace

const EffectRoutines& kDepthOfField = RoutinesOf<DepthOfField, kDepthOfFieldType>;

}  // namespace fx::effects
