#include "imaging/channel_tables.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>

#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"

#if defined(__GNUC__) && defined(__x86_64__)
#define OVRA_TABLES_AVX2 1
#include <immintrin.h>
#endif

namespace fx {
namespace {

std::atomic<int32_t> instructionLimit{1};

template <class S>
void TablesScalar(Raster& raster, const Rect& rect, const ChannelTables<S>& tables, int32_t top, int32_t bottom,
                  int32_t fromColumn) {
  constexpr int32_t L = Depth<S>::L;
  const S* t0 = tables[0].data();
  const S* t1 = tables[1].data();
  const S* t2 = tables[2].data();
  for (int32_t y = top; y < bottom; ++y) {
    S* p = raster.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(fromColumn);
    for (int32_t x = fromColumn; x < rect.right; ++x, p += 4) {
      if constexpr (sizeof(S) == 1) {
        p[0] = t0[p[0]];
        p[1] = t1[p[1]];
        p[2] = t2[p[2]];
      } else {
        p[0] = t0[std::min<int32_t>(p[0], L)];
        p[1] = t1[std::min<int32_t>(p[1], L)];
        p[2] = t2[std::min<int32_t>(p[2], L)];
      }
    }
  }
}

#if defined(OVRA_TABLES_AVX2)
// Eight pixels a step: the samples' tables widened to 32 bits (so a gather
// never reads past an end), gathered per channel and packed back.
[[gnu::target("avx2")]] void Tables8Avx2(Raster& raster, const Rect& rect, const int32_t* wide, int32_t top,
                                         int32_t bottom) {
  const __m256i byte = _mm256_set1_epi32(0xFF);
  const __m256i alpha = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));
  const int32_t steps = rect.Width() / 8;
  for (int32_t y = top; y < bottom; ++y) {
    uint8_t* p = raster.RowAs<uint8_t>(y) + 4 * static_cast<std::ptrdiff_t>(rect.left);
    for (int32_t i = 0; i < steps; ++i, p += 32) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      const __m256i r = _mm256_i32gather_epi32(wide, _mm256_and_si256(v, byte), 4);
      const __m256i g = _mm256_i32gather_epi32(wide + 256, _mm256_and_si256(_mm256_srli_epi32(v, 8), byte), 4);
      const __m256i b = _mm256_i32gather_epi32(wide + 512, _mm256_and_si256(_mm256_srli_epi32(v, 16), byte), 4);
      const __m256i out = _mm256_or_si256(_mm256_or_si256(r, _mm256_slli_epi32(g, 8)),
                                          _mm256_or_si256(_mm256_slli_epi32(b, 16), _mm256_and_si256(v, alpha)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), out);
    }
  }
}
#endif

template <class S>
void Apply(Raster& raster, const Rect& rect, const ChannelTables<S>& tables) {
  if (raster.Channels() != 4) throw std::invalid_argument("channel tables: a four-channel raster is needed");
  for (const auto& t : tables)
    if (t.size() != static_cast<std::size_t>(Depth<S>::kTableSize))
      throw std::invalid_argument("channel tables: a table of the depth's size is needed");
  if (raster.Is16Bit() != (sizeof(S) == 2)) throw std::invalid_argument("channel tables: tables of the raster's depth");
  const Rect r = rect.Intersect(raster.Bounds());
  if (r.Empty()) return;
#if defined(OVRA_TABLES_AVX2)
  if constexpr (sizeof(S) == 1) {
    if (ColourLoopsUseAvx2()) {
      alignas(32) int32_t wide[3 * 256];
      for (int c = 0; c < 3; ++c)
        for (int32_t i = 0; i < 256; ++i) wide[c * 256 + i] = tables[c][static_cast<std::size_t>(i)];
      const int32_t vectorEnd = r.left + r.Width() / 8 * 8;
      ParallelFor(r.Height(), LineGrain(r.Width()), [&](int32_t begin, int32_t end) {
        Tables8Avx2(raster, r, wide, r.top + begin, r.top + end);
        TablesScalar<S>(raster, r, tables, r.top + begin, r.top + end, vectorEnd);
      });
      return;
    }
  }
#endif
  ParallelFor(r.Height(), LineGrain(r.Width()), [&](int32_t begin, int32_t end) {
    TablesScalar<S>(raster, r, tables, r.top + begin, r.top + end, r.left);
  });
}

}  // namespace

void ApplyChannelTables(Raster& raster, const Rect& rect, const ChannelTables<uint8_t>& tables) {
  Apply<uint8_t>(raster, rect, tables);
}

void ApplyChannelTables(Raster& raster, const Rect& rect, const ChannelTables<uint16_t>& tables) {
  Apply<uint16_t>(raster, rect, tables);
}

bool ColourLoopsUseAvx2() {
#if defined(OVRA_TABLES_AVX2)
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has && instructionLimit.load(std::memory_order_relaxed) >= 1;
#else
  return false;
#endif
}

void LimitColourLoopInstructionSet(int32_t level) {
  instructionLimit.store(std::clamp(level, int32_t{0}, int32_t{1}), std::memory_order_relaxed);
}

}  // namespace fx
