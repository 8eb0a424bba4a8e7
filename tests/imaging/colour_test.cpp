#include "imaging/colour.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using fx::HsvToRgb;
using fx::kHueUndefined;
using fx::RgbToHsv;

TEST(Hsv, HueSaturationValueOfColours) {
  struct Case {
    float r, g, b;
    float h, s, v;
  };
  const Case cases[] = {
      {1, 0, 0, 0, 1, 1},
      {0, 1, 0, 120, 1, 1},
      {0, 0, 1, 240, 1, 1},
      {1, 0, 1, 300, 1, 1},
      {1, 1, 0, 60, 1, 1},
      {0, 1, 1, 180, 1, 1},
      {1, 0, 0.5f, 330, 1, 1},  // red is largest and blue above green: wraps below 0
      {0.2f, 0.4f, 0.6f, 210, 2.0f / 3, 0.6f},
      {100, 50, 200, 260, 0.75f, 200},  // any scale: value keeps it
      {255, 128, 0, 30.117645f, 1, 255},
  };
  for (const Case& c : cases) {
    const fx::Hsv hsv = RgbToHsv(c.r, c.g, c.b);
    EXPECT_FLOAT_EQ(hsv.h, c.h) << c.r << "," << c.g << "," << c.b;
    EXPECT_FLOAT_EQ(hsv.s, c.s) << c.r << "," << c.g << "," << c.b;
    EXPECT_FLOAT_EQ(hsv.v, c.v) << c.r << "," << c.g << "," << c.b;
  }
}

TEST(Hsv, GreyHasNoHueAndComesBackExactly) {
  for (float grey : {0.0f, 0.3f, 1.0f, 200.0f}) {
    const fx::Hsv hsv = RgbToHsv(grey, grey, grey);
    EXPECT_EQ(hsv.h, kHueUndefined);
    EXPECT_EQ(hsv.s, 0.0f);
    EXPECT_EQ(hsv.v, grey);
    const fx::RgbF rgb = HsvToRgb(hsv);
    EXPECT_EQ(rgb.r, grey);
    EXPECT_EQ(rgb.g, grey);
    EXPECT_EQ(rgb.b, grey);
  }
  // Saturation 0 makes a grey whatever the hue.
  const fx::RgbF rgb = HsvToRgb(123.0f, 0.0f, 0.5f);
  EXPECT_EQ(rgb.r, 0.5f);
  EXPECT_EQ(rgb.g, 0.5f);
  EXPECT_EQ(rgb.b, 0.5f);
}

TEST(Hsv, SectorsOfTheHueCircle) {
  struct Case {
    float h;
    float r, g, b;
  };
  // s = 1, v = 1: p = 0, and q, t run between 0 and 1 with the hue.
  const Case cases[] = {
      {0, 1, 0, 0},      {30, 1, 0.5f, 0},  {90, 0.5f, 1, 0},  {150, 0, 1, 0.5f},
      {210, 0, 0.5f, 1}, {270, 0.5f, 0, 1}, {330, 1, 0, 0.5f}, {360, 1, 0, 0},
  };
  for (const Case& c : cases) {
    const fx::RgbF rgb = HsvToRgb(c.h, 1.0f, 1.0f);
    EXPECT_NEAR(rgb.r, c.r, 1e-6) << c.h;
    EXPECT_NEAR(rgb.g, c.g, 1e-6) << c.h;
    EXPECT_NEAR(rgb.b, c.b, 1e-6) << c.h;
  }
}

// A hue just under 360 rounds up to the seventh sector in single precision;
// it must come out red, not as an unset colour. Hues past 360 repeat.
TEST(Hsv, HuesAtAndBeyondTheWrap) {
  const float justUnder = std::nextafter(360.0f, 0.0f);
  const fx::RgbF nearRed = HsvToRgb(justUnder, 1.0f, 0.8f);
  EXPECT_NEAR(nearRed.r, 0.8f, 1e-5);
  EXPECT_NEAR(nearRed.g, 0.0f, 1e-5);
  EXPECT_NEAR(nearRed.b, 0.0f, 1e-5);

  const fx::RgbF wrapped = HsvToRgb(360.0f + 240.0f, 1.0f, 1.0f);
  EXPECT_NEAR(wrapped.r, 0.0f, 1e-5);
  EXPECT_NEAR(wrapped.g, 0.0f, 1e-5);
  EXPECT_NEAR(wrapped.b, 1.0f, 1e-5);

  const fx::RgbF notANumber = HsvToRgb(std::nanf(""), 1.0f, 0.25f);
  EXPECT_EQ(notANumber.r, 0.25f);
  EXPECT_EQ(notANumber.g, 0.25f);
  EXPECT_EQ(notANumber.b, 0.25f);
}

TEST(Hsv, RoundTripsEightBitColours) {
  float worst = 0;
  for (int r = 0; r <= 255; r += 15)
    for (int g = 0; g <= 255; g += 17)
      for (int b = 0; b <= 255; b += 51) {
        const float scale = 0.003921569f;
        const fx::Hsv hsv = RgbToHsv(r * scale, g * scale, b * scale);
        ASSERT_TRUE(hsv.h == kHueUndefined || (hsv.h >= 0 && hsv.h <= 360)) << hsv.h;
        const fx::RgbF rgb = HsvToRgb(hsv);
        worst = std::max({worst, std::fabs(rgb.r - r * scale), std::fabs(rgb.g - g * scale),
                          std::fabs(rgb.b - b * scale)});
      }
  EXPECT_LT(worst, 1e-5f);
}

}  // namespace
