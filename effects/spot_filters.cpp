// Spot filters: Center Spot blurs around a sharp centre, Radial Exposure
// changes the exposure of the centre and the edges in linear light.
#include "effects/spot_filters.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/diffusion_common.h"
#include "effects/focus_common.h"
#include "effects/grad_family.h"
#include "effects/grad_stage.h"
#include "effects/param_groups.h"
#include "imaging/masks.h"
#include "imaging/masked_blur.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/separable_blur.h"
#include "imaging/tone_curve.h"
#include "imaging/zpath.h"
#include "imaging/zrenderer.h"
#include "imaging/zstencil.h"
#include "imaging/ztransform.h"

namespace fx::effects {
namespace {

using grads::kMaskView;
using grads::kOriginal;
using grads::kOutput;

inline constexpr const char* kSpotViews[] = {"Output", "Spot", "Original"};

// The spot mask of a render area, kept while nothing it depends on
// changes. Every band's area starts at (0, 0) of its own raster, so the key
// holds where the area lies in the image (the tile origin) and the depth
// as well as the spot and the area.
class SpotMaskCache {
 public:
  // The mask (or, inverted, full - mask) over `area` of a one-channel raster
  // of destination's size and depth, 0 elsewhere.
  const Raster& Get(const SpotShape& spot, const Raster& destination, const Rect& area, Origin origin,
                    bool inverted) {
    const Key key{spot, area, origin, destination.Width(), destination.Height(), destination.BytesPerSample(),
                  inverted};
    if (mask_ && key == key_) return *mask_;
    mask_ = MakeRaster(destination.Width(), destination.Height(), 1, destination.BytesPerSample());
    mask_->Fill(0);
    MakeSpotMask(*mask_, area, origin, spot);
    if (inverted) WithDepth(destination.Is16Bit(), [&]<class S>() { Invert<S>(area); });
    key_ = key;
    ++builds_;
    return *mask_;
  }
  int32_t Builds() const { return builds_; }

 private:
  struct Key {
    SpotShape spot;
    Rect area;
    Origin origin;
    int32_t width = 0, height = 0;
    uint32_t bytes = 0;
    bool inverted = false;
    friend bool operator==(const Key& a, const Key& b) {
      const SpotShape &s = a.spot, &t = b.spot;
      return s.centreX == t.centreX && s.centreY == t.centreY && s.side == t.side && s.inner == t.inner &&
             s.outer == t.outer && s.falloff == t.falloff && s.horizontalFactor == t.horizontalFactor &&
             a.area == b.area && a.origin.x == b.origin.x && a.origin.y == b.origin.y && a.width == b.width &&
             a.height == b.height && a.bytes == b.bytes && a.inverted == b.inverted;
    }
  };
  template <class S>
  void Invert(const Rect& area) {
    ParallelRows(area.top, area.bottom, area.Width(), [&](int32_t rowsBegin, int32_t rowsEnd) {
      for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
        S* m = mask_->RowAs<S>(y) + area.left;
        for (int32_t x = area.left; x < area.right; ++x, ++m) *m = static_cast<S>(Depth<S>::L - *m);
      }
    });
  }

  RasterRef mask_;
  Key key_;
  int32_t builds_ = 0;
};

// ---------------------------------------------------------------- Center Spot

inline constexpr auto kCenterSpotParams =
    Join(Rows({Image("input", "Input"), List("view", "View", kSpotViews), Group("blur", "Blur"),
               Range("blurX", "Horizontal", 0, 1000, 20).Flags(kNotify),
               Range("blurY", "Vertical", 0, 1000, 20).Flags(kNotify), Bool("gang", "Gang", true).Flags(kNotify),
               End()}),
         SpotGroup({.radiusDefault = 0}));
static_assert(ValidTable(kCenterSpotParams));

// A blur that grows from a sharp spot towards the surroundings.
class CenterSpot final : public Effect {
 public:
  static constexpr int kView = RowOf(kCenterSpotParams, "view");
  static constexpr int kBlurX = RowOf(kCenterSpotParams, "blurX");
  static constexpr int kBlurY = RowOf(kCenterSpotParams, "blurY");
  static constexpr int kGang = RowOf(kCenterSpotParams, "gang");
  static constexpr int kSpot = RowOf(kCenterSpotParams, "pos");
  using Effect::Effect;

  bool IsActive() const {
    const int32_t view = ListIndex(kView);
    return view == kMaskView || (view == kOutput && Blurs());
  }

  void ParameterChanged(int index) { GangBlur(*this, index, kBlurX, kBlurY, kGang); }

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
    const Raster& mask = spot_.Get(ReadSpot(*this, kSpot).Shape(info.imageWidth, info.imageHeight), d, area,
                                   TileOrigin(info, m.x, m.y), false);
    if (view == kMaskView) {
      ShowMaskAsGrey(mask, source, d, area);
      return;
    }
    if (!Blurs()) return;
    Configure(blur_, info);
    masked_.Blur(d, area, mask, blur_.RadiusX(), blur_.RadiusY(), OutputPart(info, TileOrigin(info, m.x, m.y)));
  }

 private:
  double BlurY() const { return BooleanValue(kGang) ? RangeValue(kBlurX) : RangeValue(kBlurY); }
  bool Blurs() const { return RangeValue(kBlurX) > 0 || BlurY() > 0; }
  // Pixel radii at the render's scale; the box mode stays, so the masked
  // blur takes them as they are.
  void Configure(SeparableBlur& blur, const RenderInfo& info) const {
    blur.SetPasses(info.reserved2);
    blur.SetRadii(static_cast<float>(RangeValue(kBlurX) * info.scaleX), static_cast<float>(BlurY() * info.scaleY));
  }
  // The blur's reach on each side in the output view, nothing otherwise.
  Margins MarginsOf(const RenderInfo& info) const {
    if (ListIndex(kView) != kOutput || !Blurs()) return {};
    SeparableBlur blur;
    Configure(blur, info);
    return {blur.ReachX(), blur.ReachY()};
  }

  SeparableBlur blur_;
  MaskedBlur masked_;
  SpotMaskCache spot_;
};

inline constexpr EffectType kCenterSpotType = catalogue::Type("CenterSpot", kCenterSpotParams, 0);

// ------------------------------------------------------------ Radial Exposure

inline constexpr auto kRadialExposureParams =
    Join(Rows({Image("input", "Input"), List("view", "View", kSpotViews), Group("exposure", "Exposure"),
               Range("edges", "Edges", -5, 5, 0), Range("center", "Center", -5, 5, 0), End()}),
         SpotGroup({.radiusDefault = 100}));
static_assert(ValidTable(kRadialExposureParams));

// 2^(i / 32768 x stops) for i = 0..32768 in single precision, a negative
// exponent taken as 1 / 2^-x.
class GainTable {
 public:
  void Load(double stops) {
    if (!gains_.empty() && stops == stops_) return;
    gains_.resize(Depth16::kTableSize);
    for (int32_t i = 0; i < Depth16::kTableSize; ++i) {
      const double x = i / 32768.0 * stops;
      gains_[i] = static_cast<float>(x < 0 ? 1.0 / std::exp2(-x) : std::exp2(x));
    }
    stops_ = stops;
  }
  float operator[](int32_t i) const { return gains_[i]; }

 private:
  double stops_ = 0;
  std::vector<float> gains_;
};

// Exposure in stops at the edges and at the centre of a spot, in linear
// light. The weight w is full scale at the centre and 0 outside the spot.
class RadialExposure final : public Effect {
 public:
  static constexpr int kView = RowOf(kRadialExposureParams, "view");
  static constexpr int kEdges = RowOf(kRadialExposureParams, "edges");
  static constexpr int kCenter = RowOf(kRadialExposureParams, "center");
  static constexpr int kSpot = RowOf(kRadialExposureParams, "pos");
  using Effect::Effect;

  // With no exposure change the linear round trip alone would still move
  // some samples (255 becomes 254), so the effect is then inactive.
  bool IsActive() const {
    const int32_t view = ListIndex(kView);
    return view == kMaskView || (view == kOutput && (RangeValue(kEdges) != 0 || RangeValue(kCenter) != 0));
  }

  void BeginRender(RenderInfo&) {
    edges_.Load(RangeValue(kEdges));
    centre_.Load(RangeValue(kCenter));
  }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    CopyArea(source, d, info.area);
    const int32_t view = ListIndex(kView);
    if (view == kOriginal || info.IsCancelled()) return;
    const Rect area = info.area.Intersect(d.Bounds()).Intersect(source.Bounds());
    if (area.Empty()) return;
    const Raster& w =
        spot_.Get(ReadSpot(*this, kSpot).Shape(info.imageWidth, info.imageHeight), d, area, TileOrigin(info), true);
    if (view == kMaskView) {
      ShowMaskAsGrey(w, source, d, area);
      return;
    }
    if (!IsActive()) return;
    BeginRender(info);
    Expose(source, w, d, area);
  }

 private:
  void Expose(const Raster& source, const Raster& weight, Raster& d, const Rect& area) const {
    const bool edges = RangeValue(kEdges) != 0, centre = RangeValue(kCenter) != 0;
    RasterRef linear = MakeRaster(area.Width(), area.Height(), 4, 2);
    const Rect local{0, 0, area.Height(), area.Width()};
    ToLinear(source, area, *linear, 0, 0);
    WithDepth(d.Is16Bit(), [&]<class S>() {
      ParallelRows(0, local.bottom, 4 * int64_t{local.right}, [&](int32_t rowsBegin, int32_t rowsEnd) {
        for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
          uint16_t* p = linear->RowAs<uint16_t>(y);
          const S* m = weight.RowAs<S>(y + area.top) + area.left;
          for (int32_t x = 0; x < local.right; ++x, p += 4, ++m) {
            // An 8-bit weight is widened to 16 bits first.
            const int32_t w = sizeof(S) == 1 ? *m * 32768 / 255 : std::min<int32_t>(*m, 32768);
            if (edges && w < 32768) Scale(p, edges_[32768 - w]);
            if (centre && w > 0) Scale(p, centre_[w]);
          }
        }
      });
    });
    FromLinear(*linear, local, d, area.left, area.top);
    // Alpha is the source's: linear light would cost it levels.
    WithDepth(d.Is16Bit(), [&]<class S>() {
      ParallelRows(area.top, area.bottom, area.Width(), [&](int32_t rowsBegin, int32_t rowsEnd) {
        for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
          const S* s = source.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(area.left);
          S* q = d.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(area.left);
          for (int32_t x = area.left; x < area.right; ++x, s += 4, q += 4) q[3] = s[3];
        }
      });
    });
  }
  static void Scale(uint16_t* p, float gain) {
    for (int c = 0; c < 3; ++c) p[c] = Depth16::Clamp(static_cast<int64_t>(static_cast<float>(p[c]) * gain));
  }

  GainTable edges_;
  GainTable centre_;
  SpotMaskCache spot_;
};

inline constexpr EffectType kRadialExposureType = catalogue::Type("RadialExposure", kRadialExposureParams, 0);

// ---------------------------------------------------------------- Split Field

inline constexpr const char* kSplitViews[] = {"Output", "Split", "Original"};

// The transition softness shares its key with the "blur" group; records are
// matched by position and key, so both restore.
inline constexpr auto kSplitFieldParams =
    Rows({Image("input", "Input"), List("view", "View", kSplitViews), Group("blur", "Blur"),
          Range("blurX", "Horizontal Blur", 0, 1000, 20).Flags(kNotify),
          Range("blurY", "Vertical Blur", 0, 1000, 20).Flags(kNotify), Bool("gang", "Gang", true).Flags(kNotify),
          End(), Group("split", "Split"), Point("position", "Position", {0, 0}), Range("rotate", "Rotate", -360, 360, 0),
          Range("blur", "Blur", 0, 500, 0), End()});
static_assert(ValidTable(kSplitFieldParams));

// Degrees to radians as the split is turned.
inline constexpr double kRadiansPerDegree = 0.017453292519444445;

// The split mask: full on one side of the line through the split position
// at the given angle (below it at 0 degrees, positive angles turning it
// clockwise on screen), 0 on the other, the line softened by a box blur.
struct SplitGeometry {
  int32_t positionX = 0, positionY = 0;  // whole-image pixels
  double rotate = 0;                     // degrees
  float softX = 0, softY = 0;            // the transition's box radii in pixels
  int32_t passes = 0;
  int32_t imageWidth = 0, imageHeight = 0;
  friend bool operator==(const SplitGeometry&, const SplitGeometry&) = default;
};

class SplitMaskCache {
 public:
  // The mask over `area` (whole-image position of the raster's (0, 0) at
  // origin) of a one-channel raster of destination's size and depth.
  const Raster& Get(const SplitGeometry& g, const Raster& destination, const Rect& area, Origin origin) {
    const Key key{g, area, origin.x, origin.y, destination.Width(), destination.Height(),
                  destination.BytesPerSample()};
    if (mask_ && key == key_) return *mask_;
    Build(g, destination, area, origin);
    key_ = key;
    return *mask_;
  }

 private:
  struct Key {
    SplitGeometry g;
    Rect area;
    int32_t x = 0, y = 0, width = 0, height = 0;
    uint32_t bytes = 0;
    friend bool operator==(const Key&, const Key&) = default;
  };

  void Build(const SplitGeometry& g, const Raster& destination, const Rect& area, Origin origin) {
    // The softening of a pixel reaches the blur's full reach away, so the
    // split is drawn that far around the area, past the image edge too.
    SeparableBlur soft;
    soft.SetPasses(g.passes);
    soft.SetRadii(g.softX, g.softY);
    const int32_t mx = soft.ReachX(), my = soft.ReachY();
    RasterRef grown = MakeRaster(area.Width() + 2 * mx, area.Height() + 2 * my, 1, 1);
    grown->Fill(0);
    // A rectangle W + H on every side of the line covers the whole image
    // at any angle.
    const float s = static_cast<float>(int64_t{g.imageWidth} + g.imageHeight);
    ZPath path;
    path.moveTo(-s, 0);
    path.lineTo(s, 0);
    path.lineTo(s, 2 * s);
    path.lineTo(-s, 2 * s);
    path.close();
    PathTransform t;
    t.SetRotation(static_cast<float>(g.rotate * kRadiansPerDegree));
    t.SetTranslation(static_cast<float>(int64_t{g.positionX} - (origin.x + area.left - mx)),
                     static_cast<float>(int64_t{g.positionY} - (origin.y + area.top - my)));
    ZStencil stencil(*grown);
    ZRenderer().Render(path, t, stencil, ZFillRule::kNonZero);
    if (g.softX > 0 || g.softY > 0) soft.Blur(*grown, grown->Bounds());
    mask_ = MakeRaster(destination.Width(), destination.Height(), 1, destination.BytesPerSample());
    mask_->Fill(0);
    // Widened to 16 bits as v x 32768 / 255.
    ParallelRows(0, area.Height(), area.Width(), [&](int32_t rowsBegin, int32_t rowsEnd) {
      for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
        const uint8_t* v = grown->RowAs<uint8_t>(y + my) + mx;
        if (destination.Is16Bit()) {
          uint16_t* m = mask_->RowAs<uint16_t>(y + area.top) + area.left;
          for (int32_t x = 0; x < area.Width(); ++x) m[x] = static_cast<uint16_t>(v[x] * 32768 / 255);
        } else {
          std::copy(v, v + area.Width(), mask_->RowAs<uint8_t>(y + area.top) + area.left);
        }
      }
    });
  }

  RasterRef mask_;
  Key key_;
};

// One side of a split line sharp, the other blurred.
class SplitField final : public Effect {
 public:
  static constexpr int kView = RowOf(kSplitFieldParams, "view");
  static constexpr int kBlurX = RowOf(kSplitFieldParams, "blurX");
  static constexpr int kBlurY = RowOf(kSplitFieldParams, "blurY");
  static constexpr int kGang = RowOf(kSplitFieldParams, "gang");
  static constexpr int kPosition = RowOf(kSplitFieldParams, "position");
  static constexpr int kRotate = RowOf(kSplitFieldParams, "rotate");
  static constexpr int kSoftness = RowOf(kSplitFieldParams, "blur", RowOf(kSplitFieldParams, "split"));
  using Effect::Effect;

  bool IsActive() const {
    const int32_t view = ListIndex(kView);
    return view == kMaskView || (view == kOutput && Blurs());
  }

  void ParameterChanged(int index) { GangBlur(*this, index, kBlurX, kBlurY, kGang); }

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
    const Raster& mask = split_.Get(Geometry(info), d, area, TileOrigin(info, m.x, m.y));
    if (view == kMaskView) {
      ShowMaskAsGrey(mask, source, d, area);
      return;
    }
    if (!Blurs()) return;
    Configure(blur_, info);
    masked_.Blur(d, area, mask, blur_.RadiusX(), blur_.RadiusY(), OutputPart(info, TileOrigin(info, m.x, m.y)));
  }

 private:
  double BlurY() const { return BooleanValue(kGang) ? RangeValue(kBlurX) : RangeValue(kBlurY); }
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
  SplitGeometry Geometry(const RenderInfo& info) const {
    SplitGeometry g;
    PointInPixels(Param(kPosition), info.imageWidth, info.imageHeight, g.positionX, g.positionY);
    g.rotate = RangeValue(kRotate);
    g.softX = static_cast<float>(RangeValue(kSoftness) * info.scaleX);
    g.softY = static_cast<float>(RangeValue(kSoftness) * info.scaleY);
    g.passes = info.reserved2;
    g.imageWidth = info.imageWidth;
    g.imageHeight = info.imageHeight;
    return g;
  }

  SeparableBlur blur_;
  MaskedBlur masked_;
  SplitMaskCache split_;
};

inline constexpr EffectType kSplitFieldType = catalogue::Type("SplitField", kSplitFieldParams, 0);

}  // namespace

const EffectRoutines& kCenterSpot = RoutinesOf<CenterSpot, kCenterSpotType>;
const EffectRoutines& kRadialExposure = RoutinesOf<RadialExposure, kRadialExposureType>;
const EffectRoutines& kSplitField = RoutinesOf<SplitField, kSplitFieldType>;

}  // namespace fx::effects
