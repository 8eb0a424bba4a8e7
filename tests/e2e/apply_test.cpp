// ovra-host apply on the bundled photographs.
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/e2e/e2e_fixture.h"

using namespace e2e;
using namespace standin;

namespace {

class Apply : public ::testing::Test {
 protected:
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("ovra_apply_" + std::to_string(getpid()) + "_" +
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

TEST_F(Apply, RendersAtBothDepthsWithAnyTiling) {
  for (const char* entry : {"BleachBypass", "PIMAIN_BlackAndWhite"}) {
    for (const char* depth : {"8", "16"}) {
      Document reference;
      for (const char* rows : {"256", "0", "37"}) {
        const std::string out = Out(std::string("out") + depth + "_" + rows + ".png");
        const HostOutput o =
            RunHost(std::string("apply ") + entry + " " + kSamples + "/coffee.png " + out + " --depth " +
                    depth + " --tile-rows " + rows + " --set contrast=20 --quiet");
        ASSERT_EQ(o.status, 0) << o.text;
        const Document d = Read(out);
        EXPECT_EQ(d.depth, std::atoi(depth));
        EXPECT_EQ(d.width, 600);
        if (reference.samples.empty()) reference = d;
        EXPECT_EQ(d, reference) << entry << " " << depth << " " << rows;
      }
      EXPECT_NE(reference, ConvertDepth(Read(kSamples + "/coffee.png"), std::atoi(depth)));
    }
  }
}

TEST_F(Apply, TransferPathsAgree) {
  const HostOutput a =
      RunHost("apply BleachBypass " + kSamples + "/chelsea.png " + Out("a.png") + " --quiet");
  const HostOutput b = RunHost("apply BleachBypass " + kSamples + "/chelsea.png " + Out("b.png") +
                               " --transfer interleaved --tile-rows 64 --quiet");
  ASSERT_EQ(a.status, 0) << a.text;
  ASSERT_EQ(b.status, 0) << b.text;
  EXPECT_EQ(Read(Out("a.png")), Read(Out("b.png")));
}

TEST_F(Apply, SettingsFromTheCommandLine) {
  // --set and --preset reach the effect; unknown keys and bad values are usage errors.
  ASSERT_EQ(RunHost("params BleachBypass --save " + Out("p.kvr")).status, 0);
  const HostOutput view =
      RunHost("apply BleachBypass " + kSamples + "/chelsea.png " + Out("v.png") + " --set view=1 --quiet");
  ASSERT_EQ(view.status, 0) << view.text;
  EXPECT_EQ(Read(Out("v.png")), Read(kSamples + "/chelsea.png"));
  const HostOutput preset = RunHost("apply BleachBypass " + kSamples + "/chelsea.png " + Out("q.png") +
                                    " --preset " + Out("p.kvr") + " --quiet");
  EXPECT_EQ(preset.status, 0) << preset.text;
  EXPECT_EQ(
      RunHost("apply BleachBypass " + kSamples + "/chelsea.png " + Out("x.png") + " --set nope=1").status, 2);
  EXPECT_EQ(
      RunHost("apply BleachBypass " + kSamples + "/chelsea.png " + Out("x.png") + " --set amount=abc").status,
      2);
  EXPECT_EQ(RunHost("apply BleachBypass " + kSamples + "/chelsea.png " + Out("x.png") + " --depth 12").status,
            2);
  const HostOutput wrong = RunHost("apply BlackAndWhite " + kSamples + "/chelsea.png " + Out("x.png") +
                                   " --preset " + Out("p.kvr"));
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.text.find("preset is not for this filter"), std::string::npos) << wrong.text;
}

TEST_F(Apply, FailuresReportTheResultCode) {
  const HostOutput aborted = RunHost("apply BleachBypass " + kSamples + "/coffee.png " + Out("a.png") +
                                     " --tile-rows 50 --abort-after 1 --quiet");
  EXPECT_EQ(aborted.status, 1);
  EXPECT_EQ(aborted.text, "result -128: cancelled\n");
  EXPECT_FALSE(std::filesystem::exists(Out("a.png")));
  const HostOutput missing = RunHost("apply BleachBypass /no/such.png " + Out("b.png"));
  EXPECT_EQ(missing.status, 1);
  const HostOutput noEffect = RunHost("apply Defocus " + kSamples + "/coffee.png " + Out("c.png"));
  EXPECT_EQ(noEffect.status, 1);
  EXPECT_EQ(noEffect.text, "result -30904: no such effect: Defocus\n");
}

TEST_F(Apply, TheRegistryFileKeepsTheLastSettings) {
  const std::string registry = Out("registry.txt");
  ASSERT_EQ(RunHost("apply BlackAndWhite " + kSamples + "/chelsea.png " + Out("a.png") +
                    " --set filter=1 --registry " + registry + " --quiet")
                .status,
            0);
  ASSERT_EQ(RunHost("apply BlackAndWhite " + kSamples + "/chelsea.png " + Out("b.png") + " --registry " +
                    registry + " --quiet")
                .status,
            0);
  EXPECT_EQ(Read(Out("a.png")), Read(Out("b.png")));
  ASSERT_EQ(RunHost("apply BlackAndWhite " + kSamples + "/chelsea.png " + Out("c.png") + " --quiet").status,
            0);
  EXPECT_NE(Read(Out("a.png")), Read(Out("c.png")));
}

TEST_F(Apply, ParamsListsTheTable) {
  const HostOutput o = RunHost("params BleachBypass --tsv");
  ASSERT_EQ(o.status, 0) << o.text;
  EXPECT_EQ(o.text,
            "0\t1\tbackground\t\n1\t4\tview\t0\n2\t2\tamount\t100\n3\t2\tsaturation\t0\n4\t2\tcontrast\t0\n"
            "5\t2\ttemperature\t0\n");
}

}  // namespace

namespace {

// Hostile files named to the host: each is refused with its message and
// exit status 1 before anything is rendered, and every file stays in place.
TEST_F(Apply, HostileFilesAreRefusedAndLeftInPlace) {
  const std::string photo = kSamples + "/chelsea.png";
  const auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(Out(name)) << text;
    return Out(name);
  };
  const auto contents = [](const std::string& path) {
    std::ifstream in(path);
    return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  };
  const std::string zz = write("zz.txt", "BlackAndWhite zzzzzzzz 00\n");
  const std::string zeroG = write("0g.txt", "BlackAndWhite 00000001 01\nBlackAndWhite 0000000g 01\n");
  const std::string fifo = Out("preset.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Image file names hold 63 characters: the texture's FIFO gets a short path.
  const std::string textureFifo = "/tmp/ovra-" + std::to_string(getpid()) + ".fifo";
  std::filesystem::remove(textureFifo);
  ASSERT_EQ(mkfifo(textureFifo.c_str(), 0600), 0);
  struct Case {
    std::string what, args, message;
  };
  const Case cases[] = {
      {"registry zz", "--registry " + zz, zz + ":1: bad key code"},
      {"registry 0g", "--registry " + zeroG, zeroG + ":2: bad key code"},
      {"preset folder", "--preset " + dir.string(), dir.string() + ": not a regular file"},
      {"preset FIFO", "--preset " + fifo, fifo + ": not a regular file"},
      {"texture FIFO", "--set diffTexture=" + textureFifo, textureFifo + ": not a regular file"},
  };
  for (const Case& c : cases) {
    const std::string out = Out("out.png");
    const std::string filter = c.what == "texture FIFO" ? "Diffusion" : "BlackAndWhite";
    const HostOutput r = RunHost("apply " + filter + " " + photo + " " + out + " " + c.args);
    EXPECT_EQ(r.status, 1) << c.what << ": " << r.text;
    EXPECT_NE(r.text.find(c.message), std::string::npos) << c.what << ": " << r.text;
    EXPECT_FALSE(std::filesystem::exists(out)) << c.what;
  }
  EXPECT_EQ(contents(zz), "BlackAndWhite zzzzzzzz 00\n");
  EXPECT_EQ(contents(zeroG), "BlackAndWhite 00000001 01\nBlackAndWhite 0000000g 01\n");
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_TRUE(std::filesystem::is_fifo(textureFifo));
  std::filesystem::remove(textureFifo);
}

}  // namespace
