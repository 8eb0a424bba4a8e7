#include "effects/colour_ops.h"

#include <algorithm>
#include <array>
#include <vector>

#include "effects/selection_matte.h"
#include "imaging/channel_tables.h"
#include "imaging/parallel.h"
#include "imaging/tone_curve.h"

namespace fx {
namespace {

// Calls f(pixel) for every four-sample pixel of rect, rows on the workers:
// f must touch only its own pixel.
template <class S, class F>
void ForEachPixel(Raster& raster, const Rect& rect, F&& f) {
  ParallelFor(rect.Height(), LineGrain(rect.Width()), [&](int32_t begin, int32_t end) {
    for (int32_t y = rect.top + begin; y < rect.top + end; ++y) {
      S* p = raster.RowAs<S>(y) + 4 * rect.left;
      for (int32_t x = rect.left; x < rect.right; ++x, p += 4) f(p);
    }
  });
}

// Source and destination may be the same raster.
template <class S>
void WarmCoolShiftT(const Raster& source, Raster& destination, const Rect& rect, double t) {
  const float bluer = static_cast<float>(1 + t);
  const float redder = static_cast<float>(1 - t);
  ParallelFor(rect.Height(), LineGrain(rect.Width()), [&](int32_t begin, int32_t end) {
    for (int32_t y = rect.top + begin; y < rect.top + end; ++y) {
      const S* p = source.RowAs<S>(y) + 4 * rect.left;
      S* d = destination.RowAs<S>(y) + 4 * rect.left;
      for (int32_t x = rect.left; x < rect.right; ++x, p += 4, d += 4) {
        const S r = p[0], g = p[1], b = p[2], a = p[3];
        d[0] = Depth<S>::Clamp(static_cast<int64_t>(redder * r));
        d[1] = g;
        d[2] = Depth<S>::Clamp(static_cast<int64_t>(bluer * b));
        d[3] = a;
      }
    }
  });
}

template <class S>
void FillHighlightMaskT(const Raster& image, Raster& mask, const Rect& rect) {
  const std::span<const S> table = HighlightTable<S>();
  ParallelFor(rect.Height(), LineGrain(rect.Width()), [&](int32_t begin, int32_t end) {
    for (int32_t y = rect.top + begin; y < rect.top + end; ++y) {
      const S* p = image.RowAs<S>(y) + 4 * rect.left;
      S* m = mask.RowAs<S>(y) + rect.left;
      for (int32_t x = rect.left; x < rect.right; ++x, p += 4, ++m)
        *m = table[std::min(Depth<S>::Luminance(p[0], p[1], p[2]), Depth<S>::L)];
    }
  });
}

template <class S>
void TintT(Raster& raster, const Rect& rect, const Rgb& tint, TintMode mode, double opacity,
           double preserveHighlights) {
  constexpr int32_t L = Depth<S>::L;
  const Hsv t = RgbToHsv(static_cast<float>(tint.r), static_cast<float>(tint.g), static_cast<float>(tint.b));
  const int32_t e = static_cast<int32_t>(opacity * L);
  const int32_t f = L - e;
  // A preserve amount of 0 restores nothing, so the matte is not needed.
  const int32_t keep = static_cast<int32_t>(preserveHighlights * L);
  RasterRef mask;
  if (mode == TintMode::kHls && opacity > 0 && keep > 0) mask = HighlightMask(raster, rect);
  const bool own = mode == TintMode::kReplace;
  ParallelRows(rect.top, rect.bottom, 16 * int64_t{rect.Width()}, [&](int32_t first, int32_t end) {
    std::vector<int32_t> tinted(3 * static_cast<std::size_t>(rect.Width()));
    for (int32_t y = first; y < end; ++y) {
      S* p = raster.RowAs<S>(y) + 4 * rect.left;
      const S* m = mask ? mask->RowAs<S>(y) + rect.left : nullptr;
      HsvTintRun(p, rect.Width(), t.h, t.s, own, tinted.data());
      const int32_t* T = tinted.data();
      for (int32_t x = rect.left; x < rect.right; ++x, p += 4, T += 3) {
        int32_t out[3];
        for (int k = 0; k < 3; ++k) out[k] = (f * p[k] + e * T[k]) / L;
        if (m != nullptr) {
          const int32_t w = *m++ * keep / L;
          for (int k = 0; k < 3; ++k) out[k] = (p[k] * w + out[k] * (L - w)) / L;
        }
        for (int k = 0; k < 3; ++k) p[k] = Depth<S>::Clamp(out[k]);
      }
    }
  });
}

template <class S>
void ColorCorrectT(Raster& raster, const Rect& rect, const ColorCorrection& c) {
  if (c.hue != 0 || c.saturation != 0) {
    const float hue = static_cast<float>(c.hue);
    const float factor = static_cast<float>(1 + c.saturation);
    ForRows(rect, 16, [&](int32_t y) {
      AdjustHueSaturationRun(raster.RowAs<S>(y) + 4 * rect.left, rect.Width(), hue, factor);
    });
  }
  const bool gains = c.redGain != 0 || c.greenGain != 0 || c.blueGain != 0;
  if (c.brightness == 0 && c.contrast == 0 && c.bend == 0 && !gains && !c.multiply) return;
  const std::vector<S> shape = ToneShapeTable<S>(c.brightness, c.contrast, c.bend);
  if (!gains && !c.multiply) {
    ApplyChannelTables(raster, rect, {shape, shape, shape});
    return;
  }
  std::array<std::vector<S>, 3> tables = {shape, shape, shape};
  const double gain[3] = {c.redGain, c.greenGain, c.blueGain};
  for (int k = 0; k < 3; ++k) {
    std::vector<S>& table = tables[k];
    if (c.multiply) {
      for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = Depth<S>::Clamp(static_cast<int64_t>(gain[k] * table[i]));
    } else if (gain[k] != 0) {
      for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = Depth<S>::Clamp(static_cast<int64_t>(gain[k] * static_cast<double>(i) + table[i]));
    }
  }
  ApplyChannelTables(raster, rect, {tables[0], tables[1], tables[2]});
}

template <class S>
void MonoFilterT(Raster& raster, const Rect& rect, MonoFilterKind filter) {
  constexpr bool k8 = std::is_same_v<S, uint8_t>;
  constexpr int32_t L = Depth<S>::L;
  // Weighted red and green as the luminance of the depth gives them.
  auto redGreen = [](int32_t r, int32_t g) -> int32_t {
    if constexpr (k8)
      return (76 * r + 150 * g) / 255;
    else
      return (9798 * r + 19235 * g) >> 15;
  };
  ForEachPixel<S>(raster, rect, [&](S* p) {
    int32_t y = 0;
    switch (filter) {
      case MonoFilterKind::Normal: {
        const double bias = k8 ? 0.008784313725490198 : 0.000068359375;
        y = std::min<int32_t>(L, static_cast<int32_t>(0.3 * p[0] + 0.59 * p[1] + 0.11 * p[2] + bias));
        break;
      }
      case MonoFilterKind::Red:
        y = p[0];
        break;
      case MonoFilterKind::Green:
        y = p[1];
        break;
      case MonoFilterKind::Blue:
        y = p[2];
        break;
      case MonoFilterKind::Yellow:
        y = std::min<int32_t>(L, static_cast<int32_t>(redGreen(p[0], p[1]) * 1.06));
        break;
      case MonoFilterKind::Orange:
        y = std::min<int32_t>(L, static_cast<int32_t>(redGreen(p[0], p[1] / 2) * 1.6));
        break;
    }
    p[0] = p[1] = p[2] = static_cast<S>(y);
  });
}

}  // namespace

void WarmCoolShift(Raster& raster, const Rect& rect, double t) {
  if (t == 0) return;
  WithDepth(raster.Is16Bit(), [&]<class S>() { WarmCoolShiftT<S>(raster, raster, rect, t); });
}

void WarmCoolShift(const Raster& source, Raster& destination, const Rect& rect, double t) {
  WithDepth(destination.Is16Bit(), [&]<class S>() { WarmCoolShiftT<S>(source, destination, rect, t); });
}

void FillHighlightMask(const Raster& image, Raster& mask, const Rect& rect) {
  WithDepth(image.Is16Bit(), [&]<class S>() { FillHighlightMaskT<S>(image, mask, rect); });
}

RasterRef HighlightMask(const Raster& image, const Rect& rect) {
  RasterRef mask = MakeRaster(image.Width(), image.Height(), 1, image.BytesPerSample());
  mask->Fill(0);
  FillHighlightMask(image, *mask, rect.Intersect(image.Bounds()));
  return mask;
}

void TintOp(Raster& raster, const Rect& rect, const Rgb& tint, TintMode mode, double opacity,
            double preserveHighlights) {
  WithDepth(raster.Is16Bit(),
            [&]<class S>() { TintT<S>(raster, rect, tint, mode, opacity, preserveHighlights); });
}

void ColorCorrectOp(Raster& raster, const Rect& rect, const ColorCorrection& c) {
  WithDepth(raster.Is16Bit(), [&]<class S>() { ColorCorrectT<S>(raster, rect, c); });
}

void MonoFilter(Raster& raster, const Rect& rect, MonoFilterKind filter) {
  WithDepth(raster.Is16Bit(), [&]<class S>() { MonoFilterT<S>(raster, rect, filter); });
}

}  // namespace fx
