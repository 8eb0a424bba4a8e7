#include "host/cli.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>

#include "host/filter_catalogue.h"
#include "host/filter_run.h"
#include "host/regular_file.h"
#include "host/settings_codec.h"

namespace standin::cli {
namespace {

struct Command {
  const char* name;
  std::map<std::string, bool> options;  // option -> takes a value
  const char* help;
};

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"list",
       {{"--all", false}, {"--resources", false}, {"--json", false}},
       "usage: ovra-host list [--resources | --all] [--json]\n"
       "  Every filter the module can run, one per line: entry point, display name,\n"
       "  family and its menu resource id (\"-\" when it has none).\n"
       "  --resources  the filters the module's resources put in the host's menu\n"
       "               (resource id, menu name, entry point)\n"
       "  --all        every exported entry point, whether it runs or not\n"
       "  --json       the same as a JSON array\n"
       "example:\n"
       "  ovra-host list | grep -i mist\n"},
      {"params",
       {{"--json", false}, {"--tsv", false}, {"--save", true}, {"--set", true}, {"--preset", true}},
       "usage: ovra-host params FILTER [--tsv | --json] [--set KEY=VALUE]... [--preset FILE] [--save FILE.kvr]\n"
       "  The filter's parameters: index, key, label, kind, value, range, default,\n"
       "  and the choices of lists; disabled and hidden parameters are marked.\n"
       "  --tsv        index, kind code, key and value, tab-separated (for scripts)\n"
       "  --json       everything, values exact\n"
       "  --set, --preset  show (and save) the settings they give, as apply takes them\n"
       "  --save FILE  write the settings as a preset file\n"
       "example:\n"
       "  ovra-host params Grain --set preset=Big\n"},
      {"apply",
       {{"--set", true},
        {"--preset", true},
        {"--depth", true},
        {"--tile-rows", true},
        {"--transfer", true},
        {"--dialog", false},
        {"--registry", true},
        {"--abort-after", true},
        {"--area", true},
        {"--quiet", false},
        {"--progress", false},
        {"--output", true},
        {"-o", true},
        {"--jobs", true},
        {"--format", true},
        {"--quality", true}},
       "usage: ovra-host apply FILTER INPUT OUTPUT [options]\n"
       "       ovra-host apply FILTER INPUT... (-o DIR | --output PATTERN) [options]\n"
       "  Renders the filter over each input with the same settings. \"-\" is standard\n"
       "  input or output. Nothing is rendered before every check has passed, and an\n"
       "  output appears whole or not at all.\n"
       "  --set KEY=VALUE   a parameter (KEY, GROUP/KEY or #INDEX; see params)\n"
       "  --preset FILE     settings from a preset file first (--set overrides them)\n"
       "  -o DIR            write each output into DIR as STEM.EXT\n"
       "  --output PATTERN  output path with {stem}, {ext} and {filter}\n"
       "  --format EXT      output format (png, jpg, tif, ...) for \"-\" and patterns\n"
       "  --quality N       quality of lossy formats, 1..100 (default 95)\n"
       "  --depth 8|16      document depth (default: the input's)\n"
       "  --jobs N          files rendered in parallel (default 1)\n"
       "  --registry FILE   the host's registry of last used settings, kept between runs\n"
       "  --progress        progress on stderr even when it is not a terminal\n"
       "  --quiet           no progress and no summary\n"
       "  --dialog          show the settings dialog (needs a display)\n"
       "  --area X,Y,W,H    filter only that rectangle (as an editor filters a\n"
       "                    selection's bounds); the rest stays as it was\n"
       "  --tile-rows N, --transfer ports|interleaved, --abort-after N  host behaviour\n"
       "example:\n"
       "  ovra-host apply Grain photo.png out.png --set preset=Big --set grainAmountRed=40\n"
       "  ovra-host apply BleachBypass *.jpg -o bleached --jobs 2 --quality 90\n"},
      {"dialog",
       {{"--screenshot", true}},
       "usage: ovra-host dialog FILTER INPUT --screenshot FILE\n"
       "  Opens the filter's settings dialog over INPUT and saves a picture of it.\n"
       "example:\n"
       "  ovra-host dialog BleachBypass photo.png --screenshot dialog.png\n"},
      {"about",
       {{"--screenshot", true}},
       "usage: ovra-host about --screenshot FILE\n"
       "  Saves a picture of the module's About box.\n"
       "example:\n"
       "  ovra-host about --screenshot about.png\n"},
      {"help", {}, "usage: ovra-host help [COMMAND]\n"},
  };
  return commands;
}

const Command* Find(const std::string& name) {
  for (const Command& c : Commands())
    if (name == c.name) return &c;
  return nullptr;
}

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Temporary files being written, removed when the run is interrupted.
constexpr int kTempSlots = 8;
char gTempPaths[kTempSlots][4096];
std::atomic<bool> gTempUsed[kTempSlots];

int ClaimSlot(const std::string& path) {
  if (path.size() >= sizeof gTempPaths[0]) return -1;
  for (int i = 0; i < kTempSlots; ++i) {
    bool expected = false;
    if (gTempUsed[i].compare_exchange_strong(expected, true)) {
      std::memcpy(gTempPaths[i], path.c_str(), path.size() + 1);
      return i;
    }
  }
  return -1;
}

void ReleaseSlot(int i) {
  if (i >= 0) gTempUsed[i] = false;
}

void OnInterrupt(int sig) {
  for (int i = 0; i < kTempSlots; ++i)
    if (gTempUsed[i]) unlink(gTempPaths[i]);
  signal(sig, SIG_DFL);
  raise(sig);
}

// The module's worker threads: it takes at most this many.
constexpr long kMaxThreads = 256;

bool ValidThreadCount(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 4) return false;
  const long n = std::strtol(text.c_str(), nullptr, 10);
  return n >= 1 && n <= kMaxThreads;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool IsCommand(const std::string& command) { return Find(command) != nullptr; }

std::string HelpText(const std::string& command) {
  if (const Command* c = Find(command); c != nullptr && command != "help")
    return std::string(c->help) + "options for every command: --module FILE, --threads N, --help\n";
  std::string text =
      "usage: ovra-host COMMAND [ARGUMENTS] [OPTIONS]\n"
      "commands:\n"
      "  list                      the filters the module can run\n"
      "  params FILTER             a filter's parameters\n"
      "  apply FILTER IN... OUT    render a filter over image files\n"
      "  dialog FILTER IN          picture of the settings dialog\n"
      "  about                     picture of the About box\n"
      "  help COMMAND              the options of a command, with an example\n"
      "FILTER is an entry point (BleachBypass, PIMAIN_BleachBypass) or a display name\n"
      "(\"Bleach Bypass\"), in any case.\n"
      "options for every command: --module FILE (default: the module installed with\n"
      "ovra-host, or $OVRA_MODULE), --threads N (the module's worker threads, 1 to\n"
      "256; default $OVRA_THREADS, else one per core; the output is the same), --help\n";
  return text;
}

int Usage(const std::string& command, const std::string& message) {
  if (!message.empty()) std::cerr << "ovra-host: " << message << "\n";
  std::cerr << (IsCommand(command) && command != "help" ? "Try 'ovra-host help " + command + "'.\n"
                                                        : std::string("Try 'ovra-host help'.\n"));
  return kUsageError;
}

bool ParseArgs(const std::string& command, int argc, char** argv, int from, Args& out, std::string& error) {
  const Command* c = Find(command);
  out.command = command;
  for (int i = from; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      out.options.insert({"--help", ""});
      continue;
    }
    if (a == "-" || a.empty() || a[0] != '-') {
      out.positional.push_back(a);
      continue;
    }
    bool takesValue = false;
    if (a == "--module" || a == "--threads") {
      takesValue = true;
    } else if (c == nullptr || c->options.count(a) == 0) {
      error = c ? a + " is not an option of " + command : "unknown option " + a;
      return false;
    } else {
      takesValue = c->options.at(a);
    }
    const std::string name = a == "-o" ? "--output-dir" : a;
    if (takesValue) {
      if (i + 1 >= argc) {
        error = a + " needs a value";
        return false;
      }
      out.options.insert({name, argv[++i]});
      if (name == "--threads" && !ValidThreadCount(out.options.find(name)->second)) {
        error = "--threads takes 1 to " + std::to_string(kMaxThreads);
        return false;
      }
    } else {
      out.options.insert({name, ""});
    }
  }
  return true;
}

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
  // Beside the program (the build folder), or the installed layout
  // PREFIX/bin/ovra-host with PREFIX/lib/ovra/ovra.so.
  for (const char* candidate : {"/ovra.so", "/module/ovra.so", "/../module/ovra.so", "/../lib/ovra/ovra.so"}) {
    struct stat st{};
    if (stat((dir + candidate).c_str(), &st) == 0 && S_ISREG(st.st_mode)) return dir + candidate;
  }
  return dir + "/ovra.so";
}

std::unique_ptr<Module> LoadModule(const Args& args) {
  std::string error;
  const std::string path = args.Get("--module", DefaultModulePath());
  // The module reads its thread count from the environment when it first
  // renders: set before loading, it reaches the module, the dialog's preview
  // and any child process a command starts.
  if (args.Has("--threads")) setenv("OVRA_THREADS", args.Get("--threads").c_str(), 1);
  auto module = Module::Load(path, error);
  if (!module) std::cerr << "ovra-host: cannot load " << path << ": " << error << "\n";
  return module;
}

std::string ResolveEntry(const Module& module, const std::string& name) {
  std::vector<std::string> near;
  const std::string entry = ResolveFilter(module, name, near);
  if (entry.empty()) {
    std::cerr << "ovra-host: no filter named '" << name << "'";
    if (!near.empty()) {
      std::cerr << "; did you mean";
      for (std::size_t i = 0; i < near.size(); ++i) std::cerr << (i ? ", " : " ") << near[i];
      std::cerr << "?";
    }
    std::cerr << " (ovra-host list shows them all)\n";
  }
  return entry;
}

int BuildSettings(Host& host, const Module& module, const std::string& entry, const std::string& presetPath,
                  const std::vector<std::string>& sets, Settings& out, std::string& message) {
  std::string error;
  if (!ReportedSettings(host, module, entry, out.block, error)) {
    message = error;
    return 1;
  }
  if (!DescribeParams(entry, out.block, out.params, error)) {
    message = "ovra-host: " + error;
    return 1;
  }
  const std::size_t count = out.params.params.size();
  out.given.assign(count, false);
  if (!presetPath.empty()) {
    const std::string& file = presetPath;
    std::vector<uint8_t> preset;
    SettingsView pv;
    const FileRead read = ReadRegularFile(file, preset, error);
    if (read != FileRead::kRead) {
      message = "ovra-host: " + (read == FileRead::kMissing ? file + ": no such file" : error);
      return 1;
    }
    if (!ParseSettings(preset, pv, error) || pv.effectName != out.params.effectName || pv.records.size() != count) {
      message = "ovra-host: " + file + ": preset is not for this filter";
      return 1;
    }
    out.block = preset;
    out.given.assign(count, true);
  }
  // Every value is checked before any is used; then the effect fills what
  // the chosen values stand for, as the dialog does, and the values given
  // explicitly win over what it filled.
  std::vector<std::pair<int32_t, std::string>> given;
  for (const std::string& kv : sets) {
    const std::size_t eq = kv.find('=');
    if (eq == std::string::npos || eq == 0) {
      message = "--set takes KEY=VALUE, not '" + kv + "'";
      return kUsageError;
    }
    const int32_t index = FindParam(out.params, kv.substr(0, eq), error);
    if (index < 0 || !SetParam(out.params, index, kv.substr(eq + 1), out.block, error)) {
      message = error;
      return kUsageError;
    }
    // A texture or depth picture named by path: a FIFO or a folder is refused
    // here with its name, before anything is rendered (the module, given one,
    // renders it as no picture).
    if (out.params.params[static_cast<std::size_t>(index)].kind == 10 &&
        kv.find('/', eq) != std::string::npos && !RegularOrMissing(kv.substr(eq + 1), error)) {
      message = "ovra-host: " + error;
      return 1;
    }
    given.push_back({index, kv.substr(eq + 1)});
  }
  std::vector<int32_t> changed;
  for (const auto& s : given) changed.push_back(s.first);
  for (int32_t i : FillDependents(out.params, changed, out.block)) out.given[static_cast<std::size_t>(i)] = true;
  for (const auto& [index, text] : given) {
    SetParam(out.params, index, text, out.block, error);
    out.given[static_cast<std::size_t>(index)] = true;
  }
  return 0;
}

int GatherSettings(Host& host, const Module& module, const std::string& entry, const Args& args, Settings& out) {
  std::vector<std::string> sets;
  for (auto [it, end] = args.options.equal_range("--set"); it != end; ++it) sets.push_back(it->second);
  std::string message;
  const int status = BuildSettings(host, module, entry, args.Get("--preset"), sets, out, message);
  if (status == kUsageError) return Usage(args.command, message);
  if (status != 0) std::cerr << message << "\n";
  return status;
}

int TrackTemp(const std::string& path) { return ClaimSlot(path); }
void UntrackTemp(int slot) { ReleaseSlot(slot); }

void InstallInterruptCleanup() {
  for (int sig : kInterrupts) {
    struct sigaction sa{};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
  }
}

std::string CheckWritable(const std::string& path) {
  if (path.empty()) return "no output path";
  struct stat st{};
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "is a folder";
  const std::string folder = FolderOf(path);
  if (stat(folder.c_str(), &st) != 0) return "no folder " + folder;
  if (!S_ISDIR(st.st_mode)) return folder + " is not a folder";
  if (access(folder.c_str(), W_OK | X_OK) != 0) return "folder " + folder + " is not writable";
  return "";
}

bool WriteWhole(const std::string& path, const std::function<bool(const std::string&, std::string&)>& write,
                std::string& error) {
  // The temporary name keeps the extension: writers choose the format by it.
  const std::size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  const std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
  std::string temp = (slash == std::string::npos ? "" : path.substr(0, slash + 1)) + "." +
                     name.substr(0, name.size() - ext.size()) + ".partial-XXXXXX" + ext;
  std::vector<char> buffer(temp.begin(), temp.end());
  buffer.push_back('\0');
  // The temporary file is known to the interrupt handler from the moment it
  // exists until it has its name or is gone.
  sigset_t interrupts, previous;
  sigemptyset(&interrupts);
  for (int sig : kInterrupts) sigaddset(&interrupts, sig);
  sigprocmask(SIG_BLOCK, &interrupts, &previous);
  const int fd = mkstemps(buffer.data(), static_cast<int>(ext.size()));
  if (fd < 0) {
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    error = path + ": cannot create a file in its folder: " + std::strerror(errno);
    return false;
  }
  temp = buffer.data();
  const int slot = ClaimSlot(temp);
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  std::string why;
  bool ok = write(temp, why);
  if (ok) {
    // On disk before it takes the name.
    const int sync = open(temp.c_str(), O_RDONLY);
    if (sync >= 0) {
      fsync(sync);
      close(sync);
    }
    sigprocmask(SIG_BLOCK, &interrupts, &previous);
    if (rename(temp.c_str(), path.c_str()) != 0) {
      why = path + ": " + std::strerror(errno);
      ok = false;
    } else {
      ReleaseSlot(slot);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
  }
  if (!ok) {
    unlink(temp.c_str());
    ReleaseSlot(slot);
    // The reader knows the file by the name it gave.
    if (why.rfind(temp, 0) == 0) why = path + why.substr(temp.size());
    if (why.rfind(path, 0) != 0) why = path + ": " + why;
    error = why;
  }
  return ok;
}

}  // namespace standin::cli
