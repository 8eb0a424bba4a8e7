// Per-channel tables over a raster: the vector loop against the plain one,
// the clamp of out-of-range 16-bit samples, and the arguments refused.
#include "imaging/channel_tables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "imaging/raster.h"

namespace {

struct LoopLimit {
  ~LoopLimit() { fx::LimitColourLoopInstructionSet(1); }
};

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

TEST(ChannelTables, EveryInstructionSetGivesTheSameSamples) {
  LoopLimit restore;
  // Every 8-bit colour with a varying alpha; three unlike tables.
  fx::RasterRef source = fx::MakeRaster(4096, 4096, 4, 1);
  for (int32_t y = 0; y < 4096; ++y) {
    uint8_t* p = source->RowAs<uint8_t>(y);
    for (int32_t x = 0; x < 4096; ++x, p += 4) {
      const uint32_t i = static_cast<uint32_t>(y) * 4096 + static_cast<uint32_t>(x);
      p[0] = static_cast<uint8_t>(i);
      p[1] = static_cast<uint8_t>(i >> 8);
      p[2] = static_cast<uint8_t>(i >> 16);
      p[3] = static_cast<uint8_t>(i * 7 + 3);
    }
  }
  std::vector<uint8_t> t[3];
  for (int c = 0; c < 3; ++c)
    for (int32_t i = 0; i < 256; ++i) t[c].push_back(static_cast<uint8_t>(c == 0 ? 255 - i : (i * (c + 3)) % 251));
  for (const fx::Rect& rect : {source->Bounds(), fx::Rect{1, 3, 700, 2050}}) {
    fx::RasterRef plain = Copy(*source), vector = Copy(*source);
    fx::LimitColourLoopInstructionSet(0);
    fx::ApplyChannelTables(*plain, rect, {t[0], t[1], t[2]});
    fx::LimitColourLoopInstructionSet(1);
    fx::ApplyChannelTables(*vector, rect, {t[0], t[1], t[2]});
    EXPECT_TRUE(SameSamples(*plain, *vector)) << rect.Width();
    // Only the rectangle's colour changed, exactly as the tables say.
    const uint8_t* in = source->RowAs<uint8_t>(rect.top) + 4 * (rect.right - 1);
    const uint8_t* out = plain->RowAs<uint8_t>(rect.top) + 4 * (rect.right - 1);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(out[c], t[c][in[c]]);
    EXPECT_EQ(out[3], in[3]);
    if (rect.left > 0) {
      EXPECT_EQ(std::memcmp(plain->RowAs<uint8_t>(rect.top), source->RowAs<uint8_t>(rect.top), 4), 0);
    }
  }
}

TEST(ChannelTables, SixteenBitSamplesAboveFullScaleReadTheLastEntry) {
  std::vector<uint16_t> t(32769);
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<uint16_t>(32768 - i);
  t[32768] = 77;
  fx::RasterRef r = fx::MakeRaster(3, 1, 4, 2);
  uint16_t* p = r->RowAs<uint16_t>(0);
  const uint16_t in[12] = {0, 32768, 32769, 9, 65535, 40000, 100, 65535, 1, 2, 3, 4};
  std::memcpy(p, in, sizeof in);
  fx::ApplyChannelTables(*r, r->Bounds(), {t, t, t});
  const uint16_t expected[12] = {32768, 77, 77, 9, 77, 77, 32668, 65535, 32767, 32766, 32765, 4};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(p[i], expected[i]) << i;
}

TEST(ChannelTables, RefusesRastersAndTablesOfAnotherShape) {
  std::vector<uint8_t> t8(256), shortTable(255);
  std::vector<uint16_t> t16(32769);
  fx::RasterRef grey = fx::MakeRaster(2, 2, 1, 1);
  fx::RasterRef rgba8 = fx::MakeRaster(2, 2, 4, 1);
  EXPECT_THROW(fx::ApplyChannelTables(*grey, grey->Bounds(), {t8, t8, t8}), std::invalid_argument);
  EXPECT_THROW(fx::ApplyChannelTables(*rgba8, rgba8->Bounds(), {t8, shortTable, t8}), std::invalid_argument);
  EXPECT_THROW(fx::ApplyChannelTables(*rgba8, rgba8->Bounds(), {t16, t16, t16}), std::invalid_argument);
}

}  // namespace
