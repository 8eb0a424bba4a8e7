// Diffusion and Glow: the bright part of the image, chosen by a luminance
// selection matte (for Diffusion shaped by a texture), blurred and laid back
// over the image.
#include "effects/diffusion.h"

#include <cstddef>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/diffusion_common.h"
#include "effects/diffusion_texture.h"
#include "effects/glow.h"
#include "effects/param_groups.h"
#include "effects/selection_matte.h"
#include "framework/host_services.h"
#include "imaging/raster.h"

namespace fx::effects {
namespace {

// ------------------------------------------------------------------ Diffusion

inline constexpr const char* kDiffusionViews[] = {"Output", "Selection", "Texture", "Original"};

// No texture until the user picks one: the glow then comes from the
// highlight selection alone.
inline constexpr const char* kDefaultTexture = nullptr;

// The texture group holds the placement group, which holds the crop and
// corner-pin groups: groups nest here.
inline constexpr auto kDiffusionParams = Join(
    Rows({
        Image("background", "Background"),
        List("view", "View", kDiffusionViews),
        Group("glow", "Diffusion", true),
        List("diffusion", "Diffusion", kGlowModeItems, 1),
        List("glowBlend", "Blend", kGlowBlendItems, 0),
        Range("glowBrightness", "Brightness", 0, 800, 75).Flags(kPrincipal),
        Range("glowBlurH", "Horizontal Blur", 0, 1000, 20).Flags(kNotify),
        Range("glowBlurV", "Vertical Blur", 0, 1000, 20).Flags(kNotify),
        Bool("glowBlurGang", "Gang Blur", true).Flags(kNotify),
        Colour("glowColor", "Color", kWhite),
        End(),
    }),
    MatteGroup({.position = 100, .range = 80}),
    Rows({
        Group("texture", "Texture"),
        ImageFile("diffTexture", "Texture", kVendorFolder, kTextureFolder, kDefaultTexture).Flags(kNotify),
        List("diffTexBlend", "Texture Blend", kTextureBlendItems, 0),
        Group("dve", "DVE"),
        Group("dveCrop", "Crop"),
        Range("dveCropTop", "Top", 0, 100, 0),
        Range("dveCropBottom", "Bottom", 0, 100, 0),
        Range("dveCropLeft", "Left", 0, 100, 0),
        Range("dveCropRight", "Right", 0, 100, 0),
        End(),
        Group("dveCornerPin", "Corner-Pin"),
        Point("dveCornerPinUL", "Upper-Left", {-0.5, -0.5}),
        Point("dveCornerPinUR", "Upper-Right", {0.5, -0.5}),
        Point("dveCornerPinLR", "Lower-Right", {0.5, 0.5}),
        Point("dveCornerPinLL", "Lower-Left", {-0.5, 0.5}),
        End(),
        Point("dvePosition", "Position", {0, 0}),
        Range("dveScaleX", "Scale.X", 0, 500, 100),
        Range("dveScaleY", "Scale.Y", 0, 500, 100),
        Bool("dveScaleGang", "Gang Scale", true).Flags(kNotify),
        Range("dveRotate", "Rotate", -360, 360, 0).Flags(0x1000),
        Range("dveShearX", "Shear.X", -50, 50, 0),
        Range("dveShearY", "Shear.Y", -50, 50, 0),
        Range("dveAnchorX", "Anchor.X", -100, 100, 0),
        Range("dveAnchorY", "Anchor.Y", -100, 100, 0),
        End(),
        End(),
    }));
static_assert(kDiffusionParams.size() == 43);
static_assert(ValidTable(kDiffusionParams));

class Diffusion final : public Effect {
 public:
  enum {
    kBackground,
    kView,
    kGlowGroup,
    kMode,
    kBlend,
    kBrightness,
    kBlurH,
    kBlurV,
    kGang,
    kColour,
    kGlowEnd,
    kMatteGroup,
    kMattePosition,
    kTextureGroup = 16,
    kTexture,
    kTextureBlend,
    kCropTop = 21,
    kCornerUL = 27,
    kPosition = 32,
    kScaleX,
    kScaleY,
    kScaleGang,
    kRotate,
    kShearX,
    kShearY,
    kAnchorX,
    kAnchorY,
  };
  enum View { kOutput, kSelection, kTextureView, kOriginal };
  static constexpr GlowParams kGlow{kMode, kBlend, kBrightness, kBlurH, kBlurV, kGang, kColour};
  static constexpr MatteParams kMatte{kMattePosition};
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }

  void ParameterChanged(int32_t index) {
    kGlow.GangChanged(*this, index);
    if (index == kScaleX || index == kScaleY || index == kScaleGang) {
      const bool ganged = BooleanValue(kScaleGang);
      if (ganged) SetRange(Param(kScaleY), RangeValue(kScaleX));
      SetEnabled(Param(kScaleY), !ganged);
    }
  }

  void ExpandRect(RenderInfo& info, Rect& rect) { Grow(rect, Reach(info)); }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const Rect& area = info.area;
    const int32_t view = ListIndex(kView);
    if (view == kOriginal) {
      CopyArea(source, d, area);
      return;
    }
    if (view == kTextureView) {
      RasterRef t = MakeRaster(d.Width(), d.Height(), 1, d.BytesPerSample());
      t->Fill(0);
      if (ImageFileName(kTexture) != nullptr) DrawTexture(info, *t);
      ShowMatte(*t, d, area);
      return;
    }
    const double brightness = kGlow.Brightness(*this);
    RasterRef matte;
    if (view == kSelection || brightness > 0) {
      matte = matte_.Build(source, area, info, kMatte.Read(*this));
      if (ImageFileName(kTexture) != nullptr) {
        RasterRef t = MakeRaster(d.Width(), d.Height(), 1, d.BytesPerSample());
        DrawTexture(info, *t);
        BlendTexture(*t, *matte, area, static_cast<TextureBlend>(TextureBlendIndex()));
      }
    }
    if (view == kSelection) {
      ShowMatte(*matte, d, area);
      return;
    }
    CopyArea(source, d, area);
    if (brightness > 0) Glow(d, *matte, area, kGlow.Read(*this, info), info);
  }

 private:
  Margins Reach(const RenderInfo& info) const {
    return MatteGlowMargins(info, kMatte.Read(*this), kGlow.Read(*this, info));
  }

  int32_t TextureBlendIndex() const {
    const int32_t i = ListIndex(kTextureBlend);
    return i >= 0 && i < static_cast<int32_t>(std::size(kTextureBlendItems)) ? i : 0;
  }

  TexturePlacement Placement() const {
    TexturePlacement p;
    p.cropTop = RangeValue(kCropTop);
    p.cropBottom = RangeValue(kCropTop + 1);
    p.cropLeft = RangeValue(kCropTop + 2);
    p.cropRight = RangeValue(kCropTop + 3);
    for (int k = 0; k < 4; ++k) p.corners[k] = PointValue(kCornerUL + k);
    p.position = PointValue(kPosition);
    p.scaleX = RangeValue(kScaleX);
    p.scaleY = BooleanValue(kScaleGang) ? p.scaleX : RangeValue(kScaleY);
    p.rotate = RangeValue(kRotate);
    p.shearX = RangeValue(kShearX);
    p.shearY = RangeValue(kShearY);
    p.anchorX = RangeValue(kAnchorX);
    p.anchorY = RangeValue(kAnchorY);
    return p;
  }

  // The placed texture over the render's area of t.
  void DrawTexture(const RenderInfo& info, Raster& t) {
    const std::string file = TextureFile(ImageFileName(kTexture));
    const Margins m = Reach(info);
    const Origin origin = TileOrigin(info, m.x, m.y);
    textures_.Draw(file.c_str(), t.Is16Bit(), Placement(), t, info.area, origin, info.imageWidth,
                   info.imageHeight);
  }

  SelectionMatte matte_;
  PlacedTexture textures_;
};
inline constexpr EffectType kDiffusionType = catalogue::Type("Diffusion", kDiffusionParams, 0);

// ----------------------------------------------------------------------- Glow

inline constexpr auto kGlowParams =
    Join(Rows({
             Image("background", "Background"),
             List("view", "View", kOutputSelectionOriginal),
             Group("glow", "Glow", true),
             List("glowMode", "Glow", kGlowModeItems, 1),
             List("glowBlend", "Blend", kGlowBlendItems, 1),
             Range("glowBrightness", "Brightness", 0, 800, 75).Flags(kPrincipal),
             Range("glowHBlur", "Horizontal Blur", 0, 1000, 50).Flags(kNotify),
             Range("glowVBlur", "Vertical Blur", 0, 1000, 50).Flags(kNotify),
             Bool("glowGangBlur", "Gang Blur", true).Flags(kNotify),
             Colour("glowColor", "Color", kWhite),
             End(),
         }),
         MatteGroup({.position = 100, .range = 80}));
static_assert(kGlowParams.size() == 16);
static_assert(ValidTable(kGlowParams));

class GlowEffect final : public Effect {
 public:
  enum {
    kBackground,
    kView,
    kGlowGroup,
    kMode,
    kBlend,
    kBrightness,
    kBlurH,
    kBlurV,
    kGang,
    kColour,
    kMattePosition = 12
  };
  enum View { kOutput, kSelection, kOriginal };
  static constexpr GlowParams kGlow{kMode, kBlend, kBrightness, kBlurH, kBlurV, kGang, kColour};
  static constexpr MatteParams kMatte{kMattePosition};
  static constexpr MatteViews kMatteViews{kOriginal, kSelection};
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }
  void ParameterChanged(int32_t index) { kGlow.GangChanged(*this, index); }
  void ExpandRect(RenderInfo& info, Rect& rect) {
    Grow(rect, MatteGlowMargins(info, kMatte.Read(*this), kGlow.Read(*this, info)));
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const double brightness = kGlow.Brightness(*this);
    RasterRef matte;
    if (kMatteViews.Render(ListIndex(kView), brightness > 0, matte_, kMatte.Read(*this), source, info, matte))
      return;
    CopyArea(source, d, info.area);
    if (brightness > 0) Glow(d, *matte, info.area, kGlow.Read(*this, info), info);
  }

 private:
  SelectionMatte matte_;
};
inline constexpr EffectType kGlowType = catalogue::Type("Glow", kGlowParams, 0);

}  // namespace

const EffectRoutines& kDiffusion = RoutinesOf<Diffusion, kDiffusionType>;
const EffectRoutines& kGlow = RoutinesOf<GlowEffect, kGlowType>;

}  // namespace fx::effects
