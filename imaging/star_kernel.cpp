#include "imaging/star_kernel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <utility>

#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/zpath.h"
#include "imaging/zrenderer.h"
#include "imaging/zstencil.h"

#if defined(__GNUC__) && defined(__x86_64__)
#define OVRA_STAMP_AVX2 1
#include <immintrin.h>
#endif

namespace fx {
namespace {

std::atomic<int32_t> instructionLimit{1};

template <class S>
void MaxScaledScalar(S* out, const S* m, int32_t count, uint32_t k) {
  for (int32_t i = 0; i < count; ++i) {
    const S v = static_cast<S>(k * m[i] / 255);
    if (v > out[i]) out[i] = v;
  }
}

#if defined(OVRA_STAMP_AVX2)
// 32 samples a step, k m in 16-bit lanes (255 x 255 fits) and divided by
// 255 as (p 0x8081) >> 23, exact over 16 bits.
[[gnu::target("avx2")]] inline __m256i Scaled16(const uint8_t* q, __m256i kk, __m256i magic) {
  const __m256i v = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
  return _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_mullo_epi16(v, kk), magic), 7);
}

[[gnu::target("avx2")]] void MaxScaledAvx2(uint8_t* out, const uint8_t* m, int32_t count, uint32_t k) {
  const __m256i kk = _mm256_set1_epi16(static_cast<int16_t>(k));
  const __m256i magic = _mm256_set1_epi16(static_cast<int16_t>(0x8081));
  int32_t i = 0;
  for (; i + 32 <= count; i += 32) {
    const __m256i packed = _mm256_permute4x64_epi64(
        _mm256_packus_epi16(Scaled16(m + i, kk, magic), Scaled16(m + i + 16, kk, magic)), 0xD8);
    __m256i* o = reinterpret_cast<__m256i*>(out + i);
    _mm256_storeu_si256(o, _mm256_max_epu8(_mm256_loadu_si256(o), packed));
  }
  MaxScaledScalar(out + i, m + i, count - i, k);
}

// 16 samples a step, k m in 32-bit lanes divided by 255 as
// (p 0x80808081) >> 39, exact over 32 bits.
[[gnu::target("avx2")]] inline __m256i Scaled32(const uint16_t* q, __m256i kk, __m256i magic) {
  const __m256i p =
      _mm256_mullo_epi32(_mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q))), kk);
  const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(p, magic), 39);
  const __m256i odd = _mm256_srli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(p, 32), magic), 39);
  return _mm256_or_si256(even, _mm256_slli_epi64(odd, 32));
}

[[gnu::target("avx2")]] void MaxScaledAvx2(uint16_t* out, const uint16_t* m, int32_t count, uint32_t k) {
  const __m256i kk = _mm256_set1_epi32(static_cast<int32_t>(k));
  const __m256i magic = _mm256_set1_epi32(static_cast<int32_t>(0x80808081u));
  int32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m256i packed = _mm256_permute4x64_epi64(
        _mm256_packus_epi32(Scaled32(m + i, kk, magic), Scaled32(m + i + 8, kk, magic)), 0xD8);
    __m256i* o = reinterpret_cast<__m256i*>(out + i);
    _mm256_storeu_si256(o, _mm256_max_epu16(_mm256_loadu_si256(o), packed));
  }
  MaxScaledScalar(out + i, m + i, count - i, k);
}
#endif

template <class S>
void MaxScaled(S* out, const S* m, int32_t count, uint32_t k, bool avx2) {
#if defined(OVRA_STAMP_AVX2)
  if (avx2) return MaxScaledAvx2(out, m, count, k);
#endif
  (void)avx2;
  MaxScaledScalar(out, m, count, k);
}

// Zeros between two non-zero matte samples closer than this stay inside
// one run (they lay 0, which changes nothing); runs shorter than kShortRun
// are laid sample by sample in place.
inline constexpr int32_t kRunGap = 8;
inline constexpr int32_t kShortRun = 16;

}  // namespace

void MaxScaledRun(uint8_t* out, const uint8_t* m, int32_t count, int32_t k) {
  MaxScaled(out, m, count, static_cast<uint32_t>(std::clamp(k, 0, 255)), StampUsesAvx2());
}

void MaxScaledRun(uint16_t* out, const uint16_t* m, int32_t count, int32_t k) {
  MaxScaled(out, m, count, static_cast<uint32_t>(std::clamp(k, 0, 255)), StampUsesAvx2());
}

bool StampUsesAvx2() {
#if defined(OVRA_STAMP_AVX2)
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has && instructionLimit.load(std::memory_order_relaxed) >= 1;
#else
  return false;
#endif
}

void LimitStampInstructionSet(int32_t level) {
  instructionLimit.store(std::clamp(level, int32_t{0}, int32_t{1}), std::memory_order_relaxed);
}

void StarKernel::Build(const StarShape& wanted) {
  if (built_ && wanted == shape_) return;
  StarShape s = wanted;
  s.spokes = std::max(s.spokes, 1);
  const double R = std::max(s.outer, 0.01), r = std::max(s.inner, 0.01);
  const int32_t half = static_cast<int32_t>(std::ceil(R + r));
  const int32_t side = 2 * half + 1;
  RasterRef image = MakeRaster(side, side, 1, 1);
  image->Fill(0);
  // The middle pixel's centre, in path coordinates where pixel (i, j)
  // covers [i, i + 1) x [j, j + 1).
  const double c = half + 0.5;
  const double turn = s.degrees * 0.017453292;
  const double step = 2 * std::numbers::pi / s.spokes;
  ZPath path;
  for (int32_t i = 0; i < s.spokes; ++i) {
    const double a = i * step - std::numbers::pi / 2 + turn;
    const auto at = [&](double angle, double d, bool first) {
      const float x = static_cast<float>(c + d * std::cos(angle)),
                  y = static_cast<float>(c + d * std::sin(angle));
      if (first)
        path.moveTo(x, y);
      else
        path.lineTo(x, y);
    };
    at(a, R, i == 0);
    at(a + step / 2, r, false);
  }
  path.close();
  ZStencil stencil(*image);
  ZRenderer renderer;
  renderer.Render(path, nullptr, stencil, ZFillRule::kNonZero);
  std::vector<Tap> taps;
  for (int32_t y = 0; y < side; ++y) {
    const uint8_t* row = image->RowAs<uint8_t>(y);
    for (int32_t x = 0; x < side; ++x)
      if (row[x] != 0) taps.push_back({x - half, y - half, row[x]});
  }
  std::vector<Row> rows;
  for (std::size_t i = 0; i < taps.size(); ++i) {
    if (rows.empty() || rows.back().dy != taps[i].dy)
      rows.push_back({taps[i].dy, static_cast<int32_t>(i), static_cast<int32_t>(i)});
    rows.back().end = static_cast<int32_t>(i + 1);
  }
  image_ = image;
  taps_ = std::move(taps);
  rows_ = std::move(rows);
  side_ = side;
  shape_ = wanted;
  built_ = true;
}

bool StarKernel::Stamp(const Raster& matte, const Rect& from, Raster& star, const Rect& into, int32_t pollRows,
                       const std::function<bool()>& cancelled) const {
  return WithDepth(star.Is16Bit(),
                   [&]<class S>() { return StampAs<S>(matte, from, star, into, pollRows, cancelled); });
}

// Each star row gathers the stamps of the matte rows the kernel's rows
// reach it from; along a row, one tap at a time over the matte's runs of
// non-zero samples.
template <class S>
bool StarKernel::StampAs(const Raster& matte, const Rect& from, Raster& star, const Rect& into,
                         int32_t pollRows, const std::function<bool()>& cancelled) const {
  const Rect target = into.Intersect(star.Bounds());
  const Rect source = from.Intersect(matte.Bounds());
  if (rows_.empty() || target.Empty() || source.Empty()) return true;
  const int32_t top = std::max(source.top, target.top - rows_.back().dy);
  const int32_t bottom = std::min(source.bottom, target.bottom - rows_.front().dy);
  if (top >= bottom) return true;
  using Run = std::pair<int32_t, int32_t>;
  std::vector<std::vector<Run>> runs(static_cast<std::size_t>(bottom - top));
  ParallelRows(top, bottom, source.Width(), [&](int32_t first, int32_t end) {
    for (int32_t y = first; y < end; ++y) {
      const S* m = matte.RowAs<S>(y);
      std::vector<Run>& row = runs[static_cast<std::size_t>(y - top)];
      for (int32_t x = source.left; x < source.right; ++x) {
        if (m[x] == 0) continue;
        if (!row.empty() && x - row.back().second < kRunGap)
          row.back().second = x + 1;
        else
          row.push_back({x, x + 1});
      }
    }
  });
  const bool avx2 = StampUsesAvx2();
  const int64_t rowWork = int64_t{target.Width()} * (1 + static_cast<int64_t>(taps_.size()) / 16);
  const int32_t block = std::max(1, pollRows);
  for (int32_t y0 = target.top; y0 < target.bottom; y0 += block) {
    if (cancelled()) return false;
    const int32_t y1 = std::min(target.bottom, y0 + block);
    ParallelRows(y0, y1, rowWork, [&](int32_t first, int32_t end) {
      for (int32_t y = first; y < end; ++y) {
        S* out = star.RowAs<S>(y);
        for (const Row& r : rows_) {
          const int32_t from_y = y - r.dy;
          if (from_y < top || from_y >= bottom) continue;
          const std::vector<Run>& row = runs[static_cast<std::size_t>(from_y - top)];
          if (row.empty()) continue;
          const S* m = matte.RowAs<S>(from_y);
          for (int32_t t = r.begin; t < r.end; ++t) {
            const int32_t dx = taps_[static_cast<std::size_t>(t)].dx;
            const uint32_t k = static_cast<uint32_t>(taps_[static_cast<std::size_t>(t)].k);
            const int32_t lo = target.left - dx, hi = target.right - dx;
            for (const Run& run : row) {
              const int32_t x0 = std::max(run.first, lo), x1 = std::min(run.second, hi);
              if (x0 >= x1) continue;
              if (x1 - x0 < kShortRun) {
                MaxScaledScalar(out + x0 + dx, m + x0, x1 - x0, k);
              } else {
                MaxScaled(out + x0 + dx, m + x0, x1 - x0, k, avx2);
              }
            }
          }
        }
      }
    });
  }
  return true;
}

}  // namespace fx
