#include "effects/diffusion_texture.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "framework/host_services.h"
#include "imaging/pixel.h"

namespace fx {
namespace {

struct Vec {
  double x = 0, y = 0;
};

// The projective mapping of the unit square onto a quadrilateral (corners
// upper-left, upper-right, lower-right, lower-left at (0, 0), (1, 0),
// (1, 1), (0, 1)), in double precision.
class SquareToQuad {
 public:
  // False when the quadrilateral admits no such mapping.
  bool Solve(const std::array<Vec, 4>& q) {
    const double sx = q[0].x - q[1].x + q[2].x - q[3].x;
    const double sy = q[0].y - q[1].y + q[2].y - q[3].y;
    if (sx == 0 && sy == 0) {
      g_ = h_ = 0;
    } else {
      const double dx1 = q[1].x - q[2].x, dx2 = q[3].x - q[2].x;
      const double dy1 = q[1].y - q[2].y, dy2 = q[3].y - q[2].y;
      const double den = dx1 * dy2 - dx2 * dy1;
      if (den == 0 || !std::isfinite(den)) return false;
      g_ = (sx * dy2 - dx2 * sy) / den;
      h_ = (dx1 * sy - sx * dy1) / den;
    }
    a_ = q[1].x - q[0].x + g_ * q[1].x;
    b_ = q[3].x - q[0].x + h_ * q[3].x;
    c_ = q[0].x;
    d_ = q[1].y - q[0].y + g_ * q[1].y;
    e_ = q[3].y - q[0].y + h_ * q[3].y;
    f_ = q[0].y;
    return true;
  }
  // False where the point is thrown to infinity.
  bool Map(double u, double v, Vec& out) const {
    const double w = g_ * u + h_ * v + 1;
    if (w == 0) return false;
    out = {(a_ * u + b_ * v + c_) / w, (d_ * u + e_ * v + f_) / w};
    return std::isfinite(out.x) && std::isfinite(out.y);
  }

 private:
  double a_ = 1, b_ = 0, c_ = 0, d_ = 0, e_ = 1, f_ = 0, g_ = 0, h_ = 0;
};

// The texels a crop keeps along a side of n texels: cutting `first` percent
// off the start and `last` percent off the end of the span 0..n-1.
void Kept(double first, double last, int32_t n, int32_t& c0, int32_t& c1) {
  const double span = n - 1;
  c0 = static_cast<int32_t>(std::ceil(std::clamp(first, 0.0, 100.0) / 100 * span));
  c1 = static_cast<int32_t>(std::floor((1 - std::clamp(last, 0.0, 100.0) / 100) * span));
}

}  // namespace

bool PlacedCorners(const TexturePlacement& p, int32_t tw, int32_t th, int32_t c0x, int32_t c1x, int32_t c0y,
                   int32_t c1y, int32_t W, int32_t H, Quad& corners) {
  if (tw < 2 || th < 2 || W <= 0 || H <= 0) return false;
  // Corner pin: the image rectangle onto the four pinned points.
  std::array<Vec, 4> pin;
  for (int k = 0; k < 4; ++k) pin[k] = {(p.corners[k].x + 0.5) * W, (p.corners[k].y + 0.5) * H};
  // Three pinned points on one line leave no four-point warp.
  for (int k = 0; k < 4; ++k) {
    const Vec& a = pin[k];
    const Vec& b = pin[(k + 1) % 4];
    const Vec& c = pin[(k + 2) % 4];
    if ((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x) == 0) return false;
  }
  SquareToQuad pinning;
  if (!pinning.Solve(pin)) return false;

  const Vec anchor{W * 0.5 * (1 + p.anchorX / 100), H * 0.5 * (1 + p.anchorY / 100)};
  const Vec position{(p.position.x + 0.5) * W, (p.position.y + 0.5) * H};
  const double sx = p.scaleX / 100, sy = p.scaleY / 100;
  const double hx = p.shearX / 100, hy = p.shearY / 100;
  const double angle = p.rotate * std::numbers::pi / 180;
  const double cs = std::cos(angle), sn = std::sin(angle);

  // A texel position through the layer transform and the pin.
  const auto place = [&](double tx, double ty, PixelPoint& out) {
    const Vec layer{tx * W / (tw - 1), ty * H / (th - 1)};
    Vec d{(layer.x - anchor.x) * sx, (layer.y - anchor.y) * sy};
    d = {d.x + hx * d.y, d.y + hy * d.x};
    d = {cs * d.x - sn * d.y, sn * d.x + cs * d.y};
    const Vec image{position.x + d.x, position.y + d.y};
    Vec pinned;
    if (!pinning.Map(image.x / W, image.y / H, pinned)) return false;
    out = {pinned.x, pinned.y};
    return true;
  };
  const double left = c0x - 1.0, right = c1x + 1.0, top = c0y - 1.0, bottom = c1y + 1.0;
  return place(left, top, corners[0]) && place(right, top, corners[1]) && place(right, bottom, corners[2]) &&
         place(left, bottom, corners[3]);
}

const Raster* PlacedTexture::Bordered(const Raster& texture, const TexturePlacement& p) {
  const double crop[4] = {p.cropLeft, p.cropRight, p.cropTop, p.cropBottom};
  if (bordered_ && borderedFrom_.get() == &texture && std::equal(crop, crop + 4, crop_))
    return bordered_.get();
  bordered_ = RasterRef();
  // Held, so that no other texture can come to live at its address.
  borderedFrom_ = RasterRef::Share(const_cast<Raster*>(&texture));
  std::copy(crop, crop + 4, crop_);
  // A picture of one texel across counts as two equal ones, so that it
  // still spans the image.
  const int32_t tw = std::max(texture.Width(), 2), th = std::max(texture.Height(), 2);
  Kept(p.cropLeft, p.cropRight, tw, kept_[0], kept_[1]);
  Kept(p.cropTop, p.cropBottom, th, kept_[2], kept_[3]);
  if (kept_[1] < kept_[0] || kept_[3] < kept_[2]) return nullptr;
  const int32_t w = kept_[1] - kept_[0] + 1, h = kept_[3] - kept_[2] + 1;
  bordered_ = MakeRaster(w + 2, h + 2, 1, texture.BytesPerSample());
  bordered_->Fill(0);
  WithDepth(texture.Is16Bit(), [&]<class S>() {
    for (int32_t y = 0; y < h; ++y) {
      const S* in = texture.RowAs<S>(std::min(kept_[2] + y, texture.Height() - 1));
      S* out = bordered_->RowAs<S>(y + 1) + 1;
      for (int32_t x = 0; x < w; ++x) out[x] = in[std::min(kept_[0] + x, texture.Width() - 1)];
    }
  });
  return bordered_.get();
}

void PlacedTexture::Draw(const char* path, bool sixteenBit, const TexturePlacement& p, Raster& t,
                         const Rect& area, Origin origin, int32_t W, int32_t H) {
  const Rect rect = area.Intersect(t.Bounds());
  if (rect.Empty()) return;
  WithDepth(t.Is16Bit(), [&]<class S>() {
    for (int32_t y = rect.top; y < rect.bottom; ++y)
      std::fill_n(t.RowAs<S>(y) + rect.left, rect.Width(), S{0});
  });
  const Raster* texture = cache_.Get(path, sixteenBit);
  if (texture == nullptr) {
    // Nothing kept for a texture that is gone.
    bordered_ = RasterRef();
    borderedFrom_ = RasterRef();
    return;
  }
  const Raster* bordered = Bordered(*texture, p);
  if (bordered == nullptr) return;
  Quad corners;
  if (!PlacedCorners(p, std::max(texture->Width(), 2), std::max(texture->Height(), 2), kept_[0], kept_[1],
                     kept_[2], kept_[3], W, H, corners))
    return;
  QuadWarp(*bordered, t, rect, origin, corners);
}

void BlendTexture(const Raster& t, Raster& matte, const Rect& rect, TextureBlend blend) {
  WithDepth(matte.Is16Bit(), [&]<class S>() {
    constexpr int64_t L = Depth<S>::L;
    for (int32_t y = rect.top; y < rect.bottom; ++y) {
      const S* tt = t.RowAs<S>(y) + rect.left;
      S* mm = matte.RowAs<S>(y) + rect.left;
      for (int32_t x = rect.left; x < rect.right; ++x, ++tt, ++mm) {
        const int64_t T = *tt, M = *mm;
        int64_t v = T;
        switch (blend) {
          case TextureBlend::kTextureOnly:
            v = T;
            break;
          case TextureBlend::kAdd:
            v = std::min(L, T + M);
            break;
          case TextureBlend::kSubtract:
            v = std::max<int64_t>(0, T - M);
            break;
          case TextureBlend::kMultiply:
            v = T * M / L;
            break;
          case TextureBlend::kScreen:
            v = T + M - T * M / L;
            break;
          case TextureBlend::kDifference:
            v = T + M - 2 * T * M / L;
            break;
          case TextureBlend::kDarken:
            v = std::min(T, M);
            break;
          case TextureBlend::kLighten:
            v = std::max(T, M);
            break;
        }
        *mm = Depth<S>::Clamp(v);
      }
    }
  });
}

std::string TextureFile(const char* name) {
  if (name == nullptr || name[0] == '\0') return {};
  const Host* host = CurrentHost();
  if (name[0] == '/' || host == nullptr) return name;
  char path[4096];
  return host->DataPath(kVendorFolder, kTextureFolder, name, path, sizeof path) ? std::string(path) : std::string();
}

}  // namespace fx
