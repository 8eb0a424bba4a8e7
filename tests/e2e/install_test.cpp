// ovra-host installed like a tool: the install layout, the Debian package and
// the bash completion.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/e2e/e2e_fixture.h"

using namespace e2e;

namespace {

struct Shell {
  int status = -1;
  std::string text;
};

Shell Sh(const std::string& command) {
  Shell s;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return s;
  char buf[4096];
  while (std::size_t n = fread(buf, 1, sizeof buf, p)) s.text.append(buf, n);
  const int status = pclose(p);
  s.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return s;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Install : public ::testing::Test {
 protected:
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("ovra_install_" + std::to_string(getpid()) + "_" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
  void SetUp() override { std::filesystem::create_directories(dir); }
  void TearDown() override { std::filesystem::remove_all(dir); }
};

TEST_F(Install, TheInstalledHostFindsItsModuleAndData) {
  const std::string prefix = (dir / "prefix").string();
  const Shell install = Sh("cmake --install " + std::string(OVRA_BINARY_DIR) + " --prefix " + prefix);
  ASSERT_EQ(install.status, 0) << install.text;
  for (const char* file : {"bin/ovra-host", "lib/ovra/ovra.so", "share/ovra/Textures/canvas.png",
                           "lib/ovra/Textures/canvas.png", "share/bash-completion/completions/ovra-host"})
    EXPECT_TRUE(std::filesystem::exists(dir / "prefix" / file)) << file;
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "prefix/lib/ovra/Textures"));
  // No --module and no $OVRA_MODULE: the installed module is found, with the
  // textures the default look uses.
  const std::string out = (dir / "out.png").string(), reference = (dir / "ref.png").string();
  const Shell run = Sh("env -u OVRA_MODULE " + prefix + "/bin/ovra-host apply Diffusion " + kSamples +
                       "/chelsea.png " + out + " --quiet");
  ASSERT_EQ(run.status, 0) << run.text;
  ASSERT_EQ(RunHost("apply Diffusion " + kSamples + "/chelsea.png " + reference + " --quiet").status, 0);
  EXPECT_EQ(Contents(out), Contents(reference));
}

TEST_F(Install, ADebianPackageHoldsTheModuleAndItsData) {
  const Shell pack = Sh("cd " + std::string(OVRA_BINARY_DIR) + " && cpack -G DEB -B " + dir.string());
  ASSERT_EQ(pack.status, 0) << pack.text;
  std::string deb;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".deb") deb = e.path().string();
  ASSERT_FALSE(deb.empty()) << pack.text;
  const Shell listing = Sh("dpkg-deb -c " + deb);
  ASSERT_EQ(listing.status, 0) << listing.text;
  for (const char* file : {"./usr/bin/ovra-host", "./usr/lib/ovra/ovra.so", "./usr/share/ovra/Textures/canvas.png",
                           "./usr/lib/ovra/Textures -> ../../share/ovra/Textures"})
    EXPECT_NE(listing.text.find(file), std::string::npos) << file << " in\n" << listing.text;
}

TEST(Completion, CommandsFiltersAndKeys) {
  const std::string script = std::string(OVRA_SOURCE_DIR) + "/host/completion/ovra-host.bash";
  const auto complete = [&](const std::string& words, int cword) {
    return Sh("bash -c 'source " + script + "; COMP_WORDS=(" + kHostPath + " " + words + "); COMP_CWORD=" +
              std::to_string(cword) + "; _ovra_host; printf \"%s\\n\" \"${COMPREPLY[@]}\"'")
        .text;
  };
  EXPECT_EQ(complete("pa", 1), "params\n");
  EXPECT_EQ(complete("params Bleach", 2), "BleachBypass\n");
  EXPECT_EQ(complete("apply BleachBypass in.png out.png --set am", 6), "amount=\n");
  EXPECT_EQ(complete("list --re", 2), "--resources\n");
}

}  // namespace
