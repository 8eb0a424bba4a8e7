#include "imaging/tone_curve.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "imaging/raster.h"

namespace fx {
namespace {

// Table index to curve input: 1/255 in double precision, exactly 1/32768.
template <class S>
constexpr double kTableStep = 0;
template <>
constexpr double kTableStep<uint8_t> = 0.00392156862745098;
template <>
constexpr double kTableStep<uint16_t> = 0.000030517578125;

double Clamp01(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }

// A computed table value truncated toward zero into a sample; values out of
// range (and NaN from a malformed curve) are clamped instead of converted.
template <class S>
S TableSample(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= Depth<S>::L) return static_cast<S>(Depth<S>::L);
  return static_cast<S>(v);
}

template <class S>
void FillIdentity(std::span<S, Depth<S>::kTableSize> table) {
  for (int32_t i = 0; i < Depth<S>::kTableSize; ++i) table[i] = static_cast<S>(i);
}

}  // namespace

// ------------------------------------------------------------- ToneCurve

void ToneCurve::SetPoints(std::span<const Control> points) {
  points_.clear();
  points_.reserve(points.size());
  for (const Control& p : points) points_.push_back({p.x, p.y, 0.0});
  clamp_ = true;
  interpolation_ = points.size() > 2 ? kSpline : kLinear;
  dirty_ = true;
}

bool ToneCurve::IsIdentity() const {
  return points_.size() == 2 && points_[0].x == 0.0 && points_[0].y == 0.0 && points_[1].x == 1.0 &&
         points_[1].y == 1.0;
}

double ToneCurve::Evaluate(double x) const {
  if (points_.empty()) return clamp_ ? Clamp01(x) : x;
  double y;
  if (x <= points_.front().x) {
    y = points_.front().y;
  } else if (x >= points_.back().x) {
    y = points_.back().y;
  } else if (interpolation_ == kLinear || (interpolation_ == kSpline && points_.size() == 2)) {
    y = Linear(x);
  } else if (interpolation_ == kSpline) {
    y = Spline(x);
  } else {
    return x;
  }
  return clamp_ ? Clamp01(y) : y;
}

double ToneCurve::Linear(double x) const {
  for (std::size_t i = 0; i < points_.size(); ++i) {
    const Point& p = points_[i];
    if (p.x == x) return p.y;
    if (p.x > x) {
      if (i == 0) return p.y;
      const Point& q = points_[i - 1];
      return q.y + (p.y - q.y) * (x - q.x) / (p.x - q.x);
    }
  }
  return points_.back().y;  // only for an input no point compares with (NaN)
}

// Natural spline: y2 is 0 at both ends; the inner points satisfy
//   h[i-1] y2[i-1] + 2 (h[i-1] + h[i]) y2[i] + h[i] y2[i+1]
//     = 6 ((y[i+1] - y[i]) / h[i] - (y[i] - y[i-1]) / h[i-1]),
// a tridiagonal system solved by elimination and back substitution.
void ToneCurve::SolveSecondDerivatives() const {
  const std::size_t n = points_.size();
  for (Point& p : points_) p.y2 = 0.0;
  dirty_ = false;
  if (n < 3) return;
  std::vector<double> diagonal(n, 0.0);
  std::vector<double> upper(n, 0.0);
  std::vector<double> rhs(n, 0.0);
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const double hPrev = points_[i].x - points_[i - 1].x;
    const double h = points_[i + 1].x - points_[i].x;
    const double lower = hPrev;
    diagonal[i] = 2.0 * (hPrev + h);
    upper[i] = h;
    rhs[i] =
        6.0 * ((points_[i + 1].y - points_[i].y) / h - (points_[i].y - points_[i - 1].y) / hPrev);
    if (i > 1) {
      const double m = lower / diagonal[i - 1];
      diagonal[i] -= m * upper[i - 1];
      rhs[i] -= m * rhs[i - 1];
    }
  }
  points_[n - 2].y2 = rhs[n - 2] / diagonal[n - 2];
  for (std::size_t i = n - 2; i-- > 1;)
    points_[i].y2 = (rhs[i] - upper[i] * points_[i + 1].y2) / diagonal[i];
}

double ToneCurve::Spline(double x) const {
  if (dirty_) SolveSecondDerivatives();
  const std::size_t n = points_.size();
  std::size_t i = 0;
  while (i + 2 < n && !(x <= points_[i + 1].x)) ++i;
  const Point& p = points_[i];
  const Point& q = points_[i + 1];
  const double a = q.x - p.x;
  const double t = x - p.x;
  return p.y + t * ((q.y - p.y) / a - a * (2.0 * p.y2 + q.y2) * 0.16666666666666666 +
                    t * (p.y2 * 0.5 + t * (q.y2 - p.y2) / (6.0 * a)));
}

ToneCurve TonalBand(double centre, double width) {
  return ToneCurve{{centre - width, 0.0},
                   {centre - width / 2, 0.2},
                   {centre, 1.0},
                   {centre + width / 2, 0.2},
                   {centre + width, 0.0}};
}

double ToneShape(double x, double brightness, double contrast, double bend) {
  if (bend != 0.0) {
    const double k = 1.0 - bend;
    const double h = k * k + 4.0 * bend * x;
    x = h > 0.0 ? -(k + bend * x - std::sqrt(h)) / bend : -(k + bend * x) / bend;
  }
  x = x * (brightness + 1.0);
  if (contrast < 0.0) {
    x = (x - 0.5) * (contrast + 1.0) + 0.5;
  } else if (contrast > 0.0) {
    if (1.0 - contrast <= 0.0) return x < 0.5 ? 0.0 : 1.0;
    x = (x - 0.5) / (1.0 - contrast) + 0.5;
  }
  return Clamp01(x);
}

// ----------------------------------------------------------------- tables

template <class S>
void FillCurveTable(const ToneCurve& curve, std::span<S, Depth<S>::kTableSize> table) {
  if (curve.IsIdentity()) {
    FillIdentity<S>(table);
    return;
  }
  for (int32_t i = 0; i < Depth<S>::kTableSize; ++i)
    table[i] = TableSample<S>(curve.Evaluate(i * kTableStep<S>) * Depth<S>::L);
}

template <class S>
std::vector<S> CurveTable(const ToneCurve& curve) {
  std::vector<S> table(Depth<S>::kTableSize);
  FillCurveTable<S>(curve, std::span<S, Depth<S>::kTableSize>(table.data(), table.size()));
  return table;
}

template <class S>
void FillToneShapeTable(double brightness, double contrast, double bend,
                        std::span<S, Depth<S>::kTableSize> table) {
  if (brightness == 0.0 && contrast == 0.0 && bend == 0.0) {
    FillIdentity<S>(table);
    return;
  }
  for (int32_t i = 0; i < Depth<S>::kTableSize; ++i)
    table[i] = TableSample<S>(
        ToneShape(i * kTableStep<S>, brightness, contrast, bend) * Depth<S>::L + 0.5);
}

template <class S>
std::vector<S> ToneShapeTable(double brightness, double contrast, double bend) {
  std::vector<S> table(Depth<S>::kTableSize);
  FillToneShapeTable<S>(brightness, contrast, bend,
                        std::span<S, Depth<S>::kTableSize>(table.data(), table.size()));
  return table;
}

template void FillCurveTable<uint8_t>(const ToneCurve&, std::span<uint8_t, 256>);
template void FillCurveTable<uint16_t>(const ToneCurve&, std::span<uint16_t, 32769>);
template std::vector<uint8_t> CurveTable<uint8_t>(const ToneCurve&);
template std::vector<uint16_t> CurveTable<uint16_t>(const ToneCurve&);
template void FillToneShapeTable<uint8_t>(double, double, double, std::span<uint8_t, 256>);
template void FillToneShapeTable<uint16_t>(double, double, double, std::span<uint16_t, 32769>);
template std::vector<uint8_t> ToneShapeTable<uint8_t>(double, double, double);
template std::vector<uint16_t> ToneShapeTable<uint16_t>(double, double, double);

// ----------------------------------------------------------- linear light

namespace {

// sRGB to linear of a unit value computed in single precision.
double SrgbToLinear(float x) {
  if (x <= 0.04045) return x * 0.07739938;
  return std::pow((x + 0.055) * 0.94786733, 2.4000000953674316);
}

double LinearToSrgb(float a) {
  if (a <= 0.003130805) return a * 12.92;
  return 1.055 * std::pow(a, 0.4166666567325592) - 0.055;
}

}  // namespace

LinearTables::LinearTables()
    : toLinear16_(Depth16::kTableSize),
      fromLinear8_(Depth16::kTableSize),
      fromLinear16_(Depth16::kTableSize) {
  for (int32_t i = 0; i < Depth8::kTableSize; ++i) {
    const float x = static_cast<float>(i) * 0.003921569f;
    toLinear8_[i] = TableSample<uint16_t>(SrgbToLinear(x) * 32768);
  }
  for (int32_t i = 0; i < Depth16::kTableSize; ++i) {
    const float x = static_cast<float>(i) * 0.000030517578125f;
    toLinear16_[i] = TableSample<uint16_t>(SrgbToLinear(x) * 32768);
    const double b = LinearToSrgb(x);
    fromLinear8_[i] = TableSample<uint8_t>(b * 255);
    fromLinear16_[i] = TableSample<uint16_t>(b * 32768);
  }
  // Full scale comes back as full scale: 1.055 - 0.055 falls just short of 1
  // in double precision, which would truncate white to 254 and 32767.
  fromLinear8_[Depth16::L] = Depth8::L;
  fromLinear16_[Depth16::L] = Depth16::L;
}

const LinearTables& LinearTables::Get() {
  static const LinearTables tables;
  return tables;
}

namespace {

// Clips a copy of sourceRect of a raster with bounds sourceBounds, placed at
// (column, row) of a raster with bounds destinationBounds, to both. Returns
// the clipped source rectangle and the offset from source to destination.
Rect ClipTransfer(const Rect& sourceRect, const Rect& sourceBounds, int32_t column, int32_t row,
                  const Rect& destinationBounds, int64_t& dx, int64_t& dy) {
  dx = int64_t{column} - sourceRect.left;
  dy = int64_t{row} - sourceRect.top;
  const Rect s = sourceRect.Intersect(sourceBounds);
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  const auto clip = [](int64_t v, int64_t lo, int64_t hi) { return std::clamp(v, lo, hi); };
  // The destination bounds seen in source coordinates.
  const Rect d{static_cast<int32_t>(clip(destinationBounds.top - dy, kMin, kMax)),
               static_cast<int32_t>(clip(destinationBounds.left - dx, kMin, kMax)),
               static_cast<int32_t>(clip(destinationBounds.bottom - dy, kMin, kMax)),
               static_cast<int32_t>(clip(destinationBounds.right - dx, kMin, kMax))};
  return s.Intersect(d);
}

// Every sample of the clipped rectangle through table, from depth In to Out.
template <class In, class Out, std::size_t N>
void MapSamples(const Raster& source, const Rect& sourceRect, Raster& destination, int32_t column,
                int32_t row, std::span<const Out, N> table) {
  int64_t dx = 0, dy = 0;
  const Rect r =
      ClipTransfer(sourceRect, source.Bounds(), column, row, destination.Bounds(), dx, dy);
  if (r.Empty()) return;
  const int32_t channels = source.Channels();
  const std::size_t samples = static_cast<std::size_t>(r.Width()) * channels;
  constexpr int32_t kTop = Depth<In>::L;  // stray samples above full scale read its entry
  for (int32_t y = r.top; y < r.bottom; ++y) {
    const In* in = source.RowAs<In>(y) + static_cast<std::ptrdiff_t>(r.left) * channels;
    Out* out = destination.RowAs<Out>(static_cast<int32_t>(y + dy)) +
               static_cast<std::ptrdiff_t>(r.left + dx) * channels;
    for (std::size_t i = 0; i < samples; ++i) out[i] = table[std::min<int32_t>(in[i], kTop)];
  }
}

}  // namespace

void ToLinear(const Raster& source, const Rect& sourceRect, Raster& destination, int32_t column,
              int32_t row) {
  if (!destination.Is16Bit() || destination.Channels() != source.Channels())
    throw std::invalid_argument("ToLinear: the destination must be 16-bit with the same channels");
  const LinearTables& tables = LinearTables::Get();
  WithDepth(source.Is16Bit(), [&]<class S>() {
    MapSamples<S, uint16_t>(source, sourceRect, destination, column, row, tables.ToLinear<S>());
  });
}

void ToLinear(const Raster& source, Raster& destination, const Rect& rect) {
  ToLinear(source, rect, destination, rect.left, rect.top);
}

void FromLinear(const Raster& source, const Rect& sourceRect, Raster& destination, int32_t column,
                int32_t row) {
  if (!source.Is16Bit() || destination.Channels() != source.Channels())
    throw std::invalid_argument("FromLinear: the source must be 16-bit with the same channels");
  const LinearTables& tables = LinearTables::Get();
  WithDepth(destination.Is16Bit(), [&]<class S>() {
    MapSamples<uint16_t, S>(source, sourceRect, destination, column, row, tables.FromLinear<S>());
  });
}

void FromLinear(const Raster& source, Raster& destination, const Rect& rect) {
  FromLinear(source, rect, destination, rect.left, rect.top);
}

}  // namespace fx
