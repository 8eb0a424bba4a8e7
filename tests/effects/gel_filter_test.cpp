// The gel engine on small rasters, at both depths, with values worked out by
// hand.
#include "effects/gel_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "effects/selection_matte.h"
#include "imaging/channel_tables.h"
#include "tests/effects/effect_harness.h"

using namespace effecttest;

namespace {

struct Settings {
  fx::Rgb colour;
  double opacity = 1, highlights = 0, exposure = 0;
};

Pixel Filter(const Settings& s, Pixel in, bool is16Bit) {
  fx::GelFilter gel;
  gel.Load(s.colour, s.opacity, s.highlights, s.exposure);
  fx::RasterRef r = MakeRaster({{in}}, is16Bit);
  gel.Apply(*r, r->Bounds());
  return At(*r, 0, 0);
}

TEST(GelFilter, TablesTruncateInSinglePrecision) {
  fx::GelFilter gel;
  gel.Load({0.7, 0.9517, 1.0}, 1, 0, 0);
  // 90 x 0.7f rounds up to 63 in single precision (62 in double).
  EXPECT_EQ(gel.Table8(0)[90], 63);
  EXPECT_EQ(gel.Table8(0)[170], 119);
  EXPECT_EQ(gel.Table16(0)[180], 126);
  EXPECT_EQ(gel.Table8(1)[255], 242);
  EXPECT_EQ(gel.Table16(1)[32768], 31185);
  EXPECT_EQ(gel.Table16(1).size(), 32769u);
  for (int32_t i : {0, 1, 128, 255}) EXPECT_EQ(gel.Table8(2)[i], i);
  EXPECT_EQ(gel.Table16(2)[32768], 32768);
}

TEST(GelFilter, TablesAreRebuiltOnlyWhenTheColourChanges) {
  fx::GelFilter gel;
  EXPECT_FALSE(gel.Loaded());
  EXPECT_TRUE(gel.Table8(0).empty());
  gel.Load({0.5, 0.5, 0.5}, 1, 0.5, 0);
  EXPECT_EQ(gel.TableBuilds(), 1);
  gel.Load({0.5, 0.5, 0.5}, 0.25, 0, 1);  // new fractions, same colour
  EXPECT_EQ(gel.TableBuilds(), 1);
  EXPECT_FLOAT_EQ(gel.Opacity(), 0.25f);
  EXPECT_FLOAT_EQ(gel.Highlights(), 0.0f);
  EXPECT_FLOAT_EQ(gel.Exposure(), 1.0f);
  gel.Load({0.5, 0.5, 0.6}, 0.25, 0, 1);
  EXPECT_EQ(gel.TableBuilds(), 2);
  EXPECT_EQ(gel.Table8(2)[255], 153);
  // Even a change below single precision is no change.
  gel.Load({0.5, 0.5, 0.6 + 1e-12}, 1, 0, 0);
  EXPECT_EQ(gel.TableBuilds(), 2);
}

TEST(GelFilter, ValuesFromOutsideAreMadeSafe) {
  fx::GelFilter gel;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  gel.Load({2.0, -1.0, nan}, 7.0, nan, -3.0);
  EXPECT_EQ(gel.Table8(0)[200], 200);
  EXPECT_EQ(gel.Table8(1)[200], 0);
  EXPECT_EQ(gel.Table8(2)[200], 0);
  EXPECT_FLOAT_EQ(gel.Opacity(), 1.0f);
  EXPECT_FLOAT_EQ(gel.Highlights(), 0.0f);
  EXPECT_FLOAT_EQ(gel.Exposure(), 0.0f);
  // 16-bit samples above full scale read the tables at full scale.
  EXPECT_EQ(Filter({{0.5, 0.5, 0.5}}, {65535, 40000, 32768, 65535}, true),
            (Pixel{16384, 16384, 16384, 65535}));
}

TEST(GelFilter, PixelsComputedByHand) {
  const fx::Rgb colour{0.5, 0.25, 1.0};
  const Pixel p8{200, 100, 50, 77}, p16{20000, 10000, 5000, 12345};
  struct Case {
    const char* what;
    Settings s;
    Pixel in;
    bool is16Bit;
    Pixel out;
  };
  const Case cases[] = {
      {"full opacity: the tables", {colour}, p8, false, {100, 25, 50, 77}},
      {"full opacity 16", {colour}, p16, true, {10000, 2500, 5000, 12345}},
      // d = trunc(0.5 x 255) = 127: (128 P + 127 F) / 255.
      {"half opacity", {colour, 0.5}, p8, false, {150, 62, 50, 77}},
      {"half opacity 16", {colour, 0.5}, p16, true, {15000, 6250, 5000, 12345}},
      // Y(P) = 248, Y(F) = 226: k = 22 lifts every channel, red clamped.
      {"compensation clamps", {{1, 1, 0}, 1, 0, 1}, {255, 255, 200, 0}, false, {255, 255, 22, 0}},
      // Half compensation: k = trunc(0.5 x (Y(P) - Y(F))) = trunc(0.5 x 101) = 50.
      {"half compensation", {{0.5, 0.5, 0.5}, 1, 0, 0.5}, {201, 201, 201, 255}, false, {150, 150, 150, 255}},
  };
  for (const Case& c : cases) EXPECT_EQ(Filter(c.s, c.in, c.is16Bit), c.out) << c.what;
}

TEST(GelFilter, ExposureCompensationRestoresAGreyPixel) {
  // A grey filter of 0.5 halves a grey pixel; full compensation adds the
  // lost luminance back, which for a grey is exactly what was lost.
  struct Case {
    bool is16Bit;
    int32_t grey, halved;
  };
  for (const Case c : {Case{false, 200, 100}, Case{false, 201, 100}, Case{false, 255, 127},
                       Case{true, 20000, 10000}, Case{true, 20001, 10000}, Case{true, 32768, 16384}}) {
    const Pixel in{c.grey, c.grey, c.grey, 9};
    EXPECT_EQ(Filter({{0.5, 0.5, 0.5}, 1, 0, 0}, in, c.is16Bit), (Pixel{c.halved, c.halved, c.halved, 9}))
        << c.grey;
    EXPECT_EQ(Filter({{0.5, 0.5, 0.5}, 1, 0, 1}, in, c.is16Bit), in) << c.grey;
  }
}

TEST(GelFilter, HighlightsKeepTheirUnfilteredColour) {
  const fx::Rgb grey{0.5, 0.5, 0.5};
  // White is fully in the highlight matte.
  EXPECT_EQ(Filter({grey, 1, 0}, {255, 255, 255, 1}, false), (Pixel{127, 127, 127, 1}));
  EXPECT_EQ(Filter({grey, 1, 1}, {255, 255, 255, 1}, false), (Pixel{255, 255, 255, 1}));
  // h = 127, w = 127: (127 x 128 + 255 x 127) / 255 = 190.
  EXPECT_EQ(Filter({grey, 1, 0.5}, {255, 255, 255, 1}, false), (Pixel{190, 190, 190, 1}));
  EXPECT_EQ(Filter({grey, 1, 0}, {32768, 32768, 32768, 1}, true), (Pixel{16384, 16384, 16384, 1}));
  EXPECT_EQ(Filter({grey, 1, 1}, {32768, 32768, 32768, 1}, true), (Pixel{32768, 32768, 32768, 1}));
  EXPECT_EQ(Filter({grey, 1, 0.5}, {32768, 32768, 32768, 1}, true), (Pixel{24576, 24576, 24576, 1}));
  // A mid grey is partly selected: its weight is the shared matte's.
  const int32_t w = fx::HighlightTable<uint8_t>()[128];
  ASSERT_GT(w, 0);
  ASSERT_LT(w, 255);
  const int32_t expected = (64 * (255 - w) + 128 * w) / 255;
  EXPECT_EQ(Filter({grey, 1, 1}, {128, 128, 128, 1}, false), (Pixel{expected, expected, expected, 1}));
}

TEST(GelFilter, WhiteAtFullOpacityAndNoOpacityChangeNothing) {
  const std::vector<std::vector<Pixel>> rows = {{{0, 0, 0, 0}, {255, 128, 3, 255}, {17, 200, 90, 4}},
                                                {{255, 255, 255, 255}, {1, 2, 3, 4}, {128, 128, 128, 128}}};
  for (bool is16Bit : {false, true}) {
    std::vector<std::vector<Pixel>> in = rows;
    if (is16Bit)
      for (auto& row : in)
        for (Pixel& p : row)
          for (int32_t& v : p) v = v * 32768 / 255;
    for (const Settings& s :
         {Settings{{1, 1, 1}, 1, 0.5, 0}, Settings{{1, 1, 1}, 1, 1, 1}, Settings{{0.2, 0.3, 0.4}, 0, 1, 1}}) {
      fx::RasterRef r = MakeRaster(in, is16Bit);
      fx::GelFilter gel;
      gel.Load(s.colour, s.opacity, s.highlights, s.exposure);
      gel.Apply(*r, r->Bounds());
      for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(At(*r, x, y), in[y][x]) << is16Bit << " " << x << "," << y;
    }
  }
}

TEST(GelFilter, OnlyTheRectangleIsFiltered) {
  const Pixel p{200, 100, 50, 255};
  fx::RasterRef r = MakeRaster({{p, p, p}, {p, p, p}}, false);
  fx::GelFilter gel;
  gel.Apply(*r, r->Bounds());  // not loaded: nothing happens
  EXPECT_EQ(At(*r, 0, 0), p);
  gel.Load({0.5, 0.5, 0.5}, 1, 0, 0);
  gel.Apply(*r, {1, 1, 5, 2});  // clipped to the raster
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x)
      EXPECT_EQ(At(*r, x, y), (y == 1 && x == 1 ? Pixel{100, 50, 25, 255} : p)) << x << "," << y;
  fx::RasterRef grey = fx::MakeRaster(2, 2, 1, 1);
  EXPECT_THROW(gel.Apply(*grey, grey->Bounds()), std::invalid_argument);
}

}  // namespace

namespace {

// Every 8-bit colour once (r, g and b from the pixel's index, alpha varying
// too), 4096 x 4096 pixels.
fx::RasterRef EveryColour8() {
  fx::RasterRef r = fx::MakeRaster(4096, 4096, 4, 1);
  for (int32_t y = 0; y < 4096; ++y) {
    uint8_t* p = r->RowAs<uint8_t>(y);
    for (int32_t x = 0; x < 4096; ++x, p += 4) {
      const uint32_t i = static_cast<uint32_t>(y) * 4096 + static_cast<uint32_t>(x);
      p[0] = static_cast<uint8_t>(i);
      p[1] = static_cast<uint8_t>(i >> 8);
      p[2] = static_cast<uint8_t>(i >> 16);
      p[3] = static_cast<uint8_t>(i * 7);
    }
  }
  return r;
}

// A dense 16-bit sweep: each channel steps through 0..32768 on co-prime
// strides, with a share of samples above full scale (a careless host's).
fx::RasterRef Sweep16() {
  fx::RasterRef r = fx::MakeRaster(1031, 1024, 4, 2);
  for (int32_t y = 0; y < r->Height(); ++y) {
    uint16_t* p = r->RowAs<uint16_t>(y);
    for (int32_t x = 0; x < r->Width(); ++x, p += 4) {
      const uint32_t i = static_cast<uint32_t>(y) * 1031 + static_cast<uint32_t>(x);
      p[0] = static_cast<uint16_t>(i % 32769);
      p[1] = static_cast<uint16_t>((i * 7 + y) % 32769);
      p[2] = static_cast<uint16_t>((i * 13 + 5) % 32769);
      p[3] = static_cast<uint16_t>(i);
      if (i % 97 == 0) p[i % 3] = static_cast<uint16_t>(32769 + i % 32767);
    }
  }
  return r;
}

fx::RasterRef Copy(const fx::Raster& r) {
  fx::RasterRef copy = fx::MakeRaster(r.Width(), r.Height(), r.Channels(), r.BytesPerSample());
  copy->CopyFrom(r);
  return copy;
}

bool SameSamples(const fx::Raster& a, const fx::Raster& b) {
  for (int32_t y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.RowAs<uint8_t>(y), b.RowAs<uint8_t>(y), a.RowBytes()) != 0) return false;
  return true;
}

struct LoopLimit {
  ~LoopLimit() { fx::LimitColourLoopInstructionSet(1); }
};

}  // namespace

// The vector loop against the plain one: every 8-bit colour, a dense 16-bit
// sweep, over the whole raster and over a rectangle whose edges cut through
// the vector loop's steps.
TEST(GelFilter, EveryInstructionSetGivesTheSameSamples) {
  if (!fx::ColourLoopsUseAvx2()) GTEST_SKIP() << "no vector loop on this processor";
  LoopLimit restore;
  const Settings cases[] = {
      {{254 / 255.0, 203 / 255.0, 121 / 255.0}, 1, 0.5, 0},  // a catalogue's defaults
      {{0.2, 0.9, 0.55}, 1, 0, 0},                            // tables only
      {{0.7, 0.3, 1.0}, 0.6, 0, 0.4},                         // opacity and exposure
      {{0.1, 0.5, 0.8}, 0.35, 1, 1},                          // everything at once
  };
  for (bool is16Bit : {false, true}) {
    const fx::RasterRef source = is16Bit ? Sweep16() : EveryColour8();
    for (const Settings& s : cases)
      for (const fx::Rect& rect : {source->Bounds(), fx::Rect{3, 5, 200, 1013}}) {
        fx::GelFilter gel;
        gel.Load(s.colour, s.opacity, s.highlights, s.exposure);
        fx::RasterRef plain = Copy(*source);
        fx::RasterRef vector = Copy(*source);
        fx::LimitColourLoopInstructionSet(0);
        gel.Apply(*plain, rect);
        fx::LimitColourLoopInstructionSet(1);
        gel.Apply(*vector, rect);
        EXPECT_TRUE(SameSamples(*plain, *vector))
            << is16Bit << " opacity " << s.opacity << " highlights " << s.highlights << " exposure " << s.exposure
            << " rect width " << rect.Width();
        EXPECT_FALSE(SameSamples(*plain, *source));
      }
  }
}
