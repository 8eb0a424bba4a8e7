#include "host/image_io.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
// jerror.h needs the settings jpeglib.h brings.
#include <jerror.h>

// The C libraries report errors by longjmp (libpng, libjpeg). Every function
// that calls setjmp below holds only trivially destructible locals, and the
// objects that own library state, files and buffers live in the caller, so a
// longjmp never skips a destructor. Such a function runs one "phase" of the
// work and returns false after an error, the message left in a fixed buffer.

namespace standin {
namespace {

constexpr std::size_t kMessageSize = 256;
// Largest working buffer (one TIFF row or tile) taken from a file's layout
// fields, and largest single allocation libtiff may make for a file (a whole
// compressed strip); real files stay far below both.
constexpr uint64_t kMaxWorkBuffer = uint64_t{1} << 28;
constexpr uint64_t kMaxTiffAllocation = uint64_t{1} << 30;

// Copies a library message into `dst` as one line.
void CopyMessage(char* dst, const char* src) {
  std::snprintf(dst, kMessageSize, "%s", src ? src : "");
  std::size_t n = 0;
  for (char* p = dst; *p; ++p, ++n) {
    if (*p == '\n' || *p == '\r' || *p == '\t') *p = ' ';
  }
  while (n > 0 && dst[n - 1] == ' ') dst[--n] = '\0';
}

bool Fail(std::string& error, const std::string& path, const std::string& reason) {
  error = path + ": " + reason;
  return false;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Empty when the size is acceptable, else the reason.
std::string CheckSize(uint64_t width, uint64_t height) {
  if (width == 0 || height == 0) return "image has no pixels";
  if (width > static_cast<uint64_t>(kMaxImageSide) || height > static_cast<uint64_t>(kMaxImageSide) ||
      width * height > static_cast<uint64_t>(kMaxImagePixels)) {
    return "image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels exceeds the limit (" +
           std::to_string(kMaxImageSide) + " per side, " + std::to_string(kMaxImagePixels) + " pixels)";
  }
  return {};
}

// Allocates the document; false when memory runs out.
bool Allocate(Document& doc, uint32_t width, uint32_t height, int depth) {
  try {
    doc = Document::Make(static_cast<int32_t>(width), static_cast<int32_t>(height), depth);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::string NoMemory(uint64_t width, uint64_t height) {
  return "not enough memory for an image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
}

// Document sample clamped to the full scale, as the writers take it.
uint16_t Clamped(const Document& doc, std::size_t i) {
  const uint16_t v = doc.samples[i];
  const auto full = static_cast<uint16_t>(doc.FullScale());
  return v > full ? full : v;
}

// One output row as bytes: 8-bit samples (a 16-bit document brought down to
// 8 bits), or, for a 16-bit document, 16-bit file samples in the requested
// byte order.
void PackRow(const Document& doc, int32_t y, int fileDepth, bool bigEndian, uint8_t* out) {
  const std::size_t n = static_cast<std::size_t>(doc.width) * 3;
  const std::size_t base = static_cast<std::size_t>(y) * n;
  for (std::size_t i = 0; i < n; ++i) {
    const uint16_t v = Clamped(doc, base + i);
    if (fileDepth == 8) {
      out[i] = static_cast<uint8_t>(doc.depth == 16 ? Sample16To8(v) : v);
    } else {
      const uint16_t u = DocumentToFile16(v);
      if (bigEndian) {
        out[2 * i] = static_cast<uint8_t>(u >> 8);
        out[2 * i + 1] = static_cast<uint8_t>(u & 0xFF);
      } else {
        std::memcpy(out + 2 * i, &u, 2);
      }
    }
  }
}

// ---------------------------------------------------------------- PNG

struct PngContext {
  char message[kMessageSize] = {};
};

void PngOnError(png_structp png, png_const_charp message) {
  auto* ctx = static_cast<PngContext*>(png_get_error_ptr(png));
  CopyMessage(ctx->message, message);
  png_longjmp(png, 1);
}

void PngOnWarning(png_structp, png_const_charp) {}

// libpng's own reader says only "Read Error" for a file that ends early.
void PngReadFromFile(png_structp png, png_bytep data, std::size_t length) {
  auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
  if (std::fread(data, 1, length, file) != length) {
    png_error(png, std::ferror(file) ? "cannot read the file" : "file ends before the image is complete");
  }
}

struct PngHeader {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int channels = 0;
  std::size_t rowBytes = 0;
};

// Reads the header and sets the transformations that turn every PNG layout
// into 8- or 16-bit RGB.
bool PngReadHeader(png_structp png, png_infop info, std::FILE* file, PngHeader* header) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, file, PngReadFromFile);
  png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
  png_read_info(png, info);
  const int colourType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  // Expanding a palette turns its transparency chunk into alpha; strip that too.
  if ((colourType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS)) png_set_strip_alpha(png);
  if (!(colourType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  header->width = png_get_image_width(png, info);
  header->height = png_get_image_height(png, info);
  header->bitDepth = png_get_bit_depth(png, info);
  header->channels = png_get_channels(png, info);
  header->rowBytes = png_get_rowbytes(png, info);
  return true;
}

bool PngReadPixels(png_structp png, png_infop info, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  // Reading to the end catches a file cut after its image data.
  png_read_end(png, info);
  return true;
}

struct PngReadGuard {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngReadGuard() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
};

bool ReadPng(const std::string& path, std::FILE* file, Document& out, std::string& error) {
  PngContext ctx;
  PngReadGuard guard;
  guard.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &ctx, PngOnError, PngOnWarning);
  if (guard.png) guard.info = png_create_info_struct(guard.png);
  if (!guard.png || !guard.info) return Fail(error, path, "PNG: cannot set up the decoder");

  PngHeader header;
  if (!PngReadHeader(guard.png, guard.info, file, &header))
    return Fail(error, path, std::string("PNG: ") + ctx.message);
  if (const std::string reason = CheckSize(header.width, header.height); !reason.empty())
    return Fail(error, path, reason);
  const std::size_t bytesPerSample = header.bitDepth == 16 ? 2 : 1;
  if ((header.bitDepth != 8 && header.bitDepth != 16) || header.channels != 3 ||
      header.rowBytes != std::size_t{header.width} * 3 * bytesPerSample) {
    return Fail(error, path, "PNG: unsupported sample layout");
  }

  Document doc;
  std::vector<png_bytep> rows;
  try {
    doc = Document::Make(static_cast<int32_t>(header.width), static_cast<int32_t>(header.height), header.bitDepth);
    rows.resize(header.height);
  } catch (const std::bad_alloc&) {
    return Fail(error, path, NoMemory(header.width, header.height));
  }
  // Rows are decoded into the document's own storage (a row of bytes is at
  // most as long as the row of samples) and widened in place below.
  const std::size_t rowSamples = std::size_t{header.width} * 3;
  for (std::size_t y = 0; y < header.height; ++y) {
    rows[y] = reinterpret_cast<png_bytep>(doc.samples.data() + y * rowSamples);
  }
  if (!PngReadPixels(guard.png, guard.info, rows.data())) return Fail(error, path, std::string("PNG: ") + ctx.message);

  for (std::size_t y = 0; y < header.height; ++y) {
    const unsigned char* bytes = rows[y];
    uint16_t* samples = doc.samples.data() + y * rowSamples;
    if (bytesPerSample == 1) {
      // Back to front: sample i lands on bytes 2i and 2i+1, never on a byte
      // still to be read.
      for (std::size_t i = rowSamples; i-- > 0;) samples[i] = bytes[i];
    } else {
      for (std::size_t i = 0; i < rowSamples; ++i) {
        const uint32_t u = (uint32_t{bytes[2 * i]} << 8) | bytes[2 * i + 1];
        samples[i] = FileToDocument16(u);
      }
    }
  }
  out = std::move(doc);
  return true;
}

bool PngWriteAll(png_structp png, png_infop info, std::FILE* file, const Document* doc, png_bytep row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(doc->width), static_cast<png_uint_32>(doc->height), doc->depth,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int32_t y = 0; y < doc->height; ++y) {
    PackRow(*doc, y, doc->depth, true, row);
    png_write_row(png, row);
  }
  png_write_end(png, info);
  return true;
}

struct PngWriteGuard {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngWriteGuard() {
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
  }
};

// ---------------------------------------------------------------- JPEG

struct JpegError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[kMessageSize];
};

[[noreturn]] void JpegOnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  char text[JMSG_LENGTH_MAX] = {};
  (*err->pub.format_message)(cinfo, text);
  CopyMessage(err->message, text);
  std::longjmp(err->jump, 1);
}

// Warnings that mean pixels were lost (data cut short or damaged) end the
// decoding; the library would otherwise pad the picture with grey.
void JpegOnMessage(j_common_ptr cinfo, int level) {
  if (level != -1) return;
  switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
      JpegOnError(cinfo);
    default:
      cinfo->err->num_warnings++;
  }
}

void JpegOnOutput(j_common_ptr) {}

void JpegInitError(JpegError& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegOnError;
  err.pub.emit_message = JpegOnMessage;
  err.pub.output_message = JpegOnOutput;
  err.message[0] = '\0';
}

struct JpegDecoder {
  jpeg_decompress_struct cinfo;
  JpegError err;
  JpegDecoder() {
    std::memset(&cinfo, 0, sizeof cinfo);
    JpegInitError(err);
    cinfo.err = &err.pub;
  }
  // Safe on a zeroed or half-created struct.
  ~JpegDecoder() { jpeg_destroy_decompress(&cinfo); }
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;
};

bool JpegReadHeader(JpegDecoder* d, std::FILE* file) {
  if (setjmp(d->err.jump)) return false;
  jpeg_create_decompress(&d->cinfo);
  jpeg_stdio_src(&d->cinfo, file);
  jpeg_read_header(&d->cinfo, TRUE);
  return true;
}

// How the decoded samples become RGB.
enum class JpegLayout { kGrey, kRgb, kCmyk, kInvertedCmyk };

// Decodes into the document's samples; `row` holds one scanline of
// width * components bytes.
bool JpegReadPixels(JpegDecoder* d, JpegLayout layout, uint16_t* samples, JSAMPLE* row) {
  if (setjmp(d->err.jump)) return false;
  jpeg_decompress_struct& ci = d->cinfo;
  const JDIMENSION width = ci.image_width;
  const JDIMENSION height = ci.image_height;
  const int components = layout == JpegLayout::kGrey ? 1 : (layout == JpegLayout::kRgb ? 3 : 4);
  ci.out_color_space = layout == JpegLayout::kGrey ? JCS_GRAYSCALE : (layout == JpegLayout::kRgb ? JCS_RGB : JCS_CMYK);
  jpeg_start_decompress(&ci);
  if (ci.output_width != width || ci.output_height != height || ci.output_components != components) {
    CopyMessage(d->err.message, "unexpected decoder output layout");
    return false;
  }
  while (ci.output_scanline < height) {
    uint16_t* dst = samples + std::size_t{ci.output_scanline} * width * 3;
    JSAMPROW rows[1] = {row};
    if (jpeg_read_scanlines(&ci, rows, 1) != 1) {
      CopyMessage(d->err.message, "decoder returned no data");
      return false;
    }
    for (JDIMENSION x = 0; x < width; ++x, dst += 3) {
      const JSAMPLE* p = row + std::size_t{x} * components;
      switch (layout) {
        case JpegLayout::kGrey:
          dst[0] = dst[1] = dst[2] = p[0];
          break;
        case JpegLayout::kRgb:
          dst[0] = p[0];
          dst[1] = p[1];
          dst[2] = p[2];
          break;
        case JpegLayout::kCmyk:
        case JpegLayout::kInvertedCmyk: {
          // Ink amounts as stored, turned into "how much light is left".
          const bool inv = layout == JpegLayout::kInvertedCmyk;
          const uint32_t k = inv ? p[3] : 255u - p[3];
          for (int c = 0; c < 3; ++c) {
            const uint32_t a = inv ? p[c] : 255u - p[c];
            dst[c] = static_cast<uint16_t>((a * k + 127) / 255);
          }
          break;
        }
      }
    }
  }
  jpeg_finish_decompress(&ci);
  return true;
}

bool ReadJpeg(const std::string& path, std::FILE* file, Document& out, std::string& error) {
  JpegDecoder d;
  if (!JpegReadHeader(&d, file)) return Fail(error, path, std::string("JPEG: ") + d.err.message);
  const jpeg_decompress_struct& ci = d.cinfo;
  if (const std::string reason = CheckSize(ci.image_width, ci.image_height); !reason.empty())
    return Fail(error, path, reason);

  JpegLayout layout;
  if (ci.jpeg_color_space == JCS_GRAYSCALE && ci.num_components == 1) {
    layout = JpegLayout::kGrey;
  } else if ((ci.jpeg_color_space == JCS_YCbCr || ci.jpeg_color_space == JCS_RGB) && ci.num_components == 3) {
    layout = JpegLayout::kRgb;
  } else if ((ci.jpeg_color_space == JCS_CMYK || ci.jpeg_color_space == JCS_YCCK) && ci.num_components == 4) {
    // Adobe's applications write CMYK with the samples inverted and mark the
    // file with their marker.
    layout = ci.saw_Adobe_marker ? JpegLayout::kInvertedCmyk : JpegLayout::kCmyk;
  } else {
    return Fail(error, path,
                "JPEG: unsupported colour layout (" + std::to_string(ci.num_components) +
                    " components); grey, RGB and CMYK are read");
  }

  Document doc;
  std::vector<JSAMPLE> row;
  try {
    doc = Document::Make(static_cast<int32_t>(ci.image_width), static_cast<int32_t>(ci.image_height), 8);
    row.resize(std::size_t{ci.image_width} * 4);
  } catch (const std::bad_alloc&) {
    return Fail(error, path, NoMemory(ci.image_width, ci.image_height));
  }
  if (!JpegReadPixels(&d, layout, doc.samples.data(), row.data()))
    return Fail(error, path, std::string("JPEG: ") + d.err.message);
  out = std::move(doc);
  return true;
}

struct JpegEncoder {
  jpeg_compress_struct cinfo;
  JpegError err;
  JpegEncoder() {
    std::memset(&cinfo, 0, sizeof cinfo);
    JpegInitError(err);
    cinfo.err = &err.pub;
  }
  ~JpegEncoder() { jpeg_destroy_compress(&cinfo); }
  JpegEncoder(const JpegEncoder&) = delete;
  JpegEncoder& operator=(const JpegEncoder&) = delete;
};

bool JpegWriteAll(JpegEncoder* e, std::FILE* file, const Document* doc, JSAMPLE* row) {
  if (setjmp(e->err.jump)) return false;
  jpeg_compress_struct& ci = e->cinfo;
  jpeg_create_compress(&ci);
  jpeg_stdio_dest(&ci, file);
  ci.image_width = static_cast<JDIMENSION>(doc->width);
  ci.image_height = static_cast<JDIMENSION>(doc->height);
  ci.input_components = 3;
  ci.in_color_space = JCS_RGB;
  jpeg_set_defaults(&ci);
  jpeg_set_quality(&ci, 92, TRUE);
  jpeg_start_compress(&ci, TRUE);
  while (ci.next_scanline < ci.image_height) {
    PackRow(*doc, static_cast<int32_t>(ci.next_scanline), 8, true, row);
    JSAMPROW rows[1] = {row};
    jpeg_write_scanlines(&ci, rows, 1);
  }
  jpeg_finish_compress(&ci);
  return true;
}

// ---------------------------------------------------------------- TIFF

struct TiffMessages {
  char first[kMessageSize] = {};
};

int TiffOnError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto* m = static_cast<TiffMessages*>(user);
  // The first message is the specific one; later ones tend to repeat it.
  if (m->first[0] == '\0') {
    char text[kMessageSize];
    std::vsnprintf(text, sizeof text, format, args);
    (void)module;
    CopyMessage(m->first, text);
  }
  return 1;
}

int TiffOnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr OpenTiff(const std::string& path, const char* mode, TiffMessages* messages) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, TiffOnError, messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options, TiffOnWarning, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kMaxTiffAllocation));
  TiffPtr tif(TIFFOpenExt(path.c_str(), mode, options));
  TIFFOpenOptionsFree(options);
  return tif;
}

std::string TiffReason(const std::string& path, const TiffMessages& m, const char* fallback) {
  std::string text = m.first[0] ? m.first : fallback;
  // libtiff often starts with the file name, which the caller adds already.
  if (text.rfind(path + ": ", 0) == 0) text.erase(0, path.size() + 2);
  return "TIFF: " + text;
}

// How the raw samples of one buffer map onto document pixels.
struct TiffRun {
  std::size_t stride;  // samples from one pixel to the next
  int channel;         // first document channel written
  int channels;        // samples taken per pixel (1 or 3)
  bool grey;           // one sample copied to R, G and B
  bool minIsWhite;
};

// Stores `count` pixels of raw file samples into document pixels from `dst`.
template <class S>
void StoreRun(const uint8_t* raw, std::size_t count, const TiffRun& run, uint16_t* dst) {
  constexpr uint32_t kFileFull = sizeof(S) == 1 ? 255u : 65535u;
  for (std::size_t x = 0; x < count; ++x, dst += 3) {
    for (int c = 0; c < run.channels; ++c) {
      S s;
      std::memcpy(&s, raw + (x * run.stride + static_cast<std::size_t>(c)) * sizeof(S), sizeof(S));
      uint32_t u = run.minIsWhite ? kFileFull - s : s;
      const uint16_t v = sizeof(S) == 1 ? static_cast<uint16_t>(u) : FileToDocument16(u);
      if (run.grey) {
        dst[0] = dst[1] = dst[2] = v;
      } else {
        dst[run.channel + c] = v;
      }
    }
  }
}

bool ReadTiff(const std::string& path, Document& out, std::string& error) {
  TiffMessages messages;
  // 'm': read through read(), not a memory map, so a file shrinking under us
  // gives an error rather than a bus fault.
  TiffPtr tif = OpenTiff(path, "rm", &messages);
  if (!tif) return Fail(error, path, TiffReason(path, messages, "cannot open"));
  TIFF* t = tif.get();

  uint32_t width = 0, height = 0;
  uint16_t bits = 0, spp = 0, photometric = 0, planar = 0, format = 0;
  if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height))
    return Fail(error, path, "TIFF: image size missing");
  if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric))
    return Fail(error, path, "TIFF: photometric interpretation missing");
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);

  if (const std::string reason = CheckSize(width, height); !reason.empty()) return Fail(error, path, reason);
  int colourSamples = 0;
  if (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) {
    colourSamples = 1;
  } else if (photometric == PHOTOMETRIC_RGB) {
    colourSamples = 3;
  } else {
    return Fail(
        error, path,
        "TIFF: photometric interpretation " + std::to_string(photometric) + " not supported; grey and RGB are read");
  }
  if (spp < colourSamples) return Fail(error, path, "TIFF: too few samples per pixel");
  if (bits != 8 && bits != 16)
    return Fail(error, path, "TIFF: " + std::to_string(bits) + " bits per sample not supported; 8 and 16 are read");
  if (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_VOID)
    return Fail(error, path, "TIFF: only unsigned integer samples are read");
  const bool contiguous = planar != PLANARCONFIG_SEPARATE;
  const std::size_t bytesPerSample = bits / 8;
  const std::size_t stride = contiguous ? spp : 1;

  Document doc;
  if (!Allocate(doc, width, height, bits)) return Fail(error, path, NoMemory(width, height));

  const int planes = contiguous ? 1 : colourSamples;
  auto runFor = [&](int plane) {
    TiffRun run;
    run.stride = stride;
    run.channel = contiguous ? 0 : plane;
    run.channels = contiguous ? colourSamples : 1;
    run.grey = colourSamples == 1;
    run.minIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
    return run;
  };
  auto store = [&](const uint8_t* raw, std::size_t count, const TiffRun& run, uint32_t x, uint32_t y) {
    uint16_t* dst = &doc.At(static_cast<int32_t>(x), static_cast<int32_t>(y), 0);
    if (bytesPerSample == 1) {
      StoreRun<uint8_t>(raw, count, run, dst);
    } else {
      StoreRun<uint16_t>(raw, count, run, dst);
    }
  };

  std::vector<uint8_t> buffer;
  if (TIFFIsTiled(t)) {
    uint32_t tileWidth = 0, tileHeight = 0;
    TIFFGetField(t, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(t, TIFFTAG_TILELENGTH, &tileHeight);
    const uint64_t rowBytes = TIFFTileRowSize64(t);
    const uint64_t tileBytes = TIFFTileSize64(t);
    if (tileWidth == 0 || tileHeight == 0 || rowBytes < uint64_t{tileWidth} * stride * bytesPerSample ||
        tileBytes < rowBytes * tileHeight || tileBytes > kMaxWorkBuffer) {
      return Fail(error, path, "TIFF: unsupported tile layout");
    }
    try {
      buffer.resize(tileBytes);
    } catch (const std::bad_alloc&) {
      return Fail(error, path, "TIFF: not enough memory for a tile");
    }
    for (int p = 0; p < planes; ++p) {
      const TiffRun run = runFor(p);
      for (uint32_t ty = 0; ty < height; ty += tileHeight) {
        for (uint32_t tx = 0; tx < width; tx += tileWidth) {
          if (TIFFReadTile(t, buffer.data(), tx, ty, 0, static_cast<uint16_t>(p)) < 0)
            return Fail(error, path, TiffReason(path, messages, "cannot read a tile"));
          const uint32_t rows = std::min(tileHeight, height - ty);
          const uint32_t cols = std::min(tileWidth, width - tx);
          for (uint32_t r = 0; r < rows; ++r) store(buffer.data() + r * rowBytes, cols, run, tx, ty + r);
        }
      }
    }
  } else {
    const uint64_t rowBytes = TIFFScanlineSize64(t);
    if (rowBytes < uint64_t{width} * stride * bytesPerSample || rowBytes > kMaxWorkBuffer)
      return Fail(error, path, "TIFF: unsupported strip layout");
    try {
      buffer.resize(rowBytes);
    } catch (const std::bad_alloc&) {
      return Fail(error, path, "TIFF: not enough memory for a row");
    }
    for (int p = 0; p < planes; ++p) {
      const TiffRun run = runFor(p);
      for (uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(t, buffer.data(), y, static_cast<uint16_t>(p)) < 0)
          return Fail(error, path, TiffReason(path, messages, "cannot read a row"));
        store(buffer.data(), width, run, 0, y);
      }
    }
  }
  out = std::move(doc);
  return true;
}

bool WriteTiff(const std::string& path, const Document& doc, std::string& error) {
  TiffMessages messages;
  TiffPtr tif = OpenTiff(path, "w", &messages);
  if (!tif) return Fail(error, path, TiffReason(path, messages, "cannot create"));
  TIFF* t = tif.get();
  const bool deflate = TIFFIsCODECConfigured(COMPRESSION_ADOBE_DEFLATE);
  const bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(doc.width)) &&
                  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(doc.height)) &&
                  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(doc.depth)) &&
                  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(3)) &&
                  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, static_cast<uint16_t>(SAMPLEFORMAT_UINT)) &&
                  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(PHOTOMETRIC_RGB)) &&
                  TIFFSetField(t, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(PLANARCONFIG_CONTIG)) &&
                  TIFFSetField(t, TIFFTAG_ORIENTATION, static_cast<uint16_t>(ORIENTATION_TOPLEFT)) &&
                  TIFFSetField(t, TIFFTAG_COMPRESSION,
                               static_cast<uint16_t>(deflate ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE)) &&
                  (!deflate || TIFFSetField(t, TIFFTAG_PREDICTOR, static_cast<uint16_t>(PREDICTOR_HORIZONTAL))) &&
                  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
  if (!ok) return Fail(error, path, TiffReason(path, messages, "cannot set the image fields"));

  std::vector<uint8_t> row(static_cast<std::size_t>(doc.width) * 3 * (doc.depth / 8));
  for (int32_t y = 0; y < doc.height; ++y) {
    // libtiff takes 16-bit samples in the machine's byte order.
    PackRow(doc, y, doc.depth, false, row.data());
    if (TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) < 0)
      return Fail(error, path, TiffReason(path, messages, "cannot write a row"));
  }
  if (!TIFFFlush(t)) return Fail(error, path, TiffReason(path, messages, "cannot write the file"));
  return true;
}

// ---------------------------------------------------------------- formats

enum class Format { kUnknown, kPng, kJpeg, kTiff };

Format FormatOfBytes(const unsigned char* b, std::size_t n) {
  static const unsigned char kPngMagic[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (n >= 8 && std::memcmp(b, kPngMagic, 8) == 0) return Format::kPng;
  if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return Format::kJpeg;
  // Classic TIFF (42) and BigTIFF (43), either byte order.
  if (n >= 4 && b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) return Format::kTiff;
  if (n >= 4 && b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43)) return Format::kTiff;
  return Format::kUnknown;
}

Format FormatOfExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (ext == ".png") return Format::kPng;
  if (ext == ".jpg" || ext == ".jpeg") return Format::kJpeg;
  if (ext == ".tif" || ext == ".tiff") return Format::kTiff;
  return Format::kUnknown;
}

bool ReadImageImpl(const std::string& path, Document& out, std::string& error) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) return Fail(error, path, std::string("cannot open: ") + std::strerror(errno));
  unsigned char magic[8] = {};
  const std::size_t n = std::fread(magic, 1, sizeof magic, file.get());
  if (std::ferror(file.get())) return Fail(error, path, std::string("cannot read: ") + std::strerror(errno));
  const Format format = FormatOfBytes(magic, n);
  if (format == Format::kUnknown) {
    return Fail(error, path, n == 0 ? "empty file" : "not a PNG, JPEG or TIFF file");
  }
  if (format == Format::kTiff) {
    file.reset();
    return ReadTiff(path, out, error);
  }
  if (std::fseek(file.get(), 0, SEEK_SET) != 0) return Fail(error, path, "cannot seek");
  return format == Format::kPng ? ReadPng(path, file.get(), out, error) : ReadJpeg(path, file.get(), out, error);
}

bool WritePng(const std::string& path, const Document& doc, std::string& error) {
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file) return Fail(error, path, std::string("cannot create: ") + std::strerror(errno));
  PngContext ctx;
  PngWriteGuard guard;
  guard.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &ctx, PngOnError, PngOnWarning);
  if (guard.png) guard.info = png_create_info_struct(guard.png);
  if (!guard.png || !guard.info) return Fail(error, path, "PNG: cannot set up the encoder");
  std::vector<png_byte> row(static_cast<std::size_t>(doc.width) * 3 * (doc.depth / 8));
  if (!PngWriteAll(guard.png, guard.info, file.get(), &doc, row.data()))
    return Fail(error, path, std::string("PNG: ") + ctx.message);
  if (std::fclose(file.release()) != 0) return Fail(error, path, std::string("cannot write: ") + std::strerror(errno));
  return true;
}

bool WriteJpeg(const std::string& path, const Document& doc, std::string& error) {
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file) return Fail(error, path, std::string("cannot create: ") + std::strerror(errno));
  JpegEncoder e;
  std::vector<JSAMPLE> row(static_cast<std::size_t>(doc.width) * 3);
  if (!JpegWriteAll(&e, file.get(), &doc, row.data())) return Fail(error, path, std::string("JPEG: ") + e.err.message);
  if (std::fclose(file.release()) != 0) return Fail(error, path, std::string("cannot write: ") + std::strerror(errno));
  return true;
}

bool WriteImageImpl(const std::string& path, const Document& doc, std::string& error) {
  const Format format = FormatOfExtension(path);
  if (format == Format::kUnknown)
    return Fail(error, path, "unknown output format; use .png, .jpg, .jpeg, .tif or .tiff");
  if (doc.depth != 8 && doc.depth != 16)
    return Fail(error, path, "document depth " + std::to_string(doc.depth) + " is neither 8 nor 16");
  if (doc.width < 0 || doc.height < 0 ||
      doc.samples.size() != static_cast<std::size_t>(doc.width) * static_cast<std::size_t>(doc.height) * 3)
    return Fail(error, path, "document samples do not match its size");
  // Nothing is written that could not be read back.
  if (const std::string reason = CheckSize(static_cast<uint64_t>(doc.width), static_cast<uint64_t>(doc.height));
      !reason.empty())
    return Fail(error, path, reason);

  bool ok = false;
  switch (format) {
    case Format::kPng:
      ok = WritePng(path, doc, error);
      break;
    case Format::kJpeg:
      ok = WriteJpeg(path, doc, error);
      break;
    case Format::kTiff:
      ok = WriteTiff(path, doc, error);
      break;
    case Format::kUnknown:
      break;
  }
  // A half-written file must not pass for a picture.
  if (!ok) std::remove(path.c_str());
  return ok;
}

}  // namespace

std::string OutputFormatNote(const std::string& path, int depth, bool& writable) {
  const Format format = FormatOfExtension(path);
  writable = format != Format::kUnknown;
  if (!writable) return "unknown output format; use .png, .jpg, .jpeg, .tif or .tiff";
  if (format == Format::kJpeg && depth == 16) return "JPEG holds 8 bits: the 16-bit result is written at 8 bits";
  return "";
}

bool ReadImage(const std::string& path, Document& out, std::string& error) {
  try {
    return ReadImageImpl(path, out, error);
  } catch (const std::exception& e) {
    return Fail(error, path, e.what());
  }
}

bool WriteImage(const std::string& path, const Document& doc, std::string& error) {
  try {
    return WriteImageImpl(path, doc, error);
  } catch (const std::exception& e) {
    std::remove(path.c_str());
    return Fail(error, path, e.what());
  }
}

Document ConvertDepth(const Document& doc, int depth) {
  if ((depth != 8 && depth != 16) || depth == doc.depth) return doc;
  Document result = doc;
  result.depth = depth;
  const auto full = static_cast<uint16_t>(doc.FullScale());
  for (uint16_t& s : result.samples) {
    const uint16_t v = s > full ? full : s;
    s = depth == 16 ? Sample8To16(v) : Sample16To8(v);
  }
  return result;
}

}  // namespace standin
