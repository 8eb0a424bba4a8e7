// The star flares. Star: an eight-pointed flare around every selected
// highlight, drawn by blurring the highlight matte along rows and columns,
// straight and turned by 45 degrees, and screened over the image. Vari-Star:
// a star kernel of any number of spokes stamped around every selected pixel.
#include <algorithm>
#include <cstdint>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/diffusion_common.h"
#include "effects/glow.h"
#include "effects/light_effects.h"
#include "effects/param_groups.h"
#include "effects/selection_matte.h"
#include "imaging/masks.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/separable_blur.h"
#include "imaging/shear_rotate.h"
#include "imaging/star_kernel.h"

namespace fx::effects {
namespace {

inline constexpr const char* kStarViews[] = {"Output", "Selection", "Stars", "Original"};

inline constexpr auto kStarParams = Join(Rows({
                                             Image("background", "Background"),
                                             List("view", "View", kStarViews),
                                             Group("star", "Star"),
                                             Range("StarBrightness", "Brightness", 0, 800, 200),
                                             Range("StarSize", "Size", 0, 500, 100),
                                             Colour("StarColor", "Color", kWhite),
                                             End(),
                                         }),
                                         MatteGroup({.position = 90, .range = 15}));
static_assert(kStarParams.size() == 12);
static_assert(ValidTable(kStarParams));

// The diagonal spokes are drawn turned by this angle and turned back.
inline constexpr double kDiagonal = 45;
// What the three shears' linear resampling adds to a pixel's reach, there
// and back.
inline constexpr int32_t kRotationReach = 8;

// The part of the area the host keeps, in the area's coordinates: the
// output rectangle placed by the tile's origin. A tile whose output is not
// within it (or a caller that gives none) keeps the whole area.
Rect OutputInTile(const RenderInfo& info, Origin origin) {
  const Rect& out = info.outputRect;
  const Rect kept =
      Rect{out.top - origin.y, out.left - origin.x, out.bottom - origin.y, out.right - origin.x}.Intersect(
          info.area);
  return kept.Empty() ? info.area : kept;
}

// a = L - (L - a) (L - b) / L over rect, integer arithmetic.
template <class S>
void ScreenInto(Raster& a, const Raster& b, const Rect& rect, int32_t bx = 0, int32_t by = 0) {
  constexpr int64_t L = Depth<S>::L;
  ParallelRows(rect.top, rect.bottom, rect.Width(), [&](int32_t rowsBegin, int32_t rowsEnd) {
    for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
      S* p = a.RowAs<S>(y) + rect.left;
      const S* q = b.RowAs<S>(y - by) + (rect.left - bx);
      for (int32_t x = rect.left; x < rect.right; ++x, ++p, ++q)
        *p = static_cast<S>(L - (L - int64_t{*p}) * (L - int64_t{*q}) / L);
    }
  });
}

// The star of rect of a one-channel raster, in place: its row blur screened
// with its column blur.
template <class S>
void Cross(Raster& m, const Rect& rect, float s, int32_t passes) {
  RasterRef v = MakeRaster(m.Width(), m.Height(), 1, sizeof(S));
  v->CopyRows(m, rect);
  SeparableBlur blur;
  blur.SetMode(SeparableBlur::kBox);
  blur.SetPasses(passes);
  blur.SetRadii(s, 0);
  blur.Blur(m, rect);
  blur.SetRadii(0, s);
  blur.Blur(*v, rect);
  ScreenInto<S>(m, *v, rect);
}

class Star final : public Effect {
 public:
  static consteval int Key(std::string_view key) { return RowOf(kStarParams, key); }
  enum View { kOutput, kSelection, kStars, kOriginal };
  static constexpr MatteParams kMatte{RowOf(kStarParams, "mattePosition")};
  using Effect::Effect;

  bool IsActive() const {
    const int32_t view = ListIndex(Key("view"));
    return view == kOutput ? Brightness() > 0 : view != kOriginal;
  }

  void ExpandRect(RenderInfo& info, Rect& rect) { Grow(rect, Reach(info)); }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const Rect& a = info.area;
    const int32_t view = ListIndex(Key("view"));
    const double b = Brightness();
    if (view == kOriginal || (view == kOutput && !(b > 0))) return CopyArea(source, d, a);
    RasterRef matte = matte_.Build(source, a, info, kMatte.Read(*this));
    if (view == kSelection) return ShowMatte(*matte, d, a);
    const Margins m = Reach(info);
    const Origin origin = TileOrigin(info, m.x, m.y);
    WithDepth(d.Is16Bit(), [&]<class S>() {
      Stars<S>(*matte, info, origin);
      if (view == kStars) return ShowMatte(*matte, d, a);
      CopyArea(source, d, a);
      Composite<S>(d, *matte, a, b);
    });
  }

 private:
  double Brightness() const { return Percent(Key("StarBrightness")); }
  float Size(const RenderInfo& info) const {
    return static_cast<float>(VerticalPixels(info, RangeValue(Key("StarSize"))));
  }

  // The box blur's whole reach along either axis at size s.
  static int32_t BlurReach(float s, int32_t passes) {
    SeparableBlur blur;
    blur.SetMode(SeparableBlur::kBox);
    blur.SetPasses(passes);
    blur.SetRadii(s, s);
    return std::max(blur.ReachX(), blur.ReachY());
  }

  // The matte's reach, the blurs' reach and the rotations' resampling. The
  // turned blurs run along the diagonals, so each axis takes the longer
  // reach.
  Margins Reach(const RenderInfo& info) const {
    const float s = Size(info);
    const int64_t star = s > 0 ? int64_t{BlurReach(s, info.reserved2)} + kRotationReach : 0;
    const MatteSettings matte = kMatte.Read(*this);
    const int64_t x = int64_t{SelectionMatte::ReachX(info, matte)} + star;
    const int64_t y = int64_t{SelectionMatte::ReachY(info, matte)} + star;
    constexpr int64_t kMax = int64_t{1} << 28;
    return {static_cast<int32_t>(std::min(x, kMax)), static_cast<int32_t>(std::min(y, kMax))};
  }

  // The star image S of the area, in place of the matte. Rotations turn
  // about the whole image's centre, so every band sees the same phases.
  template <class S>
  void Stars(Raster& matte, const RenderInfo& info, Origin origin) const {
    const float s = Size(info);
    if (!(s > 0)) return;
    const Rect& a = info.area;
    const int32_t passes = info.reserved2;
    // The matte placed in the image, turned, starred and turned back.
    PlacedRaster placed;
    placed.extent = {origin.y + a.top, origin.x + a.left, origin.y + a.bottom, origin.x + a.right};
    placed.raster = MakeRaster(std::max(1, a.Width()), std::max(1, a.Height()), 1, sizeof(S));
    placed.raster->CopyRect(matte, a, 0, 0);
    Rotation turn{kDiagonal, (info.imageWidth - 1) / 2.0, (info.imageHeight - 1) / 2.0};
    const PlacedRaster content = ShearRotate(placed, turn);
    // The box treats outputs near a line's end differently (there it
    // divides), and a band's turned lines end elsewhere than the whole
    // image's: clear space of the blur's reach around the content keeps
    // every output that matters away from the ends in both.
    const int32_t pad = BlurReach(s, passes);
    PlacedRaster turned;
    turned.extent = content.extent.Grown(pad, pad);
    turned.raster = MakeRaster(turned.extent.Width(), turned.extent.Height(), 1, sizeof(S));
    turned.raster->Fill(0);
    turned.raster->CopyRect(*content.raster, content.raster->Bounds(), pad, pad);
    Cross<S>(*turned.raster, turned.raster->Bounds(), s, passes);
    // Turned back only where the host keeps the output.
    const Rect kept = OutputInTile(info, origin);
    turn.degrees = -kDiagonal;
    const PlacedRaster back =
        ShearRotate(turned, turn, {origin.y + kept.top, origin.x + kept.left, origin.y + kept.bottom,
                                   origin.x + kept.right});
    Cross<S>(matte, a, s, passes);
    // back's pixel (0, 0) is the kept area's first pixel.
    ScreenInto<S>(matte, *back.raster, kept, kept.left, kept.top);
  }

  // Screens the star light S over the image with the colour and brightness:
  // n = e div L whole passes of g = (k m / L) P / L, then, for r = e mod L,
  // a partial pass of h = ((r k / L) m / L) P / L.
  template <class S>
  void Composite(Raster& d, const Raster& star, const Rect& rect, double b) const {
    constexpr int64_t L = Depth<S>::L;
    const Rgb c = ColourValue(Key("StarColor"));
    const int64_t k[3] = {static_cast<int64_t>(c.r * L), static_cast<int64_t>(c.g * L),
                          static_cast<int64_t>(c.b * L)};
    const int64_t e = static_cast<int64_t>(std::min(b, 1000.0) * L);
    const int64_t n = e / L, r = e % L;
    ParallelRows(rect.top, rect.bottom, 8 * int64_t{rect.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
      for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
        const S* m = star.RowAs<S>(y) + rect.left;
        S* p = d.RowAs<S>(y) + 4 * rect.left;
        for (int32_t x = rect.left; x < rect.right; ++x, ++m, p += 4) {
          const int64_t v = *m;
          if (v == 0) continue;
          for (int ch = 0; ch < 3; ++ch) {
            int64_t q = p[ch];
            const int64_t g = (k[ch] * v / L) * q / L;
            for (int64_t i = 0; i < n; ++i) q = Depth<S>::Clamp(q + g - q * g / L);
            if (r > 0) {
              const int64_t h = ((r * k[ch] / L) * v / L) * q / L;
              q = Depth<S>::Clamp(q + h - q * h / L);
            }
            p[ch] = static_cast<S>(q);
          }
        }
      }
    });
  }

  SelectionMatte matte_;
};
inline constexpr EffectType kStarType = catalogue::Type("Star", kStarParams, 0);

// ---------------------------------------------------------------- Vari-Star

inline constexpr const char* kVariStarBlendItems[] = {"Screen", "Add"};

inline constexpr auto kVariStarParams = Join(Rows({
                                                 Image("input", "Input"),
                                                 List("view", "View", kStarViews),
                                                 Group("starGroup", "Star"),
                                                 List("blend", "Blend", kVariStarBlendItems, 0),
                                                 Range("brightness", "Brightness", 0, 800, 200),
                                                 Range("spokes", "Spokes", 2, 12, 4).Flags(kWholeNumbers),
                                                 Range("radius1", "Size", 0, 50, 10),
                                                 Range("angle", "Angle", -360, 360, 0).Flags(0x1000),
                                                 Range("starBlur", "Blur", 0, 100, 1),
                                                 Range("noise", "Noise", 0, 100, 50),
                                                 Range("density", "Density", 0, 100, 50),
                                                 Colour("color", "Color", kWhite),
                                                 End(),
                                             }),
                                             MatteGroup({.position = 90, .range = 15, .blurMaximum = 100}));
static_assert(kVariStarParams.size() == 18);
static_assert(ValidTable(kVariStarParams));

// How often stamping asks whether the user stopped the render.
inline constexpr int32_t kPollRows = 20;

class VariStar final : public Effect {
 public:
  static consteval int Key(std::string_view key) { return RowOf(kVariStarParams, key); }
  enum View { kOutput, kSelection, kStars, kOriginal };
  static constexpr MatteParams kMatte{RowOf(kVariStarParams, "mattePosition")};
  using Effect::Effect;

  bool IsActive() const {
    const int32_t view = ListIndex(Key("view"));
    return view == kOutput ? Brightness() > 0 : view != kOriginal;
  }

  void ExpandRect(RenderInfo& info, Rect& rect) { Grow(rect, Reach(info)); }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const Rect& a = info.area;
    const int32_t view = ListIndex(Key("view"));
    const double b = Brightness();
    if (view == kOriginal || (view == kOutput && !(b > 0))) return CopyArea(source, d, a);
    RasterRef matte = matte_.Build(source, a, info, kMatte.Read(*this));
    const double density = Percent(Key("density"));
    if (density != 0) {
      const Margins m = Reach(info);
      RasterRef noise = MakeRaster(d.Width(), d.Height(), 1, d.BytesPerSample());
      MakeNoiseMask(*noise, a, TileOrigin(info, m.x, m.y), Percent(Key("noise")), density, info.scaleX,
                    info.scaleY);
      MultiplyMask(*matte, *noise, a);
    }
    if (view == kSelection) return ShowMatte(*matte, d, a);
    kernel_.Build(Shape(info));
    RasterRef star = MakeRaster(d.Width(), d.Height(), 1, d.BytesPerSample());
    star->Fill(0);
    SeparableBlur blur;
    ConfigureBlur(blur, info);
    // The host keeps only the output rectangle: stars are needed there and
    // as far around it as the blur reaches.
    const Margins m = Reach(info);
    const Rect needed = OutputInTile(info, TileOrigin(info, m.x, m.y)).Grown(blur.ReachY(), blur.ReachX());
    // star = max(star, K v / 255) around every selected pixel.
    if (!kernel_.Stamp(*matte, a, *star, needed.Intersect(a), kPollRows, [&] { return info.IsCancelled(); }))
      return;
    if (blur.RadiusX() > 0 || blur.RadiusY() > 0) blur.Blur(*star, a);
    if (view == kStars) return ShowMatte(*star, d, a);
    CopyArea(source, d, a);
    LightBlend light;
    light.brightness = b;
    light.blend = ListIndex(Key("blend")) == 1 ? GlowBlend::kAdd : GlowBlend::kScreen;
    light.colour = ColourValue(Key("color"));
    BlendLight(d, *star, a, light);
  }

 private:
  double Brightness() const { return Percent(Key("brightness")); }

  // R is the size's percentage of the render's height, r a thousandth of it.
  StarShape Shape(const RenderInfo& info) const {
    StarShape s;
    s.spokes = static_cast<int32_t>(std::clamp(RangeValue(Key("spokes")), 2.0, 12.0));
    s.outer = Percent(Key("radius1")) * info.imageHeight;
    s.inner = info.imageHeight * 0.001;
    s.degrees = RangeValue(Key("angle"));
    return s;
  }

  // Half the kernel's side, without building it.
  static int32_t HalfSide(const StarShape& s) {
    const double reach = std::ceil(std::max(s.outer, 0.01) + std::max(s.inner, 0.01));
    return static_cast<int32_t>(std::min(reach, double{1 << 28}));
  }

  void ConfigureBlur(SeparableBlur& blur, const RenderInfo& info) const {
    const double v = RangeValue(Key("starBlur"));
    blur.SetMode(SeparableBlur::kBox);
    blur.SetPasses(info.reserved2);
    blur.SetRadii(static_cast<float>(HorizontalPixels(info, v)), static_cast<float>(VerticalPixels(info, v)));
  }

  // The matte's reach, half the kernel, and the star blur's reach.
  Margins Reach(const RenderInfo& info) const {
    SeparableBlur blur;
    ConfigureBlur(blur, info);
    const MatteSettings matte = kMatte.Read(*this);
    const int64_t half = HalfSide(Shape(info));
    const int64_t x = int64_t{SelectionMatte::ReachX(info, matte)} + half + blur.ReachX();
    const int64_t y = int64_t{SelectionMatte::ReachY(info, matte)} + half + blur.ReachY();
    constexpr int64_t kMax = int64_t{1} << 28;
    return {static_cast<int32_t>(std::min(x, kMax)), static_cast<int32_t>(std::min(y, kMax))};
  }

  SelectionMatte matte_;
  StarKernel kernel_;
};
inline constexpr EffectType kVariStarType = catalogue::Type("VariStar", kVariStarParams, 0);

}  // namespace

const EffectRoutines& kStar = RoutinesOf<Star, kStarType>;
const EffectRoutines& kVariStar = RoutinesOf<VariStar, kVariStarType>;

}  // namespace fx::effects
