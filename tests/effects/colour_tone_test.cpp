#include <gtest/gtest.h>

#include "effects/colour_ops.h"
#include "effects/colour_tone.h"
#include "tests/effects/effect_harness.h"

using namespace effecttest;

namespace {

struct PixelCase {
  const char* what;
  std::vector<std::pair<std::string, double>> set;
  Pixel in;
  Pixel out;
  bool is16Bit = false;
};

void Check(const fx::EffectRoutines& routines, const std::vector<PixelCase>& cases) {
  for (const PixelCase& c : cases) {
    Instance e(routines);
    for (const auto& [k, v] : c.set) e.Set(k, v);
    EXPECT_EQ(RenderPixel(e, c.in, c.is16Bit), c.out) << c.what;
  }
}

TEST(OverlayBlend, EightBitLightBranchUses511) {
  EXPECT_EQ(fx::OverlayBlend<uint8_t>(128, 0), 0);   // 510 would give 1
  EXPECT_EQ(fx::OverlayBlend<uint8_t>(128, 38), 38);  // 510 would give 39
  EXPECT_EQ(fx::OverlayBlend<uint8_t>(255, 255), 255);
  EXPECT_EQ(fx::OverlayBlend<uint8_t>(100, 124), 97);
  EXPECT_EQ(fx::OverlayBlend<uint16_t>(16384, 10174), 10174);
  EXPECT_EQ(fx::OverlayBlend<uint16_t>(16383, 32768), 32766);
  EXPECT_EQ(fx::OverlayBlend<uint16_t>(32768, 0), 32768);
}

TEST(BleachBypass, PixelsComputedByHand) {
  Check(fx::effects::kBleachBypass,
        {
            // Y = 124; overlay of (200, 100, 50) with 124.
            {"full amount", {}, {200, 100, 50, 255}, {198, 97, 48, 255}},
            // Y = 38: the red overlay is 38 with 511 in the light branch.
            {"511", {}, {128, 0, 0, 7}, {38, 0, 0, 7}},
            // alpha 127: (O * 127 + P * 128) / 255.
            {"half amount", {{"amount", 50}}, {200, 100, 50, 255}, {199, 98, 49, 255}},
            // red x 0.5, blue x 1.5 after the overlay.
            {"temperature", {{"temperature", 50}}, {200, 100, 50, 255}, {99, 97, 72, 255}},
            // A grey keeps its colour through the saturation step.
            {"grey with saturation", {{"saturation", 50}}, {100, 100, 100, 255}, {78, 78, 78, 255}},
            // HSV (20, 0.75, v) saturated to 1: (200, 66, 0), overlaid with Y of the source.
            {"saturation", {{"saturation", 50}}, {200, 100, 50, 255}, {198, 64, 0, 255}},
            // Y = 10174 in 16 bits.
            {"16-bit", {}, {16384, 8192, 4096, 32768}, {10174, 5087, 2543, 32768}, true},
        });
}

TEST(BleachBypass, ActiveRules) {
  Instance e(fx::effects::kBleachBypass);
  EXPECT_TRUE(e.Active());
  e.Set("amount", 0);
  EXPECT_FALSE(e.Active());
  e.Set("temperature", -5);
  EXPECT_TRUE(e.Active());
  e.Set("view", 1);
  EXPECT_FALSE(e.Active());
  EXPECT_STREQ(e->routines->displayName(&*e), "Ovra Bleach Bypass");
  EXPECT_EQ(e->parameterCount, 6u);
}

TEST(BlackAndWhite, FiltersComputedByHand) {
  const Pixel p8 = {200, 100, 50, 9}, p16 = {16384, 8192, 4096, 32768};
  Check(fx::effects::kBlackAndWhite,
        {
            {"normal", {}, p8, {124, 124, 124, 9}},
            {"red", {{"filter", 1}}, p8, {200, 200, 200, 9}},
            {"green", {{"filter", 2}}, p8, {100, 100, 100, 9}},
            {"blue", {{"filter", 3}}, p8, {50, 50, 50, 9}},
            {"yellow", {{"filter", 4}}, p8, {125, 125, 125, 9}},
            {"orange", {{"filter", 5}}, p8, {142, 142, 142, 9}},
            {"normal 16", {}, p16, {10199, 10199, 10199, 32768}, true},
            {"yellow 16", {{"filter", 4}}, p16, {10289, 10289, 10289, 32768}, true},
            {"orange 16", {{"filter", 5}}, p16, {11684, 11684, 11684, 32768}, true},
            // Through the tone table: contrast 25 % maps 151 to 159, brightness 20 % 100 to 120.
            {"contrast", {{"filter", 1}, {"contrast", 25}}, {151, 0, 0, 255}, {159, 159, 159, 255}},
            {"brightness", {{"filter", 1}, {"brightness", 20}}, {100, 0, 0, 255}, {120, 120, 120, 255}},
        });
}

TEST(BlackAndWhite, OriginalViewIsInactive) {
  Instance e(fx::effects::kBlackAndWhite);
  EXPECT_TRUE(e.Active());
  e.Set("view", 1);
  EXPECT_FALSE(e.Active());
}

}  // namespace
