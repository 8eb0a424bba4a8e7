// Writes the generated seeds of the fuzz corpora: settings blocks of the
// fuzz effect and small JPEG files of every kind the texture loader meets.
//   ovra_fuzz_make_seeds <corpus folder>   (fuzz/corpus)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "framework/settings_block.h"
#include "fuzz/fuzz_effect.h"

namespace {

bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool whole = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && whole;
}

struct Jpeg {
  const char* name;
  int width, height, components;
  J_COLOR_SPACE inSpace;
  bool progressive, arithmetic, restarts, subsampled;
};

std::vector<uint8_t> Encode(const Jpeg& jpeg) {
  std::vector<uint8_t> pixels(static_cast<std::size_t>(jpeg.width) * jpeg.height * jpeg.components);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = static_cast<uint8_t>((i * 29 + (i / 7) * 3) & 0xFF);
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
  jpeg_set_quality(&c, 50, TRUE);
  if (jpeg.components == 3 && !jpeg.subsampled)
    for (int i = 0; i < 3; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  if (jpeg.progressive) jpeg_simple_progression(&c);
  c.arith_code = jpeg.arithmetic ? TRUE : FALSE;
  if (jpeg.restarts) c.restart_in_rows = 1;
  jpeg_start_compress(&c, TRUE);
  static const char kComment[] = "seed";
  jpeg_write_marker(&c, JPEG_COM, reinterpret_cast<const JOCTET*>(kComment), sizeof kComment);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = &pixels[static_cast<std::size_t>(c.next_scanline) * jpeg.width * jpeg.components];
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<uint8_t> file(out, out + size);
  jpeg_destroy_compress(&c);
  std::free(out);
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  const std::string corpus = argv[1];
  bool ok = true;

  const Jpeg jpegs[] = {
      {"grey.jpg", 16, 16, 1, JCS_GRAYSCALE, false, false, false, false},
      {"colour_420.jpg", 24, 16, 3, JCS_RGB, false, false, false, true},
      {"colour_progressive.jpg", 17, 9, 3, JCS_RGB, true, false, false, false},
      {"grey_progressive_restarts.jpg", 16, 24, 1, JCS_GRAYSCALE, true, false, true, false},
      {"colour_arithmetic.jpg", 16, 8, 3, JCS_RGB, false, true, true, true},
      {"cmyk.jpg", 8, 8, 4, JCS_CMYK, false, false, false, false},
  };
  for (const Jpeg& j : jpegs) ok &= Write(corpus + "/texture/" + j.name, Encode(j));

  ovrafuzz::Instance effect = ovrafuzz::MakeInstance();
  if (!effect) return 1;
  const std::string settings = corpus + "/settings/";
  ok &= Write(settings + "defaults.bin", fx::BuildSettings(*effect));
  fx::Parameter* p = effect->parameters;
  fx::SetListIndex(p[1], 2);
  fx::SetRange(p[4], -50);
  fx::SetRange(p[5], 1000);
  fx::SetBoolean(p[6], false);
  fx::SetListIndex(p[7], 2);
  fx::SetColour(p[8], {1.0, 0.0, 0.5});
  fx::SetPoint(p[9], {0.5, -0.5});
  fx::SetImageFile(p[11], "205 venetian blind.png");
  ok &= Write(settings + "changed.bin", fx::BuildSettings(*effect));
  fx::SetImageFile(p[11], std::string(63, 'n'));
  std::vector<uint8_t> longName = fx::BuildSettings(*effect);
  ok &= Write(settings + "long_file_name.bin", longName);
  longName[0] = 2;  // a later version: a preset that reads as success with nothing applied
  ok &= Write(settings + "version_2.bin", longName);
  return ok ? 0 : 1;
}
