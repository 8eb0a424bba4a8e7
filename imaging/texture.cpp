#include "imaging/texture.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// libjpeg's headers need FILE and size_t declared before them (cstdio).
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

#include "framework/memory.h"
#include "imaging/pixel.h"

// Both decoders report errors by a long jump. Each ReadPng / ReadJpeg below
// holds the jump target and has no object with a destructor; everything that
// needs releasing lives in the job record of its caller, whose destructor
// runs whichever way the decoder ended.

namespace fx {
namespace {

bool FitsTexture(uint64_t width, uint64_t height) {
  return width > 0 && height > 0 && width <= static_cast<uint64_t>(kMaxTextureSide) &&
         height <= static_cast<uint64_t>(kMaxTextureSide) &&
         width * height <= static_cast<uint64_t>(kMaxTexturePixels);
}

// The result raster at its final depth. The decoders write 8-bit samples at
// the start of each row; WidenTo16 then makes 16-bit samples of them. Null
// when the memory handler has no block (the texture is then absent).
Raster* NewTexture(uint32_t width, uint32_t height, bool sixteenBit) noexcept {
  try {
    return Raster::Create(static_cast<int32_t>(width), static_cast<int32_t>(height), 1, sixteenBit ? 2u : 1u);
  } catch (...) {
    return nullptr;
  }
}

uint8_t* NewBuffer(std::size_t size) noexcept {
  try {
    return static_cast<uint8_t*>(Allocate(size));
  } catch (...) {
    return nullptr;
  }
}

struct FreeBlock {
  void operator()(uint8_t* block) const { Free(block); }
};
using Block = std::unique_ptr<uint8_t, FreeBlock>;

struct CloseFile {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Each row holds width 8-bit samples at its start; they become 16-bit samples
// in place, right to left so that no sample is overwritten before it is read.
void WidenTo16(Raster& r) {
  for (int32_t y = 0; y < r.Height(); ++y) {
    const uint8_t* in = r.Row(y);
    uint16_t* out = r.RowAs<uint16_t>(y);
    for (int32_t x = r.Width(); x-- > 0;) out[x] = static_cast<uint16_t>(Magnitude8To16(in[x]));
  }
}

RasterRef Finish(Raster*& decoded, bool sixteenBit) {
  RasterRef result = RasterRef::Adopt(std::exchange(decoded, nullptr));
  if (sixteenBit) WidenTo16(*result);
  return result;
}

// ---- PNG ------------------------------------------------------------------

struct PngJob {
  std::span<const uint8_t> data;
  std::size_t position = 0;
  bool sixteenBit = false;
  png_structp png = nullptr;
  png_infop info = nullptr;
  Raster* raster = nullptr;

  PngJob(std::span<const uint8_t> file, bool sixteen) : data(file), sixteenBit(sixteen) {}
  PngJob(const PngJob&) = delete;
  PngJob& operator=(const PngJob&) = delete;
  ~PngJob() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    if (raster != nullptr) raster->Release();
  }
};

// No message reaches the user: a texture that fails to load is simply absent.
[[noreturn]] void PngFail(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void PngIgnore(png_structp, png_const_charp) {}

void PngReadFromBlock(png_structp png, png_bytep out, std::size_t length) {
  PngJob& job = *static_cast<PngJob*>(png_get_io_ptr(png));
  if (length > job.data.size() - job.position) png_error(png, "Read Error");
  std::memcpy(out, job.data.data() + job.position, length);
  job.position += length;
}

bool ReadPng(PngJob& job) noexcept {
  if (setjmp(png_jmpbuf(job.png))) return false;
  png_set_read_fn(job.png, &job, PngReadFromBlock);
  png_set_user_limits(job.png, kMaxTextureSide, kMaxTextureSide);
  png_read_info(job.png, job.info);
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colourType = 0;
  png_get_IHDR(job.png, job.info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
  if (colourType != PNG_COLOR_TYPE_GRAY || !FitsTexture(width, height)) return false;
  if (bitDepth == 16) png_set_strip_16(job.png);
  if (bitDepth < 8) png_set_expand_gray_1_2_4_to_8(job.png);
  const int passes = png_set_interlace_handling(job.png);
  png_read_update_info(job.png, job.info);
  if (png_get_rowbytes(job.png, job.info) != width) return false;
  job.raster = NewTexture(width, height, job.sixteenBit);
  if (job.raster == nullptr) return false;
  // Interlaced files fill each row over several passes, so rows are decoded
  // into the raster itself, never through a line buffer.
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < height; ++y)
      png_read_row(job.png, job.raster->Row(static_cast<int32_t>(y)), nullptr);
  png_read_end(job.png, nullptr);
  return true;
}

RasterRef DecodePng(std::span<const uint8_t> file, bool sixteenBit) {
  PngJob job(file, sixteenBit);
  job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, PngFail, PngIgnore);
  if (job.png == nullptr) return {};
  job.info = png_create_info_struct(job.png);
  if (job.info == nullptr || !ReadPng(job)) return {};
  return Finish(job.raster, sixteenBit);
}

// ---- JPEG -----------------------------------------------------------------

struct JpegJob {
  std::span<const uint8_t> data;
  std::size_t position = 0;  // next byte of data to hand to libjpeg
  bool atEnd = false;        // the buffer holds the EOI made up at the end
  bool ranOut = false;       // the data ended before the image did
  bool sixteenBit = false;
  std::jmp_buf jump;
  jpeg_error_mgr errors{};
  jpeg_source_mgr source{};
  jpeg_progress_mgr progress{};
  jpeg_decompress_struct cinfo{};  // zeroed, so destroying it is safe at any stage
  Raster* raster = nullptr;
  uint8_t* line = nullptr;

  JpegJob(std::span<const uint8_t> file, bool sixteen) : data(file), sixteenBit(sixteen) {}
  JpegJob(const JpegJob&) = delete;
  JpegJob& operator=(const JpegJob&) = delete;
  ~JpegJob() {
    jpeg_destroy_decompress(&cinfo);
    if (raster != nullptr) raster->Release();
    Free(line);
  }
};

JpegJob& JobOf(j_common_ptr cinfo) {
  return *static_cast<JpegJob*>(cinfo->client_data);
}
JpegJob& JobOf(j_decompress_ptr cinfo) {
  return *static_cast<JpegJob*>(cinfo->client_data);
}

[[noreturn]] void JpegFail(j_common_ptr cinfo) {
  std::longjmp(JobOf(cinfo).jump, 1);
}

// Messages are not shown. The two warnings that mean the data ended before
// the image mark the load as failed: a truncated texture is refused.
void JpegMessage(j_common_ptr cinfo, int level) {
  const int code = cinfo->err->msg_code;
  if (level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER)) JobOf(cinfo).ranOut = true;
}
void JpegNoOutput(j_common_ptr) {}

// Called between rows and between the scans of a multi-scan file: a load
// that will be refused stops here instead of decoding the rest of the
// picture from nothing.
void JpegProgress(j_common_ptr cinfo) {
  const JpegJob& job = JobOf(cinfo);
  if (job.ranOut || job.cinfo.input_scan_number > kMaxJpegScans) JpegFail(cinfo);
}

void JpegInitSource(j_decompress_ptr cinfo) {
  cinfo->src->bytes_in_buffer = 0;
}

// One byte of the block per call; past its end, an EOI marker, which ends
// the image however far libjpeg had got.
boolean JpegFillInput(j_decompress_ptr cinfo) {
  static const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};
  JpegJob& job = JobOf(cinfo);
  jpeg_source_mgr& src = *cinfo->src;
  if (job.position < job.data.size()) {
    src.next_input_byte = job.data.data() + job.position;
    src.bytes_in_buffer = 1;
    ++job.position;
    job.atEnd = false;
    return TRUE;
  }
  WARNMS(cinfo, JWRN_JPEG_EOF);
  src.next_input_byte = kEndOfImage;
  src.bytes_in_buffer = sizeof kEndOfImage;
  job.atEnd = true;
  return TRUE;
}

void JpegSkipInput(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  JpegJob& job = JobOf(cinfo);
  jpeg_source_mgr& src = *cinfo->src;
  // Bytes handed over but not yet read are skipped first. libjpeg skips
  // right after reading a segment length, when the one-byte buffer is empty,
  // but the position stays right either way.
  const std::size_t next = job.atEnd ? job.position : job.position - src.bytes_in_buffer;
  const std::size_t left = job.data.size() - next;
  job.position = next + (static_cast<unsigned long>(count) < left ? static_cast<std::size_t>(count) : left);
  src.bytes_in_buffer = 0;
  job.atEnd = false;
}

void JpegTermSource(j_decompress_ptr) {}

bool ReadJpeg(JpegJob& job) noexcept {
  if (setjmp(job.jump)) return false;
  j_decompress_ptr cinfo = &job.cinfo;
  cinfo->err = jpeg_std_error(&job.errors);
  job.errors.error_exit = JpegFail;
  job.errors.emit_message = JpegMessage;
  job.errors.output_message = JpegNoOutput;
  cinfo->client_data = &job;
  jpeg_create_decompress(cinfo);
  cinfo->mem->max_memory_to_use = kMaxJpegDecoderMemory;
  job.source.init_source = JpegInitSource;
  job.source.fill_input_buffer = JpegFillInput;
  job.source.skip_input_data = JpegSkipInput;
  job.source.resync_to_restart = jpeg_resync_to_restart;
  job.source.term_source = JpegTermSource;
  cinfo->src = &job.source;
  job.progress.progress_monitor = JpegProgress;
  cinfo->progress = &job.progress;

  jpeg_read_header(cinfo, TRUE);
  jpeg_calc_output_dimensions(cinfo);
  // libjpeg has no conversion of CMYK or YCCK to grey, and other component
  // counts have no meaning as a picture: such files are refused.
  if (cinfo->out_color_space != JCS_GRAYSCALE && cinfo->out_color_space != JCS_RGB) return false;
  if (!FitsTexture(cinfo->output_width, cinfo->output_height) || job.ranOut) return false;
  jpeg_start_decompress(cinfo);
  const int components = cinfo->output_components;
  if ((components != 1 && components != 3) || job.ranOut) return false;
  job.raster = NewTexture(cinfo->output_width, cinfo->output_height, job.sixteenBit);
  if (job.raster == nullptr) return false;
  if (components == 3) {
    job.line = NewBuffer(static_cast<std::size_t>(cinfo->output_width) * 3);
    if (job.line == nullptr) return false;
  }
  const uint32_t width = cinfo->output_width;
  while (cinfo->output_scanline < cinfo->output_height) {
    uint8_t* row = job.raster->Row(static_cast<int32_t>(cinfo->output_scanline));
    JSAMPROW target = components == 1 ? row : job.line;
    if (jpeg_read_scanlines(cinfo, &target, 1) != 1 || job.ranOut) return false;
    if (components == 3) {
      const uint8_t* rgb = job.line;
      for (uint32_t x = 0; x < width; ++x, rgb += 3)
        row[x] = static_cast<uint8_t>((rgb[0] + rgb[1] + rgb[2]) / 3);
    }
  }
  jpeg_finish_decompress(cinfo);
  return !job.ranOut;
}

RasterRef DecodeJpeg(std::span<const uint8_t> file, bool sixteenBit) {
  JpegJob job(file, sixteenBit);
  if (!ReadJpeg(job)) return {};
  return Finish(job.raster, sixteenBit);
}

}  // namespace

RasterRef DecodeTexture(std::span<const uint8_t> file, bool sixteenBit) {
  static constexpr uint8_t kPngSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  if (file.size() >= sizeof kPngSignature &&
      std::memcmp(file.data(), kPngSignature, sizeof kPngSignature) == 0)
    return DecodePng(file, sixteenBit);
  return DecodeJpeg(file, sixteenBit);
}

RasterRef LoadTexture(const char* path, bool sixteenBit) {
  if (path == nullptr) return {};
  // Opened without blocking and checked on the descriptor: a FIFO or a
  // device named as a texture is refused instead of waited on.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return {};
  }
  std::unique_ptr<std::FILE, CloseFile> file(fdopen(fd, "rb"));
  if (file == nullptr) {
    close(fd);
    return {};
  }
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return {};
  const long size = std::ftell(file.get());
  if (size < 0 || size > kMaxTextureFileBytes || std::fseek(file.get(), 0, SEEK_SET) != 0) return {};
  const auto bytes = static_cast<std::size_t>(size);
  Block block(bytes > 0 ? NewBuffer(bytes) : nullptr);
  if (bytes > 0 && (block == nullptr || std::fread(block.get(), 1, bytes, file.get()) != bytes)) return {};
  file.reset();
  return DecodeTexture({block.get(), bytes}, sixteenBit);
}

Raster* TextureCache::Get(const char* path, bool sixteenBit) {
  const std::string_view name = path != nullptr ? path : "";
  if (!valid_ || sixteenBit != sixteenBit_ || name != path_) {
    valid_ = false;
    raster_ = RasterRef();
    path_.assign(name);
    if (!name.empty()) raster_ = LoadTexture(path_.c_str(), sixteenBit);
    sixteenBit_ = sixteenBit;
    valid_ = true;
  }
  return raster_.get();
}

void TextureCache::Clear() {
  valid_ = false;
  path_.clear();
  raster_ = RasterRef();
}

}  // namespace fx
