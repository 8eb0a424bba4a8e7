#include "effects/glow.h"

#include <array>
#include <type_traits>

#include "imaging/separable_blur.h"

namespace fx {
namespace {

// Products of two 16-bit samples can pass int32 when a host hands samples
// above full scale; 8-bit ones never do.
template <class S>
using Wide = std::conditional_t<sizeof(S) == 1, int32_t, int64_t>;

void ConfigureBlur(SeparableBlur& blur, const RenderInfo& info, const GlowSettings& s) {
  blur.SetMode(SeparableBlur::kBox);
  blur.SetPasses(info.reserved2);  // the render information's pass count
  blur.SetRadii(static_cast<float>(s.blurX), static_cast<float>(s.blurY));
}

bool Blurs(const GlowSettings& s) {
  return s.blurX > 0 || s.blurY > 0;
}

bool IsWhite(const Rgb& c) {
  return c.r == 1.0 && c.g == 1.0 && c.b == 1.0;
}

// The glow colour's components as samples, trunc(colour x L).
template <class S>
void ColourSamples(const Rgb& c, Wide<S> (&k)[3]) {
  constexpr double L = Depth<S>::L;
  const double unit[3] = {c.r, c.g, c.b};
  for (int i = 0; i < 3; ++i) k[i] = static_cast<Wide<S>>(unit[i] * L);
}

// One screen pass of a light t over a sample v: clamp(v + t - t v / L).
template <class S>
Wide<S> ScreenOnce(Wide<S> v, Wide<S> t) {
  constexpr Wide<S> L = Depth<S>::L;
  return Depth<S>::Clamp(v + t - t * v / L);
}

// Every 8-bit screen pass, indexed [t * 256 + v]: one look-up in place of a
// multiply and a division per pass.
const uint8_t* ScreenTable8() {
  static const std::array<uint8_t, 256 * 256> table = [] {
    std::array<uint8_t, 256 * 256> t{};
    for (int32_t g = 0; g < 256; ++g)
      for (int32_t v = 0; v < 256; ++v) t[g * 256 + v] = static_cast<uint8_t>(ScreenOnce<uint8_t>(v, g));
    return t;
  }();
  return table.data();
}

// ------------------------------------------------------------------ Subtle

// The matte is the light. Kinds of light: white or coloured; blends: Screen
// or ADD. Each writes the new value of one sample from its old value p and
// the matte m.
template <class S, bool kWhite, bool kAdd>
void SubtleRows(Raster& d, const Raster& m, const Rect& rect, const GlowPasses& passes,
                const Wide<S> (&k)[3]) {
  using W = Wide<S>;
  constexpr W L = Depth<S>::L;
  const W n = passes.full, r = passes.partial;
  ForRows(rect, 4, [&](int32_t y) {
    const S* mm = m.RowAs<S>(y) + rect.left;
    S* p = d.RowAs<S>(y) + 4 * rect.left;
    for (int32_t x = rect.left; x < rect.right; ++x, ++mm, p += 4) {
      const W a = *mm;
      if (a == 0) continue;
      for (int c = 0; c < 3; ++c) {
        W v = p[c];
        if constexpr (kWhite && !kAdd) {
          v = ScreenPasses<S>(v, v * a / L, passes);
        } else if constexpr (kWhite && kAdd) {
          const W g = v * a / L;
          v = v + n * g;
          if (r > 0) v = v + g * r / L;
        } else if constexpr (!kAdd) {
          const W g = (k[c] * a / L) * v / L;
          for (W i = 0; i < n; ++i) v = Depth<S>::Clamp(v + g - g * v / L);
          if (r > 0) {
            const W h = v * ((r * k[c] / L) * a / L) / L;
            v = Depth<S>::Clamp(v + h - v * h / L);
          }
        } else {
          const W before = v;
          const W g = (k[c] * a / L) * v / L;
          v = v + n * g;
          if (r > 0) v = v + (r * k[c] / L) * a / L * before / L;
        }
        p[c] = Depth<S>::Clamp(v);
      }
    }
  });
}

template <class S>
void Subtle(Raster& d, const Raster& light, const Rect& rect, const GlowSettings& s) {
  const GlowPasses passes = GlowPasses::Of<S>(s.brightness);
  Wide<S> k[3];
  ColourSamples<S>(s.colour, k);
  const bool add = s.blend == GlowBlend::kAdd;
  if (IsWhite(s.colour)) {
    if (add)
      SubtleRows<S, true, true>(d, light, rect, passes, k);
    else
      SubtleRows<S, true, false>(d, light, rect, passes, k);
  } else {
    if (add)
      SubtleRows<S, false, true>(d, light, rect, passes, k);
    else
      SubtleRows<S, false, false>(d, light, rect, passes, k);
  }
}

// ------------------------------------------------------------------ Spread

// The light of each pixel: its colour weighted by the matte, the matte as
// its alpha. A fully selected pixel gives its whole colour with full alpha;
// its own alpha plays no part (an RGB document's pixels reach us with alpha
// 0, and their light would otherwise be lost).
template <class S>
void SpreadLight(const Raster& d, const Raster& m, Raster& g, const Rect& rect) {
  using W = Wide<S>;
  constexpr W L = Depth<S>::L;
  ForRows(rect, 4, [&](int32_t y) {
    const S* mm = m.RowAs<S>(y) + rect.left;
    const S* p = d.RowAs<S>(y) + 4 * rect.left;
    S* q = g.RowAs<S>(y) + 4 * rect.left;
    for (int32_t x = rect.left; x < rect.right; ++x, ++mm, p += 4, q += 4) {
      // Samples and matte are never negative: unsigned division is cheaper
      // and the same, and 65535 x 65535 still fits 32 bits.
      const uint32_t a = *mm;
      for (int c = 0; c < 3; ++c) q[c] = static_cast<S>(p[c] * a / static_cast<uint32_t>(L));
      q[3] = static_cast<S>(a);
    }
  });
}

// The light's samples at a pixel: colour light has R, G, B and the alpha
// that tells where it reaches; grey light is one sample for all three.
template <int kChannels>
struct LightSamples {
  static_assert(kChannels == 1 || kChannels == 4);
  template <class S>
  static S Reach(const S* q) {
    return q[kChannels - 1];
  }
  template <class S>
  static S Channel(const S* q, int c) {
    return kChannels == 1 ? q[0] : q[c];
  }
};

template <class S, int kChannels>
void ScreenLight(Raster& d, const Raster& g, const Rect& rect, const LightBlend& s) {
  using W = Wide<S>;
  using Q = LightSamples<kChannels>;
  constexpr W L = Depth<S>::L;
  const GlowPasses passes = GlowPasses::Of<S>(s.brightness);
  W k[3];
  ColourSamples<S>(s.colour, k);
  // trunc(r x colour) per channel.
  const double unit[3] = {s.colour.r, s.colour.g, s.colour.b};
  W partial[3];
  for (int c = 0; c < 3; ++c) partial[c] = static_cast<W>(passes.partial * unit[c]);
  if constexpr (sizeof(S) == 1) {
    // With the colour within 0..1 every light t and u is a sample, and each
    // pass is a look-up of the screen table; the lights of each channel come
    // from tables of the 256 light values.
    bool samples = true;
    for (int c = 0; c < 3; ++c)
      samples = samples && k[c] >= 0 && k[c] <= L && partial[c] >= 0 && partial[c] <= L;
    if (samples) {
      const uint8_t* screen = ScreenTable8();
      std::array<uint8_t, 3 * 256> lightT, lightU;
      for (int c = 0; c < 3; ++c)
        for (W light = 0; light <= L; ++light) {
          lightT[c * 256 + light] = static_cast<uint8_t>(k[c] * light / L);
          lightU[c * 256 + light] = static_cast<uint8_t>(partial[c] * light / L);
        }
      ForRows(rect, 4, [&](int32_t y) {
        const S* q = g.RowAs<S>(y) + kChannels * rect.left;
        S* p = d.RowAs<S>(y) + 4 * rect.left;
        for (int32_t x = rect.left; x < rect.right; ++x, q += kChannels, p += 4) {
          if (Q::Reach(q) == 0) continue;
          for (int c = 0; c < 3; ++c) {
            uint32_t v = p[c];
            const uint32_t light = Q::Channel(q, c);
            const uint32_t t = lightT[c * 256 + light];
            for (int32_t i = 0; i < passes.full; ++i) v = screen[t * 256 + v];
            if (passes.partial > 0) v = screen[lightU[c * 256 + light] * 256u + v];
            p[c] = static_cast<S>(v);
          }
        }
      });
      return;
    }
  }
  ForRows(rect, 4, [&](int32_t y) {
    const S* q = g.RowAs<S>(y) + kChannels * rect.left;
    S* p = d.RowAs<S>(y) + 4 * rect.left;
    for (int32_t x = rect.left; x < rect.right; ++x, q += kChannels, p += 4) {
      if (Q::Reach(q) == 0) continue;
      for (int c = 0; c < 3; ++c) {
        W v = p[c];
        const W light = Q::Channel(q, c);
        const W t = k[c] * light / L;
        for (int32_t i = 0; i < passes.full; ++i) v = ScreenOnce<S>(v, t);
        if (passes.partial > 0) {
          const W u = partial[c] * light / L;
          v = ScreenOnce<S>(v, u);
        }
        p[c] = Depth<S>::Clamp(v);
      }
    }
  });
}

template <class S, int kChannels>
void AddLight(Raster& d, const Raster& g, const Rect& rect, const LightBlend& s) {
  using Q = LightSamples<kChannels>;
  // brightness x colour per channel, in single precision.
  const float b = static_cast<float>(s.brightness);
  const float f[3] = {b * static_cast<float>(s.colour.r), b * static_cast<float>(s.colour.g),
                      b * static_cast<float>(s.colour.b)};
  const auto added = [&](int c, S light) { return static_cast<int64_t>(f[c] * light); };
  if constexpr (sizeof(S) == 1) {
    // What each of the 256 light values adds, per channel.
    std::array<int64_t, 3 * 256> table;
    for (int c = 0; c < 3; ++c)
      for (int32_t light = 0; light < 256; ++light) table[c * 256 + light] = added(c, static_cast<S>(light));
    ForRows(rect, 4, [&](int32_t y) {
      const S* q = g.RowAs<S>(y) + kChannels * rect.left;
      S* p = d.RowAs<S>(y) + 4 * rect.left;
      for (int32_t x = rect.left; x < rect.right; ++x, q += kChannels, p += 4) {
        if (Q::Reach(q) == 0) continue;
        for (int c = 0; c < 3; ++c) p[c] = Depth<S>::Clamp(int64_t{p[c]} + table[c * 256 + Q::Channel(q, c)]);
      }
    });
    return;
  }
  ForRows(rect, 4, [&](int32_t y) {
    const S* q = g.RowAs<S>(y) + kChannels * rect.left;
    S* p = d.RowAs<S>(y) + 4 * rect.left;
    for (int32_t x = rect.left; x < rect.right; ++x, q += kChannels, p += 4) {
      if (Q::Reach(q) == 0) continue;
      for (int c = 0; c < 3; ++c) p[c] = Depth<S>::Clamp(int64_t{p[c]} + added(c, Q::Channel(q, c)));
    }
  });
}

template <class S, int kChannels>
void BlendLightAs(Raster& d, const Raster& light, const Rect& rect, const LightBlend& s) {
  if (s.blend == GlowBlend::kAdd)
    AddLight<S, kChannels>(d, light, rect, s);
  else
    ScreenLight<S, kChannels>(d, light, rect, s);
}

}  // namespace

void Glow(Raster& destination, const Raster& matte, const Rect& area, const GlowSettings& s,
          const RenderInfo& info) {
  const Rect rect = area.Intersect(destination.Bounds()).Intersect(matte.Bounds());
  if (rect.Empty()) return;
  WithDepth(destination.Is16Bit(), [&]<class S>() {
    if (s.mode == GlowMode::kSubtle) {
      const Raster* light = &matte;
      RasterRef blurred;
      if (Blurs(s)) {
        blurred = MakeRaster(matte.Width(), matte.Height(), 1, matte.BytesPerSample());
        blurred->CopyRows(matte, rect);
        SeparableBlur blur;
        ConfigureBlur(blur, info, s);
        blur.Blur(*blurred, rect);
        light = blurred.get();
      }
      Subtle<S>(destination, *light, rect, s);
      return;
    }
    RasterRef g = MakeRaster(destination.Width(), destination.Height(), 4, destination.BytesPerSample());
    SpreadLight<S>(destination, matte, *g, rect);
    if (Blurs(s)) {
      SeparableBlur blur;
      ConfigureBlur(blur, info, s);
      blur.Blur(*g, rect);
    }
    BlendLightAs<S, 4>(destination, *g, rect, {s.brightness, s.blend, s.colour});
  });
}

void BlendLight(Raster& destination, const Raster& light, const Rect& area, const LightBlend& s) {
  const Rect rect = area.Intersect(destination.Bounds()).Intersect(light.Bounds());
  if (rect.Empty()) return;
  WithDepth(destination.Is16Bit(), [&]<class S>() {
    if (light.Channels() == 1)
      BlendLightAs<S, 1>(destination, light, rect, s);
    else
      BlendLightAs<S, 4>(destination, light, rect, s);
  });
}

int32_t GlowReachX(const RenderInfo& info, const GlowSettings& s) {
  if (!Blurs(s)) return 0;
  SeparableBlur blur;
  ConfigureBlur(blur, info, s);
  return blur.ReachX();
}

int32_t GlowReachY(const RenderInfo& info, const GlowSettings& s) {
  if (!Blurs(s)) return 0;
  SeparableBlur blur;
  ConfigureBlur(blur, info, s);
  return blur.ReachY();
}

}  // namespace fx
