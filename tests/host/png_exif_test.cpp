#include "host/png_exif.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace standin {
namespace {

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t Count(const std::string& hay, const std::string& needle) {
  std::size_t n = 0;
  for (std::size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

class PngExif : public ::testing::Test {
 protected:
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("ovra_png_exif_" + std::to_string(getpid()));
  void SetUp() override { std::filesystem::create_directories(dir); }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string WritePng(const OIIO::ImageSpec& spec) {
    const std::string path = (dir / "p.png").string();
    auto out = OIIO::ImageOutput::create(path);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(spec.image_bytes()), 77);
    EXPECT_TRUE(out && out->open(path, spec) && out->write_image(spec.format, pixels.data()) && out->close());
    return path;
  }
};

TEST_F(PngExif, AddsOneChunkBeforeTheDataThatReadsBack) {
  OIIO::ImageSpec spec(5, 3, 3, OIIO::TypeDesc::UINT8);
  spec.attribute("Exif:PhotographicSensitivity", 800);
  const std::string path = WritePng(spec);
  std::string reason;
  ASSERT_TRUE(AddPngExif(path, spec, reason)) << reason;
  // A second call finds the chunk and leaves the file alone.
  ASSERT_TRUE(AddPngExif(path, spec, reason)) << reason;
  const std::string bytes = Bytes(path);
  EXPECT_EQ(Count(bytes, "eXIf"), 1u);
  EXPECT_LT(bytes.find("eXIf"), bytes.find("IDAT"));
  auto in = OIIO::ImageInput::open(path);
  ASSERT_TRUE(in) << OIIO::geterror();
  EXPECT_EQ(in->spec().get_int_attribute("Exif:PhotographicSensitivity"), 800);
  std::vector<uint8_t> pixels(5 * 3 * 3);
  ASSERT_TRUE(in->read_image(0, 0, 0, 3, OIIO::TypeDesc::UINT8, pixels.data()));
  EXPECT_EQ(pixels, std::vector<uint8_t>(5 * 3 * 3, 77));
}

TEST_F(PngExif, NoTagsNoChangeAndBadFilesAreRefused) {
  OIIO::ImageSpec spec(2, 2, 3, OIIO::TypeDesc::UINT8);
  const std::string path = WritePng(spec);
  const std::string before = Bytes(path);
  std::string reason;
  ASSERT_TRUE(AddPngExif(path, spec, reason));
  EXPECT_EQ(Bytes(path), before);

  spec.attribute("Make", "Camera");
  for (const std::string& content : {std::string("not a png at all"), before.substr(0, 40)}) {
    std::ofstream((dir / "bad.png").string(), std::ios::binary) << content;
    reason.clear();
    EXPECT_FALSE(AddPngExif((dir / "bad.png").string(), spec, reason));
    EXPECT_FALSE(reason.empty());
  }
  EXPECT_FALSE(AddPngExif((dir / "missing.png").string(), spec, reason));
}

}  // namespace
}  // namespace standin
