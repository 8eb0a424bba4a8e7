// Light! and ReLight: light thrown through a gobo onto a stage. A shape (a
// pattern picture, or a spot) is displaced by the image's relief, blended
// with a selection matte, blurred, and laid over the image as coloured light;
// Light! also darkens what the shape blocks.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/diffusion_common.h"
#include "effects/diffusion_texture.h"
#include "effects/gel_catalogue_tables.h"
#include "effects/glow.h"
#include "effects/light_effects.h"
#include "effects/param_groups.h"
#include "effects/selection_matte.h"
#include "framework/host_services.h"
#include "imaging/masks.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/separable_blur.h"

namespace fx::effects {
namespace {

// The light's own blend list; its first item is "Add".
inline constexpr const char* kLightBlendItems[] = {"Add", "Screen"};
inline constexpr const char* kLightViews[] = {"Output", "Original", "Shape", "Selection"};
inline constexpr const char* kRelightViews[] = {"Output", "Light", "Selection", "Original"};
inline constexpr const char* kShapeBlendItems[] = {"Shape Only", "Add",        "Subtract", "Multiply",
                                                   "Screen",     "Difference", "Darken",   "Lighten"};
static_assert(std::size(kShapeBlendItems) == std::size(kTextureBlendItems));

// The picker and the render open the same folder beside the module.
inline constexpr const char* kPatternFolder = "Gam Patterns";
inline constexpr const char* kDefaultPattern = "205 venetian blind.png";
// The shape moves by at most this fraction of the image height at full
// displacement, half of it each way.
inline constexpr double kDisplacementScale = 0.05;

constexpr std::array<ParamSpec, 9> LightRows(double blurDefault) {
  return Rows({
      List("lBlend", "Blend", kLightBlendItems, 0).Flags(kNotify),
      Range("lBrightness", "Brightness", 0, 500, 75),
      Range("lDisplacement", "Displacement", -100, 100, 0),
      Range("lBlurX", "Horizontal Blur", 0, 1000, blurDefault),
      Range("lBlurY", "Vertical Blur", 0, 1000, blurDefault),
      Bool("lBlurGang", "Gang Blur", true).Flags(kNotify),
      List("lColorPresets", "GamColor Presets", gels::kGamColorPresets, 0).Flags(kNotify),
      Colour("lColor", "Color", kWhite),
      Range("sBrightness", "Brightness", 0, 100, 0),
  });
}

constexpr std::array<ParamSpec, 6> StageSelection() {
  return Join(Rows({Group("matte", "Selection"), List("extractOn", "Extract On", kExtractOnItems, 0)}),
              MatteRows({.position = 100, .range = 80}), Rows({End()}));
}

inline constexpr auto kLightParams = Join(
    Rows({Image("background", "Background"), List("view", "View", kLightViews), Group("light", "Light")}),
    LightRows(10), Rows({End()}), StageSelection(),
    Rows({
        Group("shape", "Shape"),
        ImageFile("pattern", "Gam Pattern", kVendorFolder, kPatternFolder, kDefaultPattern).Flags(kNotify),
        Image("shapeInput", "Input", 1),
        List("compositeFunc", "Blend Mode", kShapeBlendItems, 0),
        Range("sOpacity", "Opacity", 0, 100, 100),
        Range("sBlurX", "Horizontal Blur", 0, 1000, 0),
        Range("sBlurY", "Vertical Blur", 0, 1000, 0),
        Bool("sBlurGang", "Gang Blur", true).Flags(kNotify),
        End(),
    }));
static_assert(ValidTable(kLightParams));

// ReLight has no shadow and lights a spot instead of a pattern.
inline constexpr auto kRelightLightRows = [] {
  std::array<ParamSpec, 8> rows{};
  const auto all = LightRows(20);
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = all[i];
  return rows;
}();

inline constexpr auto kRelightParams = Join(
    Rows({Image("background", "Background"), List("view", "View", kRelightViews), Group("light", "Light")}),
    kRelightLightRows, Rows({End()}), StageSelection(),
    Rows({
        Group("spot", "Spot"),
        List("compositeFunc", "Blend Mode", kShapeBlendItems, 0),
        Range("sOpacity", "Opacity", 0, 100, 100),
        Range("sRadius", "Radius", 0, 100, 50),
        Range("sFalloffRadius", "Falloff Radius", 0, 100, 50),
        Range("sFalloff", "Falloff", 0, 100, 50),
        End(),
    }));
static_assert(ValidTable(kRelightParams));

// A raster placed in the whole image: its pixel (0, 0) lies at origin.
struct Placed {
  RasterRef raster;
  Origin origin;
};

// What both members do once they have their shape: the stage's parameter
// positions come from the table kParams.
template <const auto& kParams>
class Stage : public Effect {
 public:
  static consteval int Key(std::string_view key) { return RowOf(kParams, key); }
  using Effect::Effect;

  void ParameterChanged(int32_t index) {
    GangBlur(*this, index, Key("lBlurX"), Key("lBlurY"), Key("lBlurGang"));
    if (index == Key("lColorPresets")) SetEnabled(Param(Key("lColor")), ListIndex(index) == 0);
  }

 protected:
  MatteSettings Matte() const {
    MatteSettings s;
    s.extractOn = static_cast<ExtractOn>(std::clamp(ListIndex(Key("extractOn")), 0, kExtractOnCount - 1));
    s.centre = Percent(Key("mattePosition"));
    s.width = RangeValue(Key("matteRange")) * 0.02;
    s.blurX = s.blurY = RangeValue(Key("matteBlur"));
    return s;
  }

  void ConfigureLightBlur(SeparableBlur& blur, const RenderInfo& info) const {
    const double v = BooleanValue(Key("lBlurGang")) ? RangeValue(Key("lBlurX")) : RangeValue(Key("lBlurY"));
    blur.SetMode(SeparableBlur::kBox);
    blur.SetPasses(info.reserved2);
    blur.SetRadii(static_cast<float>(HorizontalPixels(info, RangeValue(Key("lBlurX")))),
                  static_cast<float>(VerticalPixels(info, v)));
  }

  // The light reaches as far as the matte's reach and the light blur's
  // together; the shape is drawn in whole-image coordinates and needs none.
  Margins Reach(const RenderInfo& info) const {
    SeparableBlur blur;
    ConfigureLightBlur(blur, info);
    const MatteSettings m = Matte();
    const int64_t x = int64_t{SelectionMatte::ReachX(info, m)} + blur.ReachX();
    const int64_t y = int64_t{SelectionMatte::ReachY(info, m)} + blur.ReachY();
    constexpr int64_t kMax = int64_t{1} << 28;
    return {static_cast<int32_t>(std::min(x, kMax)), static_cast<int32_t>(std::min(y, kMax))};
  }

  LightBlend Blend() const {
    LightBlend b;
    b.brightness = Percent(Key("lBrightness"));
    b.blend = ListIndex(Key("lBlend")) == 1 ? GlowBlend::kScreen : GlowBlend::kAdd;
    const int32_t preset = ListIndex(Key("lColorPresets"));
    if (preset > 0 && preset <= static_cast<int32_t>(gels::kGamColorRows.size())) {
      const gels::GelRow& row = gels::kGamColorRows[static_cast<std::size_t>(preset - 1)];
      b.colour = {row.red, row.green, row.blue};
    } else {
      b.colour = ColourValue(Key("lColor"));
    }
    return b;
  }

  // Whole-image rows the shape may be read from for rows top..bottom - 1:
  // the displacement moves them by at most half the scale of the height.
  int32_t MaxDisplacement(const RenderInfo& info) const {
    const double d = std::abs(Percent(Key("lDisplacement")));
    return static_cast<int32_t>(std::ceil(d * kDisplacementScale * 0.5 * info.imageHeight)) + 1;
  }

  // The rectangle of whole-image pixels a shape raster must hold for area,
  // grown by the displacement and by `grow` (the shape's own blur reach),
  // within the image.
  static Rect ShapeExtent(const RenderInfo& info, Origin origin, int32_t displacement, int32_t growX,
                          int32_t growY) {
    const Rect& a = info.area;
    const Rect whole{0, 0, info.imageHeight, info.imageWidth};
    const int64_t top = int64_t{origin.y} + a.top - displacement - growY;
    const int64_t bottom = int64_t{origin.y} + a.bottom + displacement + growY;
    const int64_t left = int64_t{origin.x} + a.left - growX;
    const int64_t right = int64_t{origin.x} + a.right + growX;
    const auto clampTo = [](int64_t v, int32_t lo, int32_t hi) {
      return static_cast<int32_t>(std::clamp<int64_t>(v, lo, hi));
    };
    return Rect{clampTo(top, 0, whole.bottom), clampTo(left, 0, whole.right),
                clampTo(bottom, 0, whole.bottom), clampTo(right, 0, whole.right)};
  }

  // The shape as each pixel of area sees it: row clamp(y - delta, 0, H - 1)
  // of the whole-image shape, delta = trunc(d (Y - L/2) 0.05 H / L) with Y
  // the source luminance, so bright relief pushes the light up.
  template <class S>
  void Displace(const Raster& source, const Placed& shape, Raster& out, const RenderInfo& info,
                Origin origin) const {
    constexpr double L = Depth<S>::L;
    const double d = Percent(Key("lDisplacement"));
    const double H = info.imageHeight;
    const Rect& a = info.area;
    const Raster& t = *shape.raster;
    const int32_t lastRow = std::max(0, info.imageHeight - 1);
    ParallelRows(a.top, a.bottom, 4 * int64_t{a.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
      for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
        const S* p = source.RowAs<S>(y) + 4 * a.left;
        S* q = out.RowAs<S>(y) + a.left;
        const int32_t wy = origin.y + y;
        for (int32_t x = a.left; x < a.right; ++x, p += 4, ++q) {
          int32_t row = wy;
          if (d != 0) {
            const int32_t lum = Depth<S>::Luminance(p[0], p[1], p[2]);
            const int32_t delta = static_cast<int32_t>(d * (lum - L / 2) * kDisplacementScale * H / L);
            row = std::clamp(wy - delta, 0, lastRow);
          }
          const int32_t ty = std::clamp(row - shape.origin.y, 0, t.Height() - 1);
          const int32_t tx = std::clamp(origin.x + x - shape.origin.x, 0, t.Width() - 1);
          *q = t.RowAs<S>(ty)[tx];
        }
      }
    });
  }

  // The shape raster for a render: drawn by `draw` in whole-image
  // coordinates over the extent the area reads, then displaced into a
  // raster of the destination's size.
  template <class S, class Draw>
  RasterRef DisplacedShape(const Raster& source, const RenderInfo& info, Origin origin, int32_t growX,
                           int32_t growY, Draw&& draw) const {
    const Rect extent = ShapeExtent(info, origin, MaxDisplacement(info), growX, growY);
    Placed shape;
    shape.origin = {extent.left, extent.top};
    shape.raster = MakeRaster(std::max(1, extent.Width()), std::max(1, extent.Height()), 1, sizeof(S));
    shape.raster->Fill(0);
    draw(*shape.raster, shape.origin);
    RasterRef out = MakeRaster(info.destination->Width(), info.destination->Height(), 1, sizeof(S));
    out->Fill(0);
    Displace<S>(source, shape, *out, info, origin);
    return out;
  }

  // The light mask of the area from the displaced shape and the matte:
  // C = blend(shape, M), mask = (M (L - o) + C o) / L with o = trunc(opacity
  // L), blurred by the light blur. The matte is left as it was.
  template <class S>
  RasterRef LightMask(const Raster& shape, const Raster& matte, const RenderInfo& info) const {
    constexpr int64_t L = Depth<S>::L;
    const Rect& a = info.area;
    RasterRef c = MakeRaster(matte.Width(), matte.Height(), 1, matte.BytesPerSample());
    c->Fill(0);
    c->CopyRows(matte, a);
    const int32_t blend =
        std::clamp(ListIndex(Key("compositeFunc")), 0, static_cast<int32_t>(std::size(kShapeBlendItems)) - 1);
    BlendTexture(shape, *c, a, static_cast<TextureBlend>(blend));
    const int64_t o = static_cast<int64_t>(Percent(Key("sOpacity")) * L);
    ParallelRows(a.top, a.bottom, a.Width(), [&](int32_t rowsBegin, int32_t rowsEnd) {
      for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
        const S* m = matte.RowAs<S>(y) + a.left;
        S* q = c->RowAs<S>(y) + a.left;
        for (int32_t x = a.left; x < a.right; ++x, ++m, ++q) *q = static_cast<S>((*m * (L - o) + *q * o) / L);
      }
    });
    SeparableBlur blur;
    ConfigureLightBlur(blur, info);
    if (blur.RadiusX() > 0 || blur.RadiusY() > 0) blur.Blur(*c, a);
    return c;
  }
};

// ---------------------------------------------------------------- Light!

class Light final : public Stage<kLightParams> {
 public:
  enum View { kOutput, kOriginal, kShapeView, kSelection };
  using Stage::Stage;

  bool IsActive() const {
    const int32_t view = ListIndex(Key("view"));
    if (view == kOutput) return RangeValue(Key("lBrightness")) > 0 || RangeValue(Key("sBrightness")) > 0;
    return view != kOriginal;
  }

  void ParameterChanged(int32_t index) {
    Stage::ParameterChanged(index);
    GangBlur(*this, index, Key("sBlurX"), Key("sBlurY"), Key("sBlurGang"));
  }

  void ExpandRect(RenderInfo& info, Rect& rect) { Grow(rect, Reach(info)); }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const Rect& a = info.area;
    const int32_t view = ListIndex(Key("view"));
    if (view == kOriginal) return CopyArea(source, d, a);
    const Margins m = Reach(info);
    const Origin origin = TileOrigin(info, m.x, m.y);
    RasterRef matte = matte_.Build(source, a, info, Matte());
    if (view == kSelection) return ShowMatte(*matte, d, a);
    WithDepth(d.Is16Bit(), [&]<class S>() {
      SeparableBlur shapeBlur;
      ConfigureShapeBlur(shapeBlur, info);
      const RasterRef shape = this->template DisplacedShape<S>(
          source, info, origin, shapeBlur.ReachX(), shapeBlur.ReachY(),
          [&](Raster& t, Origin at) { DrawShape<S>(t, at, info, shapeBlur); });
      if (view == kShapeView) return ShowMatte(*shape, d, a);
      RasterRef mask = LightMask<S>(*shape, *matte, info);
      CopyArea(source, d, a);
      const double shadow = Percent(Key("sBrightness"));
      if (shadow > 0) {
        // What the shape blocks is darkened: the shadow is where light is not.
        constexpr int32_t L = Depth<S>::L;
        RasterRef dark = MakeRaster(mask->Width(), mask->Height(), 1, sizeof(S));
        dark->Fill(0);
        ParallelRows(a.top, a.bottom, a.Width(), [&](int32_t rowsBegin, int32_t rowsEnd) {
          for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
            const S* q = mask->RowAs<S>(y) + a.left;
            S* r = dark->RowAs<S>(y) + a.left;
            for (int32_t x = a.left; x < a.right; ++x) *r++ = static_cast<S>(L - *q++);
          }
        });
        DarkenThroughMask(d, *dark, a, static_cast<float>(shadow));
      }
      const LightBlend blend = Blend();
      if (blend.brightness > 0) BlendLight(d, *mask, a, blend);
    });
  }

 private:
  void ConfigureShapeBlur(SeparableBlur& blur, const RenderInfo& info) const {
    const double v = BooleanValue(Key("sBlurGang")) ? RangeValue(Key("sBlurX")) : RangeValue(Key("sBlurY"));
    blur.SetMode(SeparableBlur::kBox);
    blur.SetPasses(info.reserved2);
    blur.SetRadii(static_cast<float>(HorizontalPixels(info, RangeValue(Key("sBlurX")))),
                  static_cast<float>(VerticalPixels(info, v)));
  }

  // The pattern stretched over the whole image, blurred. No pattern is an
  // open beam; a pattern that cannot be loaded lets no light through.
  template <class S>
  void DrawShape(Raster& t, Origin at, const RenderInfo& info, SeparableBlur& blur) {
    const Rect all = t.Bounds();
    const char* name = ImageFileName(Key("pattern"));
    if (name == nullptr || name[0] == '\0') {
      WithDepth(t.Is16Bit(), [&]<class T>() {
        for (int32_t y = 0; y < t.Height(); ++y)
          std::fill_n(t.RowAs<T>(y), t.Width(), static_cast<T>(Depth<T>::L));
      });
      return;
    }
    char path[4096];
    const char* file = name;
    const Host* host = CurrentHost();
    if (name[0] != '/' && host != nullptr)
      file = host->DataPath(kVendorFolder, kPatternFolder, name, path, sizeof path) ? path : "";
    patterns_.Draw(file, sizeof(S) == 2, TexturePlacement{}, t, all, at, info.imageWidth, info.imageHeight);
    if (blur.RadiusX() > 0 || blur.RadiusY() > 0) blur.Blur(t, all);
  }

  SelectionMatte matte_;
  PlacedTexture patterns_;
};
inline constexpr EffectType kLightType = catalogue::Type("Light", kLightParams, 0);

// ---------------------------------------------------------------- ReLight

class Relight final : public Stage<kRelightParams> {
 public:
  enum View { kOutput, kLightView, kSelection, kOriginal };
  using Stage::Stage;

  bool IsActive() const {
    const int32_t view = ListIndex(Key("view"));
    if (view == kOutput) return RangeValue(Key("lBrightness")) > 0;
    return view != kOriginal;
  }

  void ExpandRect(RenderInfo& info, Rect& rect) { Grow(rect, Reach(info)); }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const Rect& a = info.area;
    const int32_t view = ListIndex(Key("view"));
    if (view == kOriginal) return CopyArea(source, d, a);
    const Margins m = Reach(info);
    const Origin origin = TileOrigin(info, m.x, m.y);
    RasterRef matte = matte_.Build(source, a, info, Matte());
    if (view == kSelection) return ShowMatte(*matte, d, a);
    WithDepth(d.Is16Bit(), [&]<class S>() {
      const RasterRef shape = this->template DisplacedShape<S>(
          source, info, origin, 0, 0, [&](Raster& t, Origin at) { DrawSpot<S>(t, at, info); });
      RasterRef mask = LightMask<S>(*shape, *matte, info);
      if (view == kLightView) return ShowMatte(*mask, d, a);
      CopyArea(source, d, a);
      const LightBlend blend = Blend();
      if (blend.brightness > 0) BlendLight(d, *mask, a, blend);
    });
  }

 private:
  // Full light inside the spot at the image's centre, none beyond its
  // falloff: the complement of the spot mask.
  template <class S>
  void DrawSpot(Raster& t, Origin at, const RenderInfo& info) const {
    SpotSettings spot;
    spot.radius = RangeValue(Key("sRadius"));
    spot.falloffRadius = RangeValue(Key("sFalloffRadius"));
    spot.falloff = RangeValue(Key("sFalloff"));
    const Rect all = t.Bounds();
    MakeSpotMask(t, all, at, spot.Shape(info.imageWidth, info.imageHeight));
    constexpr int32_t L = Depth<S>::L;
    ParallelRows(0, t.Height(), int64_t{t.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
      for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
        S* q = t.RowAs<S>(y);
        for (int32_t x = 0; x < t.Width(); ++x) q[x] = static_cast<S>(L - q[x]);
      }
    });
  }

  SelectionMatte matte_;
};
inline constexpr EffectType kRelightType = catalogue::Type("Relight", kRelightParams, 0);

}  // namespace

const EffectRoutines& kLight = RoutinesOf<Light, kLightType>;
const EffectRoutines& kRelight = RoutinesOf<Relight, kRelightType>;

}  // namespace fx::effects
