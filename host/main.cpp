// ovra-host: the stand-in host's command line.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#ifdef OVRA_HOST_WITH_UI
#include "host/dialog_commands.h"
#endif
#include "host/apply_command.h"
#include "host/cli.h"
#include "host/filter_catalogue.h"
#include "host/filter_run.h"
#include "host/image_io.h"
#include "host/settings_codec.h"

using namespace standin;
using namespace standin::cli;

namespace {

int List(const Args& args) {
  if (!args.positional.empty()) return Usage("list", "list takes no arguments");
  if (args.Has("--all") && args.Has("--resources")) return Usage("list", "--all and --resources exclude each other");
  auto module = LoadModule(args);
  if (!module) return 1;
  const bool json = args.Has("--json");
  if (args.Has("--all")) {
    const auto entries = module->ExportedEntries();
    if (json) {
      std::cout << "[";
      for (std::size_t i = 0; i < entries.size(); ++i) std::cout << (i ? ", " : "") << JsonString(entries[i]);
      std::cout << "]\n";
    } else {
      for (const std::string& e : entries) std::cout << e << "\n";
    }
    return 0;
  }
  std::string error;
  const auto resources = module->Resources(error);
  if (!error.empty()) {
    std::cerr << "ovra-host: " << error << "\n";
    return 1;
  }
  if (args.Has("--resources")) {
    if (json) std::cout << "[";
    for (std::size_t i = 0; i < resources.size(); ++i) {
      const ResourceFilter& f = resources[i];
      if (json)
        std::cout << (i ? ", " : "") << "{\"id\": " << f.id << ", \"menuName\": " << JsonString(f.menuName)
                  << ", \"entry\": " << JsonString(f.entryPoint) << "}";
      else
        std::cout << f.id << "\t" << f.menuName << "\t" << f.entryPoint << "\n";
    }
    if (json) std::cout << "]\n";
    return 0;
  }
  // The filters the module runs: those whose parameters selector succeeds.
  std::map<std::string, int32_t> menu;
  for (const ResourceFilter& f : resources) menu[f.entryPoint] = f.id;
  std::map<std::string, const FilterName*> known;
  for (const FilterName& f : KnownFilters()) known[f.entry] = &f;
  if (json) std::cout << "[";
  bool first = true;
  // In catalogue order, then whatever else the module exports.
  std::vector<std::string> entries;
  const std::vector<std::string> exported = module->ExportedEntries();
  for (const FilterName& f : KnownFilters())
    if (std::find(exported.begin(), exported.end(), f.entry) != exported.end()) entries.push_back(f.entry);
  for (const std::string& e : exported)
    if (known.count(e) == 0) entries.push_back(e);
  for (const std::string& entry : entries) {
    Host host;
    std::vector<uint8_t> block;
    SettingsView view;
    if (!ReportedSettings(host, *module, entry, block, error) || !ParseSettings(block, view, error)) continue;
    const auto k = known.find(entry);
    const std::string family = k == known.end() ? "" : k->second->family;
    const auto m = menu.find(entry);
    if (json) {
      std::cout << (first ? "" : ", ") << "{\"entry\": " << JsonString(entry)
                << ", \"displayName\": " << JsonString(view.effectName) << ", \"family\": " << JsonString(family)
                << ", \"resource\": " << (m == menu.end() ? std::string("null") : std::to_string(m->second)) << "}";
    } else {
      std::cout << entry << "\t" << view.effectName << "\t" << (family.empty() ? "-" : family) << "\t"
                << (m == menu.end() ? std::string("-") : std::to_string(m->second)) << "\n";
    }
    first = false;
  }
  if (json) std::cout << "]\n";
  return 0;
}

std::string Pad(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

void PrintTable(const EffectParams& params, const std::vector<uint8_t>& block) {
  struct Row {
    std::vector<std::string> cells;
    const ParamInfo* p;
  };
  std::vector<Row> rows;
  rows.push_back({{"#", "key", "label", "kind", "value", "range", "default", "state"}, nullptr});
  for (const ParamInfo& p : params.params) {
    std::string key = p.key;
    std::string state;
    if (!p.enabled) state = "disabled";
    if (p.hidden) state += state.empty() ? "hidden" : ", hidden";
    rows.push_back({{std::to_string(p.index), key, p.label, KindName(p.kind), ShownValue(params, p, block),
                     ShownRange(p), params.known ? ShownValue(params, p, params.defaults) : "", state},
                    &p});
  }
  std::vector<std::size_t> width(8, 0);
  for (const Row& r : rows)
    for (std::size_t c = 0; c < r.cells.size(); ++c) width[c] = std::max(width[c], r.cells[c].size());
  std::cout << params.effectName << " (" << params.entry << ")\n";
  for (const Row& r : rows) {
    std::string line;
    for (std::size_t c = 0; c < r.cells.size(); ++c) line += c + 1 < r.cells.size() ? Pad(r.cells[c], width[c] + 2) : r.cells[c];
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::cout << line << "\n";
    if (r.p && r.p->kind == 4)
      for (std::size_t i = 0; i < r.p->choices.size(); ++i)
        std::cout << std::string(width[0] + 2, ' ') << "  " << i << " " << r.p->choices[i] << "\n";
  }
  if (!params.known)
    std::cout << "(this ovra-host has no table matching the module's settings: labels and limits unknown)\n";
}

void PrintJson(const EffectParams& params, const std::vector<uint8_t>& block) {
  std::cout << "{\"effect\": " << JsonString(params.effectName) << ", \"entry\": " << JsonString(params.entry)
            << ", \"described\": " << (params.known ? "true" : "false") << ", \"parameters\": [";
  for (std::size_t i = 0; i < params.params.size(); ++i) {
    const ParamInfo& p = params.params[i];
    std::cout << (i ? ",\n  " : "\n  ") << "{\"index\": " << p.index << ", \"kind\": " << p.kind
              << ", \"kindName\": " << JsonString(KindName(p.kind)) << ", \"key\": " << JsonString(p.key)
              << ", \"group\": " << JsonString(p.group) << ", \"value\": " << JsonValue(p, block)
              << ", \"shown\": " << JsonString(ShownValue(params, p, block));
    if (params.known) {
      std::cout << ", \"label\": " << JsonString(p.label) << ", \"default\": " << JsonValue(p, params.defaults)
                << ", \"enabled\": " << (p.enabled ? "true" : "false")
                << ", \"hidden\": " << (p.hidden ? "true" : "false") << ", \"flags\": " << p.flags;
      if (p.kind == 2) {
        char limits[128];
        std::snprintf(limits, sizeof limits, ", \"minimum\": %.17g, \"maximum\": %.17g, \"decimals\": %d", p.minimum,
                      p.maximum, p.decimals);
        std::cout << limits << ", \"wholeNumbers\": " << (p.wholeNumbers ? "true" : "false");
      }
      if (p.kind == 4) {
        std::cout << ", \"choices\": [";
        for (std::size_t c = 0; c < p.choices.size(); ++c) std::cout << (c ? ", " : "") << JsonString(p.choices[c]);
        std::cout << "]";
      }
    }
    std::cout << "}";
  }
  std::cout << "\n]}\n";
}

int Params(const Args& args) {
  if (args.positional.size() != 1) return Usage("params", "params takes one filter");
  if (args.Has("--json") && args.Has("--tsv")) return Usage("params", "--json and --tsv exclude each other");
  auto module = LoadModule(args);
  if (!module) return 1;
  const std::string entry = ResolveEntry(*module, args.positional[0]);
  if (entry.empty()) return kUsageError;
  Host host;
  Settings settings;
  if (const int status = GatherSettings(host, *module, entry, args, settings); status != 0) return status;
  const std::vector<uint8_t>& block = settings.block;
  // Enabled and hidden as the dialog would show them over these values.
  if (std::string error; !DescribeParams(entry, block, settings.params, error)) {
    std::cerr << "ovra-host: " << error << "\n";
    return 1;
  }
  if (args.Has("--tsv")) {
    // Scripts read exactly these four columns.
    SettingsView view;
    std::string error;
    ParseSettings(block, view, error);
    for (std::size_t i = 0; i < view.records.size(); ++i) {
      const auto& r = view.records[i];
      std::cout << i << "\t" << r.kind << "\t" << r.key << "\t" << FormatValue(block, r) << "\n";
    }
  } else if (args.Has("--json")) {
    PrintJson(settings.params, block);
  } else {
    PrintTable(settings.params, block);
  }
  if (args.Has("--save")) {
    const std::string file = args.Get("--save");
    std::string error;
    const bool ok = WriteWhole(
        file,
        [&block](const std::string& temp, std::string& why) {
          std::ofstream out(temp, std::ios::binary | std::ios::trunc);
          out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
          out.close();
          if (!out) why = temp + ": cannot write";
          return static_cast<bool>(out);
        },
        error);
    if (!ok) {
      std::cerr << "ovra-host: " << error << "\n";
      return 1;
    }
  }
  return 0;
}

// The dialogs need the host's own Qt; a build without the user interface has
// none to show.
bool HasUserInterface() {
#ifdef OVRA_HOST_WITH_UI
  return true;
#else
  std::cerr << "ovra-host: this build has no user interface (OVRA_WITH_UI is off)\n";
  return false;
#endif
}

int Dialog(const Args& args) {
  if (args.positional.size() != 2) return Usage("dialog", "dialog takes a filter and an input");
  if (!args.Has("--screenshot")) return Usage("dialog", "dialog needs --screenshot FILE");
  if (!HasUserInterface()) return kUsageError;
  auto module = LoadModule(args);
  if (!module) return 1;
  const std::string entry = ResolveEntry(*module, args.positional[0]);
  if (entry.empty()) return kUsageError;
  Document doc;
  std::string error;
  if (!ReadImage(args.positional[1], doc, error)) {
    std::cerr << "ovra-host: " << error << "\n";
    return 1;
  }
#ifdef OVRA_HOST_WITH_UI
  return DialogScreenshot(*module, entry, std::move(doc), args.Get("--screenshot"));
#else
  return kUsageError;
#endif
}

int About(const Args& args) {
  if (!args.positional.empty()) return Usage("about", "about takes no arguments");
  if (!args.Has("--screenshot")) return Usage("about", "about needs --screenshot FILE");
  if (!HasUserInterface()) return kUsageError;
  auto module = LoadModule(args);
  if (!module) return 1;
#ifdef OVRA_HOST_WITH_UI
  return AboutScreenshot(*module, args.Get("--screenshot"));
#else
  return kUsageError;
#endif
}

int Run(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << HelpText("");
    return kUsageError;
  }
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    const std::string topic = argc > 2 ? argv[2] : "";
    if (!topic.empty() && !IsCommand(topic)) return Usage("help", "no command " + topic);
    std::cout << HelpText(topic);
    return 0;
  }
  if (!IsCommand(command)) return Usage("", "unknown command " + command);
  Args args;
  std::string error;
  if (!ParseArgs(command, argc, argv, 2, args, error)) return Usage(command, error);
  if (args.Has("--help")) {
    std::cout << HelpText(command);
    return 0;
  }
  if (command == "list") return List(args);
  if (command == "params") return Params(args);
  if (command == "apply") return Apply(args);
  if (command == "dialog") return Dialog(args);
  return About(args);
}

}  // namespace

// No exception leaves the program: whatever slipped past the checks is
// reported and the run fails.
int main(int argc, char** argv) {
  try {
    InstallInterruptCleanup();
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "ovra-host: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "ovra-host: unexpected failure\n";
  }
  return 1;
}
