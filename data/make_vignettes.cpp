// Makes the vignette shapes shipped beside the module, so that no picture
// has to be kept in the repository:
//
//   make_vignettes circle|square <output.png>
//
// 1024 x 1024, 8-bit grey: 0 within 0.2 of the side from the centre, a
// smoothstep up to 255 at 0.5, 255 beyond. "circle" measures the Euclidean
// distance, "square" max(|x|, |y|). The vignette acts where the shape is
// bright, so the centre stays untouched.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kSize = 1024;
constexpr double kClear = 0.2;
constexpr double kFull = 0.5;

// The shape's value at a distance d from the centre, in units of the side.
png_byte ShapeValue(double d) {
  const double t = std::clamp((d - kClear) / (kFull - kClear), 0.0, 1.0);
  return static_cast<png_byte>(std::lround(255 * t * t * (3 - 2 * t)));
}

bool WritePng(bool circle, const char* path) {
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  std::vector<png_byte> row(kSize);
  bool ok = png != nullptr && info != nullptr;
  if (ok && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, info, kSize, kSize, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < kSize; ++y) {
      // Pixel centres, measured from the picture's centre in sides.
      const double v = (y + 0.5) / kSize - 0.5;
      for (int x = 0; x < kSize; ++x) {
        const double u = (x + 0.5) / kSize - 0.5;
        row[x] = ShapeValue(circle ? std::hypot(u, v) : std::max(std::fabs(u), std::fabs(v)));
      }
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
  } else {
    ok = false;
  }
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "circle") != 0 && std::strcmp(argv[1], "square") != 0)) {
    std::fprintf(stderr, "usage: make_vignettes circle|square <output.png>\n");
    return 2;
  }
  if (!WritePng(std::strcmp(argv[1], "circle") == 0, argv[2])) {
    std::fprintf(stderr, "make_vignettes: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
