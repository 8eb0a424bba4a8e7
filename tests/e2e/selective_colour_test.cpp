// The selective colour family through the module file: every member applied
// by ovra-host at both depths, and banded output equal to the whole image
// with mattes, glows and blurs whose reach passes the bands.
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/e2e_fixture.h"

using namespace e2e;
using namespace standin;

namespace {

namespace fs = std::filesystem;

struct Applied {
  const char* entry;
  const char* photo;
  const char* set;  // ovra-host --set options
};
// Polarizer on the sky of rocket.jpg, the rest on coffee.png.
const Applied kApplied[] = {
    {"Enhancing", "coffee.png", "--set enhancing=80 --set matteBlur=20"},
    {"SelectiveColor", "coffee.png", "--set hue=40 --set saturation=30 --set position=70"},
    {"Polarizer", "rocket.jpg", "--set gradEnable=1 --set grad_nd=30 --set ccContrast=20"},
    {"Overexpose", "coffee.png", "--set amount=30 --set intensity=300"},
    {"Infrared", "coffee.png", ""},
    {"NightVision", "coffee.png", ""},
    {"DayForNight", "coffee.png", ""},
};

TEST(SelectiveColourModule, EveryMemberAppliesAtBothDepths) {
  const fs::path dir = fs::temp_directory_path() / ("ovra_selective_" + std::to_string(getpid()));
  fs::create_directories(dir);
  for (const Applied& a : kApplied) {
    for (int32_t depth : {8, 16}) {
      const std::string out = (dir / (std::string(a.entry) + std::to_string(depth) + ".png")).string();
      const HostOutput o = RunHost(std::string("apply ") + a.entry + " " + kSamples + "/" + a.photo + " " +
                                   out + " --depth " + std::to_string(depth) + " " + a.set + " --quiet");
      ASSERT_EQ(o.status, 0) << a.entry << ": " << o.text;
      Document d, source;
      std::string error;
      ASSERT_TRUE(ReadImage(out, d, error)) << error;
      ASSERT_TRUE(ReadImage(kSamples + "/" + a.photo, source, error)) << error;
      EXPECT_EQ(d.depth, depth);
      EXPECT_EQ(d.width, source.width);
      EXPECT_NE(d, ConvertDepth(source, depth)) << a.entry << " " << depth;
    }
  }
  fs::remove_all(dir);
}

TEST(SelectiveColourModule, BandsGiveTheWholeImage) {
  const std::vector<Look> looks = {
      {"Enhancing", {{"matteBlur", "60"}, {"matteRange", "40"}}},
      {"Enhancing", {{"view", "1"}, {"matteBlur", "150"}, {"preset", "3"}}},
      {"SelectiveColor",
       {{"saturation", "60"}, {"matteBlurX", "80"}, {"matteAdjust", "10"}, {"extractOn", "1"}}},
      {"Polarizer", {{"matteBlur", "90"}, {"gradEnable", "1"}, {"grad_nd", "40"}, {"grad_opacity", "70"}}},
      {"Polarizer", {{"view", "3"}, {"matteBlur", "40"}, {"dir", "2"}}},
      {"Overexpose", {{"amount", "20"}, {"intensity", "200"}, {"blurX", "300"}}},
      {"Infrared", {{"matteBlur", "60"}, {"glowBlurH", "200"}, {"brightness", "20"}}},
      {"NightVision", {{"GrainAmount", "0"}, {"matteBlur", "50"}, {"glowBlurH", "150"}}},
      {"DayForNight", {{"blurX", "250"}, {"opacity", "70"}}},
  };
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("rocket.jpg", 160, 300, depth);
    for (const Look& look : looks) {
      std::string what;
      for (const auto& [key, value] : look.set) what += key + "=" + value + " ";
      EXPECT_NE(ExpectBandsAgree(look, source, {256, 133, 40}, what), source) << look.entry << " " << what;
    }
  }
}

}  // namespace
