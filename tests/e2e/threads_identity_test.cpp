// The module renders on every core, and the worker count never shows in the
// image: every registered effect, run through ovra-host with --threads 1, 2
// and 7, gives the same samples at both depths, in bands of one row and in a
// single band. Seven threads on a small machine split the rows more finely
// than there are cores, which is what brings out a split-dependent result.
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "framework/registry.h"
#include "plugin/entry_table.h"
#include "tests/e2e/changing_settings.h"
#include "tests/e2e/e2e_fixture.h"

using namespace e2e;
using namespace standin;

namespace {

struct EffectCase {
  std::string entry;  // without "PIMAIN_"
  Settings settings;
};

std::vector<EffectCase> RegisteredEffects() {
  fx::EffectRegistry& registry = Types();
  std::vector<EffectCase> cases;
  for (int i = 0; i < registry.Count(); ++i) {
    const std::string name = registry.NameAt(i);
    for (const ps::EntryInfo& e : ps::kEntryTable)
      if (name == e.registryName)
        cases.push_back({std::string(e.entryName).substr(7), ChangingSettings(name)});
  }
  return cases;
}

class ThreadFolder : public ::testing::Test {
 protected:
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("ovra_threads_" + std::to_string(getpid()) + "_" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
  void SetUp() override { std::filesystem::create_directories(dir); }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
};

class EveryThreadCount : public ThreadFolder, public ::testing::WithParamInterface<EffectCase> {};

TEST_P(EveryThreadCount, SameImageForEveryEffect) {
  const EffectCase& c = GetParam();
  std::string set;
  for (const auto& [key, value] : c.settings) set += " --set '" + key + "=" + value + "'";
  // An odd size, so that no split falls on a round number of rows or
  // samples; both depths rendered by one run of ovra-host.
  std::string error;
  for (int32_t depth : {8, 16})
    ASSERT_TRUE(
        WriteImage(Path("in" + std::to_string(depth) + ".png"), Photo("coffee.png", 257, 131, depth), error))
        << error;
  for (const char* rows : {"1", "256"}) {
    Document reference[2];
    for (const char* threads : {"1", "2", "7"}) {
      const std::string out = Path(std::string("out_") + rows + "_" + threads);
      std::filesystem::create_directories(out);
      const HostOutput o =
          RunHost("apply " + c.entry + " " + Path("in8.png") + " " + Path("in16.png") + " -o " + out +
                  " --threads " + threads + " --tile-rows " + rows + set + " --quiet");
      ASSERT_EQ(o.status, 0) << o.text;
      for (int k = 0; k < 2; ++k) {
        const int32_t depth = k == 0 ? 8 : 16;
        Document d;
        ASSERT_TRUE(ReadImage(out + "/in" + std::to_string(depth) + ".png", d, error)) << error;
        ASSERT_EQ(d.depth, depth);
        if (reference[k].samples.empty()) {
          reference[k] = d;
          continue;
        }
        EXPECT_EQ(d, reference[k]) << c.entry << " " << depth << "-bit, " << rows << " rows, " << threads
                                   << " threads against 1: " << FirstDifference(d, reference[k]);
      }
    }
  }
}

std::string Name(const ::testing::TestParamInfo<EffectCase>& info) {
  return info.param.entry;
}

INSTANTIATE_TEST_SUITE_P(Registered, EveryThreadCount, ::testing::ValuesIn(RegisteredEffects()), Name);

TEST_F(ThreadFolder, ThreadsTakesACountFromOneTo256) {
  const std::string in = Path("in.png");
  std::string error;
  ASSERT_TRUE(WriteImage(in, Photo("coffee.png", 16, 9, 8), error)) << error;
  struct Case {
    const char* value;
    int status;
  };
  for (const Case& k : {Case{"1", 0}, Case{"256", 0}, Case{"0", 2}, Case{"257", 2}, Case{"-1", 2},
                        Case{"2x", 2}, Case{"", 2}, Case{"99999999999", 2}}) {
    const HostOutput o =
        RunHost("apply BleachBypass " + in + " " + Path("out.png") + " --threads '" + k.value + "' --quiet");
    EXPECT_EQ(o.status, k.status) << "--threads '" << k.value << "': " << o.text;
    if (k.status != 0) {
      EXPECT_NE(o.text.find("--threads takes 1 to 256"), std::string::npos) << o.text;
    }
  }
  // A global option: every command takes it.
  EXPECT_EQ(RunHost("list --threads 3").status, 0);
  EXPECT_EQ(RunHost("params Grain --threads 2").status, 0);
  EXPECT_NE(RunHost("help").text.find("--threads N"), std::string::npos);
}

}  // namespace
