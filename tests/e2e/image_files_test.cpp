// Image files through ovra-host: alpha, grey, metadata, formats and the
// decoding bound, each through the real binary.
#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "host/png_exif.h"
#include "tests/e2e/e2e_fixture.h"

using namespace e2e;
using namespace standin;

namespace {

class ImageFiles : public ::testing::Test {
 protected:
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("ovra_files_" + std::to_string(getpid()) + "_" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
  void SetUp() override { std::filesystem::create_directories(dir); }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string Out(const std::string& name) { return (dir / name).string(); }
};

// What a file holds, read with OpenImageIO itself: spec and raw samples.
struct Raw {
  OIIO::ImageSpec spec;
  std::vector<uint16_t> samples;
};

Raw ReadRaw(const std::string& path) {
  Raw r;
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  EXPECT_TRUE(in) << OIIO::geterror();
  if (!in) return r;
  r.spec = in->spec();
  r.samples.resize(static_cast<std::size_t>(r.spec.width) * r.spec.height * r.spec.nchannels);
  EXPECT_TRUE(in->read_image(0, 0, 0, r.spec.nchannels, OIIO::TypeDesc::UINT16, r.samples.data())) << in->geterror();
  return r;
}

std::vector<uint8_t> IccOf(const OIIO::ImageSpec& spec) {
  const OIIO::ParamValue* p = spec.find_attribute("ICCProfile");
  if (p == nullptr) return {};
  const auto* data = static_cast<const uint8_t*>(p->data());
  return {data, data + p->type().size() * static_cast<std::size_t>(p->nvalues())};
}

// A photograph's ICC profile (the bundled JPEG carries one).
std::vector<uint8_t> SampleIcc() { return IccOf(ReadRaw(kSamples + "/rocket.jpg").spec); }

void WriteRaw(const std::string& path, const OIIO::ImageSpec& spec, const void* data) {
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out) << OIIO::geterror();
  ASSERT_TRUE(out->open(path, spec)) << out->geterror();
  ASSERT_TRUE(out->write_image(spec.format, data)) << out->geterror();
  ASSERT_TRUE(out->close()) << out->geterror();
}

TEST_F(ImageFiles, RgbaSixteenBitWithAProfileComesBackWhole) {
  // Every alpha value from clear to opaque, over varied colour; unassociated,
  // so colour under clear alpha matters and must survive.
  const int w = 64, h = 32;
  OIIO::ImageSpec spec(w, h, 4, OIIO::TypeDesc::UINT16);
  spec.alpha_channel = 3;
  spec.attribute("oiio:UnassociatedAlpha", 1);
  const std::vector<uint8_t> icc = SampleIcc();
  ASSERT_FALSE(icc.empty());
  spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, static_cast<int>(icc.size())), icc.data());
  // A camera's EXIF: text, integer and GPS tags (the PNG writer alone keeps
  // only the text ones).
  spec.attribute("Make", "Ovra Test Camera");
  spec.attribute("Exif:DateTimeOriginal", "2026:12:11 10:20:30");
  spec.attribute("Exif:PhotographicSensitivity", 400);
  spec.attribute("Exif:Flash", 16);
  spec.attribute("GPS:Altitude", 1234.5f);
  std::vector<uint16_t> pixels(static_cast<std::size_t>(w) * h * 4);
  // Values a 16-bit document carries exactly (the file range has twice as
  // many values as a document holds).
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = DocumentToFile16(static_cast<uint32_t>((i * 2654435761u) >> 16) % 32769);
  const std::string in = Out("in.png"), out = Out("out.png");
  WriteRaw(in, spec, pixels.data());
  std::string reason;
  ASSERT_TRUE(AddPngExif(in, spec, reason)) << reason;
  ASSERT_EQ(ReadRaw(in).spec.get_int_attribute("Exif:PhotographicSensitivity"), 400);
  const HostOutput o = RunHost("apply BleachBypass " + in + " " + out + " --set view=Original --quiet");
  ASSERT_EQ(o.status, 0) << o.text;
  const Raw back = ReadRaw(out);
  EXPECT_EQ(back.spec.nchannels, 4);
  EXPECT_EQ(back.spec.format, OIIO::TypeDesc::UINT16);
  EXPECT_EQ(back.samples, pixels);
  EXPECT_EQ(IccOf(back.spec), icc);
  EXPECT_EQ(back.spec.get_string_attribute("Make"), "Ovra Test Camera");
  EXPECT_EQ(back.spec.get_string_attribute("Exif:DateTimeOriginal"), "2026:12:11 10:20:30");
  EXPECT_EQ(back.spec.get_int_attribute("Exif:PhotographicSensitivity"), 400);
  EXPECT_EQ(back.spec.get_int_attribute("Exif:Flash"), 16);
  EXPECT_FLOAT_EQ(back.spec.get_float_attribute("GPS:Altitude"), 1234.5f);
}

TEST_F(ImageFiles, AJpegKeepsItsExifAndProfile) {
  const std::string out = Out("out.jpg");
  const HostOutput o = RunHost("apply BleachBypass " + kSamples + "/rocket.jpg " + out + " --set contrast=20 --quiet");
  ASSERT_EQ(o.status, 0) << o.text;
  const Raw in = ReadRaw(kSamples + "/rocket.jpg"), back = ReadRaw(out);
  EXPECT_EQ(IccOf(back.spec), IccOf(in.spec));
  int exif = 0;
  for (const OIIO::ParamValue& p : in.spec.extra_attribs) {
    const std::string name = p.name().string();
    if (name.rfind("Exif:", 0) != 0 && name != "XResolution" && name != "ResolutionUnit") continue;
    ++exif;
    const OIIO::ParamValue* kept = back.spec.find_attribute(name);
    ASSERT_NE(kept, nullptr) << name;
    EXPECT_EQ(back.spec.get_string_attribute(name), in.spec.get_string_attribute(name)) << name;
  }
  EXPECT_GT(exif, 0);
  // --quality reaches the encoder.
  ASSERT_EQ(RunHost("apply BleachBypass " + kSamples + "/rocket.jpg " + Out("q.jpg") + " --quality 40 --quiet").status, 0);
  EXPECT_LT(std::filesystem::file_size(Out("q.jpg")), std::filesystem::file_size(out));
}

TEST_F(ImageFiles, GreyStaysGreyThroughBlackAndWhite) {
  const int w = 40, h = 20;
  OIIO::ImageSpec spec(w, h, 1, OIIO::TypeDesc::UINT8);
  std::vector<uint8_t> pixels(static_cast<std::size_t>(w) * h);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7);
  WriteRaw(Out("grey.png"), spec, pixels.data());
  ASSERT_EQ(RunHost("apply BlackAndWhite " + Out("grey.png") + " " + Out("bw.png") + " --quiet").status, 0);
  EXPECT_EQ(ReadRaw(Out("bw.png")).spec.nchannels, 1);
  // A colour result of a grey input is written in colour.
  ASSERT_EQ(RunHost("apply Tint " + Out("grey.png") + " " + Out("tint.png") + " --quiet").status, 0);
  Document tinted;
  std::string error;
  ASSERT_TRUE(ReadImage(Out("tint.png"), tinted, error)) << error;
  if (ReadRaw(Out("tint.png")).spec.nchannels == 1) {
    for (std::size_t p = 0; p < tinted.samples.size(); p += 3) EXPECT_EQ(tinted.samples[p], tinted.samples[p + 1]);
  }
}

TEST_F(ImageFiles, ExrAndDpxAreReadAndWritten) {
  const int w = 16, h = 8;
  OIIO::ImageSpec spec(w, h, 3, OIIO::TypeDesc::FLOAT);
  std::vector<float> pixels(static_cast<std::size_t>(w) * h * 3);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<float>(i % 97) / 96.0f;
  pixels[5] = 1.5f;  // clipped, with a warning
  WriteRaw(Out("in.exr"), spec, pixels.data());
  const HostOutput exr = RunHost("apply BleachBypass " + Out("in.exr") + " " + Out("out.exr") + " --set view=1 --quiet");
  ASSERT_EQ(exr.status, 0) << exr.text;
  EXPECT_NE(exr.text.find("1 float samples outside 0..1 were clipped"), std::string::npos) << exr.text;
  Document a, b;
  std::string error;
  ASSERT_TRUE(ReadImage(Out("in.exr"), a, error)) << error;
  ASSERT_TRUE(ReadImage(Out("out.exr"), b, error)) << error;
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.depth, 16);
  EXPECT_EQ(a.samples[5], 32768);
  EXPECT_EQ(a.samples[1], static_cast<uint16_t>(std::lround(1 / 96.0 * 32768)));
  // DPX at 10 bits is read at 16, and written back.
  OIIO::ImageSpec dpx(w, h, 3, OIIO::TypeDesc::UINT16);
  dpx.attribute("oiio:BitsPerSample", 10);
  std::vector<uint16_t> words(static_cast<std::size_t>(w) * h * 3);
  for (std::size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>((i * 64) * 65535 / 65535 % 65536);
  WriteRaw(Out("in.dpx"), dpx, words.data());
  const HostOutput d = RunHost("apply BleachBypass " + Out("in.dpx") + " " + Out("out.dpx") + " --set contrast=10 --quiet");
  ASSERT_EQ(d.status, 0) << d.text;
  ASSERT_TRUE(ReadImage(Out("out.dpx"), b, error)) << error;
  EXPECT_EQ(b.depth, 16);
  EXPECT_EQ(b.width, w);
}

TEST_F(ImageFiles, AHugeHeaderIsRefusedAtOnce) {
  // A 16384 x 16384 PNG of a few bytes a row: refused from its header.
  OIIO::ImageSpec spec(16384, 16384, 1, OIIO::TypeDesc::UINT8);
  {
    auto out = OIIO::ImageOutput::create(Out("bomb.png"));
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->open(Out("bomb.png"), spec));
    std::vector<uint8_t> row(16384, 0);
    for (int y = 0; y < 16384; ++y) ASSERT_TRUE(out->write_scanline(y, 0, OIIO::TypeDesc::UINT8, row.data()));
    out->close();
  }
  const double start = ChildCpuSeconds();
  const HostOutput o = RunHost("apply BleachBypass " + Out("bomb.png") + " " + Out("out.png"));
  const double seconds = ChildCpuSeconds() - start;
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.text.find("image of 16384 x 16384 pixels exceeds the limit"), std::string::npos) << o.text;
  EXPECT_LT(seconds, 1.0);
}

}  // namespace
