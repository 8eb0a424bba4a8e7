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
  };
  for (const auto& [entry, options] : members)
    for (const char* depth : {"8", "16"}) {
      const Document out = Apply(entry, depth, options, std::string(entry) + depth + ".png");
      EXPECT_EQ(out.depth, std::atoi(depth)) << entry;
      EXPECT_NE(out, ConvertDepth(Read(kSamples + "/coffee.png"), std::atoi(depth))) << entry << " " << depth;
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
