// Every registered effect through the stand-in host, and beside them, in the
// same run, the peers they are judged against: a plain per-channel lookup
// loop, memcpy and (when it is found at build time) OpenCV's box filter.
//
// For each effect, at 8 and 16 bits, with one thread and with all threads:
//   - band MP/s: pixels over the time spent inside the effect's render calls;
//   - start MP/s: pixels over the whole start selector through the host;
// then the dialog's preview re-render after a parameter change, at fit and
// at 100 % in a 480 x 350 view (ms), and the process's peak memory during
// the 16-bit runs. One-thread figures are CPU time (the machine may be
// shared); all-thread figures are wall time. A Markdown table, one row per
// effect, ends the run.
//
//   ovra_bench_all [--size=WxH] [--benchmark_filter=REGEX] [benchmark flags]
//   OVRA_BENCH_SIZE=WxH   the document size (default 6000x4000)
//
// Names are <what>/<Effect>/<depth or view>/<threads>, e.g.
// --benchmark_filter='/(Telecine|Tint)/' or --benchmark_filter='^Start/.*/8/'.
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
#include "framework/registry.h"
#include "host/settings_codec.h"
#include "imaging/parallel.h"
#include "plugin/render_loop.h"
#include "tests/e2e/changing_settings.h"

#if defined(OVRA_HAVE_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using e2e::ChangingSettings;
using e2e::Settings;

int32_t g_width = 6000;
int32_t g_height = 4000;

double Megapixels() { return static_cast<double>(g_width) * g_height / 1e6; }

struct EntryProc {
  const char* registryName;
  PluginMainProc proc;
};

constexpr EntryProc kEntries[] = {
#define OVRA_ENTRY(entry, registryName, registryKey, aboutFlag) {registryName, &PIMAIN_##entry},
#include "plugin/entry_table.inc"
#undef OVRA_ENTRY
};

// ---------------------------------------------------------------------------
// Clocks and memory.

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Starts a new peak-memory window (the kernel resets the high-water mark).
void ResetPeakMemory() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

// The resident high-water mark since the last reset, in MB.
double PeakMemoryMb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// ---------------------------------------------------------------------------
// The time inside the effect's render calls: the registry's instance gets a
// copy of its routine table whose render is timed, for as long as one
// benchmark runs.

struct RenderClock {
  const fx::EffectRoutines* original = nullptr;
  double wall = 0;
  double cpu = 0;
};
RenderClock g_clock;

void TimedRender(fx::EffectInstance* self, fx::RenderInfo* info) {
  struct Stop {
    double wall0 = WallSeconds();
    double cpu0 = CpuSeconds();
    ~Stop() {
      g_clock.wall += WallSeconds() - wall0;
      g_clock.cpu += CpuSeconds() - cpu0;
    }
  } stop;
  g_clock.original->render(self, info);
}

class TimedEffect {
 public:
  explicit TimedEffect(fx::EffectInstance& effect) : effect_(effect), routines_(*effect.routines) {
    g_clock = {effect.routines, 0, 0};
    routines_.render = &TimedRender;
    effect_.routines = &routines_;
  }
  ~TimedEffect() { effect_.routines = g_clock.original; }
  TimedEffect(const TimedEffect&) = delete;
  TimedEffect& operator=(const TimedEffect&) = delete;

 private:
  fx::EffectInstance& effect_;
  fx::EffectRoutines routines_;
};

// ---------------------------------------------------------------------------
// Documents: one kept at a time (a 6000 x 4000 one is 144 MB).

const standin::Document& SceneOf(int32_t depth) {
  static std::optional<standin::Document> scene;
  if (!scene || scene->depth != depth || scene->width != g_width || scene->height != g_height) {
    scene.reset();
    scene = bench::Scene(g_width, g_height, depth);
  }
  return *scene;
}

// The settings block at the table defaults, `set` applied by key.
std::vector<uint8_t> EditedBlock(std::vector<uint8_t> block, const Settings& set) {
  standin::SettingsView view;
  std::string error;
  if (!standin::ParseSettings(block, view, error)) return block;
  for (const auto& [key, value] : set)
    for (const auto& r : view.records)
      if (r.key == key) standin::SetValue(block, r, value, error);
  return block;
}

void ResetEffect(fx::EffectInstance& effect) {
  for (uint32_t i = 0; i < effect.parameterCount; ++i) fx::ResetToDefault(effect.parameters[i]);
}

// ---------------------------------------------------------------------------
// Results, gathered for the closing table.

struct Figures {
  double bandOne = 0, bandAll = 0, startOne = 0, startAll = 0;
  bool seen = false;
};
struct Row {
  Figures depth[2];  // 8, 16
  double previewFit = -1, previewFull = -1;
  double peakMb = 0;
};
std::map<std::string, Row>& Rows() {
  static std::map<std::string, Row> rows;
  return rows;
}
std::vector<std::string>& RowOrder() {
  static std::vector<std::string> order;
  return order;
}
std::vector<std::pair<std::string, std::string>>& PeerLines() {
  static std::vector<std::pair<std::string, std::string>> lines;
  return lines;
}

// ---------------------------------------------------------------------------
// The benchmarks.

void StartRun(benchmark::State& state, const std::string& name, PluginMainProc proc, int32_t depth,
              bool allThreads) {
  fx::EffectInstance* effect = fx::Registry().Lookup(name.c_str());
  if (effect == nullptr) {
    state.SkipWithError("not registered");
    return;
  }
  fx::SetThreadCount(allThreads ? 0 : 1);
  const standin::Document& doc = SceneOf(depth);
  const Settings set = ChangingSettings(name);
  standin::Host host;
  host.SetDocument(doc);
  ResetEffect(*effect);
  ResetPeakMemory();
  double startWall = 0, startCpu = 0;
  {
    TimedEffect timed(*effect);
    for (auto _ : state) {
      state.PauseTiming();
      host.Doc() = doc;
      ResetEffect(*effect);
      bench::PrepareRun(host, proc, [&](std::vector<uint8_t>& b) { b = EditedBlock(std::move(b), set); });
      const double w0 = WallSeconds(), c0 = CpuSeconds();
      state.ResumeTiming();
      const int16_t result = host.Call(proc, filterSelectorStart);
      state.PauseTiming();
      startWall += WallSeconds() - w0;
      startCpu += CpuSeconds() - c0;
      if (result != 0) state.SkipWithError("render failed");
      state.ResumeTiming();
    }
  }
  fx::SetThreadCount(0);
  ResetEffect(*effect);
  const double pixels = Megapixels() * static_cast<double>(state.iterations());
  // One thread: CPU time (others may share the machine); all threads: wall.
  const double band = pixels / std::max(allThreads ? g_clock.wall : g_clock.cpu, 1e-9);
  const double start = pixels / std::max(allThreads ? startWall : startCpu, 1e-9);
  state.counters["band_MP/s"] = band;
  state.counters["start_MP/s"] = start;
  state.counters["peak_MB"] = PeakMemoryMb();
  Row& row = Rows()[name];
  Figures& f = row.depth[depth == 16 ? 1 : 0];
  f.seen = true;
  (allThreads ? f.bandAll : f.bandOne) = band;
  (allThreads ? f.startAll : f.startOne) = start;
  if (depth == 16) row.peakMb = std::max(row.peakMb, PeakMemoryMb());
}

// The first range parameter the user could drag (not the view list).
int DraggableParameter(const fx::EffectInstance& effect) {
  for (uint32_t i = 0; i < effect.parameterCount; ++i) {
    const fx::Parameter& p = effect.parameters[i];
    if (p.kind == fx::Kind::Range && p.Maximum() > p.Minimum()) return static_cast<int>(i);
  }
  return -1;
}

void PreviewRun(benchmark::State& state, const std::string& name, PluginMainProc proc, bool fit) {
  fx::EffectInstance* effect = fx::Registry().Lookup(name.c_str());
  if (effect == nullptr) {
    state.SkipWithError("not registered");
    return;
  }
  const Settings set = ChangingSettings(name);
  standin::Host host;
  host.SetDocument(SceneOf(8));
  ResetEffect(*effect);
  bench::PrepareRun(host, proc, [&](std::vector<uint8_t>& b) { b = EditedBlock(std::move(b), set); });
  host.PrepareRecord();
  constexpr int32_t kViewWidth = 480, kViewHeight = 350;
  float zoom = 1.0f;
  fx::Rect view;
  if (fit) {
    zoom = std::min(static_cast<float>(kViewWidth) / static_cast<float>(g_width),
                    static_cast<float>(kViewHeight) / static_cast<float>(g_height));
    view = {0, 0, static_cast<int32_t>(static_cast<float>(g_height) * zoom),
            static_cast<int32_t>(static_cast<float>(g_width) * zoom)};
  } else {
    const int32_t w = std::min(kViewWidth, g_width), h = std::min(kViewHeight, g_height);
    const int32_t top = (g_height - h) / 2, left = (g_width - w) / 2;
    view = {top, left, top + h, left + w};
  }
  std::vector<uint8_t> out(static_cast<std::size_t>(view.Width()) * view.Height() * 4);
  const int dragged = DraggableParameter(*effect);
  const double base = dragged >= 0 ? effect->parameters[dragged].number : 0;
  {
    ps::PreviewRenderer preview(&host.Record(), *effect);
    preview.Render(view, zoom, out.data(), view.Width() * 4, false);  // reads the scaled source
    int64_t step = 0;
    for (auto _ : state) {
      if (dragged >= 0) {
        fx::Parameter& p = effect->parameters[dragged];
        const double nudge = (p.Maximum() - p.Minimum()) / 100.0;
        fx::SetRange(p, std::clamp(base + ((++step & 1) ? nudge : 0.0), p.Minimum(), p.Maximum()));
        effect->routines->parameterChanged(effect, dragged);
      }
      if (!preview.Render(view, zoom, out.data(), view.Width() * 4, false)) state.SkipWithError("render failed");
    }
  }
  ResetEffect(*effect);
  state.SetLabel(dragged >= 0 ? std::string("dragging ") + effect->parameters[dragged].key : "no range");
}

// Records the preview's mean time from the reporter (Google Benchmark
// measures it; the run function cannot see its own mean).
class TableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      const std::string name = run.benchmark_name();
      const double ms = run.GetAdjustedRealTime() * (run.time_unit == benchmark::kMillisecond ? 1.0 : 1e-6);
      if (name.rfind("Preview/", 0) == 0) {
        const std::size_t a = name.find('/') + 1, b = name.find('/', a);
        Row& row = Rows()[name.substr(a, b - a)];
        (name.find("/fit") != std::string::npos ? row.previewFit : row.previewFull) = ms;
      } else if (name.rfind("Peer/", 0) == 0) {
        auto it = run.counters.find("MP/s");
        if (it != run.counters.end()) {
          char text[64];
          std::snprintf(text, sizeof text, "%.0f MP/s", static_cast<double>(it->second));
          PeerLines().push_back({name.substr(5), text});
        }
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

// ---------------------------------------------------------------------------
// The peers, over an 8-bit (or 16-bit) four-channel buffer of the same size.

template <class S>
void LookupLoop(benchmark::State& state) {
  constexpr std::size_t kSize = sizeof(S) == 1 ? 256 : 32769;
  std::vector<S> table[3];
  for (int c = 0; c < 3; ++c) {
    table[c].resize(kSize);
    for (std::size_t i = 0; i < kSize; ++i) table[c][i] = static_cast<S>(i * (c + 5) / 8);
  }
  const std::size_t samples = static_cast<std::size_t>(g_width) * g_height * 4;
  std::vector<S> image(samples);
  for (std::size_t i = 0; i < samples; ++i) image[i] = static_cast<S>((i * 2654435761u >> 7) % kSize);
  for (auto _ : state) {
    S* p = image.data();
    for (std::size_t i = 0; i < samples; i += 4) {
      p[i] = table[0][p[i]];
      p[i + 1] = table[1][p[i + 1]];
      p[i + 2] = table[2][p[i + 2]];
    }
    benchmark::DoNotOptimize(image.data());
    benchmark::ClobberMemory();
  }
  state.counters["MP/s"] = benchmark::Counter(Megapixels() * static_cast<double>(state.iterations()),
                                              benchmark::Counter::kIsRate);
}

void Memcpy(benchmark::State& state) {
  const std::size_t bytes = static_cast<std::size_t>(g_width) * g_height * 4;
  std::vector<uint8_t> from(bytes, 7), to(bytes, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.counters["MP/s"] = benchmark::Counter(Megapixels() * static_cast<double>(state.iterations()),
                                              benchmark::Counter::kIsRate);
}

#if defined(OVRA_HAVE_OPENCV)
void OpenCvBox(benchmark::State& state, int radius, bool one) {
  const int threads = cv::getNumThreads();
  if (one) cv::setNumThreads(1);
  cv::Mat from(g_height, g_width, CV_8UC4), to;
  cv::randu(from, cv::Scalar::all(0), cv::Scalar::all(255));
  for (auto _ : state) {
    cv::blur(from, to, cv::Size(2 * radius + 1, 2 * radius + 1));
    benchmark::DoNotOptimize(to.data);
  }
  cv::setNumThreads(threads);
  state.counters["MP/s"] = benchmark::Counter(Megapixels() * static_cast<double>(state.iterations()),
                                              benchmark::Counter::kIsRate);
}
#endif

void RegisterAll() {
  for (const EntryProc& e : kEntries) {
    if (fx::Registry().Lookup(e.registryName) == nullptr) continue;
    RowOrder().push_back(e.registryName);
  }
  for (int32_t depth : {8, 16})
    for (const std::string& name : RowOrder())
      for (bool all : {false, true}) {
        PluginMainProc proc = nullptr;
        for (const EntryProc& e : kEntries)
          if (name == e.registryName) proc = e.proc;
        benchmark::RegisterBenchmark(
            ("Start/" + name + "/" + std::to_string(depth) + (all ? "/threads:all" : "/threads:1")).c_str(),
            [=](benchmark::State& s) { StartRun(s, name, proc, depth, all); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(0.2);
      }
  for (const std::string& name : RowOrder())
    for (bool fit : {true, false}) {
      PluginMainProc proc = nullptr;
      for (const EntryProc& e : kEntries)
        if (name == e.registryName) proc = e.proc;
      benchmark::RegisterBenchmark(("Preview/" + name + (fit ? "/fit" : "/100%")).c_str(),
                                   [=](benchmark::State& s) { PreviewRun(s, name, proc, fit); })
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->MinTime(0.2);
    }
  // The lookup loop and memcpy run on one thread.
  benchmark::RegisterBenchmark("Peer/lookup_loop/8", &LookupLoop<uint8_t>)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Peer/lookup_loop/16", &LookupLoop<uint16_t>)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Peer/memcpy/8", &Memcpy)->Unit(benchmark::kMillisecond);
#if defined(OVRA_HAVE_OPENCV)
  // One thread: CPU time, like the effects' one-thread figures.
  for (int radius : {10, 50})
    benchmark::RegisterBenchmark(("Peer/opencv_box/8/r" + std::to_string(radius) + "/threads:1").c_str(), [=](benchmark::State& s) { OpenCvBox(s, radius, true); })
        ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Peer/opencv_box/8/r10/threads:all", [](benchmark::State& s) { OpenCvBox(s, 10, false); })
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
#endif
}

std::string Cell(double v, const char* format = "%.0f") {
  if (v <= 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

void PrintTable() {
  std::printf("\n### All effects, %d x %d, %d threads\n\n", g_width, g_height, fx::ThreadCount());
  std::printf(
      "Band: MP/s inside the effect's render calls; start: MP/s of the whole start selector. "
      "1T: one thread, CPU time; all: %d threads, wall time. Preview: ms per re-render after a "
      "parameter change, 480 x 350 view. Peak: MB resident during the 16-bit runs (the bench holds "
      "the document three times: %.0f MB each).\n\n",
      fx::ThreadCount(), Megapixels() * 6.0);
  std::printf(
      "| Effect | 8 band 1T | 8 band all | 8 start 1T | 8 start all | 16 band 1T | 16 band all | 16 start 1T "
      "| 16 start all | preview fit ms | preview 100%% ms | peak MB |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const std::string& name : RowOrder()) {
    const auto it = Rows().find(name);
    if (it == Rows().end()) continue;
    const Row& r = it->second;
    if (!r.depth[0].seen && !r.depth[1].seen && r.previewFit < 0 && r.previewFull < 0) continue;
    std::printf("| %s |", name.c_str());
    for (const Figures& f : r.depth)
      std::printf(" %s | %s | %s | %s |", Cell(f.bandOne).c_str(), Cell(f.bandAll).c_str(), Cell(f.startOne).c_str(),
                  Cell(f.startAll).c_str());
    std::printf(" %s | %s | %s |\n", Cell(r.previewFit, "%.1f").c_str(), Cell(r.previewFull, "%.1f").c_str(),
                Cell(r.peakMb).c_str());
  }
  if (!PeerLines().empty()) {
    std::printf("\nPeers in the same run (one thread unless named):\n\n");
    for (const auto& [name, figure] : PeerLines()) std::printf("- %s: %s\n", name.c_str(), figure.c_str());
  }
#if !defined(OVRA_HAVE_OPENCV)
  std::printf("\n(OpenCV was not found at build time: no box-filter peer.)\n");
#endif
}

bool ParseSize(const char* text) {
  int w = 0, h = 0;
  if (text == nullptr || std::sscanf(text, "%dx%d", &w, &h) != 2 || w < 1 || h < 1 || w > 100000 || h > 100000)
    return false;
  g_width = w;
  g_height = h;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (const char* env = std::getenv("OVRA_BENCH_SIZE"); env != nullptr && !ParseSize(env)) {
      std::fprintf(stderr, "OVRA_BENCH_SIZE: expected WxH, got %s\n", env);
      return 2;
    }
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
      if (i > 0 && std::strncmp(argv[i], "--size=", 7) == 0) {
        if (!ParseSize(argv[i] + 7)) {
          std::fprintf(stderr, "--size: expected WxH, got %s\n", argv[i] + 7);
          return 2;
        }
        continue;
      }
      rest.push_back(argv[i]);
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    if (benchmark::ReportUnrecognizedArguments(count, rest.data())) return 2;
    RegisterAll();
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintTable();
    benchmark::Shutdown();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ovra_bench_all: %s\n", e.what());
    return 1;
  } catch (...) {
    std::fprintf(stderr, "ovra_bench_all: failed\n");
    return 1;
  }
}
