#include "imaging/resample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "imaging/parallel.h"
#include "imaging/pixel.h"

namespace fx {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

double Clamp01(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }

// ---------------------------------------------------------------- kernels

double BoxKernel(double x, const void*) { return (x >= -0.5 && x < 0.5) ? 1.0 : 0.0; }

double TriangleKernel(double x, const void*) {
  const double ax = std::fabs(x);
  return ax < 1.0 ? 1.0 - ax : 0.0;
}

double QuadraticKernel(double x, const void*) {
  const double ax = std::fabs(x);
  if (ax < 0.5) return 0.75 - x * x;
  if (ax < 1.5) {
    const double t = ax - 1.5;
    return t * t / 2.0;
  }
  return 0.0;
}

double CubicKernel(double x, const void*) {
  const double ax = std::fabs(x);
  double v = 0.0;
  if (ax < 1.0) {
    v = (4.0 - 6.0 * x * x + 3.0 * ax * ax * ax) / 6.0;
  } else if (ax < 2.0) {
    const double t = 2.0 - ax;
    v = t * t * t / 6.0;
  }
  return Clamp01(v);
}

double CatromKernel(double x, const void*) {
  const double ax = std::fabs(x);
  double v = 0.0;
  if (ax < 1.0) {
    v = (2.0 - 5.0 * x * x + 3.0 * ax * ax * ax) / 2.0;
  } else if (ax < 2.0) {
    v = (4.0 - 8.0 * ax + 5.0 * x * x - ax * ax * ax) / 2.0;
  }
  return Clamp01(v);
}

struct MitchellCoefficients {
  double p0, p2, p3, q0, q1, q2, q3;
};

MitchellCoefficients MakeMitchell(double b, double c) {
  return {(6.0 - 2.0 * b) / 6.0,
          (-18.0 + 12.0 * b + 6.0 * c) / 6.0,
          (12.0 - 9.0 * b - 6.0 * c) / 6.0,
          (8.0 * b + 24.0 * c) / 6.0,
          (-12.0 * b - 48.0 * c) / 6.0,
          (6.0 * b + 30.0 * c) / 6.0,
          (-b - 6.0 * c) / 6.0};
}

double MitchellKernel(double x, const void* parameters) {
  const auto& m = *static_cast<const MitchellCoefficients*>(parameters);
  const double ax = std::fabs(x);
  if (ax < 1.0) return m.p0 + x * x * (m.p2 + m.p3 * ax);
  if (ax < 2.0) return m.q0 + ax * (m.q1 + ax * (m.q2 + m.q3 * ax));
  return 0.0;
}

double GaussianKernel(double x, const void*) {
  return std::sqrt(0.6366197723675814) * std::exp(-2.0 * x * x);
}

double SincKernel(double x, const void*) {
  if (x == 0.0) return 1.0;
  const double t = kPi * x;
  return Clamp01(std::sin(t) / t);
}

double BesselKernel(double, const void*) { return 0.0; }

double HanningKernel(double x, const void*) { return 0.5 + 0.5 * std::cos(kPi * x); }

double HammingKernel(double x, const void*) { return 0.54 + 0.46 * std::cos(kPi * x); }

double BlackmanKernel(double x, const void*) {
  return 0.42 + 0.5 * std::cos(kPi * x) + 0.08 * std::cos(kTwoPi * x);
}

// Modified Bessel function of order 0, by its power series.
double BesselI0(double x) {
  const double y = x * x / 4.0;
  double sum = 1.0;
  double term = y;
  for (double c = 2.0; term > 1e-7; c += 1.0) {
    sum += term;
    term = term * y / (c * c);
  }
  return sum;
}

struct KaiserParameters {
  double a;
  double inverseI0a;  // 1 / I0(a)
};

double KaiserKernel(double x, const void* parameters) {
  const auto& k = *static_cast<const KaiserParameters*>(parameters);
  // Outside its support the window has no real value (the root of a
  // negative number); it contributes nothing there.
  if (!(std::fabs(x) <= 1.0)) return 0.0;
  return BesselI0(k.a * std::sqrt(1.0 - x * x)) * k.inverseI0a;
}

using KernelTable = std::array<ResampleFilter, 14>;

const KernelTable& Kernels() {
  static const MitchellCoefficients mitchell = MakeMitchell(0.3333333333333333, 0.3333333333333333);
  static const KaiserParameters kaiser{6.5, 1.0 / BesselI0(6.5)};
  static const KernelTable table{{
      // name, function, support, blur, windowed, cardinal, unit range, parameters
      {"point", BoxKernel, 0.0, 1.0, false, true, true, nullptr},
      {"box", BoxKernel, 0.5, 1.0, false, true, true, nullptr},
      {"triangle", TriangleKernel, 1.0, 1.0, false, true, true, nullptr},
      {"quadratic", QuadraticKernel, 1.5, 1.0, false, false, true, nullptr},
      {"cubic", CubicKernel, 2.0, 1.0, false, false, true, nullptr},
      {"catrom", CatromKernel, 2.0, 1.0, false, true, false, nullptr},
      {"mitchell", MitchellKernel, 2.0, 1.0, false, false, false, &mitchell},
      {"gaussian", GaussianKernel, 1.25, 1.0, false, false, true, nullptr},
      {"sinc", SincKernel, 4.0, 1.0, true, true, false, nullptr},
      {"bessel", BesselKernel, 3.2383, 1.0, true, false, false, nullptr},
      {"hanning", HanningKernel, 1.0, 1.0, false, true, true, nullptr},
      {"hamming", HammingKernel, 1.0, 1.0, false, true, true, nullptr},
      {"blackman", BlackmanKernel, 1.0, 1.0, false, true, true, nullptr},
      {"kaiser", KaiserKernel, 1.0, 1.0, false, true, true, &kaiser},
  }};
  return table;
}

// ---------------------------------------------------------- weight tables

constexpr int32_t kWeightBits = 14;
constexpr int32_t kWeightOne = 1 << kWeightBits;  // every table sums to this
// Fractional bits the intermediate rows keep beyond the sample depth.
constexpr int32_t kExtraBits = 8;
constexpr int32_t kFirstShift = kWeightBits - kExtraBits;
constexpr int32_t kFinalShift = kWeightBits + kExtraBits;
// Intermediates are stored in 32 bits; only degenerate kernels get near this.
constexpr int64_t kIntermediateLimit = int64_t{1} << 30;

// One axis of the mapping: destination coordinate d (pixel centres at
// integers) comes from source coordinate (d - offset) / scale.
struct Axis {
  double scale;
  double offset;
  int32_t sourceLo, sourceHi;            // clipped source window, inclusive
  int32_t destinationLo, destinationHi;  // clipped destination window, inclusive
};

// The kernel as it is applied along one axis, after stretching and point
// substitution.
struct AppliedKernel {
  const ResampleFilter* filter;
  double stretch;
  double support;
  bool point;
};

AppliedKernel Apply(const ResampleFilter& filter, const Axis& axis) {
  const double stretch = filter.blur * std::max(1.0, 1.0 / axis.scale);
  const double support = filter.support * stretch;
  // A kernel that reaches no further than the nearest pixel, or a cardinal
  // kernel at scale 1 on pixel-aligned centres, selects exactly one source
  // pixel per output: sample instead of filtering.
  const bool narrow = support <= 0.5;
  const bool aligned = filter.cardinal && std::fabs(1.0 / axis.scale - 1.0) <= 1e-7 &&
                       std::fabs(axis.offset - std::round(axis.offset)) <= 1e-7;
  if (narrow || aligned) return {&Kernels()[0], 1.0, 0.5, true};
  return {&filter, stretch, support, false};
}

struct WeightTable {
  // Per output position: first contributing source index (absolute until
  // Rebase, then relative to the first source index read), count, and where
  // its weights start.
  std::vector<int32_t> start;
  std::vector<int32_t> count;
  std::vector<std::size_t> offset;
  std::vector<int32_t> weights;
  int32_t first = std::numeric_limits<int32_t>::max();  // source span used
  int32_t last = std::numeric_limits<int32_t>::min();
  int64_t total = 0;  // sum of the counts: the arithmetic of one pass over a line

  void Rebase() {
    for (int32_t& s : start) s -= first;
  }
  int32_t Span() const { return last - first + 1; }
};

int32_t ClampToInt32(double v, int32_t lo, int32_t hi) {
  if (!(v >= lo)) return lo;
  if (v > hi) return hi;
  return static_cast<int32_t>(v);
}

// trim: drop zero weights at both ends (the x tables; the y tables keep
// them so that the rows each output needs advance monotonically).
WeightTable BuildWeights(const AppliedKernel& kernel, const Axis& axis, bool trim) {
  WeightTable table;
  const int32_t n = axis.destinationHi - axis.destinationLo + 1;
  table.start.reserve(static_cast<std::size_t>(n));
  table.count.reserve(static_cast<std::size_t>(n));
  table.offset.reserve(static_cast<std::size_t>(n));
  std::vector<double> w;
  std::vector<int32_t> iw;
  for (int32_t d = axis.destinationLo; d <= axis.destinationHi; ++d) {
    // Centre in source coordinates where pixel j spans [j, j + 1).
    const double centre = (d - axis.offset) / axis.scale + 0.5;
    const int32_t lo =
        ClampToInt32(std::ceil(centre - kernel.support - 0.5), axis.sourceLo, axis.sourceHi + 1);
    const int32_t hi =
        ClampToInt32(std::floor(centre + kernel.support - 0.5), axis.sourceLo - 1, axis.sourceHi);
    w.clear();
    double sum = 0.0;
    for (int32_t j = lo; j <= hi; ++j) {
      const double v = (*kernel.filter)((j + 0.5 - centre) / kernel.stretch);
      w.push_back(v);
      sum += v;
    }
    int32_t first = lo;
    iw.clear();
    if (w.empty() || sum == 0.0 || !std::isfinite(sum)) {
      // Nothing contributes (or the kernel is zero everywhere): take the
      // pixel under the centre.
      first = ClampToInt32(std::ceil(centre) - 1.0, axis.sourceLo, axis.sourceHi);
      iw.push_back(kWeightOne);
    } else {
      int32_t total = 0;
      std::size_t nearest = 0;
      double nearestDistance = std::numeric_limits<double>::infinity();
      for (std::size_t k = 0; k < w.size(); ++k) {
        const double scaled = std::floor(w[k] / sum * kWeightOne + 0.5);
        const int32_t v = ClampToInt32(scaled, -(1 << 24), 1 << 24);
        iw.push_back(v);
        total += v;
        const double distance = std::fabs(lo + static_cast<double>(k) + 0.5 - centre);
        if (distance < nearestDistance) {
          nearestDistance = distance;
          nearest = k;
        }
      }
      iw[nearest] += kWeightOne - total;
      if (trim) {
        std::size_t b = 0;
        std::size_t e = iw.size();
        while (b < e && iw[b] == 0) ++b;
        while (e > b && iw[e - 1] == 0) --e;
        iw.erase(iw.begin() + static_cast<std::ptrdiff_t>(e), iw.end());
        iw.erase(iw.begin(), iw.begin() + static_cast<std::ptrdiff_t>(b));
        first = lo + static_cast<int32_t>(b);
      }
    }
    const auto count = static_cast<int32_t>(iw.size());
    table.start.push_back(first);
    table.count.push_back(count);
    table.offset.push_back(table.weights.size());
    table.weights.insert(table.weights.end(), iw.begin(), iw.end());
    table.first = std::min(table.first, first);
    table.last = std::max(table.last, first + count - 1);
    table.total += count;
  }
  return table;
}

// Rows the ring of a vertical pass must hold: rows are read in ascending
// order up to the highest row needed so far, and each output needs its own
// rows still present.
int32_t RingRows(const WeightTable& y) {
  int32_t rows = 1;
  int32_t highest = std::numeric_limits<int32_t>::min();
  for (std::size_t i = 0; i < y.start.size(); ++i) {
    highest = std::max(highest, y.start[i] + y.count[i] - 1);
    rows = std::max(rows, highest - y.start[i] + 1);
  }
  return std::min(rows, y.Span());
}

// ------------------------------------------------------------ row access

// Reads source rows of one column span, converted to the destination's
// sample type D.
template <class D>
class SourceRows {
 public:
  SourceRows(RowImage& image, int32_t left, int32_t count, int32_t channels)
      : image_(image),
        left_(left),
        count_(count),
        samples_(static_cast<std::size_t>(count) * channels),
        sourceBytes_(image.BytesPerSample()) {
    if (sourceBytes_ != static_cast<int32_t>(Depth<D>::kBytes))
      raw_.resize(samples_ * static_cast<std::size_t>(sourceBytes_));
  }
  std::size_t Samples() const { return samples_; }

  void Read(int32_t row, D* out) {
    if (raw_.empty()) {
      image_.ReadRow(row, left_, count_, out);
      return;
    }
    image_.ReadRow(row, left_, count_, raw_.data());
    if constexpr (sizeof(D) == 2) {
      // 8-bit magnitudes widened as everywhere else: 255 becomes 32768.
      for (std::size_t i = 0; i < samples_; ++i) out[i] = static_cast<D>(Magnitude8To16(raw_[i]));
    } else {
      for (std::size_t i = 0; i < samples_; ++i) {
        uint16_t s;
        std::memcpy(&s, raw_.data() + 2 * i, 2);
        const int32_t v = std::min<int32_t>(s, Depth<uint16_t>::L);
        out[i] = static_cast<D>((v * 255 + (1 << 14)) >> 15);
      }
    }
  }

 private:
  RowImage& image_;
  int32_t left_;
  int32_t count_;
  std::size_t samples_;
  int32_t sourceBytes_;
  std::vector<uint8_t> raw_;
};

// Stores an accumulated value: intermediates keep their fractional bits,
// final samples are clamped to the depth.
template <class Out>
inline Out Store(int64_t v) {
  if constexpr (std::is_same_v<Out, int32_t>) {
    return static_cast<int32_t>(std::clamp(v, -kIntermediateLimit, kIntermediateLimit));
  } else {
    return Depth<Out>::Clamp(v);
  }
}

// Horizontal pass over one row of C-channel pixels. Outputs are
// independent, so a long row is split among the workers (the rows
// themselves are read in order, on the calling thread).
template <int C, class In, class Out>
void FilterRow(const In* in, const WeightTable& x, int32_t shift, Out* out) {
  const int64_t bias = int64_t{1} << (shift - 1);
  const auto n = static_cast<int32_t>(x.start.size());
  const int64_t perOutput = n > 0 ? x.total * C / n + 1 : 1;
  ParallelFor(n, LineGrain(perOutput), [&](int32_t first, int32_t end) {
    for (int32_t p = first; p < end; ++p) {
      const In* src = in + static_cast<std::ptrdiff_t>(x.start[p]) * C;
      const int32_t* w = x.weights.data() + x.offset[p];
      const int32_t count = x.count[p];
      int64_t acc[C];
      for (int c = 0; c < C; ++c) acc[c] = bias;
      for (int32_t k = 0; k < count; ++k) {
        const int64_t wk = w[k];
        for (int c = 0; c < C; ++c) acc[c] += static_cast<int64_t>(src[k * C + c]) * wk;
      }
      for (int c = 0; c < C; ++c) out[static_cast<std::ptrdiff_t>(p) * C + c] = Store<Out>(acc[c] >> shift);
    }
  });
}

// Vertical pass: one output line from count input lines of samples each,
// split along the line among the workers.
template <class In, class Out>
void FilterColumns(const In* const* lines, const int32_t* w, int32_t count, std::size_t samples,
                   int32_t shift, std::vector<int64_t>& acc, Out* out) {
  const int64_t bias = int64_t{1} << (shift - 1);
  int64_t* a = acc.data();
  ParallelFor(static_cast<int32_t>(samples), LineGrain(count), [&](int32_t first, int32_t end) {
    std::fill(a + first, a + end, bias);
    for (int32_t k = 0; k < count; ++k) {
      const In* line = lines[k];
      const int64_t wk = w[k];
      for (int32_t i = first; i < end; ++i) a[i] += static_cast<int64_t>(line[i]) * wk;
    }
    for (int32_t i = first; i < end; ++i) out[i] = Store<Out>(a[i] >> shift);
  });
}

// Ring of lines indexed by source row.
template <class T>
class LineRing {
 public:
  LineRing(int32_t rows, std::size_t samples, int32_t firstRow)
      : rows_(rows),
        samples_(samples),
        firstRow_(firstRow),
        data_(static_cast<std::size_t>(rows) * samples) {}
  T* Line(int32_t row) {
    return data_.data() + static_cast<std::size_t>((row - firstRow_) % rows_) * samples_;
  }

 private:
  int32_t rows_;
  std::size_t samples_;
  int32_t firstRow_;
  std::vector<T> data_;
};

struct Plan {
  Axis x, y;
  WeightTable xw, yw;  // xw rebased to the first source column read
};

template <class D, int C>
void WriteLine(RowImage& destination, const Plan& plan, int32_t row, const D* line) {
  destination.WriteRow(row, plan.x.destinationLo * C * static_cast<int32_t>(sizeof(D)),
                       plan.x.destinationHi - plan.x.destinationLo + 1, line);
}

// Both axes sample a single pixel: copy without arithmetic.
template <class D, int C>
void Sample(RowImage& source, RowImage& destination, const Plan& plan) {
  auto pick = [](const WeightTable& t, std::size_t p) {
    const int32_t* w = t.weights.data() + t.offset[p];
    return t.start[p] + static_cast<int32_t>(std::max_element(w, w + t.count[p]) - w);
  };
  const std::size_t width = plan.xw.start.size();
  std::vector<int32_t> column(width);
  for (std::size_t p = 0; p < width; ++p) column[p] = pick(plan.xw, p);
  SourceRows<D> rows(source, plan.xw.first, plan.xw.Span(), C);
  std::vector<D> in(rows.Samples());
  std::vector<D> out(width * C);
  int32_t loaded = std::numeric_limits<int32_t>::min();
  for (std::size_t q = 0; q < plan.yw.start.size(); ++q) {
    const int32_t row = pick(plan.yw, q);
    if (row != loaded) {
      rows.Read(row, in.data());
      loaded = row;
    }
    for (std::size_t p = 0; p < width; ++p)
      std::copy_n(in.data() + static_cast<std::size_t>(column[p]) * C, C, out.data() + p * C);
    WriteLine<D, C>(destination, plan, plan.y.destinationLo + static_cast<int32_t>(q), out.data());
  }
}

// Horizontal pass on each source row into a ring of intermediate rows, then
// the vertical pass per output row.
template <class D, int C>
void FilterXFirst(RowImage& source, RowImage& destination, const Plan& plan) {
  const std::size_t outSamples = plan.xw.start.size() * C;
  SourceRows<D> rows(source, plan.xw.first, plan.xw.Span(), C);
  std::vector<D> in(rows.Samples());
  LineRing<int32_t> ring(RingRows(plan.yw), outSamples, plan.yw.first);
  std::vector<const int32_t*> lines;
  std::vector<int64_t> acc(outSamples);
  std::vector<D> out(outSamples);
  int32_t next = plan.yw.first;
  for (std::size_t q = 0; q < plan.yw.start.size(); ++q) {
    const int32_t top = plan.yw.start[q];
    const int32_t count = plan.yw.count[q];
    for (; next <= top + count - 1; ++next) {
      rows.Read(next, in.data());
      FilterRow<C>(in.data(), plan.xw, kFirstShift, ring.Line(next));
    }
    lines.clear();
    for (int32_t k = 0; k < count; ++k) lines.push_back(ring.Line(top + k));
    FilterColumns(lines.data(), plan.yw.weights.data() + plan.yw.offset[q], count, outSamples,
                  kFinalShift, acc, out.data());
    WriteLine<D, C>(destination, plan, plan.y.destinationLo + static_cast<int32_t>(q), out.data());
  }
}

// Vertical pass over a ring of source rows per output row, then the
// horizontal pass on the result.
template <class D, int C>
void FilterYFirst(RowImage& source, RowImage& destination, const Plan& plan) {
  SourceRows<D> rows(source, plan.xw.first, plan.xw.Span(), C);
  const std::size_t inSamples = rows.Samples();
  LineRing<D> ring(RingRows(plan.yw), inSamples, plan.yw.first);
  std::vector<const D*> lines;
  std::vector<int64_t> acc(inSamples);
  std::vector<int32_t> middle(inSamples);
  std::vector<D> out(plan.xw.start.size() * C);
  int32_t next = plan.yw.first;
  for (std::size_t q = 0; q < plan.yw.start.size(); ++q) {
    const int32_t top = plan.yw.start[q];
    const int32_t count = plan.yw.count[q];
    for (; next <= top + count - 1; ++next) rows.Read(next, ring.Line(next));
    lines.clear();
    for (int32_t k = 0; k < count; ++k) lines.push_back(ring.Line(top + k));
    FilterColumns(lines.data(), plan.yw.weights.data() + plan.yw.offset[q], count, inSamples,
                  kFirstShift, acc, middle.data());
    FilterRow<C>(middle.data(), plan.xw, kFinalShift, out.data());
    WriteLine<D, C>(destination, plan, plan.y.destinationLo + static_cast<int32_t>(q), out.data());
  }
}

template <class D, int C>
void Run(RowImage& source, RowImage& destination, const Plan& plan, bool sample) {
  if (sample) {
    Sample<D, C>(source, destination, plan);
    return;
  }
  // Multiply-adds of each order: x first filters every source row read to
  // the output width; y first filters every output row at the source width.
  const int64_t outWidth = static_cast<int64_t>(plan.xw.start.size());
  const int64_t outHeight = static_cast<int64_t>(plan.yw.start.size());
  const int64_t xFirst = plan.yw.Span() * plan.xw.total + outWidth * plan.yw.total;
  const int64_t yFirst = plan.xw.Span() * plan.yw.total + outHeight * plan.xw.total;
  if (xFirst <= yFirst) {
    FilterXFirst<D, C>(source, destination, plan);
  } else {
    FilterYFirst<D, C>(source, destination, plan);
  }
}

template <class D>
void RunChannels(int32_t channels, RowImage& source, RowImage& destination, const Plan& plan,
                 bool sample) {
  switch (channels) {
    case 1:
      Run<D, 1>(source, destination, plan, sample);
      break;
    case 2:
      Run<D, 2>(source, destination, plan, sample);
      break;
    case 3:
      Run<D, 3>(source, destination, plan, sample);
      break;
    default:
      Run<D, 4>(source, destination, plan, sample);
      break;
  }
}

// Builds one axis from the unclipped windows; false when nothing is to be
// done along it.
bool MakeAxis(int32_t s0, int32_t s1, int32_t sourceSize, int32_t d0, int32_t d1,
              int32_t destinationSize, Axis& axis) {
  const int64_t sourceCount = int64_t{s1} - s0 + 1;
  const int64_t destinationCount = int64_t{d1} - d0 + 1;
  if (sourceCount <= 0 || destinationCount <= 0) return false;
  axis.scale = static_cast<double>(destinationCount) / static_cast<double>(sourceCount);
  axis.offset = (d0 - 0.5) - (s0 - 0.5) * axis.scale;
  axis.sourceLo = std::max(s0, 0);
  axis.sourceHi = std::min(s1, sourceSize - 1);
  axis.destinationLo = std::max(d0, 0);
  axis.destinationHi = std::min(d1, destinationSize - 1);
  return axis.sourceLo <= axis.sourceHi && axis.destinationLo <= axis.destinationHi;
}

}  // namespace

const ResampleFilter* FindFilter(std::string_view name) {
  for (const ResampleFilter& f : Kernels())
    if (name == f.name) return &f;
  return nullptr;
}

void Scale(RowImage& source, ScaleWindow sourceWindow, RowImage& destination,
           ScaleWindow destinationWindow, const ResampleFilter& xKernel,
           const ResampleFilter& yKernel) {
  const int32_t channels = source.Channels();
  const int32_t sourceBytes = source.BytesPerSample();
  const int32_t destinationBytes = destination.BytesPerSample();
  if (channels < 1 || channels > 4 || destination.Channels() != channels ||
      (sourceBytes != 1 && sourceBytes != 2) || (destinationBytes != 1 && destinationBytes != 2))
    throw std::invalid_argument("Scale: unsupported pair of images");

  int32_t sourceWidth = 0, sourceHeight = 0, destinationWidth = 0, destinationHeight = 0;
  source.Size(sourceWidth, sourceHeight);
  destination.Size(destinationWidth, destinationHeight);

  Plan plan;
  if (!MakeAxis(sourceWindow.x0, sourceWindow.x1, sourceWidth, destinationWindow.x0,
                destinationWindow.x1, destinationWidth, plan.x) ||
      !MakeAxis(sourceWindow.y0, sourceWindow.y1, sourceHeight, destinationWindow.y0,
                destinationWindow.y1, destinationHeight, plan.y))
    return;

  const AppliedKernel kx = Apply(xKernel, plan.x);
  const AppliedKernel ky = Apply(yKernel, plan.y);
  plan.xw = BuildWeights(kx, plan.x, true);
  plan.yw = BuildWeights(ky, plan.y, false);
  plan.xw.Rebase();
  const bool sample = kx.point && ky.point;

  if (destinationBytes == 2) {
    RunChannels<uint16_t>(channels, source, destination, plan, sample);
  } else {
    RunChannels<uint8_t>(channels, source, destination, plan, sample);
  }
}

}  // namespace fx
