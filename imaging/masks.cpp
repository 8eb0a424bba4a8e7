#include "imaging/masks.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/parallel.h"
#include "imaging/pixel.h"

namespace fx {
namespace {

// A computed sample value truncated into 0..L; NaN (from a degenerate shape)
// gives 0 rather than an undefined conversion.
template <class S>
S TruncSample(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= Depth<S>::L) return static_cast<S>(Depth<S>::L);
  return static_cast<S>(v);
}

void CheckMask(const Raster& mask, const char* what) {
  if (mask.Channels() != 1)
    throw std::invalid_argument(std::string(what) + ": the mask must have one channel");
}

void CheckImage(const Raster& image, const Raster& mask, const char* what) {
  if (image.Channels() != 4 || image.BytesPerSample() != mask.BytesPerSample())
    throw std::invalid_argument(std::string(what) + ": a four-channel image of the mask's depth is needed");
}

float ClampAmount(float amount) {
  return amount > 0.0f ? (amount < 1.0f ? amount : 1.0f) : 0.0f;
}

// ------------------------------------------------------------ gradients

template <class S>
void FillRamp(Raster& ramp, int32_t count, int32_t channels, bool vertical, bool reversed,
              std::span<const double> samples) {
  for (int32_t k = 0; k < count; ++k) {
    const int32_t at = reversed ? count - 1 - k : k;
    S* p = vertical ? ramp.RowAs<S>(at) : ramp.RowAs<S>(0) + static_cast<std::ptrdiff_t>(at) * channels;
    for (int32_t c = 0; c < channels; ++c) {
      const double v = samples[static_cast<std::size_t>(k * channels + c)];
      p[c] = TruncSample<S>(std::clamp(std::isnan(v) ? 0.0 : v, 0.0, 1.0) * Depth<S>::L);
    }
  }
}

// ------------------------------------------------------------ spot

template <class S>
void SpotT(Raster& mask, const Rect& rect, Origin origin, const SpotShape& spot) {
  constexpr int32_t L = Depth<S>::L;
  const double half = spot.side * 0.5;
  const double horizontalHalf = half / spot.horizontalFactor;
  const double f = spot.falloff;
  ParallelRows(rect.top, rect.bottom, 8 * int64_t{rect.Width()}, [&](int32_t top, int32_t bottom) {
    for (int32_t i = top; i < bottom; ++i) {
      S* m = mask.RowAs<S>(i);
      const double dy = (spot.centreY - (static_cast<double>(i) + origin.y)) / half;
      for (int32_t j = rect.left; j < rect.right; ++j) {
        const double dx = (spot.centreX - (static_cast<double>(j) + origin.x)) / horizontalHalf;
        const double d = std::sqrt(dx * dx + dy * dy);
        if (d < spot.inner) {
          m[j] = 0;
        } else if (d >= spot.outer) {
          m[j] = static_cast<S>(L);
        } else {
          const double u = (d - spot.inner) / (spot.outer - spot.inner);
          m[j] = TruncSample<S>(L * (3.0 * f * u * (1.0 - u) + u * u * u));
        }
      }
    }
  });
}

// ------------------------------------------------------------ noise

// The reference permutation of 0..255, repeated to 512 entries.
constexpr uint8_t kPermutation[256] = {
    151, 160, 137, 91,  90,  15,  131, 13,  201, 95,  96,  53,  194, 233, 7,   225, 140, 36,  103, 30,
    69,  142, 8,   99,  37,  240, 21,  10,  23,  190, 6,   148, 247, 120, 234, 75,  0,   26,  197, 62,
    94,  252, 219, 203, 117, 35,  11,  32,  57,  177, 33,  88,  237, 149, 56,  87,  174, 20,  125, 136,
    171, 168, 68,  175, 74,  165, 71,  134, 139, 48,  27,  166, 77,  146, 158, 231, 83,  111, 229, 122,
    60,  211, 133, 230, 220, 105, 92,  41,  55,  46,  245, 40,  244, 102, 143, 54,  65,  25,  63,  161,
    1,   216, 80,  73,  209, 76,  132, 187, 208, 89,  18,  169, 200, 196, 135, 130, 116, 188, 159, 86,
    164, 100, 109, 198, 173, 186, 3,   64,  52,  217, 226, 250, 124, 123, 5,   202, 38,  147, 118, 126,
    255, 82,  85,  212, 207, 206, 59,  227, 47,  16,  58,  17,  182, 189, 28,  42,  223, 183, 170, 213,
    119, 248, 152, 2,   44,  154, 163, 70,  221, 153, 101, 155, 167, 43,  172, 9,   129, 22,  39,  253,
    19,  98,  108, 110, 79,  113, 224, 232, 178, 185, 112, 104, 218, 246, 97,  228, 251, 34,  242, 193,
    238, 210, 144, 12,  191, 179, 162, 241, 81,  51,  145, 235, 249, 14,  239, 107, 49,  192, 214, 31,
    181, 199, 106, 157, 184, 84,  204, 176, 115, 121, 50,  45,  127, 4,   150, 254, 138, 236, 205, 93,
    222, 114, 67,  29,  24,  72,  243, 141, 128, 195, 78,  66,  215, 61,  156, 180};

inline int32_t P(int32_t i) {
  return kPermutation[i & 255];
}

inline double Fade(double t) {
  return t * t * t * (t * (t * 6 - 15) + 10);
}
inline double Lerp(double t, double a, double b) {
  return a + t * (b - a);
}
inline double Grad(int32_t hash, double x, double y, double z) {
  const int32_t h = hash & 15;
  const double u = h < 8 ? x : y;
  const double v = h < 4 ? y : (h == 12 || h == 14 ? x : z);
  return ((h & 1) == 0 ? u : -u) + ((h & 2) == 0 ? v : -v);
}

// The lattice cell of a coordinate modulo 256, as (int) floor(x) & 255 but
// reduced exactly in double first, so that huge coordinates convert safely.
inline int32_t Cell(double floorValue) {
  double r = std::fmod(floorValue, 256.0);
  if (r < 0) r += 256.0;
  return static_cast<int32_t>(r) & 255;
}

template <class S>
void NoiseT(Raster& mask, const Rect& rect, Origin origin, double n, double d, double scaleX, double scaleY) {
  constexpr int32_t L = Depth<S>::L;
  ParallelRows(rect.top, rect.bottom, 32 * int64_t{rect.Width()}, [&](int32_t top, int32_t bottom) {
    for (int32_t i = top; i < bottom; ++i) {
      S* m = mask.RowAs<S>(i);
      const double ny = n * ((static_cast<double>(i) + origin.y) / scaleY) * 0.2;
      for (int32_t j = rect.left; j < rect.right; ++j) {
        const double nx = (static_cast<double>(j) + origin.x) / scaleX * n * 0.2;
        const double t = ImprovedNoise(nx, ny, 0.0);
        m[j] = TruncSample<S>(((t + 0.5) * d + (1.0 - n)) * L);
      }
    }
  });
}

template <class S>
void MultiplyT(Raster& mask, const Raster& by, const Rect& rect) {
  constexpr int32_t L = Depth<S>::L;
  ParallelRows(rect.top, rect.bottom, rect.Width(), [&](int32_t top, int32_t bottom) {
    for (int32_t i = top; i < bottom; ++i) {
      S* m = mask.RowAs<S>(i);
      const S* b = by.RowAs<S>(i);
      for (int32_t j = rect.left; j < rect.right; ++j) m[j] = static_cast<S>(m[j] * b[j] / L);
    }
  });
}

// ------------------------------------------------------------ applying masks

// The mask weight: m scaled by trunc(amount x L). In 16-bit the division by
// L is the shift by 15 of the text, the values being non-negative.
template <class S>
inline int32_t Weight(int32_t m, int32_t scaledAmount) {
  return m * scaledAmount / Depth<S>::L;
}

template <class S>
int32_t ScaledAmount(float amount) {
  return static_cast<int32_t>(ClampAmount(amount) * static_cast<float>(Depth<S>::L));
}

template <class S, bool kWhereMasked>
void BlendT(const Raster& first, const Raster& second, const Raster& mask, Raster& destination,
            const Rect& rect, float amount) {
  constexpr int32_t L = Depth<S>::L;
  const int32_t a = ScaledAmount<S>(amount);
  ParallelRows(rect.top, rect.bottom, 4 * int64_t{rect.Width()}, [&](int32_t top, int32_t bottom) {
    for (int32_t i = top; i < bottom; ++i) {
      const S* f = first.RowAs<S>(i) + 4 * static_cast<std::ptrdiff_t>(rect.left);
      const S* s = second.RowAs<S>(i) + 4 * static_cast<std::ptrdiff_t>(rect.left);
      const S* m = mask.RowAs<S>(i);
      S* d = destination.RowAs<S>(i) + 4 * static_cast<std::ptrdiff_t>(rect.left);
      for (int32_t j = rect.left; j < rect.right; ++j, f += 4, s += 4, d += 4) {
        const int32_t k = Weight<S>(m[j], a);
        if constexpr (kWhereMasked) {
          if (k == 0) continue;
          for (int c = 0; c < 3; ++c) d[c] = static_cast<S>((k * f[c] + (L - k) * s[c]) / L);
        } else {
          for (int c = 0; c < 3; ++c) d[c] = static_cast<S>((k * s[c] + (L - k) * f[c]) / L);
        }
      }
    }
  });
}

template <class S>
void DarkenT(Raster& image, const Raster& mask, const Rect& rect, float amount) {
  constexpr int32_t L = Depth<S>::L;
  const int32_t a = ScaledAmount<S>(amount);
  ParallelRows(rect.top, rect.bottom, 4 * int64_t{rect.Width()}, [&](int32_t top, int32_t bottom) {
    for (int32_t i = top; i < bottom; ++i) {
      S* p = image.RowAs<S>(i) + 4 * static_cast<std::ptrdiff_t>(rect.left);
      const S* m = mask.RowAs<S>(i);
      for (int32_t j = rect.left; j < rect.right; ++j, p += 4) {
        if (m[j] == 0) continue;
        const int32_t g = L - Weight<S>(m[j], a);
        for (int c = 0; c < 3; ++c) p[c] = static_cast<S>(p[c] * g / L);
      }
    }
  });
}

}  // namespace

// ------------------------------------------------------------ gradients

GradDirection GradDirectionFromIndex(int32_t index) {
  return index >= 0 && index <= 3 ? static_cast<GradDirection>(index) : GradDirection::kTopToBottom;
}

bool MakeGradient(Raster& destination, const Rect& rect, Origin origin, const Quad& corners, double size,
                  GradDirection direction, std::span<const double> samples) {
  const int32_t channels = destination.Channels();
  if (channels != 1 && channels != 4)
    throw std::invalid_argument("MakeGradient: the destination must have one or four channels");
  const int32_t count = static_cast<int32_t>(samples.size() / static_cast<std::size_t>(channels));
  if (count == 0) return false;
  const bool vertical = direction == GradDirection::kTopToBottom || direction == GradDirection::kBottomToTop;
  const bool reversed = direction == GradDirection::kBottomToTop || direction == GradDirection::kRightToLeft;
  RasterRef ramp =
      MakeRaster(vertical ? 1 : count, vertical ? count : 1, channels, destination.BytesPerSample());
  WithDepth(destination.Is16Bit(),
            [&]<class S>() { FillRamp<S>(*ramp, count, channels, vertical, reversed, samples); });
  return QuadWarp(*ramp, destination, rect, origin, corners, size, 1.0);
}

bool MakeGradientMask(Raster& mask, const Rect& rect, Origin origin, const Quad& corners, double size,
                      GradDirection direction) {
  CheckMask(mask, "MakeGradientMask");
  static constexpr double kFullToNone[] = {1.0, 0.0};
  return MakeGradient(mask, rect, origin, corners, size, direction, kFullToNone);
}

// ------------------------------------------------------------ spot

void MakeSpotMask(Raster& mask, const Rect& rect, Origin origin, const SpotShape& spot) {
  CheckMask(mask, "MakeSpotMask");
  const Rect r = rect.Intersect(mask.Bounds());
  if (r.Empty()) return;
  WithDepth(mask.Is16Bit(), [&]<class S>() { SpotT<S>(mask, r, origin, spot); });
}

// ------------------------------------------------------------ noise

double ImprovedNoise(double x, double y, double z) {
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return 0.0;
  const double fx = std::floor(x), fy = std::floor(y), fz = std::floor(z);
  const int32_t X = Cell(fx), Y = Cell(fy), Z = Cell(fz);
  x -= fx;
  y -= fy;
  z -= fz;
  const double u = Fade(x), v = Fade(y), w = Fade(z);
  const int32_t A = P(X) + Y, AA = P(A) + Z, AB = P(A + 1) + Z;
  const int32_t B = P(X + 1) + Y, BA = P(B) + Z, BB = P(B + 1) + Z;
  return Lerp(w,
              Lerp(v, Lerp(u, Grad(P(AA), x, y, z), Grad(P(BA), x - 1, y, z)),
                   Lerp(u, Grad(P(AB), x, y - 1, z), Grad(P(BB), x - 1, y - 1, z))),
              Lerp(v, Lerp(u, Grad(P(AA + 1), x, y, z - 1), Grad(P(BA + 1), x - 1, y, z - 1)),
                   Lerp(u, Grad(P(AB + 1), x, y - 1, z - 1), Grad(P(BB + 1), x - 1, y - 1, z - 1))));
}

void MakeNoiseMask(Raster& mask, const Rect& rect, Origin origin, double n, double d, double scaleX,
                   double scaleY) {
  CheckMask(mask, "MakeNoiseMask");
  const Rect r = rect.Intersect(mask.Bounds());
  if (r.Empty()) return;
  if (!(scaleX > 0) || !std::isfinite(scaleX)) scaleX = 1.0;
  if (!(scaleY > 0) || !std::isfinite(scaleY)) scaleY = 1.0;
  WithDepth(mask.Is16Bit(), [&]<class S>() { NoiseT<S>(mask, r, origin, n, d, scaleX, scaleY); });
}

void MultiplyMask(Raster& mask, const Raster& by, const Rect& rect) {
  CheckMask(mask, "MultiplyMask");
  if (by.Channels() != 1 || by.BytesPerSample() != mask.BytesPerSample())
    throw std::invalid_argument("MultiplyMask: both masks must have one channel and one depth");
  const Rect r = rect.Intersect(mask.Bounds()).Intersect(by.Bounds());
  if (r.Empty()) return;
  WithDepth(mask.Is16Bit(), [&]<class S>() { MultiplyT<S>(mask, by, r); });
}

// ------------------------------------------------------------ applying masks

void BlendThroughMask(const Raster& first, const Raster& second, const Raster& mask, Raster& destination,
                      const Rect& rect, float amount) {
  CheckMask(mask, "BlendThroughMask");
  for (const Raster* r : {&first, &second, static_cast<const Raster*>(&destination)})
    CheckImage(*r, mask, "BlendThroughMask");
  const Rect r = rect.Intersect(first.Bounds())
                     .Intersect(second.Bounds())
                     .Intersect(mask.Bounds())
                     .Intersect(destination.Bounds());
  if (r.Empty()) return;
  WithDepth(mask.Is16Bit(),
            [&]<class S>() { BlendT<S, false>(first, second, mask, destination, r, amount); });
}

void BlendWhereMasked(const Raster& first, const Raster& second, const Raster& mask, Raster& destination,
                      const Rect& rect, float amount) {
  CheckMask(mask, "BlendWhereMasked");
  for (const Raster* r : {&first, &second, static_cast<const Raster*>(&destination)})
    CheckImage(*r, mask, "BlendWhereMasked");
  const Rect r = rect.Intersect(first.Bounds())
                     .Intersect(second.Bounds())
                     .Intersect(mask.Bounds())
                     .Intersect(destination.Bounds());
  if (r.Empty()) return;
  WithDepth(mask.Is16Bit(), [&]<class S>() { BlendT<S, true>(first, second, mask, destination, r, amount); });
}

void DarkenThroughMask(Raster& image, const Raster& mask, const Rect& rect, float amount) {
  CheckMask(mask, "DarkenThroughMask");
  CheckImage(image, mask, "DarkenThroughMask");
  const Rect r = rect.Intersect(image.Bounds()).Intersect(mask.Bounds());
  if (r.Empty()) return;
  WithDepth(mask.Is16Bit(), [&]<class S>() { DarkenT<S>(image, mask, r, amount); });
}

}  // namespace fx
