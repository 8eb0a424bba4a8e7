// The light effects through the real module: every member through
// `ovra-host apply` at both depths, and Light!'s shipped gobo on a stage.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/e2e/e2e_fixture.h"

using namespace e2e;
using namespace standin;

namespace {

class LightApply : public ::testing::Test {
 protected:
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("ovra_light_" + std::to_string(getpid()) + "_" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
  void SetUp() override { std::filesystem::create_directories(dir); }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string Out(const std::string& name) { return (dir / name).string(); }
};

TEST_F(LightApply, EveryMemberRendersAPhotographAtBothDepths) {
  struct Case {
    const char* entry;
    const char* photo;
    const char* settings;
  };
  const Case cases[] = {
      {"Streaks", "hubble_deep_field.jpg", ""},
      {"Star", "hubble_deep_field.jpg", " --set StarSize=40"},
      {"VariStar", "hubble_deep_field.jpg", ""},
      {"Flashing", "coffee.png", " --set sBrightness=50 --set hBrightness=30 --set sPresets=3"},
      {"SilverReflector", "chelsea.png", ""},
      {"GoldReflector", "chelsea.png", ""},
      {"Light", "coffee.png", " --set sBrightness=60 --set lDisplacement=50"},
      {"Relight", "chelsea.png", " --set lColorPresets=12"},
  };
  for (const Case& c : cases)
    for (const char* depth : {"8", "16"}) {
      const std::string out = Out(std::string(c.entry) + depth + ".png");
      const HostOutput o = RunHost(std::string("apply ") + c.entry + " " + kSamples + "/" + c.photo + " " +
                                   out + " --depth " + depth + c.settings + " --quiet");
      ASSERT_EQ(o.status, 0) << c.entry << " " << depth << ": " << o.text;
      Document in, d;
      std::string error;
      ASSERT_TRUE(ReadImage(kSamples + "/" + c.photo, in, error)) << error;
      ASSERT_TRUE(ReadImage(out, d, error)) << error;
      EXPECT_EQ(d.depth, std::atoi(depth));
      EXPECT_NE(d, ConvertDepth(in, std::atoi(depth))) << c.entry << " " << depth;
    }
}

// A flat grey document.
Document Grey(int32_t w, int32_t h, int32_t v) {
  Document d = Document::Make(w, h, 8);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) d.At(x, y, c) = v;
  return d;
}

TEST(LightStage, TheVenetianBlindsShadowBlackensTheBlockedSlats) {
  // 16 slats over 320 rows: each is 20 rows, 6 of them fully blocked.
  const Document grey = Grey(48, 320, 150);
  const Document out =
      RenderWith("Light", grey, {{"lBrightness", "0"}, {"sBrightness", "100"}, {"lBlurX", "0"}});
  int black = 0, open = 0;
  for (int32_t y = 0; y < 320; ++y) {
    const int32_t v = out.At(0, y, 0);
    for (int32_t x = 0; x < 48; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(out.At(x, y, c), v) << "slats run across the image: " << x << "," << y;
    black += v == 0;
    open += v == 150;
  }
  EXPECT_GE(black, 60);
  EXPECT_GE(open, 100);
}

TEST(LightStage, OnAFlatGreyTheDisplacementMovesTheShapeByDeltaRows) {
  // Delta = trunc(d (Y - L/2) 0.05 H / L) = trunc(1 x 102.5 x 0.05 x 200 / 255) = 4.
  const Document grey = Grey(16, 200, 230);
  const Document still = RenderWith("Light", grey, {{"view", "2"}});
  const Document moved = RenderWith("Light", grey, {{"view", "2"}, {"lDisplacement", "100"}});
  for (int32_t y = 0; y < 200; ++y) {
    const int32_t from = std::max(0, y - 4);
    ASSERT_EQ(moved.At(5, y, 0), still.At(5, from, 0)) << y;
  }
  EXPECT_NE(moved, still);
}

}  // namespace
