// Film grain over a 6000 x 4000 image in the render loop's 256-row bands:
// one-pixel grain (noise generated per tile) and size-4 grain (reduced
// planes built at tile 0 and enlarged onto every tile).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>

#include "imaging/film_grain.h"
#include "imaging/raster.h"

namespace {

constexpr int32_t kWidth = 6000, kHeight = 4000, kBandRows = 256;

fx::RasterRef Scene(bool is16) {
  fx::RasterRef r = fx::MakeRaster(kWidth, kHeight, 4, is16 ? 2 : 1);
  const int32_t full = is16 ? 32768 : 255;
  for (int32_t y = 0; y < kHeight; ++y)
    for (int32_t x = 0; x < kWidth; ++x) {
      const int32_t v[4] = {x * full / kWidth, y * full / kHeight, ((x + y) * 7) % (full + 1), full};
      for (int c = 0; c < 4; ++c) {
        if (is16)
          r->RowAs<uint16_t>(y)[4 * x + c] = static_cast<uint16_t>(v[c]);
        else
          r->RowAs<uint8_t>(y)[4 * x + c] = static_cast<uint8_t>(v[c]);
      }
    }
  return r;
}

// Arguments: grain size, bits per sample, monochrome.
void GrainRender(benchmark::State& state) {
  const double size = static_cast<double>(state.range(0));
  const bool is16 = state.range(1) == 16, monochrome = state.range(2) != 0;
  const fx::RasterRef scene = Scene(is16);
  fx::RasterRef image = fx::MakeRaster(kWidth, kHeight, 4, is16 ? 2 : 1);
  fx::FilmGrain grain;
  const int32_t tiles = (kHeight + kBandRows - 1) / kBandRows;
  for (auto _ : state) {
    state.PauseTiming();
    image->CopyFrom(*scene);
    state.ResumeTiming();
    grain.SetSizes(size, size, size);
    grain.SetSoftness(0, 0, 0);
    grain.SetAmounts(25, 25, 25);
    grain.SetResponse(50, 80, 20);
    grain.SetScale(1, 1);
    for (int32_t t = 0; t < tiles; ++t) {
      const int32_t top = t * kBandRows;
      fx::GrainTile tile;
      tile.imageWidth = kWidth;
      tile.imageHeight = kHeight;
      tile.origin = {0, top};
      tile.tileIndex = t;
      tile.tileCount = tiles;
      grain.Render(*image, fx::Rect{top, 0, std::min(kHeight, top + kBandRows), kWidth}, tile, monochrome);
    }
    benchmark::DoNotOptimize(image->Row(0));
  }
  state.counters["MP/s"] = benchmark::Counter(
      static_cast<double>(kWidth) * kHeight * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(GrainRender)
    ->ArgNames({"size", "bits", "mono"})
    ->Args({1, 8, 0})
    ->Args({1, 16, 0})
    ->Args({4, 8, 0})
    ->Args({4, 16, 0})
    ->Args({1, 8, 1})
    ->Args({4, 16, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
