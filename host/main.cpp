// ovra-host: the stand-in host's command line.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifdef OVRA_HOST_WITH_UI
#include "host/dialog_commands.h"
#endif
#include "host/filter_run.h"
#include "host/image_io.h"
#include "host/module_loader.h"
#include "host/regular_file.h"
#include "host/settings_codec.h"
#include "host/standin_host.h"

using namespace standin;

namespace {

constexpr int kUsageError = 2;

const char* const kUsage =
    "usage:\n"
    "  ovra-host list [--all]\n"
    "  ovra-host params <filter> [--json] [--save FILE.kvr]\n"
    "  ovra-host apply <filter> <input> <output> [--set KEY=VALUE]... [--preset FILE]\n"
    "                  [--depth 8|16] [--tile-rows N] [--transfer ports|interleaved] [--dialog]\n"
    "                  [--registry FILE] [--abort-after N] [--quiet]\n"
    "  ovra-host dialog <filter> <input> --screenshot FILE\n"
    "  ovra-host about --screenshot FILE\n"
    "options for every command: --module FILE (default: the module beside ovra-host, or $OVRA_MODULE)\n";

int Usage(const std::string& message) {
  if (!message.empty()) std::cerr << "ovra-host: " << message << "\n";
  std::cerr << kUsage;
  return kUsageError;
}

// The module file: --module, $OVRA_MODULE, or module/ovra.so beside the
// program's own folder.
std::string DefaultModulePath() {
  if (const char* env = std::getenv("OVRA_MODULE")) return env;
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = ".";
  if (n > 0) {
    self[n] = '\0';
    dir = self;
    dir = dir.substr(0, dir.find_last_of('/'));
  }
  for (const char* candidate : {"/ovra.so", "/module/ovra.so", "/../module/ovra.so"}) {
    std::ifstream f(dir + candidate);
    if (f) return dir + candidate;
  }
  return dir + "/ovra.so";
}

struct Args {
  std::vector<std::string> positional;
  std::multimap<std::string, std::string> options;
  bool Has(const std::string& o) const { return options.count(o) > 0; }
  std::string Get(const std::string& o, const std::string& fallback = "") const {
    auto it = options.find(o);
    return it == options.end() ? fallback : it->second;
  }
};

bool ParseArgs(int argc, char** argv, int from, Args& out, std::string& error) {
  static const std::map<std::string, bool> kTakesValue = {
      {"--all", false},       {"--json", false},         {"--save", true},     {"--set", true},
      {"--preset", true},     {"--depth", true},         {"--tile-rows", true}, {"--transfer", true},
      {"--dialog", false},    {"--registry", true},      {"--abort-after", true}, {"--quiet", false},
      {"--screenshot", true}, {"--module", true}};
  for (int i = from; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--", 0) != 0) {
      out.positional.push_back(a);
      continue;
    }
    auto it = kTakesValue.find(a);
    if (it == kTakesValue.end()) {
      error = "unknown option " + a;
      return false;
    }
    if (it->second) {
      if (i + 1 >= argc) {
        error = a + " needs a value";
        return false;
      }
      out.options.insert({a, argv[++i]});
    } else {
      out.options.insert({a, ""});
    }
  }
  return true;
}

bool ParseInt(const std::string& text, int& value) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < 0 || v > 1000000) return false;
  value = static_cast<int>(v);
  return true;
}

std::unique_ptr<Module> LoadModule(const Args& args) {
  std::string error;
  const std::string path = args.Get("--module", DefaultModulePath());
  auto module = Module::Load(path, error);
  if (!module) std::cerr << "ovra-host: cannot load " << path << ": " << error << "\n";
  return module;
}

bool HasEntry(const Module& module, const std::string& name) { return module.Entry(name) != nullptr; }

int List(const Args& args) {
  auto module = LoadModule(args);
  if (!module) return 1;
  if (args.Has("--all")) {
    for (const std::string& e : module->ExportedEntries()) std::cout << e << "\n";
    return 0;
  }
  std::string error;
  const auto filters = module->Resources(error);
  if (!error.empty()) {
    std::cerr << "ovra-host: " << error << "\n";
    return 1;
  }
  for (const ResourceFilter& f : filters) std::cout << f.id << "\t" << f.menuName << "\t" << f.entryPoint << "\n";
  return 0;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

int Params(const Args& args) {
  if (args.positional.size() != 1) return Usage("params takes one filter");
  auto module = LoadModule(args);
  if (!module) return 1;
  const std::string entry = args.positional[0];
  if (!HasEntry(*module, entry)) {
    std::cerr << "ovra-host: no entry point " << Module::EntryName(entry) << "\n";
    return kUsageError;
  }
  Host host;
  std::vector<uint8_t> block;
  std::string error;
  if (!ReportedSettings(host, *module, entry, block, error)) {
    std::cerr << error << "\n";
    return 1;
  }
  SettingsView view;
  if (!ParseSettings(block, view, error)) {
    std::cerr << "ovra-host: " << error << "\n";
    return 1;
  }
  if (args.Has("--json")) {
    std::cout << "{\"effect\": " << JsonString(view.effectName) << ", \"parameters\": [";
    for (std::size_t i = 0; i < view.records.size(); ++i) {
      const auto& r = view.records[i];
      std::cout << (i ? ", " : "") << "{\"index\": " << i << ", \"kind\": " << r.kind
                << ", \"key\": " << JsonString(r.key) << ", \"value\": " << JsonString(FormatValue(block, r)) << "}";
    }
    std::cout << "]}\n";
  } else {
    for (std::size_t i = 0; i < view.records.size(); ++i) {
      const auto& r = view.records[i];
      std::cout << i << "\t" << r.kind << "\t" << r.key << "\t" << FormatValue(block, r) << "\n";
    }
  }
  if (args.Has("--save")) {
    std::ofstream out(args.Get("--save"), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    if (!out) {
      std::cerr << "ovra-host: cannot write " << args.Get("--save") << "\n";
      return 1;
    }
  }
  return 0;
}

// A progress bar on stderr, drawn only on a terminal.
class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled && isatty(2)) {}
  void Update(int32_t done, int32_t total) {
    if (!enabled_ || total <= 0) return;
    done = std::min(done, total);
    const int width = 40, filled = static_cast<int>(static_cast<int64_t>(done) * width / total);
    std::fprintf(stderr, "\r[%s%s] %d/%d", std::string(filled, '#').c_str(), std::string(width - filled, '.').c_str(),
                 done, total);
    if (done == total) std::fprintf(stderr, "\n");
  }

 private:
  bool enabled_;
};

int Apply(const Args& args) {
  if (args.positional.size() != 3) return Usage("apply takes a filter, an input and an output");
  const std::string entry = args.positional[0], input = args.positional[1], output = args.positional[2];
  HostOptions options;
  int depth = 0, tileRows = 256, abortAfter = -1;
  if (args.Has("--depth") && (!ParseInt(args.Get("--depth"), depth) || (depth != 8 && depth != 16)))
    return Usage("--depth takes 8 or 16");
  if (args.Has("--tile-rows") && !ParseInt(args.Get("--tile-rows"), tileRows)) return Usage("--tile-rows takes a count");
  if (args.Has("--abort-after") && !ParseInt(args.Get("--abort-after"), abortAfter))
    return Usage("--abort-after takes a count");
  const std::string transfer = args.Get("--transfer", "ports");
  if (transfer != "ports" && transfer != "interleaved") return Usage("--transfer takes ports or interleaved");
  options.tileRows = tileRows;
  options.abortAfterTiles = abortAfter;
  options.interleaved = transfer == "interleaved";

  auto module = LoadModule(args);
  if (!module) return 1;
  if (!HasEntry(*module, entry)) {
    std::cerr << "ovra-host: no entry point " << Module::EntryName(entry) << "\n";
    return kUsageError;
  }
  Document doc;
  std::string error;
  if (!ReadImage(input, doc, error)) {
    std::cerr << "ovra-host: " << input << ": " << error << "\n";
    return 1;
  }
  if (depth != 0 && depth != doc.depth) doc = ConvertDepth(doc, depth);

  Host host(options);
  host.SetDocument(std::move(doc));
  const std::string registryFile = args.Get("--registry");
  if (!registryFile.empty() && !host.LoadRegistry(registryFile, error)) {
    std::cerr << "ovra-host: " << error << "\n";
    return 1;
  }

  // The settings the user gave, handed over as a recorded action would: a
  // block of the effect's layout in which only the given records are kept;
  // the others carry kind 0 and leave the module's settings as they are.
  std::vector<uint8_t> block;
  if (!ReportedSettings(host, *module, entry, block, error)) {
    std::cerr << error << "\n";
    return 1;
  }
  SettingsView view;
  if (!ParseSettings(block, view, error)) {
    std::cerr << "ovra-host: " << error << "\n";
    return 1;
  }
  std::vector<bool> keep(view.records.size(), false);
  if (args.Has("--preset")) {
    std::vector<uint8_t> preset;
    SettingsView pv;
    if (ReadRegularFile(args.Get("--preset"), preset, error) != FileRead::kRead) {
      if (error.empty()) error = args.Get("--preset") + ": cannot read";
      std::cerr << "ovra-host: " << error << "\n";
      return 1;
    }
    if (!ParseSettings(preset, pv, error) || pv.effectName != view.effectName ||
        pv.records.size() != view.records.size()) {
      std::cerr << "ovra-host: " << args.Get("--preset") << ": preset is not for this filter\n";
      return 1;
    }
    block = preset;
    keep.assign(view.records.size(), true);
  }
  for (auto [it, end] = args.options.equal_range("--set"); it != end; ++it) {
    const std::string& kv = it->second;
    const std::size_t eq = kv.find('=');
    if (eq == std::string::npos) return Usage("--set takes KEY=VALUE, not " + kv);
    const std::string key = kv.substr(0, eq);
    std::size_t index = view.records.size();
    for (std::size_t i = 0; i < view.records.size(); ++i)
      if (!key.empty() && view.records[i].key == key) index = i;
    if (index == view.records.size()) return Usage("no parameter '" + key + "' in " + view.effectName);
    if (!SetValue(block, view.records[index], kv.substr(eq + 1), error)) return Usage(error);
    // A texture or depth picture named by path: a FIFO or a folder is refused
    // here with its name, before anything is rendered (the module, given one,
    // renders it as no picture).
    if (view.records[index].kind == 10 && kv.find('/', eq) != std::string::npos &&
        !RegularOrMissing(kv.substr(eq + 1), error)) {
      std::cerr << "ovra-host: " << error << "\n";
      return 1;
    }
    keep[index] = true;
  }
  for (std::size_t i = 0; i < view.records.size(); ++i)
    if (!keep[i]) std::memset(block.data() + view.records[i].offset, 0, 4);

  ProgressBar bar(!args.Has("--quiet"));
  RunOptions run;
  run.showDialog = args.Has("--dialog");
  run.scriptedSettings = block;
  host.onProgress = [&bar](int32_t done, int32_t total) { bar.Update(done, total); };
  const RunResult result = RunFilter(host, *module, entry, run);
  if (!registryFile.empty() && !host.SaveRegistry(registryFile, error)) {
    std::cerr << "ovra-host: " << error << "\n";
    return 1;
  }
  if (result.result != noErr) {
    std::cerr << result.message << "\n";
    return 1;
  }
  if (!WriteImage(output, host.Doc(), error)) {
    std::cerr << "ovra-host: " << output << ": " << error << "\n";
    return 1;
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
  if (args.positional.size() != 2) return Usage("dialog takes a filter and an input");
  if (!args.Has("--screenshot")) return Usage("dialog needs --screenshot FILE");
  if (!HasUserInterface()) return kUsageError;
  const std::string entry = args.positional[0], input = args.positional[1];
  auto module = LoadModule(args);
  if (!module) return 1;
  if (!HasEntry(*module, entry)) {
    std::cerr << "ovra-host: no entry point " << Module::EntryName(entry) << "\n";
    return kUsageError;
  }
  Document doc;
  std::string error;
  if (!ReadImage(input, doc, error)) {
    std::cerr << "ovra-host: " << input << ": " << error << "\n";
    return 1;
  }
#ifdef OVRA_HOST_WITH_UI
  return DialogScreenshot(*module, entry, std::move(doc), args.Get("--screenshot"));
#else
  return kUsageError;
#endif
}

int About(const Args& args) {
  if (!args.positional.empty()) return Usage("about takes no arguments");
  if (!args.Has("--screenshot")) return Usage("about needs --screenshot FILE");
  if (!HasUserInterface()) return kUsageError;
  auto module = LoadModule(args);
  if (!module) return 1;
#ifdef OVRA_HOST_WITH_UI
  return AboutScreenshot(*module, args.Get("--screenshot"));
#else
  return kUsageError;
#endif
}

}  // namespace

static int Run(int argc, char** argv) {
  if (argc < 2) return Usage("");
  const std::string command = argv[1];
  Args args;
  std::string error;
  if (!ParseArgs(argc, argv, 2, args, error)) return Usage(error);
  if (command == "list") return List(args);
  if (command == "params") return Params(args);
  if (command == "apply") return Apply(args);
  if (command == "dialog") return Dialog(args);
  if (command == "about") return About(args);
  if (command == "-h" || command == "--help" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  return Usage("unknown command " + command);
}

// No exception leaves the program: whatever slipped past the checks is
// reported and the run fails.
int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "ovra-host: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "ovra-host: unexpected failure\n";
  }
  return 1;
}
