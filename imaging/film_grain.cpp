#include "imaging/film_grain.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <stdexcept>

#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/separable_blur.h"
#include "imaging/tone_curve.h"

namespace fx {
namespace {

// Values a parameter cannot hold are made safe before they reach an integer
// conversion or a table index.
double Finite(double v, double fallback) {
  return std::isfinite(v) ? v : fallback;
}
double SafeSize(double v) {
  return std::clamp(Finite(v, 1.0), 0.0, 1000.0);
}
double SafeFraction(double percent, double fallback) {
  return std::clamp(Finite(percent * 0.01, fallback), 0.0, 1.0);
}
float SafeSoftness(double v) {
  return static_cast<float>(std::clamp(Finite(v, 0.0), 0.0, 1000.0));
}
double SafeScale(double v) {
  return std::clamp(Finite(v, 1.0), 0.0, 1000.0);
}

// Plane b of tile t: b + t (b + 1), in 32-bit arithmetic that wraps.
uint32_t Seed(int b, int32_t tileIndex) {
  return static_cast<uint32_t>(b) + static_cast<uint32_t>(tileIndex) * static_cast<uint32_t>(b + 1);
}

// The film response of a pixel as a factor 0..1.
template <class S>
inline float Response(const S* p, const std::array<uint8_t, 256>& table) {
  const int32_t y = Depth<S>::Luminance(p[0], p[1], p[2]);
  return static_cast<float>(table[Depth<S>::LuminanceIndex256(y)]) * 0.003921569f;
}

// Each channel moves by its amount times the response times the noise's
// distance from 127 (single precision), truncated and clamped. In 16-bit the
// amount is scaled by 128 to reach the wider sample range.
template <class S>
void ColourGrainT(Raster& raster, const Rect& rect, const Raster* const noise[3], const double amount[3],
                  const std::array<uint8_t, 256>& table) {
  constexpr float kScale = sizeof(S) == 1 ? 1.0f : 128.0f;
  const float factor[3] = {static_cast<float>(amount[0]) * kScale, static_cast<float>(amount[1]) * kScale,
                           static_cast<float>(amount[2]) * kScale};
  ParallelRows(0, rect.Height(), 4 * int64_t{rect.Width()}, [&](int32_t first, int32_t end) {
    for (int32_t i = first; i < end; ++i) {
      S* p = raster.RowAs<S>(rect.top + i) + 4 * static_cast<std::ptrdiff_t>(rect.left);
      const uint8_t* n[3] = {noise[0]->RowAs<uint8_t>(i), noise[1]->RowAs<uint8_t>(i),
                             noise[2]->RowAs<uint8_t>(i)};
      for (int32_t j = 0; j < rect.Width(); ++j, p += 4) {
        const float f = Response<S>(p, table);
        for (int c = 0; c < 3; ++c) {
          const float v =
              static_cast<float>(p[c]) + factor[c] * f * static_cast<float>(n[c][j] - kNeutralGrain);
          p[c] = Depth<S>::Clamp(static_cast<int64_t>(v));
        }
      }
    }
  });
}

// One noise plane lightens (above 127) or darkens (below) the pixel by
// compositing white or black over it with an alpha from the noise's distance
// from 127; 127 leaves the pixel untouched.
template <class S>
void MonoGrainT(Raster& raster, const Rect& rect, const Raster& noise, double amount,
                const std::array<uint8_t, 256>& table) {
  static constexpr int32_t kWhite[3] = {Depth<S>::L, Depth<S>::L, Depth<S>::L};
  static constexpr int32_t kBlack[3] = {0, 0, 0};
  const float a = static_cast<float>(amount);
  ParallelRows(0, rect.Height(), 4 * int64_t{rect.Width()}, [&](int32_t first, int32_t end) {
    for (int32_t i = first; i < end; ++i) {
      S* p = raster.RowAs<S>(rect.top + i) + 4 * static_cast<std::ptrdiff_t>(rect.left);
      const uint8_t* n = noise.RowAs<uint8_t>(i);
      for (int32_t j = 0; j < rect.Width(); ++j, p += 4) {
        if (n[j] == kNeutralGrain) continue;
        const float f = Response<S>(p, table);
        const int32_t distance = n[j] > kNeutralGrain ? n[j] - kNeutralGrain : kNeutralGrain - n[j];
        // 16-bit: the 8-bit noise distance brought to the 16-bit scale first.
        const int32_t d = sizeof(S) == 1 ? distance : Magnitude8To16(distance);
        const int32_t alpha = static_cast<int32_t>(a * f * static_cast<float>(d));
        CompositeOver<S>(p, n[j] > kNeutralGrain ? kWhite : kBlack, alpha);
      }
    }
  });
}

}  // namespace

namespace {

// The generator's sequence, eight outputs at a time: lane k holds the state
// k + 1 steps ahead, and every lane jumps eight steps at once with the
// composed step (A^8, C (A^7 + ... + 1)), exact in 32-bit arithmetic. The
// bytes are those of GrainRandom, without one multiplication waiting on the
// previous one.
constexpr uint32_t kStepA = 214013u, kStepC = 2531011u;
constexpr uint32_t Step(uint32_t s) {
  return s * kStepA + kStepC;
}

class NoiseStream {
 public:
  static constexpr int kLanes = 8;

  // The stream as it stands after `skip` outputs of a generator seeded with
  // seed: a row's noise depends on its position alone, so rows can be filled
  // in any order, on any thread.
  NoiseStream(uint32_t seed, uint64_t skip) {
    uint32_t state = Jump(seed, skip);
    for (uint32_t& lane : lanes_) lane = state = Step(state);
  }

  // s after n steps, by squaring the step: (a, c) composed with itself is
  // (a a, c a + c).
  static uint32_t Jump(uint32_t s, uint64_t n) {
    uint32_t a = kStepA, c = kStepC;
    for (; n != 0; n >>= 1) {
      if ((n & 1) != 0) s = s * a + c;
      c = c * a + c;
      a *= a;
    }
    return s;
  }

  // The next n noise bytes: ((state >> 16) & 32767) / 128 is bits 23..30.
  void Fill(uint8_t* out, int32_t n) {
    int32_t i = 0;
    while (i < n && next_ != 0) {
      out[i++] = Byte(lanes_[next_++]);
      if (next_ == kLanes) Advance();
    }
    for (; n - i >= kLanes; i += kLanes) {
      for (int k = 0; k < kLanes; ++k) out[i + k] = Byte(lanes_[k]);
      Advance();
    }
    while (i < n) out[i++] = Byte(lanes_[next_++]);
  }

 private:
  // Eight steps composed: s -> s A^8 + C (A^7 + ... + 1).
  static constexpr uint32_t kA8 = [] {
    uint32_t a = 1;
    for (int i = 0; i < kLanes; ++i) a *= kStepA;
    return a;
  }();
  static constexpr uint32_t kC8 = [] {
    uint32_t c = 0;
    for (int i = 0; i < kLanes; ++i) c = Step(c);
    return c;
  }();
  static uint8_t Byte(uint32_t state) { return static_cast<uint8_t>((state >> 23) & 255u); }
  void Advance() {
    for (uint32_t& lane : lanes_) lane = lane * kA8 + kC8;
    next_ = 0;
  }

  uint32_t lanes_[kLanes];
  int next_ = 0;
};

}  // namespace

namespace {

// Noise bytes row by row, whatever the raster's size: one sequence over the
// rows in order, each chunk of rows starting where its first row's samples
// fall in it.
void StreamGrainNoise(Raster& plane, uint32_t seed) {
  const int32_t width = plane.Width();
  ParallelRows(0, plane.Height(), width, [&](int32_t first, int32_t end) {
    NoiseStream stream(seed, static_cast<uint64_t>(first) * static_cast<uint64_t>(width));
    for (int32_t y = first; y < end; ++y) stream.Fill(plane.RowAs<uint8_t>(y), width);
  });
}

}  // namespace

void FillGrainNoise(Raster& plane, uint32_t seed) {
  if (plane.Channels() != 1 || plane.BytesPerSample() != 1)
    throw std::invalid_argument("FillGrainNoise: a one-channel 8-bit raster is needed");
  const int32_t w = plane.Width(), h = plane.Height();
  if (w <= 0 || h <= 0) return;
  if (w == 1 || h == 1) {
    plane.Fill(kNeutralGrain);
    return;
  }
  StreamGrainNoise(plane, seed);
}

// ------------------------------------------------------------ FilmGrain

FilmGrain::FilmGrain() {
  BuildResponseTable();
}

void FilmGrain::SetSizes(double r, double g, double b) {
  size_[0] = SafeSize(r);
  size_[1] = SafeSize(g);
  size_[2] = SafeSize(b);
  dirty_ = true;
}

void FilmGrain::SetAmounts(double r, double g, double b) {
  amount_[0] = SafeFraction(r, 0.0);
  amount_[1] = SafeFraction(g, 0.0);
  amount_[2] = SafeFraction(b, 0.0);
  active_ = MaxAmount() > 0;
  dirty_ = true;
}

void FilmGrain::SetSoftness(double r, double g, double b) {
  softness_[0] = SafeSoftness(r);
  softness_[1] = SafeSoftness(g);
  softness_[2] = SafeSoftness(b);
  dirty_ = true;
}

void FilmGrain::SetResponse(double position, double range, double minimum) {
  responsePosition_ = SafeFraction(position, 0.5);
  responseRange_ = SafeFraction(range, 0.8);
  responseMinimum_ = SafeFraction(minimum, 0.2);
  dirty_ = true;
}

bool FilmGrain::UpdateFromGroup(const GroupValues& v) {
  bool changed = false;
  auto assign = [&changed](auto& field, auto value) {
    if (field != value) {
      field = value;
      changed = true;
    }
  };
  for (int c = 0; c < 3; ++c) {
    assign(size_[c], SafeSize(v.size[c]));
    assign(amount_[c], SafeFraction(v.amount[c], 0.0));
    assign(softness_[c], SafeSoftness(v.softness[c]));
  }
  assign(responsePosition_, SafeFraction(v.position, 0.5));
  assign(responseRange_, SafeFraction(v.range, 0.8));
  assign(responseMinimum_, SafeFraction(v.minimum, 0.2));
  active_ = MaxAmount() > 0;
  dirty_ = true;
  return changed;
}

bool FilmGrain::SetUniform(double size, double amount, double softness) {
  bool changed = false;
  for (int c = 0; c < 3; ++c)
    changed = changed || size_[c] != SafeSize(size) || amount_[c] != SafeFraction(amount, 0.0) ||
              softness_[c] != SafeSoftness(softness);
  SetSizes(size, size, size);
  SetAmounts(amount, amount, amount);
  SetSoftness(softness, softness, softness);
  return changed;
}

void FilmGrain::SetScale(double scaleX, double scaleY) {
  const double x = SafeScale(scaleX), y = SafeScale(scaleY);
  if (x != scaleX_ || y != scaleY_) dirty_ = true;
  scaleX_ = x;
  scaleY_ = y;
}

double FilmGrain::MaxAmount() const {
  return std::max({0.0, amount_[0], amount_[1], amount_[2]});
}

int32_t FilmGrain::CellX(int b) const {
  return std::max(1, static_cast<int32_t>(scaleX_ * size_[b]));
}
int32_t FilmGrain::CellY(int b) const {
  return std::max(1, static_cast<int32_t>(size_[b] * scaleY_));
}

void FilmGrain::Soften(Raster& plane, int b) const {
  // A fresh blur: box mode, a single pass in each direction.
  SeparableBlur blur;
  blur.SetRadii(static_cast<float>(softness_[b] * scaleX_), static_cast<float>(softness_[b] * scaleY_));
  blur.Blur(plane, plane.Bounds());
}

void FilmGrain::BuildPlane(int b, const GrainTile& tile, uint32_t seed) {
  // A grain cell larger than the image still gets a plane of one sample
  // (which is neutral), never an empty one.
  const int32_t w = std::max(1, std::max(0, tile.imageWidth) / CellX(b));
  const int32_t h = std::max(1, std::max(0, tile.imageHeight) / CellY(b));
  RasterRef plane = MakeRaster(w, h, 1, 1);
  if (amount_[b] != 0) {
    FillGrainNoise(*plane, seed);
    if (softness_[b] != 0) Soften(*plane, b);
  } else {
    plane->Fill(kNeutralGrain);
  }
  planes_[b] = std::move(plane);
}

void FilmGrain::BuildResponseTable() {
  const double p = responsePosition_, r = responseRange_, m = responseMinimum_;
  const ToneCurve curve{{p - r, m}, {p - r / 2, m + 0.2}, {p, m + 1}, {p + r / 2, m + 0.2}, {p + r, m}};
  FillCurveTable<uint8_t>(curve, std::span<uint8_t, 256>(responseTable_));
}

void FilmGrain::Rebuild(const GrainTile& tile, int planes) {
  for (int b = 0; b < 3; ++b) {
    if (b >= planes || (CellX(b) == 1 && CellY(b) == 1)) {
      planes_[b] = RasterRef();
      continue;
    }
    BuildPlane(b, tile, Seed(b, tileIndex_));
  }
  BuildResponseTable();
  dirty_ = false;
}

void FilmGrain::MakeNoise(int b, const GrainTile& tile, Raster& noise) {
  if (amount_[b] == 0) {
    noise.Fill(kNeutralGrain);
    return;
  }
  if (CellX(b) == 1 && CellY(b) == 1) {
    // The noise of one tile: a band of one row (or one column) is grained
    // like any other. Only whole planes of one row or column are neutral.
    StreamGrainNoise(noise, Seed(b, tileIndex_));
    if (softness_[b] != 0) Soften(noise, b);
    return;
  }
  // Normally built at tile 0; a render that starts elsewhere builds the
  // plane as tile 0 would have.
  if (!planes_[b]) BuildPlane(b, tile, Seed(b, 0));
  if (!QuadWarp(*planes_[b], noise, noise.Bounds(), tile.origin,
                ImageQuad(tile.imageWidth, tile.imageHeight)))
    noise.Fill(kNeutralGrain);
}

void FilmGrain::Render(Raster& raster, const Rect& rect, const GrainTile& tile, bool monochrome) {
  if (raster.Channels() != 4) throw std::invalid_argument("FilmGrain: a four-channel raster is needed");
  tileIndex_ = std::max(0, tile.tileIndex);
  const int planes = monochrome ? 1 : 3;
  if (dirty_ && tileIndex_ == 0 && tile.tileCount >= 1) Rebuild(tile, planes);

  const Rect area = rect.Intersect(raster.Bounds());
  if (!area.Empty() && active_) {
    GrainTile placed = tile;
    placed.origin = {tile.origin.x + (area.left - rect.left), tile.origin.y + (area.top - rect.top)};
    const Raster* noise[3] = {};
    for (int b = 0; b < planes; ++b) {
      // Tiles of one render mostly share a size: their noise rasters are
      // reused rather than allocated (and faulted in) again per tile.
      RasterRef& n = noise_[b];
      if (!n || n->Width() != area.Width() || n->Height() != area.Height())
        n = MakeRaster(area.Width(), area.Height(), 1, 1);
      MakeNoise(b, placed, *n);
      noise[b] = n.get();
    }
    WithDepth(raster.Is16Bit(), [&]<class S>() {
      if (monochrome)
        MonoGrainT<S>(raster, area, *noise[0], amount_[0], responseTable_);
      else
        ColourGrainT<S>(raster, area, noise, amount_, responseTable_);
    });
  }

  // The reduced planes and the noise rasters live for one render.
  if (tile.tileCount == tileIndex_ + 1) {
    for (RasterRef& plane : planes_) plane = RasterRef();
    for (RasterRef& n : noise_) n = RasterRef();
    dirty_ = true;
  }
}

}  // namespace fx
