// The separable blur. Every direction is run as "lanes": many lines of the
// same length filtered side by side, sample t of lane j at row t, column j of
// a compact block. Columns of the raster are copied into such blocks as they
// lie, a strip of columns at a time; rows are transposed into them (row r,
// channel c of a group of rows becomes lane r * channels + c), so the same
// loops serve both directions and every pass reads memory in order. The
// loops over lanes are written in fixed chunks so that the compiler turns
// them into vector code, for the baseline instruction set, AVX2 and
// AVX-512, picked at run time. The arithmetic is exact integer arithmetic (or
// doubles where they are provably exact); the vectors only change the order
// in which independent lanes are computed.
#include "imaging/separable_blur.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <type_traits>

#include "imaging/parallel.h"
#include "imaging/pixel.h"

#if defined(__GNUC__)
#define OVRA_BLUR_INLINE [[gnu::always_inline]] inline
#else
#define OVRA_BLUR_INLINE inline
#endif

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define OVRA_BLUR_AVX2 1
#include <immintrin.h>
#endif

namespace fx {
namespace {

__extension__ typedef unsigned __int128 U128;

constexpr float kMaxRadius = 1e9f;
constexpr int32_t kMaxPasses = 255;
constexpr double kMaxReach = std::numeric_limits<int32_t>::max() / 4;

// Lanes are processed in chunks of 64 bytes of samples; a fixed trip count
// is what lets the compiler vectorise the chunk without a scalar epilogue.
template <class S>
constexpr int32_t kChunk = 64 / static_cast<int32_t>(sizeof(S));
// A row block holds this many bytes of lanes per position.
constexpr int32_t kBlockBytes = 64;
// A column strip takes this many bytes of each row, fewer when the strip
// would pass kStripBytes in all, but not fewer than kMinStripBytes. Long
// stretches of a row keep the copy into the strip close to sequential.
constexpr int64_t kStripRowBytes = 1024;
constexpr int64_t kStripBytes = 8 * 1024 * 1024;
constexpr int64_t kMinStripBytes = 64;

float SanitizeRadius(float r) {
  if (!(r > 0)) return 0;  // NaN, negative
  return std::min(r, kMaxRadius);
}

// ------------------------------------------------------------------ box line

// What the box filter needs per depth: the weight of a full sample, and the
// shift and bias multiplier of its reciprocal.
template <class S>
struct BoxDepth;
template <>
struct BoxDepth<uint8_t> {
  static constexpr uint32_t F = 256;
  static constexpr int kShift = 23;
  static constexpr uint64_t kBiasScale = 255;
};
template <>
struct BoxDepth<uint16_t> {
  static constexpr uint32_t F = 65536;
  static constexpr int kShift = 47;
  static constexpr uint64_t kBiasScale = 65535;
};

// The window of every line of one direction (they all have one length).
struct BoxLine {
  int32_t length = 0;  // L
  int32_t n = 0;       // samples i - n .. i + n take part around centre i
  uint32_t F = 0;      // weight of the 2n - 1 inner samples
  uint32_t w = 0;      // weight of the two end samples
  uint64_t W = 0;      // weight of a full window
  // Full windows: out = (r * sum + bias) >> shift.
  int shift = 0;
  uint64_t r = 0;
  uint64_t bias = 0;
};

// False when the lines stay as they are (no radius, or fewer than 4
// samples, where the half-width limit L / 2 - 1 leaves no window).
template <class S>
bool MakeBoxLine(int32_t length, float h, BoxLine& g) {
  if (!(h > 0) || length < 4) return false;
  const float ceilH = std::ceil(h);
  const float frac = ceilH - h == 0 ? 0.0f : 1.0f - (ceilH - h);
  const int32_t limit = length / 2 - 1;
  const int32_t c = static_cast<double>(ceilH) > limit ? limit : static_cast<int32_t>(ceilH);
  g.length = length;
  g.n = c + (static_cast<double>(c) == static_cast<double>(std::floor(h)) ? 1 : 0);
  g.F = BoxDepth<S>::F;
  g.w = static_cast<uint32_t>(frac * static_cast<float>(g.F));
  g.W = static_cast<uint64_t>(2 * static_cast<int64_t>(g.n) - 1) * g.F + 2 * static_cast<uint64_t>(g.w);
  // The reciprocal's bias rounds so that a full-scale line stays at full
  // scale; it keeps every other constant line exact only while
  // kBiasScale * W <= 2^shift. The shift therefore grows with the window
  // beyond the depth's base shift (23 or 47); below that point nothing
  // changes.
  int shift = BoxDepth<S>::kShift;
  while (shift < 63 && static_cast<U128>(BoxDepth<S>::kBiasScale) * g.W > (U128{1} << shift)) ++shift;
  g.shift = shift;
  const uint64_t one = uint64_t{1} << shift;
  g.r = one / g.W;
  g.bias = (one - g.r * g.W) * BoxDepth<S>::kBiasScale;
  return true;
}

// Exact floor(sum / d) through one double multiply: with t = sum / d <= Q
// and Q * d < 2^48, the rounding of sum * (1 / d) stays below Q * 2^-50 and
// eps = Q * 2^-49 lifts exact quotients clear of it without reaching the
// next integer (a non-integral quotient lies at least 1 / d below it).
struct ExactDivider {
  double inv = 0;
  double eps = 0;
  uint64_t d = 1;
  ExactDivider() = default;
  ExactDivider(uint64_t divisor, double q) : inv(1.0 / static_cast<double>(divisor)), eps(q * 0x1p-49), d(divisor) {}
};

// ------------------------------------------------------ reciprocal policies
//
// Each policy computes a full window's output from A, the sum of its inner
// samples, and B, the sum of its two end samples (sum = F * A + w * B), and
// a truncated window's output by exact division. Which policy a direction
// uses depends only on the depth and the window weight; all give the same
// numbers the plain 64/128-bit formula gives.

// 8-bit, shift 23: the 32-bit arithmetic as it stands.
struct Recip8Narrow {
  using Acc = uint32_t;
  uint32_t w, r, bias;
  explicit Recip8Narrow(const BoxLine& g)
      : w(g.w), r(static_cast<uint32_t>(g.r)), bias(static_cast<uint32_t>(g.bias)) {}
  OVRA_BLUR_INLINE uint32_t operator()(uint32_t a, uint32_t b) const {
    const uint32_t sum = (a << 8) + w * b;
    return (r * sum + bias) >> 23;
  }
  OVRA_BLUR_INLINE uint32_t Truncated(uint32_t a, uint32_t e, const ExactDivider& d) const {
    const int32_t sum = static_cast<int32_t>((a << 8) + w * e);  // below 2^31
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<double>(sum) * d.inv + d.eps));
  }
  static constexpr double kQuotient = 255;
};

// 8-bit, shift 24..31 (r below 510): with sum = 256 A + w B,
//   floor((r * sum + bias) / 2^k) = (r*A + ((r*w*B + bias) >> 8)) >> (k - 8),
// every term within 32 bits and no more multiplies than the shift-23 form.
struct Recip8Split {
  using Acc = uint32_t;
  uint32_t w, r, rw, bias, shift;
  explicit Recip8Split(const BoxLine& g)
      : w(g.w),
        r(static_cast<uint32_t>(g.r)),
        rw(static_cast<uint32_t>(g.r) * g.w),
        bias(static_cast<uint32_t>(g.bias)),
        shift(static_cast<uint32_t>(g.shift - 8)) {}
  OVRA_BLUR_INLINE uint32_t operator()(uint32_t a, uint32_t b) const {
    return (r * a + ((rw * b + bias) >> 8)) >> shift;
  }
  OVRA_BLUR_INLINE uint32_t Truncated(uint32_t a, uint32_t e, const ExactDivider& d) const {
    const int32_t sum = static_cast<int32_t>((a << 8) + w * e);  // below 2^31
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<double>(sum) * d.inv + d.eps));
  }
  static constexpr double kQuotient = 255;
};

// 16-bit, shift 47 (windows up to 2^47 / 65535): 64-bit arithmetic with the
// inner sum kept in 32 bits (samples are 0..32768, so w * B < 2^32).
struct Recip16 {
  using Acc = uint32_t;
  uint32_t w, r;
  uint64_t bias;
  explicit Recip16(const BoxLine& g) : w(g.w), r(static_cast<uint32_t>(g.r)), bias(g.bias) {}
  OVRA_BLUR_INLINE uint32_t operator()(uint32_t a, uint32_t b) const {
    const uint64_t product = ((static_cast<uint64_t>(r) * a) << 16) + static_cast<uint64_t>(r) * (w * b);
    return static_cast<uint32_t>((product + bias) >> 47);
  }
  OVRA_BLUR_INLINE uint32_t Truncated(uint32_t a, uint32_t e, const ExactDivider& d) const {
    const double sum = static_cast<double>(static_cast<int32_t>(a)) * 65536.0 + static_cast<double>(w) * static_cast<double>(e);
    return static_cast<uint32_t>(static_cast<int32_t>(sum * d.inv + d.eps));
  }
  static constexpr double kQuotient = 65535;
};

// Anything longer: 64-bit sums, a 128-bit product, integer division.
template <class S>
struct RecipWide {
  using Acc = uint64_t;
  uint64_t F, w, r, bias;
  int shift;
  explicit RecipWide(const BoxLine& g) : F(g.F), w(g.w), r(g.r), bias(g.bias), shift(g.shift) {}
  OVRA_BLUR_INLINE uint64_t operator()(uint64_t a, uint64_t b) const {
    const uint64_t sum = a * F + w * b;
    return static_cast<uint64_t>((static_cast<U128>(r) * sum + bias) >> shift);
  }
  OVRA_BLUR_INLINE uint64_t Truncated(uint64_t a, uint64_t e, const ExactDivider& d) const {
    return (a * F + w * e) / d.d;
  }
  static constexpr double kQuotient = Depth<S>::L;
};

// Calls f with the policy for lines g of depth S.
template <class S, class Fn>
void WithRecip(const BoxLine& g, Fn&& f) {
  if constexpr (std::is_same_v<S, uint8_t>) {
    // Sums stay in 32 bits (and A in 31) while 255 * W < 2^31.
    if (g.W * 255 < (uint64_t{1} << 31)) {
      if (g.shift == 23) f(Recip8Narrow(g));
      else f(Recip8Split(g));
      return;
    }
  } else {
    if (g.shift == 47) {
      f(Recip16(g));
      return;
    }
  }
  f(RecipWide<S>(g));
}

// ---------------------------------------------------------------- box lanes

template <class S, class Acc>
OVRA_BLUR_INLINE void AddLanes(Acc* __restrict acc, const S* __restrict s, int32_t lanes) {
  int32_t j = 0;
  for (; j + kChunk<S> <= lanes; j += kChunk<S>)
    for (int32_t t = 0; t < kChunk<S>; ++t) acc[j + t] += s[j + t];
  for (; j < lanes; ++j) acc[j] += s[j];
}

// Full windows: A moves by one sample, B is the pair of end samples.
template <class S, class R>
OVRA_BLUR_INLINE void SteadyLanes(const S* __restrict add, const S* __restrict sub, const S* __restrict far,
                                  S* __restrict out, typename R::Acc* __restrict acc, int32_t lanes, const R rec) {
  using Acc = typename R::Acc;
  int32_t j = 0;
  for (; j + kChunk<S> <= lanes; j += kChunk<S>)
    for (int32_t t = 0; t < kChunk<S>; ++t) {
      const Acc a = acc[j + t] + add[j + t] - sub[j + t];
      acc[j + t] = a;
      out[j + t] = static_cast<S>(rec(a, static_cast<Acc>(sub[j + t]) + far[j + t]));
    }
  for (; j < lanes; ++j) {
    const Acc a = acc[j] + add[j] - sub[j];
    acc[j] = a;
    out[j] = static_cast<S>(rec(a, static_cast<Acc>(sub[j]) + far[j]));
  }
}

// Truncated windows: A moves by what is inside the line (kAdd: the sample
// entering, kSub: the one leaving), one end sample at weight w, and the sum
// is divided by the weight covered.
template <bool kAdd, bool kSub, class S, class R>
OVRA_BLUR_INLINE void EdgeLanes(const S* __restrict add, const S* __restrict sub, const S* __restrict end,
                                S* __restrict out, typename R::Acc* __restrict acc, int32_t lanes, const R rec,
                                const ExactDivider div) {
  using Acc = typename R::Acc;
  int32_t j = 0;
  for (; j + kChunk<S> <= lanes; j += kChunk<S>)
    for (int32_t t = 0; t < kChunk<S>; ++t) {
      Acc a = acc[j + t];
      if constexpr (kAdd) a += add[j + t];
      if constexpr (kSub) a -= sub[j + t];
      acc[j + t] = a;
      out[j + t] = static_cast<S>(rec.Truncated(a, end[j + t], div));
    }
  for (; j < lanes; ++j) {
    Acc a = acc[j];
    if constexpr (kAdd) a += add[j];
    if constexpr (kSub) a -= sub[j];
    acc[j] = a;
    out[j] = static_cast<S>(rec.Truncated(a, end[j], div));
  }
}

// One box pass over `lanes` lines of g.length samples. The window around i
// is F * A_i + w * (s[i - n] + s[i + n]) with A_i = s[i-n+1] + .. + s[i+n-1],
// samples outside the line left out: A_i = A_{i-1} + s[i+n-1] - s[i-n] is
// the window's running sum split into its F and w parts, integer for
// integer. src and dst never overlap.
template <class S, class R>
OVRA_BLUR_INLINE void BoxLanes(const uint8_t* src, std::ptrdiff_t ss, uint8_t* dst, std::ptrdiff_t ds, int32_t lanes,
                               const BoxLine& g, const R& rec, typename R::Acc* acc) {
  const int32_t L = g.length, n = g.n;
  const auto in = [&](int32_t t) { return reinterpret_cast<const S*>(src + t * ss); };
  const auto out = [&](int32_t t) { return reinterpret_cast<S*>(dst + t * ds); };
  const double q = R::kQuotient;

  std::fill(acc, acc + lanes, typename R::Acc{0});
  for (int32_t t = 0; t < n; ++t) AddLanes(acc, in(t), lanes);
  // Leading outputs: s[i - n] is outside the line, s[i + n] inside.
  for (int32_t i = 0; i < n; ++i) {
    const ExactDivider div(static_cast<uint64_t>(n + i) * g.F + g.w, q);
    if (i == 0) EdgeLanes<false, false, S, R>(nullptr, nullptr, in(i + n), out(i), acc, lanes, rec, div);
    else EdgeLanes<true, false, S, R>(in(i + n - 1), nullptr, in(i + n), out(i), acc, lanes, rec, div);
  }
  for (int32_t i = n; i < L - n; ++i) SteadyLanes<S, R>(in(i + n - 1), in(i - n), in(i + n), out(i), acc, lanes, rec);
  // Trailing outputs: s[i + n] is outside, s[i - n] inside; only the first
  // still takes a sample in.
  for (int32_t i = L - n; i < L; ++i) {
    const ExactDivider div(static_cast<uint64_t>(n + (L - 1 - i)) * g.F + g.w, q);
    if (i + n - 1 <= L - 1) EdgeLanes<true, true, S, R>(in(i + n - 1), in(i - n), in(i - n), out(i), acc, lanes, rec, div);
    else EdgeLanes<false, true, S, R>(nullptr, in(i - n), in(i - n), out(i), acc, lanes, rec, div);
  }
}

// An op filters `lanes` lines from src into dst with the running sums in
// acc, the work area of the part of the pass that calls it.
template <class S, class R>
struct BoxOp {
  BoxLine g;
  R rec;
  OVRA_BLUR_INLINE void operator()(const uint8_t* src, std::ptrdiff_t ss, uint8_t* dst, std::ptrdiff_t ds,
                                   int32_t lanes, uint8_t* acc) const {
    BoxLanes<S, R>(src, ss, dst, ds, lanes, g, rec, reinterpret_cast<typename R::Acc*>(acc));
  }
};

// ----------------------------------------------------------- Gaussian lanes

template <class S>
OVRA_BLUR_INLINE void MulAddLanes(uint32_t* __restrict acc, const S* __restrict s, uint32_t tap, int32_t lanes) {
  int32_t j = 0;
  for (; j + kChunk<S> <= lanes; j += kChunk<S>)
    for (int32_t t = 0; t < kChunk<S>; ++t) acc[j + t] += tap * s[j + t];
  for (; j < lanes; ++j) acc[j] += tap * s[j];
}

// acc = tap * s, then acc += tap * (a + b) for the pairs of samples a
// symmetric kernel weighs alike: half the products of one per tap, the same
// sum modulo 2^32.
template <class S>
OVRA_BLUR_INLINE void MulSetLanes(uint32_t* __restrict acc, const S* __restrict s, uint32_t tap, int32_t lanes) {
  int32_t j = 0;
  for (; j + kChunk<S> <= lanes; j += kChunk<S>)
    for (int32_t t = 0; t < kChunk<S>; ++t) acc[j + t] = tap * s[j + t];
  for (; j < lanes; ++j) acc[j] = tap * s[j];
}
template <class S>
OVRA_BLUR_INLINE void MulAddPairLanes(uint32_t* __restrict acc, const S* __restrict a, const S* __restrict b,
                                      uint32_t tap, int32_t lanes) {
  int32_t j = 0;
  for (; j + kChunk<S> <= lanes; j += kChunk<S>)
    for (int32_t t = 0; t < kChunk<S>; ++t) acc[j + t] += tap * (static_cast<uint32_t>(a[j + t]) + b[j + t]);
  for (; j < lanes; ++j) acc[j] += tap * (static_cast<uint32_t>(a[j]) + b[j]);
}

// The 32-bit sum as a double through a signed conversion (which vectorises):
// flipping the top bit and adding 2^31 back is exact.
OVRA_BLUR_INLINE double ToDouble(uint32_t v) {
  return static_cast<double>(static_cast<int32_t>(v ^ 0x80000000u)) + 2147483648.0;
}

template <class S>
OVRA_BLUR_INLINE void DivideLanes(const uint32_t* __restrict acc, S* __restrict out, int32_t lanes,
                                  const ExactDivider div) {
  int32_t j = 0;
  for (; j + kChunk<S> <= lanes; j += kChunk<S>)
    for (int32_t t = 0; t < kChunk<S>; ++t)
      out[j + t] = static_cast<S>(static_cast<int32_t>(ToDouble(acc[j + t]) * div.inv + div.eps));
  for (; j < lanes; ++j) out[j] = static_cast<S>(static_cast<int32_t>(ToDouble(acc[j]) * div.inv + div.eps));
}

// out[i] = sum over k of tap[k] * s[clamp(i - half + k)] / sum, unsigned
// 32-bit. Taps that fall on the same clamped end sample are added first,
// which the distributive law makes exact.
template <class S>
OVRA_BLUR_INLINE void GaussLanes(const uint8_t* src, std::ptrdiff_t ss, uint8_t* dst, std::ptrdiff_t ds, int32_t lanes,
                                 int32_t length, const GaussKernel& k, uint32_t* acc) {
  const int32_t half = static_cast<int32_t>(k.taps.size() / 2);
  const int32_t* taps = k.taps.data();
  const ExactDivider div(k.sum, 65535.0);
  for (int32_t i = 0; i < length; ++i) {
    const int32_t first = i - half, last = i + half;  // positions of taps 0 and 2 half
    if (first >= 0 && last < length) {
      // Inside the line: taps k and 2 half - k are equal (the kernel is
      // symmetric), so each pair of samples takes one product.
      MulSetLanes(acc, reinterpret_cast<const S*>(src + i * ss), static_cast<uint32_t>(taps[half]), lanes);
      for (int32_t k = 0; k < half; ++k) {
        const uint32_t tap = static_cast<uint32_t>(taps[k]);
        if (tap != 0)
          MulAddPairLanes(acc, reinterpret_cast<const S*>(src + (first + k) * ss),
                          reinterpret_cast<const S*>(src + (last - k) * ss), tap, lanes);
      }
      DivideLanes(acc, reinterpret_cast<S*>(dst + i * ds), lanes, div);
      continue;
    }
    std::fill(acc, acc + lanes, 0u);
    uint32_t before = 0, after = 0;
    for (int32_t p = first; p < std::min(0, last + 1); ++p) before += static_cast<uint32_t>(taps[p - first]);
    for (int32_t p = std::max(length, first); p <= last; ++p) after += static_cast<uint32_t>(taps[p - first]);
    if (before != 0) MulAddLanes(acc, reinterpret_cast<const S*>(src), before, lanes);
    for (int32_t p = std::max(0, first); p <= std::min(length - 1, last); ++p) {
      const uint32_t tap = static_cast<uint32_t>(taps[p - first]);
      if (tap != 0) MulAddLanes(acc, reinterpret_cast<const S*>(src + p * ss), tap, lanes);
    }
    if (after != 0) MulAddLanes(acc, reinterpret_cast<const S*>(src + (length - 1) * ss), after, lanes);
    DivideLanes(acc, reinterpret_cast<S*>(dst + i * ds), lanes, div);
  }
}

template <class S>
struct GaussOp {
  const GaussKernel* kernel;
  int32_t length;
  OVRA_BLUR_INLINE void operator()(const uint8_t* src, std::ptrdiff_t ss, uint8_t* dst, std::ptrdiff_t ds,
                                   int32_t lanes, uint8_t* acc) const {
    GaussLanes<S>(src, ss, dst, ds, lanes, length, *kernel, reinterpret_cast<uint32_t*>(acc));
  }
};

// ---------------------------------------------------- blocks, strips, passes

// The work area of one part of a pass, carved from that part's buffer.
struct Work {
  uint8_t* a = nullptr;  // two blocks or strips
  uint8_t* b = nullptr;
  uint8_t* acc = nullptr;
};

// How a Blur cuts rect into row blocks and column strips, and the bytes of
// work area a part needs. The cut depends on the rect and the depth alone,
// never on the number of parts: every split gives the same samples.
struct Layout {
  int32_t blockRows = 1;
  int32_t stripLanes = 1;
  std::size_t half = 0;  // bytes of each of the two blocks or strips
  std::size_t bytes = 0;  // the whole work area of a part
};

// Rows and blocks: pixel x of row r of a group of `count` rows is at
// position x, lanes r * channels .. r * channels + channels - 1 of the
// block, that is at byte (x * count + r) * P for pixels of P bytes.

#if defined(OVRA_BLUR_AVX2)
// Four- and eight-byte pixels with AVX2: 8 x 8 (or 4 x 4) tiles of pixels
// transposed in registers. Returns how many pixels of each row it moved;
// the rest, and the rows after the last whole group, are left to the
// caller. A tile transpose is its own inverse, so one routine serves both
// ways.
template <std::size_t P, bool kToBlock>
[[gnu::target("avx2")]] int32_t TransposeAvx2(uint8_t* const* rows, int32_t count, int32_t length, uint8_t* block) {
  constexpr int32_t kTile = 32 / static_cast<int32_t>(P);  // pixels per register, and rows per group
  const int32_t groups = count / kTile, whole = length / kTile * kTile;
  const std::ptrdiff_t step = static_cast<std::ptrdiff_t>(count) * static_cast<std::ptrdiff_t>(P);
  for (int32_t g = 0; g < groups; ++g) {
    uint8_t* const* rg = rows + g * kTile;
    uint8_t* bg = block + static_cast<std::ptrdiff_t>(g) * kTile * static_cast<std::ptrdiff_t>(P);
    for (int32_t x = 0; x < whole; x += kTile) {
      __m256i v[kTile];
      const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(x) * static_cast<std::ptrdiff_t>(P);
      for (int32_t k = 0; k < kTile; ++k) {
        if (kToBlock) _mm_prefetch(reinterpret_cast<const char*>(rg[k] + offset + 1024), _MM_HINT_T0);
        v[k] = kToBlock ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rg[k] + offset))
                        : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bg + (x + k) * step));
      }
      __m256i t[kTile];
      if constexpr (P == 4) {
        for (int32_t k = 0; k < 8; k += 2) {
          t[k] = _mm256_unpacklo_epi32(v[k], v[k + 1]);
          t[k + 1] = _mm256_unpackhi_epi32(v[k], v[k + 1]);
        }
        for (int32_t k = 0; k < 8; k += 4) {
          v[k] = _mm256_unpacklo_epi64(t[k], t[k + 2]);
          v[k + 1] = _mm256_unpackhi_epi64(t[k], t[k + 2]);
          v[k + 2] = _mm256_unpacklo_epi64(t[k + 1], t[k + 3]);
          v[k + 3] = _mm256_unpackhi_epi64(t[k + 1], t[k + 3]);
        }
        for (int32_t k = 0; k < 4; ++k) {
          t[k] = _mm256_permute2x128_si256(v[k], v[k + 4], 0x20);
          t[k + 4] = _mm256_permute2x128_si256(v[k], v[k + 4], 0x31);
        }
      } else {
        const __m256i a = _mm256_unpacklo_epi64(v[0], v[1]), b = _mm256_unpackhi_epi64(v[0], v[1]);
        const __m256i c = _mm256_unpacklo_epi64(v[2], v[3]), d = _mm256_unpackhi_epi64(v[2], v[3]);
        t[0] = _mm256_permute2x128_si256(a, c, 0x20);
        t[1] = _mm256_permute2x128_si256(b, d, 0x20);
        t[2] = _mm256_permute2x128_si256(a, c, 0x31);
        t[3] = _mm256_permute2x128_si256(b, d, 0x31);
      }
      for (int32_t k = 0; k < kTile; ++k) {
        if (kToBlock) _mm256_storeu_si256(reinterpret_cast<__m256i*>(bg + (x + k) * step), t[k]);
        else _mm256_storeu_si256(reinterpret_cast<__m256i*>(rg[k] + offset), t[k]);
      }
    }
  }
  return groups == 0 ? 0 : whole;
}
#endif

// Block from rows (kToBlock) or back, for any pixel size; pixels before
// `done` of the first `doneRows` rows are already moved.
template <bool kToBlock>
OVRA_BLUR_INLINE void TransposeRest(uint8_t* const* rows, int32_t count, int32_t length, int32_t pixelBytes,
                                    uint8_t* block, int32_t done, int32_t doneRows) {
  const auto move = [&]<std::size_t P>(std::integral_constant<std::size_t, P>) {
    for (int32_t x = 0; x < length; ++x)
      for (int32_t r = x < done ? doneRows : 0; r < count; ++r) {
        uint8_t* b = block + (static_cast<std::ptrdiff_t>(x) * count + r) * static_cast<std::ptrdiff_t>(P);
        uint8_t* p = rows[r] + static_cast<std::ptrdiff_t>(x) * static_cast<std::ptrdiff_t>(P);
        if (kToBlock) std::memcpy(b, p, P);
        else std::memcpy(p, b, P);
      }
  };
  switch (pixelBytes) {
    case 1: return move(std::integral_constant<std::size_t, 1>{});
    case 2: return move(std::integral_constant<std::size_t, 2>{});
    case 4: return move(std::integral_constant<std::size_t, 4>{});
    case 8: return move(std::integral_constant<std::size_t, 8>{});
    default:
      for (int32_t x = 0; x < length; ++x)
        for (int32_t r = x < done ? doneRows : 0; r < count; ++r) {
          uint8_t* b = block + (static_cast<std::ptrdiff_t>(x) * count + r) * pixelBytes;
          uint8_t* p = rows[r] + static_cast<std::ptrdiff_t>(x) * pixelBytes;
          if (kToBlock) std::memcpy(b, p, static_cast<std::size_t>(pixelBytes));
          else std::memcpy(p, b, static_cast<std::size_t>(pixelBytes));
        }
  }
}

// Rows to block (kToBlock) or block to rows.
template <bool kToBlock, bool kAvx2>
OVRA_BLUR_INLINE void Transpose(uint8_t* const* rows, int32_t count, int32_t length, int32_t pixelBytes,
                                uint8_t* block) {
  int32_t done = 0, doneRows = 0;
#if defined(OVRA_BLUR_AVX2)
  if constexpr (kAvx2) {
    if (pixelBytes == 4) {
      done = TransposeAvx2<4, kToBlock>(rows, count, length, block);
      doneRows = count / 8 * 8;
    } else if (pixelBytes == 8) {
      done = TransposeAvx2<8, kToBlock>(rows, count, length, block);
      doneRows = count / 4 * 4;
    }
  }
#endif
  TransposeRest<kToBlock>(rows, count, length, pixelBytes, block, done, doneRows);
}

constexpr int32_t kMaxBlockRows = kBlockBytes;  // one-channel 8-bit rows

// The units of work of a pass: blocks [first, last) of a row pass, strips
// [first, last) of a column pass.
struct Units {
  int32_t first = 0;
  int32_t last = 0;
};

// `runs` passes of op along every row of the blocks of rect in units.
template <class S, class Op, bool kAvx2>
OVRA_BLUR_INLINE void RowsBody(Raster& raster, const Rect& rect, int32_t runs, const Op& op, const Layout& layout,
                               const Work& work, Units units) {
  const int32_t pixelBytes = raster.PixelBytes(), channels = raster.Channels(), length = rect.Width();
  uint8_t* rows[kMaxBlockRows];
  for (int32_t block = units.first; block < units.last; ++block) {
    const int32_t top = rect.top + block * layout.blockRows;
    const int32_t count = std::min(layout.blockRows, rect.bottom - top);
    for (int32_t r = 0; r < count; ++r) rows[r] = raster.Row(top + r) + static_cast<std::ptrdiff_t>(rect.left) * pixelBytes;
    const int32_t lanes = count * channels;
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(lanes) * static_cast<std::ptrdiff_t>(sizeof(S));
    uint8_t* from = work.a;
    uint8_t* to = work.b;
    Transpose<true, kAvx2>(rows, count, length, pixelBytes, from);
    for (int32_t run = 0; run < runs; ++run) {
      op(from, stride, to, stride, lanes, work.acc);
      std::swap(from, to);
    }
    Transpose<false, kAvx2>(rows, count, length, pixelBytes, from);
  }
}

// `runs` passes of op down every column of the strips of rect in units,
// strip by strip; each pass reads what the previous one wrote, never the
// raster it is writing.
template <class S, class Op>
OVRA_BLUR_INLINE void ColumnsBody(Raster& raster, const Rect& rect, int32_t runs, const Op& op, const Layout& layout,
                                  const Work& work, Units units) {
  const int32_t total = rect.Width() * raster.Channels(), length = rect.Height();
  const std::ptrdiff_t rowStride = raster.RowStride();
  uint8_t* origin = raster.Row(rect.top) + static_cast<std::ptrdiff_t>(rect.left) * raster.PixelBytes();
  for (int32_t strip = units.first; strip < units.last; ++strip) {
    const int32_t x0 = strip * layout.stripLanes;
    const int32_t lanes = std::min(layout.stripLanes, total - x0);
    uint8_t* column = origin + static_cast<std::ptrdiff_t>(x0) * static_cast<std::ptrdiff_t>(sizeof(S));
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(lanes) * static_cast<std::ptrdiff_t>(sizeof(S));
    // The strip is copied in first: the passes then read compact rows, and
    // the last one writes the raster.
    for (int32_t t = 0; t < length; ++t)
      std::memcpy(work.a + t * stride, column + t * rowStride, static_cast<std::size_t>(stride));
    uint8_t* from = work.a;
    uint8_t* to = work.b;
    for (int32_t run = 0; run < runs; ++run) {
      if (run == runs - 1) {
        op(from, stride, column, rowStride, lanes, work.acc);
      } else {
        op(from, stride, to, stride, lanes, work.acc);
        std::swap(from, to);
      }
    }
  }
}

// The instruction sets the loops are compiled for, best last.
enum Isa : int32_t { kBaseline = 0, kAvx2 = 1, kAvx512 = 2 };
int32_t isaLimit = kAvx512;

int32_t UsableIsa() {
#if defined(OVRA_BLUR_AVX2)
  static const int32_t best = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq"))
      return int32_t{kAvx512};
    return __builtin_cpu_supports("avx2") ? int32_t{kAvx2} : int32_t{kBaseline};
  }();
  return std::min(best, isaLimit);
#else
  return kBaseline;
#endif
}

#if defined(OVRA_BLUR_AVX2)
#if defined(__clang__)
#define OVRA_BLUR_TARGET_AVX512 [[gnu::target("avx512f,avx512bw,avx512vl,avx512dq")]]
#else
#define OVRA_BLUR_TARGET_AVX512 [[gnu::target("avx512f,avx512bw,avx512vl,avx512dq,prefer-vector-width=512")]]
#endif

#define OVRA_BLUR_PASS_ARGS \
  Raster &raster, const Rect &rect, int32_t runs, const Op &op, const Layout &layout, const Work &work, Units units
template <class S, class Op>
OVRA_BLUR_TARGET_AVX512 void RowsAvx512(OVRA_BLUR_PASS_ARGS) {
  RowsBody<S, Op, true>(raster, rect, runs, op, layout, work, units);
}
template <class S, class Op>
OVRA_BLUR_TARGET_AVX512 void ColumnsAvx512(OVRA_BLUR_PASS_ARGS) {
  ColumnsBody<S, Op>(raster, rect, runs, op, layout, work, units);
}
template <class S, class Op>
[[gnu::target("avx2")]] void RowsAvx2(OVRA_BLUR_PASS_ARGS) {
  RowsBody<S, Op, true>(raster, rect, runs, op, layout, work, units);
}
template <class S, class Op>
[[gnu::target("avx2")]] void ColumnsAvx2(OVRA_BLUR_PASS_ARGS) {
  ColumnsBody<S, Op>(raster, rect, runs, op, layout, work, units);
}
#endif

template <class S, class Op>
void RowsBase(OVRA_BLUR_PASS_ARGS) {
  RowsBody<S, Op, false>(raster, rect, runs, op, layout, work, units);
}
template <class S, class Op>
void ColumnsBase(OVRA_BLUR_PASS_ARGS) {
  ColumnsBody<S, Op>(raster, rect, runs, op, layout, work, units);
}

template <class S, class Op>
void RowsPart(OVRA_BLUR_PASS_ARGS) {
#if defined(OVRA_BLUR_AVX2)
  switch (UsableIsa()) {
    case kAvx512: return RowsAvx512<S, Op>(raster, rect, runs, op, layout, work, units);
    case kAvx2: return RowsAvx2<S, Op>(raster, rect, runs, op, layout, work, units);
    default: break;
  }
#endif
  RowsBase<S, Op>(raster, rect, runs, op, layout, work, units);
}
template <class S, class Op>
void ColumnsPart(OVRA_BLUR_PASS_ARGS) {
#if defined(OVRA_BLUR_AVX2)
  switch (UsableIsa()) {
    case kAvx512: return ColumnsAvx512<S, Op>(raster, rect, runs, op, layout, work, units);
    case kAvx2: return ColumnsAvx2<S, Op>(raster, rect, runs, op, layout, work, units);
    default: break;
  }
#endif
  ColumnsBase<S, Op>(raster, rect, runs, op, layout, work, units);
}
#undef OVRA_BLUR_PASS_ARGS

// The cut of rect into blocks and strips, and the work area of a part.
Layout LayoutOf(const Raster& raster, const Rect& rect) {
  const std::size_t sample = raster.BytesPerSample();
  const int32_t channels = std::max(1, raster.Channels());
  Layout layout;
  layout.blockRows = std::clamp(static_cast<int32_t>(kBlockBytes / static_cast<int32_t>(sample)) / channels, 1,
                                kMaxBlockRows);
  const int64_t total = static_cast<int64_t>(rect.Width()) * channels;
  const int64_t height = std::max(1, rect.Height());
  int64_t strip = std::min<int64_t>(kStripRowBytes, kStripBytes / height) / static_cast<int64_t>(sample);
  const int64_t chunk = 64 / static_cast<int64_t>(sample);  // lanes of a chunk
  strip = std::max<int64_t>(strip / chunk * chunk, kMinStripBytes / static_cast<int64_t>(sample));
  if (strip >= total) strip = total;
  layout.stripLanes = static_cast<int32_t>(std::max<int64_t>(strip, 1));
  const std::size_t blockLanes = static_cast<std::size_t>(layout.blockRows) * static_cast<std::size_t>(channels);
  const std::size_t rowsBytes = static_cast<std::size_t>(rect.Width()) * blockLanes * sample;
  const std::size_t columnsBytes =
      static_cast<std::size_t>(rect.Height()) * static_cast<std::size_t>(layout.stripLanes) * sample;
  layout.half = (std::max(rowsBytes, columnsBytes) + 63) / 64 * 64;
  const std::size_t accBytes = std::max(blockLanes, static_cast<std::size_t>(layout.stripLanes)) * sizeof(uint64_t);
  layout.bytes = 2 * layout.half + accBytes + 64;
  return layout;
}

// The work area of a part in its buffer, which only grows.
Work WorkIn(std::vector<uint8_t>& buffer, const Layout& layout) {
  if (buffer.size() < layout.bytes) buffer.resize(layout.bytes);
  uint8_t* base = buffer.data();
  base += (64 - reinterpret_cast<std::uintptr_t>(base) % 64) % 64;
  Work work;
  work.a = base;
  work.b = base + layout.half;
  work.acc = base + 2 * layout.half;
  return work;
}

// Runs part(units, work) over `count` units in as many parts as there are
// threads to take them (fewer when the units are few or small), part i with
// the work area of buffers[i]. `unitWork` is the samples a unit filters.
template <class Part>
void InParts(int32_t count, int64_t unitWork, const Layout& layout, std::vector<std::vector<uint8_t>>& buffers,
             Part&& part) {
  if (count <= 0) return;
  // Parts of at least 64 K samples, as the other core operations split.
  const int32_t grain = LineGrain(unitWork);
  const int32_t parts = std::max(1, std::min({ThreadCount(), count / grain, count}));
  if (buffers.size() < static_cast<std::size_t>(parts)) buffers.resize(static_cast<std::size_t>(parts));
  std::vector<Work> works(static_cast<std::size_t>(parts));
  for (int32_t i = 0; i < parts; ++i) works[static_cast<std::size_t>(i)] = WorkIn(buffers[static_cast<std::size_t>(i)], layout);
  ParallelFor(parts, 1, [&](int32_t begin, int32_t end) {
    for (int32_t i = begin; i < end; ++i) {
      const Units units{static_cast<int32_t>(int64_t{count} * i / parts),
                        static_cast<int32_t>(int64_t{count} * (i + 1) / parts)};
      part(units, works[static_cast<std::size_t>(i)]);
    }
  });
}

// `runs` passes of op along every row, or down every column, of rect.
template <class S, class Op>
void AlongRows(Raster& raster, const Rect& rect, int32_t runs, const Op& op, const Layout& layout,
               std::vector<std::vector<uint8_t>>& buffers) {
  const int32_t blocks = (rect.Height() + layout.blockRows - 1) / layout.blockRows;
  const int64_t unitWork = int64_t{rect.Width()} * raster.Channels() * layout.blockRows * runs;
  InParts(blocks, unitWork, layout, buffers,
          [&](Units units, const Work& work) { RowsPart<S, Op>(raster, rect, runs, op, layout, work, units); });
}
template <class S, class Op>
void AlongColumns(Raster& raster, const Rect& rect, int32_t runs, const Op& op, const Layout& layout,
                  std::vector<std::vector<uint8_t>>& buffers) {
  const int32_t total = rect.Width() * raster.Channels();
  const int32_t strips = (total + layout.stripLanes - 1) / layout.stripLanes;
  const int64_t unitWork = int64_t{rect.Height()} * layout.stripLanes * runs;
  InParts(strips, unitWork, layout, buffers,
          [&](Units units, const Work& work) { ColumnsPart<S, Op>(raster, rect, runs, op, layout, work, units); });
}

// ------------------------------------------------------------------ kernels

// The kernel of slot n, built from (n, r) when the slot is empty.
const GaussKernel& KernelAt(std::vector<std::unique_ptr<GaussKernel>>& cache, int32_t n, float r) {
  const std::size_t slot = static_cast<std::size_t>(std::max(0, n));
  if (slot >= cache.size()) cache.resize(slot + 1);
  if (!cache[slot]) cache[slot] = BuildGaussKernel(n, r);
  return *cache[slot];
}

// ------------------------------------------------------------ masked blur

template <class S>
uint32_t MaskAt(const Raster& mask, int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x >= mask.Width() || y >= mask.Height()) return 0;
  return mask.RowAs<S>(y)[x];
}

// One direction of the masked blur from `from` into `to`. Pixel (x, y) of
// the rect is at (x - fx, y - fy) in `from` and (x - tx, y - ty) in `to`;
// along rows when horizontal, else along columns. Lines end at the rect.
// The kernels of a masked pass: slot n is built from radiusOf[n], the
// radius of the largest mask value whose index is n.
struct MaskedSlots {
  std::vector<float>& radiusOf;
  std::vector<std::unique_ptr<GaussKernel>>& kernels;
};

// Mask value m (at most full scale) as a radius of the limited radius r.
template <class S>
float MaskedRadius(float r, uint32_t m) {
  return r * static_cast<float>(m) * Depth<S>::kToUnit;
}
int32_t MaskedIndex(float g) { return std::max(1, static_cast<int32_t>(g * 0.5f)); }

// Makes the slots those of the limited radius r at depth S, keeping them
// when they already are. The radius of a slot depends on r alone, so a slot
// gives the same kernel whichever pixel fills it first.
template <class S>
void PrepareMaskedSlots(float r, float& keyRadius, uint32_t& keyDepth, MaskedSlots slots) {
  if (r == keyRadius && keyDepth == sizeof(S)) return;
  keyRadius = r;
  keyDepth = sizeof(S);
  slots.radiusOf.clear();
  slots.kernels.clear();
  for (uint32_t m = 1; m <= static_cast<uint32_t>(Depth<S>::L); ++m) {
    const float g = MaskedRadius<S>(r, m);
    const std::size_t n = static_cast<std::size_t>(MaskedIndex(g));
    if (n >= slots.radiusOf.size()) slots.radiusOf.resize(n + 1, 0.0f);
    slots.radiusOf[n] = g;  // g grows with m: the last one is the largest
  }
  slots.kernels.resize(slots.radiusOf.size());
}

// A mask value as the slot of its kernel; 0 for no blur. A 16-bit sample
// above full scale counts as full.
template <class S>
std::size_t MaskedSlot(uint32_t m, float radius) {
  m = std::min(m, static_cast<uint32_t>(Depth<S>::L));
  return m == 0 ? 0 : static_cast<std::size_t>(MaskedIndex(MaskedRadius<S>(radius, m)));
}

// Builds, before the rows are shared among workers, the kernel of every
// mask value rect meets: the workers then only read the slots.
template <class S>
void BuildMaskedKernels(const Raster& mask, const Rect& rect, float radius, MaskedSlots slots) {
  std::vector<uint8_t> seen(static_cast<std::size_t>(Depth<S>::L) + 1, 0);
  for (int32_t y = rect.top; y < rect.bottom; ++y)
    for (int32_t x = rect.left; x < rect.right; ++x) seen[std::min(MaskAt<S>(mask, x, y), static_cast<uint32_t>(Depth<S>::L))] = 1;
  for (uint32_t m = 1; m < seen.size(); ++m) {
    if (seen[m] == 0) continue;
    const std::size_t n = MaskedSlot<S>(m, radius);
    if (!slots.kernels[n]) slots.kernels[n] = BuildGaussKernel(static_cast<int32_t>(n), slots.radiusOf[n]);
  }
}

template <class S>
void MaskedPass(const Raster& from, int32_t fx, int32_t fy, Raster& to, int32_t tx, int32_t ty, const Rect& rect,
                const Raster& mask, float radius, bool horizontal, MaskedSlots slots) {
  BuildMaskedKernels<S>(mask, rect, radius, slots);
  const int32_t channels = from.Channels();
  const int32_t lineStart = horizontal ? rect.left : rect.top;
  const int32_t lineEnd = (horizontal ? rect.right : rect.bottom) - 1;
  const std::ptrdiff_t step = horizontal ? channels : from.RowStride() / static_cast<std::ptrdiff_t>(sizeof(S));
  // Each row reads `from` and writes its own row of `to`.
  const int64_t rowWork = int64_t{rect.Width()} * channels * 16;
  ParallelFor(rect.Height(), LineGrain(rowWork), [&](int32_t begin, int32_t end) {
    for (int32_t y = rect.top + begin; y < rect.top + end; ++y) {
      const S* src = from.RowAs<S>(y - fy);
      S* dst = to.RowAs<S>(y - ty);
      for (int32_t x = rect.left; x < rect.right; ++x) {
        const S* p = src + static_cast<std::ptrdiff_t>(x - fx) * channels;
        S* d = dst + static_cast<std::ptrdiff_t>(x - tx) * channels;
        const std::size_t n = MaskedSlot<S>(MaskAt<S>(mask, x, y), radius);
        if (n == 0) {
          std::copy(p, p + channels, d);
          continue;
        }
        const GaussKernel& k = *slots.kernels[n];
        const int32_t half = static_cast<int32_t>(k.taps.size() / 2);
        const int32_t at = horizontal ? x : y;
        if (channels <= 4 && at - half >= lineStart && at + half <= lineEnd) {
          // Away from the line's ends: no clamping, every channel in one sweep
          // over the taps (the same sums in the same order).
          uint32_t acc[4] = {0, 0, 0, 0};
          const S* q = p - half * step;
          for (int32_t t = 0; t <= 2 * half; ++t, q += step) {
            const uint32_t tap = static_cast<uint32_t>(k.taps[t]);
            for (int32_t c = 0; c < channels; ++c) acc[c] += tap * q[c];
          }
          for (int32_t c = 0; c < channels; ++c) d[c] = static_cast<S>(k.sum != 0 ? acc[c] / k.sum : p[c]);
          continue;
        }
        for (int32_t c = 0; c < channels; ++c) {
          uint32_t acc = 0;
          for (int32_t t = 0; t <= 2 * half; ++t) {
            const int32_t pos = std::clamp(at - half + t, lineStart, lineEnd);
            acc += static_cast<uint32_t>(k.taps[t]) * p[(pos - at) * step + c];
          }
          d[c] = static_cast<S>(k.sum != 0 ? acc / k.sum : p[c]);
        }
      }
    }
  });
}

int32_t ReachOf(int32_t mode, int32_t passes, float radius) {
  if (!(radius > 0)) return 0;
  double reach;
  if (mode == SeparableBlur::kGaussian) {
    // The kernel reaches trunc(r / 2), at most one more when r is tiny; a
    // band line of at least r samples keeps the radius limit min(r, L) of
    // the whole image; the masked blur's kernels reach at most 2 beyond.
    reach = std::max(std::ceil(static_cast<double>(radius)), 2.0);
  } else {
    // Each pass reaches c = ceil(h) samples with weight; an output within n
    // of a line end is divided rather than taken through the reciprocal,
    // and for an integral h, n = c + 1: passes + 1 runs reach
    // (passes + 1) c + 1. A band line of at least 2c + 2 samples keeps c
    // within the half-width limit L / 2 - 1 exactly as on the whole image,
    // which the shortest band (one row plus the margin on one side) has when
    // the margin is 2c + 1. That margin also covers the masked blur.
    const double c = std::ceil(static_cast<double>(radius * 0.5f));
    reach = std::max((passes + 1) * c + 1, 2 * c + 1);
  }
  return static_cast<int32_t>(std::min(reach, kMaxReach));
}

}  // namespace

void LimitBlurInstructionSet(int32_t level) { isaLimit = std::clamp(level, int32_t{kBaseline}, int32_t{kAvx512}); }

// ============================================================ SeparableBlur

SeparableBlur::SeparableBlur() = default;
SeparableBlur::~SeparableBlur() = default;

void SeparableBlur::SetMode(int32_t mode) {
  mode = mode == kGaussian ? kGaussian : kBox;
  if (mode == mode_) return;
  mode_ = mode;
  const float rx = radiusX_, ry = radiusY_;
  radiusX_ = radiusY_ = 0;
  SetRadii(rx, ry);
}

void SeparableBlur::SetPasses(int32_t passes) { passes_ = std::clamp(passes, 0, kMaxPasses); }

bool SeparableBlur::SetRadii(float rx, float ry) {
  if (mode_ == kGaussian) {
    rx *= 3;
    ry *= 3;
  }
  rx = SanitizeRadius(rx);
  ry = SanitizeRadius(ry);
  if (rx == radiusX_ && ry == radiusY_) return false;
  if (mode_ == kBox) {
    radiusX_ = rx;
    radiusY_ = ry;
    return true;
  }
  if (rx != radiusX_) {
    radiusX_ = rx;
    kernelsX_.clear();
  }
  if (ry != radiusY_) {
    radiusY_ = ry;
    kernelsY_.clear();
  }
  return true;
}

int32_t SeparableBlur::ReachX() const { return ReachOf(mode_, passes_, radiusX_); }
int32_t SeparableBlur::ReachY() const { return ReachOf(mode_, passes_, radiusY_); }

void SeparableBlur::Blur(Raster& raster, const Rect& rect) {
  const Rect area = rect.Intersect(raster.Bounds());
  if (area.Empty() || raster.Base() == nullptr || raster.Channels() < 1) return;
  if (raster.BytesPerSample() != 1 && raster.BytesPerSample() != 2) return;
  WithDepth(raster.Is16Bit(), [&]<class S>() {
    if (mode_ == kGaussian) {
      const float rx = std::min(radiusX_, static_cast<float>(area.Width()));
      const float ry = std::min(radiusY_, static_cast<float>(area.Height()));
      if (!(rx > 0) && !(ry > 0)) return;
      const Layout layout = LayoutOf(raster, area);
      // A kernel whose weights all rounded to 0 (only at radii beyond any
      // image) leaves its direction as it is.
      if (rx > 0) {
        const GaussKernel& k = KernelAt(kernelsX_, static_cast<int32_t>(rx * 0.5f), rx);
        if (k.sum != 0) AlongRows<S>(raster, area, 1, GaussOp<S>{&k, area.Width()}, layout, workAreas_);
      }
      if (ry > 0) {
        const GaussKernel& k = KernelAt(kernelsY_, static_cast<int32_t>(ry * 0.5f), ry);
        if (k.sum != 0) AlongColumns<S>(raster, area, 1, GaussOp<S>{&k, area.Height()}, layout, workAreas_);
      }
      return;
    }
    const int32_t runs = passes_ + 1;
    BoxLine gx, gy;
    const bool alongRows = MakeBoxLine<S>(area.Width(), radiusX_ * 0.5f, gx);
    const bool alongColumns = MakeBoxLine<S>(area.Height(), radiusY_ * 0.5f, gy);
    if (!alongRows && !alongColumns) return;
    const Layout layout = LayoutOf(raster, area);
    if (alongRows)
      WithRecip<S>(gx, [&]<class R>(const R& rec) {
        AlongRows<S>(raster, area, runs, BoxOp<S, R>{gx, rec}, layout, workAreas_);
      });
    if (alongColumns)
      WithRecip<S>(gy, [&]<class R>(const R& rec) {
        AlongColumns<S>(raster, area, runs, BoxOp<S, R>{gy, rec}, layout, workAreas_);
      });
  });
}

void SeparableBlur::BlurMasked(Raster& raster, const Rect& rect, const Raster& mask) {
  if (mask.Channels() != 1 || mask.BytesPerSample() != raster.BytesPerSample())
    throw std::invalid_argument("blur mask: one channel of the raster's depth");
  const Rect area = rect.Intersect(raster.Bounds());
  if (area.Empty() || raster.Base() == nullptr || raster.Channels() < 1) return;
  if (raster.BytesPerSample() != 1 && raster.BytesPerSample() != 2) return;
  const float rx = std::min(radiusX_, static_cast<float>(area.Width()));
  const float ry = std::min(radiusY_, static_cast<float>(area.Height()));
  if (!(rx > 0) && !(ry > 0)) return;
  // The first direction's result, kept for the next call of the same size.
  if (!maskedTemp_ || maskedTemp_->Width() != area.Width() || maskedTemp_->Height() != area.Height() ||
      maskedTemp_->Channels() != raster.Channels() || maskedTemp_->BytesPerSample() != raster.BytesPerSample())
    maskedTemp_ = MakeRaster(area.Width(), area.Height(), raster.Channels(), raster.BytesPerSample());
  Raster* temp = maskedTemp_.get();
  WithDepth(raster.Is16Bit(), [&]<class S>() {
    const MaskedSlots x{maskedX_.radiusOf, maskedX_.kernels}, y{maskedY_.radiusOf, maskedY_.kernels};
    if (rx > 0) {
      PrepareMaskedSlots<S>(rx, maskedX_.radius, maskedX_.depth, x);
      MaskedPass<S>(raster, 0, 0, *temp, area.left, area.top, area, mask, rx, true, x);
    } else {
      temp->CopyRect(raster, area, 0, 0);
    }
    if (ry > 0) {
      PrepareMaskedSlots<S>(ry, maskedY_.radius, maskedY_.depth, y);
      MaskedPass<S>(*temp, area.left, area.top, raster, 0, 0, area, mask, ry, false, y);
    } else {
      raster.CopyRect(*temp, {0, 0, area.Height(), area.Width()}, area.left, area.top);
    }
  });
}

// Kernel weights: A * exp(-t^2 / (2 sigma^2)) * 65535 rounded, with s, t and
// sigma in single precision as the radius is, A and the exponential in
// double. A weight is capped at 131071 so that a one-tap kernel of a tiny s
// (whose single weight cancels out) keeps its products within 32 bits.
std::unique_ptr<GaussKernel> BuildGaussKernel(int32_t n, float r) {
  auto k = std::make_unique<GaussKernel>();
  const float h = r * 0.5f;
  const float s = static_cast<float>(n) + (std::ceil(h) - h);
  k->s = s;
  if (!(s > 0) || !std::isfinite(s)) {
    k->taps = {1};
    k->sum = 1;
    return k;
  }
  const int32_t whole = static_cast<int32_t>(std::floor(s));
  const float sigma = s * 0.31830987f;
  const double a = 1.0 / (static_cast<double>(sigma) * 2.5066283095076434735);
  const double twoSigmaSquared = 2.0 * static_cast<double>(sigma) * static_cast<double>(sigma);
  const auto weight = [&](float t) {
    const double v = a * std::exp(-static_cast<double>(t) * static_cast<double>(t) / twoSigmaSquared) * 65535 + 0.5;
    return static_cast<int32_t>(v >= 0 ? std::min(v, 131071.0) : 0.0);
  };
  k->taps.assign(2 * static_cast<std::size_t>(whole) + 1, 0);
  for (int32_t i = 0; i < whole; ++i) k->taps[i] = k->taps[2 * whole - i] = weight(s - static_cast<float>(i));
  k->taps[whole] = weight(s - static_cast<float>(whole));
  uint64_t sum = 0;
  for (int32_t t : k->taps) sum += static_cast<uint32_t>(t);
  k->sum = static_cast<uint32_t>(std::min<uint64_t>(sum, std::numeric_limits<uint32_t>::max()));
  return k;
}

}  // namespace fx
