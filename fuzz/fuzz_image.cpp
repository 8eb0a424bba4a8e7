// The host's image files from untrusted bytes: any input is read whole or
// refused with a message; what is read is a consistent document, and a
// small one written as PNG reads back equal.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "host/image_io.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::fflush(stderr);
  __builtin_trap();
}

const std::string& Folder() {
  static const std::string folder = [] {
    char name[] = "/tmp/ovra_fuzz_image_XXXXXX";
    if (mkdtemp(name) == nullptr) Fail("no scratch folder");
    return std::string(name);
  }();
  return folder;
}

}  // namespace

// OpenImageIO's PNG reader leaks its error text when libpng jumps out of the
// read callback on a truncated file. That leak is the library's; it is
// suppressed by name, which needs whole allocation stacks. The quarantine of
// freed blocks is kept small: pictures of megabytes come and go with every
// input, and a quarantine of the default 256 MB of them would count against
// the fuzzer's memory limit as if the target held them.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
  return "fast_unwind_on_malloc=0:quarantine_size_mb=16";
}
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:OpenImageIO_v2_4::PNGInput::PngReadCallback\n";
}

// Some readers load tables of their own the first time they look at a file
// (the medical format's data dictionary takes seconds under the
// sanitizers): one look at an empty file before the first input, so that the
// time limit applies to inputs rather than to that.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string empty = Folder() + "/empty";
  if (std::FILE* f = std::fopen(empty.c_str(), "wb")) std::fclose(f);
  standin::Document doc;
  std::string error;
  standin::ReadImage(empty, doc, error);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string in = Folder() + "/in", out = Folder() + "/out.png";
  if (std::FILE* f = std::fopen(in.c_str(), "wb")) {
    const bool ok = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !ok) Fail("cannot write the input");
  } else {
    Fail("cannot write the input");
  }
  standin::Document doc;
  std::string error, warning;
  // Pictures past 4 megapixels are refused from their header, as the host
  // refuses those past its own limit: larger ones are sound but too slow to
  // decode under the sanitizers for the fuzzer's time limit.
  standin::ReadOptions options;
  options.maxPixels = int64_t{1} << 22;
  if (!standin::ReadImage(in, doc, error, warning, options)) {
    if (error.empty()) Fail("refused without a message");
    return 0;
  }
  if (doc.depth != 8 && doc.depth != 16) Fail("a depth other than 8 or 16");
  const std::size_t pixels = static_cast<std::size_t>(doc.width) * static_cast<std::size_t>(doc.height);
  if (doc.width <= 0 || doc.height <= 0 || doc.samples.size() != pixels * 3) Fail("samples do not match the size");
  if (!doc.alpha.empty() && doc.alpha.size() != pixels) Fail("alpha does not match the size");
  const auto full = static_cast<uint16_t>(doc.FullScale());
  for (uint16_t s : doc.samples)
    if (s > full) Fail("a sample above full scale");
  for (uint16_t s : doc.alpha)
    if (s > full) Fail("an alpha sample above full scale");
  if (pixels > 4096) return 0;
  if (!standin::WriteImage(out, doc, error)) Fail("a document read cannot be written");
  standin::Document back;
  if (!standin::ReadImage(out, back, error)) Fail("a written PNG cannot be read");
  if (back.depth != doc.depth || back.samples != doc.samples || back.alpha != doc.alpha)
    Fail("a PNG round trip changed the document");
  return 0;
}
