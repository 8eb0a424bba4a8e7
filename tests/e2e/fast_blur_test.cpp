// Fast Blur through the module file: banded output equals the whole image
// in both modes and depths, including radii whose margins are larger than
// the bands and a last band of a single row.
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/e2e_fixture.h"

using namespace e2e;
using namespace standin;

namespace {

TEST(FastBlurModule, BandsGiveTheWholeImage) {
  const std::vector<Settings> looks = {
      {{"blurX", "40"}},                                   // 16 pixels
      {{"blurX", "100"}},                                  // 40: the Gaussian's kernel reaches 60
      {{"blurX", "300"}},                                  // 120: margins wider than the bands
      {{"gang", "0"}, {"blurX", "30"}, {"blurY", "150"}},  // anisotropic
  };
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("coffee.png", 240, 400, depth);
    for (const char* quality : {"0", "1"})
      for (Settings set : looks) {
        set.push_back({"quality", quality});
        const std::string what =
            std::string("quality ") + quality + ", " + set[0].first + " " + set[0].second;
        // 133 leaves a last band of one row.
        EXPECT_NE(ExpectBandsAgree({"FastBlur", set}, source, {256, 133, 100, 50}, what), source) << what;
      }
  }
}

TEST(FastBlurModule, ZeroRadiusReturnsTheInput) {
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("chelsea.png", 120, 90, depth);
    for (const char* quality : {"0", "1"}) {
      const Document out =
          RenderWith("FastBlur", source, {{"quality", quality}, {"blurX", "0"}, {"blurY", "500"}});
      EXPECT_EQ(out, source) << depth << " " << quality << ": " << FirstDifference(out, source);
    }
  }
}

}  // namespace
