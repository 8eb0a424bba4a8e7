#include "imaging/film_grain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "effects/param_groups.h"
#include "imaging/parallel.h"
#include "imaging/raster.h"

namespace {

using fx::FilmGrain;
using fx::GrainTile;
using fx::MakeRaster;
using fx::RasterRef;
using fx::Rect;

// The generator's outputs, with the modulus taken explicitly in 64 bits.
std::vector<int32_t> Outputs(uint32_t seed, int count) {
  std::vector<int32_t> out;
  uint64_t state = seed;
  for (int i = 0; i < count; ++i) {
    state = (state * 214013 + 2531011) % 4294967296ull;
    out.push_back(static_cast<int32_t>((state >> 16) & 32767));
  }
  return out;
}

// The noise bytes a plane of w x h samples seeded with seed holds, row by row.
std::vector<int32_t> NoiseBytes(uint32_t seed, int32_t w, int32_t h) {
  std::vector<int32_t> bytes = Outputs(seed, w * h);
  for (int32_t& b : bytes) b /= 128;
  return bytes;
}

TEST(GrainRandom, DeterministicSequence) {
  // Seed 1, worked by hand: 41, 18467, 6334, 26500, 19169.
  fx::GrainRandom one(1);
  for (int32_t expected : {41, 18467, 6334, 26500, 19169}) EXPECT_EQ(one.Next(), expected);
  // Other seeds, including one where the state wraps at once.
  for (uint32_t seed : {0u, 2u, 4000000000u}) {
    fx::GrainRandom r(seed);
    for (int32_t expected : Outputs(seed, 20)) ASSERT_EQ(r.Next(), expected) << seed;
  }
  fx::GrainRandom bytes(1);
  EXPECT_EQ(bytes.NextByte(), 0);    // 41 / 128
  EXPECT_EQ(bytes.NextByte(), 144);  // 18467 / 128
}

TEST(GrainRandom, FillsPlanesRowByRowAndFlatOnesNeutral) {
  RasterRef plane = MakeRaster(3, 2, 1, 1);
  fx::FillGrainNoise(*plane, 1);
  const int32_t expected[6] = {0, 144, 49, 207, 149, 122};
  for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(plane->RowAs<uint8_t>(i / 3)[i % 3], expected[i]) << i;
  // Rows that do not fill whole groups of the generator's lanes.
  for (auto [w, h] : {std::pair{13, 7}, std::pair{2, 9}, std::pair{64, 3}}) {
    RasterRef odd = MakeRaster(w, h, 1, 1);
    fx::FillGrainNoise(*odd, 77);
    const std::vector<int32_t> bytes = NoiseBytes(77, w, h);
    for (int32_t i = 0; i < w * h; ++i)
      ASSERT_EQ(odd->RowAs<uint8_t>(i / w)[i % w], bytes[i]) << w << " x " << h;
  }
  for (auto [w, h] : {std::pair{1, 5}, std::pair{5, 1}, std::pair{1, 1}}) {
    RasterRef flat = MakeRaster(w, h, 1, 1);
    fx::FillGrainNoise(*flat, 1);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) EXPECT_EQ(flat->RowAs<uint8_t>(y)[x], 127);
  }
  RasterRef wide = MakeRaster(3, 2, 1, 2);
  EXPECT_THROW(fx::FillGrainNoise(*wide, 1), std::invalid_argument);
}

TEST(GrainRandom, RowsSplitAmongThreadsContinueTheOneSequence) {
  // Planes tall enough to be split into chunks of rows, each chunk jumping
  // ahead to its first row: the bytes are those of one generator run over
  // the whole plane, whatever the thread count.
  for (int32_t threads : {1, 2, 7}) {
    fx::SetThreadCount(threads);
    for (auto [w, h, seed] :
         {std::tuple{37, 5000, 3u}, std::tuple{4096, 40, 4000000000u}, std::tuple{9, 20000, 0u}}) {
      RasterRef plane = MakeRaster(w, h, 1, 1);
      fx::FillGrainNoise(*plane, seed);
      const std::vector<int32_t> bytes = NoiseBytes(seed, w, h);
      for (int32_t i = 0; i < w * h; ++i)
        ASSERT_EQ(plane->RowAs<uint8_t>(i / w)[i % w], bytes[i])
            << w << " x " << h << ", " << threads << " threads";
    }
  }
  fx::SetThreadCount(0);
}

// ------------------------------------------------------------ rendering

constexpr int32_t kW = 48, kH = 40;

// A colour image with every channel varying, alpha included.
RasterRef Image(bool is16, int32_t w = kW, int32_t h = kH) {
  RasterRef r = MakeRaster(w, h, 4, is16 ? 2 : 1);
  const int32_t full = is16 ? 32768 : 255;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int32_t v[4] = {(x * 5 + y * 3) % (full + 1), (x * 11) % (full + 1), full - (y * 7) % (full + 1),
                            (x + y) % 2 ? full : 100};
      for (int c = 0; c < 4; ++c) {
        if (is16)
          r->RowAs<uint16_t>(y)[4 * x + c] = static_cast<uint16_t>(v[c]);
        else
          r->RowAs<uint8_t>(y)[4 * x + c] = static_cast<uint8_t>(v[c]);
      }
    }
  return r;
}

int32_t Sample(const fx::Raster& r, int32_t x, int32_t y, int c) {
  return r.Is16Bit() ? r.RowAs<uint16_t>(y)[4 * x + c] : r.RowAs<uint8_t>(y)[4 * x + c];
}

bool Same(const fx::Raster& a, const fx::Raster& b) {
  for (int32_t y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.Row(y), b.Row(y), static_cast<std::size_t>(a.Width()) * a.PixelBytes()) != 0)
      return false;
  return true;
}

RasterRef Copy(const fx::Raster& r) {
  RasterRef c = MakeRaster(r.Width(), r.Height(), r.Channels(), r.BytesPerSample());
  c->CopyFrom(r);
  return c;
}

// Renders the raster as the render loop would: bands of bandRows rows, one
// tile each, numbered from 0.
void RenderBands(FilmGrain& grain, fx::Raster& image, int32_t bandRows, bool monochrome) {
  const int32_t h = image.Height(), count = (h + bandRows - 1) / bandRows;
  for (int32_t t = 0; t < count; ++t) {
    const int32_t top = t * bandRows;
    GrainTile tile;
    tile.imageWidth = image.Width();
    tile.imageHeight = h;
    tile.origin = {0, top};
    tile.tileIndex = t;
    tile.tileCount = count;
    grain.Render(image, Rect{top, 0, std::min(h, top + bandRows), image.Width()}, tile, monochrome);
  }
}

// Full strength: amounts 100 and a response of 1 everywhere (a minimum of
// 100 lifts the whole curve above 1, so the table is 255 and f is exactly 1).
void FullStrength(FilmGrain& grain, double size = 1) {
  grain.SetSizes(size, size, size);
  grain.SetAmounts(100, 100, 100);
  grain.SetSoftness(0, 0, 0);
  grain.SetResponse(50, 80, 100);
}

TEST(FilmGrain, ColourGrainAddsEachPlanesNoise) {
  // One-pixel grain in two bands: channel b moves by the noise of its own
  // plane of the band's size, seeded b + tile (b + 1), minus 127 (times 128
  // in 16-bit), clamped; alpha is copied.
  const int32_t band = kH / 2;
  for (bool is16 : {false, true}) {
    FilmGrain grain;
    FullStrength(grain);
    RasterRef original = Image(is16), image = Copy(*original);
    RenderBands(grain, *image, band, false);
    const int32_t full = is16 ? 32768 : 255, step = is16 ? 128 : 1;
    for (int32_t tile = 0; tile < 2; ++tile)
      for (int c = 0; c < 3; ++c) {
        const std::vector<int32_t> noise = NoiseBytes(static_cast<uint32_t>(c + tile * (c + 1)), kW, band);
        for (int32_t y = 0; y < band; ++y)
          for (int32_t x = 0; x < kW; ++x) {
            const int32_t row = tile * band + y;
            const int32_t expected =
                std::clamp(Sample(*original, x, row, c) + step * (noise[y * kW + x] - 127), 0, full);
            ASSERT_EQ(Sample(*image, x, row, c), expected) << "channel " << c << " at " << x << ", " << row;
          }
      }
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < kW; ++x) ASSERT_EQ(Sample(*image, x, y, 3), Sample(*original, x, y, 3));
  }
}

TEST(FilmGrain, BandsOfOneRowAreGrainedLikeAnyOther) {
  // A band of one row draws the noise of a one-row plane seeded for its
  // tile: c + tile (c + 1). Only a whole plane of one row is neutral.
  for (bool is16 : {false, true}) {
    FilmGrain grain;
    FullStrength(grain);
    RasterRef original = Image(is16), image = Copy(*original);
    RenderBands(grain, *image, 1, false);
    const int32_t full = is16 ? 32768 : 255, step = is16 ? 128 : 1;
    for (int32_t row = 0; row < kH; ++row)
      for (int c = 0; c < 3; ++c) {
        const std::vector<int32_t> noise = NoiseBytes(static_cast<uint32_t>(c + row * (c + 1)), kW, 1);
        for (int32_t x = 0; x < kW; ++x) {
          const int32_t expected = std::clamp(Sample(*original, x, row, c) + step * (noise[x] - 127), 0, full);
          ASSERT_EQ(Sample(*image, x, row, c), expected) << is16 << " channel " << c << " at " << x << ", " << row;
        }
      }
  }
}

TEST(FilmGrain, ColourGrainOnWhiteOnlyDarkens) {
  RasterRef white = MakeRaster(16, 16, 4, 1);
  white->Fill(255);
  FilmGrain grain;
  FullStrength(grain);
  RenderBands(grain, *white, 16, false);
  const std::vector<int32_t> noise = NoiseBytes(0, 16, 16);
  int darker = 0;
  for (int32_t i = 0; i < 256; ++i) {
    const int32_t r = Sample(*white, i % 16, i / 16, 0);
    EXPECT_EQ(r, noise[i] >= 127 ? 255 : 255 + noise[i] - 127) << i;
    darker += r < 255;
  }
  EXPECT_GT(darker, 100);
}

TEST(FilmGrain, MonochromeGrainNeverTouchesANeutralSample) {
  // One plane (seed 0), the red amount: white over the pixel where the
  // noise is above 127, black below, with alpha the distance from 127 (in
  // 16-bit first widened to trunc(d x 128.5 + 0.5)); 127 leaves the pixel.
  for (bool is16 : {false, true}) {
    FilmGrain grain;
    FullStrength(grain);
    grain.SetAmounts(100, 0, 0);  // only red counts
    const int32_t w = 64, h = 64, full = is16 ? 32768 : 255;
    RasterRef original = Image(is16, w, h), image = Copy(*original);
    RenderBands(grain, *image, h, true);
    const std::vector<int32_t> noise = NoiseBytes(0, w, h);
    int neutral = 0;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const int32_t n = noise[y * w + x];
        if (n == 127) {
          ++neutral;
          for (int c = 0; c < 4; ++c)
            ASSERT_EQ(Sample(*image, x, y, c), Sample(*original, x, y, c)) << x << ", " << y;
          continue;
        }
        const int32_t d = std::abs(n - 127);
        const int32_t alpha = is16 ? static_cast<int32_t>(d * 128.5 + 0.5) : d;
        const int32_t target = n > 127 ? full : 0;
        for (int c = 0; c < 3; ++c) {
          const int32_t p = Sample(*original, x, y, c);
          const int32_t expected = is16 ? (alpha * target + (full - alpha) * p) >> 15
                                        : (target * alpha + p * (full - alpha)) / full;
          ASSERT_EQ(Sample(*image, x, y, c), expected) << x << ", " << y << " channel " << c;
        }
        const int32_t a = Sample(*original, x, y, 3);
        const int32_t expectedAlpha =
            is16 ? alpha + ((a * (full - alpha)) >> 15) : alpha + a * (full - alpha) / full;
        ASSERT_EQ(Sample(*image, x, y, 3), expectedAlpha);
      }
    EXPECT_GT(neutral, 5);  // the case did occur
  }
}

TEST(FilmGrain, NothingChangesWithoutAmountOrResponse) {
  for (bool is16 : {false, true})
    for (bool mono : {false, true})
      for (double size : {1.0, 3.0}) {
        RasterRef original = Image(is16), image = Copy(*original);
        FilmGrain grain;
        grain.SetSizes(size, size, size);
        grain.SetSoftness(1, 1, 1);
        grain.SetAmounts(0, 0, 0);
        EXPECT_FALSE(grain.Active());
        RenderBands(grain, *image, 16, mono);
        EXPECT_TRUE(Same(*image, *original));

        // Full amounts but a response of 0 everywhere.
        FullStrength(grain, size);
        grain.SetResponse(50, 0, 0);
        RenderBands(grain, *image, 16, mono);
        EXPECT_TRUE(Same(*image, *original)) << is16 << mono << size;
        for (int i = 0; i < 256; ++i) ASSERT_EQ(grain.ResponseTable()[i], 0);

        // Monochrome reads the red amount only.
        if (mono) {
          grain.SetResponse(50, 80, 100);
          grain.SetAmounts(0, 100, 100);
          RenderBands(grain, *image, 16, true);
          EXPECT_TRUE(Same(*image, *original));
        }
      }
}

TEST(FilmGrain, ResponseTable) {
  FilmGrain grain;
  grain.SetResponse(50, 80, 20);
  RasterRef image = Image(false);
  RenderBands(grain, *image, kH, false);  // the table is rebuilt at tile 0
  // The curve reaches 1.2 at the centre and is clamped: 255 around the middle.
  EXPECT_EQ(grain.ResponseTable()[127], 255);
  EXPECT_EQ(grain.ResponseTable()[128], 255);
  EXPECT_LT(grain.ResponseTable()[20], 200);
  EXPECT_GE(grain.ResponseTable()[0], 40);
  // Range 0 leaves the minimum everywhere: trunc(0.2 x 255).
  grain.SetResponse(30, 0, 20);
  RenderBands(grain, *image, kH, false);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(grain.ResponseTable()[i], 51) << i;
  // The table is only rebuilt at tile 0.
  grain.SetResponse(50, 0, 100);
  GrainTile later;
  later.imageWidth = kW;
  later.imageHeight = kH;
  later.tileIndex = 1;
  later.tileCount = 3;
  grain.Render(*image, Rect{0, 0, 1, kW}, later, false);
  EXPECT_EQ(grain.ResponseTable()[0], 51);
  EXPECT_TRUE(grain.Dirty());
}

TEST(FilmGrain, SameTilingGivesTheSameGrain) {
  for (bool is16 : {false, true})
    for (double size : {1.0, 2.0, 4.0})
      for (bool mono : {false, true}) {
        FilmGrain grain;
        grain.SetSizes(size, size, size);
        grain.SetAmounts(60, 40, 80);
        grain.SetSoftness(0.5, 0, 1.5);
        grain.SetResponse(40, 70, 30);
        RasterRef first = Image(is16), second = Image(is16);
        RenderBands(grain, *first, 7, mono);
        // Again with the same instance (its planes were released after the
        // last tile and are rebuilt) and with a new one.
        RenderBands(grain, *second, 7, mono);
        EXPECT_TRUE(Same(*first, *second)) << is16 << " " << size << " " << mono;
        FilmGrain other;
        other.SetSizes(size, size, size);
        other.SetAmounts(60, 40, 80);
        other.SetSoftness(0.5, 0, 1.5);
        other.SetResponse(40, 70, 30);
        RasterRef third = Image(is16);
        RenderBands(other, *third, 7, mono);
        EXPECT_TRUE(Same(*first, *third));
      }
}

TEST(FilmGrain, OnePixelGrainFollowsTheTilingLargeGrainDoesNot) {
  // One-pixel grain is seeded per tile, so the rows of band 1 differ from
  // the same rows rendered as one tile; grain enlarged from the reduced
  // planes is one image, whatever the bands.
  for (double size : {1.0, 4.0}) {
    FilmGrain grain;
    FullStrength(grain, size);
    RasterRef whole = Image(false), banded = Image(false);
    RenderBands(grain, *whole, kH, false);
    RenderBands(grain, *banded, 10, false);
    EXPECT_EQ(Same(*whole, *banded), size > 1) << size;
    RasterRef bandedMono = Image(true), wholeMono = Image(true);
    RenderBands(grain, *wholeMono, kH, true);
    RenderBands(grain, *bandedMono, 3, true);
    EXPECT_EQ(Same(*wholeMono, *bandedMono), size > 1) << size;
  }
}

TEST(FilmGrain, ReducedPlanesLiveForOneRender) {
  FilmGrain grain;
  FullStrength(grain);
  grain.SetSizes(4, 1, 2.5);
  grain.SetScale(1, 1);
  RasterRef image = Image(false);
  GrainTile tile;
  tile.imageWidth = kW;
  tile.imageHeight = kH;
  tile.tileCount = 2;
  tile.tileIndex = 0;
  grain.Render(*image, Rect{0, 0, 20, kW}, tile, false);
  ASSERT_NE(grain.Plane(0), nullptr);
  EXPECT_EQ(grain.Plane(0)->Width(), kW / 4);
  EXPECT_EQ(grain.Plane(0)->Height(), kH / 4);
  EXPECT_EQ(grain.Plane(1), nullptr);  // one-pixel grain has no plane
  EXPECT_EQ(grain.Plane(2)->Width(), kW / 2);
  EXPECT_FALSE(grain.Dirty());
  tile.tileIndex = 1;
  tile.origin = {0, 20};
  grain.Render(*image, Rect{20, 0, kH, kW}, tile, false);
  EXPECT_EQ(grain.Plane(0), nullptr);
  EXPECT_EQ(grain.Plane(2), nullptr);
  EXPECT_TRUE(grain.Dirty());

  // The preview scale shrinks the cells: size 2 at half scale is one pixel.
  grain.SetSizes(2, 2, 2);
  grain.SetScale(0.5, 0.5);
  tile.tileIndex = 0;
  tile.origin = {};
  grain.Render(*image, Rect{0, 0, 20, kW}, tile, false);
  EXPECT_EQ(grain.Plane(0), nullptr);
  // Monochrome builds plane 0 only.
  grain.SetScale(1, 1);
  grain.Render(*image, Rect{0, 0, 20, kW}, tile, true);
  EXPECT_NE(grain.Plane(0), nullptr);
  EXPECT_EQ(grain.Plane(1), nullptr);
}

TEST(FilmGrain, SoftnessSmoothsTheNoise) {
  auto deviation = [](double softness, double size) {
    FilmGrain grain;
    FullStrength(grain, size);
    grain.SetSoftness(softness, softness, softness);
    RasterRef original = Image(false), image = Copy(*original);
    RenderBands(grain, *image, kH, false);
    int64_t sum = 0;
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < kW; ++x) sum += std::abs(Sample(*image, x, y, 1) - Sample(*original, x, y, 1));
    return sum;
  };
  for (double size : {1.0, 3.0}) EXPECT_LT(deviation(3, size) * 2, deviation(0, size)) << size;
}

TEST(FilmGrain, GrainLargerThanTheImageIsNeutral) {
  FilmGrain grain;
  FullStrength(grain, 10);
  RasterRef original = Image(false, 6, 6), image = Copy(*original);
  RenderBands(grain, *image, 6, false);
  EXPECT_TRUE(Same(*image, *original));
}

TEST(FilmGrain, SettersMakeOutsideValuesSafe) {
  FilmGrain grain;
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  grain.SetAmounts(nan, inf, 500);
  EXPECT_EQ(grain.Amount(0), 0);
  EXPECT_EQ(grain.Amount(1), 0);
  EXPECT_EQ(grain.Amount(2), 1);
  EXPECT_EQ(grain.MaxAmount(), 1);
  grain.SetAmounts(-20, 0, 0);
  EXPECT_EQ(grain.MaxAmount(), 0);
  EXPECT_FALSE(grain.Active());
  grain.SetSizes(nan, -5, 1e12);
  EXPECT_EQ(grain.Size(0), 1);
  EXPECT_EQ(grain.Size(1), 0);
  EXPECT_EQ(grain.Size(2), 1000);
  grain.SetSoftness(inf, -1, 2);
  EXPECT_EQ(grain.Softness(0), 0);
  EXPECT_EQ(grain.Softness(2), 2);
  grain.SetResponse(nan, 1e300, -7);
  grain.SetAmounts(100, 100, 100);
  grain.SetScale(nan, 1e30);
  RasterRef image = Image(true);
  RenderBands(grain, *image, 13, false);
  RenderBands(grain, *image, 13, true);
  grain.SetPasses(1);
  EXPECT_EQ(grain.Passes(), 1);
  RasterRef grey = MakeRaster(4, 4, 1, 1);
  EXPECT_THROW(grain.Render(*grey, grey->Bounds(), GrainTile{}, false), std::invalid_argument);
}

TEST(FilmGrain, UpdateFromGroupAndUniform) {
  FilmGrain grain;
  FilmGrain::GroupValues v;
  EXPECT_FALSE(grain.UpdateFromGroup(v));  // the defaults: sizes 1, amounts 15 %, response 50/80/20
  EXPECT_DOUBLE_EQ(grain.Amount(1), 0.15);
  v.amount[2] = 40;
  v.minimum = 35;
  EXPECT_TRUE(grain.UpdateFromGroup(v));
  EXPECT_DOUBLE_EQ(grain.Amount(2), 0.4);
  EXPECT_TRUE(grain.Dirty());
  EXPECT_FALSE(grain.UpdateFromGroup(v));
  EXPECT_TRUE(grain.SetUniform(2, 25, 0.5));
  EXPECT_EQ(grain.Size(2), 2);
  EXPECT_DOUBLE_EQ(grain.Amount(0), 0.25);
  EXPECT_EQ(grain.Softness(1), 0.5f);
  EXPECT_FALSE(grain.SetUniform(2, 25, 0.5));
}

// ------------------------------------------------------------ the grain group

inline constexpr auto kGrainParams =
    fx::Join(fx::Rows({fx::Image("background", "Background")}), fx::GrainGroup({.amount = 25}));
static_assert(fx::ValidTable(kGrainParams));
inline constexpr fx::EffectType kGrainType{"Ovra Test Grain", "", kGrainParams, 0};

TEST(GrainGroup, RowsWithChannelMarks) {
  constexpr auto g = fx::GrainGroup();
  static_assert(fx::ValidTable(g));
  const char* keys[] = {"grainRSize",   "grainGSize",     "grainBSize",     "grainRAmount",   "grainGAmount",
                        "grainBAmount", "grainRSoftness", "grainGSoftness", "grainBSoftness", "grainResponse",
                        "grainPos",     "grainRange",     "grainMin"};
  for (int i = 0; i < 13; ++i) EXPECT_STREQ(g[i].key, keys[i]) << i;
  const uint32_t marks[3] = {fx::kRedMark, fx::kGreenMark, fx::kBlueMark};
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(g[fx::GrainRows::kRedSize + c].flags, marks[c] | fx::kWholeNumbers) << c;
    EXPECT_EQ(g[fx::GrainRows::kRedAmount + c].flags, marks[c] | fx::kPrincipal) << c;
    EXPECT_EQ(g[fx::GrainRows::kRedSoftness + c].flags, marks[c]) << c;
    EXPECT_EQ(g[fx::GrainRows::kRedSize + c].maximum, 10);
    EXPECT_EQ(g[fx::GrainRows::kRedAmount + c].defaultValue, 15);
    EXPECT_EQ(g[fx::GrainRows::kRedSoftness + c].maximum, 100);
  }
  EXPECT_EQ(g[fx::GrainRows::kResponse].kind, fx::Kind::GroupStart);
  EXPECT_STREQ(g[fx::GrainRows::kResponse].label, "Film Response");
  EXPECT_EQ(g[fx::GrainRows::kResponse].flags, fx::kRedMark);
  EXPECT_EQ(g[fx::GrainRows::kPosition].defaultValue, 50);
  EXPECT_EQ(g[fx::GrainRows::kRange].defaultValue, 80);
  EXPECT_EQ(g[fx::GrainRows::kMinimum].defaultValue, 20);
  EXPECT_EQ(g[fx::GrainRows::kMinimum].flags, 0u);
  EXPECT_EQ(g[fx::GrainRows::kEnd].kind, fx::Kind::GroupEnd);
  EXPECT_EQ(kGrainParams[1 + fx::GrainRows::kBlueAmount].defaultValue, 25);
}

TEST(GrainGroup, ReaderFeedsTheGenerator) {
  fx::Effect e(kGrainType);
  const int first = 1;
  fx::SetRange(e.Param(first + fx::GrainRows::kGreenSize), 3);
  fx::SetRange(e.Param(first + fx::GrainRows::kBlueAmount), 60);
  fx::SetRange(e.Param(first + fx::GrainRows::kRedSoftness), 2.5);
  fx::SetRange(e.Param(first + fx::GrainRows::kMinimum), 10);
  const FilmGrain::GroupValues v = fx::ReadGrainGroup(e, first);
  EXPECT_EQ(v.size[1], 3);
  EXPECT_EQ(v.amount[0], 25);
  EXPECT_EQ(v.amount[2], 60);
  EXPECT_EQ(v.softness[0], 2.5);
  EXPECT_EQ(v.position, 50);
  EXPECT_EQ(v.minimum, 10);
  // The same rows read with the response taken from elsewhere.
  EXPECT_EQ(fx::ReadGrainGroup(e, first, first + fx::GrainRows::kRedAmount).position, 25);
  FilmGrain grain;
  EXPECT_TRUE(grain.UpdateFromGroup(v));
  EXPECT_EQ(grain.Size(1), 3);
  EXPECT_DOUBLE_EQ(grain.Amount(2), 0.6);
  EXPECT_EQ(grain.Softness(0), 2.5f);

  fx::RenderInfo info;
  info.imageWidth = 640;
  info.imageHeight = 480;
  info.area = {0, 0, 64, 640};
  info.outputRect = {128, 0, 192, 640};
  info.tileIndex = 2;
  info.tileCount = 8;
  const GrainTile tile = fx::GrainTileOf(info);
  EXPECT_EQ(tile.imageWidth, 640);
  EXPECT_EQ(tile.imageHeight, 480);
  EXPECT_EQ(tile.origin.x, 0);
  EXPECT_EQ(tile.origin.y, 128);
  EXPECT_EQ(tile.tileIndex, 2);
  EXPECT_EQ(tile.tileCount, 8);
}

}  // namespace
