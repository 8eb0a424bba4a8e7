#include "effects/gel_filter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "imaging/channel_tables.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"

#if defined(__GNUC__) && defined(__x86_64__)
#define OVRA_GEL_AVX2 1
#include <immintrin.h>
#endif

namespace fx {
namespace {

float Fraction(double v) {
  return std::isnan(v) ? 0.0f : static_cast<float>(std::clamp(v, 0.0, 1.0));
}

constexpr std::size_t kTable16Size = Depth<uint16_t>::kTableSize;

}  // namespace

void GelFilter::Load(const Rgb& colour, double opacity, double highlights, double exposure) {
  const std::array<float, 3> c = {Fraction(colour.r), Fraction(colour.g), Fraction(colour.b)};
  if (c != colour_) {
    table16_.resize(3 * kTable16Size);
    for (int k = 0; k < 3; ++k) {
      for (int32_t i = 0; i < 256; ++i) {
        table8_[k][i] = static_cast<uint8_t>(static_cast<float>(i) * c[k]);
        wide8_[k][i] = table8_[k][i];
      }
      uint16_t* t = table16_.data() + k * kTable16Size;
      for (std::size_t i = 0; i < kTable16Size; ++i)
        t[i] = static_cast<uint16_t>(static_cast<float>(i) * c[k]);
    }
    colour_ = c;
    ++tableBuilds_;
  }
  opacity_ = Fraction(opacity);
  highlights_ = Fraction(highlights);
  exposure_ = Fraction(exposure);
}

std::span<const uint8_t> GelFilter::Table8(int c) const {
  if (!Loaded()) return {};
  return table8_[c];
}

std::span<const uint16_t> GelFilter::Table16(int c) const {
  if (!Loaded()) return {};
  return {table16_.data() + c * kTable16Size, kTable16Size};
}

template <>
const uint8_t* GelFilter::TableOf<uint8_t>(int c) const {
  return table8_[c].data();
}
template <>
const uint16_t* GelFilter::TableOf<uint16_t>(int c) const {
  return table16_.data() + c * kTable16Size;
}

// Everything a pixel of one Apply needs, in 32-bit integers.
template <class S>
struct GelFilter::Pass {
  static constexpr int32_t L = Depth<S>::L;
  const S* table[3];
  int32_t d;       // opacity in samples
  float x;         // exposure compensation
  const int32_t* w;  // highlight weight by luminance 0..L, null without highlights

  // Today's arithmetic, the reference every other loop matches.
  void Pixel(S* p) const {
    using D = Depth<S>;
    // P is the unfiltered pixel (U of the highlight step), F the filtered.
    // Samples above full scale (a careless host's 16-bit data) index the
    // tables at full scale.
    const int32_t P[3] = {p[0], p[1], p[2]};
    int32_t F[3];
    for (int c = 0; c < 3; ++c) F[c] = table[c][std::min(P[c], L)];
    if (x != 0) {
      const int32_t k = static_cast<int32_t>(
          x * static_cast<float>(D::Luminance(P[0], P[1], P[2]) - D::Luminance(F[0], F[1], F[2])));
      for (int c = 0; c < 3; ++c) F[c] = D::Clamp(int64_t{F[c]} + k);
    }
    int64_t out[3];
    for (int c = 0; c < 3; ++c) out[c] = d >= L ? F[c] : (int64_t{L - d} * P[c] + int64_t{d} * F[c]) / L;
    if (w != nullptr) {
      const int32_t weight = w[std::clamp(D::Luminance(P[0], P[1], P[2]), 0, L)];
      if (weight != 0)
        for (int c = 0; c < 3; ++c) out[c] = (out[c] * (L - weight) + int64_t{P[c]} * weight) / L;
    }
    for (int c = 0; c < 3; ++c) p[c] = static_cast<S>(out[c]);
  }

  void Rows(Raster& raster, const Rect& rect, int32_t top, int32_t bottom, int32_t fromColumn) const {
    for (int32_t y = top; y < bottom; ++y) {
      S* p = raster.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(fromColumn);
      for (int32_t col = fromColumn; col < rect.right; ++col, p += 4) Pixel(p);
    }
  }
};

#if defined(OVRA_GEL_AVX2)
namespace {

// n / 255 for 0 <= n <= 65535.
[[gnu::target("avx2")]] inline __m256i Div255(__m256i n) {
  const __m256i m = _mm256_add_epi32(n, _mm256_set1_epi32(1));
  return _mm256_srli_epi32(_mm256_add_epi32(m, _mm256_srli_epi32(m, 8)), 8);
}

[[gnu::target("avx2")]] inline __m256i Luminance8(__m256i r, __m256i g, __m256i b) {
  const __m256i n = _mm256_add_epi32(
      _mm256_add_epi32(_mm256_mullo_epi32(r, _mm256_set1_epi32(76)), _mm256_mullo_epi32(g, _mm256_set1_epi32(150))),
      _mm256_mullo_epi32(b, _mm256_set1_epi32(29)));
  return Div255(n);
}

}  // namespace

// Eight 8-bit pixels a step, the reference's arithmetic in 32-bit lanes:
// every product stays within 255 x 255, where Div255 is exact.
[[gnu::target("avx2")]] void GelFilter::Rows8Avx2(const Pass<uint8_t>& pass, const int32_t* wide, Raster& raster,
                                                  const Rect& rect, int32_t top, int32_t bottom) {
  constexpr int32_t L = 255;
  const __m256i byte = _mm256_set1_epi32(0xFF);
  const __m256i alpha = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i full = _mm256_set1_epi32(L);
  const __m256i keep = _mm256_set1_epi32(L - pass.d), take = _mm256_set1_epi32(pass.d);
  const __m256 x = _mm256_set1_ps(pass.x);
  const bool mix = pass.d < L, expose = pass.x != 0, highlights = pass.w != nullptr;
  const int32_t steps = rect.Width() / 8;
  for (int32_t y = top; y < bottom; ++y) {
    uint8_t* p = raster.RowAs<uint8_t>(y) + 4 * static_cast<std::ptrdiff_t>(rect.left);
    for (int32_t i = 0; i < steps; ++i, p += 32) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      const __m256i P[3] = {_mm256_and_si256(v, byte), _mm256_and_si256(_mm256_srli_epi32(v, 8), byte),
                            _mm256_and_si256(_mm256_srli_epi32(v, 16), byte)};
      __m256i F[3];
      for (int c = 0; c < 3; ++c) F[c] = _mm256_i32gather_epi32(wide + 256 * c, P[c], 4);
      __m256i lumP = zero;
      if (expose || highlights) lumP = Luminance8(P[0], P[1], P[2]);
      if (expose) {
        const __m256i diff = _mm256_sub_epi32(lumP, Luminance8(F[0], F[1], F[2]));
        const __m256i k = _mm256_cvttps_epi32(_mm256_mul_ps(x, _mm256_cvtepi32_ps(diff)));
        for (int c = 0; c < 3; ++c) F[c] = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(F[c], k), zero), full);
      }
      __m256i out[3];
      for (int c = 0; c < 3; ++c)
        out[c] = mix ? Div255(_mm256_add_epi32(_mm256_mullo_epi32(keep, P[c]), _mm256_mullo_epi32(take, F[c]))) : F[c];
      if (highlights) {
        const __m256i w = _mm256_i32gather_epi32(pass.w, lumP, 4);
        const __m256i rest = _mm256_sub_epi32(full, w);
        for (int c = 0; c < 3; ++c)
          out[c] = Div255(_mm256_add_epi32(_mm256_mullo_epi32(out[c], rest), _mm256_mullo_epi32(P[c], w)));
      }
      const __m256i packed =
          _mm256_or_si256(_mm256_or_si256(out[0], _mm256_slli_epi32(out[1], 8)),
                          _mm256_or_si256(_mm256_slli_epi32(out[2], 16), _mm256_and_si256(v, alpha)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), packed);
    }
  }
}
#endif

template <class S>
void GelFilter::ApplyT(Raster& destination, const Rect& rect) {
  constexpr int32_t L = Depth<S>::L;
  Pass<S> pass{};
  pass.d = static_cast<int32_t>(opacity_ * static_cast<float>(L));
  // At opacity 0 every pixel mixes back to itself, whatever the compensation
  // and the highlights.
  if (pass.d == 0) return;
  pass.x = exposure_;
  for (int c = 0; c < 3; ++c) pass.table[c] = TableOf<S>(c);
  const int32_t h = static_cast<int32_t>(highlights_ * static_cast<float>(L));
  if (h > 0) {
    // The weight m x h / L of the highlight band's value m, by luminance.
    std::vector<int32_t>& weights = sizeof(S) == 1 ? weights8_ : weights16_;
    int32_t& builtFor = sizeof(S) == 1 ? weights8For_ : weights16For_;
    if (builtFor != h) {
      const std::span<const S> band = HighlightTable<S>();
      weights.resize(static_cast<std::size_t>(L) + 1);
      for (int32_t i = 0; i <= L; ++i) weights[static_cast<std::size_t>(i)] = band[static_cast<std::size_t>(i)] * h / L;
      builtFor = h;
    }
    pass.w = weights.data();
  }
  const int32_t grain = LineGrain(rect.Width());
#if defined(OVRA_GEL_AVX2)
  if constexpr (sizeof(S) == 1) {
    if (ColourLoopsUseAvx2()) {
      const int32_t vectorEnd = rect.left + rect.Width() / 8 * 8;
      ParallelFor(rect.Height(), grain, [&](int32_t begin, int32_t end) {
        Rows8Avx2(pass, wide8_[0].data(), destination, rect, rect.top + begin, rect.top + end);
        pass.Rows(destination, rect, rect.top + begin, rect.top + end, vectorEnd);
      });
      return;
    }
  }
#endif
  ParallelFor(rect.Height(), grain, [&](int32_t begin, int32_t end) {
    pass.Rows(destination, rect, rect.top + begin, rect.top + end, rect.left);
  });
}

void GelFilter::Apply(Raster& destination, const Rect& rect) {
  if (destination.Channels() != 4) throw std::invalid_argument("GelFilter: a four-channel raster is needed");
  if (!Loaded()) return;
  const Rect r = rect.Intersect(destination.Bounds());
  if (r.Empty()) return;
  WithDepth(destination.Is16Bit(), [&]<class S>() { ApplyT<S>(destination, r); });
}

}  // namespace fx
