// Rack Focus: a defocus in linear light with highlights spread into the
// shape of the lens aperture, as out-of-focus points of light look on film.
#include "effects/rack_focus.h"

#include <algorithm>
#include <limits>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "effects/catalogue.h"
#include "effects/colour_ops.h"
#include "effects/focus_blur.h"
#include "effects/param_groups.h"
#include "effects/selection_matte.h"
#include "imaging/masks.h"
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

// ------------------------------------------------------------ the aperture

namespace {

constexpr float kDegreesToRadians = 0.017453292f;
constexpr float kTwoPi = 6.2831855f;
// The control points' pull towards the corner: a quarter circle's.
constexpr float kKappa = 0.5523f;

struct PointF {
  float x, y;
};
PointF Toward(PointF from, PointF to, float t) { return {from.x + t * (to.x - from.x), from.y + t * (to.y - from.y)}; }

// The aperture outline around the origin, unturned: for each corner P with
// neighbouring edge midpoints M1, M2, a cubic from A = P + u (M1 - P) to
// B = P + u (M2 - P) pulled towards P, and straight lines between the
// curves.
ZPath AperturePath(int32_t n, float u, float diameter) {
  const float r = diameter / 2;
  std::vector<PointF> corners(static_cast<std::size_t>(n));
  for (int32_t k = 0; k < n; ++k) {
    const float t = kTwoPi * static_cast<float>(k) / static_cast<float>(n);
    corners[k] = {r * std::cos(t), r * std::sin(t)};
  }
  ZPath path;
  if (u <= 0) {
    path.moveTo(corners[0].x, corners[0].y);
    for (int32_t k = 1; k < n; ++k) path.lineTo(corners[k].x, corners[k].y);
    path.close();
    return path;
  }
  for (int32_t k = 0; k < n; ++k) {
    const PointF p = corners[k];
    const PointF previous = corners[(k + n - 1) % n], next = corners[(k + 1) % n];
    const PointF a = Toward(p, Toward(p, previous, 0.5f), u);
    const PointF b = Toward(p, Toward(p, next, 0.5f), u);
    const PointF c1 = Toward(a, p, kKappa), c2 = Toward(b, p, kKappa);
    if (k == 0) path.moveTo(a.x, a.y);
    else path.lineTo(a.x, a.y);
    path.cubicTo(c1.x, c1.y, c2.x, c2.y, b.x, b.y);
  }
  path.close();
  return path;
}

}  // namespace

int32_t ApertureExtent(float diameter, float angleDegrees) {
  const float a = angleDegrees * kDegreesToRadians;
  const float d = std::ceil(std::max(diameter, 0.0f));
  const float reach = std::fabs(d * std::cos(a)) + std::fabs(d * std::sin(a));
  // Stencils are kept well inside what the renderer paints.
  const int32_t s = static_cast<int32_t>(std::min(reach, static_cast<float>(ZRenderer::kMaxExtent)));
  return s % 2 == 0 ? s + 1 : s;
}

namespace {

// Rows top .. top + height - 1 of the aperture's s x s stencil.
RasterRef ApertureStrip(const ApertureShape& shape, int32_t s, int32_t top, int32_t height, bool is16Bit) {
  RasterRef strip = MakeRaster(s, height, 1, is16Bit ? 2 : 1);
  strip->Fill(0);
  if (!(shape.diameter > 0) || shape.facets < 3) return strip;
  PathTransform turn;
  turn.SetRotation(shape.angle * kDegreesToRadians);
  turn.SetTranslation(static_cast<float>(s) / 2, static_cast<float>(s) / 2 - static_cast<float>(top));
  ZStencil target(*strip);
  ZRenderer renderer;
  renderer.Render(AperturePath(shape.facets, std::clamp(shape.curvature, 0.0f, 1.0f), shape.diameter), turn,
                  target, ZFillRule::kNonZero);
  return strip;
}

// Large apertures are drawn a band of rows at a time, so that the whole
// stencil never has to be held.
constexpr int32_t kStripRows = 256;

}  // namespace

RasterRef ApertureStencil(const ApertureShape& shape, bool is16Bit) {
  const int32_t s = ApertureExtent(shape.diameter, shape.angle);
  return ApertureStrip(shape, s, 0, s, is16Bit);
}

StencilRuns ApertureRuns(const ApertureShape& shape, bool is16Bit) {
  const int32_t s = ApertureExtent(shape.diameter, shape.angle);
  StencilRuns runs;
  runs.extent = s;
  for (int32_t top = 0; top < s; top += kStripRows) {
    const StencilRuns strip = StencilRuns::Of(*ApertureStrip(shape, s, top, std::min(kStripRows, s - top), is16Bit));
    for (StencilRuns::Run r : strip.runs) runs.runs.push_back({r.row + top, r.begin, r.end});
  }
  return runs;
}

StencilRuns StencilRuns::Of(const Raster& stencil) {
  StencilRuns r;
  r.extent = stencil.Width();
  WithDepth(stencil.Is16Bit(), [&]<class S>() {
    for (int32_t y = 0; y < stencil.Height(); ++y) {
      const S* row = stencil.RowAs<S>(y);
      for (int32_t x = 0; x < stencil.Width();) {
        if (row[x] == 0) {
          ++x;
          continue;
        }
        const int32_t begin = x;
        while (x < stencil.Width() && row[x] != 0) ++x;
        r.runs.push_back({y, begin, x});
      }
    }
  });
  return r;
}

// ------------------------------------------------------------ stamping

namespace {

// out[X] = max(out[X], max of k[x] over x in [X + off - w + 1, X + off]) for X
// in [left, right), per channel, where k is zero outside [first, last]. The
// window maximum is van Herk's: maxima from each block start forwards and
// from each block end backwards, blocks w long. A whole window spans at most
// two blocks, so it is the backward maximum at its start with the forward
// one at its end; a window cut by the span's ends needs only one of them.
template <class S>
void DilateRow(const S* k, int32_t first, int32_t last, int32_t w, int32_t off, int32_t left, int32_t right,
               S* out, std::vector<S>& forward, std::vector<S>& backward, bool maximaReady) {
  const int32_t n = last - first + 1;
  forward.resize(4 * static_cast<std::size_t>(n));
  backward.resize(4 * static_cast<std::size_t>(n));
  const S* v = k + 4 * static_cast<std::ptrdiff_t>(first);
  for (int32_t b = maximaReady ? n : 0; b < n; b += w) {
    const int32_t e = std::min(n, b + w);
    for (int c = 0; c < 4; ++c) forward[4 * b + c] = v[4 * b + c];
    for (int32_t i = b + 1; i < e; ++i)
      for (int c = 0; c < 4; ++c) forward[4 * i + c] = std::max(forward[4 * (i - 1) + c], v[4 * i + c]);
    for (int c = 0; c < 4; ++c) backward[4 * (e - 1) + c] = v[4 * (e - 1) + c];
    for (int32_t i = e - 2; i >= b; --i)
      for (int c = 0; c < 4; ++c) backward[4 * i + c] = std::max(backward[4 * (i + 1) + c], v[4 * i + c]);
  }
  // Output columns whose window meets the span, and those whose window lies
  // inside it whole.
  const int32_t from = std::max(left, first - off);
  const int32_t to = static_cast<int32_t>(std::min<int64_t>(right - 1, int64_t{last} - off + w - 1));
  const int32_t wholeFrom = std::max(from, first - off + w - 1), wholeTo = std::min(to, last - off);
  auto cut = [&](int32_t X) {
    const int32_t lo = std::max(X + off - w + 1, first) - first;
    const int32_t hi = std::min(X + off, last) - first;
    S* e = out + 4 * static_cast<std::ptrdiff_t>(X);
    if (lo / w == hi / w) {
      const S* m = lo % w == 0 ? &forward[4 * static_cast<std::size_t>(hi)] : &backward[4 * static_cast<std::size_t>(lo)];
      for (int c = 0; c < 4; ++c) e[c] = std::max(e[c], m[c]);
    } else {
      for (int c = 0; c < 4; ++c) e[c] = std::max({e[c], backward[4 * lo + c], forward[4 * hi + c]});
    }
  };
  if (wholeFrom > wholeTo) {
    for (int32_t X = from; X <= to; ++X) cut(X);
    return;
  }
  for (int32_t X = from; X < wholeFrom; ++X) cut(X);
  {
    // Samples, not pixels: one plain loop the compiler vectorises.
    S* e = out + 4 * static_cast<std::ptrdiff_t>(wholeFrom);
    const S* b = backward.data() + 4 * static_cast<std::ptrdiff_t>(wholeFrom + off - w + 1 - first);
    const S* f = forward.data() + 4 * static_cast<std::ptrdiff_t>(wholeFrom + off - first);
    const int32_t count = 4 * (wholeTo - wholeFrom + 1);
    for (int32_t i = 0; i < count; ++i) e[i] = std::max(e[i], std::max(b[i], f[i]));
  }
  for (int32_t X = wholeTo + 1; X <= to; ++X) cut(X);
}

template <class S>
bool Stamp(const Raster& highlights, const StencilRuns& stencil, Raster& out, const Rect& area, RenderInfo* info) {
  const int32_t half = stencil.extent / 2;
  // Each row's stretch of non-zero highlights (alpha is the matte value, so
  // a pixel is non-zero exactly when its alpha is); first > last when none.
  std::vector<std::array<int32_t, 2>> spans(static_cast<std::size_t>(area.Height()), {1, 0});
  ParallelRows(area.top, area.bottom, area.Width(), [&](int32_t rowsBegin, int32_t rowsEnd) {
    for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
      const S* k = highlights.RowAs<S>(y);
      auto& span = spans[y - area.top];
      for (int32_t x = area.left; x < area.right; ++x)
        if (k[4 * x + 3] != 0) {
          if (span[0] > span[1]) span[0] = x;
          span[1] = x;
        }
    }
  });
  for (int32_t Y = area.top; Y < area.bottom; ++Y) {
    S* e = out.RowAs<S>(Y);
    std::fill(e + 4 * static_cast<std::ptrdiff_t>(area.left), e + 4 * static_cast<std::ptrdiff_t>(area.right), S{0});
  }
  // Source rows in blocks, polled between blocks on this thread. Within a
  // block the stamps are gathered by the rows they land on, each chunk of
  // those rows written by one worker alone (the maximum does not depend on
  // the order). Source row by source row, consecutive stencil rows of one
  // width share the row's block maxima.
  constexpr int32_t kPollRows = 20;
  int32_t lowest = std::numeric_limits<int32_t>::max(), highest = std::numeric_limits<int32_t>::min();
  for (const StencilRuns::Run& run : stencil.runs) {
    lowest = std::min(lowest, run.row);
    highest = std::max(highest, run.row);
  }
  for (int32_t y0 = area.top; y0 < area.bottom; y0 += kPollRows) {
    if (info != nullptr && info->IsCancelled()) return false;
    const int32_t y1 = std::min(y0 + kPollRows, area.bottom);
    if (stencil.runs.empty()) continue;
    const int32_t top = std::max(area.top, y0 - half + lowest),
                  bottom = std::min(area.bottom, y1 - half + highest);
    ParallelRows(top, bottom, 4 * int64_t{kPollRows} * area.Width(), [&](int32_t first, int32_t end) {
      std::vector<S> forward, backward;
      for (int32_t y = y0; y < y1; ++y) {
        const auto& span = spans[y - area.top];
        if (span[0] > span[1]) continue;
        int32_t ready = -1;  // the width the maxima were built for
        for (const StencilRuns::Run& run : stencil.runs) {
          // Stencil row `row` of a stamp centred on row y lands on row Y.
          const int32_t Y = y - half + run.row;
          if (Y < first || Y >= end) continue;
          const int32_t w = run.end - run.begin;
          DilateRow(highlights.RowAs<S>(y), span[0], span[1], w, half - run.begin, area.left, area.right,
                    out.RowAs<S>(Y), forward, backward, w == ready);
          ready = w;
        }
      }
    });
  }
  return true;
}

}  // namespace

bool StampHighlights(const Raster& highlights, const StencilRuns& stencil, Raster& out, const Rect& area,
                     RenderInfo* info) {
  const Rect r = area.Intersect(highlights.Bounds()).Intersect(out.Bounds());
  if (r.Empty()) return true;
  return WithDepth(out.Is16Bit(), [&]<class S>() { return Stamp<S>(highlights, stencil, out, r, info); });
}

// ------------------------------------------------------------ Rack Focus

namespace {

inline constexpr const char* kRackViews[] = {"Output", "Selection", "Aperture", "Original"};
// The attribute bit of an angle control.
inline constexpr uint32_t kAngleControl = 0x1000;

inline constexpr auto kRackFocusParams =
    Join(Rows({
             Image("input", "Input"),
             List("view", "View", kRackViews),
             Range("blur", "Blur", 0, 100, 20),
             Group("aperture", "Aperture", true),
             Range("boost", "Boost", 0, 800, 0),
             Range("facets", "Facets", 3, 15, 5).Flags(kWholeNumbers),
             Range("curvature", "Curvature", 0, 100, 100),
             Range("angle", "Angle", -360, 360, 0).Flags(kAngleControl),
             Range("size", "Size", 0, 50, 5),
             Range("apertureBlur", "Blur", 0, 100, 5),
             Range("noise", "Noise", 0, 100, 50),
             Range("density", "Density", 0, 100, 50),
             End(),
             Group("matte", "Selection", true),
         }),
         MatteRows({.position = 90, .range = 15, .blur = 5, .blurMaximum = 100}), Rows({End()}));
static_assert(kRackFocusParams.size() == 18);
static_assert(ValidTable(kRackFocusParams));

// Screens the highlights over the destination, R, G, B = E + (L - E) D / L,
// then, with boost b > 0, lifts every pixel the highlights reach to
// min(L, D + trunc(b E)). Alpha stays.
template <class S>
void ScreenHighlights(const Raster& highlights, Raster& destination, const Rect& area, double boost) {
  constexpr int64_t L = Depth<S>::L;
  ParallelRows(area.top, area.bottom, 8 * int64_t{area.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
    for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
      const S* e = highlights.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(area.left);
      S* d = destination.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(area.left);
      for (int32_t x = area.left; x < area.right; ++x, e += 4, d += 4) {
        for (int c = 0; c < 3; ++c) d[c] = Depth<S>::Clamp(e[c] + (L - e[c]) * d[c] / L);
        if (boost != 0 && e[3] != 0)
          for (int c = 0; c < 3; ++c)
            d[c] = Depth<S>::Clamp(std::min<int64_t>(L, d[c] + static_cast<int64_t>(boost * e[c])));
      }
    }
  });
}

// k = (R h / L, G h / L, B h / L, h) for the matte value h of each pixel.
template <class S>
void HighlightColours(const Raster& image, const Raster& matte, Raster& highlights, const Rect& area) {
  constexpr int64_t L = Depth<S>::L;
  ParallelRows(area.top, area.bottom, 4 * int64_t{area.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
    for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
      const S* p = image.RowAs<S>(y);
      const S* m = matte.RowAs<S>(y);
      S* k = highlights.RowAs<S>(y);
      for (int32_t x = area.left; x < area.right; ++x) {
        const int64_t h = m[x];
        for (int c = 0; c < 3; ++c) k[4 * x + c] = static_cast<S>(p[4 * x + c] * h / L);
        k[4 * x + 3] = static_cast<S>(h);
      }
    }
  });
}

class RackFocus final : public Effect {
 public:
  static constexpr int kView = RowOf(kRackFocusParams, "view");
  static constexpr int kBlur = RowOf(kRackFocusParams, "blur");
  static constexpr int kBoost = RowOf(kRackFocusParams, "boost");
  static constexpr int kFacets = RowOf(kRackFocusParams, "facets");
  static constexpr int kCurvature = RowOf(kRackFocusParams, "curvature");
  static constexpr int kAngle = RowOf(kRackFocusParams, "angle");
  static constexpr int kSize = RowOf(kRackFocusParams, "size");
  static constexpr int kApertureBlur = RowOf(kRackFocusParams, "apertureBlur");
  static constexpr int kNoise = RowOf(kRackFocusParams, "noise");
  static constexpr int kDensity = RowOf(kRackFocusParams, "density");
  static constexpr MatteParams kMatte{RowOf(kRackFocusParams, "mattePosition")};
  enum View { kOutput, kSelection, kAperture, kOriginal };
  using Effect::Effect;

  bool IsActive() const { return ListIndex(kView) != kOriginal; }

  // A highlight's stamp reaches s / 2 + 1 from a pixel whose colour comes
  // from the linear blur and whose weight from the matte, and the aperture
  // blur spreads the stamps further.
  void ExpandRect(RenderInfo& info, Rect& rect) {
    if (!IsActive()) return;
    const Margins m = Reach(info);
    rect = rect.Grown(m.y, m.x);
  }

  void BeginRender(RenderInfo& info) { UpdateAperture(info, info.is16Bit); }

  void Render(RenderInfo& info) {
    const Raster& source = *Source();
    Raster& d = *info.destination;
    const Rect& area = info.area;
    CopyArea(source, d, area);
    const int32_t view = ListIndex(kView);
    if (view == kOriginal) return;
    RasterRef matte = matte_.Build(source, area, info, kMatte.Read(*this));
    const double density = Percent(kDensity);
    if (density != 0) {
      const Margins m = Reach(info);
      RasterRef noise = MakeRaster(source.Width(), source.Height(), 1, source.BytesPerSample());
      MakeNoiseMask(*noise, area, TileOrigin(info, m.x, m.y), Percent(kNoise), density, info.scaleX, info.scaleY);
      MultiplyMask(*matte, *noise, area);
    }
    if (view == kSelection) {
      ShowMatte(*matte, d, area);
      return;
    }
    if (info.IsCancelled()) return;
    if (RangeValue(kBlur) != 0) {
      RasterRef linear = MakeRaster(d.Width(), d.Height(), 4, 2);
      ToLinear(d, *linear, area);
      SeparableBlur blur;
      ConfigureBox(blur, info, RangeValue(kBlur));
      blur.Blur(*linear, area);
      if (info.IsCancelled()) return;
      FromLinear(*linear, d, area);
    }
    UpdateAperture(info, d.Is16Bit());
    RasterRef highlights = MakeRaster(d.Width(), d.Height(), 4, d.BytesPerSample());
    RasterRef stamped = MakeRaster(d.Width(), d.Height(), 4, d.BytesPerSample());
    WithDepth(d.Is16Bit(), [&]<class S>() { HighlightColours<S>(d, *matte, *highlights, area); });
    if (!StampHighlights(*highlights, aperture_.runs, *stamped, area, &info)) return;
    if (RangeValue(kApertureBlur) != 0) {
      SeparableBlur blur;
      ConfigureBox(blur, info, RangeValue(kApertureBlur));
      blur.Blur(*stamped, area);
    }
    if (view == kAperture) {
      CopyArea(*stamped, d, area);
      return;
    }
    WithDepth(d.Is16Bit(), [&]<class S>() { ScreenHighlights<S>(*stamped, d, area, Percent(kBoost)); });
  }

 private:
  struct Margins {
    int32_t x = 0;
    int32_t y = 0;
  };

  ApertureShape Shape(const RenderInfo& info) const {
    ApertureShape a;
    a.facets = static_cast<int32_t>(RangeValue(kFacets));
    a.curvature = static_cast<float>(Percent(kCurvature));
    a.angle = static_cast<float>(RangeValue(kAngle));
    const float c = static_cast<float>(RangeValue(kSize)) * static_cast<float>(info.imageHeight) * 0.01f;
    a.diameter = static_cast<float>(RangeValue(kBlur)) * 0.05f * c;
    return a;
  }

  Margins Reach(const RenderInfo& info) const {
    const MatteSettings matte = kMatte.Read(*this);
    SeparableBlur linear, spread;
    ConfigureBox(linear, info, RangeValue(kBlur));
    ConfigureBox(spread, info, RangeValue(kApertureBlur));
    const ApertureShape shape = Shape(info);
    const int64_t stamp = ApertureExtent(shape.diameter, shape.angle) / 2 + 1;
    const int64_t x = std::max(linear.ReachX(), SelectionMatte::ReachX(info, matte)) + stamp + spread.ReachX();
    const int64_t y = std::max(linear.ReachY(), SelectionMatte::ReachY(info, matte)) + stamp + spread.ReachY();
    constexpr int64_t kMax = int64_t{1} << 28;
    return {static_cast<int32_t>(std::min(x, kMax)), static_cast<int32_t>(std::min(y, kMax))};
  }

  static void ConfigureBox(SeparableBlur& blur, const RenderInfo& info, double v) {
    blur.SetMode(SeparableBlur::kBox);
    blur.SetPasses(info.reserved2);  // the render information's pass count
    blur.SetRadii(static_cast<float>(info.FullHeightPixels(v)), static_cast<float>(info.ScaledHeightPixels(v)));
  }

  // Rebuilds the stencil when its shape or depth changed.
  void UpdateAperture(const RenderInfo& info, bool is16Bit) {
    const ApertureShape shape = Shape(info);
    Aperture& a = aperture_;
    if (a.valid && a.shape.facets == shape.facets && a.shape.curvature == shape.curvature &&
        a.shape.angle == shape.angle && a.shape.diameter == shape.diameter && a.is16Bit == is16Bit)
      return;
    a.valid = false;
    a.shape = shape;
    a.is16Bit = is16Bit;
    a.runs = ApertureRuns(shape, is16Bit);
    a.valid = true;
  }

  struct Aperture {
    bool valid = false;
    ApertureShape shape;
    bool is16Bit = false;
    StencilRuns runs;
  };

  SelectionMatte matte_;
  Aperture aperture_;
};
inline constexpr EffectType kRackFocusType = catalogue::Type("RackFocus", kRackFocusParams, 0);

}  // namespace

const EffectRoutines& kRackFocus = RoutinesOf<RackFocus, kRackFocusType>;

}  // namespace fx::effects
