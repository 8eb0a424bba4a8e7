#include "imaging/star_kernel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "imaging/zpath.h"
#include "imaging/zrenderer.h"
#include "imaging/zstencil.h"

namespace fx {

void StarKernel::Build(const StarShape& wanted) {
  if (built_ && wanted == shape_) return;
  StarShape s = wanted;
  s.spokes = std::max(s.spokes, 1);
  const double R = std::max(s.outer, 0.01), r = std::max(s.inner, 0.01);
  const int32_t half = static_cast<int32_t>(std::ceil(R + r));
  const int32_t side = 2 * half + 1;
  RasterRef image = MakeRaster(side, side, 1, 1);
  image->Fill(0);
  // The middle pixel's centre, in path coordinates where pixel (i, j)
  // covers [i, i + 1) x [j, j + 1).
  const double c = half + 0.5;
  const double turn = s.degrees * 0.017453292;
  const double step = 2 * std::numbers::pi / s.spokes;
  ZPath path;
  for (int32_t i = 0; i < s.spokes; ++i) {
    const double a = i * step - std::numbers::pi / 2 + turn;
    const auto at = [&](double angle, double d, bool first) {
      const float x = static_cast<float>(c + d * std::cos(angle)),
                  y = static_cast<float>(c + d * std::sin(angle));
      if (first)
        path.moveTo(x, y);
      else
        path.lineTo(x, y);
    };
    at(a, R, i == 0);
    at(a + step / 2, r, false);
  }
  path.close();
  ZStencil stencil(*image);
  ZRenderer renderer;
  renderer.Render(path, nullptr, stencil, ZFillRule::kNonZero);
  std::vector<Tap> taps;
  for (int32_t y = 0; y < side; ++y) {
    const uint8_t* row = image->RowAs<uint8_t>(y);
    for (int32_t x = 0; x < side; ++x)
      if (row[x] != 0) taps.push_back({x - half, y - half, row[x]});
  }
  image_ = image;
  taps_ = std::move(taps);
  side_ = side;
  shape_ = wanted;
  built_ = true;
}

}  // namespace fx
