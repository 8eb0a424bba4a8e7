#include "imaging/texture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
#include <sys/stat.h>

#include "framework/memory.h"
#include "imaging/pixel.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const fs::path kPngSuite = fs::path(OVRA_SOURCE_DIR) / "tests/data/pngsuite";
const fs::path kSamples = fs::path(OVRA_SOURCE_DIR) / "data/samples";

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

fs::path WriteTemp(const std::string& name, const Bytes& bytes) {
  const fs::path path = fs::path(testing::TempDir()) / ("ovra_texture_" + name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

fx::RasterRef Decode(const Bytes& file, bool sixteenBit) {
  return fx::DecodeTexture(file, sixteenBit);
}

// Every sample of a one-channel texture, row by row.
std::vector<int32_t> Samples(const fx::Raster& r) {
  std::vector<int32_t> out;
  for (int32_t y = 0; y < r.Height(); ++y)
    for (int32_t x = 0; x < r.Width(); ++x)
      out.push_back(r.Is16Bit() ? r.RowAs<uint16_t>(y)[x] : r.Row(y)[x]);
  return out;
}

// Loads at both depths, checks the shape of both and that the 16-bit samples
// are the 8-bit ones widened; returns the 8-bit samples.
std::vector<int32_t> LoadBothDepths(const Bytes& file, int32_t width, int32_t height) {
  const fx::RasterRef r8 = Decode(file, false);
  const fx::RasterRef r16 = Decode(file, true);
  if (!r8 || !r16) {
    ADD_FAILURE() << "no texture";
    return {};
  }
  EXPECT_EQ(r8->Width(), width);
  EXPECT_EQ(r8->Height(), height);
  EXPECT_EQ(r8->Channels(), 1);
  EXPECT_EQ(r8->BytesPerSample(), 1u);
  EXPECT_EQ(r16->Width(), width);
  EXPECT_EQ(r16->Height(), height);
  EXPECT_EQ(r16->Channels(), 1);
  EXPECT_EQ(r16->BytesPerSample(), 2u);
  std::vector<int32_t> s8 = Samples(*r8);
  std::vector<int32_t> widened;
  for (int32_t s : s8) widened.push_back(fx::Magnitude8To16(s));
  EXPECT_EQ(Samples(*r16), widened);
  return s8;
}

// ---- A minimal PNG writer, so that fixtures can say exactly what they hold
// (stored deflate blocks, filter type 0).

uint32_t Crc32(const uint8_t* p, std::size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutBE32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutChunk(Bytes& out, const char* type, const Bytes& payload) {
  PutBE32(out, static_cast<uint32_t>(payload.size()));
  Bytes body(type, type + 4);
  body.insert(body.end(), payload.begin(), payload.end());
  out.insert(out.end(), body.begin(), body.end());
  PutBE32(out, Crc32(body.data(), body.size()));
}

Bytes ZlibStored(const Bytes& raw) {
  Bytes z = {0x78, 0x01};
  std::size_t at = 0;
  do {
    const std::size_t n = std::min<std::size_t>(raw.size() - at, 65535);
    z.push_back(at + n == raw.size() ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
             raw.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  PutBE32(z, (b << 16) | a);
  return z;
}

// A PNG of the given header whose image data is scanlines (filter bytes
// included), however much or little of the image they cover.
Bytes MakePng(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colourType, const Bytes& scanlines) {
  Bytes png = {137, 80, 78, 71, 13, 10, 26, 10};
  Bytes ihdr;
  PutBE32(ihdr, width);
  PutBE32(ihdr, height);
  ihdr.insert(ihdr.end(), {bitDepth, colourType, 0, 0, 0});
  PutChunk(png, "IHDR", ihdr);
  PutChunk(png, "IDAT", ZlibStored(scanlines));
  PutChunk(png, "IEND", {});
  return png;
}

// Scanlines of 8-bit or 16-bit (big-endian) samples, width per row.
Bytes Scanlines(const std::vector<uint32_t>& samples, std::size_t width, int bytesPerSample) {
  Bytes out;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (i % width == 0) out.push_back(0);
    if (bytesPerSample == 2) out.push_back(static_cast<uint8_t>(samples[i] >> 8));
    out.push_back(static_cast<uint8_t>(samples[i]));
  }
  return out;
}

// ---- JPEG fixtures made and read back with libjpeg itself.

struct JpegSpec {
  int width = 16, height = 16;
  J_COLOR_SPACE inSpace = JCS_GRAYSCALE;
  int components = 1;
  J_COLOR_SPACE fileSpace = JCS_UNKNOWN;  // libjpeg's default for inSpace when unknown
  bool progressive = false;
  bool arithmetic = false;
  int restartRows = 0;
};

// A picture with detail in every channel; a comment and an APP2 segment make
// the decoder skip data.
Bytes EncodeJpeg(const JpegSpec& jpeg) {
  Bytes pixels(static_cast<std::size_t>(jpeg.width) * jpeg.height * jpeg.components);
  for (int y = 0; y < jpeg.height; ++y)
    for (int x = 0; x < jpeg.width; ++x)
      for (int c = 0; c < jpeg.components; ++c)
        pixels[(static_cast<std::size_t>(y) * jpeg.width + x) * jpeg.components + c] =
            static_cast<uint8_t>((x * 37 + y * 11 + c * 90 + ((x ^ y) & 4) * 20) & 0xFF);
  jpeg_compress_struct c{};
  jpeg_error_mgr errors{};
  c.err = jpeg_std_error(&errors);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(jpeg.width);
  c.image_height = static_cast<JDIMENSION>(jpeg.height);
  c.input_components = jpeg.components;
  c.in_color_space = jpeg.inSpace;
  jpeg_set_defaults(&c);
  if (jpeg.fileSpace != JCS_UNKNOWN) jpeg_set_colorspace(&c, jpeg.fileSpace);
  jpeg_set_quality(&c, 90, TRUE);
  if (jpeg.progressive) jpeg_simple_progression(&c);
  c.arith_code = jpeg.arithmetic ? TRUE : FALSE;
  c.restart_in_rows = jpeg.restartRows;
  jpeg_start_compress(&c, TRUE);
  const std::string comment(300, 'c');
  jpeg_write_marker(&c, JPEG_COM, reinterpret_cast<const JOCTET*>(comment.data()), 300);
  jpeg_write_marker(&c, JPEG_APP0 + 2, reinterpret_cast<const JOCTET*>(comment.data()), 40);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = &pixels[static_cast<std::size_t>(c.next_scanline) * jpeg.width * jpeg.components];
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  Bytes file(out, out + size);
  jpeg_destroy_compress(&c);
  std::free(out);
  return file;
}

// The picture as libjpeg's own memory source decodes it, reduced to grey:
// grey files as they are, colour files as (R + G + B) / 3.
struct ReferenceGrey {
  int32_t width = 0, height = 0;
  std::vector<int32_t> samples;
};

ReferenceGrey DecodeReference(const Bytes& file) {
  jpeg_decompress_struct d{};
  jpeg_error_mgr errors{};
  d.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&d, TRUE);
  jpeg_start_decompress(&d);
  ReferenceGrey ref{static_cast<int32_t>(d.output_width), static_cast<int32_t>(d.output_height), {}};
  const int n = d.output_components;
  Bytes line(static_cast<std::size_t>(d.output_width) * n);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = line.data();
    jpeg_read_scanlines(&d, &row, 1);
    for (std::size_t x = 0; x < d.output_width; ++x) {
      const uint8_t* p = &line[x * n];
      ref.samples.push_back(n == 1 ? p[0] : (p[0] + p[1] + p[2]) / 3);
    }
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return ref;
}

// Offset of the first marker after the entropy-coded data that starts at
// 'from' (stuffed zeros, fill bytes and restart markers belong to the data).
std::size_t EndOfScan(const Bytes& jpeg, std::size_t from) {
  for (std::size_t i = from; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] != 0xFF) continue;
    const uint8_t next = jpeg[i + 1];
    if (next != 0x00 && next != 0xFF && (next < 0xD0 || next > 0xD7)) return i;
  }
  return jpeg.size();
}

// Repeats the first scan (a progressive file's DC scan, which decodes the
// same every time) so that the file has 'extra' more scans.
Bytes WithRepeatedFirstScan(const Bytes& jpeg, int extra) {
  std::size_t sos = 0;
  while (!(jpeg[sos] == 0xFF && jpeg[sos + 1] == 0xDA)) ++sos;
  const std::size_t length = (jpeg[sos + 2] << 8) | jpeg[sos + 3];
  const std::size_t end = EndOfScan(jpeg, sos + 2 + length);
  Bytes out(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(end));
  for (int i = 0; i < extra; ++i)
    out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(sos),
               jpeg.begin() + static_cast<std::ptrdiff_t>(end));
  out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(end), jpeg.end());
  return out;
}

// A memory handler that records the largest block asked for and can refuse
// the n-th request.
class WatchedMemory final : public fx::MemoryHandler {
 public:
  void* Allocate(std::size_t size) override {
    largest = std::max(largest, size);
    if (failAt >= 0 && requests++ == failAt) throw fx::OutOfMemory();
    void* block = std::malloc(size);
    if (block == nullptr) throw fx::OutOfMemory();
    return block;
  }
  void Free(void* block) override { std::free(block); }

  std::size_t largest = 0;
  int requests = 0;
  int failAt = -1;
};

class MemoryScope {
 public:
  explicit MemoryScope(fx::MemoryHandler* handler) : previous_(fx::InstallMemoryHandler(handler)) {}
  ~MemoryScope() { fx::InstallMemoryHandler(previous_); }

 private:
  fx::MemoryHandler* previous_;
};

// ---- PNG -----------------------------------------------------------------

TEST(TextureTest, GreyPngGivesItsSamplesAtBothDepths) {
  // 3 x 2, 8-bit grey.
  const std::vector<uint32_t> grey = {0, 1, 127, 128, 254, 255};
  EXPECT_EQ(LoadBothDepths(MakePng(3, 2, 8, 0, Scanlines(grey, 3, 1)), 3, 2),
            (std::vector<int32_t>{0, 1, 127, 128, 254, 255}));
  const fx::RasterRef r16 = Decode(MakePng(3, 2, 8, 0, Scanlines(grey, 3, 1)), true);
  ASSERT_TRUE(r16);
  EXPECT_EQ(Samples(*r16), (std::vector<int32_t>{0, 129, 16320, 16448, 32639, 32768}));
}

TEST(TextureTest, SixteenBitPngIsCutToEightBitsThenWidened) {
  const std::vector<uint32_t> grey = {0, 255, 256, 0x7FFF, 0x8000, 65535};
  const Bytes png = MakePng(3, 2, 16, 0, Scanlines(grey, 3, 2));
  EXPECT_EQ(LoadBothDepths(png, 3, 2), (std::vector<int32_t>{0, 0, 1, 127, 128, 255}));
  const fx::RasterRef r16 = Decode(png, true);
  ASSERT_TRUE(r16);
  EXPECT_EQ(Samples(*r16), (std::vector<int32_t>{0, 0, 129, 16320, 16448, 32768}));
}

TEST(TextureTest, PngSuiteGreyFilesLoadAndEveryOtherColourTypeIsRefused) {
  int grey = 0, refused = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(kPngSuite)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".png") continue;
    SCOPED_TRACE(name);
    const Bytes file = ReadFile(entry.path());
    // The name says the colour type ("0g" grey) and bit depth; "x" files are corrupt.
    if (name[0] != 'x' && name.substr(4, 2) == "0g") {
      const std::vector<int32_t> s = LoadBothDepths(file, 32, 32);
      const int depth = std::stoi(name.substr(6, 2));
      // Fewer than 8 bits go through libpng's expansion, which spreads the
      // levels evenly over 0..255.
      if (depth < 8) {
        const int step = 255 / ((1 << depth) - 1);
        for (int32_t v : s) ASSERT_EQ(v % step, 0) << v;
      }
      ++grey;
    } else {
      EXPECT_FALSE(Decode(file, false));
      EXPECT_FALSE(Decode(file, true));
      ++refused;
    }
  }
  EXPECT_EQ(grey, 22);
  EXPECT_GT(refused, 30);
}

TEST(TextureTest, PngSuiteVariantsOfOnePictureDecodeAlike) {
  // Interlaced and plain, the image data in 1 to 9 chunks: the same picture
  // each time.
  const std::vector<std::vector<const char*>> groups = {
      {"basn0g01.png", "basi0g01.png"},
      {"basn0g02.png", "basi0g02.png"},
      {"basn0g04.png", "basi0g04.png"},
      {"basn0g08.png", "basi0g08.png"},
      {"basn0g16.png", "basi0g16.png", "oi1n0g16.png", "oi2n0g16.png", "oi4n0g16.png", "oi9n0g16.png"},
  };
  for (const auto& group : groups) {
    const fx::RasterRef first = Decode(ReadFile(kPngSuite / group[0]), false);
    ASSERT_TRUE(first) << group[0];
    for (const char* name : group) {
      const fx::RasterRef other = Decode(ReadFile(kPngSuite / name), false);
      ASSERT_TRUE(other) << name;
      EXPECT_EQ(Samples(*other), Samples(*first)) << name << " differs from " << group[0];
    }
  }
}

TEST(TextureTest, TruncatedPngIsRefusedWhereverItEnds) {
  const Bytes whole = MakePng(5, 4, 8, 0, Scanlines(std::vector<uint32_t>(20, 77), 5, 1));
  ASSERT_TRUE(Decode(whole, false));
  for (std::size_t n = 0; n < whole.size(); ++n) {
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(Decode(cut, false)) << n << " bytes";
    EXPECT_FALSE(Decode(cut, true)) << n << " bytes";
  }
  const Bytes interlaced = ReadFile(kPngSuite / "basi0g16.png");
  for (std::size_t n : {std::size_t{8}, std::size_t{33}, interlaced.size() / 2, interlaced.size() - 12})
    EXPECT_FALSE(Decode(Bytes(interlaced.begin(), interlaced.begin() + static_cast<std::ptrdiff_t>(n)), true))
        << n << " bytes";
}

TEST(TextureTest, PngTooLargeForMemoryIsRefusedBeforeAnythingIsAllocated) {
  // Headers claiming far more pixels than a texture may have, followed by
  // one row of data.
  struct Case {
    uint32_t width, height;
  };
  for (const Case c : {Case{100000, 100000}, Case{60000, 60000}, Case{65535, 65535}, Case{1, 2000000},
                       Case{0x7FFFFFFF, 1}}) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    WatchedMemory memory;
    MemoryScope scope(&memory);
    EXPECT_FALSE(Decode(MakePng(c.width, c.height, 8, 0, Bytes(200, 0)), true));
    EXPECT_LT(memory.largest, std::size_t{4096});
  }
}

// ---- JPEG ----------------------------------------------------------------

TEST(TextureTest, SampleJpegGivesTheAverageOfItsColours) {
  const Bytes file = ReadFile(kSamples / "rocket.jpg");
  const ReferenceGrey ref = DecodeReference(file);
  ASSERT_EQ(ref.width, 640);
  EXPECT_EQ(LoadBothDepths(file, ref.width, ref.height), ref.samples);
}

TEST(TextureTest, JpegsOfEveryCodingMatchLibjpegsOwnDecoding) {
  const JpegSpec specs[] = {
      {16, 16, JCS_GRAYSCALE, 1, JCS_UNKNOWN, false},
      {21, 13, JCS_RGB, 3, JCS_UNKNOWN, false},
      {21, 13, JCS_RGB, 3, JCS_UNKNOWN, true},
      {9, 30, JCS_GRAYSCALE, 1, JCS_UNKNOWN, true},
      {17, 5, JCS_RGB, 3, JCS_RGB, false},  // stored as RGB, not YCbCr
      {40, 24, JCS_RGB, 3, JCS_UNKNOWN, false, false, 1},
      {40, 24, JCS_RGB, 3, JCS_UNKNOWN, false, true, 1},
      {33, 17, JCS_GRAYSCALE, 1, JCS_UNKNOWN, true, true},
  };
  for (const JpegSpec& jpeg : specs) {
    SCOPED_TRACE(std::to_string(jpeg.width) + " x " + std::to_string(jpeg.height) +
                 (jpeg.progressive ? " progressive" : "") + (jpeg.arithmetic ? " arithmetic" : "") +
                 (jpeg.restartRows ? " restarts" : ""));
    const Bytes file = EncodeJpeg(jpeg);
    EXPECT_EQ(LoadBothDepths(file, jpeg.width, jpeg.height), DecodeReference(file).samples);
  }
}

TEST(TextureTest, CmykJpegIsRefused) {
  for (J_COLOR_SPACE stored : {JCS_CMYK, JCS_YCCK}) {
    const Bytes file = EncodeJpeg({16, 16, JCS_CMYK, 4, stored, false});
    EXPECT_FALSE(Decode(file, false));
    EXPECT_FALSE(Decode(file, true));
  }
}

TEST(TextureTest, TruncatedJpegIsRefusedWhereverItEnds) {
  for (bool progressive : {false, true}) {
    const Bytes whole = EncodeJpeg({24, 16, JCS_RGB, 3, JCS_UNKNOWN, progressive});
    ASSERT_TRUE(Decode(whole, false));
    for (std::size_t n = 0; n < whole.size(); ++n) {
      const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
      ASSERT_FALSE(Decode(cut, n % 2 == 0)) << n << " of " << whole.size() << " bytes";
    }
  }
  const Bytes sample = ReadFile(kSamples / "hubble_deep_field.jpg");
  for (std::size_t n : {std::size_t{2}, std::size_t{700}, sample.size() / 2, sample.size() - 2})
    EXPECT_FALSE(Decode(Bytes(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(n)), false))
        << n << " bytes";
}

TEST(TextureTest, JpegWithTooManyScansIsRefused) {
  const Bytes file = EncodeJpeg({16, 16, JCS_GRAYSCALE, 1, JCS_UNKNOWN, true});
  const std::vector<int32_t> expected = DecodeReference(file).samples;
  // A repeated DC scan decodes to the same picture...
  const fx::RasterRef few = Decode(WithRepeatedFirstScan(file, 20), false);
  ASSERT_TRUE(few);
  EXPECT_EQ(Samples(*few), expected);
  // ...but no real file has hundreds of scans, and each costs a pass over
  // the whole picture.
  EXPECT_FALSE(Decode(WithRepeatedFirstScan(file, fx::kMaxJpegScans), false));
}

TEST(TextureTest, JpegTooLargeForMemoryIsRefusedBeforeAnythingIsAllocated) {
  Bytes file = EncodeJpeg({16, 16, JCS_GRAYSCALE, 1, JCS_UNKNOWN, false});
  // The frame header: FF C0, length, precision, then height and width.
  std::size_t sof = 0;
  while (!(file[sof] == 0xFF && file[sof + 1] == 0xC0)) ++sof;
  file[sof + 5] = file[sof + 7] = 0xFF;  // 65296 x 65296
  WatchedMemory memory;
  MemoryScope scope(&memory);
  EXPECT_FALSE(Decode(file, true));
  EXPECT_LT(memory.largest, std::size_t{4096});
}

// A frame header patched to claim width x height; SOF0 or, arithmetic coded,
// SOF9. The bomb is made here rather than kept as a file.
Bytes JpegClaiming(bool arithmetic, uint16_t width, uint16_t height) {
  Bytes file = EncodeJpeg({16, 16, JCS_GRAYSCALE, 1, JCS_UNKNOWN, false, arithmetic});
  const uint8_t marker = arithmetic ? 0xC9 : 0xC0;
  std::size_t sof = 0;
  while (!(file[sof] == 0xFF && file[sof + 1] == marker)) ++sof;
  file[sof + 5] = static_cast<uint8_t>(height >> 8);
  file[sof + 6] = static_cast<uint8_t>(height);
  file[sof + 7] = static_cast<uint8_t>(width >> 8);
  file[sof + 8] = static_cast<uint8_t>(width);
  return file;
}

TEST(TextureTest, TexturesAreCappedAt8192ASideFromTheHeader) {
  // An arithmetic-coded file of a few hundred bytes claiming 116 MP, and
  // just past the cap either way: refused before any pixel buffer exists.
  struct Case {
    bool arithmetic;
    uint16_t width, height;
  };
  for (const Case c : {Case{true, 10800, 10800}, Case{false, 8193, 16}, Case{true, 16, 8193}}) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    const Bytes bomb = JpegClaiming(c.arithmetic, c.width, c.height);
    WatchedMemory memory;
    MemoryScope scope(&memory);
    EXPECT_FALSE(Decode(bomb, true));
    EXPECT_LT(memory.largest, std::size_t{4096});
  }
  for (const Case c : {Case{false, 8193, 16}, Case{false, 16, 8193}}) {
    WatchedMemory memory;
    MemoryScope scope(&memory);
    EXPECT_FALSE(Decode(MakePng(c.width, c.height, 8, 0, Bytes(200, 0)), true));
    EXPECT_LT(memory.largest, std::size_t{4096});
  }
}

// ---- Anything else --------------------------------------------------------

TEST(TextureTest, RandomAndDamagedBytesEndInATextureOrNone) {
  std::mt19937 random(20240611);
  const Bytes seeds[] = {
      {},
      {137, 80, 78, 71, 13, 10, 26, 10},
      {0xFF, 0xD8, 0xFF},
      ReadFile(kPngSuite / "basi0g04.png"),
      MakePng(4, 3, 16, 0, Scanlines(std::vector<uint32_t>(12, 40000), 4, 2)),
      EncodeJpeg({16, 8, JCS_RGB, 3, JCS_UNKNOWN, true}),
      EncodeJpeg({8, 8, JCS_GRAYSCALE, 1, JCS_UNKNOWN, false}),
  };
  int loaded = 0;
  for (const Bytes& seed : seeds) {
    for (int round = 0; round < 150; ++round) {
      Bytes bytes = seed;
      if (seed.size() <= 8) {
        // The seed as a prefix of random bytes.
        const std::size_t extra = random() % 600;
        for (std::size_t i = 0; i < extra; ++i) bytes.push_back(static_cast<uint8_t>(random()));
      } else {
        // A few bytes of a real file changed.
        for (int k = 0, n = 1 + static_cast<int>(random() % 4); k < n; ++k)
          bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
      }
      const fx::RasterRef r = Decode(bytes, round % 2 == 1);
      if (r) {
        ++loaded;
        EXPECT_GT(r->Width(), 0);
        EXPECT_GT(r->Height(), 0);
        EXPECT_EQ(r->Channels(), 1);
      }
    }
  }
  // Damage in pixel data or in ignored bytes leaves a loadable file now and
  // then; most of the time the file is refused.
  EXPECT_LT(loaded, 7 * 150);
}

TEST(TextureTest, EveryAllocationFailureGivesNoTextureAndLeaksNothing) {
  const Bytes files[] = {
      ReadFile(kPngSuite / "basi0g08.png"),
      EncodeJpeg({12, 10, JCS_RGB, 3, JCS_UNKNOWN, false}),
  };
  for (const Bytes& bytes : files) {
    const fs::path path = WriteTemp("starved", bytes);
    for (bool sixteenBit : {false, true}) {
      bool loaded = false;
      for (int failAt = 0; !loaded && failAt < 10; ++failAt) {
        WatchedMemory memory;
        memory.failAt = failAt;
        MemoryScope scope(&memory);
        loaded = static_cast<bool>(fx::LoadTexture(path.c_str(), sixteenBit));
        // Once every request is met the texture loads.
        EXPECT_EQ(loaded, memory.requests <= failAt) << "request " << failAt;
      }
      EXPECT_TRUE(loaded);
    }
  }
}

TEST(TextureTest, LoadTextureReadsTheWholeFile) {
  const Bytes png = ReadFile(kPngSuite / "basn0g08.png");
  const fx::RasterRef fromFile = fx::LoadTexture((kPngSuite / "basn0g08.png").c_str(), true);
  const fx::RasterRef fromMemory = Decode(png, true);
  ASSERT_TRUE(fromFile);
  ASSERT_TRUE(fromMemory);
  EXPECT_EQ(Samples(*fromFile), Samples(*fromMemory));

  const fx::RasterRef jpeg = fx::LoadTexture((kSamples / "hubble_deep_field.jpg").c_str(), false);
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(jpeg->Width(), 1000);
  EXPECT_EQ(jpeg->Height(), 872);
}

TEST(TextureTest, FilesThatCannotBeReadGiveNoTexture) {
  EXPECT_FALSE(fx::LoadTexture(nullptr, false));
  EXPECT_FALSE(fx::LoadTexture("", false));
  EXPECT_FALSE(fx::LoadTexture((kPngSuite / "no such file.png").c_str(), false));
  EXPECT_FALSE(fx::LoadTexture(kPngSuite.c_str(), false));  // a folder
  // A FIFO no one writes to is refused at once, not waited on.
  const std::string fifo = WriteTemp("fifo", {}).string() + ".fifo";
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(fx::LoadTexture(fifo.c_str(), false));
  std::remove(fifo.c_str());
  EXPECT_FALSE(fx::LoadTexture(WriteTemp("empty", {}).c_str(), false));
}

TEST(TextureTest, CacheLoadsAgainOnlyWhenFileOrDepthChanges) {
  const fs::path a = WriteTemp("cache_a.png", ReadFile(kPngSuite / "basn0g08.png"));
  const fs::path b = WriteTemp("cache_b.png", ReadFile(kPngSuite / "basn0g04.png"));
  const fs::path later = fs::path(testing::TempDir()) / "ovra_texture_cache_later.png";
  fs::remove(later);

  fx::TextureCache cache;
  fx::Raster* first = cache.Get(a.c_str(), false);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(cache.Get(a.c_str(), false), first);
  // The file is not read again while name and depth stay.
  fs::remove(a);
  EXPECT_EQ(cache.Get(a.c_str(), false), first);

  fx::Raster* other = cache.Get(b.c_str(), false);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(Samples(*other), Samples(*Decode(ReadFile(kPngSuite / "basn0g04.png"), false)));
  fx::Raster* deep = cache.Get(b.c_str(), true);
  ASSERT_NE(deep, nullptr);
  EXPECT_TRUE(deep->Is16Bit());

  // A failed load is kept too: the file is not looked for in every band.
  EXPECT_EQ(cache.Get(later.c_str(), false), nullptr);
  WriteTemp("cache_later.png", ReadFile(kPngSuite / "basn0g08.png"));
  EXPECT_EQ(cache.Get(later.c_str(), false), nullptr);
  EXPECT_EQ(cache.Get(nullptr, false), nullptr);
  EXPECT_NE(cache.Get(later.c_str(), false), nullptr);
  cache.Clear();
  EXPECT_NE(cache.Get(b.c_str(), false), nullptr);
}

}  // namespace
