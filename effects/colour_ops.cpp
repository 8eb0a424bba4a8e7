#include "effects/colour_ops.h"

#include <algorithm>
#include <array>
#include <vector>

#include "imaging/tone_curve.h"

namespace fx {
namespace {

// Calls f(pixel) for every four-sample pixel of rect.
template <class S, class F>
void ForEachPixel(Raster& raster, const Rect& rect, F&& f) {
  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    S* p = raster.RowAs<S>(y) + 4 * rect.left;
    for (int32_t x = rect.left; x < rect.right; ++x, p += 4) f(p);
  }
}

template <class S>
void WarmCoolShiftT(Raster& raster, const Rect& rect, double t) {
  const float bluer = static_cast<float>(1 + t);
  const float redder = static_cast<float>(1 - t);
  ForEachPixel<S>(raster, rect, [&](S* p) {
    p[2] = Depth<S>::Clamp(static_cast<int64_t>(bluer * p[2]));
    p[0] = Depth<S>::Clamp(static_cast<int64_t>(redder * p[0]));
  });
}

template <class S>
void ColorCorrectT(Raster& raster, const Rect& rect, const ColorCorrection& c) {
  if (c.hue != 0 || c.saturation != 0) {
    const float hue = static_cast<float>(c.hue);
    const float factor = static_cast<float>(1 + c.saturation);
    ForEachPixel<S>(raster, rect, [&](S* p) { AdjustHueSaturation<S>(p, hue, factor); });
  }
  const bool gains = c.redGain != 0 || c.greenGain != 0 || c.blueGain != 0;
  if (c.brightness == 0 && c.contrast == 0 && c.bend == 0 && !gains && !c.multiply) return;
  const std::vector<S> shape = ToneShapeTable<S>(c.brightness, c.contrast, c.bend);
  if (!gains && !c.multiply) {
    ForEachPixel<S>(raster, rect, [&](S* p) {
      for (int k = 0; k < 3; ++k) p[k] = shape[p[k]];
    });
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
  ForEachPixel<S>(raster, rect, [&](S* p) {
    for (int k = 0; k < 3; ++k) p[k] = tables[k][p[k]];
  });
}

template <class S>
void MonoFilterT(Raster& raster, const Rect& rect, MonoFilterKind filter) {
  constexpr bool k8 = std::is_same_v<S, uint8_t>;
  constexpr int32_t L = Depth<S>::L;
  // Weighted red and green as the luminance of the depth gives them.
  auto redGreen = [](int32_t r, int32_t g) -> int32_t {
    if constexpr (k8) return (76 * r + 150 * g) / 255;
    else return (9798 * r + 19235 * g) >> 15;
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
  WithDepth(raster.Is16Bit(), [&]<class S>() { WarmCoolShiftT<S>(raster, rect, t); });
}

void ColorCorrectOp(Raster& raster, const Rect& rect, const ColorCorrection& c) {
  WithDepth(raster.Is16Bit(), [&]<class S>() { ColorCorrectT<S>(raster, rect, c); });
}

void MonoFilter(Raster& raster, const Rect& rect, MonoFilterKind filter) {
  WithDepth(raster.Is16Bit(), [&]<class S>() { MonoFilterT<S>(raster, rect, filter); });
}

}  // namespace fx
