// Bleach Bypass through the render loop, and the dialog's preview render.
#include <memory>

#include "bench/bench_support.h"
#include "framework/registry.h"
#include "host/settings_codec.h"
#include "plugin/render_loop.h"

namespace {

void SetKey(std::vector<uint8_t>& block, const std::string& key, const std::string& value) {
  standin::SettingsView view;
  std::string error;
  standin::ParseSettings(block, view, error);
  for (const auto& r : view.records)
    if (r.key == key) standin::SetValue(block, r, value, error);
}

// 6000 x 4000 through the render loop; megapixels per second.
void BleachBypassRender(benchmark::State& state) {
  const int32_t depth = static_cast<int32_t>(state.range(0));
  const standin::Document doc = bench::Scene(6000, 4000, depth);
  standin::Host host;
  host.SetDocument(doc);
  for (auto _ : state) {
    state.PauseTiming();
    host.Doc() = doc;
    bench::PrepareRun(host, &PIMAIN_BleachBypass, [](std::vector<uint8_t>& b) {
      SetKey(b, "saturation", "30");
      SetKey(b, "contrast", "20");
      SetKey(b, "temperature", "-10");
    });
    state.ResumeTiming();
    if (host.Call(&PIMAIN_BleachBypass, filterSelectorStart) != 0) state.SkipWithError("render failed");
  }
  state.counters["MP/s"] = benchmark::Counter(6000.0 * 4000 * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BleachBypassRender)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

// The preview of the whole 6000 x 4000 image in the 480 x 350 viewer (zoom to
// fit: 340 / 4000): the first paint reads the scaled source; a parameter
// change re-renders from the cache.
void BleachBypassPreview(benchmark::State& state) {
  const bool cached = state.range(0) != 0;
  standin::Host host;
  host.SetDocument(bench::Scene(6000, 4000, 16));
  bench::PrepareRun(host, &PIMAIN_BleachBypass, [](std::vector<uint8_t>& b) { SetKey(b, "contrast", "20"); });
  host.PrepareRecord();
  fx::EffectInstance* effect = fx::Registry().Lookup("BleachBypass");
  const float zoom = 340.0f / 4000.0f;
  const fx::Rect view{0, 0, static_cast<int32_t>(4000 * zoom), static_cast<int32_t>(6000 * zoom)};
  std::vector<uint8_t> out(static_cast<std::size_t>(view.Width()) * view.Height() * 4);
  auto preview = std::make_unique<ps::PreviewRenderer>(&host.Record(), *effect);
  for (auto _ : state) {
    if (!cached) {
      state.PauseTiming();
      preview.reset();
      preview = std::make_unique<ps::PreviewRenderer>(&host.Record(), *effect);
      state.ResumeTiming();
    }
    fx::SetRange(effect->parameters[fx::IndexOfKey(*effect, "contrast")], (state.iterations() % 50));
    preview->Render(view, zoom, out.data(), view.Width() * 4, false);
  }
  state.SetLabel(cached ? "parameter change, cached source" : "first paint, scaled read");
}
BENCHMARK(BleachBypassPreview)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
