// End-to-end tests run the real module file through the stand-in host.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/registry.h"
#include "framework/settings_block.h"
#include "host/filter_run.h"
#include "host/image_io.h"
#include "host/module_loader.h"
#include "host/settings_codec.h"
#include "host/standin_host.h"
#include "plugin/entry_table.h"

namespace e2e {

inline const std::string kModulePath = std::string(OVRA_MODULE_DIR) + "/ovra.so";
inline const std::string kHostPath = std::string(OVRA_MODULE_DIR) + "/ovra-host";
inline const std::string kSamples = std::string(OVRA_SOURCE_DIR) + "/data/samples";

// Parameter keys and the values to set, as `ovra-host apply --set` takes them.
using Settings = std::vector<std::pair<std::string, std::string>>;

// An effect and the settings that give one of its looks.
struct Look {
  std::string entry;
  Settings set;
};

// What one ovra-host command printed on stdout and stderr, and its exit status.
struct HostOutput {
  int status = -1;
  std::string text;
};

inline HostOutput RunHost(const std::string& args) {
  HostOutput o;
  FILE* p = popen((kHostPath + " " + args + " 2>&1").c_str(), "r");
  if (p == nullptr) return o;
  std::array<char, 4096> buf;
  while (std::size_t n = fread(buf.data(), 1, buf.size(), p)) o.text.append(buf.data(), n);
  const int status = pclose(p);
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return o;
}

// Processor time the finished child processes used, in seconds: what a run
// costs, whatever the load of the machine does to its wall-clock time.
inline double ChildCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline standin::Module& RealModule() {
  static std::unique_ptr<standin::Module> m = [] {
    std::string error;
    auto loaded = standin::Module::Load(kModulePath, error);
    EXPECT_NE(loaded, nullptr) << error;
    return loaded;
  }();
  return *m;
}

// A crop of a bundled photograph at the given depth.
inline standin::Document Photo(const std::string& name, int32_t width, int32_t height, int32_t depth) {
  standin::Document full;
  std::string error;
  EXPECT_TRUE(standin::ReadImage(kSamples + "/" + name, full, error)) << error;
  standin::Document d = standin::Document::Make(width, height, 8);
  const int32_t x0 = (full.width - width) / 2, y0 = (full.height - height) / 2;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) d.At(x, y, c) = full.At(x0 + x, y0 + y, c);
  return depth == 8 ? d : standin::ConvertDepth(d, depth);
}

inline std::string FirstDifference(const standin::Document& a, const standin::Document& b) {
  if (a.width != b.width || a.height != b.height || a.depth != b.depth) return "different shapes";
  for (std::size_t i = 0; i < a.samples.size(); ++i)
    if (a.samples[i] != b.samples[i]) {
      const std::size_t pixel = i / 3;
      return "first difference at x " + std::to_string(pixel % a.width) + ", y " +
             std::to_string(pixel / a.width) + ", channel " + std::to_string(i % 3) + ": " +
             std::to_string(a.samples[i]) + " vs " + std::to_string(b.samples[i]);
    }
  return "equal";
}

// The effect types of the module, from the registration list it is built
// with: the tests know each table's defaults from here.
inline fx::EffectRegistry& Types() {
  static fx::EffectRegistry registry;
  if (registry.Count() == 0) fx::RegisterEffects(registry);
  return registry;
}

inline const char* RegistryNameOf(const std::string& entry) {
  const std::string name = entry.rfind("PIMAIN_", 0) == 0 ? entry : "PIMAIN_" + entry;
  for (const ps::EntryInfo& e : ps::kEntryTable)
    if (name == e.entryName) return e.registryName;
  return "";
}

// The settings block of the effect at its table defaults. The module keeps
// its instances between invocations, so tests never rely on what it holds.
inline std::vector<uint8_t> DefaultSettings(const std::string& entry) {
  fx::EffectInstance* instance = Types().Lookup(RegistryNameOf(entry));
  EXPECT_NE(instance, nullptr) << entry;
  if (instance == nullptr) return {};
  for (uint32_t i = 0; i < instance->parameterCount; ++i) fx::ResetToDefault(instance->parameters[i]);
  return fx::BuildSettings(*instance);
}

// Renders entry over doc at the table defaults with `set` applied, the host
// shaped by options.
inline standin::Document RenderWith(const std::string& entry, const standin::Document& doc,
                                    const Settings& set, const standin::HostOptions& options = {},
                                    int16_t* result = nullptr) {
  standin::Host host(options);
  host.SetDocument(doc);
  std::vector<uint8_t> block = DefaultSettings(entry);
  std::string error;
  standin::SettingsView view;
  EXPECT_TRUE(standin::ParseSettings(block, view, error)) << error;
  for (const auto& [key, value] : set) {
    bool found = false;
    for (const auto& r : view.records) {
      if (r.key != key) continue;
      found = true;
      EXPECT_TRUE(standin::SetValue(block, r, value, error)) << error;
    }
    EXPECT_TRUE(found) << entry << " has no parameter " << key;
  }
  standin::RunOptions run;
  run.scriptedSettings = block;
  const standin::RunResult r = standin::RunFilter(host, RealModule(), entry, run);
  if (result) *result = r.result;
  EXPECT_EQ(r.result, 0) << entry << ": " << r.message;
  return host.Doc();
}

// Effects whose output may follow the tiling (their grain is laid out per
// band) only promise the same image for the same bands.
enum class Tiling { kAnyBandsGiveTheWholeImage, kSameBandsGiveTheSameImage };

// Renders `look` over source in one band and in bands of each of `rows` (0:
// the host gives no tile size), expects every banded image to equal the
// one-band image (or, for kSameBandsGiveTheSameImage, a second render with
// the same bands), and returns the one-band image. `what` names the case in
// failure messages.
inline standin::Document ExpectBandsAgree(const Look& look, const standin::Document& source,
                                          std::initializer_list<int32_t> rows, const std::string& what = "",
                                          Tiling tiling = Tiling::kAnyBandsGiveTheWholeImage) {
  standin::HostOptions whole;
  whole.tileRows = source.height;
  const standin::Document reference = RenderWith(look.entry, source, look.set, whole);
  for (int32_t r : rows) {
    standin::HostOptions banded;
    banded.tileRows = r;
    const standin::Document out = RenderWith(look.entry, source, look.set, banded);
    const standin::Document expected = tiling == Tiling::kAnyBandsGiveTheWholeImage
                                           ? reference
                                           : RenderWith(look.entry, source, look.set, banded);
    EXPECT_EQ(out, expected) << look.entry << " " << what << " " << source.depth << "-bit, " << r
                             << " rows: " << FirstDifference(out, expected);
  }
  return reference;
}

}  // namespace e2e
