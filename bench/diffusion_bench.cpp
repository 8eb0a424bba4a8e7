// Soft Effects, Glow, Diffusion, Low Contrast, Fog and Warm Black Mist at
// their defaults through the render loop, and their preview in the dialog's
// 480 x 350 viewer.
#include <filesystem>
#include <memory>
#include <string>

#include "bench/bench_support.h"
#include "framework/host_services.h"
#include "framework/registry.h"
#include "plugin/render_loop.h"

namespace {

namespace fs = std::filesystem;

// The module's data folders lie beside the module file in the build tree
// (<build>/module), the benchmark in <build>/bench: a host object of our own
// points the effects there, as the module's points them beside itself.
class BenchHost final : public fx::Host {
 public:
  BenchHost() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    folder_ = (exe.parent_path().parent_path() / "module").string();
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
  bool HasTextures() const { return fs::exists(fs::path(folder_) / "Textures"); }

 private:
  std::string folder_;
};

BenchHost& DataFolders() {
  static BenchHost host;
  return host;
}

struct Member {
  PluginMainProc proc;
  const char* registryName;
  const char* changing;  // a parameter a preview repaint changes
};
const Member kMembers[] = {
    {&PIMAIN_SoftEffects, "SoftEFX", "opacity"},
    {&PIMAIN_Glow, "Glow", "glowBrightness"},
    {&PIMAIN_Diffusion, "Diffusion", "glowBrightness"},
    {&PIMAIN_LowContrast, "LowContrast", "lightBrightness"},
    {&PIMAIN_Fog, "Fog", "glowBrightness"},
    {&PIMAIN_WarmBlackMist, "WarmBlackMist", "glowBrightness"},
};

bool Ready(benchmark::State& state) {
  if (DataFolders().HasTextures()) return true;
  state.SkipWithError("build the module first: its Textures folder is missing");
  return false;
}

// Arguments: member (0 Soft Effects, 1 Glow, 2 Diffusion, 3 Low Contrast,
// 4 Fog, 5 Warm Black Mist), bits per sample.
// 6000 x 4000 in the host's 256-row bands; megapixels per second.
void DiffusionFamilyRender(benchmark::State& state) {
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
BENCHMARK(DiffusionFamilyRender)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {8, 16}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Arguments: member, view. The 480 x 350 viewer on a 6000 x 4000 image:
// view 0 is zoomed to fit (the whole image at 340 / 4000), view 1 a
// 480 x 350 window at 100 % in the middle of the image (the effect's
// margins read around it). A parameter change repaints from the cached
// source.
void DiffusionFamilyPreview(benchmark::State& state) {
  if (!Ready(state)) return;
  const Member& m = kMembers[state.range(0)];
  const bool fit = state.range(1) == 0;
  standin::Host host;
  host.SetDocument(bench::Scene(6000, 4000, 16));
  bench::PrepareRun(host, m.proc, [](std::vector<uint8_t>&) {});
  host.PrepareRecord();
  fx::EffectInstance* effect = fx::Registry().Lookup(m.registryName);
  const float zoom = fit ? 340.0f / 4000.0f : 1.0f;
  const fx::Rect view =
      fit ? fx::Rect{0, 0, static_cast<int32_t>(4000 * zoom), static_cast<int32_t>(6000 * zoom)}
          : fx::Rect{1825, 2760, 1825 + 350, 2760 + 480};
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
  state.SetLabel(std::string(m.registryName) + (fit ? ", zoomed to fit" : ", 100 %"));
}
BENCHMARK(DiffusionFamilyPreview)->ArgsProduct({{0, 1, 2, 3, 4, 5}, {0, 1}})->Unit(benchmark::kMillisecond);

}  // namespace
