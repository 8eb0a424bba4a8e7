// The focus family through the render loop at its defaults on 6000 x 4000
// (Lens Distortion at -5, whose default is the identity), and Rack Focus and
// Depth of Field in the dialog's 480 x 350 preview.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
#include "framework/registry.h"
#include "host/settings_codec.h"
#include "plugin/render_loop.h"

namespace {

using Settings = std::vector<std::pair<std::string, std::string>>;

void SetKeys(std::vector<uint8_t>& block, const Settings& settings) {
  standin::SettingsView view;
  std::string error;
  standin::ParseSettings(block, view, error);
  for (const auto& [key, value] : settings)
    for (const auto& r : view.records)
      if (r.key == key) standin::SetValue(block, r, value, error);
}

void RenderWholeImage(benchmark::State& state, PluginMainProc proc, const Settings& settings) {
  const int32_t depth = static_cast<int32_t>(state.range(0));
  const standin::Document doc = bench::Scene(6000, 4000, depth);
  standin::Host host;
  host.SetDocument(doc);
  for (auto _ : state) {
    state.PauseTiming();
    host.Doc() = doc;
    bench::PrepareRun(host, proc, [&](std::vector<uint8_t>& b) { SetKeys(b, settings); });
    state.ResumeTiming();
    if (host.Call(proc, filterSelectorStart) != 0) state.SkipWithError("render failed");
  }
  state.counters["MP/s"] = benchmark::Counter(6000.0 * 4000 * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

void DepthOfFieldRender(benchmark::State& state) { RenderWholeImage(state, &PIMAIN_DepthOfField, {}); }
BENCHMARK(DepthOfFieldRender)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void RackFocusRender(benchmark::State& state) { RenderWholeImage(state, &PIMAIN_RackFocus, {}); }
BENCHMARK(RackFocusRender)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void SkinSmootherRender(benchmark::State& state) { RenderWholeImage(state, &PIMAIN_SkinSmoother, {}); }
BENCHMARK(SkinSmootherRender)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void LensDistortionRender(benchmark::State& state) {
  RenderWholeImage(state, &PIMAIN_LensDistortion, {{"amount", "-5"}});
}
BENCHMARK(LensDistortionRender)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The 480 x 350 viewer over a 6000 x 4000 image at `zoom` (the whole image
// fitted when 0), re-rendered from the cached scaled source after a change
// of a parameter.
void Preview(benchmark::State& state, PluginMainProc proc, const char* registryName, const char* key,
             const Settings& settings = {}, float zoom = 0) {
  standin::Host host;
  host.SetDocument(bench::Scene(6000, 4000, 16));
  bench::PrepareRun(host, proc, [](std::vector<uint8_t>&) {});
  host.PrepareRecord();
  fx::EffectInstance* effect = fx::Registry().Lookup(registryName);
  for (const auto& [k, value] : settings) fx::SetRange(effect->parameters[fx::IndexOfKey(*effect, k)], std::stod(value));
  const bool fitted = zoom == 0;
  if (fitted) zoom = 340.0f / 4000.0f;
  const fx::Rect view = fitted ? fx::Rect{0, 0, static_cast<int32_t>(4000 * zoom), static_cast<int32_t>(6000 * zoom)}
                               : fx::Rect{1000, 2000, 1350, 2480};
  std::vector<uint8_t> out(static_cast<std::size_t>(view.Width()) * view.Height() * 4);
  ps::PreviewRenderer preview(&host.Record(), *effect);
  fx::Parameter& changing = effect->parameters[fx::IndexOfKey(*effect, key)];
  const double base = changing.number;
  int step = 0;
  for (auto _ : state) {
    fx::SetRange(changing, base + (++step % 2));
    if (!preview.Render(view, zoom, out.data(), view.Width() * 4, false)) state.SkipWithError("preview failed");
  }
  fx::SetRange(changing, base);
  for (const auto& [k, value] : settings) fx::ResetToDefault(effect->parameters[fx::IndexOfKey(*effect, k)]);
  state.SetLabel(fitted ? "parameter change, cached source" : "1:1, parameter change, cached source");
}

void RackFocusPreview(benchmark::State& state) { Preview(state, &PIMAIN_RackFocus, "RackFocus", "blur"); }
BENCHMARK(RackFocusPreview)->Unit(benchmark::kMillisecond);

void DepthOfFieldPreview(benchmark::State& state) {
  Preview(state, &PIMAIN_DepthOfField, "DepthOfField", "blurX");
}
BENCHMARK(DepthOfFieldPreview)->Unit(benchmark::kMillisecond);

// A region at 1:1: an effect that reads outside its tile renders the whole
// image at that zoom.
void LensDistortionZoomedPreview(benchmark::State& state) {
  Preview(state, &PIMAIN_LensDistortion, "LensDistortion", "amount", {{"amount", "-5"}}, 1.0f);
}
BENCHMARK(LensDistortionZoomedPreview)->Unit(benchmark::kMillisecond);

}  // namespace
