// The masked Gaussian. Along each line of a pass the pixels come in runs
// that share a kernel; a run away from the line's ends is one stretch of
// samples filtered together, tap by tap, the two taps at equal distance
// from the centre (their weights are equal) taken with one product. In
// 32-bit unsigned arithmetic w a + w b = w (a + b) exactly, wrap-around
// included, so the sums equal those of the plain tap-by-tap loop. Columns
// are filtered the same way with the lines' rows as the taps, so they read
// memory along rows; the clamping at the column's ends is only the choice
// of those rows.
#include "imaging/masked_blur.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>

#include "imaging/parallel.h"
#include "imaging/pixel.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define OVRA_MASKED_AVX2 1
#endif

namespace fx {

namespace {

std::atomic<int32_t> instructionLimit{1};

bool UseAvx2() {
#if defined(OVRA_MASKED_AVX2)
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has && instructionLimit.load(std::memory_order_relaxed) >= 1;
#else
  return false;
#endif
}

__extension__ typedef unsigned __int128 U128;

// n / d for 32-bit n and d >= 2 as the high half of n ceil(2^64 / d): the
// product exceeds n 2^64 / d by less than n < 2^32 and so by less than
// 2^64 / d, which never carries the quotient past the next integer.
struct Divisor {
  explicit Divisor(uint32_t d) : one(d == 1), m(d <= 1 ? 0 : ~uint64_t{0} / d + 1) {}
  uint32_t Of(uint32_t n) const { return one ? n : static_cast<uint32_t>((static_cast<U128>(n) * m) >> 64); }
  bool one;
  uint64_t m;
};

// Samples filtered together in one block: a fixed count, so that the
// compiler keeps the block's sums in vector registers across the taps.
constexpr int32_t kBlock = 32;

// out[i] = (taps[half] c[i] + sum over t < half of taps[t] (a[i] + b[i])) /
// sum for i < count, with c = lines[half] + i, a = lines[t] + i, b =
// lines[2 half - t] + i: a run of samples of one kernel.
// Samples e0 .. e0 + n - 1, n at most N; the loops of a full block have a
// fixed count.
template <class S, bool kFull>
[[gnu::always_inline]] inline void FilterBlock(const S* const* lines, const uint32_t* taps, int32_t half,
                                               const Divisor& sum, std::ptrdiff_t e0, int32_t n, S* out) {
  if constexpr (kFull) n = kBlock;
  uint32_t acc[kBlock];
  const S* c = lines[half] + e0;
  const uint32_t w = taps[half];
  for (int32_t i = 0; i < n; ++i) acc[i] = w * c[i];
  for (int32_t t = 0; t < half; ++t) {
    const S* a = lines[t] + e0;
    const S* b = lines[2 * half - t] + e0;
    const uint32_t wt = taps[t];
    for (int32_t i = 0; i < n; ++i) acc[i] += wt * (static_cast<uint32_t>(a[i]) + b[i]);
  }
  for (int32_t i = 0; i < n; ++i) out[e0 + i] = static_cast<S>(sum.Of(acc[i]));
}

template <class S>
[[gnu::always_inline]] inline void FilterRun(const S* const* lines, const GaussKernel& k, int32_t count, S* out) {
  const int32_t half = static_cast<int32_t>(k.taps.size() / 2);
  const uint32_t* taps = reinterpret_cast<const uint32_t*>(k.taps.data());
  const Divisor sum(k.sum);
  int32_t e0 = 0;
  for (; e0 + kBlock <= count; e0 += kBlock) FilterBlock<S, true>(lines, taps, half, sum, e0, kBlock, out);
  if (e0 < count) FilterBlock<S, false>(lines, taps, half, sum, e0, count - e0, out);
}

template <class S>
void FilterRunBase(const S* const* lines, const GaussKernel& k, int32_t count, S* out) {
  FilterRun<S>(lines, k, count, out);
}
#if defined(OVRA_MASKED_AVX2)
template <class S>
[[gnu::target("avx2")]] void FilterRunAvx2(const S* const* lines, const GaussKernel& k, int32_t count, S* out) {
  FilterRun<S>(lines, k, count, out);
}
#endif

template <class S>
void Filter(const S* const* lines, const GaussKernel& k, int32_t count, S* out, bool avx2) {
#if defined(OVRA_MASKED_AVX2)
  if (avx2) return FilterRunAvx2<S>(lines, k, count, out);
#endif
  (void)avx2;
  FilterRunBase<S>(lines, k, count, out);
}

// Mask value m (at most full scale) as a radius of the limited radius r.
template <class S>
float MaskedRadius(float r, uint32_t m) {
  return r * static_cast<float>(m) * Depth<S>::kToUnit;
}
int32_t MaskedIndex(float g) { return std::max(1, static_cast<int32_t>(g * 0.5f)); }

// Makes the kernels those of the limited radius r at depth S, keeping them
// when they already are. The radius of an index depends on r alone, so an
// index gives the same kernel whichever pixel needs it first.
template <class S>
void Prepare(float r, MaskedBlur::Kernels& k) {
  if (r == k.radius && k.depth == sizeof(S)) return;
  k.radius = r;
  k.depth = sizeof(S);
  k.radiusOf.clear();
  k.kernels.clear();
  k.indexOf.assign(static_cast<std::size_t>(Depth<S>::L) + 1, 0);
  for (uint32_t m = 1; m <= static_cast<uint32_t>(Depth<S>::L); ++m) {
    const float g = MaskedRadius<S>(r, m);
    const std::size_t n = static_cast<std::size_t>(MaskedIndex(g));
    k.indexOf[m] = static_cast<uint32_t>(n);
    if (n >= k.radiusOf.size()) k.radiusOf.resize(n + 1, 0.0f);
    k.radiusOf[n] = g;  // g grows with m: the last one is the largest
  }
  k.kernels.resize(k.radiusOf.size());
}

// Builds the kernel of every mask value marked in `seen`, before the rows
// are shared among workers: the workers then only read them.
void BuildSeen(const std::vector<uint8_t>& seen, MaskedBlur::Kernels& k) {
  for (std::size_t m = 1; m < seen.size(); ++m) {
    if (seen[m] == 0) continue;
    const uint32_t n = k.indexOf[m];
    if (!k.kernels[n]) k.kernels[n] = BuildGaussKernel(static_cast<int32_t>(n), k.radiusOf[n]);
  }
}

// The mask values (a 16-bit one above full scale counting as full) met
// over rect.
template <class S>
std::vector<uint8_t> SeenValues(const Raster& mask, const Rect& rect) {
  std::vector<uint8_t> seen(static_cast<std::size_t>(Depth<S>::L) + 1, 0);
  const Rect r = rect.Intersect(mask.Bounds());
  if (r.Empty()) return seen;
  for (int32_t y = r.top; y < r.bottom; ++y) {
    const S* m = mask.RowAs<S>(y);
    for (int32_t x = r.left; x < r.right; ++x) seen[std::min(static_cast<uint32_t>(m[x]), static_cast<uint32_t>(Depth<S>::L))] = 1;
  }
  return seen;
}

// One direction from `from` into `to`. Pixel (x, y) of the rect is at
// (x - fx, y - fy) in `from` and (x - tx, y - ty) in `to`; along rows when
// horizontal, else along columns. Lines end at the rect.
//
// Only the pixels of `work` (within rect) are filtered.
template <class S>
void Pass(const Raster& from, int32_t fx, int32_t fy, Raster& to, int32_t tx, int32_t ty, const Rect& rect,
          const Rect& work, const Raster& mask, bool horizontal, const MaskedBlur::Kernels& k) {
  const int32_t channels = from.Channels();
  const int32_t lineStart = horizontal ? rect.left : rect.top;
  const int32_t lineEnd = (horizontal ? rect.right : rect.bottom) - 1;
  const bool avx2 = UseAvx2();
  const Rect maskRect = work.Intersect(mask.Bounds());
  const int64_t rowWork = int64_t{work.Width()} * channels * 16;
  ParallelFor(work.Height(), LineGrain(rowWork), [&](int32_t begin, int32_t end) {
    std::vector<uint32_t> index(static_cast<std::size_t>(work.Width()));
    std::vector<const S*> lines;
    for (int32_t y = work.top + begin; y < work.top + end; ++y) {
      // The kernel index of every pixel of the row, 0 for none.
      std::fill(index.begin(), index.end(), 0u);
      if (y >= maskRect.top && y < maskRect.bottom) {
        const S* m = mask.RowAs<S>(y);
        for (int32_t x = maskRect.left; x < maskRect.right; ++x)
          index[x - work.left] = k.indexOf[std::min(static_cast<uint32_t>(m[x]), static_cast<uint32_t>(Depth<S>::L))];
      }
      const S* src = from.RowAs<S>(y - fy);
      S* dst = to.RowAs<S>(y - ty);
      const auto at = [&](const S* row, int32_t x) { return row + static_cast<std::ptrdiff_t>(x - fx) * channels; };
      const auto out = [&](int32_t x) { return dst + static_cast<std::ptrdiff_t>(x - tx) * channels; };
      // One pixel with its line clamped at the rect's ends.
      const auto clamped = [&](int32_t x, const GaussKernel& g) {
        const int32_t half = static_cast<int32_t>(g.taps.size() / 2);
        const int32_t pos0 = horizontal ? x : y;
        for (int32_t c = 0; c < channels; ++c) {
          uint32_t acc = 0;
          for (int32_t t = 0; t <= 2 * half; ++t) {
            const int32_t pos = std::clamp(pos0 - half + t, lineStart, lineEnd);
            const S* q = horizontal ? at(src, pos) : at(from.RowAs<S>(pos - fy), x);
            acc += static_cast<uint32_t>(g.taps[t]) * q[c];
          }
          out(x)[c] = static_cast<S>(acc / g.sum);
        }
      };
      for (int32_t x0 = work.left; x0 < work.right;) {
        const uint32_t n = index[x0 - work.left];
        int32_t x1 = x0 + 1;
        while (x1 < work.right && index[x1 - work.left] == n) ++x1;
        const GaussKernel* g = n == 0 ? nullptr : k.kernels[n].get();
        if (g == nullptr || g->sum == 0) {
          std::copy(at(src, x0), at(src, x1), out(x0));
          x0 = x1;
          continue;
        }
        const int32_t half = static_cast<int32_t>(g->taps.size() / 2);
        lines.resize(2 * static_cast<std::size_t>(half) + 1);
        if (horizontal) {
          // The pixels whose taps all lie within the line go as one run.
          const int32_t lo = std::clamp(lineStart + half, x0, x1);
          const int32_t hi = std::clamp(lineEnd - half + 1, lo, x1);
          for (int32_t x = x0; x < lo; ++x) clamped(x, *g);
          if (hi > lo) {
            for (int32_t t = 0; t <= 2 * half; ++t) lines[t] = at(src, lo - half + t);
            Filter<S>(lines.data(), *g, (hi - lo) * channels, out(lo), avx2);
          }
          for (int32_t x = hi; x < x1; ++x) clamped(x, *g);
        } else {
          for (int32_t t = 0; t <= 2 * half; ++t)
            lines[t] = at(from.RowAs<S>(std::clamp(y - half + t, lineStart, lineEnd) - fy), x0);
          Filter<S>(lines.data(), *g, (x1 - x0) * channels, out(x0), avx2);
        }
        x0 = x1;
      }
    }
  });
}

}  // namespace

void LimitMaskedBlurInstructionSet(int32_t level) {
  instructionLimit.store(std::clamp(level, int32_t{0}, int32_t{1}), std::memory_order_relaxed);
}

MaskedBlur::MaskedBlur() = default;
MaskedBlur::~MaskedBlur() = default;

void MaskedBlur::Blur(Raster& raster, const Rect& rect, const Raster& mask, float rx, float ry) {
  Blur(raster, rect, mask, rx, ry, rect);
}

void MaskedBlur::Blur(Raster& raster, const Rect& rect, const Raster& mask, float rx, float ry, const Rect& needed) {
  if (mask.Channels() != 1 || mask.BytesPerSample() != raster.BytesPerSample())
    throw std::invalid_argument("blur mask: one channel of the raster's depth");
  const Rect area = rect.Intersect(raster.Bounds());
  if (area.Empty() || raster.Base() == nullptr || raster.Channels() < 1) return;
  if (raster.BytesPerSample() != 1 && raster.BytesPerSample() != 2) return;
  const Rect out = needed.Intersect(area);
  if (out.Empty()) return;
  rx = std::min(rx, static_cast<float>(area.Width()));
  ry = std::min(ry, static_cast<float>(area.Height()));
  if (!(rx > 0) && !(ry > 0)) return;
  // The first direction's result, kept for the next call of the same size.
  if (!temp_ || temp_->Width() != area.Width() || temp_->Height() != area.Height() ||
      temp_->Channels() != raster.Channels() || temp_->BytesPerSample() != raster.BytesPerSample())
    temp_ = MakeRaster(area.Width(), area.Height(), raster.Channels(), raster.BytesPerSample());
  Raster* temp = temp_.get();
  WithDepth(raster.Is16Bit(), [&]<class S>() {
    // The columns' kernels first: the rows the column pass reads are the
    // needed ones and as many above and below as its longest kernel
    // reaches.
    Rect rows = out;
    if (ry > 0) {
      Prepare<S>(ry, y_);
      int32_t reach = 0;
      const std::vector<uint8_t> seen = SeenValues<S>(mask, out);
      BuildSeen(seen, y_);
      for (std::size_t m = 1; m < seen.size(); ++m)
        if (seen[m] != 0) reach = std::max(reach, static_cast<int32_t>(y_.kernels[y_.indexOf[m]]->taps.size() / 2));
      rows = Rect{out.top - reach, out.left, out.bottom + reach, out.right}.Intersect(area);
    }
    const Rect local{rows.top - area.top, rows.left - area.left, rows.bottom - area.top, rows.right - area.left};
    if (rx > 0) {
      Prepare<S>(rx, x_);
      BuildSeen(SeenValues<S>(mask, rows), x_);
      Pass<S>(raster, 0, 0, *temp, area.left, area.top, area, rows, mask, true, x_);
    } else {
      temp->CopyRect(raster, rows, local.left, local.top);
    }
    if (ry > 0) {
      Pass<S>(*temp, area.left, area.top, raster, 0, 0, area, out, mask, false, y_);
    } else {
      raster.CopyRect(*temp, local, rows.left, rows.top);
    }
  });
}

}  // namespace fx
