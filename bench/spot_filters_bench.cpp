// Center Spot and Vignette at their defaults through the render loop, and
// their preview of the whole image in the dialog's 480 x 350 viewer.
#include <filesystem>
#include <string>

#include "bench/bench_support.h"
#include "framework/host_services.h"
#include "framework/registry.h"
#include "plugin/render_loop.h"

namespace {

namespace fs = std::filesystem;

// Points the effects at the build tree's module folder, where the
// vignette shapes are drawn (the benchmark runs from <build>/bench).
class ShapesHost final : public fx::Host {
 public:
  ShapesHost() {
    std::error_code error;
    folder_ = (fs::read_symlink("/proc/self/exe", error).parent_path().parent_path() / "module").string();
  }
  bool DataPath(const char*, const char* subFolder, const char* fileName, char* out,
                std::size_t capacity) const override {
    std::string path;
    if (subFolder != nullptr) path = folder_ + "/" + subFolder + "/";
    if (fileName != nullptr) path += fileName;
    if (out == nullptr || path.size() + 1 > capacity) return false;
    path.copy(out, path.size());
    out[path.size()] = '\0';
    return true;
  }
  bool HasShapes() const { return fs::exists(fs::path(folder_) / "Vignettes" / "circle.png"); }

 private:
  std::string folder_;
};

ShapesHost& DataFolders() {
  static ShapesHost host;
  return host;
}

struct Member {
  PluginMainProc proc;
  const char* registryName;
  const char* changing;  // a parameter a preview repaint changes
};
const Member kMembers[] = {
    {&PIMAIN_CenterSpot, "CenterSpot", "sFalloff"},
    {&PIMAIN_Vignette, "Vignette", "opacity"},
};

bool Ready(benchmark::State& state) {
  if (DataFolders().HasShapes()) return true;
  state.SkipWithError("build the module first: its Vignettes folder is missing");
  return false;
}

// Arguments: member (0 Center Spot, 1 Vignette), bits per sample. 6000 x
// 4000 in the host's bands; megapixels per second.
void SpotFilterRender(benchmark::State& state) {
  if (!Ready(state)) return;
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
BENCHMARK(SpotFilterRender)->ArgsProduct({{0, 1}, {8, 16}})->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole 6000 x 4000 image in the 480 x 350 viewer (zoom 340 / 4000); a
// parameter change repaints from the cached source.
void SpotFilterPreview(benchmark::State& state) {
  if (!Ready(state)) return;
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
    if (!preview.Render(view, zoom, out.data(), view.Width() * 4, false)) state.SkipWithError("preview failed");
  }
  fx::SetRange(changing, base);
  state.SetLabel(std::string(m.registryName) + ", zoomed to fit");
}
BENCHMARK(SpotFilterPreview)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
