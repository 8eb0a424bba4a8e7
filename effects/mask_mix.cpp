#include "effects/mask_mix.h"

#include <cstdint>

#include "imaging/parallel.h"
#include "imaging/pixel.h"

namespace fx {
namespace {

template <class S>
void MaskMixRows(const Raster& first, const Raster& second, const Raster& mask, Raster& destination,
                 const Rect& rect, double amount) {
  constexpr int64_t L = Depth<S>::L;
  const int64_t a = static_cast<int64_t>(amount * L);
  ParallelRows(rect.top, rect.bottom, 4 * int64_t{rect.Width()}, [&](int32_t rowsBegin, int32_t rowsEnd) {
    for (int32_t y = rowsBegin; y < rowsEnd; ++y) {
      const S* f = first.RowAs<S>(y);
      const S* s = second.RowAs<S>(y);
      const S* m = mask.RowAs<S>(y);
      S* out = destination.RowAs<S>(y);
      for (int32_t x = rect.left; x < rect.right; ++x) {
        const int64_t d = sizeof(S) == 1 ? m[x] * a / L : (a * m[x]) >> 15;
        const std::size_t i = 4 * static_cast<std::size_t>(x);
        if (d == 0) {
          for (int c = 0; c < 4; ++c) out[i + c] = f[i + c];
        } else if (d == L) {
          const S alpha = f[i + 3];
          for (int c = 0; c < 3; ++c) out[i + c] = s[i + c];
          out[i + 3] = alpha;
        } else {
          for (int c = 0; c < 4; ++c) out[i + c] = Depth<S>::Clamp((s[i + c] * d + f[i + c] * (L - d)) / L);
        }
      }
    }
  });
}

}  // namespace

void MaskMix(const Raster& first, const Raster& second, const Raster& mask, Raster& destination,
             const Rect& rect, double amount) {
  const Rect r = rect.Intersect(destination.Bounds())
                     .Intersect(first.Bounds())
                     .Intersect(second.Bounds())
                     .Intersect(mask.Bounds());
  if (r.Empty()) return;
  WithDepth(destination.Is16Bit(),
            [&]<class S>() { MaskMixRows<S>(first, second, mask, destination, r, amount); });
}

}  // namespace fx
