// Renders an effect type directly, without a host: an instance from its
// routine table, a source raster from pixel values, one render over the
// whole raster.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/effect.h"
#include "imaging/raster.h"

namespace effecttest {

using Pixel = std::array<int32_t, 4>;

class Instance {
 public:
  explicit Instance(const fx::EffectRoutines& routines) : e_(routines.create()) {}
  ~Instance() { e_->routines->destroy(e_); }
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;
  fx::EffectInstance& operator*() const { return *e_; }
  fx::EffectInstance* operator->() const { return e_; }

  fx::Parameter& P(const std::string& key) const {
    const int i = fx::IndexOfKey(*e_, key);
    EXPECT_GE(i, 0) << key;
    return e_->parameters[i < 0 ? 0 : i];
  }
  Instance& Set(const std::string& key, double value) {
    fx::Parameter& p = P(key);
    if (p.kind == fx::Kind::List) fx::SetListIndex(p, static_cast<int32_t>(value));
    else if (p.kind == fx::Kind::Boolean) fx::SetBoolean(p, value != 0);
    else fx::SetRange(p, value);
    return *this;
  }
  bool Active() const { return e_->routines->isActive(e_); }

 private:
  fx::EffectInstance* e_;
};

// A four-channel raster of the given pixels, one row per entry of rows.
inline fx::RasterRef MakeRaster(const std::vector<std::vector<Pixel>>& rows, bool is16Bit) {
  const int32_t h = static_cast<int32_t>(rows.size()), w = static_cast<int32_t>(rows[0].size());
  fx::RasterRef r = fx::MakeRaster(w, h, 4, is16Bit ? 2 : 1);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      for (int c = 0; c < 4; ++c) {
        if (is16Bit) r->RowAs<uint16_t>(y)[4 * x + c] = static_cast<uint16_t>(rows[y][x][c]);
        else r->RowAs<uint8_t>(y)[4 * x + c] = static_cast<uint8_t>(rows[y][x][c]);
      }
  return r;
}

inline Pixel At(const fx::Raster& r, int32_t x, int32_t y) {
  Pixel p;
  for (int c = 0; c < 4; ++c)
    p[c] = r.Is16Bit() ? r.RowAs<uint16_t>(y)[4 * x + c] : r.RowAs<uint8_t>(y)[4 * x + c];
  return p;
}

// Begin render, then one render of the whole raster at scale 1.
inline fx::RasterRef Render(Instance& effect, const fx::Raster& source) {
  fx::RasterRef dst = fx::MakeRaster(source.Width(), source.Height(), 4, source.BytesPerSample());
  dst->Fill(0);
  fx::RenderInfo info;
  info.imageWidth = source.Width();
  info.imageHeight = source.Height();
  info.is16Bit = source.Is16Bit();
  info.tileCount = 1;
  effect->routines->beginRender(&*effect, &info);
  info.destination = dst.get();
  info.area = {0, 0, source.Height(), source.Width()};
  info.outputRect = info.area;
  info.tileIndex = 0;
  effect->parameters[0].source = const_cast<fx::Raster*>(&source);
  effect->routines->render(&*effect, &info);
  effect->parameters[0].source = nullptr;
  return dst;
}

// One pixel through the effect.
inline Pixel RenderPixel(Instance& effect, Pixel p, bool is16Bit) {
  fx::RasterRef src = MakeRaster({{p}}, is16Bit);
  fx::RasterRef dst = Render(effect, *src);
  return At(*dst, 0, 0);
}

}  // namespace effecttest
