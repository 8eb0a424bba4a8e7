#include "imaging/zstencil.h"

#include <algorithm>
#include <stdexcept>

#include "imaging/pixel.h"

namespace fx {

namespace {

// A coverage level 0..255 at the depth of S (255 becomes full scale).
template <class S>
constexpr int32_t CoverageLevel(int32_t v) {
  if constexpr (sizeof(S) == 1) {
    return v;
  } else {
    return Magnitude8To16(v);
  }
}

// Coverage f (1..255, after the opacity) accumulated onto a stencil sample:
// an "over" of grey levels.
template <class S>
S CoverageOver(S g, int32_t f) {
  constexpr int32_t L = Depth<S>::L;
  if (f == 255) return static_cast<S>(L);
  const int32_t level = CoverageLevel<S>(f);
  if (g == 0) return static_cast<S>(level);
  return Depth<S>::Clamp(level + static_cast<int64_t>(L - level) * g / L);
}

template <class S>
void CoverageSpan(Raster& r, int32_t y, int32_t x0, int32_t x1, int32_t f) {
  S* p = r.RowAs<S>(y);
  if (f == 255) {
    std::fill(p + x0, p + x1, static_cast<S>(Depth<S>::L));
    return;
  }
  for (int32_t x = x0; x < x1; ++x) p[x] = CoverageOver<S>(p[x], f);
}

// The colour at the depth of S and its alpha for coverage f (after the
// opacity), composited over one pixel.
template <class S>
void ColourOver(S* pixel, const uint8_t colour[4], int32_t f) {
  const int32_t alpha = colour[3] * f / 255;
  if (alpha == 0) return;
  const int32_t c[3] = {CoverageLevel<S>(colour[0]), CoverageLevel<S>(colour[1]),
                        CoverageLevel<S>(colour[2])};
  CompositeOver<S>(pixel, c, CoverageLevel<S>(alpha));
}

}  // namespace

ZStencil::ZStencil(Raster& target) : ZStencil(target, 1) {}

ZStencil::ZStencil(Raster& target, int32_t channels) : target_(RasterRef::Share(&target)) {
  const uint32_t bytes = target.BytesPerSample();
  if (target.Channels() != channels || (bytes != 1 && bytes != 2))
    throw std::invalid_argument("stencil target of the wrong format");
}

ZStencil::~ZStencil() = default;

void ZStencil::SetOpacity(int32_t opacity) {
  opacity_ = std::clamp(opacity, 0, 255);
}

void ZStencil::WriteSpan(int32_t y, int32_t x0, int32_t x1, uint8_t coverage) {
  const int32_t f = Scaled(coverage);
  if (f == 0 || x1 <= x0) return;
  WithDepth(target_->Is16Bit(), [&]<class S>() { CoverageSpan<S>(*target_, y, x0, x1, f); });
}

void ZStencil::WriteCoverage(int32_t y, int32_t x, const uint8_t* coverage, int32_t count) {
  WithDepth(target_->Is16Bit(), [&]<class S>() {
    S* p = target_->RowAs<S>(y) + x;
    for (int32_t i = 0; i < count; ++i) {
      const int32_t f = Scaled(coverage[i]);
      if (f != 0) p[i] = CoverageOver<S>(p[i], f);
    }
  });
}

ZColorStencil::ZColorStencil(Raster& target, uint8_t r, uint8_t g, uint8_t b, uint8_t a)
    : ZStencil(target, 4), colour_{r, g, b, a} {}

void ZColorStencil::SetColor(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  colour_[0] = r;
  colour_[1] = g;
  colour_[2] = b;
  colour_[3] = a;
}

void ZColorStencil::WriteSpan(int32_t y, int32_t x0, int32_t x1, uint8_t coverage) {
  const int32_t f = Scaled(coverage);
  if (f == 0 || x1 <= x0) return;
  WithDepth(target_->Is16Bit(), [&]<class S>() {
    S* p = target_->RowAs<S>(y);
    for (int32_t x = x0; x < x1; ++x) ColourOver<S>(p + 4 * static_cast<std::ptrdiff_t>(x), colour_, f);
  });
}

void ZColorStencil::WriteCoverage(int32_t y, int32_t x, const uint8_t* coverage, int32_t count) {
  WithDepth(target_->Is16Bit(), [&]<class S>() {
    S* p = target_->RowAs<S>(y) + 4 * static_cast<std::ptrdiff_t>(x);
    for (int32_t i = 0; i < count; ++i) {
      const int32_t f = Scaled(coverage[i]);
      if (f != 0) ColourOver<S>(p + 4 * static_cast<std::ptrdiff_t>(i), colour_, f);
    }
  });
}

}  // namespace fx
