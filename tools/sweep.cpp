// ovra-sweep: a reliability sweep of every registered effect through the real
// module and the stand-in host. Build it with sanitizers and let it run:
//
//   ovra-sweep [--shard K/N] [--module FILE] [EFFECT...]
//
// Each effect runs at both depths with: its defaults, every range at its
// minimum and at its maximum (driven there by values far outside, which the
// module clamps on the way in), every list at its last entry and one past it
// (refused back to the default), over images of 1 x 1, 3 x 2 and 257 x 131,
// in tiles of 256, 7 and 1 rows, through both transfer paths. A finding is a
// failed render or a banded or fallback-path image that differs from the
// one-band image where the effect promises it (effects whose grain follows
// the tiling compare the two transfer paths at the same tiling only). A
// crash or a sanitizer report ends the run with its own status.
//
// The shard option runs every N-th effect from the K-th (0-based), so that
// several processes can share the catalogue.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "framework/registry.h"
#include "framework/settings_block.h"
#include "host/filter_run.h"
#include "host/image_io.h"
#include "host/module_loader.h"
#include "host/settings_codec.h"
#include "host/standin_host.h"
#include "plugin/entry_table.h"

namespace {

using standin::Document;

// Effects whose grain is laid out per tile: only the same tiling promises the
// same image.
bool FollowsTheTiling(const std::string& registryName) {
  static const std::set<std::string> kByDesign = {"FauxFilm", "Grain", "NightVision"};
  return kByDesign.count(registryName) != 0;
}

// A deterministic picture with every channel busy.
Document Pattern(int32_t width, int32_t height, int32_t depth) {
  Document d = Document::Make(width, height, 8);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) d.At(x, y, c) = static_cast<uint16_t>((x * 37 + y * 91 + c * 53) % 256);
  return depth == 8 ? d : standin::ConvertDepth(d, depth);
}

// One named setting: (parameter index, value) pairs applied over the
// defaults. By index, since a group may share its key with one of its rows.
struct Variant {
  std::string name;
  std::vector<std::pair<std::size_t, std::string>> set;
};

std::vector<Variant> VariantsOf(const fx::EffectInstance& instance) {
  std::vector<Variant> variants{{"defaults", {}}};
  for (uint32_t i = 0; i < instance.parameterCount; ++i) {
    const fx::Parameter& p = instance.parameters[i];
    const std::string key = p.key ? p.key : "";
    if (p.kind == fx::Kind::Range) {
      variants.push_back({key + "=min", {{i, "-1e9"}}});
      variants.push_back({key + "=max", {{i, "1e9"}}});
    } else if (p.kind == fx::Kind::List && p.ItemCount() > 0) {
      variants.push_back({key + "=last", {{i, std::to_string(p.ItemCount() - 1)}}});
      variants.push_back({key + "=past", {{i, std::to_string(p.ItemCount() + 3)}}});
    }
  }
  return variants;
}

struct Sweep {
  standin::Module& module;
  long runs = 0, findings = 0;

  void Finding(const std::string& what) {
    ++findings;
    std::cout << "FINDING " << what << std::endl;
  }

  // Renders and reports a failed run; returns false when it failed.
  bool Render(const std::string& entry, const std::vector<uint8_t>& block, const Document& source,
              const standin::HostOptions& options, Document& out, const std::string& what) {
    standin::Host host(options);
    host.SetDocument(source);
    standin::RunOptions run;
    run.scriptedSettings = block;
    const standin::RunResult r = standin::RunFilter(host, module, entry, run);
    ++runs;
    if (r.result != 0) {
      Finding(what + ": " + standin::DescribeResult(r.result, r.message));
      return false;
    }
    out = host.Doc();
    return true;
  }

  void Effect(const std::string& entry, const std::string& registryName, const fx::EffectInstance& instance,
              const std::vector<uint8_t>& defaults) {
    const bool followsTiling = FollowsTheTiling(registryName);
    for (const Variant& v : VariantsOf(instance)) {
      std::vector<uint8_t> block = defaults;
      standin::SettingsView view;
      std::string error;
      if (!standin::ParseSettings(block, view, error)) {
        Finding(entry + ": " + error);
        return;
      }
      for (const auto& [index, value] : v.set)
        if (index >= view.records.size() || !standin::SetValue(block, view.records[index], value, error))
          Finding(entry + " " + v.name + ": " + (index >= view.records.size() ? "no such record" : error));
      for (int32_t depth : {8, 16})
        for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{257, 131}}) {
          const Document source = Pattern(w, h, depth);
          const std::string base = entry + " " + v.name + " " + std::to_string(depth) + "-bit " + std::to_string(w) +
                                   "x" + std::to_string(h);
          Document reference;
          standin::HostOptions whole;
          whole.tileRows = 256;
          if (!Render(entry, block, source, whole, reference, base + " 256 rows ports")) continue;
          for (bool interleaved : {false, true})
            for (int32_t rows : {256, 7, 1}) {
              if (!interleaved && rows == 256) continue;
              standin::HostOptions options;
              options.tileRows = rows;
              options.interleaved = interleaved;
              const std::string what =
                  base + " " + std::to_string(rows) + " rows " + (interleaved ? "interleaved" : "ports");
              Document out;
              if (!Render(entry, block, source, options, out, what)) continue;
              if (followsTiling) {
                if (!interleaved) continue;
                standin::HostOptions same = options;
                same.interleaved = false;
                Document ports;
                if (!Render(entry, block, source, same, ports, what + " (ports)")) continue;
                if (!(out == ports)) Finding(what + ": the transfer paths differ");
              } else if (!(out == reference)) {
                Finding(what + ": differs from one band through ports");
              }
            }
        }
    }
  }
};

int Main(int argc, char** argv) {
  std::string modulePath;
  int shard = 0, shards = 1;
  std::set<std::string> only;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--module" && i + 1 < argc) {
      modulePath = argv[++i];
    } else if (a == "--shard" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%d/%d", &shard, &shards) != 2 || shards < 1 || shard < 0 || shard >= shards) {
        std::cerr << "ovra-sweep: --shard takes K/N with 0 <= K < N\n";
        return 2;
      }
    } else if (!a.empty() && a[0] == '-') {
      std::cerr << "usage: ovra-sweep [--shard K/N] [--module FILE] [EFFECT...]\n";
      return 2;
    } else {
      only.insert(a);
    }
  }
  if (modulePath.empty()) {
    const std::string self = argv[0];
    const auto slash = self.rfind('/');
    modulePath = (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/ovra.so";
  }
  std::string error;
  auto module = standin::Module::Load(modulePath, error);
  if (!module) {
    std::cerr << "ovra-sweep: " << error << "\n";
    return 1;
  }
  fx::EffectRegistry registry;
  fx::RegisterEffects(registry);
  Sweep sweep{*module};
  const auto start = std::chrono::steady_clock::now();
  int effects = 0;
  for (int i = 0; i < registry.Count(); ++i) {
    if (i % shards != shard) continue;
    const std::string name = registry.NameAt(i);
    std::string entry;
    for (const ps::EntryInfo& e : ps::kEntryTable)
      if (name == e.registryName) entry = std::string(e.entryName).substr(7);
    if (!only.empty() && !only.count(entry) && !only.count(name)) continue;
    fx::EffectInstance* instance = registry.Lookup(name.c_str());
    for (uint32_t p = 0; p < instance->parameterCount; ++p) fx::ResetToDefault(instance->parameters[p]);
    const long before = sweep.runs;
    sweep.Effect(entry, name, *instance, fx::BuildSettings(*instance));
    ++effects;
    std::cout << entry << ": " << sweep.runs - before << " runs" << std::endl;
  }
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  std::cout << "sweep: " << effects << " effects, " << sweep.runs << " runs, " << sweep.findings << " findings, "
            << seconds << " s" << std::endl;
  return sweep.findings == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "ovra-sweep: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "ovra-sweep: unknown failure\n";
  }
  return 1;
}
