// Makes the greyscale pictures shipped beside the module, drawn by code so
// that no picture has to be kept in the repository: the diffusion textures
// (nets, knits, scratches, dust, woven canvas, paper and smudges) and the
// gobos Light! throws its light through (white passes the light).
//
//   make_textures <texture or pattern name> <output.png>
//
// The pictures are 1024 x 1024, 8-bit grey, and the same on every build:
// all randomness comes from a fixed-seed generator of our own.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 1024;

// A picture of doubles in 0..1, wrapped at its edges.
struct Picture {
  std::vector<double> v = std::vector<double>(static_cast<std::size_t>(kSize) * kSize, 0.0);
  double& At(int x, int y) {
    x = ((x % kSize) + kSize) % kSize;
    y = ((y % kSize) + kSize) % kSize;
    return v[static_cast<std::size_t>(y) * kSize + x];
  }
  // Lightens (x, y) to at least value.
  void Max(int x, int y, double value) {
    double& p = At(x, y);
    p = std::max(p, value);
  }
};

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  double Between(double a, double b) { return a + (b - a) * Unit(); }

 private:
  uint64_t state_;
};

// Smooth value noise over a lattice of `cells` cells across the picture,
// wrapping at the edges; about 0..1.
class ValueNoise {
 public:
  ValueNoise(int cells, uint64_t seed) : cells_(cells), lattice_(static_cast<std::size_t>(cells) * cells) {
    Random r(seed);
    for (double& v : lattice_) v = r.Unit();
  }
  double At(double x, double y) const {
    const double fx = x / kSize * cells_, fy = y / kSize * cells_;
    const int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
    const double tx = Fade(fx - x0), ty = Fade(fy - y0);
    const double a = Lattice(x0, y0), b = Lattice(x0 + 1, y0), c = Lattice(x0, y0 + 1),
                 d = Lattice(x0 + 1, y0 + 1);
    return (a + (b - a) * tx) * (1 - ty) + (c + (d - c) * tx) * ty;
  }

 private:
  static double Fade(double t) { return t * t * t * (t * (t * 6 - 15) + 10); }
  double Lattice(int x, int y) const {
    x = ((x % cells_) + cells_) % cells_;
    y = ((y % cells_) + cells_) % cells_;
    return lattice_[static_cast<std::size_t>(y) * cells_ + x];
  }
  int cells_;
  std::vector<double> lattice_;
};

// Octaves of value noise, each twice as fine and half as strong; about 0..1.
double Fractal(const std::vector<ValueNoise>& octaves, double x, double y) {
  double sum = 0, weight = 0, w = 1;
  for (const ValueNoise& n : octaves) {
    sum += w * n.At(x, y);
    weight += w;
    w *= 0.5;
  }
  return sum / weight;
}

std::vector<ValueNoise> Octaves(int firstCells, int count, uint64_t seed) {
  std::vector<ValueNoise> out;
  for (int i = 0; i < count; ++i) out.emplace_back(firstCells << i, seed + static_cast<uint64_t>(i) * 7919);
  return out;
}

// A thread across a period: 1 on its centre line, falling smoothly to 0 at
// half its width.
double Thread(double t, double period, double halfWidth) {
  double d = std::fmod(t, period);
  if (d < 0) d += period;
  d = std::min(d, period - d);
  if (d >= halfWidth) return 0;
  const double c = std::cos(d / halfWidth * std::numbers::pi / 2);
  return c * c;
}

// A soft round speck of the given radius and brightness.
void Speck(Picture& p, double cx, double cy, double radius, double value) {
  const int r = static_cast<int>(std::ceil(radius * 2)) + 1;
  for (int y = -r; y <= r; ++y)
    for (int x = -r; x <= r; ++x) {
      const int px = static_cast<int>(std::floor(cx)) + x, py = static_cast<int>(std::floor(cy)) + y;
      const double d = std::hypot(px + 0.5 - cx, py + 0.5 - cy);
      p.Max(px, py, value * std::exp(-(d * d) / (2 * radius * radius)));
    }
}

// A thin stroke along a path of points, about `width` pixels across.
void Stroke(Picture& p, const std::vector<std::pair<double, double>>& path, double width, double value) {
  for (std::size_t i = 1; i < path.size(); ++i) {
    const auto [x0, y0] = path[i - 1];
    const auto [x1, y1] = path[i];
    const int steps = std::max(1, static_cast<int>(std::hypot(x1 - x0, y1 - y0) * 2));
    for (int s = 0; s <= steps; ++s) {
      const double t = static_cast<double>(s) / steps;
      Speck(p, x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, width * 0.5, value);
    }
  }
}

// ------------------------------------------------------------------ textures

// A square net of soft threads with a slight wander.
Picture Net() {
  Picture p;
  const ValueNoise wander(8, 11);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const double dx = 3 * (wander.At(x, y) - 0.5), dy = 3 * (wander.At(y + 311.0, x + 97.0) - 0.5);
      p.At(x, y) = 0.9 * std::max(Thread(x + dx, 16, 2.2), Thread(y + dy, 16, 2.2));
    }
  return p;
}

// A fine diagonal knit, as of a stocking stretched over the lens: mid grey
// with a close, slightly irregular mesh.
Picture Stocking() {
  Picture p;
  const ValueNoise density(16, 23);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const double u = (x + y) * std::numbers::pi / 6, v = (x - y) * std::numbers::pi / 6;
      const double knit = 0.5 + 0.5 * std::cos(u) * std::cos(v);
      p.At(x, y) = 0.25 + 0.5 * knit * (0.7 + 0.6 * density.At(x, y));
    }
  return p;
}

// Bright, thin, mostly vertical scratches of varying length on black.
Picture Scratches() {
  Picture p;
  Random r(31);
  for (int i = 0; i < 140; ++i) {
    const double x = r.Between(0, kSize), y = r.Between(0, kSize), length = r.Between(40, 700);
    const double lean = r.Between(-0.08, 0.08), bend = r.Between(-0.0004, 0.0004);
    std::vector<std::pair<double, double>> path;
    for (double t = 0; t <= length; t += 4) path.push_back({x + lean * t + bend * t * t, y + t});
    Stroke(p, path, r.Between(0.6, 1.6), r.Between(0.4, 1.0));
  }
  return p;
}

// Specks of dust and a few hairs on black.
Picture Dust() {
  Picture p;
  Random r(47);
  for (int i = 0; i < 700; ++i) {
    const double radius = 0.5 + 2.5 * std::pow(r.Unit(), 3);
    Speck(p, r.Between(0, kSize), r.Between(0, kSize), radius, r.Between(0.5, 1.0));
  }
  for (int i = 0; i < 30; ++i) {
    double x = r.Between(0, kSize), y = r.Between(0, kSize), heading = r.Between(0, 2 * std::numbers::pi);
    std::vector<std::pair<double, double>> path{{x, y}};
    const int steps = static_cast<int>(r.Between(10, 40));
    for (int s = 0; s < steps; ++s) {
      heading += r.Between(-0.35, 0.35);
      x += 3 * std::cos(heading);
      y += 3 * std::sin(heading);
      path.push_back({x, y});
    }
    Stroke(p, path, r.Between(0.6, 1.2), r.Between(0.5, 0.9));
  }
  return p;
}

// Woven canvas: warp and weft threads passing over and under each other.
Picture Canvas() {
  Picture p;
  const auto fibre = Octaves(64, 3, 59);
  constexpr double kPeriod = 12;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const int cx = static_cast<int>(std::floor(x / kPeriod)),
                cy = static_cast<int>(std::floor(y / kPeriod));
      const bool warpOnTop = ((cx + cy) & 1) == 0;
      const double warp = Thread(x + kPeriod / 2, kPeriod, kPeriod * 0.48);
      const double weft = Thread(y + kPeriod / 2, kPeriod, kPeriod * 0.48);
      const double top = warpOnTop ? warp : weft, under = warpOnTop ? weft : warp;
      const double weave = std::max(top, 0.55 * under);
      p.At(x, y) = 0.15 + 0.7 * weave * (0.75 + 0.5 * Fractal(fibre, x, y));
    }
  return p;
}

// Paper: a fine fractal grain with a few longer fibres.
Picture PaperGrain() {
  Picture p;
  const auto grain = Octaves(128, 3, 71);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) p.At(x, y) = 0.5 + 1.2 * (Fractal(grain, x, y) - 0.5);
  Random r(73);
  Picture fibres;
  for (int i = 0; i < 250; ++i) {
    double x = r.Between(0, kSize), y = r.Between(0, kSize), heading = r.Between(0, 2 * std::numbers::pi);
    std::vector<std::pair<double, double>> path{{x, y}};
    for (int s = 0; s < 12; ++s) {
      heading += r.Between(-0.2, 0.2);
      x += 2 * std::cos(heading);
      y += 2 * std::sin(heading);
      path.push_back({x, y});
    }
    Stroke(fibres, path, 0.8, 0.25);
  }
  for (std::size_t k = 0; k < p.v.size(); ++k) p.v[k] += fibres.v[k];
  return p;
}

// Soft blotches, as of a smeared filter.
Picture Smudge() {
  Picture p;
  const auto blotches = Octaves(4, 4, 89);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const double v = (Fractal(blotches, x, y) - 0.3) / 0.45;
      p.At(x, y) = v * v;
    }
  return p;
}

// ------------------------------------------------------------------ gobos

// A smooth step from 0 at edge - soft to 1 at edge + soft.
double Soft(double v, double edge, double soft) {
  const double t = std::clamp((v - edge + soft) / (2 * soft), 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

// Distance from t to the nearest multiple of period.
double FromLine(double t, double period) {
  double d = std::fmod(t, period);
  if (d < 0) d += period;
  return std::min(d, period - d);
}

// Four panes in a frame, divided by a cross of glazing bars.
Picture WindowPane() {
  Picture p;
  constexpr double kFrame = 70, kBar = 18;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const double edge = std::min({x + 0.5, y + 0.5, kSize - x - 0.5, kSize - y - 0.5});
      const double cross = std::min(std::abs(x + 0.5 - kSize / 2.0), std::abs(y + 0.5 - kSize / 2.0));
      p.At(x, y) = Soft(edge, kFrame, 2) * Soft(cross, kBar, 2);
    }
  return p;
}

// Horizontal slats: open bands between closed ones.
Picture VenetianBlind() {
  Picture p;
  constexpr double kPeriod = 64;
  for (int y = 0; y < kSize; ++y) {
    const double v = Soft(FromLine(y + 0.5, kPeriod), kPeriod * 0.2, 3);
    for (int x = 0; x < kSize; ++x) p.At(x, y) = v;
  }
  return p;
}

// Dappled light through foliage: bright gaps in a canopy of leaves.
Picture LeafBreakup() {
  Picture p;
  const auto canopy = Octaves(6, 4, 101);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) p.At(x, y) = Soft(Fractal(canopy, x, y), 0.55, 0.04);
  return p;
}

// A square grid of soft round spots of light.
Picture SoftDots() {
  Picture p;
  constexpr double kPeriod = 128;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const double d = std::hypot(FromLine(x + 0.5 - kPeriod / 2, kPeriod), FromLine(y + 0.5 - kPeriod / 2, kPeriod));
      p.At(x, y) = std::exp(-(d * d) / (2 * 22.0 * 22.0));
    }
  return p;
}

// The bright network of light refracted by a rippling water surface.
Picture WaterRipple() {
  Picture p;
  const auto surface = Octaves(5, 3, 113);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const double h = Fractal(surface, x, y) * 14;
      const double line = std::abs(std::sin(h * std::numbers::pi));
      p.At(x, y) = std::pow(1 - line, 6);
    }
  return p;
}

// Vertical bars across open light.
Picture JailBars() {
  Picture p;
  constexpr double kPeriod = 128;
  for (int x = 0; x < kSize; ++x) {
    const double v = Soft(FromLine(x + 0.5, kPeriod), 14, 2);
    for (int y = 0; y < kSize; ++y) p.At(x, y) = v;
  }
  return p;
}

// Large soft patches of light and shade, as of clouds passing the sun.
Picture CloudBreakup() {
  Picture p;
  const auto clouds = Octaves(3, 5, 127);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) p.At(x, y) = Soft(Fractal(clouds, x, y), 0.5, 0.12);
  return p;
}

// Diamonds of light between crossed diagonal laths.
Picture Lattice() {
  Picture p;
  constexpr double kPeriod = 128 * 1.41421356237;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const double u = (x + y + 1) / std::numbers::sqrt2, v = (x - y) / std::numbers::sqrt2;
      p.At(x, y) = Soft(std::min(FromLine(u, kPeriod / 2), FromLine(v, kPeriod / 2)), 9, 2);
    }
  return p;
}

struct Texture {
  const char* name;
  Picture (*make)();
};

constexpr Texture kTextures[] = {
    {"net", Net},       {"stocking", Stocking},      {"scratches", Scratches}, {"dust", Dust},
    {"canvas", Canvas}, {"paper grain", PaperGrain}, {"smudge", Smudge},
    // The "Gam Patterns" gobos.
    {"201 window pane", WindowPane},
    {"205 venetian blind", VenetianBlind},
    {"210 leaf breakup", LeafBreakup},
    {"215 soft dots", SoftDots},
    {"220 water ripple", WaterRipple},
    {"225 jail bars", JailBars},
    {"230 cloud breakup", CloudBreakup},
    {"235 lattice", Lattice},
};

bool WritePng(const Picture& picture, const char* path) {
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  std::vector<png_byte> row(kSize);
  bool ok = png != nullptr && info != nullptr;
  if (ok && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, info, kSize, kSize, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x) {
        const double v = std::clamp(picture.v[static_cast<std::size_t>(y) * kSize + x], 0.0, 1.0);
        row[x] = static_cast<png_byte>(std::lround(v * 255));
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
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_textures <texture or pattern name> <output.png>\n");
    return 2;
  }
  for (const Texture& t : kTextures) {
    if (std::strcmp(t.name, argv[1]) != 0) continue;
    if (!WritePng(t.make(), argv[2])) {
      std::fprintf(stderr, "make_textures: cannot write %s\n", argv[2]);
      return 1;
    }
    return 0;
  }
  std::fprintf(stderr, "make_textures: no texture named \"%s\"\n", argv[1]);
  return 2;
}
