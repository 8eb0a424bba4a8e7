#include "imaging/hue_saturation.h"

#include <algorithm>

#include "imaging/channel_tables.h"

#if defined(__GNUC__) && defined(__x86_64__)
#define OVRA_HSV_AVX2 1
#include <immintrin.h>
#endif

namespace fx {
namespace {

// Where a pixel's shift and factor come from.
struct Constant {
  float hue;
  float factor;
};
struct ByLuminance {
  const float* hue;
  const float* saturation;
};

template <class S>
inline void StepScalar(S* p, const Constant& c) {
  AdjustHueSaturation<S>(p, c.hue, c.factor);
}
template <class S>
inline void StepScalar(S* p, const ByLuminance& t) {
  const int32_t y = std::min(Depth<S>::Luminance(p[0], p[1], p[2]), Depth<S>::L);
  AdjustHueSaturation<S>(p, t.hue[y], 1.0f + t.saturation[y]);
}

template <class S, class Settings>
void RunScalar(S* pixels, int32_t count, const Settings& settings, const S* mask) {
  for (int32_t x = 0; x < count; ++x, pixels += 4)
    if (mask == nullptr || mask[x] != 0) StepScalar<S>(pixels, settings);
}

template <class S>
void TintScalar(const S* pixels, int32_t count, float hue, float saturation, bool ownSaturation, int32_t* tinted) {
  constexpr int32_t L = Depth<S>::L;
  constexpr float kUnit = Depth<S>::kToUnit;
  for (int32_t x = 0; x < count; ++x, pixels += 4, tinted += 3) {
    const Hsv own = RgbToHsv(pixels[0] * kUnit, pixels[1] * kUnit, pixels[2] * kUnit);
    const RgbF t = HsvToRgb(hue, ownSaturation ? own.s : saturation, own.v);
    tinted[0] = static_cast<int32_t>(L * t.r);
    tinted[1] = static_cast<int32_t>(L * t.g);
    tinted[2] = static_cast<int32_t>(L * t.b);
  }
}

#if defined(OVRA_HSV_AVX2)
// Eight pixels a step. The arithmetic is the one-pixel step's, operation by
// operation in single precision (no fused multiply-add, which would round
// differently); branches become per-lane selections. A block with a lane
// the selections do not cover (a hue outside 0..360 after its one wrap, from
// a shift beyond a full turn) is done by the one-pixel step instead.

#define OVRA_AVX2 [[gnu::target("avx2"), gnu::always_inline]] inline

OVRA_AVX2 __m256 Select(__m256 mask, __m256 ifTrue, __m256 ifFalse) {
  return _mm256_blendv_ps(ifFalse, ifTrue, mask);
}

OVRA_AVX2 __m256 SectorIs(__m256i sector, int k) {
  return _mm256_castsi256_ps(_mm256_cmpeq_epi32(sector, _mm256_set1_epi32(k)));
}

struct Block {
  alignas(32) int32_t c[3][8];
};

// The luminance of eight pixels, integer as Depth<S>::Luminance, clamped
// to full scale.
template <class S>
OVRA_AVX2 __m256i LuminanceOf(__m256i r, __m256i g, __m256i b) {
  if constexpr (sizeof(S) == 1) {
    const __m256i sum = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_mullo_epi32(r, _mm256_set1_epi32(76)), _mm256_mullo_epi32(g, _mm256_set1_epi32(150))),
        _mm256_mullo_epi32(b, _mm256_set1_epi32(29)));
    // sum / 255 for 0 <= sum <= 255 * 255.
    return _mm256_srli_epi32(_mm256_mullo_epi32(sum, _mm256_set1_epi32(32897)), 23);
  } else {
    const __m256i sum =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(r, _mm256_set1_epi32(9798)),
                                          _mm256_mullo_epi32(g, _mm256_set1_epi32(19235))),
                         _mm256_mullo_epi32(b, _mm256_set1_epi32(3735)));
    return _mm256_min_epi32(_mm256_srli_epi32(sum, 15), _mm256_set1_epi32(Depth<S>::L));
  }
}

template <class S>
OVRA_AVX2 void Settings8(const Constant& c, __m256i, __m256i, __m256i, __m256& hue, __m256& factor) {
  hue = _mm256_set1_ps(c.hue);
  factor = _mm256_set1_ps(c.factor);
}
template <class S>
OVRA_AVX2 void Settings8(const ByLuminance& t, __m256i r, __m256i g, __m256i b, __m256& hue, __m256& factor) {
  const __m256i y = LuminanceOf<S>(r, g, b);
  hue = _mm256_i32gather_ps(t.hue, y, 4);
  factor = _mm256_add_ps(_mm256_set1_ps(1.0f), _mm256_i32gather_ps(t.saturation, y, 4));
}

// RgbToHsv of eight unit colours: v, s and (where s is not 0) h.
OVRA_AVX2 void ToHsv8(__m256 r, __m256 g, __m256 b, __m256& h, __m256& s, __m256& v) {
  const __m256 zero = _mm256_setzero_ps();
  v = _mm256_max_ps(_mm256_max_ps(r, g), b);
  const __m256 delta = _mm256_sub_ps(v, _mm256_min_ps(_mm256_min_ps(r, g), b));
  s = Select(_mm256_cmp_ps(v, zero, _CMP_EQ_OQ), zero, _mm256_div_ps(delta, v));
  const __m256 rc = _mm256_div_ps(_mm256_sub_ps(v, r), delta);
  const __m256 gc = _mm256_div_ps(_mm256_sub_ps(v, g), delta);
  const __m256 bc = _mm256_div_ps(_mm256_sub_ps(v, b), delta);
  const __m256 hr = _mm256_sub_ps(bc, gc);
  const __m256 hg = _mm256_sub_ps(_mm256_add_ps(_mm256_set1_ps(2.0f), rc), bc);
  const __m256 hb = _mm256_sub_ps(_mm256_add_ps(_mm256_set1_ps(4.0f), gc), rc);
  h = Select(_mm256_cmp_ps(r, v, _CMP_EQ_OQ), hr, Select(_mm256_cmp_ps(g, v, _CMP_EQ_OQ), hg, hb));
  h = _mm256_mul_ps(h, _mm256_set1_ps(60.0f));
  h = Select(_mm256_cmp_ps(h, zero, _CMP_LT_OQ), _mm256_add_ps(h, _mm256_set1_ps(360.0f)), h);
}

// HsvToRgb of eight colours whose hue is within 0..360 (not undefined).
OVRA_AVX2 void FromHsv8(__m256 h, __m256 s, __m256 v, __m256& r, __m256& g, __m256& b) {
  const __m256 zero = _mm256_setzero_ps();
  const __m256 one = _mm256_set1_ps(1.0f);
  h = Select(_mm256_cmp_ps(h, _mm256_set1_ps(360.0f), _CMP_EQ_OQ), zero, h);
  h = _mm256_mul_ps(h, _mm256_set1_ps(0.016666668f));
  const __m256 i = _mm256_max_ps(zero, _mm256_floor_ps(h));
  const __m256 f = _mm256_sub_ps(h, i);
  const __m256 p = _mm256_mul_ps(v, _mm256_sub_ps(one, s));
  const __m256 q = _mm256_mul_ps(v, _mm256_sub_ps(one, _mm256_mul_ps(s, f)));
  const __m256 t = _mm256_mul_ps(v, _mm256_sub_ps(one, _mm256_mul_ps(s, _mm256_sub_ps(one, f))));
  // Sector 6 (a hue that rounds up to a full turn) is sector 0.
  __m256i sector = _mm256_cvttps_epi32(i);
  sector = _mm256_andnot_si256(_mm256_cmpeq_epi32(sector, _mm256_set1_epi32(6)), sector);
  const __m256 s1 = SectorIs(sector, 1), s2 = SectorIs(sector, 2), s3 = SectorIs(sector, 3),
               s4 = SectorIs(sector, 4), s5 = SectorIs(sector, 5);
  // Sectors 0..5: R = v q p p t v, G = t v v q p p, B = p p t v v q.
  r = Select(s1, q, Select(s2, p, Select(s3, p, Select(s4, t, v))));
  g = Select(s1, v, Select(s2, v, Select(s3, q, Select(_mm256_or_ps(s4, s5), p, t))));
  b = Select(s1, p, Select(s2, t, Select(_mm256_or_ps(s3, s4), v, Select(s5, q, p))));
  const __m256 flat = _mm256_cmp_ps(s, zero, _CMP_EQ_OQ);
  r = Select(flat, v, r);
  g = Select(flat, v, g);
  b = Select(flat, v, b);
}

template <class S>
OVRA_AVX2 void LoadUnit(const Block& in, __m256& r, __m256& g, __m256& b) {
  const __m256 unit = _mm256_set1_ps(Depth<S>::kToUnit);
  r = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_load_si256(reinterpret_cast<const __m256i*>(in.c[0]))), unit);
  g = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_load_si256(reinterpret_cast<const __m256i*>(in.c[1]))), unit);
  b = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_load_si256(reinterpret_cast<const __m256i*>(in.c[2]))), unit);
}

// trunc(L * c) of each unit colour, clamped to 0..L with clamp.
template <class S>
OVRA_AVX2 void StoreSamples(__m256 r, __m256 g, __m256 b, bool clamp, Block& out) {
  const __m256 scale = _mm256_set1_ps(static_cast<float>(Depth<S>::L));
  const __m256i lo = _mm256_setzero_si256();
  const __m256i hi = _mm256_set1_epi32(Depth<S>::L);
  const __m256 c[3] = {r, g, b};
  for (int k = 0; k < 3; ++k) {
    __m256i n = _mm256_cvttps_epi32(_mm256_mul_ps(c[k], scale));
    if (clamp) n = _mm256_min_epi32(_mm256_max_epi32(n, lo), hi);
    _mm256_store_si256(reinterpret_cast<__m256i*>(out.c[k]), n);
  }
}

// The step on eight pixels in `in`, written to `out`. Returns the lanes to
// write back (not grey) and sets `covered` false when a lane needs the
// one-pixel step.
template <class S>
OVRA_AVX2 int Step8(const Block& in, __m256 hueShift, __m256 factor, Block& out, bool& covered) {
  const __m256 zero = _mm256_setzero_ps();
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256 full = _mm256_set1_ps(360.0f);
  __m256 r, g, b, h, s, v;
  LoadUnit<S>(in, r, g, b);
  ToHsv8(r, g, b, h, s, v);
  const __m256 grey = _mm256_cmp_ps(s, zero, _CMP_EQ_OQ);

  // The shift, wrapped once, and the scaled saturation.
  h = _mm256_add_ps(h, hueShift);
  h = Select(_mm256_cmp_ps(h, zero, _CMP_LT_OQ), _mm256_add_ps(h, full),
             Select(_mm256_cmp_ps(h, full, _CMP_GT_OQ), _mm256_sub_ps(h, full), h));
  __m256 sat = _mm256_mul_ps(factor, s);
  sat = Select(_mm256_cmp_ps(sat, zero, _CMP_LT_OQ), zero, Select(_mm256_cmp_ps(sat, one, _CMP_GT_OQ), one, sat));
  const __m256 inRange = _mm256_and_ps(_mm256_cmp_ps(h, zero, _CMP_GE_OQ), _mm256_cmp_ps(h, full, _CMP_LE_OQ));
  const __m256 ordered = _mm256_cmp_ps(sat, sat, _CMP_ORD_Q);
  const int coloured = ~_mm256_movemask_ps(grey) & 0xFF;
  if ((~_mm256_movemask_ps(_mm256_and_ps(inRange, ordered)) & coloured) != 0) {
    covered = false;
    return 0;
  }
  FromHsv8(h, sat, v, r, g, b);
  StoreSamples<S>(r, g, b, true, out);
  return coloured;
}

// The tint of eight pixels: hue, the tint's or each pixel's own
// saturation, each pixel's value.
template <class S>
OVRA_AVX2 void Tint8(const Block& in, __m256 hue, __m256 saturation, bool ownSaturation, Block& out) {
  __m256 r, g, b, h, s, v;
  LoadUnit<S>(in, r, g, b);
  ToHsv8(r, g, b, h, s, v);
  FromHsv8(hue, ownSaturation ? s : saturation, v, r, g, b);
  StoreSamples<S>(r, g, b, false, out);
}

template <class S>
[[gnu::target("avx2")]] void TintAvx2(const S* pixels, int32_t count, float hue, float saturation,
                                      bool ownSaturation, int32_t* tinted) {
  const __m256 h = _mm256_set1_ps(hue), s = _mm256_set1_ps(saturation);
  const int32_t blocks = count / 8;
  for (int32_t k = 0; k < blocks; ++k, pixels += 32, tinted += 24) {
    Block in, out;
    for (int j = 0; j < 8; ++j)
      for (int c = 0; c < 3; ++c) in.c[c][j] = pixels[4 * j + c];
    Tint8<S>(in, h, s, ownSaturation, out);
    for (int j = 0; j < 8; ++j)
      for (int c = 0; c < 3; ++c) tinted[3 * j + c] = out.c[c][j];
  }
  TintScalar<S>(pixels, count - 8 * blocks, hue, saturation, ownSaturation, tinted);
}

template <class S, class Settings>
[[gnu::target("avx2")]] void RunAvx2(S* pixels, int32_t count, const Settings& settings, const S* mask) {
  const int32_t blocks = count / 8;
  for (int32_t k = 0; k < blocks; ++k, pixels += 32) {
    Block in, out;
    for (int j = 0; j < 8; ++j)
      for (int c = 0; c < 3; ++c) in.c[c][j] = pixels[4 * j + c];
    const __m256i ri = _mm256_load_si256(reinterpret_cast<const __m256i*>(in.c[0]));
    const __m256i gi = _mm256_load_si256(reinterpret_cast<const __m256i*>(in.c[1]));
    const __m256i bi = _mm256_load_si256(reinterpret_cast<const __m256i*>(in.c[2]));
    __m256 hue, factor;
    Settings8<S>(settings, ri, gi, bi, hue, factor);
    bool covered = true;
    const int write = Step8<S>(in, hue, factor, out, covered);
    const S* m = mask != nullptr ? mask + 8 * k : nullptr;
    if (!covered) {
      RunScalar<S>(pixels, 8, settings, m);
      continue;
    }
    for (int j = 0; j < 8; ++j) {
      if (((write >> j) & 1) == 0 || (m != nullptr && m[j] == 0)) continue;
      for (int c = 0; c < 3; ++c) pixels[4 * j + c] = static_cast<S>(out.c[c][j]);
    }
  }
  RunScalar<S>(pixels, count - 8 * blocks, settings, mask != nullptr ? mask + 8 * blocks : nullptr);
}
#undef OVRA_AVX2
#endif

template <class S, class Settings>
void Run(S* pixels, int32_t count, const Settings& settings, const S* mask) {
  if (count <= 0) return;
#if defined(OVRA_HSV_AVX2)
  if (ColourLoopsUseAvx2()) {
    RunAvx2<S>(pixels, count, settings, mask);
    return;
  }
#endif
  RunScalar<S>(pixels, count, settings, mask);
}

template <class S>
void Tint(const S* pixels, int32_t count, float hue, float saturation, bool ownSaturation, int32_t* tinted) {
  if (count <= 0) return;
#if defined(OVRA_HSV_AVX2)
  // A tint hue outside 0..360 (undefined for a grey tint) and a saturation
  // that is not a number take the one-pixel path's own ways.
  if (ColourLoopsUseAvx2() && hue >= 0.0f && hue <= 360.0f && saturation == saturation) {
    TintAvx2<S>(pixels, count, hue, saturation, ownSaturation, tinted);
    return;
  }
#endif
  TintScalar<S>(pixels, count, hue, saturation, ownSaturation, tinted);
}

}  // namespace

void HsvTintRun(const uint8_t* pixels, int32_t count, float hue, float saturation, bool ownSaturation,
                int32_t* tinted) {
  Tint<uint8_t>(pixels, count, hue, saturation, ownSaturation, tinted);
}

void HsvTintRun(const uint16_t* pixels, int32_t count, float hue, float saturation, bool ownSaturation,
                int32_t* tinted) {
  Tint<uint16_t>(pixels, count, hue, saturation, ownSaturation, tinted);
}

void AdjustHueSaturationRun(uint8_t* pixels, int32_t count, float hueShift, float saturationFactor,
                            const uint8_t* mask) {
  Run<uint8_t>(pixels, count, Constant{hueShift, saturationFactor}, mask);
}

void AdjustHueSaturationRun(uint16_t* pixels, int32_t count, float hueShift, float saturationFactor,
                            const uint16_t* mask) {
  Run<uint16_t>(pixels, count, Constant{hueShift, saturationFactor}, mask);
}

void AdjustHueSaturationByLuminance(uint8_t* pixels, int32_t count, const float* hue, const float* saturation) {
  Run<uint8_t>(pixels, count, ByLuminance{hue, saturation}, nullptr);
}

void AdjustHueSaturationByLuminance(uint16_t* pixels, int32_t count, const float* hue, const float* saturation) {
  Run<uint16_t>(pixels, count, ByLuminance{hue, saturation}, nullptr);
}

}  // namespace fx
