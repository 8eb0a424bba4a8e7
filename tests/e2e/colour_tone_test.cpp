// The colour and tone family through the real module: every view of every
// member gives the same image whatever the tiling, at both depths, and the
// exact edge cases hold on a photograph.
#include <array>
#include <cstdio>

#include "tests/e2e/e2e_fixture.h"

using namespace e2e;
using namespace standin;

namespace {

// Settings that reach every stage of each member, and each diagnostic view.
const Look kLooks[] = {
    {"ColorCorrect",
     {{"ccMasterHue", "25"},
      {"ccMasterSat", "-20"},
      {"ccGamma", "15"},
      {"ccMasterB", "10"},
      {"ccTintAmount", "15"},
      {"ccShadR", "20"},
      {"ccMidCon", "30"},
      {"ccHighG", "-15"},
      {"ccHighPos", "85"}}},
    {"ColorCorrect", {{"view", "2"}, {"ccMidPos", "35"}, {"ccMidRange", "30"}}},
    {"CrossProcessing", {{"mode", "0"}, {"amount", "70"}}},
    {"CrossProcessing", {}},
    {"Tint", {{"tintMode", "1"}, {"highlights", "60"}, {"opacity", "80"}}},
    {"Tint", {{"tintMode", "2"}, {"gradEnable", "1"}, {"grad_nd", "40"}, {"dir", "2"}, {"grad_size", "70"}}},
    {"Tint", {{"view", "1"}, {"gradEnable", "1"}, {"dir", "1"}, {"grad_size", "150"}}},
    {"MonoTint", {{"filter", "5"}, {"contrast", "20"}, {"gelOpacity", "70"}}},
    {"Temperature",
     {{"temperature", "-20"},
      {"brightness", "10"},
      {"Stemperature", "30"},
      {"McyanMagenta", "-40"},
      {"Hbrightness", "-20"}}},
    {"Temperature", {{"view", "3"}, {"Hpos", "70"}}},
    {"WarmCool", {{"temperature", "-60"}}},
    {"Fluorescent", {{"temperature", "20"}}},
    {"ColorTemperature",
     {{"sourceKelvin", "2900"}, {"destKelvin", "6500"}, {"opacity", "75"}, {"exposure", "40"}}},
    {"ColorTemperature",
     {{"destKelvin", "2000"}, {"highlights", "100"}, {"gradEnable", "1"}, {"grad_nd", "25"}, {"dir", "3"}}},
    {"ColorTemperature", {{"view", "1"}, {"gradEnable", "1"}, {"grad_size", "40"}}},
    {"SelectiveSaturation", {{"sSat", "60"}, {"mSat", "-80"}, {"hSat", "40"}, {"mPos", "60"}}},
    {"SelectiveSaturation", {{"view", "3"}}},
    {"UltraContrast", {{"sGamma", "70"}, {"hGamma", "50"}, {"hRange", "60"}}},
    {"UltraContrast", {{"view", "1"}}},
    {"Ozone", {{"use", "0"}, {"bri3", "30"}, {"gam6", "-40"}, {"red9", "80"}, {"blu1", "-120"}}},
    {"Ozone", {{"use", "1"}, {"con2", "50"}, {"grn5", "150"}, {"rng5", "60"}}},
    {"Ozone", {{"use", "8"}, {"view", "6"}}},
};

TEST(ColourTone, EveryTilingGivesTheSameImage) {
  for (const Look& look : kLooks) {
    for (int32_t depth : {8, 16}) {
      const Document source = Photo("chelsea.png", 110, 90, depth);
      EXPECT_NE(ExpectBandsAgree(look, source, {1, 13, 64}), source) << look.entry << " " << depth;
    }
  }
}

// Applies f to every pixel of a copy of doc.
template <class F>
Document Map(const Document& doc, F&& f) {
  Document out = doc;
  for (int32_t y = 0; y < doc.height; ++y)
    for (int32_t x = 0; x < doc.width; ++x) {
      std::array<int32_t, 3> p = {doc.At(x, y, 0), doc.At(x, y, 1), doc.At(x, y, 2)};
      f(p, doc.FullScale());
      for (int c = 0; c < 3; ++c) out.At(x, y, c) = static_cast<uint16_t>(p[c]);
    }
  return out;
}

TEST(ColourTone, WarmCoolHundredDoublesBlueAndZeroesRed) {
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("coffee.png", 70, 50, depth);
    const Document expected = Map(source, [](std::array<int32_t, 3>& p, int32_t L) {
      p[0] = 0;
      p[2] = std::min(L, 2 * p[2]);
    });
    const Document out = RenderWith("WarmCool", source, {{"temperature", "100"}});
    EXPECT_EQ(out, expected) << depth << ": " << FirstDifference(out, expected);
  }
}

TEST(ColourTone, FluorescentTwentyOnThePhoto) {
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("rocket.jpg", 60, 70, depth);
    const Document expected = Map(source, [](std::array<int32_t, 3>& p, int32_t L) {
      const float x = 0.2f;
      const int32_t d = static_cast<int32_t>(x * L);
      const int32_t g = std::max(0, p[1] - d), b = p[2] + d;
      const auto lift = [&](int32_t v) { return std::min(L, v + static_cast<int32_t>(x * v)); };
      p = {lift(p[0]), lift(g), lift(b)};
    });
    const Document out = RenderWith("Fluorescent", source, {{"temperature", "20"}});
    EXPECT_EQ(out, expected) << depth << ": " << FirstDifference(out, expected);
  }
}

TEST(ColourTone, NeutralSettingsLeaveThePhotoAlone) {
  const Look neutral[] = {
      {"ColorTemperature", {{"sourceKelvin", "5500"}, {"destKelvin", "5500"}}},
      {"ColorTemperature", {{"sourceKelvin", "1300"}, {"destKelvin", "1300"}, {"highlights", "0"}}},
      {"CrossProcessing", {{"amount", "0"}}},
      {"ColorCorrect", {{"ccMidPos", "10"}, {"ccHighRange", "5"}}},
      {"Temperature", {}},
      {"Ozone", {{"use", "4"}, {"pos4", "77"}}},
      {"Tint", {{"opacity", "0"}}},
  };
  for (const Look& look : neutral)
    for (int32_t depth : {8, 16}) {
      const Document source = Photo("hubble_deep_field.jpg", 64, 48, depth);
      const Document out = RenderWith(look.entry, source, look.set);
      EXPECT_EQ(out, source) << look.entry << " " << depth << ": " << FirstDifference(out, source);
    }
}

TEST(ColourTone, SelectiveSaturationLeavesGreysAlone) {
  for (int32_t depth : {8, 16}) {
    const Document grey = Map(Photo("coffee.png", 60, 40, depth),
                              [](std::array<int32_t, 3>& p, int32_t) { p[1] = p[2] = p[0]; });
    const Document out =
        RenderWith("SelectiveSaturation", grey, {{"sSat", "100"}, {"mSat", "-100"}, {"hSat", "50"}});
    EXPECT_EQ(out, grey) << depth << ": " << FirstDifference(out, grey);
  }
}

// The module's instances are the registry's: a light source chosen without
// the dialog is still the destination, whatever "Destination Kelvin" holds.
TEST(ColourTone, ColorTemperatureOfTheModuleRendersThePresetsKelvin) {
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("coffee.png", 50, 40, depth);
    // "Photographic Daylight (5500K)" against a 5500 K source: Ts = Td.
    const Document daylight = RenderWith("ColorTemperature", source, {{"sourceKelvin", "5500"}, {"presets", "43"}});
    EXPECT_EQ(daylight, source) << depth << ": " << FirstDifference(daylight, source);
    const Document byKelvin = RenderWith("ColorTemperature", source, {{"sourceKelvin", "5500"}});
    EXPECT_NE(byKelvin, source) << depth;
  }
}

TEST(ColourTone, HostListsColorCorrectParameters) {
  std::string expected = "0\t1\tinput\t\n1\t4\tview\t0\n";
  int index = 2;
  const auto row = [&](int kind, const std::string& key, const std::string& value) {
    expected += std::to_string(index++) + "\t" + std::to_string(kind) + "\t" + key + "\t" + value + "\n";
  };
  row(7, "ccMaster", "");
  for (const char* k : {"ccMasterHue", "ccMasterSat", "ccBrightness", "ccContrast", "ccGamma", "ccMasterR",
                        "ccMasterG", "ccMasterB", "ccTintAmount"})
    row(2, k, "0");
  row(5, "ccTintColor", "1,1,1");
  row(8, "", "");
  struct Band {
    const char* prefix;
    const char* position;
    const char* range;
  };
  for (const Band& b : {Band{"ccShad", "0", "80"}, Band{"ccMid", "50", "40"}, Band{"ccHigh", "100", "80"}}) {
    const std::string p = b.prefix;
    row(7, p, "");
    row(2, p + "Pos", b.position);
    row(2, p + "Range", b.range);
    for (const char* k : {"Bri", "Con", "Gam", "R", "G", "B"}) row(2, p + k, "0");
    row(8, "", "");
  }
  const HostOutput listed = RunHost("params ColorCorrect --tsv");
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(index, 44);
  EXPECT_EQ(listed.text, expected);
}

}  // namespace
