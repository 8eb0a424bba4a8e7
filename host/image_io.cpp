#include "host/image_io.h"

#include "host/image_headers.h"
#include "host/png_exif.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

namespace standin {

struct ImageMetadata {
  OIIO::ParamValueList attributes;
};

namespace {

// Files are decoded and encoded through a buffer of about this many bytes,
// a block of rows at a time, beside the document.
constexpr std::size_t kBlockBytes = std::size_t{4} << 20;

// One line: OpenImageIO's messages may run over several.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text.empty() ? "cannot be read as an image" : text;
}

bool Fail(std::string& error, const std::string& path, const std::string& reason) {
  error = path + ": " + OneLine(reason);
  return false;
}

// No thread pools: the host renders files in forked processes, and a pool
// made before a fork is not there after it.
void Setup() {
  static std::once_flag once;
  std::call_once(once, [] {
    OIIO::attribute("threads", 1);
    OIIO::attribute("exr_threads", -1);
    // The decoders that check these refuse a header beyond the host's own
    // limit before they allocate for it.
    OIIO::attribute("limits:channels", 64);
    OIIO::attribute("limits:imagesize_MB",
                    static_cast<int>(kMaxImagePixels * 32 / (int64_t{1} << 20)));  // 4 GiB
  });
}

std::string CheckSize(uint64_t width, uint64_t height, int64_t maxPixels = kMaxImagePixels) {
  if (width == 0 || height == 0) return "image has no pixels";
  if (width > static_cast<uint64_t>(kMaxImageSide) || height > static_cast<uint64_t>(kMaxImageSide) ||
      width * height > static_cast<uint64_t>(maxPixels)) {
    return "image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels exceeds the limit (" +
           std::to_string(kMaxImageSide) + " per side, " + std::to_string(maxPixels) + " pixels)";
  }
  return {};
}

// What describes the picture rather than how one format stores it.
bool KeptAttribute(const std::string& name) {
  static const char* const kDropped[] = {"oiio:", "openexr:", "png:", "jpeg:", "tiff:", "dpx:", "webp:",
                                         "gif:",  "bmp:",     "targa:", "ffmpeg:", "raw:", "heif:"};
  for (const char* prefix : kDropped)
    if (name.rfind(prefix, 0) == 0) return false;
  static const char* const kStructural[] = {"compression", "Compression", "CompressionQuality", "planarconfig",
                                            "BitsPerSample", "SampleFormat", "Predictor"};
  for (const char* s : kStructural)
    if (name == s) return false;
  return true;
}

// Whether a regular file is there, checked on a descriptor opened without
// blocking: a FIFO or a device is refused instead of read.
std::string CheckRegular(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? "no such file" : std::strerror(errno);
  struct stat st{};
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  close(fd);
  return regular ? "" : "not a regular file";
}

// The format the file's extension names, or empty.
std::string FormatOfExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/'), dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // "format:ext,ext;format:ext,..."
  const std::string list = OIIO::get_string_attribute("extension_list");
  for (std::size_t at = 0; at < list.size();) {
    std::size_t end = list.find(';', at);
    if (end == std::string::npos) end = list.size();
    const std::string entry = list.substr(at, end - at);
    if (const std::size_t colon = entry.find(':'); colon != std::string::npos) {
      const std::string exts = "," + entry.substr(colon + 1) + ",";
      if (exts.find("," + ext + ",") != std::string::npos) return entry.substr(0, colon);
    }
    at = end + 1;
  }
  return {};
}

// Opens the file with the reader its extension names; failing that, with
// the first reader that recognises its content. Camera raw, video and the
// placeholder format are read by their extension only: their decoders take
// almost any bytes for theirs and size what they allocate from them.
std::unique_ptr<OIIO::ImageInput> OpenInput(const std::string& path, const OIIO::ImageSpec& config, std::string& why) {
  const std::string named = FormatOfExtension(path);
  OIIO::ImageSpec layout;
  if (!named.empty()) {
    if (auto in = OIIO::ImageInput::create(named, false, &config)) {
      if (in->open(path, layout, config)) return in;
      why = in->geterror();
    }
  }
  static const char* const kByExtensionOnly[] = {"raw", "ffmpeg", "null", "openvdb"};
  const std::string list = OIIO::get_string_attribute("input_format_list");
  for (std::size_t at = 0; at < list.size();) {
    std::size_t end = list.find(',', at);
    if (end == std::string::npos) end = list.size();
    const std::string format = list.substr(at, end - at);
    at = end + 1;
    if (format == named || std::find(std::begin(kByExtensionOnly), std::end(kByExtensionOnly), format) !=
                               std::end(kByExtensionOnly))
      continue;
    auto in = OIIO::ImageInput::create(format, false, &config);
    if (!in || !in->valid_file(path)) continue;
    if (in->open(path, layout, config)) return in;
    why = in->geterror();
    return nullptr;
  }
  OIIO::geterror();  // what the readers tried left behind
  if (why.empty()) why = "not an image file this host reads";
  return nullptr;
}

bool ReadImageImpl(const std::string& path, Document& out, std::string& error, std::string& warning,
                   int64_t maxPixels) {
  const auto checkSize = [maxPixels](uint64_t w, uint64_t h) { return CheckSize(w, h, maxPixels); };
  Setup();
  warning.clear();
  if (const std::string why = CheckRegular(path); !why.empty()) return Fail(error, path, why);
  if (const std::string why = CheckImageHeader(path, checkSize); !why.empty()) return Fail(error, path, why);
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  std::string why;
  auto in = OpenInput(path, config, why);
  if (!in) return Fail(error, path, why);
  const OIIO::ImageSpec& layout = in->spec();
  if (layout.depth > 1 || layout.deep) return Fail(error, path, "volume and deep images are not supported");
  if (const std::string reason = checkSize(static_cast<uint64_t>(std::max(layout.width, 0)),
                                           static_cast<uint64_t>(std::max(layout.height, 0)));
      !reason.empty())
    return Fail(error, path, reason);
  if (layout.width < 0 || layout.height < 0 || layout.nchannels < 1 || layout.nchannels > 64)
    return Fail(error, path, "image with " + std::to_string(layout.nchannels) + " channels is not supported");

  // Colour channels: grey (one, or one before alpha) or the first three.
  const int alphaChannel = layout.alpha_channel >= 0 && layout.alpha_channel < layout.nchannels ? layout.alpha_channel
                           : layout.nchannels == 2 || layout.nchannels == 4                 ? layout.nchannels - 1
                                                                                        : -1;
  const int colourChannels = layout.nchannels - (alphaChannel >= 0 ? 1 : 0);
  const bool grey = colourChannels < 3;
  const bool isFloat = layout.format.basetype == OIIO::TypeDesc::FLOAT ||
                       layout.format.basetype == OIIO::TypeDesc::HALF || layout.format.basetype == OIIO::TypeDesc::DOUBLE;
  const int bits = layout.get_int_attribute("oiio:BitsPerSample", static_cast<int>(layout.format.size() * 8));
  const int depth = !isFloat && bits <= 8 && layout.format.size() == 1 ? 8 : 16;

  const std::size_t pixels = static_cast<std::size_t>(layout.width) * static_cast<std::size_t>(layout.height);
  const std::size_t nch = static_cast<std::size_t>(layout.nchannels);
  // The file is decoded a block of rows at a time into a small buffer, so
  // that only the document itself is ever held whole.
  const std::size_t rowSamples = static_cast<std::size_t>(std::max(layout.width, 1)) * nch;
  // Tiled files are read a row of tiles (or several) at a time.
  const bool tiled = layout.tile_width > 0;
  const std::size_t tileRows = tiled ? static_cast<std::size_t>(std::max(layout.tile_height, 1)) : 1;
  const int32_t blockRows = static_cast<int32_t>(std::clamp<std::size_t>(
      std::max<std::size_t>(kBlockBytes / (rowSamples * 4) / tileRows, 1) * tileRows, 1, std::max(layout.height, 1)));
  const std::size_t n = rowSamples * static_cast<std::size_t>(blockRows);
  Document doc;
  std::vector<uint16_t> ints;
  std::vector<uint8_t> bytes;
  std::vector<float> floats;
  std::vector<uint8_t> native;
  try {
    // The samples are reserved here and filled block by block, so that a
    // header claiming a large image whose data is missing costs address
    // space, not memory.
    doc.width = layout.width;
    doc.height = layout.height;
    doc.depth = depth;
    doc.samples.reserve(pixels * 3);
    if (alphaChannel >= 0) doc.alpha.reserve(pixels);
    if (isFloat)
      floats.resize(n);
    else
      ints.resize(n);
    if (!isFloat && depth == 8) bytes.resize(n);
  } catch (const std::bad_alloc&) {
    return Fail(error, path,
                "not enough memory for an image of " + std::to_string(layout.width) + " x " +
                    std::to_string(layout.height) + " pixels");
  }
  // Stored zero as white: the one photometric the samples must be turned
  // over for to mean what they show.
  const bool whiteIsZero = !isFloat && layout.get_int_attribute("tiff:PhotometricInterpretation", -1) == 0;
  std::size_t clipped = 0;
  const auto sample = [&](std::size_t i) -> uint16_t {
    if (isFloat) {
      float f = floats[i];
      if (!(f >= 0.0f) || f > 1.0f) {
        ++clipped;
        f = f > 1.0f ? 1.0f : 0.0f;
      }
      return static_cast<uint16_t>(std::lround(static_cast<double>(f) * 32768.0));
    }
    return depth == 8 ? ints[i] : FileToDocument16(ints[i]);
  };
  int colour[3] = {0, 0, 0};
  for (int c = 0, k = 0; c < layout.nchannels && k < 3; ++c)
    if (c != alphaChannel) colour[k++] = c;
  if (grey) colour[1] = colour[2] = colour[0];
  for (int32_t top = 0; top < layout.height; top += blockRows) {
    const int32_t rows = std::min(blockRows, layout.height - top);
    const int32_t y0 = layout.y + top, y1 = y0 + rows;
    // Scanlines are read as stored and converted here: the library's
    // converting read goes through a 64 MB buffer whatever the block size.
    // Files with a format per channel keep the converting read.
    const auto read = [&](OIIO::TypeDesc type, void* data) {
      if (tiled)
        return in->read_tiles(0, 0, layout.x, layout.x + layout.width, y0, y1, layout.z, layout.z + std::max(layout.depth, 1), 0,
                              layout.nchannels, type, data);
      if (!layout.channelformats.empty()) return in->read_scanlines(0, 0, y0, y1, 0, 0, layout.nchannels, type, data);
      native.resize(static_cast<std::size_t>(layout.scanline_bytes(true)) * static_cast<std::size_t>(rows));
      return in->read_native_scanlines(0, 0, y0, y1, 0, 0, layout.nchannels, native.data()) &&
             OIIO::convert_image(layout.nchannels, layout.width, rows, 1, native.data(), layout.format, OIIO::AutoStride,
                                 OIIO::AutoStride, OIIO::AutoStride, data, type, OIIO::AutoStride, OIIO::AutoStride,
                                 OIIO::AutoStride);
    };
    bool ok = false;
    if (isFloat) {
      ok = read(OIIO::TypeDesc::FLOAT, floats.data());
    } else if (depth == 8) {
      ok = read(OIIO::TypeDesc::UINT8, bytes.data());
      std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(rowSamples * rows), ints.begin());
    } else {
      ok = read(OIIO::TypeDesc::UINT16, ints.data());
    }
    if (!ok) return Fail(error, path, in->geterror());
    // Warnings the decoder raised about damaged data count as a failure: a
    // picture padded with grey must not pass for the photograph.
    if (const std::string more = in->geterror(); !more.empty()) return Fail(error, path, more);
    const std::size_t count = static_cast<std::size_t>(layout.width) * static_cast<std::size_t>(rows);
    if (whiteIsZero) {
      const uint16_t full = depth == 8 ? 255 : 65535;
      for (std::size_t i = 0; i < count * nch; ++i)
        if (static_cast<int>(i % nch) != alphaChannel) ints[i] = full - ints[i];
    }
    const std::size_t first = static_cast<std::size_t>(top) * static_cast<std::size_t>(layout.width);
    doc.samples.resize((first + count) * 3);
    if (alphaChannel >= 0) doc.alpha.resize(first + count);
    for (std::size_t q = 0; q < count; ++q) {
      const std::size_t p = first + q;
      for (int c = 0; c < 3; ++c)
        doc.samples[p * 3 + static_cast<std::size_t>(c)] =
            sample(q * nch + static_cast<std::size_t>(colour[c]));
      if (alphaChannel >= 0) doc.alpha[p] = sample(q * nch + static_cast<std::size_t>(alphaChannel));
    }
  }
  in->close();
  if (clipped > 0)
    warning = path + ": " + std::to_string(clipped) + " float samples outside 0..1 were clipped";
  doc.grey = grey;
  auto metadata = std::make_shared<ImageMetadata>();
  for (const OIIO::ParamValue& p : layout.extra_attribs)
    if (KeptAttribute(p.name().string())) metadata->attributes.push_back(p);
  doc.metadata = std::move(metadata);
  out = std::move(doc);
  return true;
}

// Formats that hold 8 bits a sample at most, and those that hold floats.
bool EightBitOnly(const std::string& format) {
  return format == "jpeg" || format == "webp" || format == "gif" || format == "bmp" || format == "ico" ||
         format == "targa" || format == "zfile" || format == "softimage";
}
bool FloatOnly(const std::string& format) { return format == "openexr" || format == "hdr" || format == "rla"; }

bool WriteImageImpl(const std::string& path, const Document& doc, std::string& error, const WriteOptions& options) {
  Setup();
  if (doc.depth != 8 && doc.depth != 16)
    return Fail(error, path, "document depth " + std::to_string(doc.depth) + " is neither 8 nor 16");
  const std::size_t pixels = static_cast<std::size_t>(std::max(doc.width, 0)) * static_cast<std::size_t>(std::max(doc.height, 0));
  if (doc.width < 0 || doc.height < 0 || doc.samples.size() != pixels * 3 ||
      (!doc.alpha.empty() && doc.alpha.size() != pixels))
    return Fail(error, path, "document samples do not match its size");
  // Nothing is written that could not be read back.
  if (const std::string reason = CheckSize(static_cast<uint64_t>(doc.width), static_cast<uint64_t>(doc.height));
      !reason.empty())
    return Fail(error, path, reason);
  auto out = OIIO::ImageOutput::create(path);
  if (!out) return Fail(error, path, "unknown output format (" + OneLine(OIIO::geterror()) + ")");
  const std::string format = out->format_name();

  const bool alpha = !doc.alpha.empty() && out->supports("alpha");
  bool grey = doc.grey;
  for (std::size_t p = 0; grey && p < pixels; ++p)
    grey = doc.samples[3 * p] == doc.samples[3 * p + 1] && doc.samples[3 * p] == doc.samples[3 * p + 2];
  const int colours = grey ? 1 : 3;
  const int nch = colours + (alpha ? 1 : 0);
  const OIIO::TypeDesc type = FloatOnly(format)                                 ? OIIO::TypeDesc::FLOAT
                              : doc.depth == 16 && !EightBitOnly(format)       ? OIIO::TypeDesc::UINT16
                                                                               : OIIO::TypeDesc::UINT8;
  OIIO::ImageSpec layout(doc.width, doc.height, nch, type);
  layout.channelnames.clear();
  if (grey) {
    layout.channelnames.push_back("Y");
  } else {
    for (const char* name : {"R", "G", "B"}) layout.channelnames.push_back(name);
  }
  if (alpha) layout.channelnames.push_back("A");
  layout.alpha_channel = alpha ? nch - 1 : -1;
  if (doc.metadata)
    for (const OIIO::ParamValue& p : doc.metadata->attributes) layout.extra_attribs.add_or_replace(p);
  layout.attribute("oiio:UnassociatedAlpha", 1);
  const int quality = std::clamp(options.quality, 1, 100);
  if (format == "jpeg" || format == "webp" || format == "jpeg2000" || format == "heif")
    layout.attribute("Compression", format + ":" + std::to_string(quality));
  layout.attribute("CompressionQuality", quality);
  if (format == "tiff") layout.attribute("Compression", "zip");

  const auto full = static_cast<uint16_t>(doc.FullScale());
  const auto value = [&](std::size_t p, int c) -> uint16_t {
    const uint16_t v = c < colours ? doc.samples[3 * p + static_cast<std::size_t>(c)] : doc.alpha[p];
    return v > full ? full : v;
  };
  const std::size_t width = static_cast<std::size_t>(doc.width);
  const std::size_t rowSamples = std::max<std::size_t>(width, 1) * static_cast<std::size_t>(nch);
  const int32_t blockRows = static_cast<int32_t>(
      std::clamp<std::size_t>(kBlockBytes / (rowSamples * 4), 1, std::max(doc.height, 1)));
  std::vector<uint8_t> bytes;
  std::vector<uint16_t> words;
  std::vector<float> floats;
  const std::size_t n = rowSamples * static_cast<std::size_t>(blockRows);
  try {
    if (type == OIIO::TypeDesc::FLOAT)
      floats.resize(n);
    else if (type == OIIO::TypeDesc::UINT16)
      words.resize(n);
    else
      bytes.resize(n);
  } catch (const std::bad_alloc&) {
    return Fail(error, path, "not enough memory to write the image");
  }
  // A block of rows at a time: the file's samples are never held whole.
  const auto fill = [&](int32_t top, int32_t rows) {
    const std::size_t first = static_cast<std::size_t>(top) * width;
    const std::size_t count = static_cast<std::size_t>(rows) * width;
    for (std::size_t q = 0; q < count; ++q) {
      const std::size_t p = first + q;
      for (int c = 0; c < nch; ++c) {
        const std::size_t i = q * static_cast<std::size_t>(nch) + static_cast<std::size_t>(c);
        if (type == OIIO::TypeDesc::FLOAT)
          floats[i] = static_cast<float>(value(p, c)) / static_cast<float>(doc.FullScale());
        else if (type == OIIO::TypeDesc::UINT16)
          words[i] = DocumentToFile16(value(p, c));
        else
          bytes[i] = static_cast<uint8_t>(doc.depth == 16 ? Sample16To8(value(p, c)) : value(p, c));
      }
    }
  };
  const void* data = type == OIIO::TypeDesc::FLOAT    ? static_cast<const void*>(floats.data())
                     : type == OIIO::TypeDesc::UINT16 ? static_cast<const void*>(words.data())
                                                      : static_cast<const void*>(bytes.data());
  bool ok = out->open(path, layout);
  for (int32_t top = 0; ok && top < doc.height; top += blockRows) {
    const int32_t rows = std::min(blockRows, doc.height - top);
    fill(top, rows);
    ok = out->write_scanlines(top, top + rows, 0, type, data);
  }
  ok = out->close() && ok;
  std::string reason = ok ? std::string() : out->geterror();
  if (ok && format == "png") ok = AddPngExif(path, layout, reason);
  if (!ok) {
    // A half-written file must not pass for a picture.
    std::remove(path.c_str());
    return Fail(error, path, reason);
  }
  return true;
}

}  // namespace

std::string OutputFormatNote(const std::string& path, int depth, bool& writable) {
  Setup();
  const std::size_t dot = path.find_last_of('.');
  const std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
  auto out = ext.empty() ? nullptr : OIIO::ImageOutput::create(ext);
  writable = out != nullptr;
  if (!writable) {
    OIIO::geterror();
    return "unknown output format" + (ext.empty() ? std::string(" (no extension)") : " '." + ext + "'");
  }
  const std::string format = out->format_name();
  if (depth == 16 && EightBitOnly(format)) return format + " holds 8 bits: the 16-bit result is written at 8 bits";
  return "";
}

bool ReadImage(const std::string& path, Document& out, std::string& error, std::string& warning,
               const ReadOptions& options) {
  try {
    return ReadImageImpl(path, out, error, warning, std::clamp<int64_t>(options.maxPixels, 1, kMaxImagePixels));
  } catch (const std::exception& e) {
    return Fail(error, path, e.what());
  }
}

bool ReadImage(const std::string& path, Document& out, std::string& error, std::string& warning) {
  return ReadImage(path, out, error, warning, ReadOptions{});
}

bool ReadImage(const std::string& path, Document& out, std::string& error) {
  std::string warning;
  return ReadImage(path, out, error, warning);
}

bool WriteImage(const std::string& path, const Document& doc, std::string& error, const WriteOptions& options) {
  try {
    return WriteImageImpl(path, doc, error, options);
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
  const auto convert = [&](uint16_t& s) {
    const uint16_t v = s > full ? full : s;
    s = depth == 16 ? Sample8To16(v) : Sample16To8(v);
  };
  for (uint16_t& s : result.samples) convert(s);
  for (uint16_t& s : result.alpha) convert(s);
  return result;
}

}  // namespace standin
