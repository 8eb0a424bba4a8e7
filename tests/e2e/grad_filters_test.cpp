// The graduated and spot filters through ovra-host apply on a photograph.
#include <filesystem>
#include <string>

#include <unistd.h>

#include "tests/e2e/e2e_fixture.h"

using namespace e2e;
using namespace standin;

namespace {

class GradFilters : public ::testing::Test {
 protected:
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("ovra_grads_" + std::to_string(getpid()) + "_" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
  void SetUp() override { std::filesystem::create_directories(dir); }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string Out(const std::string& name) { return (dir / name).string(); }
  Document Read(const std::string& path) {
    Document d;
    std::string error;
    EXPECT_TRUE(ReadImage(path, d, error)) << error;
    return d;
  }
  // ovra-host apply on coffee.png; the output read back.
  Document Apply(const std::string& entry, const std::string& depth, const std::string& options,
                 const std::string& name) {
    const HostOutput o = RunHost("apply " + entry + " " + kSamples + "/coffee.png " + Out(name) + " --depth " +
                                 depth + " " + options + " --quiet");
    EXPECT_EQ(o.status, 0) << entry << ": " << o.text;
    return Read(Out(name));
  }
};

TEST_F(GradFilters, EveryMemberRendersAtBothDepths) {
  const std::pair<const char*, const char*> members[] = {
      {"CenterSpot", ""},
      {"ColorGrad", ""},
      {"ColorSpot", ""},
      {"DualGrad", ""},
      {"NDGrad", ""},
      {"RadialExposure", "--set edges=-1 --set center=0.5"},
      {"SplitField", ""},
      {"StripGrad", ""},
      {"SunsetTwilight", ""},
      {"Vignette", ""},
      {"Vignette", "--set type=1 --set scaleX=100"},
  };
  for (const auto& [entry, options] : members)
    for (const char* depth : {"8", "16"}) {
      const Document out = Apply(entry, depth, options, std::string(entry) + depth + ".png");
      EXPECT_EQ(out.depth, std::atoi(depth)) << entry;
      EXPECT_NE(out, ConvertDepth(Read(kSamples + "/coffee.png"), std::atoi(depth))) << entry << " " << depth;
    }
}

// The shapes drawn beside the module: the vignette leaves the centre alone
// and darkens towards the corners, at the default size and at Size 100.
TEST_F(GradFilters, VignetteShapes) {
  const Document source = Read(kSamples + "/coffee.png");
  for (const char* type : {"0", "1"})
    for (const char* size : {"180", "100"}) {
      const std::string set = std::string("--set type=") + type + " --set scaleX=" + size;
      const Document shape = Apply("Vignette", "8", set + " --set view=1", std::string("s") + type + size + ".png");
      const int32_t cx = shape.width / 2, cy = shape.height / 2;
      EXPECT_EQ(shape.At(cx, cy, 0), 0) << type << " " << size;
      if (std::string(size) == "100") {
        // Nearly full: the softness mixes in the frame's inside a little.
        EXPECT_GT(shape.At(0, 0, 0), 240) << type;
        EXPECT_GT(shape.At(shape.width - 1, shape.height - 1, 1), 240) << type;
      } else {
        EXPECT_GT(shape.At(0, 0, 0), 0) << type;
      }
      const Document out = Apply("Vignette", "8", set, std::string("o") + type + size + ".png");
      for (int c = 0; c < 3; ++c) EXPECT_EQ(out.At(cx, cy, c), source.At(cx, cy, c)) << type << " " << size;
      if (std::string(size) == "100") {
        EXPECT_LT(out.At(0, 0, 0), 10) << type;
      }
    }
}

// Split Field's softness shares its key with its group: --set takes the
// last record with the key, the softness itself.
TEST_F(GradFilters, SplitSoftnessIsReachedByKey) {
  const Document hard = Apply("SplitField", "8", "--set view=1", "hard.png");
  const Document soft = Apply("SplitField", "8", "--set view=1 --set blur=60", "soft.png");
  EXPECT_NE(soft, hard);
  int32_t between = 0;
  for (int32_t y = 0; y < soft.height; ++y) {
    const int32_t v = soft.At(soft.width / 2, y, 0);
    between += v > 0 && v < 255;
  }
  EXPECT_GT(between, 20);
}

}  // namespace
