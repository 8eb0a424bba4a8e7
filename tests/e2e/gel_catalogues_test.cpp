// The filter and gel catalogues through the real module: the host's listing
// of their parameters, every catalogue row reaching the pixels, ovra-host
// rendering a chosen row at both depths, and the grad joining bands.
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <span>
#include <sstream>

#include "effects/gel_catalogues.h"
#include "tests/e2e/e2e_fixture.h"

using namespace e2e;
using namespace standin;

namespace {

// The entry point of each catalogue effect, in registration order.
const char* const kEntries[] = {"ColorCompensating", "ColorConversion",   "GamCineFilters",
                                "GamColor",          "GamNakedCosmetics", "Gels",
                                "LightBalancing",    "PhotoFilters",      "RoscoCalcolor",
                                "RoscoCinegel",      "RoscoCinelux",      "RoscoVelante"};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::span<const fx::gels::GelRow> RowsOf(const std::string& entry) {
  return fx::effects::GelCatalogueEffects()[static_cast<std::size_t>(
                                                std::find(std::begin(kEntries), std::end(kEntries), entry) -
                                                std::begin(kEntries))]
      .rows;
}

// The document filtered by a row without highlight preservation: every
// sample trunc(v x t) with t in single precision.
Document Filtered(const Document& source, const fx::gels::GelRow& row) {
  Document d = source;
  const float t[3] = {static_cast<float>(row.red), static_cast<float>(row.green),
                      static_cast<float>(row.blue)};
  for (std::size_t i = 0; i < d.samples.size(); ++i)
    d.samples[i] = static_cast<uint16_t>(static_cast<float>(d.samples[i]) * t[i % 3]);
  return d;
}

TEST(GelCataloguesE2E, ParamsListsNineteenWithTheFirstRowChosen) {
  for (const char* entry : kEntries) {
    const HostOutput o = RunHost(std::string("params ") + entry + " --tsv");
    ASSERT_EQ(o.status, 0) << entry << ": " << o.text;
    const std::vector<std::string> lines = Lines(o.text);
    ASSERT_EQ(lines.size(), 19u) << entry << ":\n" << o.text;
    EXPECT_EQ(lines[0], "0\t1\tinput\t") << entry;
    EXPECT_EQ(lines[1], "1\t4\tview\t0") << entry;
    EXPECT_EQ(lines[2], "2\t7\tGels\t") << entry;
    EXPECT_EQ(lines[3], "3\t4\tpresets\t1") << entry;
    EXPECT_EQ(lines[4].rfind("4\t5\tcolor\t", 0), 0u) << entry;
    EXPECT_EQ(lines[5], "5\t2\topacity\t100") << entry;
    EXPECT_EQ(lines[6], "6\t2\thighlights\t50") << entry;
    EXPECT_EQ(lines[7], "7\t2\texposure\t0") << entry;
    EXPECT_EQ(lines[10], "10\t3\tgradEnable\t0") << entry;
    EXPECT_EQ(lines[14], "14\t6\tul\t-0.5,-0.5") << entry;
    EXPECT_EQ(lines[18], "18\t8\t\t") << entry;
  }
}

TEST(GelCataloguesE2E, EveryRowReachesThePixels) {
  // Presets N filters through row N - 1, in every catalogue, at both depths.
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("chelsea.png", 6, 3, depth);
    for (const char* entry : kEntries) {
      const std::span<const fx::gels::GelRow> rows = RowsOf(entry);
      for (std::size_t i = 0; i < rows.size(); ++i) {
        const Document out =
            RenderWith(entry, source, {{"presets", std::to_string(i + 1)}, {"highlights", "0"}});
        const Document expected = Filtered(source, rows[i]);
        ASSERT_EQ(out, expected) << entry << " row " << i + 1 << " (" << rows[i].name << "), " << depth
                                 << "-bit: " << FirstDifference(out, expected);
      }
    }
  }
}

class GelApply : public ::testing::Test {
 protected:
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("ovra_gel_" + std::to_string(getpid()) + "_" +
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
};

TEST_F(GelApply, OvraHostRendersAChosenRowAtBothDepths) {
  struct Case {
    const char* entry;
    int preset;
  };
  const Document photo = Read(kSamples + "/coffee.png");
  for (const Case c : {Case{"PhotoFilters", 47}, Case{"Gels", 40}, Case{"RoscoVelante", 3}}) {
    const fx::gels::GelRow& row = RowsOf(c.entry)[static_cast<std::size_t>(c.preset - 1)];
    for (int32_t depth : {8, 16}) {
      const std::string out = Out(std::string(c.entry) + std::to_string(depth) + ".png");
      const HostOutput o =
          RunHost(std::string("apply ") + c.entry + " " + kSamples + "/coffee.png " + out + " --depth " +
                  std::to_string(depth) + " --set presets=" + std::to_string(c.preset) +
                  " --set highlights=0 --tile-rows 64 --quiet");
      ASSERT_EQ(o.status, 0) << o.text;
      const Document d = Read(out);
      const Document expected = Filtered(ConvertDepth(photo, depth), row);
      EXPECT_EQ(d, expected) << c.entry << " " << row.name << " " << depth << ": "
                             << FirstDifference(d, expected);
    }
  }
  // With its defaults (highlights preserved) the first row still changes the photograph.
  const HostOutput o =
      RunHost("apply ColorConversion " + kSamples + "/coffee.png " + Out("d.png") + " --quiet");
  ASSERT_EQ(o.status, 0) << o.text;
  EXPECT_NE(Read(Out("d.png")), photo);
}

TEST(GelCataloguesE2E, AGradJoinsBandsWithoutSeams) {
  // A slanted, narrowed grad with ND darkening and a custom colour with
  // exposure compensation, whole and in bands, at both depths; and the
  // "Grad" view the same way.
  const std::vector<std::pair<std::string, std::string>> grad = {
      {"presets", "0"},    {"color", "0.9,0.5,0.3"}, {"exposure", "40"}, {"opacity", "70"},
      {"gradEnable", "1"}, {"grad_nd", "35"},        {"dir", "2"},       {"grad_size", "60"},
      {"ur", "0.3,-0.5"},  {"ll", "-0.5,0.2"}};
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("coffee.png", 80, 120, depth);
    for (int view : {0, 1}) {
      auto set = grad;
      set.push_back({"view", std::to_string(view)});
      const std::string what = "view " + std::to_string(view);
      EXPECT_NE(ExpectBandsAgree({"RoscoCinelux", set}, source, {1, 7, 33}, what), source) << what;
    }
  }
}

}  // namespace
