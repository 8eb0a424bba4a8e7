#include "imaging/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using fx::FindFilter;
using fx::ResampleFilter;
using fx::RowImage;
using fx::Scale;
using fx::ScaleWindow;

// A row image in memory that records how the scaler reaches it.
class MemoryImage final : public RowImage {
 public:
  MemoryImage(int32_t width, int32_t height, int32_t channels, int32_t bytesPerSample,
              uint16_t fill = 0)
      : width_(width),
        height_(height),
        channels_(channels),
        bytes_(bytesPerSample),
        samples_(static_cast<std::size_t>(width) * height * channels, fill) {}

  struct Read {
    int32_t row, left, count;
  };

  int32_t Channels() const override { return channels_; }
  int32_t BytesPerSample() const override { return bytes_; }
  void Size(int32_t& width, int32_t& height) const override {
    width = width_;
    height = height_;
  }
  void ReadRow(int32_t row, int32_t left, int32_t count, void* out) override {
    reads.push_back({row, left, count});
    ASSERT_GE(row, 0);
    ASSERT_LT(row, height_);
    ASSERT_GE(left, 0);
    ASSERT_LE(left + count, width_);
    const uint16_t* in = &At(left, row, 0);
    for (int32_t i = 0; i < count * channels_; ++i) {
      if (bytes_ == 1) {
        static_cast<uint8_t*>(out)[i] = static_cast<uint8_t>(in[i]);
      } else {
        std::memcpy(static_cast<uint8_t*>(out) + 2 * i, &in[i], 2);
      }
    }
  }
  void WriteRow(int32_t row, int32_t byteOffset, int32_t count, const void* in) override {
    ++writes;
    ASSERT_GE(row, 0);
    ASSERT_LT(row, height_);
    ASSERT_EQ(byteOffset % (channels_ * bytes_), 0);
    const int32_t left = byteOffset / (channels_ * bytes_);
    ASSERT_GE(left, 0);
    ASSERT_LE(left + count, width_);
    uint16_t* o = &At(left, row, 0);
    for (int32_t i = 0; i < count * channels_; ++i) {
      if (bytes_ == 1) {
        o[i] = static_cast<const uint8_t*>(in)[i];
      } else {
        std::memcpy(&o[i], static_cast<const uint8_t*>(in) + 2 * i, 2);
      }
    }
  }

  uint16_t& At(int32_t x, int32_t y, int32_t c) {
    return samples_[(static_cast<std::size_t>(y) * width_ + x) * channels_ + c];
  }
  const std::vector<uint16_t>& Samples() const { return samples_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  ScaleWindow Whole() const { return {0, 0, width_ - 1, height_ - 1}; }

  std::vector<Read> reads;
  int writes = 0;

 private:
  int32_t width_, height_, channels_, bytes_;
  std::vector<uint16_t> samples_;
};

MemoryImage RandomImage(int32_t width, int32_t height, int32_t channels, int32_t bytes,
                        unsigned seed) {
  MemoryImage image(width, height, channels, bytes);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> sample(0, bytes == 1 ? 255 : 32768);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      for (int32_t c = 0; c < channels; ++c)
        image.At(x, y, c) = static_cast<uint16_t>(sample(random));
  return image;
}

const ResampleFilter& Kernel(const char* name) {
  const ResampleFilter* k = FindFilter(name);
  if (k == nullptr) throw std::runtime_error(std::string("no kernel ") + name);
  return *k;
}

void ScaleWhole(MemoryImage& source, MemoryImage& destination, const char* xKernel,
                const char* yKernel) {
  Scale(source, source.Whole(), destination, destination.Whole(), Kernel(xKernel), Kernel(yKernel));
}

// ------------------------------------------------------------ the kernels

TEST(ResampleKernels, FindFilterByName) {
  const ResampleFilter* box = FindFilter("box");
  const ResampleFilter* point = FindFilter("point");
  ASSERT_NE(box, nullptr);
  ASSERT_NE(point, nullptr);
  EXPECT_EQ(box->function, point->function);
  EXPECT_EQ(box->support, 0.5);
  EXPECT_EQ(point->support, 0.0);
  EXPECT_STREQ(FindFilter("kaiser")->name, "kaiser");

  for (const char* unknown : {"", "Triangle", "lanczos", "triangle ", "poin"})
    EXPECT_EQ(FindFilter(unknown), nullptr) << '"' << unknown << '"';
}

TEST(ResampleKernels, ValuesAtKeyPoints) {
  constexpr double kPi = 3.141592653589793;
  struct Case {
    const char* name;
    double x;
    double expected;
  };
  const Case cases[] = {
      {"point", -0.5, 1.0},
      {"point", 0.49, 1.0},
      {"point", 0.5, 0.0},
      {"box", 0.0, 1.0},
      {"box", -0.51, 0.0},
      {"triangle", 0.25, 0.75},
      {"triangle", -0.5, 0.5},
      {"triangle", 1.0, 0.0},
      {"quadratic", 0.0, 0.75},
      {"quadratic", 0.5, 0.5},
      {"quadratic", -1.0, 0.125},
      {"quadratic", 1.5, 0.0},
      {"cubic", 0.0, 4.0 / 6},
      {"cubic", 1.0, 1.0 / 6},
      {"cubic", -2.0, 0.0},
      {"catrom", 0.0, 1.0},
      {"catrom", 0.5, 0.5625},
      {"catrom", 1.0, 0.0},
      {"catrom", 1.5, 0.0},  // the negative lobe is clamped away
      {"mitchell", 0.0, 8.0 / 9},
      {"mitchell", 1.0, 1.0 / 18},
      {"mitchell", -1.5, -0.034722222222222},
      {"mitchell", 2.0, 0.0},
      {"gaussian", 0.0, 0.7978845608028654},
      {"gaussian", 0.5, 0.48394144903828673},
      {"sinc", 0.0, 1.0},
      {"sinc", 0.5, 2 / kPi},
      {"sinc", 1.5, 0.0},
      {"sinc", 2.5, 1 / (2.5 * kPi)},
      {"bessel", 0.0, 0.0},
      {"bessel", 1.0, 0.0},
      {"hanning", 0.0, 1.0},
      {"hanning", 0.5, 0.5},
      {"hanning", 1.0, 0.0},
      {"hamming", 0.0, 1.0},
      {"hamming", 1.0, 0.08},
      {"blackman", 0.0, 1.0},
      {"blackman", 0.5, 0.34},
      {"blackman", 1.0, 0.0},
      {"kaiser", 0.0, 1.0},
      {"kaiser", 1.0, 1 / 106.29285824399558},  // 1 / I0(6.5)
      {"kaiser", 1.5, 0.0},                     // outside its support: nothing, not NaN
  };
  for (const Case& c : cases) {
    const double tolerance = std::string(c.name) == "kaiser" ? 1e-9 : 1e-12;
    EXPECT_NEAR(Kernel(c.name)(c.x), c.expected, tolerance) << c.name << " at " << c.x;
  }
}

// ----------------------------------------------------------- scaling

TEST(ResampleScale, ScaleOneWithTriangleReproducesTheSource) {
  for (int32_t bytes : {1, 2}) {
    for (int32_t channels : {1, 4}) {
      MemoryImage source = RandomImage(7, 5, channels, bytes, 11);
      MemoryImage destination(7, 5, channels, bytes);
      ScaleWhole(source, destination, "triangle", "triangle");
      EXPECT_EQ(destination.Samples(), source.Samples()) << bytes << " bytes, " << channels;
    }
  }
}

// At scale 1 the x pass is exact; y filters with a non-cardinal kernel, so
// the filtering path runs, but rows that are all alike come through as they
// are.
TEST(ResampleScale, ScaleOneRowsSurviveAVerticalFilter) {
  for (int32_t bytes : {1, 2}) {
    MemoryImage source = RandomImage(9, 1, 4, bytes, 5);
    MemoryImage tall(9, 6, 4, bytes);
    for (int32_t y = 0; y < 6; ++y)
      for (int32_t x = 0; x < 9; ++x)
        for (int32_t c = 0; c < 4; ++c) tall.At(x, y, c) = source.At(x, 0, c);
    MemoryImage destination(9, 6, 4, bytes);
    ScaleWhole(tall, destination, "triangle", "mitchell");
    EXPECT_EQ(destination.Samples(), tall.Samples()) << bytes << " bytes";
  }
}

TEST(ResampleScale, ConstantImageStaysConstant) {
  struct Case {
    const char* kernel;
    int32_t w, h, dw, dh;
  };
  const Case cases[] = {
      {"triangle", 8, 6, 4, 3},   {"triangle", 5, 4, 13, 9}, {"mitchell", 12, 10, 5, 7},
      {"catrom", 6, 6, 17, 3},    {"gaussian", 20, 3, 7, 8}, {"sinc", 9, 9, 4, 4},
      {"quadratic", 7, 7, 3, 11}, {"cubic", 10, 10, 10, 3},  {"hamming", 6, 5, 6, 5},
      {"kaiser", 8, 8, 3, 3},
  };
  for (const Case& c : cases) {
    for (int32_t bytes : {1, 2}) {
      const uint16_t value = bytes == 1 ? 201 : 32768;
      for (int32_t channels : {1, 4}) {
        MemoryImage source(c.w, c.h, channels, bytes, value);
        MemoryImage destination(c.dw, c.dh, channels, bytes);
        ScaleWhole(source, destination, c.kernel, c.kernel);
        for (uint16_t s : destination.Samples())
          ASSERT_EQ(s, value) << c.kernel << " " << c.w << "x" << c.h << " -> " << c.dw << "x"
                              << c.dh << ", " << bytes << " bytes, " << channels << " channels";
      }
    }
  }
}

// An impulse of full scale in a 16-bit row comes out as exactly twice the
// weight the impulse's pixel has in each output, so the weight tables can be
// read back.
TEST(ResampleScale, HalvingWeightsSumToOne) {
  constexpr int32_t kSource = 8;
  constexpr int32_t kOut = 4;
  int32_t weight[kOut][kSource] = {};
  for (int32_t j = 0; j < kSource; ++j) {
    MemoryImage source(kSource, 1, 1, 2);
    source.At(j, 0, 0) = 32768;
    MemoryImage destination(kOut, 1, 1, 2);
    ScaleWhole(source, destination, "triangle", "triangle");
    for (int32_t d = 0; d < kOut; ++d) {
      ASSERT_EQ(destination.At(d, 0, 0) % 2, 0);
      weight[d][j] = destination.At(d, 0, 0) / 2;
    }
  }
  for (int32_t d = 0; d < kOut; ++d) {
    int32_t sum = 0;
    for (int32_t j = 0; j < kSource; ++j) sum += weight[d][j];
    EXPECT_EQ(sum, 16384) << "output " << d;
  }
  // Inside the image the stretched triangle covers four pixels at
  // 1/8, 3/8, 3/8, 1/8.
  const int32_t interior[kSource] = {0, 2048, 6144, 6144, 2048, 0, 0, 0};
  for (int32_t j = 0; j < kSource; ++j) EXPECT_EQ(weight[1][j], interior[j]) << j;
  // At the edge the missing pixel's share is spread over the others.
  EXPECT_EQ(weight[0][0] + weight[0][1], 16384 - weight[0][2]);
  EXPECT_NEAR(weight[0][2], 16384 / 7, 1);
  EXPECT_EQ(weight[0][3], 0);
}

// The separable filter in double precision, straight from the mapping:
// centre (d - t) / s + 0.5, weights k((j + 0.5 - centre) / stretch) over
// the pixels within the stretched support, normalised.
std::vector<std::vector<double>> ReferenceWeights(const ResampleFilter& k, int32_t n, int32_t m) {
  const double s = static_cast<double>(m) / n;
  const double t = -0.5 + 0.5 * s;
  const double stretch = std::max(1.0, 1.0 / s);
  const double support = k.support * stretch;
  std::vector<std::vector<double>> w(static_cast<std::size_t>(m), std::vector<double>(n, 0.0));
  for (int32_t d = 0; d < m; ++d) {
    const double centre = (d - t) / s + 0.5;
    double sum = 0;
    for (int32_t j = 0; j < n; ++j) {
      if (std::fabs(j + 0.5 - centre) > support) continue;
      w[d][j] = k((j + 0.5 - centre) / stretch);
      sum += w[d][j];
    }
    for (double& v : w[d]) v /= sum;
  }
  return w;
}

TEST(ResampleScale, MatchesTheFilterDefinitionWithinOneLevel) {
  struct Case {
    const char* kernel;
    int32_t w, h, dw, dh;
  };
  // The first two shapes are filtered x first and y first respectively.
  const Case cases[] = {
      {"triangle", 40, 4, 5, 8},  {"triangle", 4, 40, 8, 5},   {"mitchell", 13, 11, 7, 5},
      {"mitchell", 9, 7, 20, 17}, {"gaussian", 16, 12, 24, 5}, {"catrom", 10, 10, 6, 15},
      {"cubic", 11, 6, 4, 13},
  };
  for (const Case& c : cases) {
    for (int32_t bytes : {1, 2}) {
      const int32_t full = bytes == 1 ? 255 : 32768;
      // 8-bit results are within one level; 16-bit ones within a few (the
      // 14-bit weights limit them).
      const double tolerance = bytes == 1 ? 1.0 : 4.0;
      MemoryImage source = RandomImage(c.w, c.h, 4, bytes, 3);
      MemoryImage destination(c.dw, c.dh, 4, bytes);
      ScaleWhole(source, destination, c.kernel, c.kernel);
      const ResampleFilter& k = Kernel(c.kernel);
      const auto wx = ReferenceWeights(k, c.w, c.dw);
      const auto wy = ReferenceWeights(k, c.h, c.dh);
      double worst = 0;
      for (int32_t y = 0; y < c.dh; ++y) {
        for (int32_t x = 0; x < c.dw; ++x) {
          for (int32_t ch = 0; ch < 4; ++ch) {
            double v = 0;
            for (int32_t j = 0; j < c.h; ++j)
              for (int32_t i = 0; i < c.w; ++i) v += wy[y][j] * wx[x][i] * source.At(i, j, ch);
            v = std::clamp(v, 0.0, static_cast<double>(full));
            worst = std::max(worst, std::fabs(destination.At(x, y, ch) - v));
          }
        }
      }
      EXPECT_LE(worst, tolerance) << c.kernel << " " << c.w << "x" << c.h << " -> " << c.dw << "x"
                                  << c.dh << ", " << bytes << " bytes";
    }
  }
}

TEST(ResampleScale, NegativeLobesAreClampedNotWrapped) {
  // A hard edge magnified with Mitchell overshoots on both sides.
  MemoryImage source(6, 1, 1, 1);
  for (int32_t x = 3; x < 6; ++x) source.At(x, 0, 0) = 255;
  MemoryImage destination(48, 1, 1, 1);
  ScaleWhole(source, destination, "mitchell", "mitchell");
  EXPECT_EQ(destination.At(0, 0, 0), 0);
  EXPECT_EQ(destination.At(47, 0, 0), 255);
  for (int32_t x = 1; x < 48; ++x)
    EXPECT_GE(destination.At(x, 0, 0), destination.At(x - 1, 0, 0)) << x;
}

TEST(ResampleScale, PointSamplesTheNearestCentre) {
  MemoryImage row(4, 1, 1, 1);
  const uint16_t values[] = {10, 20, 30, 40};
  for (int32_t x = 0; x < 4; ++x) row.At(x, 0, 0) = values[x];

  MemoryImage half(2, 1, 1, 1);
  ScaleWhole(row, half, "point", "point");
  EXPECT_EQ(half.Samples(), (std::vector<uint16_t>{10, 30}));

  MemoryImage twice(8, 1, 1, 1);
  ScaleWhole(row, twice, "point", "point");
  EXPECT_EQ(twice.Samples(), (std::vector<uint16_t>{10, 10, 20, 20, 30, 30, 40, 40}));

  // "box" at magnification and "point" in one direction only give the same.
  MemoryImage boxed(8, 1, 1, 1);
  ScaleWhole(row, boxed, "box", "mitchell");
  EXPECT_EQ(boxed.Samples(), twice.Samples());
}

TEST(ResampleScale, AKernelThatIsZeroEverywhereTakesThePixelUnderTheCentre) {
  MemoryImage row(3, 1, 1, 1);
  row.At(0, 0, 0) = 10;
  row.At(1, 0, 0) = 200;
  row.At(2, 0, 0) = 30;
  MemoryImage destination(6, 1, 1, 1);
  ScaleWhole(row, destination, "bessel", "bessel");
  EXPECT_EQ(destination.Samples(), (std::vector<uint16_t>{10, 10, 200, 200, 30, 30}));
}

TEST(ResampleScale, ConvertsBetweenDepths) {
  MemoryImage eight(3, 1, 1, 1);
  eight.At(0, 0, 0) = 0;
  eight.At(1, 0, 0) = 128;
  eight.At(2, 0, 0) = 255;
  MemoryImage sixteen(3, 1, 1, 2);
  ScaleWhole(eight, sixteen, "triangle", "triangle");
  EXPECT_EQ(sixteen.Samples(), (std::vector<uint16_t>{0, 16448, 32768}));

  MemoryImage back(3, 1, 1, 1);
  ScaleWhole(sixteen, back, "triangle", "triangle");
  EXPECT_EQ(back.Samples(), eight.Samples());
}

TEST(ResampleScale, ReadsEachSourceRowOnceInOrderOverOneSpan) {
  for (const char* kernel : {"triangle", "mitchell", "point"}) {
    for (auto [dw, dh] : {std::pair{5, 3}, std::pair{25, 30}, std::pair{3, 40}}) {
      MemoryImage source = RandomImage(16, 12, 4, 1, 9);
      MemoryImage destination(dw, dh, 4, 1);
      // A window inside the image: nothing outside it is read.
      Scale(source, {3, 2, 12, 10}, destination, destination.Whole(), Kernel(kernel),
            Kernel(kernel));
      ASSERT_FALSE(source.reads.empty());
      const auto& first = source.reads.front();
      EXPECT_GE(first.left, 3);
      EXPECT_LE(first.left + first.count - 1, 12);
      for (std::size_t i = 0; i < source.reads.size(); ++i) {
        const auto& r = source.reads[i];
        EXPECT_EQ(r.left, first.left);
        EXPECT_EQ(r.count, first.count);
        EXPECT_GE(r.row, 2);
        EXPECT_LE(r.row, 10);
        if (i > 0) {
          EXPECT_GT(r.row, source.reads[i - 1].row);
        }
      }
      EXPECT_EQ(destination.writes, dh) << kernel;
    }
  }
}

TEST(ResampleScale, WritesOnlyTheDestinationWindow) {
  MemoryImage source(4, 4, 4, 1, 100);
  MemoryImage destination(6, 5, 4, 1, 7);
  Scale(source, source.Whole(), destination, {1, 1, 3, 2}, Kernel("triangle"), Kernel("triangle"));
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 6; ++x)
      for (int32_t c = 0; c < 4; ++c) {
        const bool inside = x >= 1 && x <= 3 && y >= 1 && y <= 2;
        EXPECT_EQ(destination.At(x, y, c), inside ? 100 : 7) << x << "," << y;
      }
}

TEST(ResampleScale, WindowsReachingOutsideTheImagesAreClipped) {
  MemoryImage source(4, 4, 1, 2, 1234);
  MemoryImage destination(5, 5, 1, 2, 0);
  Scale(source, {-3, -2, 6, 5}, destination, {-1, 2, 7, 9}, Kernel("mitchell"), Kernel("gaussian"));
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(destination.At(x, y, 0), y >= 2 ? 1234 : 0);
}

TEST(ResampleScale, EmptyOrMismatchedInputs) {
  MemoryImage source(4, 4, 4, 1, 9);
  MemoryImage destination(4, 4, 4, 1, 0);
  const ResampleFilter& k = Kernel("triangle");
  // Inverted or fully outside windows do nothing.
  Scale(source, {3, 0, 2, 3}, destination, destination.Whole(), k, k);
  Scale(source, source.Whole(), destination, {0, 3, 3, 2}, k, k);
  Scale(source, {10, 10, 12, 12}, destination, destination.Whole(), k, k);
  Scale(source, source.Whole(), destination, {-9, -9, -5, -5}, k, k);
  EXPECT_EQ(destination.writes, 0);
  EXPECT_TRUE(source.reads.empty());

  MemoryImage grey(4, 4, 1, 1);
  EXPECT_THROW(Scale(source, source.Whole(), grey, grey.Whole(), k, k), std::invalid_argument);
  MemoryImage wide(4, 4, 4, 3);
  EXPECT_THROW(Scale(source, source.Whole(), wide, wide.Whole(), k, k), std::invalid_argument);
}

}  // namespace
