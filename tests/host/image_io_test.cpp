// Image files of the stand-in host: the sample mappings, round trips through
// every format, the PNG layouts of the PngSuite, TIFF layouts made with
// libtiff, JPEG colour layouts, and damaged or oversized files.
#include "host/image_io.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace standin {
namespace {

namespace fs = std::filesystem;

const std::string kPngSuite = OVRA_SOURCE_DIR "/tests/data/pngsuite/";
const std::string kRocket = OVRA_SOURCE_DIR "/data/samples/rocket.jpg";

std::vector<uint8_t> LoadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void SaveBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Empty when equal, else where the documents first differ.
std::string Difference(const Document& a, const Document& b) {
  if (a.width != b.width || a.height != b.height || a.depth != b.depth) {
    return "shape " + std::to_string(a.width) + "x" + std::to_string(a.height) + "@" + std::to_string(a.depth) +
           " vs " + std::to_string(b.width) + "x" + std::to_string(b.height) + "@" + std::to_string(b.depth);
  }
  if (a.samples.size() != b.samples.size()) return "sample counts differ";
  for (std::size_t i = 0; i < a.samples.size(); ++i) {
    if (a.samples[i] != b.samples[i]) {
      return "sample " + std::to_string(i) + ": " + std::to_string(a.samples[i]) + " vs " +
             std::to_string(b.samples[i]);
    }
  }
  return {};
}

// A failure must come as one line naming the file.
void ExpectCleanError(const std::string& path, const std::string& error) {
  EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
  EXPECT_GT(error.size(), path.size() + 2) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
}

// Reading fails, leaves the output alone and explains itself.
void ExpectReadFails(const std::string& path, const std::string& contains = {}) {
  Document out = Document::Make(1, 1, 8);
  out.samples = {7, 8, 9};
  const Document before = out;
  std::string error;
  EXPECT_FALSE(ReadImage(path, out, error)) << path;
  EXPECT_TRUE(out == before) << path;
  ExpectCleanError(path, error);
  if (!contains.empty()) {
    EXPECT_NE(error.find(contains), std::string::npos) << error;
  }
}

class ImageIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    dir_ = fs::temp_directory_path() / ("ovra_image_io_" + std::to_string(getpid()) + "_" + name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  Document WriteAndRead(const Document& doc, const std::string& name) {
    std::string error;
    EXPECT_TRUE(WriteImage(Path(name), doc, error)) << error;
    Document back;
    EXPECT_TRUE(ReadImage(Path(name), back, error)) << error;
    return back;
  }

  fs::path dir_;
};

// Every sample value the depth allows, spread over the picture.
Document Ramp(int32_t width, int32_t height, int depth) {
  Document d = Document::Make(width, height, depth);
  const uint32_t levels = static_cast<uint32_t>(d.FullScale()) + 1;
  for (std::size_t i = 0; i < d.samples.size(); ++i) d.samples[i] = static_cast<uint16_t>(i * 7919 % levels);
  return d;
}

// ------------------------------------------------------------ sample mappings

TEST(ImageIoMapping, SixteenBitFileMappingsAreExactInverses) {
  for (uint32_t v = 0; v <= 32768; ++v) ASSERT_EQ(FileToDocument16(DocumentToFile16(v)), v) << v;
  struct {
    uint32_t v, u;
  } const toFile[] = {{0, 0}, {1, 2}, {16384, 32768}, {32767, 65533}, {32768, 65535}};
  for (const auto& c : toFile) EXPECT_EQ(DocumentToFile16(c.v), c.u) << c.v;
  struct {
    uint32_t u, v;
  } const toDocument[] = {{0, 0}, {1, 1}, {2, 1}, {32768, 16384}, {65534, 32767}, {65535, 32768}};
  for (const auto& c : toDocument) EXPECT_EQ(FileToDocument16(c.u), c.v) << c.u;
}

TEST(ImageIoMapping, DepthConversionIsExactAndRoundTripsEightBit) {
  for (uint32_t s = 0; s <= 255; ++s) ASSERT_EQ(Sample16To8(Sample8To16(s)), s) << s;

  Document eight = Document::Make(2, 1, 8);
  eight.samples = {0, 1, 2, 128, 254, 255};
  const Document sixteen = ConvertDepth(eight, 16);
  EXPECT_EQ(sixteen.depth, 16);
  EXPECT_EQ(sixteen.samples, (std::vector<uint16_t>{0, 129, 257, 16448, 32639, 32768}));
  EXPECT_TRUE(ConvertDepth(sixteen, 8) == eight);

  Document deep = Document::Make(3, 1, 16);
  deep.samples = {0, 64, 65, 16384, 32703, 32704, 32768, 32768, 32768};
  const Document down = ConvertDepth(deep, 8);
  EXPECT_EQ(down.depth, 8);
  EXPECT_EQ(down.samples, (std::vector<uint16_t>{0, 0, 1, 128, 254, 255, 255, 255, 255}));

  EXPECT_TRUE(ConvertDepth(eight, 8) == eight);
  EXPECT_TRUE(ConvertDepth(deep, 12) == deep);

  // Samples beyond the full scale count as full scale.
  Document over = Document::Make(1, 1, 8);
  over.samples = {256, 1000, 65535};
  EXPECT_EQ(ConvertDepth(over, 16).samples, (std::vector<uint16_t>{32768, 32768, 32768}));
  over.depth = 16;
  over.samples = {32769, 40000, 65535};
  EXPECT_EQ(ConvertDepth(over, 8).samples, (std::vector<uint16_t>{255, 255, 255}));
}

// ------------------------------------------------------------ raw file readers
// Independent of the code under test: the samples exactly as the file holds them.

struct RawImage {
  uint32_t width = 0, height = 0;
  int bits = 0, channels = 0;
  std::vector<uint32_t> samples;
};

bool PngDecodeRaw(png_structp png, png_infop info, std::FILE* file) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  return true;
}

RawImage ReadRawPng(const std::string& path) {
  RawImage raw;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return raw;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (PngDecodeRaw(png, info, file)) {
    raw.width = png_get_image_width(png, info);
    raw.height = png_get_image_height(png, info);
    raw.bits = png_get_bit_depth(png, info);
    raw.channels = png_get_channels(png, info);
    png_bytepp rows = png_get_rows(png, info);
    for (uint32_t y = 0; y < raw.height; ++y) {
      for (uint32_t i = 0; i < raw.width * static_cast<uint32_t>(raw.channels); ++i) {
        raw.samples.push_back(raw.bits == 16 ? (uint32_t{rows[y][2 * i]} << 8 | rows[y][2 * i + 1]) : rows[y][i]);
      }
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return raw;
}

RawImage ReadRawTiff(const std::string& path) {
  RawImage raw;
  TIFF* t = TIFFOpen(path.c_str(), "r");
  if (!t) return raw;
  uint16_t bits = 0, spp = 0;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &raw.width);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &raw.height);
  TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
  raw.bits = bits;
  raw.channels = spp;
  std::vector<uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize64(t)));
  for (uint32_t y = 0; y < raw.height; ++y) {
    if (TIFFReadScanline(t, row.data(), y, 0) < 0) break;
    for (uint32_t i = 0; i < raw.width * spp; ++i) {
      uint16_t s = row[i];
      if (bits == 16) std::memcpy(&s, row.data() + 2 * i, 2);
      raw.samples.push_back(s);
    }
  }
  TIFFClose(t);
  return raw;
}

// ------------------------------------------------------------ round trips

TEST_F(ImageIoTest, EverySixteenBitSampleSurvivesPngAndTiff) {
  // 129 x 85 x 3 samples hold each of the 32769 values at least once.
  const Document doc = Ramp(129, 85, 16);
  ASSERT_GE(doc.samples.size(), 32769u);
  for (const char* name : {"all.png", "all.tif"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Difference(WriteAndRead(doc, name), doc), "");
  }
}

TEST_F(ImageIoTest, SixteenBitFilesHoldTheFullFileRange) {
  Document doc = Document::Make(2, 1, 16);
  doc.samples = {0, 1, 16384, 32767, 32768, 32768};
  const std::vector<uint32_t> expected = {0, 2, 32768, 65533, 65535, 65535};
  std::string error;
  ASSERT_TRUE(WriteImage(Path("range.png"), doc, error)) << error;
  ASSERT_TRUE(WriteImage(Path("range.tiff"), doc, error)) << error;
  for (const RawImage& raw : {ReadRawPng(Path("range.png")), ReadRawTiff(Path("range.tiff"))}) {
    EXPECT_EQ(raw.bits, 16);
    EXPECT_EQ(raw.channels, 3);
    EXPECT_EQ(raw.samples, expected);
  }
}

TEST_F(ImageIoTest, EightBitDocumentsRoundTripExactly) {
  const Document doc = Ramp(7, 5, 8);
  // Mixed-case extensions pick the format too.
  for (const char* name : {"ramp.png", "ramp.tif", "ramp.TIFF", "ramp.Png"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Difference(WriteAndRead(doc, name), doc), "");
  }
  const RawImage raw = ReadRawPng(Path("ramp.png"));
  EXPECT_EQ(raw.bits, 8);
  EXPECT_EQ(raw.channels, 3);
}

TEST_F(ImageIoTest, SamplesBeyondFullScaleAreWrittenAsFullScale) {
  Document eight = Document::Make(1, 1, 8);
  eight.samples = {255, 256, 65535};
  Document sixteen = Document::Make(1, 1, 16);
  sixteen.samples = {32768, 32769, 65535};
  for (const char* name : {"over.png", "over.tif"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(WriteAndRead(eight, std::string("8") + name).samples, (std::vector<uint16_t>{255, 255, 255}));
    EXPECT_EQ(WriteAndRead(sixteen, std::string("16") + name).samples, (std::vector<uint16_t>{32768, 32768, 32768}));
  }
}

TEST_F(ImageIoTest, JpegIsEightBitAndClose) {
  // Flat colours survive JPEG within a level or two; a 16-bit document is
  // brought to 8 bits by rounding (16384 -> 128).
  struct Case {
    const char* name;
    int depth;
    uint16_t rgb[3];
    int expected[3];
  } const cases[] = {
      {"flat.jpg", 8, {200, 100, 50}, {200, 100, 50}},
      {"flat16.JPEG", 16, {16384, 32768, 0}, {128, 255, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Document doc = Document::Make(24, 16, c.depth);
    for (std::size_t i = 0; i < doc.samples.size(); ++i) doc.samples[i] = c.rgb[i % 3];
    const Document back = WriteAndRead(doc, c.name);
    ASSERT_EQ(back.width, 24);
    ASSERT_EQ(back.height, 16);
    EXPECT_EQ(back.depth, 8);
    for (std::size_t i = 0; i < back.samples.size(); ++i) {
      ASSERT_NEAR(back.samples[i], c.expected[i % 3], 2) << i;
    }
  }
}

TEST_F(ImageIoTest, FormatComesFromTheBytesNotTheName) {
  const Document doc = Ramp(6, 4, 16);
  std::string error;
  ASSERT_TRUE(WriteImage(Path("a.png"), doc, error)) << error;
  ASSERT_TRUE(WriteImage(Path("b.tif"), doc, error)) << error;
  SaveBytes(Path("png_named.jpg"), LoadBytes(Path("a.png")));
  SaveBytes(Path("tiff_named.png"), LoadBytes(Path("b.tif")));
  SaveBytes(Path("no_extension"), LoadBytes(Path("a.png")));
  for (const char* name : {"png_named.jpg", "tiff_named.png", "no_extension"}) {
    SCOPED_TRACE(name);
    Document back;
    ASSERT_TRUE(ReadImage(Path(name), back, error)) << error;
    EXPECT_EQ(Difference(back, doc), "");
  }
}

// ------------------------------------------------------------ PngSuite

struct Probe {
  int x, y;
  uint16_t r, g, b;
};
struct SuiteCase {
  const char* name;
  int depth;
  Probe probes[4];
};

// Expected pixels decoded independently from the files' raw data: low bit
// depths scaled to 0..255, palettes looked up, 16-bit samples mapped to 0..32768.
const SuiteCase kSuite[] = {
    {"basn0g01", 8, {{0, 0, 255, 255, 255}, {31, 31, 0, 0, 0}, {13, 7, 0, 0, 0}, {4, 0, 255, 255, 255}}},
    {"basn0g02", 8, {{0, 0, 0, 0, 0}, {31, 31, 170, 170, 170}, {13, 7, 0, 0, 0}, {4, 0, 85, 85, 85}}},
    {"basn0g04", 8, {{0, 0, 0, 0, 0}, {31, 31, 238, 238, 238}, {13, 7, 68, 68, 68}, {4, 0, 17, 17, 17}}},
    {"basn0g08", 8, {{0, 0, 0, 0, 0}, {31, 31, 3, 3, 3}, {13, 7, 237, 237, 237}, {4, 0, 4, 4, 4}}},
    {"basn0g16",
     16,
     {{0, 0, 0, 0, 0}, {31, 31, 128, 128, 128}, {13, 7, 16768, 16768, 16768}, {4, 0, 4608, 4608, 4608}}},
    {"basn2c08", 8, {{0, 0, 255, 255, 255}, {31, 31, 0, 0, 0}, {13, 7, 255, 255, 18}, {4, 0, 255, 255, 251}}},
    {"basn2c16",
     16,
     {{0, 0, 32768, 32768, 0}, {31, 31, 0, 0, 32768}, {13, 7, 19027, 25369, 0}, {4, 0, 28540, 32768, 0}}},
    {"basn3p01", 8, {{0, 0, 238, 255, 34}, {31, 31, 238, 255, 34}, {13, 7, 238, 255, 34}, {4, 0, 34, 102, 255}}},
    {"basn3p02", 8, {{0, 0, 0, 0, 255}, {31, 31, 0, 0, 255}, {13, 7, 255, 255, 0}, {4, 0, 255, 0, 0}}},
    {"basn3p04", 8, {{0, 0, 255, 0, 0}, {31, 31, 255, 0, 187}, {13, 7, 119, 255, 0}, {4, 0, 255, 102, 0}}},
    {"basn3p08", 8, {{0, 0, 1, 0, 0}, {31, 31, 255, 254, 255}, {13, 7, 58, 119, 0}, {4, 0, 1, 2, 0}}},
    {"basn4a08", 8, {{0, 0, 255, 255, 255}, {31, 31, 0, 0, 0}, {13, 7, 197, 197, 197}, {4, 0, 255, 255, 255}}},
    {"basn4a16", 16, {{0, 0, 0, 0, 0}, {31, 31, 0, 0, 0}, {13, 7, 23130, 23130, 23130}, {4, 0, 8456, 8456, 8456}}},
    {"basn6a08", 8, {{0, 0, 255, 0, 8}, {31, 31, 0, 32, 255}, {13, 7, 255, 223, 7}, {4, 0, 255, 0, 8}}},
    {"basn6a16",
     16,
     {{0, 0, 32768, 32768, 0}, {31, 31, 0, 0, 32768}, {13, 7, 21202, 32768, 0}, {4, 0, 28539, 32768, 0}}},
    // Palette with transparency: the colours as stored, the transparency kept as alpha.
    {"tbbn3p08", 8, {{0, 0, 255, 255, 255}, {31, 31, 255, 255, 255}, {13, 7, 143, 79, 79}, {4, 0, 255, 255, 255}}},
};

TEST(PngSuite, EveryLayoutReadsAsRgbWithItsAlpha) {
  for (const SuiteCase& c : kSuite) {
    SCOPED_TRACE(c.name);
    Document doc;
    std::string error;
    ASSERT_TRUE(ReadImage(kPngSuite + c.name + ".png", doc, error)) << error;
    EXPECT_EQ(doc.width, 32);
    EXPECT_EQ(doc.height, 32);
    EXPECT_EQ(doc.depth, c.depth);
    ASSERT_EQ(doc.samples.size(), 32u * 32u * 3u);
    for (const Probe& p : c.probes) {
      EXPECT_EQ(doc.At(p.x, p.y, 0), p.r) << p.x << "," << p.y;
      EXPECT_EQ(doc.At(p.x, p.y, 1), p.g) << p.x << "," << p.y;
      EXPECT_EQ(doc.At(p.x, p.y, 2), p.b) << p.x << "," << p.y;
    }
    const bool grey = c.name[4] == '0' || c.name[4] == '4';
    EXPECT_EQ(doc.grey, grey);
    const bool alpha = c.name[4] == '4' || c.name[4] == '6' || c.name[0] == 't';
    EXPECT_EQ(doc.alpha.size(), alpha ? 32u * 32u : 0u);
    for (int y = 0; grey && y < 32; ++y) {
      for (int x = 0; x < 32; ++x) {
        ASSERT_EQ(doc.At(x, y, 0), doc.At(x, y, 1)) << x << "," << y;
        ASSERT_EQ(doc.At(x, y, 0), doc.At(x, y, 2)) << x << "," << y;
      }
    }
  }
}

TEST(PngSuite, InterlacedFilesEqualPlainOnes) {
  const char* const layouts[] = {"0g01", "0g02", "0g04", "0g08", "0g16", "2c08", "2c16", "3p01",
                                 "3p02", "3p04", "3p08", "4a08", "4a16", "6a08", "6a16"};
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const char* l : layouts) pairs.emplace_back(std::string("basn") + l, std::string("basi") + l);
  // Odd sizes leave Adam7 passes empty or partial.
  pairs.emplace_back("s01n3p01", "s01i3p01");
  pairs.emplace_back("s07n3p02", "s07i3p02");
  for (const auto& [plain, interlaced] : pairs) {
    SCOPED_TRACE(interlaced);
    Document a, b;
    std::string error;
    ASSERT_TRUE(ReadImage(kPngSuite + plain + ".png", a, error)) << error;
    ASSERT_TRUE(ReadImage(kPngSuite + interlaced + ".png", b, error)) << error;
    EXPECT_EQ(Difference(a, b), "");
  }
}

TEST(PngSuite, CorruptFilesAreRefused) {
  for (const char* name : {"xc1n0g08", "xc9n2c08", "xcrn0g04", "xcsn0g01", "xd0n2c08", "xd3n2c08", "xd9n2c08",
                           "xdtn0g01", "xhdn0g08", "xlfn0g04", "xs1n0g01", "xs2n0g01", "xs4n0g01", "xs7n0g01"}) {
    SCOPED_TRACE(name);
    ExpectReadFails(kPngSuite + name + ".png");
  }
}

// ------------------------------------------------------------ JPEG layouts

// Writes a flat-coloured JPEG of any colour space straight with libjpeg.
void WriteFlatJpeg(const std::string& path, J_COLOR_SPACE space, const std::vector<uint8_t>& pixel) {
  jpeg_compress_struct ci;
  jpeg_error_mgr err;
  ci.err = jpeg_std_error(&err);
  jpeg_create_compress(&ci);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  jpeg_stdio_dest(&ci, file);
  ci.image_width = 16;
  ci.image_height = 8;
  ci.input_components = static_cast<int>(pixel.size());
  ci.in_color_space = space;
  jpeg_set_defaults(&ci);
  jpeg_set_quality(&ci, 100, TRUE);
  jpeg_start_compress(&ci, TRUE);
  std::vector<uint8_t> row;
  for (int x = 0; x < 16; ++x) row.insert(row.end(), pixel.begin(), pixel.end());
  while (ci.next_scanline < ci.image_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&ci, rows, 1);
  }
  jpeg_finish_compress(&ci);
  jpeg_destroy_compress(&ci);
  std::fclose(file);
}

TEST_F(ImageIoTest, GreyAndCmykJpegsBecomeRgb) {
  struct Case {
    const char* name;
    J_COLOR_SPACE space;
    std::vector<uint8_t> stored;
    int rgb[3];
  } const cases[] = {
      {"grey.jpg", JCS_GRAYSCALE, {77}, {77, 77, 77}},
      // libjpeg marks CMYK with the Adobe marker, whose files hold inverted
      // inks: R = C' * K' / 255 on the stored values.
      {"cmyk.jpg", JCS_CMYK, {255, 0, 0, 255}, {255, 0, 0}},
      {"cmyk_mixed.jpg", JCS_CMYK, {200, 100, 50, 220}, {173, 86, 43}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFlatJpeg(Path(c.name), c.space, c.stored);
    Document doc;
    std::string error;
    ASSERT_TRUE(ReadImage(Path(c.name), doc, error)) << error;
    ASSERT_EQ(doc.width, 16);
    ASSERT_EQ(doc.height, 8);
    EXPECT_EQ(doc.depth, 8);
    for (std::size_t i = 0; i < doc.samples.size(); ++i) ASSERT_NEAR(doc.samples[i], c.rgb[i % 3], 2) << i;
  }
}

TEST(Jpeg, SamplePhotographReadsAtItsSize) {
  Document doc;
  std::string error;
  ASSERT_TRUE(ReadImage(kRocket, doc, error)) << error;
  EXPECT_EQ(doc.width, 640);
  EXPECT_EQ(doc.height, 427);
  EXPECT_EQ(doc.depth, 8);
  EXPECT_NE(*std::max_element(doc.samples.begin(), doc.samples.end()), 0);
}

// ------------------------------------------------------------ TIFF layouts

struct TiffSpec {
  uint32_t width = 0, height = 0;
  uint16_t bits = 8, spp = 3, photometric = PHOTOMETRIC_RGB;
  uint16_t planar = PLANARCONFIG_CONTIG;
  uint16_t format = SAMPLEFORMAT_UINT;
  uint16_t compression = COMPRESSION_NONE;
  uint32_t tile = 0;  // 0: strips of two rows
};

// Writes `raw` (samples of every plane one after another, 16-bit ones in
// machine order) with libtiff in the given layout. Tile parts outside the
// picture are filled with junk the reader must ignore.
void WriteTestTiff(const std::string& path, const TiffSpec& s, const std::vector<uint8_t>& raw) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, s.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.spp);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, s.planar);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, s.format);
  TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
  const uint16_t colour = s.photometric == PHOTOMETRIC_RGB ? 3 : (s.photometric == PHOTOMETRIC_SEPARATED ? 4 : 1);
  if (s.spp > colour) {
    std::vector<uint16_t> extra(s.spp - colour, EXTRASAMPLE_UNASSALPHA);
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(extra.size()), extra.data());
  }
  if (s.photometric == PHOTOMETRIC_PALETTE) {
    std::vector<uint16_t> map(std::size_t{1} << s.bits, 0);
    TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
  }

  const bool contig = s.planar == PLANARCONFIG_CONTIG;
  const uint32_t planes = contig ? 1 : s.spp;
  const std::size_t pixelBytes = (contig ? s.spp : 1) * (s.bits / 8);
  const std::size_t rowBytes = s.width * pixelBytes;
  const std::size_t planeBytes = rowBytes * s.height;
  if (s.tile) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, s.tile);
    TIFFSetField(t, TIFFTAG_TILELENGTH, s.tile);
    std::vector<uint8_t> tile(s.tile * s.tile * pixelBytes);
    for (uint32_t p = 0; p < planes; ++p) {
      for (uint32_t ty = 0; ty < s.height; ty += s.tile) {
        for (uint32_t tx = 0; tx < s.width; tx += s.tile) {
          std::fill(tile.begin(), tile.end(), 0xA5);
          for (uint32_t y = ty; y < std::min(ty + s.tile, s.height); ++y) {
            const uint32_t cols = std::min(s.tile, s.width - tx);
            std::memcpy(tile.data() + (y - ty) * s.tile * pixelBytes,
                        raw.data() + p * planeBytes + y * rowBytes + tx * pixelBytes, cols * pixelBytes);
          }
          ASSERT_GE(TIFFWriteTile(t, tile.data(), tx, ty, 0, static_cast<uint16_t>(p)), 0);
        }
      }
    }
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2u);
    std::vector<uint8_t> row(rowBytes);
    for (uint32_t p = 0; p < planes; ++p) {
      for (uint32_t y = 0; y < s.height; ++y) {
        std::memcpy(row.data(), raw.data() + p * planeBytes + y * rowBytes, rowBytes);
        ASSERT_GE(TIFFWriteScanline(t, row.data(), y, static_cast<uint16_t>(p)), 0);
      }
    }
  }
  TIFFClose(t);
}

std::vector<uint8_t> Bytes16(const std::vector<uint16_t>& samples) {
  std::vector<uint8_t> bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

TEST_F(ImageIoTest, TiffLayoutsAllReadTheSamePicture) {
  // An RGBA picture (alpha kept beside the colour, unassociated) with edge
  // tiles cut by the picture's border, written as strips or tiles, contiguous
  // or in planes, plain or compressed: every layout reads as the same document.
  const uint32_t w = 20, h = 18;
  for (uint16_t bits : {uint16_t{8}, uint16_t{16}}) {
    auto fileSample = [&](uint32_t x, uint32_t y, uint32_t c) -> uint32_t {
      return bits == 8 ? (x * 11 + y * 7 + c * 50) % 256 : (x * 3001 + y * 7919 + c * 12345) % 65536;
    };
    Document expected = Document::Make(w, h, bits);
    std::vector<uint16_t> expectedAlpha;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        for (int c = 0; c < 3; ++c) {
          const uint32_t u = fileSample(x, y, c);
          expected.At(x, y, c) = static_cast<uint16_t>(bits == 8 ? u : FileToDocument16(u));
        }
        const uint32_t a = fileSample(x, y, 3);
        expectedAlpha.push_back(static_cast<uint16_t>(bits == 8 ? a : FileToDocument16(a)));
      }
    for (uint16_t planar : {uint16_t{PLANARCONFIG_CONTIG}, uint16_t{PLANARCONFIG_SEPARATE}}) {
      std::vector<uint16_t> samples;
      const bool contig = planar == PLANARCONFIG_CONTIG;
      for (uint32_t p = 0; p < (contig ? 1u : 4u); ++p)
        for (uint32_t y = 0; y < h; ++y)
          for (uint32_t x = 0; x < w; ++x)
            for (uint32_t c = 0; c < (contig ? 4u : 1u); ++c)
              samples.push_back(static_cast<uint16_t>(fileSample(x, y, contig ? c : p)));
      std::vector<uint8_t> raw = bits == 16 ? Bytes16(samples) : std::vector<uint8_t>(samples.begin(), samples.end());
      for (uint32_t tile : {0u, 16u}) {
        for (uint16_t compression : {uint16_t{COMPRESSION_NONE}, uint16_t{COMPRESSION_ADOBE_DEFLATE}}) {
          const std::string name = "layout_" + std::to_string(bits) + "_" + std::to_string(planar) + "_" +
                                   std::to_string(tile) + "_" + std::to_string(compression) + ".tif";
          SCOPED_TRACE(name);
          TiffSpec layout;
          layout.width = w;
          layout.height = h;
          layout.bits = bits;
          layout.spp = 4;
          layout.planar = planar;
          layout.tile = tile;
          layout.compression = compression;
          WriteTestTiff(Path(name), layout, raw);
          Document doc;
          std::string error;
          ASSERT_TRUE(ReadImage(Path(name), doc, error)) << error;
          EXPECT_EQ(Difference(doc, expected), "");
          EXPECT_EQ(doc.alpha, expectedAlpha);
        }
      }
    }
  }
}

TEST_F(ImageIoTest, GreyTiffsReadAsGreyRgb) {
  struct Case {
    const char* name;
    TiffSpec layout;
    std::vector<uint8_t> raw;
    std::vector<uint16_t> grey;  // expected value of each pixel, on R, G and B
  };
  TiffSpec whiteIsZero{4, 1, 16, 1, PHOTOMETRIC_MINISWHITE};
  TiffSpec greyAlpha{2, 1, 8, 2, PHOTOMETRIC_MINISBLACK};
  const Case cases[] = {
      {"miniswhite16.tif", whiteIsZero, Bytes16({0, 65535, 32768, 1}), {32768, 0, 16384, 32767}},
      {"greyalpha8.tif", greyAlpha, {5, 200, 250, 0}, {5, 250}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteTestTiff(Path(c.name), c.layout, c.raw);
    Document doc;
    std::string error;
    ASSERT_TRUE(ReadImage(Path(c.name), doc, error)) << error;
    EXPECT_EQ(doc.depth, c.layout.bits);
    ASSERT_EQ(doc.samples.size(), c.grey.size() * 3);
    for (std::size_t i = 0; i < doc.samples.size(); ++i) EXPECT_EQ(doc.samples[i], c.grey[i / 3]) << i;
    EXPECT_TRUE(doc.grey);
    EXPECT_EQ(doc.alpha.size(), c.layout.spp == 2 ? c.grey.size() : 0u);
  }
}

TEST_F(ImageIoTest, FloatTiffsAreClippedWithAWarning) {
  // 0, 0.5 and 1 map exactly; values outside 0..1 are clipped and counted.
  const float values[] = {0.0f, 0.5f, 1.0f, 2.0f, -0.25f, 0.25f};
  std::vector<uint8_t> raw(sizeof values);
  std::memcpy(raw.data(), values, sizeof values);
  WriteTestTiff(Path("float.tif"), {2, 1, 32, 3, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, SAMPLEFORMAT_IEEEFP}, raw);
  Document doc;
  std::string error, warning;
  ASSERT_TRUE(ReadImage(Path("float.tif"), doc, error, warning)) << error;
  EXPECT_EQ(doc.depth, 16);
  EXPECT_EQ(doc.samples, (std::vector<uint16_t>{0, 16384, 32768, 32768, 0, 8192}));
  EXPECT_EQ(warning, Path("float.tif") + ": 2 float samples outside 0..1 were clipped");
}

TEST_F(ImageIoTest, OtherTiffLayoutsReadOrAreRefusedByName) {
  // Palette (without a colour map), signed and CMYK files: a picture of the
  // right size or a clean one-line refusal, never a crash or a hang.
  struct Case {
    const char* name;
    TiffSpec layout;
    std::size_t rawBytes;
  };
  const Case cases[] = {
      {"palette.tif", {2, 2, 8, 1, PHOTOMETRIC_PALETTE}, 4},
      {"signed.tif", {2, 2, 16, 3, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, SAMPLEFORMAT_INT}, 24},
      {"separated.tif", {2, 2, 8, 4, PHOTOMETRIC_SEPARATED}, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteTestTiff(Path(c.name), c.layout, std::vector<uint8_t>(c.rawBytes, 1));
    Document doc;
    std::string error;
    if (ReadImage(Path(c.name), doc, error)) {
      EXPECT_EQ(doc.width, 2);
      EXPECT_EQ(doc.samples.size(), 12u);
    } else {
      ExpectCleanError(Path(c.name), error);
    }
  }
}

// A little-endian grey 8-bit TIFF in one strip, built byte by byte so that its
// header can claim what its data does not hold.
std::vector<uint8_t> HandMadeTiff(uint32_t width, uint32_t height, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0};
  auto put16 = [&](uint32_t v) {
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
  };
  auto put32 = [&](uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  const uint32_t entries = 9;
  const uint32_t dataOffset = 8 + 2 + entries * 12 + 4;
  auto entry = [&](uint32_t tag, uint32_t type, uint32_t value) {
    put16(tag);
    put16(type);
    put32(1);
    if (type == 3) {
      put16(value);
      put16(0);
    } else {
      put32(value);
    }
  };
  put16(entries);
  entry(256, 4, width);
  entry(257, 4, height);
  entry(258, 3, 8);
  entry(259, 3, 1);               // no compression
  entry(262, 3, 1);               // min-is-black
  entry(273, 4, dataOffset);      // strip offset
  entry(277, 3, 1);               // samples per pixel
  entry(278, 4, height);          // rows per strip
  entry(279, 4, width * height);  // strip byte count
  put32(0);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

TEST_F(ImageIoTest, HandMadeTiffReadsAndShortDataFails) {
  SaveBytes(Path("whole.tif"), HandMadeTiff(3, 2, {0, 10, 20, 30, 40, 255}));
  Document doc;
  std::string error;
  ASSERT_TRUE(ReadImage(Path("whole.tif"), doc, error)) << error;
  EXPECT_EQ(doc.samples,
            (std::vector<uint16_t>{0, 0, 0, 10, 10, 10, 20, 20, 20, 30, 30, 30, 40, 40, 40, 255, 255, 255}));

  // The second row is missing from the file.
  SaveBytes(Path("short.tif"), HandMadeTiff(3, 2, {0, 10, 20}));
  ExpectReadFails(Path("short.tif"));
}

// ------------------------------------------------------------ damaged and oversized files

TEST_F(ImageIoTest, TruncatedFilesFail) {
  // Noise compresses badly, so every cut lands in the image data or after it.
  Document doc = Document::Make(64, 48, 16);
  uint32_t seed = 12345;
  for (uint16_t& s : doc.samples) {
    seed = seed * 1103515245u + 12345u;
    s = static_cast<uint16_t>((seed >> 8) % 32769);
  }
  for (const char* name : {"cut.png", "cut.jpg", "cut.tif"}) {
    std::string error;
    ASSERT_TRUE(WriteImage(Path(name), doc, error)) << error;
    const std::vector<uint8_t> whole = LoadBytes(Path(name));
    for (std::size_t keep : {std::size_t{4}, std::size_t{8}, whole.size() / 2, whole.size() - 1}) {
      const std::string cut = Path(std::to_string(keep) + "_" + name);
      SCOPED_TRACE(cut);
      SaveBytes(cut, std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep)));
      // Refused, unless only what follows the pixels was cut (a PNG's end
      // chunk): never a picture padded where data is missing.
      Document read;
      std::string why;
      if (keep == whole.size() - 1 && ReadImage(cut, read, why)) {
        Document full;
        ASSERT_TRUE(ReadImage(Path(name), full, why)) << why;
        EXPECT_EQ(read, full);
        continue;
      }
      ExpectReadFails(cut);
    }
  }
}

TEST_F(ImageIoTest, DamagedBytesGiveAPictureOrAnErrorNeverACrash) {
  // Run under the sanitizers, this shows that no damage makes a decoder read
  // or write out of bounds or leak.
  const Document doc = Ramp(19, 13, 16);
  uint32_t seed = 99;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  for (const char* name : {"src.png", "src.jpg", "src.tif"}) {
    std::string error;
    ASSERT_TRUE(WriteImage(Path(name), doc, error)) << error;
    const std::vector<uint8_t> whole = LoadBytes(Path(name));
    for (int round = 0; round < 150; ++round) {
      std::vector<uint8_t> bytes = whole;
      for (int flips = 1 + round % 4; flips > 0; --flips) {
        bytes[next() % bytes.size()] = static_cast<uint8_t>(next());
      }
      const std::string damaged = Path(std::string("damaged_") + name);
      SaveBytes(damaged, bytes);
      Document out;
      if (ReadImage(damaged, out, error)) {
        ASSERT_EQ(out.samples.size(), static_cast<std::size_t>(out.width) * out.height * 3);
        ASSERT_LE(*std::max_element(out.samples.begin(), out.samples.end()), out.FullScale());
      } else {
        ExpectCleanError(damaged, error);
      }
    }
  }
}

std::vector<uint8_t> PngWithoutPixels(uint32_t width, uint32_t height) {
  std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto chunk = [&](const char* type, const std::vector<uint8_t>& data) {
    const uint32_t n = static_cast<uint32_t>(data.size());
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(n >> s));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    b.insert(b.end(), body.begin(), body.end());
    const uint32_t crc = static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size())));
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(crc >> s));
  };
  std::vector<uint8_t> ihdr;
  for (uint32_t v : {width, height})
    for (int s = 24; s >= 0; s -= 8) ihdr.push_back(static_cast<uint8_t>(v >> s));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
  chunk("IHDR", ihdr);
  chunk("IDAT", {0x78, 0x9C, 0x03, 0x00});  // a stream far too short for the header's size
  chunk("IEND", {});
  return b;
}

TEST_F(ImageIoTest, OversizedHeadersAreRefusedBeforeAllocating) {
  // 65535 x 65535 passes the per-side limit but not the pixel count.
  SaveBytes(Path("huge.png"), PngWithoutPixels(65535, 65535));
  ExpectReadFails(Path("huge.png"), "exceeds the limit");
  SaveBytes(Path("wide.png"), PngWithoutPixels(70000, 1));
  ExpectReadFails(Path("wide.png"));

  SaveBytes(Path("huge.tif"), HandMadeTiff(65535, 65535, {1, 2, 3}));
  ExpectReadFails(Path("huge.tif"), "exceeds the limit");

  // A real JPEG whose frame header is made to claim 65000 x 65000 pixels.
  std::string error;
  ASSERT_TRUE(WriteImage(Path("small.jpg"), Ramp(8, 8, 8), error)) << error;
  std::vector<uint8_t> jpeg = LoadBytes(Path("small.jpg"));
  std::size_t sof = 0;
  for (std::size_t i = 2; i + 9 < jpeg.size() && !sof; ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) sof = i;
  }
  ASSERT_NE(sof, 0u);
  for (std::size_t k : {5, 6, 7, 8}) jpeg[sof + k] = k % 2 ? 0xFD : 0xE8;  // 65000 = 0xFDE8
  SaveBytes(Path("huge.jpg"), jpeg);
  ExpectReadFails(Path("huge.jpg"), "exceeds the limit");
}

TEST_F(ImageIoTest, ReadingRefusesWhatIsNoImage) {
  SaveBytes(Path("empty.png"), {});
  SaveBytes(Path("text.png"), {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'});
  fs::create_directories(Path("folder.png"));
  ExpectReadFails(Path("missing.png"), "no such file");
  ExpectReadFails(Path("empty.png"), "Not a PNG file");
  ExpectReadFails(Path("text.png"), "Not a PNG file");
  ExpectReadFails(Path("folder.png"));
}

TEST_F(ImageIoTest, WritingRefusesUnknownFormatsAndBadDocuments) {
  const Document good = Ramp(3, 2, 8);
  Document shortSamples = good;
  shortSamples.samples.pop_back();
  Document oddDepth = good;
  oddDepth.depth = 12;
  struct Case {
    std::string name;
    Document doc;
    const char* reason;
  } const cases[] = {
      {"out.xyz", good, "unknown output format"},          {"out", good, "unknown output format"},
      {"out.png.bak", good, "unknown output format"},      {".png", good, "unknown output format"},
      {"short.png", shortSamples, "do not match"},         {"odd.tif", oddDepth, "neither 8 nor 16"},
      {"empty.jpg", Document::Make(0, 0, 8), "no pixels"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    EXPECT_FALSE(WriteImage(Path(c.name), c.doc, error));
    ExpectCleanError(Path(c.name), error);
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(Path(c.name)));
  }
  for (const char* name : {"no/such/folder/out.png", "no/such/folder/out.jpg", "no/such/folder/out.tif"}) {
    SCOPED_TRACE(name);
    std::string error;
    EXPECT_FALSE(WriteImage(Path(name), good, error));
    ExpectCleanError(Path(name), error);
  }
}

}  // namespace
}  // namespace standin

namespace standin {
namespace {

// An EXR header attribute that declares more bytes than the file holds is
// refused before the decoder reserves them; real EXR files still read.
TEST_F(ImageIoTest, ExrHeaderClaimingMoreThanTheFileIsRefused) {
  const Document doc = Ramp(6, 4, 16);
  const Document back = WriteAndRead(doc, "fine.exr");
  EXPECT_EQ(back.width, 6);
  const std::vector<uint8_t> fine = LoadBytes(Path("fine.exr"));
  ASSERT_GT(fine.size(), 8u);
  // The magic and version, then one opaque attribute claiming 1.2 GB.
  std::vector<uint8_t> bomb(fine.begin(), fine.begin() + 8);
  for (char c : std::string("huge\0opaque\0", 12)) bomb.push_back(static_cast<uint8_t>(c));
  for (uint8_t b : {0x00, 0x00, 0x48, 0x48}) bomb.push_back(b);
  bomb.resize(bomb.size() + 64, 0);
  SaveBytes(Path("bomb.exr"), bomb);
  Document read;
  std::string error;
  EXPECT_FALSE(ReadImage(Path("bomb.exr"), read, error));
  EXPECT_NE(error.find("\"huge\" declares"), std::string::npos) << error;
  // A data window beyond the size limit is refused from the header.
  std::vector<uint8_t> wide = fine;
  const std::string key("dataWindow\0box2i\0", 17);
  const auto at = std::search(wide.begin(), wide.end(), key.begin(), key.end());
  ASSERT_NE(at, wide.end());
  const std::size_t xmax = static_cast<std::size_t>(at - wide.begin()) + key.size() + 4 + 8;
  for (int k = 0; k < 4; ++k) wide[xmax + static_cast<std::size_t>(k)] = k == 3 ? 0x70 : 0x00;
  SaveBytes(Path("wide.exr"), wide);
  EXPECT_FALSE(ReadImage(Path("wide.exr"), read, error));
  EXPECT_NE(error.find("exceeds the limit"), std::string::npos) << error;
  // A header cut off before its end is damaged, not read on.
  SaveBytes(Path("cut.exr"), std::vector<uint8_t>(fine.begin(), fine.begin() + 20));
  EXPECT_FALSE(ReadImage(Path("cut.exr"), read, error));
  // A data window within the limit whose table of chunk offsets alone
  // would be larger than the file (30000 x 4000 in a file of a few hundred
  // bytes) is refused before the decoder allocates the table.
  std::vector<uint8_t> tall = fine;
  const std::size_t box = static_cast<std::size_t>(at - wide.begin()) + key.size() + 4;
  const auto put = [&](std::size_t offset, uint32_t v) {
    for (int k = 0; k < 4; ++k) tall[box + offset + static_cast<std::size_t>(k)] = static_cast<uint8_t>(v >> (8 * k));
  };
  put(0, 0), put(4, 0), put(8, 29999), put(12, 3999);
  SaveBytes(Path("tall.exr"), tall);
  EXPECT_FALSE(ReadImage(Path("tall.exr"), read, error));
  EXPECT_NE(error.find("offset table"), std::string::npos) << error;
}

// A PNG chunk declaring more bytes than the file holds is refused before the
// decoder allocates its buffer; a chunk that ends exactly at the file's end
// still reads.
TEST_F(ImageIoTest, PngChunkClaimingMoreThanTheFileIsRefused) {
  const Document doc = Ramp(6, 4, 8);
  EXPECT_EQ(WriteAndRead(doc, "fine.png").width, 6);
  const std::vector<uint8_t> fine = LoadBytes(Path("fine.png"));
  ASSERT_GT(fine.size(), 33u);
  // After the signature and IHDR, a text chunk claiming 1.2 GB.
  std::vector<uint8_t> bomb(fine.begin(), fine.begin() + 33);
  const uint8_t chunk[] = {0x49, 0x00, 0x00, 0x00, 'i', 'T', 'X', 't'};
  bomb.insert(bomb.end(), std::begin(chunk), std::end(chunk));
  bomb.resize(bomb.size() + 64, 0);
  SaveBytes(Path("bomb.png"), bomb);
  Document read;
  std::string error;
  EXPECT_FALSE(ReadImage(Path("bomb.png"), read, error));
  EXPECT_NE(error.find("PNG chunk \"iTXt\" declares"), std::string::npos) << error;
}

// A GIF whose logical screen is beyond the size limit is refused from its
// header: the decoder allocates the screen whole on opening.
TEST_F(ImageIoTest, GifScreenBeyondTheLimitIsRefused) {
  const Document doc = Ramp(6, 4, 8);
  EXPECT_EQ(WriteAndRead(doc, "fine.gif").width, 6);
  std::vector<uint8_t> bytes = LoadBytes(Path("fine.gif"));
  ASSERT_GT(bytes.size(), 10u);
  for (std::size_t i = 6; i < 10; ++i) bytes[i] = 0xff;
  SaveBytes(Path("screen.gif"), bytes);
  Document read;
  std::string error;
  EXPECT_FALSE(ReadImage(Path("screen.gif"), read, error));
  EXPECT_NE(error.find("exceeds the limit"), std::string::npos) << error;
}

// A DPX file declaring more user data than it holds is refused before the
// decoder reserves the block; the file itself reads.
TEST_F(ImageIoTest, DpxUserDataClaimingMoreThanTheFileIsRefused) {
  const Document doc = Ramp(6, 4, 16);
  const Document back = WriteAndRead(doc, "fine.dpx");
  EXPECT_EQ(back.width, 6);
  std::vector<uint8_t> bytes = LoadBytes(Path("fine.dpx"));
  ASSERT_GT(bytes.size(), 780u);
  const bool big = bytes[0] == 'S';
  for (int k = 0; k < 4; ++k) bytes[32 + static_cast<std::size_t>(k)] = static_cast<uint8_t>(big ? (k == 0 ? 0xc5 : 0) : (k == 3 ? 0xc5 : 0));
  SaveBytes(Path("user.dpx"), bytes);
  Document read;
  std::string error;
  EXPECT_FALSE(ReadImage(Path("user.dpx"), read, error));
  EXPECT_NE(error.find("user data declares"), std::string::npos) << error;
}

}  // namespace
}  // namespace standin
