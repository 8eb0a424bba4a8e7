// Shared set-up of the frame's tests: the test module loaded through the
// stand-in host, and helpers to read and edit settings blocks.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/filter_run.h"
#include "host/module_loader.h"
#include "host/settings_codec.h"
#include "host/standin_host.h"
#include "tests/plugin/module/probe.h"

namespace frametest {

inline std::unique_ptr<standin::Module> LoadFrom(const std::string& path) {
  std::string error;
  auto m = standin::Module::Load(path, error);
  EXPECT_NE(m, nullptr) << error;
  return m;
}

// The test module shared by most tests (its module-wide state persists).
inline standin::Module& SharedModule() {
  static std::unique_ptr<standin::Module> m = LoadFrom(OVRA_TEST_MODULE);
  return *m;
}

// A copy of the test module under a new name: a fresh load with its own
// module-wide state.
inline std::unique_ptr<standin::Module> FreshModule(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / ("ovra_frame_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const auto path = dir / (name + ".so");
  std::filesystem::copy_file(OVRA_TEST_MODULE, path, std::filesystem::copy_options::overwrite_existing);
  return LoadFrom(path.string());
}

inline OvraTestProbe& Probe(const standin::Module& m) {
  auto* sym = reinterpret_cast<OvraTestProbeProc>(m.Symbol("ovra_test_probe"));
  return *sym();
}

// Edits a block's record by key with the host's own codec.
inline void Set(std::vector<uint8_t>& block, const std::string& key, const std::string& value) {
  standin::SettingsView view;
  std::string error;
  ASSERT_TRUE(standin::ParseSettings(block, view, error)) << error;
  for (const auto& r : view.records)
    if (r.key == key) {
      ASSERT_TRUE(standin::SetValue(block, r, value, error)) << error;
      return;
    }
  FAIL() << "no record " << key;
}

inline const char* PluginPathOf(const standin::Module& m) {
  return reinterpret_cast<OvraTestTextProc>(m.Symbol("ovra_test_plugin_path"))();
}

inline int32_t InitCountOf(const standin::Module& m) {
  return reinterpret_cast<OvraTestIntProc>(m.Symbol("ovra_test_init_count"))();
}

inline std::string Get(const std::vector<uint8_t>& block, const std::string& key) {
  standin::SettingsView view;
  std::string error;
  EXPECT_TRUE(standin::ParseSettings(block, view, error)) << error;
  for (const auto& r : view.records)
    if (r.key == key) return standin::FormatValue(block, r);
  return "<none>";
}

// The module's effect instances outlive invocations; tests bring an effect
// to known values first. These are the test effects' table defaults.
inline std::vector<std::pair<std::string, std::string>> Defaults(const std::string& entry) {
  if (entry == "BleachBypass")
    return {{"view", "0"}, {"amount", "100"}, {"saturation", "0"}, {"contrast", "0"}, {"temperature", "0"}};
  if (entry == "FastBlur") return {{"view", "0"}, {"margin", "10"}};
  if (entry == "Fog") return {{"view", "0"}, {"failure", "0"}};
  return {{"view", "0"}};
}

// The effect's settings block at its defaults with `set` applied.
inline std::vector<uint8_t> SettingsFor(standin::Host& host, const standin::Module& module, const std::string& entry,
                                        const std::vector<std::pair<std::string, std::string>>& set = {}) {
  std::vector<uint8_t> block;
  std::string error;
  EXPECT_TRUE(standin::ReportedSettings(host, module, entry, block, error)) << error;
  for (const auto& [k, v] : Defaults(entry)) Set(block, k, v);
  for (const auto& [k, v] : set) Set(block, k, v);
  return block;
}

// Gives the module's instance those settings through a prepare call.
inline void PrepareWith(standin::Host& host, const standin::Module& module, const std::string& entry,
                        const std::vector<std::pair<std::string, std::string>>& set = {}) {
  const std::vector<uint8_t> block = SettingsFor(host, module, entry, set);
  host.DisposeHandle(host.Record().parameters);
  host.Record().parameters = host.NewHandle(block);
  ASSERT_EQ(host.Call(module, entry, filterSelectorPrepare), 0);
}

// The first differing sample of two documents, for failure messages.
inline std::string FirstDifference(const standin::Document& a, const standin::Document& b) {
  if (a.width != b.width || a.height != b.height || a.depth != b.depth) return "different shapes";
  for (std::size_t i = 0; i < a.samples.size(); ++i)
    if (a.samples[i] != b.samples[i]) {
      const std::size_t pixel = i / 3;
      return "first difference at x " + std::to_string(pixel % a.width) + ", y " + std::to_string(pixel / a.width) +
             ", channel " + std::to_string(i % 3) + ": " + std::to_string(a.samples[i]) + " vs " +
             std::to_string(b.samples[i]);
    }
  return "equal";
}

}  // namespace frametest
