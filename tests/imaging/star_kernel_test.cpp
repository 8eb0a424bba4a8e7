// The Vari-Star kernel: odd side, full centre, spokes where the angle puts
// them and reaching the outer radius, notches between them.
#include "imaging/star_kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

namespace {

int32_t K(const fx::StarKernel& k, int32_t dx, int32_t dy) {
  const int32_t h = k.Half();
  if (std::abs(dx) > h || std::abs(dy) > h) return 0;
  return k.Image()->RowAs<uint8_t>(dy + h)[dx + h];
}

TEST(StarKernel, SpokesReachTheOuterRadiusAtTheirAngles) {
  struct Case {
    int32_t spokes;
    double outer, inner, degrees;
  };
  for (const Case c :
       {Case{4, 10, 1, 0}, Case{5, 14.3, 1.5, 30}, Case{12, 20, 2, -17}, Case{2, 9.5, 0.6, 90}}) {
    fx::StarKernel k;
    k.Build({c.spokes, c.outer, c.inner, c.degrees});
    EXPECT_EQ(k.Side() % 2, 1);
    EXPECT_EQ(k.Side(), 2 * static_cast<int32_t>(std::ceil(c.outer + c.inner)) + 1);
    EXPECT_EQ(K(k, 0, 0), 255);
    for (int32_t i = 0; i < c.spokes; ++i) {
      const double a = (i * 360.0 / c.spokes - 90 + c.degrees) * std::numbers::pi / 180;
      const auto at = [&](double d, double angle) {
        return K(k, static_cast<int32_t>(std::lround(d * std::cos(angle))),
                 static_cast<int32_t>(std::lround(d * std::sin(angle))));
      };
      EXPECT_GT(at(c.outer - 1, a), 0) << c.spokes << " spoke " << i;
      EXPECT_EQ(at(c.outer + 1.5, a), 0) << c.spokes << " spoke " << i;
      // Halfway between two spokes the star is only as wide as the notch
      // (many spokes leave no gap near the centre).
      if (c.spokes > 2 && c.spokes <= 6) {
        EXPECT_EQ(at(c.inner + 2.5, a + std::numbers::pi / c.spokes), 0) << c.spokes << " notch " << i;
      }
    }
    // The taps are exactly the non-zero pixels.
    std::map<std::pair<int32_t, int32_t>, int32_t> taps;
    for (const fx::StarKernel::Tap& t : k.Taps()) taps[{t.dx, t.dy}] = t.k;
    for (int32_t dy = -k.Half(); dy <= k.Half(); ++dy)
      for (int32_t dx = -k.Half(); dx <= k.Half(); ++dx) {
        const auto it = taps.find({dx, dy});
        EXPECT_EQ(it == taps.end() ? 0 : it->second, K(k, dx, dy));
      }
  }
}

TEST(StarKernel, TinyRadiiStillGiveAKernel) {
  fx::StarKernel k;
  k.Build({4, 0, 0, 0});
  EXPECT_EQ(k.Side(), 3);
  k.Build({6, 3, 0.5, 10});
  EXPECT_EQ(k.Side(), 9);
  EXPECT_FALSE(k.Taps().empty());
}

// Restores the widest stamping instructions whatever a test did.
struct StampLimit {
  ~StampLimit() { fx::LimitStampInstructionSet(1); }
};

// Every k and every sample value through both instruction sets, over runs
// long enough for the wide steps and with a tail: the lanes' product and
// division give floor(k m / 255) and keep the larger sample.
template <class S>
void RunMatchesFormula(int32_t values) {
  StampLimit restore;
  const int32_t count = values + 13;
  std::vector<S> m(static_cast<std::size_t>(count));
  std::vector<S> before(m.size());
  for (int32_t i = 0; i < count; ++i) {
    m[static_cast<std::size_t>(i)] = static_cast<S>(i % values);
    before[static_cast<std::size_t>(i)] = static_cast<S>((i * 7919) % values);
  }
  for (int32_t level : {0, 1}) {
    fx::LimitStampInstructionSet(level);
    for (int32_t k = 0; k <= 255; ++k) {
      std::vector<S> out = before;
      fx::MaxScaledRun(out.data(), m.data(), count, k);
      for (std::size_t i = 0; i < out.size(); ++i) {
        const S want = std::max(before[i], static_cast<S>(static_cast<uint32_t>(k) * m[i] / 255));
        if (out[i] != want) {
          ADD_FAILURE() << "level " << level << " k " << k << " m " << int{m[i]} << " was " << int{before[i]}
                        << ": " << int{out[i]} << " not " << int{want};
          return;
        }
      }
    }
  }
}

TEST(StarKernel, MaxScaledRunIsTheFormulaForEveryValueAtBothDepths) {
  RunMatchesFormula<uint8_t>(256);
  RunMatchesFormula<uint16_t>(65536);
}

// Stamping against the plain definition: every tap of every matte pixel of
// `from`, kept where it lands inside `into`, the rest of the star left
// alone. Mattes with isolated highlights, long runs and gaps; kernels of
// several shapes; windows cut on every side.
template <class S>
void StampMatchesDefinition(uint32_t seed) {
  std::mt19937 random(seed);
  constexpr int32_t kW = 97, kH = 61;
  fx::RasterRef matte = fx::MakeRaster(kW, kH, 1, sizeof(S));
  matte->Fill(0);
  const int32_t full = sizeof(S) == 1 ? 255 : 32768;
  for (int32_t y = 0; y < kH; ++y) {
    S* row = matte->RowAs<S>(y);
    const int32_t density = static_cast<int32_t>(random() % 100);
    for (int32_t x = 0; x < kW; ++x)
      if (static_cast<int32_t>(random() % 100) < density) row[x] = static_cast<S>(random() % (full + 1));
  }
  struct Case {
    fx::StarShape shape;
    fx::Rect from, into;
  };
  const Case cases[] = {
      {{4, 9, 1, 0}, {0, 0, kH, kW}, {0, 0, kH, kW}},
      {{5, 14, 1.5, 33}, {3, 2, kH - 4, kW - 1}, {20, 0, 41, kW}},
      {{12, 6, 2, -17}, {0, 0, kH, kW}, {7, 30, 19, 70}},
      {{2, 30, 0.6, 90}, {10, 10, 50, 90}, {0, 40, kH, 41}},
  };
  for (const Case& c : cases) {
    fx::StarKernel kernel;
    kernel.Build(c.shape);
    fx::RasterRef star = fx::MakeRaster(kW, kH, 1, sizeof(S));
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < kW; ++x) star->RowAs<S>(y)[x] = 3;
    std::vector<int32_t> want(static_cast<std::size_t>(kW * kH), 3);
    for (int32_t y = c.from.top; y < c.from.bottom; ++y)
      for (int32_t x = c.from.left; x < c.from.right; ++x) {
        const int32_t v = matte->RowAs<S>(y)[x];
        for (const fx::StarKernel::Tap& t : kernel.Taps()) {
          const int32_t tx = x + t.dx, ty = y + t.dy;
          if (!c.into.Contains(tx, ty)) continue;
          int32_t& w = want[static_cast<std::size_t>(ty * kW + tx)];
          w = std::max(w, t.k * v / 255);
        }
      }
    int32_t polls = 0;
    ASSERT_TRUE(kernel.Stamp(*matte, c.from, *star, c.into, 5, [&] { return ++polls < 0; }));
    EXPECT_EQ(polls, (c.into.Height() + 4) / 5);
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < kW; ++x)
        ASSERT_EQ(star->RowAs<S>(y)[x], want[static_cast<std::size_t>(y * kW + x)])
            << "spokes " << c.shape.spokes << " at " << x << ", " << y;
  }
}

TEST(StarKernel, StampIsTheBrightestTapOverTheMatte) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    StampMatchesDefinition<uint8_t>(seed);
    StampMatchesDefinition<uint16_t>(seed);
  }
}

TEST(StarKernel, StampStopsWhenCancelled) {
  fx::StarKernel kernel;
  kernel.Build({4, 5, 1, 0});
  fx::RasterRef matte = fx::MakeRaster(20, 30, 1, 1);
  matte->Fill(200);
  fx::RasterRef star = fx::MakeRaster(20, 30, 1, 1);
  star->Fill(0);
  int32_t polls = 0;
  EXPECT_FALSE(kernel.Stamp(*matte, matte->Bounds(), *star, star->Bounds(), 10, [&] { return ++polls == 2; }));
  EXPECT_EQ(polls, 2);
  // The first block of ten rows was stamped, the rest was not.
  EXPECT_EQ(star->RowAs<uint8_t>(9)[10], 200);
  EXPECT_EQ(star->RowAs<uint8_t>(10)[10], 0);
}

}  // namespace
