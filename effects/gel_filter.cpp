#include "effects/gel_filter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "imaging/pixel.h"

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
      for (int32_t i = 0; i < 256; ++i) table8_[k][i] = static_cast<uint8_t>(static_cast<float>(i) * c[k]);
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

template <class S>
void GelFilter::ApplyT(Raster& destination, const Rect& rect) {
  using D = Depth<S>;
  constexpr int32_t L = D::L;
  const int32_t d = static_cast<int32_t>(opacity_ * static_cast<float>(L));
  // At opacity 0 every pixel mixes back to itself, whatever the compensation
  // and the highlights.
  if (d == 0) return;
  const float x = exposure_;
  const int32_t h = static_cast<int32_t>(highlights_ * static_cast<float>(L));
  const S* table[3] = {TableOf<S>(0), TableOf<S>(1), TableOf<S>(2)};
  std::span<const S> band;
  if (highlights_ > 0) band = HighlightTable<S>();

  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    S* p = destination.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(rect.left);
    for (int32_t col = rect.left; col < rect.right; ++col, p += 4) {
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
      if (h > 0) {
        const int32_t m = band[std::clamp(D::Luminance(P[0], P[1], P[2]), 0, L)];
        const int32_t w = m * h / L;
        if (w != 0)
          for (int c = 0; c < 3; ++c) out[c] = (out[c] * (L - w) + int64_t{P[c]} * w) / L;
      }
      for (int c = 0; c < 3; ++c) p[c] = static_cast<S>(out[c]);
    }
  }
}

void GelFilter::Apply(Raster& destination, const Rect& rect) {
  if (destination.Channels() != 4) throw std::invalid_argument("GelFilter: a four-channel raster is needed");
  if (!Loaded()) return;
  const Rect r = rect.Intersect(destination.Bounds());
  if (r.Empty()) return;
  WithDepth(destination.Is16Bit(), [&]<class S>() { ApplyT<S>(destination, r); });
}

}  // namespace fx
