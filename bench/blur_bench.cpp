// The separable blur on a 6000 x 4000 four-channel image: box mode at radii
// 10, 100 and 1000 (the time per pixel must not grow with the radius), one
// pass and the two passes effects run, 8-bit beside the single-threaded box
// filter of OpenCV with the same window (when it is found); Gaussian mode at
// radii 10 and 100; and Fast Blur through the render loop. Rates are per
// second of processor time: everything here runs on one thread, and the
// figure stays comparable on a machine shared with other work.
#include <cstring>
#include <random>

#include "bench/bench_support.h"
#include "host/settings_codec.h"
#include "imaging/raster.h"
#include "imaging/separable_blur.h"

#if defined(OVRA_HAVE_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kWidth = 6000, kHeight = 4000;
constexpr double kMegapixels = kWidth * 1e-6 * kHeight;

// A photograph-like raster: the benchmark scene with its alpha at full scale.
const fx::Raster& SceneRaster(bool is16Bit) {
  static fx::RasterRef scenes[2];
  fx::RasterRef& r = scenes[is16Bit ? 1 : 0];
  if (!r) {
    const standin::Document doc = bench::Scene(kWidth, kHeight, is16Bit ? 16 : 8);
    r = fx::MakeRaster(kWidth, kHeight, 4, is16Bit ? 2 : 1);
    for (int32_t y = 0; y < kHeight; ++y)
      for (int32_t x = 0; x < kWidth; ++x)
        for (int c = 0; c < 4; ++c) {
          const uint16_t v = c < 3 ? doc.At(x, y, c) : static_cast<uint16_t>(doc.FullScale());
          if (is16Bit) r->RowAs<uint16_t>(y)[4 * x + c] = v;
          else r->RowAs<uint8_t>(y)[4 * x + c] = static_cast<uint8_t>(v);
        }
  }
  return *r;
}

void Report(benchmark::State& state) {
  state.counters["MP/s"] = benchmark::Counter(kMegapixels * static_cast<double>(state.iterations()),
                                              benchmark::Counter::kIsRate);
}

// Args: bits, radius, passes.
void BoxBlur(benchmark::State& state) {
  const bool is16Bit = state.range(0) == 16;
  const float radius = static_cast<float>(state.range(1));
  const fx::Raster& scene = SceneRaster(is16Bit);
  fx::RasterRef work = fx::MakeRaster(kWidth, kHeight, 4, is16Bit ? 2 : 1);
  fx::SeparableBlur blur;
  blur.SetPasses(static_cast<int32_t>(state.range(2)));
  blur.SetRadii(radius, radius);
  for (auto _ : state) {
    state.PauseTiming();
    work->CopyFrom(scene);
    state.ResumeTiming();
    blur.Blur(*work, work->Bounds());
    benchmark::ClobberMemory();
  }
  Report(state);
}
BENCHMARK(BoxBlur)
    ->ArgsProduct({{8, 16}, {10, 100, 1000}, {0, 1}})
    ->ArgNames({"bits", "radius", "passes"})
    ->Unit(benchmark::kMillisecond);

// Args: bits, radius.
void GaussianBlur(benchmark::State& state) {
  const bool is16Bit = state.range(0) == 16;
  const fx::Raster& scene = SceneRaster(is16Bit);
  fx::RasterRef work = fx::MakeRaster(kWidth, kHeight, 4, is16Bit ? 2 : 1);
  fx::SeparableBlur blur;
  blur.SetMode(fx::SeparableBlur::kGaussian);
  blur.SetRadii(static_cast<float>(state.range(1)), static_cast<float>(state.range(1)));
  for (auto _ : state) {
    state.PauseTiming();
    work->CopyFrom(scene);
    state.ResumeTiming();
    blur.Blur(*work, work->Bounds());
    benchmark::ClobberMemory();
  }
  Report(state);
}
BENCHMARK(GaussianBlur)
    ->ArgsProduct({{8, 16}, {10, 100}})
    ->ArgNames({"bits", "radius"})
    ->Unit(benchmark::kMillisecond);

#if defined(OVRA_HAVE_OPENCV)
// OpenCV's box filter, one thread, over the window the box mode averages at
// an integral half-width h = radius / 2: 2h + 1 samples each way. One call
// is one pass in each direction. Args: bits, radius.
void OpenCvBoxFilter(benchmark::State& state) {
  cv::setNumThreads(0);
  const bool is16Bit = state.range(0) == 16;
  const int window = static_cast<int>(state.range(1)) + 1;
  const fx::Raster& scene = SceneRaster(is16Bit);
  const int type = is16Bit ? CV_16UC4 : CV_8UC4;
  const cv::Mat source(kHeight, kWidth, type, const_cast<uint8_t*>(scene.Row(0)), scene.RowBytes());
  cv::Mat out(kHeight, kWidth, type);
  for (auto _ : state) {
    cv::blur(source, out, cv::Size(window, window), cv::Point(-1, -1), cv::BORDER_REPLICATE);
    benchmark::ClobberMemory();
  }
  Report(state);
}
BENCHMARK(OpenCvBoxFilter)
    ->ArgsProduct({{8, 16}, {10, 100, 1000}})
    ->ArgNames({"bits", "radius"})
    ->Unit(benchmark::kMillisecond);
#endif

void SetKey(std::vector<uint8_t>& block, const std::string& key, const std::string& value) {
  standin::SettingsView view;
  std::string error;
  standin::ParseSettings(block, view, error);
  for (const auto& r : view.records)
    if (r.key == key) standin::SetValue(block, r, value, error);
}

// Fast Blur at its default radius (20 thousandths of the height: 80 pixels)
// through the render loop with 256-row bands and their margins. Args: bits,
// quality.
void FastBlurRender(benchmark::State& state) {
  const int32_t depth = static_cast<int32_t>(state.range(0));
  const std::string quality = std::to_string(state.range(1));
  const standin::Document doc = bench::Scene(kWidth, kHeight, depth);
  standin::Host host;
  for (auto _ : state) {
    state.PauseTiming();
    host.SetDocument(doc);
    bench::PrepareRun(host, &PIMAIN_FastBlur, [&](std::vector<uint8_t>& b) { SetKey(b, "quality", quality); });
    state.ResumeTiming();
    if (host.Call(&PIMAIN_FastBlur, filterSelectorStart) != 0) state.SkipWithError("render failed");
  }
  Report(state);
}
BENCHMARK(FastBlurRender)
    ->ArgsProduct({{8, 16}, {0, 1}})
    ->ArgNames({"bits", "quality"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
