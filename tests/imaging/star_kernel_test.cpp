// The Vari-Star kernel: odd side, full centre, spokes where the angle puts
// them and reaching the outer radius, notches between them.
#include "imaging/star_kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <numbers>
#include <utility>

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

}  // namespace
