// Depth of Field, Rack Focus, Lens Distortion and Skin Smoother through the
// module file: banded output equals the whole image, including margins
// wider than the bands, Lens Distortion's source rows read through source
// access, and a filter area inside the image; and each member through
// ovra-host apply.
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/e2e/e2e_fixture.h"

using namespace e2e;
using namespace standin;

namespace {

// A grey depth picture in the temp folder, under a name short enough for
// the settings (at most 63 characters): near at the top left, far at the
// bottom right, with a sharp-edged far patch.
std::string DepthPicture() {
  const std::string path = "/tmp/ovra_dof_" + std::to_string(getpid()) + ".png";
  Document d = Document::Make(64, 48, 8);
  d.grey = true;
  for (int32_t y = 0; y < 48; ++y)
    for (int32_t x = 0; x < 64; ++x) {
      const int32_t v = x > 40 && y < 16 ? 255 : (x * 3 + y * 2) % 256;
      for (int c = 0; c < 3; ++c) d.At(x, y, c) = static_cast<uint16_t>(v);
    }
  std::string error;
  EXPECT_TRUE(WriteImage(path, d, error)) << error;
  return path;
}

TEST(DepthOfFieldModule, BandsGiveTheWholeImage) {
  const std::string picture = DepthPicture();
  const std::vector<Settings> looks = {
      {},  // a selection of the highlights
      {{"matteBlur", "120"}, {"mattePosition", "40"}, {"blurX", "60"}},
      {{"depthSource", "1"}, {"dir", "2"}, {"ur", "0.3,-0.2"}, {"grad_size", "60"}, {"blurX", "80"}},
      {{"depthSource", "2"}, {"depthInput", picture}, {"gang", "0"}, {"blurX", "30"}, {"blurY", "120"}},
      {{"view", "1"}, {"depthSource", "2"}, {"depthInput", picture}},
  };
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("coffee.png", 150, 200, depth);
    for (const Settings& set : looks) {
      const std::string what = set.empty() ? "defaults" : set[0].first + " " + set[0].second;
      EXPECT_NE(ExpectBandsAgree({"DepthOfField", set}, source, {256, 64, 17, 1}, what), source) << what;
    }
  }
  std::filesystem::remove(picture);
}

TEST(LensDistortionModule, BandsGiveTheWholeImage) {
  const std::vector<Settings> looks = {
      {{"amount", "-10"}},
      {{"amount", "-5"}},
      {{"amount", "10"}},
      {{"amount", "50"}},
      {{"amount", "-5"}, {"squeeze", "2"}},
      {{"amount", "20"}, {"asymetricX", "2"}, {"asymetricY", "-1"}, {"squeeze", "0.5"}},
  };
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("rocket.jpg", 150, 230, depth);
    for (const Settings& set : looks) {
      const std::string what = set[0].second + (set.size() > 1 ? " with squeeze/curvature" : "");
      EXPECT_NE(ExpectBandsAgree({"LensDistortion", set}, source, {256, 100, 32, 7, 1}, what), source) << what;
    }
  }
}

// A filter area inside the image: sources inside the image but outside the
// area are clamped to its edge, pixels outside it are never written, and
// source access (in the area's coordinates) gives every band its rows.
TEST(LensDistortionModule, AFilterAreaInsideTheImage) {
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("coffee.png", 120, 160, depth);
    auto render = [&](int32_t tileRows, bool interleaved) {
      HostOptions options;
      options.tileRows = tileRows;
      options.interleaved = interleaved;
      Host host(options);
      host.SetDocument(source);
      host.SetFilterRect({30, 20, 140, 100});
      std::vector<uint8_t> block = DefaultSettings("LensDistortion");
      SettingsView view;
      std::string error;
      EXPECT_TRUE(ParseSettings(block, view, error)) << error;
      for (const auto& r : view.records)
        if (r.key == "amount") {
          EXPECT_TRUE(SetValue(block, r, "-8", error)) << error;
        }
      RunOptions run;
      run.scriptedSettings = block;
      const RunResult result = RunFilter(host, RealModule(), "LensDistortion", run);
      EXPECT_EQ(result.result, 0) << result.message;
      return host.Doc();
    };
    const Document whole = render(160, false);
    for (int32_t y = 0; y < 160; ++y)
      for (int32_t x = 0; x < 120; ++x) {
        if (y >= 30 && y < 140 && x >= 20 && x < 100) continue;
        for (int c = 0; c < 3; ++c) ASSERT_EQ(whole.At(x, y, c), source.At(x, y, c)) << x << "," << y;
      }
    EXPECT_NE(whole, source);
    for (int32_t rows : {16, 33}) {
      const Document banded = render(rows, false);
      EXPECT_EQ(banded, whole) << depth << "-bit, " << rows << " rows: " << FirstDifference(banded, whole);
    }
    if (depth == 8) {
      const Document fallback = render(16, true);
      EXPECT_EQ(fallback, whole) << FirstDifference(fallback, whole);
    }
  }
}

TEST(SkinSmootherModule, BandsGiveTheWholeImage) {
  const std::vector<Settings> looks = {
      {{"blurX", "100"}, {"EdgeBlur", "30"}, {"matteBlur", "40"}},
      {{"gang", "0"}, {"blurX", "20"}, {"blurY", "150"}, {"EdgeBrightness", "1"}, {"EdgeOpacity", "50"}},
      {{"view", "2"}, {"EdgeBlur", "60"}},  // the edge map alone
      {{"view", "1"}, {"matteBlur", "300"}},  // the selection alone
  };
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("chelsea.png", 180, 240, depth);
    for (const Settings& set : looks) {
      const std::string what = set[0].first + " " + set[0].second;
      EXPECT_NE(ExpectBandsAgree({"SkinSmoother", set}, source, {256, 64, 17}, what), source) << what;
    }
  }
}

TEST(RackFocusModule, BandsGiveTheWholeImage) {
  const std::vector<Settings> looks = {
      {},  // the defaults
      {{"size", "20"}, {"facets", "7"}, {"angle", "30"}, {"boost", "200"}, {"apertureBlur", "20"}},
      {{"view", "1"}},
      {{"view", "2"}, {"curvature", "0"}, {"facets", "3"}, {"size", "12"}},
      {{"density", "0"}, {"matteBlur", "40"}, {"blur", "60"}},
  };
  for (int32_t depth : {8, 16}) {
    const Document source = Photo("hubble_deep_field.jpg", 160, 200, depth);
    for (const Settings& set : looks) {
      const std::string what = set.empty() ? "defaults" : set[0].first + " " + set[0].second;
      EXPECT_NE(ExpectBandsAgree({"RackFocus", set}, source, {256, 64, 17}, what), source) << what;
    }
  }
}

TEST(FocusFamily, ThroughTheHostAtBothDepths) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("ovra_focus_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  struct Member {
    const char* entry;
    const char* photo;
    const char* set;
  };
  const Member members[] = {
      {"DepthOfField", "coffee.png", " --set depthSource=1 --set blurX=40"},
      {"RackFocus", "hubble_deep_field.jpg", ""},
      {"LensDistortion", "rocket.jpg", " --set amount=-5"},
      {"SkinSmoother", "chelsea.png", ""},
  };
  for (const Member& m : members)
    for (const char* depth : {"8", "16"}) {
      const std::string out = (dir / (std::string(m.entry) + depth + ".png")).string();
      const HostOutput o = RunHost(std::string("apply ") + m.entry + " " + kSamples + "/" + m.photo + " " + out +
                                   " --depth " + depth + m.set + " --quiet");
      ASSERT_EQ(o.status, 0) << m.entry << " " << depth << ": " << o.text;
      Document result, original;
      std::string error;
      ASSERT_TRUE(ReadImage(out, result, error)) << error;
      ASSERT_TRUE(ReadImage(kSamples + "/" + m.photo, original, error)) << error;
      EXPECT_EQ(result.depth, std::atoi(depth));
      EXPECT_EQ(result.width, original.width);
      EXPECT_NE(result, ConvertDepth(original, std::atoi(depth))) << m.entry << " " << depth;
    }
  std::filesystem::remove_all(dir);
}

}  // namespace
