#include "imaging/separable_blur.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/parallel.h"
#include "imaging/pixel.h"
#include "imaging/raster.h"

namespace {

using fx::Rect;
using fx::SeparableBlur;
using Line = std::vector<int64_t>;
__extension__ typedef unsigned __int128 U128;

// ------------------------------------------------------------- references

// One box pass over a line, step by step: the running sum updated by its
// four terms, truncated windows divided by the weight they cover, full
// windows through the reciprocal. `grown` selects the reciprocal whose shift
// grows with the window (what the blur does); otherwise the fixed shift
// 23 / 47, the 8-bit one computed in 32 bits.
Line ReferenceBox(const Line& s, float h, bool is16Bit, bool grown = true) {
  const int64_t L = static_cast<int64_t>(s.size());
  if (!(h > 0) || L < 4) return s;
  const int64_t F = is16Bit ? 65536 : 256;
  const int base = is16Bit ? 47 : 23;
  const uint64_t M = is16Bit ? 65535 : 255;
  const float ceilH = std::ceil(h);
  const float frac = ceilH - h == 0 ? 0.0f : 1.0f - (ceilH - h);
  int64_t c = static_cast<int64_t>(ceilH);
  c = std::min(c, L / 2 - 1);
  const int64_t n = c + (static_cast<double>(c) == std::floor(h) ? 1 : 0);
  const int64_t w = static_cast<int64_t>(frac * static_cast<float>(F));
  const uint64_t W = static_cast<uint64_t>((2 * n - 1) * F + 2 * w);
  int k = base;
  while (grown && static_cast<U128>(M) * W > (U128{1} << k)) ++k;
  const uint64_t r = (uint64_t{1} << k) / W, bias = ((uint64_t{1} << k) - r * W) * M;
  const auto at = [&](int64_t i) -> int64_t { return i >= 0 && i < L ? s[i] : 0; };
  Line out(s.size());
  int64_t sum = w * at(n);
  for (int64_t t = 0; t < n; ++t) sum += F * at(t);
  for (int64_t i = 0; i < L; ++i) {
    if (i > 0) sum += (F - w) * at(i + n - 1) + w * at(i + n) - w * at(i - n - 1) - (F - w) * at(i - n);
    if (i < n) {
      out[i] = sum / ((n + i) * F + w);
    } else if (i >= L - n) {
      out[i] = sum / ((n + L - 1 - i) * F + w);
    } else {
      U128 v = static_cast<U128>(r) * static_cast<uint64_t>(sum) + bias;
      if (!grown && !is16Bit) v &= 0xFFFFFFFFu;
      out[i] = static_cast<int64_t>(v >> k);
    }
  }
  return out;
}

// The Gaussian kernel for index n and radius r, and the clamped convolution
// with it.
std::vector<int64_t> ReferenceKernel(int32_t n, float r) {
  const float h = r * 0.5f;
  const float s = static_cast<float>(n) + (std::ceil(h) - h);
  const int32_t whole = static_cast<int32_t>(std::floor(s));
  const float sigma = s * 0.31830987f;
  const double a = 1.0 / (static_cast<double>(sigma) * 2.5066283095076434735);
  const auto weight = [&](float t) {
    return static_cast<int64_t>(a * std::exp(-double{t} * double{t} / (2.0 * double{sigma} * double{sigma})) * 65535 + 0.5);
  };
  std::vector<int64_t> taps(2 * whole + 1);
  for (int32_t i = 0; i < whole; ++i) taps[i] = taps[2 * whole - i] = weight(s - static_cast<float>(i));
  taps[whole] = weight(s - static_cast<float>(whole));
  return taps;
}

Line ReferenceGauss(const Line& s, float radius) {
  const int64_t L = static_cast<int64_t>(s.size());
  const float r = std::min(radius, static_cast<float>(L));
  if (!(r > 0)) return s;
  const std::vector<int64_t> taps = ReferenceKernel(static_cast<int32_t>(r * 0.5f), r);
  const int64_t half = static_cast<int64_t>(taps.size() / 2);
  int64_t total = 0;
  for (int64_t t : taps) total += t;
  Line out(s.size());
  for (int64_t i = 0; i < L; ++i) {
    int64_t sum = 0;
    for (int64_t k = 0; k <= 2 * half; ++k) sum += taps[k] * s[std::clamp<int64_t>(i - half + k, 0, L - 1)];
    out[i] = sum / total;
  }
  return out;
}

// ---------------------------------------------------------------- rasters

struct Image {
  fx::RasterRef raster;
  int64_t At(int32_t x, int32_t y, int32_t c) const {
    const fx::Raster& r = *raster;
    return r.Is16Bit() ? r.RowAs<uint16_t>(y)[x * r.Channels() + c] : r.RowAs<uint8_t>(y)[x * r.Channels() + c];
  }
  void Set(int32_t x, int32_t y, int32_t c, int64_t v) {
    fx::Raster& r = *raster;
    if (r.Is16Bit()) r.RowAs<uint16_t>(y)[x * r.Channels() + c] = static_cast<uint16_t>(v);
    else r.RowAs<uint8_t>(y)[x * r.Channels() + c] = static_cast<uint8_t>(v);
  }
  Line Row(int32_t y, int32_t c) const {
    Line l(raster->Width());
    for (int32_t x = 0; x < raster->Width(); ++x) l[x] = At(x, y, c);
    return l;
  }
  Line Column(int32_t x, int32_t c) const {
    Line l(raster->Height());
    for (int32_t y = 0; y < raster->Height(); ++y) l[y] = At(x, y, c);
    return l;
  }
  Rect Bounds() const { return raster->Bounds(); }
};

Image Make(int32_t w, int32_t h, int32_t channels, bool is16Bit) {
  return {fx::MakeRaster(w, h, channels, is16Bit ? 2 : 1)};
}

Image Random(int32_t w, int32_t h, int32_t channels, bool is16Bit, uint32_t seed) {
  Image img = Make(w, h, channels, is16Bit);
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int64_t> sample(0, is16Bit ? 32768 : 255);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      for (int32_t c = 0; c < channels; ++c) img.Set(x, y, c, sample(gen));
  return img;
}

Image Copy(const Image& src) {
  Image out = Make(src.raster->Width(), src.raster->Height(), src.raster->Channels(), src.raster->Is16Bit());
  out.raster->CopyFrom(*src.raster);
  return out;
}

bool Same(const Image& a, const Image& b) {
  for (int32_t y = 0; y < a.raster->Height(); ++y)
    for (int32_t x = 0; x < a.raster->Width(); ++x)
      for (int32_t c = 0; c < a.raster->Channels(); ++c)
        if (a.At(x, y, c) != b.At(x, y, c)) return false;
  return true;
}

// The whole raster blurred with a fresh blur.
void Blur(Image& img, int32_t mode, int32_t passes, float rx, float ry) {
  SeparableBlur blur;
  blur.SetMode(mode);
  blur.SetPasses(passes);
  blur.SetRadii(rx, ry);
  blur.Blur(*img.raster, img.Bounds());
}

// -------------------------------------------------------------- box mode

TEST(BoxBlur, WindowsComputedByHand) {
  struct Case {
    const char* what;
    float radius;
    Line in, out;
    bool is16Bit = false;
  };
  const std::vector<Case> cases = {
      // h = 2: five samples at full weight (the end samples weigh 0).
      {"radius 4", 4, {0, 0, 0, 0, 0, 0, 0, 250, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 50, 50, 50, 50, 50, 0, 0, 0, 0, 0}},
      // h = 2.5: five full samples and two at half weight; 64000 / 1536
      // and 32000 / 1536 through the reciprocal.
      {"radius 5", 5, {0, 0, 0, 0, 0, 0, 0, 250, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 20, 41, 41, 41, 41, 41, 20, 0, 0, 0, 0}},
      // Near the ends the half-weight sample is divided by the 1408 covered.
      {"radius 5, truncated", 5, {0, 0, 0, 0, 0, 250, 0, 0, 0, 0, 0}, {0, 0, 22, 41, 41, 41, 41, 41, 22, 0, 0}},
      // Four samples: the half-width is limited to L / 2 - 1 = 1.
      {"four samples", 5, {0, 0, 255, 255}, {0, 63, 191, 255}},
      {"radius 4, 16-bit", 4, {0, 0, 0, 0, 0, 0, 0, 32768, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 6553, 6553, 6553, 6553, 6553, 0, 0, 0, 0, 0}, true},
      {"radius 5, 16-bit", 5, {0, 0, 0, 0, 0, 0, 0, 32768, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 2730, 5461, 5461, 5461, 5461, 5461, 2730, 0, 0, 0, 0}, true},
      {"radius 5, truncated, 16-bit", 5, {0, 0, 0, 0, 0, 32768, 0, 0, 0, 0, 0}, {0, 0, 2978, 5461, 5461, 5461, 5461, 5461, 2978, 0, 0}, true},
      {"four samples, 16-bit", 5, {0, 0, 32768, 32768}, {0, 8192, 24576, 32768}, true},
  };
  for (const Case& c : cases) {
    const int32_t L = static_cast<int32_t>(c.in.size());
    // The line as a row and as a column, one and four channels.
    for (int32_t channels : {1, 4})
      for (bool row : {true, false}) {
        Image img = Make(row ? L : 1, row ? 1 : L, channels, c.is16Bit);
        for (int32_t i = 0; i < L; ++i)
          for (int32_t ch = 0; ch < channels; ++ch) img.Set(row ? i : 0, row ? 0 : i, ch, c.in[i]);
        Blur(img, SeparableBlur::kBox, 0, row ? c.radius : 0, row ? 0 : c.radius);
        for (int32_t ch = 0; ch < channels; ++ch)
          EXPECT_EQ(row ? img.Row(0, ch) : img.Column(0, ch), c.out) << c.what << (row ? ", row" : ", column");
      }
  }
}

TEST(BoxBlur, ShortLinesStayUnchanged) {
  for (bool is16Bit : {false, true})
    for (int32_t length : {1, 2, 3}) {
      const Image source = Random(length, length, 4, is16Bit, 7 + length);
      Image img = Copy(source);
      Blur(img, SeparableBlur::kBox, 1, 50, 50);
      EXPECT_TRUE(Same(img, source)) << length;
    }
}

// Lines blurred by the engine against the step-by-step reference: rows with
// the vertical radius 0, columns with the horizontal radius 0, over lengths
// and radii that reach every window shape and both reciprocal regimes.
TEST(BoxBlur, MatchesTheReferenceOnRandomLines) {
  const std::vector<float> radii = {0.7f, 1, 2, 2.5f, 5, 7.3f, 30, 64.5f, 129, 300.2f, 1000, 5000};
  const std::vector<int32_t> lengths = {4, 5, 6, 17, 64, 301, 2500};
  uint32_t seed = 1;
  for (bool is16Bit : {false, true})
    for (int32_t channels : {1, 4})
      for (int32_t length : lengths)
        for (float radius : radii) {
          const Image source = Random(length, 3, channels, is16Bit, seed++);
          Image rows = Copy(source);
          Blur(rows, SeparableBlur::kBox, 0, radius, 0);
          const Image tall = Random(3, length, channels, is16Bit, seed++);
          Image columns = Copy(tall);
          Blur(columns, SeparableBlur::kBox, 0, 0, radius);
          for (int32_t i = 0; i < 3; ++i)
            for (int32_t c = 0; c < channels; ++c) {
              ASSERT_EQ(rows.Row(i, c), ReferenceBox(source.Row(i, c), radius * 0.5f, is16Bit))
                  << is16Bit << " " << channels << " " << length << " " << radius;
              ASSERT_EQ(columns.Column(i, c), ReferenceBox(tall.Column(i, c), radius * 0.5f, is16Bit))
                  << is16Bit << " " << channels << " " << length << " " << radius;
            }
        }
}

// Lines long enough for 64-bit sums and the 128-bit product.
TEST(BoxBlur, MatchesTheReferenceOnVeryLongLines) {
  struct Case {
    bool is16Bit;
    int32_t length;
    float radius;
  };
  for (const Case& c : {Case{false, 40000, 39000}, Case{false, 40000, 5000}, Case{true, 33100, 33024},
                        Case{true, 70000, 66001}}) {
    const Image source = Random(c.length, 1, 1, c.is16Bit, 77);
    Image img = Copy(source);
    Blur(img, SeparableBlur::kBox, 0, c.radius, 0);
    ASSERT_EQ(img.Row(0, 0), ReferenceBox(source.Row(0, 0), c.radius * 0.5f, c.is16Bit)) << c.length;
  }
}

// The same windowed average in double precision: truncated windows give
// exactly its floor; full windows, through the reciprocal, give its floor or
// the next integer up, never 1 or more away from the true mean.
TEST(BoxBlur, AgreesWithTheDoubleAverage) {
  uint32_t seed = 100;
  for (bool is16Bit : {false, true})
    for (float radius : {3.0f, 5.4f, 40.0f, 257.0f, 1000.0f}) {
      const int32_t L = 2200;
      const Image source = Random(L, 1, 1, is16Bit, seed++);
      Image img = Copy(source);
      Blur(img, SeparableBlur::kBox, 0, radius, 0);
      const float h = radius * 0.5f;
      const double F = is16Bit ? 65536 : 256;
      const int64_t c = static_cast<int64_t>(std::ceil(h));
      const int64_t n = c == static_cast<int64_t>(std::floor(h)) ? c + 1 : c;
      const float frac = std::ceil(h) - h == 0 ? 0.0f : 1.0f - (std::ceil(h) - h);
      const double w = std::trunc(frac * static_cast<float>(F));
      for (int64_t i = 0; i < L; ++i) {
        double sum = 0, weight = 0;
        for (int64_t k = i - n; k <= i + n; ++k) {
          if (k < 0 || k >= L) continue;
          const double wk = (k == i - n || k == i + n) ? w : F;
          sum += wk * static_cast<double>(source.At(static_cast<int32_t>(k), 0, 0));
          weight += wk;
        }
        const double mean = sum / weight;
        const int64_t out = img.At(static_cast<int32_t>(i), 0, 0);
        if (i < n || i >= L - n) {
          ASSERT_EQ(out, static_cast<int64_t>(std::floor(mean))) << radius << " at " << i;
        } else {
          ASSERT_GE(out, static_cast<int64_t>(std::floor(mean))) << radius << " at " << i;
          ASSERT_LT(std::fabs(static_cast<double>(out) - mean), 1.0) << radius << " at " << i;
        }
      }
    }
}

TEST(BoxBlur, ConstantLinesStayConstantAtEveryRadius) {
  // 255 * W passes 2^23 from radius 130 on, 65535 * W passes 2^47 from
  // radius 32768 on: there a reciprocal with the fixed shift 23 (32-bit) or
  // 47 lifts a black line.
  EXPECT_EQ(ReferenceBox(Line(3000, 0), 500, false, false)[1500], 5);
  EXPECT_EQ(ReferenceBox(Line(33100, 0), 16512, true, false)[16550], 1);

  struct Case {
    bool is16Bit;
    int32_t length;
    std::vector<float> radii;
  };
  const std::vector<Case> cases = {
      {false, 3000, {1, 2.5f, 33.3f, 128, 130, 131.5f, 1000, 2999, 4000, 60000}},
      {true, 3000, {1, 2.5f, 33.3f, 1000, 2999, 60000}},
      {false, 40000, {39000, 100000}},  // sums past 31 bits
      {true, 33100, {33024, 33025.5f}},
  };
  for (const Case& c : cases)
    for (float radius : c.radii)
      for (int32_t channels : {1, 4}) {
        if (channels == 4 && c.length > 3000) continue;
        const int64_t L = c.is16Bit ? 32768 : 255;
        for (int64_t value : {int64_t{0}, int64_t{1}, L / 3, L - 1, L}) {
          for (bool row : {true, false}) {
            Image img = Make(row ? c.length : 1, row ? 1 : c.length, channels, c.is16Bit);
            for (int32_t i = 0; i < c.length; ++i)
              for (int32_t ch = 0; ch < channels; ++ch) img.Set(row ? i : 0, row ? 0 : i, ch, value);
            Blur(img, SeparableBlur::kBox, 1, row ? radius : 0, row ? 0 : radius);
            for (int32_t i = 0; i < c.length; ++i)
              for (int32_t ch = 0; ch < channels; ++ch)
                ASSERT_EQ(img.At(row ? i : 0, row ? 0 : i, ch), value)
                    << (c.is16Bit ? "16" : "8") << "-bit, length " << c.length << ", radius " << radius << ", "
                    << channels << " channels, " << (row ? "row" : "column") << ", at " << i;
          }
        }
      }
}

// Many row blocks and column strips with ragged last ones, two passes in
// each direction, against the reference applied to rows and then columns.
TEST(BoxBlur, WholeRasterMatchesTheReference) {
  for (bool is16Bit : {false, true})
    for (int32_t channels : {1, 4}) {
      const int32_t w = 53, h = 3001;
      const Image source = Random(w, h, channels, is16Bit, 5);
      Image img = Copy(source);
      Blur(img, SeparableBlur::kBox, 1, 15.3f, 9);
      const float hx = 15.3f * 0.5f, hy = 9 * 0.5f;
      std::vector<Line> expected(static_cast<std::size_t>(w * channels), Line(h));
      for (int32_t y = 0; y < h; ++y)
        for (int32_t c = 0; c < channels; ++c) {
          const Line row = ReferenceBox(ReferenceBox(source.Row(y, c), hx, is16Bit), hx, is16Bit);
          for (int32_t x = 0; x < w; ++x) expected[x * channels + c][y] = row[x];
        }
      for (int32_t x = 0; x < w; ++x)
        for (int32_t c = 0; c < channels; ++c) {
          const Line column = ReferenceBox(ReferenceBox(expected[x * channels + c], hy, is16Bit), hy, is16Bit);
          ASSERT_EQ(img.Column(x, c), column) << is16Bit << " " << channels << " column " << x;
        }
    }
}

TEST(BoxBlur, OnlyTheRectChangesAndBottomUpRowsAgree) {
  for (bool is16Bit : {false, true}) {
    const Image source = Random(40, 30, 4, is16Bit, 9);
    const Rect rect{5, 7, 26, 33};
    // The rect inside a larger raster equals the rect blurred on its own.
    Image inside = Copy(source);
    SeparableBlur blur;
    blur.SetPasses(1);
    blur.SetRadii(6, 4);
    blur.Blur(*inside.raster, rect);
    Image alone = Make(rect.Width(), rect.Height(), 4, is16Bit);
    alone.raster->CopyRect(*source.raster, rect, 0, 0);
    blur.Blur(*alone.raster, alone.Bounds());
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 40; ++x)
        for (int32_t c = 0; c < 4; ++c) {
          const int64_t expected =
              rect.Contains(x, y) ? alone.At(x - rect.left, y - rect.top, c) : source.At(x, y, c);
          ASSERT_EQ(inside.At(x, y, c), expected) << x << "," << y;
        }
    // The same pixels stored bottom-up (negative stride).
    const int32_t rowBytes = static_cast<int32_t>(source.raster->RowBytes());
    std::vector<uint8_t> memory(static_cast<std::size_t>(rowBytes) * 30);
    Image flipped{fx::RasterRef::Adopt(fx::Raster::Create(40, 30, 4, is16Bit ? 2 : 1, -rowBytes, memory.data()))};
    flipped.raster->CopyFrom(*source.raster);
    blur.Blur(*flipped.raster, rect);
    EXPECT_TRUE(Same(flipped, inside));
  }
}

TEST(BoxBlur, PassesRepeatThePass) {
  const Image source = Random(120, 1, 1, false, 11);
  for (int32_t passes : {0, 1, 3}) {
    Image img = Copy(source);
    Blur(img, SeparableBlur::kBox, passes, 9, 0);
    Line expected = source.Row(0, 0);
    for (int32_t p = 0; p <= passes; ++p) expected = ReferenceBox(expected, 4.5f, false);
    EXPECT_EQ(img.Row(0, 0), expected) << passes;
  }
}

// Every instruction set the processor offers gives the baseline's samples.
TEST(SeparableBlurCode, EveryInstructionSetAgrees) {
  struct Case {
    int32_t mode;
    float rx, ry;
  };
  uint32_t seed = 500;
  for (bool is16Bit : {false, true})
    for (int32_t channels : {1, 2, 4})
      for (const Case& c : {Case{SeparableBlur::kBox, 5, 7.5f}, Case{SeparableBlur::kBox, 300, 260},
                            Case{SeparableBlur::kGaussian, 4, 2.5f}}) {
        const Image source = Random(357, 301, channels, is16Bit, seed++);
        Image baseline = Copy(source);
        fx::LimitBlurInstructionSet(0);
        Blur(baseline, c.mode, 1, c.rx, c.ry);
        for (int32_t level : {1, 2}) {
          Image vector = Copy(source);
          fx::LimitBlurInstructionSet(level);
          Blur(vector, c.mode, 1, c.rx, c.ry);
          EXPECT_TRUE(Same(vector, baseline)) << level << ": " << is16Bit << " " << channels << " " << c.mode << " " << c.rx;
        }
      }
  fx::LimitBlurInstructionSet(2);
}

// --------------------------------------------------------- Gaussian mode

TEST(GaussianBlur, MatchesTheReferenceConvolution) {
  uint32_t seed = 300;
  for (bool is16Bit : {false, true})
    for (int32_t channels : {1, 4})
      for (float radius : {0.4f, 0.9f, 2.0f, 3.3f, 10.0f, 40.0f}) {
        // The stored radius is three times the one set; lines of 45 limit
        // the largest.
        const Image source = Random(45, 3, channels, is16Bit, seed++);
        Image rows = Copy(source);
        Blur(rows, SeparableBlur::kGaussian, 1, radius, 0);
        const Image tall = Random(3, 45, channels, is16Bit, seed++);
        Image columns = Copy(tall);
        Blur(columns, SeparableBlur::kGaussian, 1, 0, radius);
        for (int32_t i = 0; i < 3; ++i)
          for (int32_t c = 0; c < channels; ++c) {
            ASSERT_EQ(rows.Row(i, c), ReferenceGauss(source.Row(i, c), radius * 3)) << radius;
            ASSERT_EQ(columns.Column(i, c), ReferenceGauss(tall.Column(i, c), radius * 3)) << radius;
          }
      }
}

TEST(GaussianBlur, ConstantImageStaysWithinOneUnit) {
  for (bool is16Bit : {false, true})
    for (int32_t channels : {1, 4})
      for (float radius : {0.5f, 3.0f, 20.0f, 200.0f}) {
        const int64_t value = is16Bit ? 20001 : 157;
        Image img = Make(40, 30, channels, is16Bit);
        for (int32_t y = 0; y < 30; ++y)
          for (int32_t x = 0; x < 40; ++x)
            for (int32_t c = 0; c < channels; ++c) img.Set(x, y, c, value);
        Blur(img, SeparableBlur::kGaussian, 1, radius, radius);
        for (int32_t y = 0; y < 30; ++y)
          for (int32_t x = 0; x < 40; ++x)
            for (int32_t c = 0; c < channels; ++c) ASSERT_NEAR(img.At(x, y, c), value, 1) << radius;
      }
}

// ------------------------------------------------------ settings, caches

TEST(SeparableBlurSettings, ModeAndRadiusRules) {
  SeparableBlur blur;
  EXPECT_EQ(blur.Mode(), SeparableBlur::kBox);
  EXPECT_EQ(blur.Passes(), 0);
  EXPECT_TRUE(blur.SetRadii(10, 4));
  EXPECT_FALSE(blur.SetRadii(10, 4));
  blur.SetMode(SeparableBlur::kGaussian);  // re-applied, x 3
  EXPECT_EQ(blur.RadiusX(), 30);
  EXPECT_EQ(blur.RadiusY(), 12);
  EXPECT_FALSE(blur.SetRadii(10, 4));
  blur.SetMode(SeparableBlur::kGaussian);  // no change, no second x 3
  EXPECT_EQ(blur.RadiusX(), 30);
  blur.SetMode(SeparableBlur::kBox);  // re-applied as stored
  EXPECT_EQ(blur.RadiusX(), 30);
  EXPECT_EQ(blur.RadiusY(), 12);
  // Values from outside made safe.
  EXPECT_TRUE(blur.SetRadii(std::nanf(""), -3));
  EXPECT_EQ(blur.RadiusX(), 0);
  EXPECT_EQ(blur.RadiusY(), 0);
  blur.SetRadii(INFINITY, 1e30f);
  EXPECT_EQ(blur.RadiusX(), 1e9f);
  blur.SetPasses(-4);
  EXPECT_EQ(blur.Passes(), 0);
  blur.SetMode(7);
  EXPECT_EQ(blur.Mode(), SeparableBlur::kBox);
}

// The masked blur of one line by a reference: the pixel with mask value m
// (g = r m / full, n = max(1, trunc(g / 2))) is convolved with the kernel of
// index n built from the g of the largest mask value with that index.
Line ReferenceMasked(const Line& s, const Line& mask, float r, bool is16Bit) {
  const uint32_t full = is16Bit ? 32768 : 255;
  const float unit = is16Bit ? fx::Depth16::kToUnit : fx::Depth8::kToUnit;
  const auto g = [&](uint32_t m) { return r * static_cast<float>(m) * unit; };
  const auto index = [&](float v) { return std::max(1, static_cast<int32_t>(v * 0.5f)); };
  const int64_t L = static_cast<int64_t>(s.size());
  Line out(s);
  for (int64_t i = 0; i < L; ++i) {
    const uint32_t m = static_cast<uint32_t>(mask[i]);
    if (m == 0) continue;
    const int32_t n = index(g(m));
    uint32_t top = m;
    while (top < full && index(g(top + 1)) == n) ++top;
    const std::vector<int64_t> taps = ReferenceKernel(n, g(top));
    const int64_t half = static_cast<int64_t>(taps.size() / 2);
    int64_t sum = 0, total = 0;
    for (int64_t k = 0; k <= 2 * half; ++k) {
      sum += taps[k] * s[std::clamp<int64_t>(i - half + k, 0, L - 1)];
      total += taps[k];
    }
    out[i] = sum / total;
  }
  return out;
}

// A mask of random values, many of them sharing each kernel index.
Image RandomMask(int32_t w, int32_t h, bool is16Bit, uint32_t seed) {
  Image m = Random(w, h, 1, is16Bit, seed);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      if ((x + y) % 7 == 0) m.Set(x, y, 0, 0);
  return m;
}

// Every pixel's result follows its own mask value and the radius alone:
// values 170 and 177 (g = 40 and 41.65 of the stored 60, both index 20)
// share the kernel of 178, the largest value of index 20, whichever the blur
// met first, after another radius, and at both depths.
TEST(MaskedBlur, KernelsFollowTheRadiusAlone) {
  for (bool is16Bit : {false, true}) {
    const Image source = Random(60, 1, 1, is16Bit, 21);
    const Image mask = RandomMask(60, 1, is16Bit, 22);
    Image m170 = Make(60, 1, 1, is16Bit), m177 = Make(60, 1, 1, is16Bit);
    // At 16 bits index 20 runs from 21846 to 22937.
    for (int32_t x = 0; x < 60; ++x) {
      m170.Set(x, 0, 0, is16Bit ? 21900 : 170);
      m177.Set(x, 0, 0, is16Bit ? 22900 : 177);
    }
    SeparableBlur blur;
    blur.SetMode(SeparableBlur::kGaussian);
    ASSERT_TRUE(blur.SetRadii(20, 0));
    Image a = Copy(source), b = Copy(source), varied = Copy(source);
    blur.BlurMasked(*a.raster, a.Bounds(), *m170.raster);
    blur.BlurMasked(*b.raster, b.Bounds(), *m177.raster);
    EXPECT_TRUE(Same(a, b));
    EXPECT_EQ(a.Row(0, 0), ReferenceMasked(source.Row(0, 0), m177.Row(0, 0), 60, is16Bit));
    EXPECT_TRUE(blur.SetRadii(7, 0));
    blur.BlurMasked(*varied.raster, varied.Bounds(), *mask.raster);
    EXPECT_TRUE(blur.SetRadii(20, 0));
    varied = Copy(source);
    blur.BlurMasked(*varied.raster, varied.Bounds(), *mask.raster);
    EXPECT_EQ(varied.Row(0, 0), ReferenceMasked(source.Row(0, 0), mask.Row(0, 0), 60, is16Bit));
    // Slot 20 of the Gaussian blur itself is untouched by the masked one.
    SeparableBlur fresh;
    fresh.SetMode(SeparableBlur::kGaussian);
    fresh.SetRadii(20, 0);
    Image whole = Copy(source), afterMasked = Copy(source);
    fresh.Blur(*whole.raster, whole.Bounds());
    blur.Blur(*afterMasked.raster, afterMasked.Bounds());
    EXPECT_TRUE(Same(afterMasked, whole));
  }
}

// One output for the whole image, for bands of 32 rows grown by the reach,
// and (one direction) for the transposed image.
TEST(MaskedBlur, BandsAndTranspositionAgree) {
  const int32_t w = 23, h = 100;
  for (bool is16Bit : {false, true}) {
    const Image source = Random(w, h, 4, is16Bit, 50);
    const Image mask = RandomMask(w, h, is16Bit, 51);
    Image whole = Copy(source);
    SeparableBlur blur;
    blur.SetPasses(1);
    blur.SetRadii(9, 13);
    blur.BlurMasked(*whole.raster, whole.Bounds(), *mask.raster);
    const int32_t reach = blur.ReachY();
    for (int32_t top = 0; top < h; top += 32) {
      const int32_t bottom = std::min(h, top + 32);
      const int32_t from = std::max(0, top - reach), to = std::min(h, bottom + reach);
      Image band = Make(w, to - from, 4, is16Bit), bandMask = Make(w, to - from, 1, is16Bit);
      band.raster->CopyRect(*source.raster, {from, 0, to, w}, 0, 0);
      bandMask.raster->CopyRect(*mask.raster, {from, 0, to, w}, 0, 0);
      blur.BlurMasked(*band.raster, band.Bounds(), *bandMask.raster);
      for (int32_t y = top; y < bottom; ++y)
        for (int32_t x = 0; x < w; ++x)
          for (int32_t c = 0; c < 4; ++c) ASSERT_EQ(band.At(x, y - from, c), whole.At(x, y, c)) << y << " " << x;
    }

    Image rows = Copy(source), columns = Make(h, w, 4, is16Bit), columnMask = Make(h, w, 1, is16Bit);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        columnMask.Set(y, x, 0, mask.At(x, y, 0));
        for (int32_t c = 0; c < 4; ++c) columns.Set(y, x, c, source.At(x, y, c));
      }
    SeparableBlur along;
    along.SetRadii(17, 0);
    along.BlurMasked(*rows.raster, rows.Bounds(), *mask.raster);
    SeparableBlur down;
    down.SetRadii(0, 17);
    down.BlurMasked(*columns.raster, columns.Bounds(), *columnMask.raster);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        for (int32_t c = 0; c < 4; ++c) ASSERT_EQ(columns.At(y, x, c), rows.At(x, y, c));
  }
}

TEST(MaskedBlur, ZeroMaskLeavesTheRectUnchanged) {
  for (bool is16Bit : {false, true})
    for (int32_t channels : {1, 4})
      for (int32_t mode : {SeparableBlur::kBox, SeparableBlur::kGaussian}) {
        const Image source = Random(31, 17, channels, is16Bit, 40);
        Image img = Copy(source);
        Image mask = Make(31, 17, 1, is16Bit);
        mask.raster->Fill(0);
        SeparableBlur blur;
        blur.SetMode(mode);
        blur.SetRadii(12, 7);
        blur.BlurMasked(*img.raster, {2, 3, 15, 29}, *mask.raster);
        EXPECT_TRUE(Same(img, source));
      }
}

// Where the mask is full scale the masked blur is the Gaussian of the
// stored radius (kernel index at least 1); where it is 0 the pixel stays.
TEST(MaskedBlur, FullMaskBlursAndHalfMaskBlursLess) {
  for (bool is16Bit : {false, true}) {
    const Image source = Random(50, 1, 1, is16Bit, 41);
    Image mask = Make(50, 1, 1, is16Bit);
    for (int32_t x = 0; x < 50; ++x) mask.Set(x, 0, 0, x < 25 ? (is16Bit ? 32768 : 255) : 0);
    Image img = Copy(source);
    SeparableBlur blur;
    blur.SetMode(SeparableBlur::kGaussian);
    blur.SetRadii(4, 0);  // stored 12
    blur.BlurMasked(*img.raster, img.Bounds(), *mask.raster);
    // g = 12 x full scale x (1 / full scale) in single precision.
    const float g = is16Bit ? 12.0f * 32768.0f * fx::Depth16::kToUnit : 12.0f * 255.0f * fx::Depth8::kToUnit;
    const Line full = ReferenceGauss(source.Row(0, 0), g);
    for (int32_t x = 0; x < 50; ++x) EXPECT_EQ(img.At(x, 0, 0), x < 25 ? full[x] : source.At(x, 0, 0)) << x;
  }
}

TEST(MaskedBlur, RefusesAMaskOfAnotherShape) {
  Image img = Make(8, 8, 4, false);
  img.raster->Fill(3);
  Image wide = Make(8, 8, 1, true), colour = Make(8, 8, 4, false);
  SeparableBlur blur;
  blur.SetRadii(4, 4);
  EXPECT_THROW(blur.BlurMasked(*img.raster, img.Bounds(), *wide.raster), std::invalid_argument);
  EXPECT_THROW(blur.BlurMasked(*img.raster, img.Bounds(), *colour.raster), std::invalid_argument);
}

// ---------------------------------------------------------------- reach

// The passes and the masked blur split their rows and columns among the
// workers: every thread count gives the one-thread samples, on a rect that
// starts inside the raster and for an object reused across counts (its work
// areas and kernels carried over).
TEST(SeparableBlurCode, EveryThreadCountAgrees) {
  struct Case {
    int32_t mode;
    int32_t passes;
    float rx, ry;
    bool masked;
  };
  const Rect rect{3, 5, 290, 611};
  uint32_t seed = 900;
  for (bool is16Bit : {false, true})
    for (int32_t channels : {1, 4})
      for (const Case& c : {Case{SeparableBlur::kBox, 1, 9, 31.5f, false}, Case{SeparableBlur::kBox, 0, 400, 2, false},
                            Case{SeparableBlur::kGaussian, 0, 3.5f, 6, false},
                            Case{SeparableBlur::kGaussian, 0, 14, 9, true}}) {
        const Image source = Random(617, 297, channels, is16Bit, seed++);
        const Image mask = RandomMask(617, 297, is16Bit, seed++);
        SeparableBlur blur;
        blur.SetMode(c.mode);
        blur.SetPasses(c.passes);
        blur.SetRadii(c.rx, c.ry);
        const auto run = [&](int32_t threads) {
          fx::SetThreadCount(threads);
          Image out = Copy(source);
          if (c.masked) blur.BlurMasked(*out.raster, rect, *mask.raster);
          else blur.Blur(*out.raster, rect);
          return out;
        };
        const Image one = run(1);
        for (int32_t threads : {2, 7, 1})
          EXPECT_TRUE(Same(run(threads), one)) << threads << ": " << is16Bit << " " << channels << " " << c.mode << " "
                                               << c.rx << " " << c.masked;
      }
  fx::SetThreadCount(0);
}

TEST(SeparableBlurReach, Values) {
  SeparableBlur blur;
  blur.SetPasses(1);
  EXPECT_EQ(blur.ReachX(), 0);
  blur.SetRadii(10, 7);  // c = 5 and 4: two passes reach 10 and 8; 2c + 1
  EXPECT_EQ(blur.ReachX(), 11);
  EXPECT_EQ(blur.ReachY(), 9);
  blur.SetPasses(5);  // six runs of c = 5 and one more for the divided windows
  EXPECT_EQ(blur.ReachX(), 31);
  blur.SetMode(SeparableBlur::kGaussian);  // stored radii 30 and 21
  EXPECT_EQ(blur.ReachX(), 30);
  EXPECT_EQ(blur.ReachY(), 21);
  blur.SetRadii(1e9f, 0);
  EXPECT_EQ(blur.ReachX(), std::numeric_limits<int32_t>::max() / 4);
}

// A band blurred with ReachY rows around it (as far as the image goes)
// equals the same rows of the whole image blurred, for one-row bands at both
// ends of the image too, where the band's lines are shortest, and for
// integral half-widths, whose windows within n = c + 1 of a line end are
// divided instead of taken through the reciprocal.
TEST(SeparableBlurReach, BandsWithTheReachEqualTheWholeImage) {
  struct Case {
    int32_t mode;
    float radius;
    int32_t passes = 1;
  };
  const int32_t h = 300;
  for (bool is16Bit : {false, true})
    for (const Case& c : {Case{SeparableBlur::kBox, 7}, Case{SeparableBlur::kBox, 10}, Case{SeparableBlur::kBox, 45},
                          Case{SeparableBlur::kBox, 59.5f}, Case{SeparableBlur::kBox, 7, 0},
                          Case{SeparableBlur::kBox, 10, 3}, Case{SeparableBlur::kBox, 9, 3},
                          Case{SeparableBlur::kBox, 32, 3},
                          Case{SeparableBlur::kGaussian, 3}, Case{SeparableBlur::kGaussian, 13.5f},
                          Case{SeparableBlur::kGaussian, 30}}) {
      const Image source = Random(9, h, 4, is16Bit, 60);
      Image whole = Copy(source);
      SeparableBlur blur;
      blur.SetMode(c.mode);
      blur.SetPasses(c.passes);
      blur.SetRadii(c.radius, c.radius);
      blur.Blur(*whole.raster, whole.Bounds());
      const int32_t reach = blur.ReachY();
      for (int32_t top : {0, 1, 37, 150, 151, 298, 299}) {
        const int32_t bottom = std::min(h, top + (top % 2 == 0 ? 1 : 5));
        const int32_t from = std::max(0, top - reach), to = std::min(h, bottom + reach);
        Image band = Make(9, to - from, 4, is16Bit);
        band.raster->CopyRect(*source.raster, {from, 0, to, 9}, 0, 0);
        SeparableBlur fresh;
        fresh.SetMode(c.mode);
        fresh.SetPasses(c.passes);
        fresh.SetRadii(c.radius, c.radius);
        fresh.Blur(*band.raster, band.Bounds());
        for (int32_t y = top; y < bottom; ++y)
          for (int32_t x = 0; x < 9; ++x)
            for (int32_t ch = 0; ch < 4; ++ch)
              ASSERT_EQ(band.At(x, y - from, ch), whole.At(x, y, ch))
                  << c.mode << " radius " << c.radius << " passes " << c.passes << " band " << top << " row " << y;
      }
    }
}

}  // namespace
