// Star and Vari-Star at their defaults through the render loop on
// 6000 x 4000 (Vari-Star also on the deep-field photograph enlarged to that
// size: many small highlights to stamp), and their preview in the dialog's
// 480 x 350 viewer.
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
#include "framework/registry.h"
#include "host/image_io.h"
#include "plugin/render_loop.h"

namespace {

struct Member {
  PluginMainProc proc;
  const char* registryName;
  const char* changing;  // a parameter a preview repaint changes
};
const Member kMembers[] = {
    {&PIMAIN_Star, "Star", "StarBrightness"},
    {&PIMAIN_VariStar, "VariStar", "brightness"},
};

// The deep field enlarged to 6000 x 4000 by nearest neighbour.
standin::Document DeepField(int32_t depth) {
  standin::Document photo;
  std::string error;
  if (!standin::ReadImage(std::string(OVRA_SOURCE_DIR) + "/data/samples/hubble_deep_field.jpg", photo, error))
    return {};
  standin::Document d = standin::Document::Make(6000, 4000, 8);
  for (int32_t y = 0; y < 4000; ++y)
    for (int32_t x = 0; x < 6000; ++x)
      for (int c = 0; c < 3; ++c)
        d.At(x, y, c) = photo.At(x * photo.width / 6000, y * photo.height / 4000, c);
  return depth == 8 ? d : standin::ConvertDepth(d, depth);
}

// Arguments: member (0 Star, 1 Vari-Star), bits per sample, picture (0 the
// benchmark scene, 1 the deep field). 6000 x 4000 in the host's 256-row
// bands; megapixels per second.
void LightRender(benchmark::State& state) {
  const Member& m = kMembers[state.range(0)];
  const int32_t depth = static_cast<int32_t>(state.range(1));
  const standin::Document doc = state.range(2) == 0 ? bench::Scene(6000, 4000, depth) : DeepField(depth);
  if (doc.width == 0) return state.SkipWithError("the deep-field photograph is missing");
  standin::Host host;
  host.SetDocument(doc);
  for (auto _ : state) {
    state.PauseTiming();
    host.Doc() = doc;
    bench::PrepareRun(host, m.proc, [](std::vector<uint8_t>&) {});
    state.ResumeTiming();
    if (host.Call(m.proc, filterSelectorStart) != 0) state.SkipWithError("render failed");
  }
  state.SetLabel(std::string(m.registryName) + (state.range(2) == 0 ? "" : ", deep field"));
  state.counters["MP/s"] =
      benchmark::Counter(6000.0 * 4000 * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(LightRender)
    ->Args({0, 8, 0})
    ->Args({0, 16, 0})
    ->Args({1, 8, 0})
    ->Args({1, 16, 0})
    ->Args({1, 8, 1})
    ->Args({1, 16, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// Arguments: member (0 Star, 1 Vari-Star). The 480 x 350 viewer zoomed to fit a 6000 x 4000
// image; a parameter change repaints from the cached source.
void LightPreview(benchmark::State& state) {
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
  state.SetLabel(std::string(m.registryName) + ", zoomed to fit");
}
BENCHMARK(LightPreview)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
