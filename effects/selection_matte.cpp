#include "effects/selection_matte.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "imaging/colour.h"
#include "imaging/parallel.h"
#include "imaging/separable_blur.h"
#include "imaging/tone_curve.h"

namespace fx {

// ------------------------------------------------------------ TonalSelector

template <class S>
int32_t TonalSelector::Value(ExtractOn channel, const S* p) {
  constexpr int32_t L = Depth<S>::L;
  const int32_t r = p[0], g = p[1], b = p[2];
  switch (channel) {
    case ExtractOn::kLuminance:
      return Depth<S>::Luminance(r, g, b);
    case ExtractOn::kHue: {
      const Hsv hsv = RgbToHsv(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b));
      if (hsv.h == kHueUndefined) return 0;
      return static_cast<int32_t>(hsv.h / 360.0 * L);
    }
    case ExtractOn::kSaturation: {
      const Hsv hsv = RgbToHsv(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b));
      return static_cast<int32_t>(static_cast<double>(hsv.s) * L);
    }
    case ExtractOn::kAverage:
      return (r + g + b) / 3;
    case ExtractOn::kRed:
      return r;
    case ExtractOn::kGreen:
      return g;
    case ExtractOn::kBlue:
      return b;
    case ExtractOn::kCyan:
      return (g + b) / 2;
    case ExtractOn::kMagenta:
      return (r + b) / 2;
    case ExtractOn::kYellow:
      return (r + g) / 2;
  }
  return 0;
}

template <>
TonalSelector::Cache<uint8_t>& TonalSelector::CacheOf<uint8_t>() {
  return cache8_;
}
template <>
TonalSelector::Cache<uint16_t>& TonalSelector::CacheOf<uint16_t>() {
  return cache16_;
}

template <class S>
std::span<const S> TonalSelector::Table(double centre, double width) {
  Cache<S>& c = CacheOf<S>();
  if (!c.valid || c.centre != centre || c.width != width) {
    c.table = CurveTable<S>(TonalBand(centre, width));
    c.centre = centre;
    c.width = width;
    c.valid = true;
  }
  return c.table;
}

template <class S>
std::span<const S> HighlightTable() {
  static const std::vector<S> table = CurveTable<S>(TonalBand(kHighlightBandCentre, kHighlightBandWidth));
  return table;
}
template std::span<const uint8_t> HighlightTable<uint8_t>();
template std::span<const uint16_t> HighlightTable<uint16_t>();

void TonalSelector::Select(const Raster& source, Raster& matte, const Rect& rect, ExtractOn channel,
                           double centre, double width) {
  WithDepth(source.Is16Bit(), [&]<class S>() {
    const std::span<const S> table = Table<S>(centre, width);
    constexpr int32_t L = Depth<S>::L;
    ParallelRows(rect.top, rect.bottom, 4 * int64_t{rect.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
      for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
        const S* p = source.RowAs<S>(y) + 4 * rect.left;
        S* m = matte.RowAs<S>(y) + rect.left;
        for (int32_t x = rect.left; x < rect.right; ++x, p += 4)
          *m++ = table[std::clamp(Value<S>(channel, p), 0, L)];
      }
    });
  });
}

template int32_t TonalSelector::Value<uint8_t>(ExtractOn, const uint8_t*);
template int32_t TonalSelector::Value<uint16_t>(ExtractOn, const uint16_t*);
template std::span<const uint8_t> TonalSelector::Table<uint8_t>(double, double);
template std::span<const uint16_t> TonalSelector::Table<uint16_t>(double, double);

// ------------------------------------------------------- the matte's steps

namespace {

template <class S>
void ClipMatteT(Raster& matte, const Rect& rect, double black, double white) {
  constexpr int32_t L = Depth<S>::L;
  const int64_t lo = static_cast<int64_t>(black * L);
  const int64_t hi = static_cast<int64_t>((1.0 - white) * L);
  ParallelRows(rect.top, rect.bottom, rect.Width(), [&](int32_t rowsBegin, int32_t rowsEnd) {
    for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
      S* m = matte.RowAs<S>(y) + rect.left;
      for (int32_t x = rect.left; x < rect.right; ++x, ++m) {
        if (hi <= lo)
          *m = static_cast<S>(*m > lo ? L : 0);
        else
          *m = Depth<S>::Clamp((*m - lo) * L / (hi - lo));
      }
    }
  });
}

// One line of the separable maximum: the maximum of the samples within
// c - 1 of i and of the two at distance c weighted by f. A monotonic queue
// keeps the cost per sample constant whatever the radius.
void GrowLine(const int32_t* in, int32_t* out, int32_t n, int32_t c, double f, std::vector<int32_t>& queue) {
  queue.resize(static_cast<std::size_t>(n));
  int32_t head = 0, tail = 0, next = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t last = static_cast<int32_t>(std::min<int64_t>(n - 1, int64_t{i} + c - 1));
    for (; next <= last; ++next) {
      while (tail > head && in[queue[tail - 1]] <= in[next]) --tail;
      queue[tail++] = next;
    }
    while (queue[head] < int64_t{i} - (c - 1)) ++head;
    int32_t v = in[queue[head]];
    if (int64_t{i} - c >= 0) v = std::max(v, static_cast<int32_t>(f * in[i - c]));
    if (int64_t{i} + c < n) v = std::max(v, static_cast<int32_t>(f * in[i + c]));
    out[i] = v;
  }
}

// The window of radius r: c = ceil(r) samples each side, the outermost
// weighted by f. A window longer than the line is the same as one of the
// line's length, so c is capped there.
bool Window(double r, int32_t length, int32_t& c, double& f) {
  if (!(r > 0)) return false;
  const double up = std::ceil(r);
  if (up >= length) {
    c = length;
    f = 1.0;
  } else {
    c = static_cast<int32_t>(up);
    f = 1.0 - (up - r);
  }
  return true;
}

template <class S>
void ShrinkGrowMatteT(Raster& matte, const Rect& rect, double v, double scaleX, double scaleY) {
  constexpr int32_t L = Depth<S>::L;
  // Shrinking is growing the inverse.
  const bool shrink = v < 0;
  const auto load = [&](S s) { return shrink ? L - int32_t{s} : int32_t{s}; };
  const auto store = [&](int32_t s) { return static_cast<S>(shrink ? L - s : s); };
  const double radius = std::fabs(v);
  const int32_t w = rect.Width(), h = rect.Height();
  int32_t c = 0;
  double f = 0;
  // Lines are independent: each chunk of lines has its own buffers.
  const auto lines = [&](int32_t count, int32_t length, auto&& at) {
    ParallelFor(count, LineGrain(4 * int64_t{length}), [&](int32_t first, int32_t end) {
      std::vector<int32_t> in(static_cast<std::size_t>(length)), out(in.size()), queue;
      for (int32_t k = first; k < end; ++k) {
        for (int32_t i = 0; i < length; ++i) in[i] = load(at(k, i));
        GrowLine(in.data(), out.data(), length, c, f, queue);
        for (int32_t i = 0; i < length; ++i) at(k, i) = store(out[i]);
      }
    });
  };
  if (Window(radius * scaleX, w, c, f))
    lines(h, w, [&](int32_t k, int32_t i) -> S& { return matte.RowAs<S>(rect.top + k)[rect.left + i]; });
  if (Window(radius * scaleY, h, c, f))
    lines(w, h, [&](int32_t k, int32_t i) -> S& { return matte.RowAs<S>(rect.top + i)[rect.left + k]; });
}

// Pixels the shrink/grow window reaches on each side.
int32_t AdjustReach(double v, double scale) {
  const double r = std::fabs(v) * scale;
  if (!(r > 0)) return 0;
  return static_cast<int32_t>(std::min(std::ceil(r), double{std::numeric_limits<int32_t>::max() / 4}));
}

double BlurPixelsX(const RenderInfo& info, const MatteSettings& s) {
  return info.FullHeightPixels(s.blurX);
}
double BlurPixelsY(const RenderInfo& info, const MatteSettings& s) {
  return info.ScaledHeightPixels(s.blurY);
}

// The box blur of the matte, configured as Build runs it.
void ConfigureBlur(SeparableBlur& blur, const RenderInfo& info, const MatteSettings& s) {
  blur.SetMode(SeparableBlur::kBox);
  blur.SetPasses(info.reserved2);
  blur.SetRadii(static_cast<float>(BlurPixelsX(info, s)), static_cast<float>(BlurPixelsY(info, s)));
}

}  // namespace

void ClipMatte(Raster& matte, const Rect& rect, double black, double white) {
  if (black == 0 && white == 0) return;
  WithDepth(matte.Is16Bit(), [&]<class S>() { ClipMatteT<S>(matte, rect, black, white); });
}

void ShrinkGrowMatte(Raster& matte, const Rect& rect, double v, double scaleX, double scaleY) {
  if (!(v != 0) || rect.Empty()) return;
  WithDepth(matte.Is16Bit(), [&]<class S>() { ShrinkGrowMatteT<S>(matte, rect, v, scaleX, scaleY); });
}

void InvertMatte(Raster& matte, const Rect& rect) {
  WithDepth(matte.Is16Bit(), [&]<class S>() {
    ParallelRows(rect.top, rect.bottom, rect.Width(), [&](int32_t rowsBegin, int32_t rowsEnd) {
      for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
        S* m = matte.RowAs<S>(y) + rect.left;
        for (int32_t x = rect.left; x < rect.right; ++x, ++m) *m = static_cast<S>(Depth<S>::L - *m);
      }
    });
  });
}

void BlurMatte(Raster& matte, const Rect& rect, const RenderInfo& info, const MatteSettings& s) {
  if (!(s.blurX > 0 || s.blurY > 0)) return;
  SeparableBlur blur;
  ConfigureBlur(blur, info, s);
  blur.Blur(matte, rect);
}

void ShowMatte(const Raster& matte, Raster& destination, const Rect& rect) {
  WithDepth(destination.Is16Bit(), [&]<class S>() {
    ParallelRows(rect.top, rect.bottom, rect.Width(), [&](int32_t rowsBegin, int32_t rowsEnd) {
      for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
        const S* m = matte.RowAs<S>(y) + rect.left;
        S* d = destination.RowAs<S>(y) + 4 * rect.left;
        for (int32_t x = rect.left; x < rect.right; ++x, ++m, d += 4) {
          d[0] = d[1] = d[2] = *m;
          d[3] = static_cast<S>(Depth<S>::L);
        }
      }
    });
  });
}

// ----------------------------------------------------------- SelectionMatte

RasterRef SelectionMatte::Build(const Raster& source, const Rect& area, const RenderInfo& info,
                                const MatteSettings& s) {
  RasterRef matte = MakeRaster(source.Width(), source.Height(), 1, source.BytesPerSample());
  matte->Fill(0);
  const Rect rect = area.Intersect(source.Bounds());
  if (rect.Empty()) return matte;
  selector_.Select(source, *matte, rect, s.extractOn, s.centre, s.width);
  ClipMatte(*matte, rect, s.clipBlack, s.clipWhite);
  ShrinkGrowMatte(*matte, rect, s.shrinkGrow, info.scaleX, info.scaleY);
  BlurMatte(*matte, rect, info, s);
  if (s.invert) InvertMatte(*matte, rect);
  return matte;
}

int32_t SelectionMatte::ReachX(const RenderInfo& info, const MatteSettings& s) {
  int32_t reach = AdjustReach(s.shrinkGrow, info.scaleX);
  if (s.blurX > 0 || s.blurY > 0) {
    SeparableBlur blur;
    ConfigureBlur(blur, info, s);
    reach += blur.ReachX();
  }
  return reach;
}

int32_t SelectionMatte::ReachY(const RenderInfo& info, const MatteSettings& s) {
  int32_t reach = AdjustReach(s.shrinkGrow, info.scaleY);
  if (s.blurX > 0 || s.blurY > 0) {
    SeparableBlur blur;
    ConfigureBlur(blur, info, s);
    reach += blur.ReachY();
  }
  return reach;
}

void SelectionMatte::ExpandRect(const RenderInfo& info, const MatteSettings& s, Rect& rect) {
  rect = rect.Grown(ReachY(info, s), ReachX(info, s));
}

// ------------------------------------------------------------ the readers

MatteSettings MatteParams::Read(const Effect& e) const {
  MatteSettings s;
  s.extractOn = ExtractOn::kLuminance;
  s.centre = e.RangeValue(position) * 0.01;
  s.width = e.RangeValue(position + 1) * 0.02;
  s.blurX = s.blurY = e.RangeValue(position + 2);
  return s;
}

MatteSettings SelectionParams::Read(const Effect& e) const {
  MatteSettings s;
  s.extractOn = static_cast<ExtractOn>(std::clamp(e.ListIndex(first + kExtractOn), 0, kExtractOnCount - 1));
  s.centre = e.RangeValue(first + kPosition) * 0.01;
  s.width = e.RangeValue(first + kRange) * 0.02;
  s.clipBlack = e.Percent(first + kClipBlack);
  s.clipWhite = e.Percent(first + kClipWhite);
  s.shrinkGrow = e.RangeValue(first + kAdjust);
  s.blurX = e.RangeValue(first + kBlurX);
  s.blurY = e.BooleanValue(first + kBlurGang) ? s.blurX : e.RangeValue(first + kBlurY);
  s.invert = e.BooleanValue(first + kInvert);
  return s;
}

void SelectionParams::ParameterChanged(Effect& e, int index) const {
  if (index != first + kBlurGang) return;
  SetEnabled(e.Param(first + kBlurY), !e.BooleanValue(first + kBlurGang));
}

}  // namespace fx
