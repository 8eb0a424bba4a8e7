// The film looks through the real module: every tiling gives the same image
// (grain: the same tiling gives the same grain), at both depths, and the
// host's parameter listing follows the tables.
#include <array>
#include <cmath>
#include <cstdio>

#include "tests/e2e/e2e_fixture.h"

using namespace e2e;
using namespace standin;

namespace {

const Look kLooks[] = {
    {"Telecine",
     {{"masterBrightness", "15"},
      {"masterMasterSat", "20"},
      {"liftLiftHue", "40"},
      {"gammaGamma", "30"},
      {"gainPedestal", "-10"}}},
    {"FStop", {{"red", "1"}, {"sBlue", "-1.5"}, {"mGreen", "0.5"}, {"hGang", "1"}, {"hRed", "-0.5"}}},
    {"PrinterPoints", {{"gang", "1"}, {"red", "31"}, {"sRed", "20"}}},
    // Hue matte with every step: clip, shrink, blur (not ganged), invert.
    {"MatteGenerator",
     {{"extractOn", "1"},
      {"position", "10"},
      {"range", "15"},
      {"clipBlack", "10"},
      {"clipWhite", "5"},
      {"matteAdjust", "-2.5"},
      {"matteBlurGang", "0"},
      {"matteBlurX", "30"},
      {"matteBlurY", "12"},
      {"invert", "1"}}},
    {"MatteGenerator",
     {{"extractOn", "7"}, {"position", "40"}, {"range", "30"}, {"matteAdjust", "3.5"}, {"matteBlurX", "25"}}},
    {"Grain", {}},
    {"Grain", {{"preset", "4"}}},  // "Big Monochrome": grain larger than a pixel
    {"Grain", {{"grainSoftnessRed", "2"}, {"grainSizeGrn", "3"}, {"grainAmountBlu", "60"}}},
};

TEST(FilmLooks, EveryTilingGivesTheSameImage) {
  for (const Look& look : kLooks) {
    // Grain is laid out per band: the same tiling gives the same grain.
    const Tiling tiling =
        look.entry == "Grain" ? Tiling::kSameBandsGiveTheSameImage : Tiling::kAnyBandsGiveTheWholeImage;
    for (int32_t depth : {8, 16}) {
      const Document source = Photo("chelsea.png", 120, 90, depth);
      EXPECT_NE(ExpectBandsAgree(look, source, {1, 13, 64}, "", tiling), source)
          << look.entry << " " << depth;
    }
  }
}

// Grain's pattern follows the tiling; its presence does not. Bands of one
// row are grained as much as bands of 256.
TEST(FilmLooks, GrainOfOneRowBandsMatchesTheUsualBandsInKind) {
  const auto stats = [](const Document& d) {
    double sum = 0, squares = 0;
    for (uint16_t v : d.samples) {
      sum += v;
      squares += static_cast<double>(v) * v;
    }
    const double n = static_cast<double>(d.samples.size()), mean = sum / n;
    return std::pair{mean, std::sqrt(squares / n - mean * mean)};
  };
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("chelsea.png", 160, 120, depth);
    standin::HostOptions thin, usual;
    thin.tileRows = 1;
    usual.tileRows = 256;
    const Document one = RenderWith("Grain", source, {}, thin);
    const Document whole = RenderWith("Grain", source, {}, usual);
    int64_t changed = 0;
    for (int32_t y = 0; y < source.height; ++y)
      for (int32_t x = 0; x < source.width; ++x)
        for (int c = 0; c < 3; ++c)
          if (one.At(x, y, c) != source.At(x, y, c)) {
            ++changed;
            break;
          }
    EXPECT_GT(changed, int64_t{source.width} * source.height * 9 / 10) << depth;
    const auto [meanOne, sdOne] = stats(one);
    const auto [meanWhole, sdWhole] = stats(whole);
    EXPECT_NEAR(meanOne, meanWhole, 0.02 * meanWhole) << depth;
    EXPECT_NEAR(sdOne, sdWhole, 0.02 * sdWhole) << depth;
  }
}

TEST(FilmLooks, GrainAmountsZeroLeaveThePhotoAlone) {
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("coffee.png", 80, 60, depth);
    const Document out = RenderWith(
        "Grain", source, {{"grainAmountRed", "0"}, {"grainAmountGrn", "0"}, {"grainAmountBlu", "0"}});
    EXPECT_EQ(out, source) << depth << ": " << FirstDifference(out, source);
  }
}

TEST(FilmLooks, SelectionShowsItsMatteAsGrey) {
  const Document source = Photo("rocket.jpg", 60, 80, 8);
  const Document out =
      RenderWith("MatteGenerator", source, {{"extractOn", "4"}, {"position", "100"}, {"range", "50"}});
  bool anyGrey = false;
  for (int32_t y = 0; y < out.height; ++y)
    for (int32_t x = 0; x < out.width; ++x) {
      ASSERT_EQ(out.At(x, y, 0), out.At(x, y, 1));
      ASSERT_EQ(out.At(x, y, 1), out.At(x, y, 2));
      anyGrey = anyGrey || (out.At(x, y, 0) > 0 && out.At(x, y, 0) < 255);
    }
  EXPECT_TRUE(anyGrey);
}

TEST(FilmLooks, HostListsTelecineParameters) {
  std::string expected = "0\t1\tinput\t\n1\t4\tview\t0\n";
  int index = 2;
  const auto row = [&](int kind, const std::string& key, const std::string& value) {
    expected += std::to_string(index++) + "\t" + std::to_string(kind) + "\t" + key + "\t" + value + "\n";
  };
  struct Band {
    const char* prefix;
    const char* twice;  // the hue and saturation keys repeat the band's name
    const char* position;
    const char* range;
  };
  const Band bands[] = {{"master", "Master", nullptr, nullptr},
                        {"lift", "Lift", "0", "80.0000011920929"},
                        {"gamma", "Gamma", "50", "40.00000059604645"},
                        {"gain", "Gain", "100", "80.0000011920929"}};
  for (const Band& b : bands) {
    const std::string p = b.prefix;
    row(7, p + "Group", "");
    if (b.position) {
      row(2, p + "Pos", b.position);
      row(2, p + "Range", b.range);
    }
    row(2, p + b.twice + "Hue", "0");
    row(2, p + b.twice + "Sat", "0");
    for (const char* k : {"Brightness", "Contrast", "Gamma", "Pedestal"}) row(2, p + k, "0");
    row(8, "", "");
  }
  const HostOutput listed = RunHost("params Telecine --tsv");
  EXPECT_EQ(listed.text, expected);
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(index, 40);
}

TEST(FilmLooks, HostListsFStopParameters) {
  std::string expected = "0\t1\tinput\t\n1\t4\tview\t0\n";
  int index = 2;
  const auto row = [&](int kind, const std::string& key, const std::string& value) {
    expected += std::to_string(index++) + "\t" + std::to_string(kind) + "\t" + key + "\t" + value + "\n";
  };
  row(7, "master", "");
  for (const char* k : {"red", "green", "blue"}) row(2, k, "0");
  row(3, "gang", "0");
  row(8, "", "");
  struct Band {
    const char* group;
    const char* prefix;
    const char* position;
    const char* range;
  };
  const Band bands[] = {{"shadows", "s", "0", "80.0000011920929"},
                        {"midtones", "m", "50", "40.00000059604645"},
                        {"highlights", "h", "100", "80.0000011920929"}};
  for (const Band& b : bands) {
    const std::string p = b.prefix;
    row(7, b.group, "");
    row(2, p + "Pos", b.position);
    row(2, p + "Range", b.range);
    for (const char* k : {"Red", "Green", "Blue"}) row(2, p + k, "0");
    row(3, p + "Gang", "0");
    row(8, "", "");
  }
  const HostOutput listed = RunHost("params FStop --tsv");
  EXPECT_EQ(listed.text, expected);
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(index, 32);
  // Printer Points: the same table around the neutral 25.
  const HostOutput points = RunHost("params PIMAIN_PrinterPoints --tsv");
  EXPECT_EQ(points.status, 0);
  EXPECT_NE(points.text.find("3\t2\tred\t25\n"), std::string::npos) << points.text;
  EXPECT_NE(points.text.find("29\t2\thBlue\t25\n"), std::string::npos) << points.text;
}

}  // namespace
