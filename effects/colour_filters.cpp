#include "effects/colour_filters.h"

#include <algorithm>
#include <cmath>

#include "effects/colour_ops.h"
#include "imaging/masks.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"

namespace fx::grads {
Rgb ColourFilterColour(int32_t index) { return kColourFilters[std::clamp(index, 0, kColourFilterCount - 1)].colour; }

namespace {

double Unit(double v) { return std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0); }

}  // namespace

void ColourFilter::Load(const Rgb& colour) {
  const Rgb c{Unit(colour.r), Unit(colour.g), Unit(colour.b)};
  if (loaded_ && c.r == colour_.r && c.g == colour_.g && c.b == colour_.b) return;
  const double k[3] = {c.r, c.g, c.b};
  for (int ch = 0; ch < 3; ++ch) {
    for (int32_t i = 0; i < 256; ++i) table8_[ch][i] = static_cast<uint8_t>(i / 255.0 * k[ch] * 255.0);
    table16_[ch].resize(Depth16::kTableSize);
    for (int32_t i = 0; i < Depth16::kTableSize; ++i)
      table16_[ch][i] = static_cast<uint16_t>(i * 0.000030517578125 * k[ch] * 32768.0);
  }
  colour_ = c;
  loaded_ = true;
  ++tableBuilds_;
}

template <class S>
void ColourFilter::ApplyT(const Raster& unfiltered, Raster& destination, const Rect& rect,
                          const Settings& s) const {
  using D = Depth<S>;
  constexpr int32_t L = D::L;
  const S* table[3];
  for (int ch = 0; ch < 3; ++ch) {
    if constexpr (sizeof(S) == 1) table[ch] = table8_[ch].data();
    else table[ch] = table16_[ch].data();
  }
  const double e = s.exposure;
  const int32_t d = static_cast<int32_t>(Unit(s.opacity) * L);
  ParallelFor(rect.Height(), LineGrain(rect.Width()), [&](int32_t begin, int32_t end) {
    for (int32_t y = rect.top + begin; y < rect.top + end; ++y) {
      S* p = destination.RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(rect.left);
      for (int32_t x = rect.left; x < rect.right; ++x, p += 4) {
        // Samples above full scale (a careless host's 16-bit data) index the
        // tables at full scale.
        const int32_t P[3] = {std::min<int32_t>(p[0], L), std::min<int32_t>(p[1], L), std::min<int32_t>(p[2], L)};
        int32_t F[3];
        for (int ch = 0; ch < 3; ++ch) F[ch] = table[ch][P[ch]];
        if (e != 0) {
          const int32_t o = static_cast<int32_t>(
              e * (FilterLuminance(P[0], P[1], P[2]) - FilterLuminance(F[0], F[1], F[2])));
          for (int ch = 0; ch < 3; ++ch) F[ch] = D::Clamp(int64_t{F[ch]} + o);
        }
        for (int ch = 0; ch < 3; ++ch)
          p[ch] = static_cast<S>(d >= L ? F[ch] : (int64_t{d} * F[ch] + int64_t{L - d} * P[ch]) / L);
      }
    }
  });
  if (s.highlights > 0) {
    const RasterRef mask = HighlightMask(unfiltered, rect);
    BlendWhereMasked(unfiltered, destination, *mask, destination, rect, static_cast<float>(Unit(s.highlights)));
  }
}

void ColourFilter::Apply(const Raster& unfiltered, Raster& destination, const Rect& rect, const Settings& s) const {
  if (!loaded_) return;
  const Rect r = rect.Intersect(destination.Bounds()).Intersect(unfiltered.Bounds());
  if (r.Empty()) return;
  WithDepth(destination.Is16Bit(), [&]<class S>() { ApplyT<S>(unfiltered, destination, r, s); });
}

}  // namespace fx::grads
