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
#include "effects/grad_family.h"
#include "effects/grad_stage.h"
#include "effects/param_groups.h"
#include "imaging/masks.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"
#include "imaging/separable_blur.h"
#include "imaging/tone_curve.h"

namespace fx::effects {
namespace {

using grads::kMaskView;
using grads::kOriginal;
using grads::kOutput;
using grads::RowOf;

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
    for (int32_t y = area.top; y < area.bottom; ++y) {
      S* m = mask_->RowAs<S>(y) + area.left;
      for (int32_t x = area.left; x < area.right; ++x, ++m) *m = static_cast<S>(Depth<S>::L - *m);
    }
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
    blur_.BlurMasked(d, area, mask);
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
      for (int32_t y = 0; y < local.bottom; ++y) {
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
    FromLinear(*linear, local, d, area.left, area.top);
    // Alpha is the source's: linear light would cost it levels.
    WithDepth(d.Is16Bit(), [&]<class S>() {
      for (int32_t y = area.top; y < area.bottom; ++y) {
        const S* s = source.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(area.left);
        S* q = d.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(area.left);
        for (int32_t x = area.left; x < area.right; ++x, s += 4, q += 4) q[3] = s[3];
      }
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

}  // namespace

const EffectRoutines& kCenterSpot = RoutinesOf<CenterSpot, kCenterSpotType>;
const EffectRoutines& kRadialExposure = RoutinesOf<RadialExposure, kRadialExposureType>;

}  // namespace fx::effects
