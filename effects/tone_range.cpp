#include "effects/tone_range.h"

#include <algorithm>

#include "effects/colour_ops.h"
#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/tone_curve.h"

namespace fx {

void ToneRangeEngine::Configure(const ToneMaster& master) {
  if (master == master_) return;
  master_ = master;
  MarkDirty();
}

void ToneRangeEngine::ConfigureFlash(const ToneFlash& flash) {
  if (flash == flash_) return;
  flash_ = flash;
  MarkDirty();
}

void ToneRangeEngine::ConfigureBand(int band, const ToneAdjustment& adjustment, double centre, double width) {
  BandSettings& b = bands_[Index(band)];
  BandSettings next = b;
  next.tone = adjustment;
  if (centre >= 0) next.centre = centre;
  if (width >= 0) next.width = width;
  if (next.tone == b.tone && next.centre == b.centre && next.width == b.width) return;
  b = next;  // the band's weight table follows its centre and width by itself
  MarkDirty();
}

bool ToneRangeEngine::BandsZero() const {
  for (const BandSettings& b : bands_)
    if (!b.tone.IsZero()) return false;
  return true;
}

bool ToneRangeEngine::IsPassThrough() const {
  return master_.hue == 0 && master_.saturation == 0 && master_.tone.IsZero() && !(flash_.amount > 0) &&
         BandsZero();
}

void ToneRangeEngine::Prepare(bool is16Bit) {
  WithDepth(is16Bit, [&]<class S>() {
    if (!TablesOf<S>().current) Build<S>();
  });
}

template <class S>
void ToneRangeEngine::Build() {
  constexpr int32_t L = Depth<S>::L;
  constexpr int32_t N = Depth<S>::kTableSize;
  Tables<S>& t = TablesOf<S>();

  // Master tables: the tone shape, the gain added in proportion to the
  // level, then the flash colour mixed in.
  const ToneAdjustment& m = master_.tone;
  const std::vector<S> shape = ToneShapeTable<S>(m.brightness, m.contrast, m.bend);
  const bool flash = flash_.amount > 0;
  const int32_t g = static_cast<int32_t>(flash_.amount * L);
  const double flashColour[3] = {flash_.colour.r, flash_.colour.g, flash_.colour.b};
  for (int c = 0; c < 3; ++c) {
    std::vector<S>& table = t.channel[c];
    table = shape;
    const double gain = m.Gain(c);
    if (gain != 0) {
      for (int32_t i = 0; i < N; ++i) table[i] = Depth<S>::Clamp(static_cast<int64_t>(gain * i + table[i]));
    }
    if (flash) {
      const int32_t f = static_cast<int32_t>(flashColour[c] * L);
      for (int32_t i = 0; i < N; ++i) table[i] = static_cast<S>((g * f + table[i] * (L - g)) / L);
    }
  }

  // Offsets by luminance: each band's tone shape and gains, weighted by the
  // band and by the level itself. A band with nothing to add contributes
  // exactly 0, so it is left out; with all bands empty there are no offsets.
  for (auto& o : t.offset) o.clear();
  if (!BandsZero()) {
    constexpr double kLevel = sizeof(S) == 1 ? 0.003921569 : 0.000030517578125;
    struct Active {
      std::span<const S> weight;
      std::vector<S> curve;
      const ToneAdjustment* tone;
    };
    std::vector<Active> active;
    for (int b = 0; b < kBandCount; ++b) {
      const BandSettings& band = bands_[b];
      if (band.tone.IsZero()) continue;
      active.push_back({weights_[b].Table<S>(band.centre, band.width),
                        ToneShapeTable<S>(band.tone.brightness, band.tone.contrast, band.tone.bend),
                        &band.tone});
    }
    for (int c = 0; c < 3; ++c) {
      std::vector<int32_t>& offset = t.offset[c];
      offset.assign(N, 0);
      for (int32_t i = 0; i < N; ++i) {
        double sum = 0;
        for (const Active& a : active)
          sum += ((static_cast<double>(a.curve[i]) - i) / L + a.tone->Gain(c)) * a.weight[i];
        offset[i] = static_cast<int32_t>(i * kLevel * sum);
      }
    }
  }
  t.current = true;
}

template <class S>
void ToneRangeEngine::ApplyT(const Raster& source, Raster& destination, const Rect& rect) {
  constexpr int32_t L = Depth<S>::L;
  if (!TablesOf<S>().current) Build<S>();
  const Tables<S>& t = TablesOf<S>();
  const bool hsv = master_.hue != 0 || master_.saturation != 0;
  const float hue = static_cast<float>(master_.hue);
  const float saturationFactor = static_cast<float>(1 + master_.saturation * 0.01);
  const bool offsets = !t.offset[0].empty();
  // The hue and saturation step runs over each destination row in place
  // (after the source row is copied there), then the tables.
  ForRows(rect, 16, [&](int32_t y) {
    const S* p = source.RowAs<S>(y) + 4 * rect.left;
    S* d = destination.RowAs<S>(y) + 4 * rect.left;
    const int32_t width = rect.Width();
    if (hsv) {
      if (d != p) std::copy(p, p + 4 * static_cast<std::ptrdiff_t>(width), d);
      AdjustHueSaturationRun(d, width, hue, saturationFactor);
      p = d;
    }
    const S* t0 = t.channel[0].data();
    const S* t1 = t.channel[1].data();
    const S* t2 = t.channel[2].data();
    if (offsets) {
      const int32_t* o0 = t.offset[0].data();
      const int32_t* o1 = t.offset[1].data();
      const int32_t* o2 = t.offset[2].data();
      for (int32_t x = 0; x < width; ++x, p += 4, d += 4) {
        const int32_t r = p[0], g = p[1], b = p[2];
        const int32_t luminance = std::min(Depth<S>::Luminance(r, g, b), L);
        const S a = p[3];
        d[0] = t0[std::clamp(r + o0[luminance], 0, L)];
        d[1] = t1[std::clamp(g + o1[luminance], 0, L)];
        d[2] = t2[std::clamp(b + o2[luminance], 0, L)];
        d[3] = a;
      }
    } else {
      for (int32_t x = 0; x < width; ++x, p += 4, d += 4) {
        const int32_t r = p[0], g = p[1], b = p[2];
        const S a = p[3];
        d[0] = t0[std::min(r, L)];
        d[1] = t1[std::min(g, L)];
        d[2] = t2[std::min(b, L)];
        d[3] = a;
      }
    }
  });
}

void ToneRangeEngine::Apply(const Raster& source, Raster& destination, const Rect& rect) {
  WithDepth(destination.Is16Bit(), [&]<class S>() { ApplyT<S>(source, destination, rect); });
}

void ToneRangeEngine::ShowBand(const Raster& source, Raster& destination, const Rect& rect, int band) {
  const BandSettings& b = bands_[Index(band)];
  WithDepth(destination.Is16Bit(), [&]<class S>() {
    ShowWeight<S>(source, destination, rect, weights_[Index(band)].Table<S>(b.centre, b.width), false);
  });
}

template <class S>
void ShowWeight(const Raster& source, Raster& destination, const Rect& rect, std::span<const S> weight,
                bool fullAlpha) {
  constexpr int32_t L = Depth<S>::L;
  ParallelRows(rect.top, rect.bottom, 4 * int64_t{rect.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
    for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
      const S* p = source.RowAs<S>(y) + 4 * rect.left;
      S* d = destination.RowAs<S>(y) + 4 * rect.left;
      for (int32_t x = rect.left; x < rect.right; ++x, p += 4, d += 4) {
        const S alpha = fullAlpha ? static_cast<S>(L) : p[3];
        d[0] = d[1] = d[2] = weight[std::min(Depth<S>::Luminance(p[0], p[1], p[2]), L)];
        d[3] = alpha;
      }
    }
  });
}

template void ShowWeight<uint8_t>(const Raster&, Raster&, const Rect&, std::span<const uint8_t>, bool);
template void ShowWeight<uint16_t>(const Raster&, Raster&, const Rect&, std::span<const uint16_t>, bool);

}  // namespace fx
