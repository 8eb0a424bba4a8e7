// Night Vision and DayForNight at their defaults through the render loop,
// and their preview in the dialog's 480 x 350 viewer.
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "framework/registry.h"
#include "plugin/render_loop.h"

namespace {

struct Member {
  PluginMainProc proc;
  const char* registryName;
  const char* changing;  // a parameter a preview repaint changes
};
const Member kMembers[] = {
    {&PIMAIN_NightVision, "NightVision", "glowBrightness"},
    {&PIMAIN_DayForNight, "DayForNight", "opacity"},
};

// Arguments: member (0 Night Vision, 1 DayForNight), bits per sample.
// 6000 x 4000 in the host's 256-row bands; megapixels per second.
void SelectiveColourRender(benchmark::State& state) {
  const Member& m = kMembers[state.range(0)];
  const int32_t depth = static_cast<int32_t>(state.range(1));
  const standin::Document doc = bench::Scene(6000, 4000, depth);
  standin::Host host;
  host.SetDocument(doc);
  for (auto _ : state) {
    state.PauseTiming();
    host.Doc() = doc;
    bench::PrepareRun(host, m.proc, [](std::vector<uint8_t>&) {});
    state.ResumeTiming();
    if (host.Call(m.proc, filterSelectorStart) != 0) state.SkipWithError("render failed");
  }
  state.SetLabel(m.registryName);
  state.counters["MP/s"] =
      benchmark::Counter(6000.0 * 4000 * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(SelectiveColourRender)
    ->ArgsProduct({{0, 1}, {8, 16}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Argument: member. The 480 x 350 viewer zoomed to fit a 6000 x 4000 image;
// a parameter change repaints from the cached source.
void SelectiveColourPreview(benchmark::State& state) {
  const Member& m = kMembers[state.range(0)];
  standin::Host host;
  host.SetDocument(bench::Scene(6000, 4000, 16));
  bench::PrepareRun(host, m.proc, [](std::vector<uint8_t>&) {});
  host.PrepareRecord();
  fx::EffectInstance* effect = fx::Registry().Lookup(m.registryName);
  const float zoom = 340.0f / 4000.0f;
  const fx::Rect view{0, 0, static_cast<int32_t>(4000 * zoom), static_cast<int32_t>(6000 * zoom)};
  std::vector<uint8_t> out(static_cast<std::size_t>(view.Width()) * view.Height() * 4);
  ps::PreviewRenderer preview(&host.Record(), *effect);
  fx::Parameter& changing = effect->parameters[fx::IndexOfKey(*effect, m.changing)];
  const double base = changing.number;
  for (auto _ : state) {
    fx::SetRange(changing, base + static_cast<double>(state.iterations() % 2));
    if (!preview.Render(view, zoom, out.data(), view.Width() * 4, false))
      state.SkipWithError("preview failed");
  }
  fx::SetRange(changing, base);
  state.SetLabel(m.registryName);
}
BENCHMARK(SelectiveColourPreview)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

}  // namespace
