#include "host/apply_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>

#include "host/filter_run.h"
#include "host/image_io.h"

namespace standin::cli {
namespace {

bool ParseCount(const std::string& text, int low, int high, int& value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || v < low || v > high) return false;
  value = static_cast<int>(v);
  return true;
}

std::string Stem(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string Extension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? "" : name.substr(dot + 1);
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
  return text;
}

// The image format of a file's first bytes, as an extension.
std::string SniffedExtension(const std::vector<uint8_t>& head) {
  const auto starts = [&](std::initializer_list<uint8_t> magic) {
    return head.size() >= magic.size() && std::equal(magic.begin(), magic.end(), head.begin());
  };
  if (starts({0x89, 'P', 'N', 'G'})) return "png";
  if (starts({0xFF, 0xD8})) return "jpg";
  if (starts({'I', 'I', 42, 0}) || starts({'M', 'M', 0, 42})) return "tif";
  if (starts({0x76, 0x2F, 0x31, 0x01})) return "exr";
  if (starts({'S', 'D', 'P', 'X'}) || starts({'X', 'P', 'D', 'S'})) return "dpx";
  if (head.size() >= 12 && starts({'R', 'I', 'F', 'F'}) && std::memcmp(head.data() + 8, "WEBP", 4) == 0) return "webp";
  return "png";
}

std::string TempFolder() {
  const char* t = std::getenv("TMPDIR");
  return t && *t ? t : "/tmp";
}

// A temporary file of that extension; empty when none can be made.
std::string MakeTemp(const std::string& ext) {
  std::string name = TempFolder() + "/ovra-host-XXXXXX." + ext;
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  const int fd = mkstemps(buffer.data(), static_cast<int>(ext.size() + 1));
  if (fd < 0) return "";
  close(fd);
  return buffer.data();
}

// Whether path names a regular file that can be opened for reading; checked
// on the open descriptor, which is opened without blocking (a FIFO neither
// hangs nor passes).
std::string CheckReadable(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? "no such file" : std::strerror(errno);
  struct stat st{};
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  close(fd);
  return regular ? "" : "not a regular file";
}

bool CopyFileTo(const std::string& path, int out) {
  std::ifstream in(path, std::ios::binary);
  char buf[65536];
  while (in) {
    in.read(buf, sizeof buf);
    std::streamsize n = in.gcount();
    const char* p = buf;
    while (n > 0) {
      const ssize_t w = write(out, p, static_cast<std::size_t>(n));
      if (w < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      p += w;
      n -= w;
    }
  }
  return in.eof();
}

bool ReadAllInto(int fd, const std::string& path, std::vector<uint8_t>& head) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  char buf[65536];
  while (true) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    if (head.size() < 16) head.insert(head.end(), buf, buf + std::min<ssize_t>(n, 16));
    out.write(buf, n);
  }
  out.close();
  return static_cast<bool>(out);
}

// Progress on stderr: the file's stage and, for a batch, the files done.
class Progress {
 public:
  Progress(bool enabled, int files) : enabled_(enabled), files_(files) {}
  bool Enabled() const { return enabled_; }
  void Stage(int file, const std::string& name, const char* stage, int32_t done = 0, int32_t total = 0) {
    if (!enabled_) return;
    const int width = 30;
    const double fraction =
        (file + (total > 0 ? std::min(1.0, static_cast<double>(done) / total) * 0.9 : 0.0)) / files_;
    const int filled = static_cast<int>(fraction * width);
    std::string line = "\r[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(width - filled), '.') + "] ";
    if (files_ > 1) line += std::to_string(file + 1) + "/" + std::to_string(files_) + " ";
    line += name + ": " + stage;
    if (total > 0) line += " " + std::to_string(std::min(done, total) * 100 / total) + "%";
    Show(line);
  }
  void Done(int filesDone) {
    if (!enabled_) return;
    const int width = 30;
    const int filled = files_ > 0 ? filesDone * width / files_ : width;
    Show("\r[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(width - filled), '.') + "] " + std::to_string(filesDone) + "/" +
         std::to_string(files_) + " files");
  }
  void End() {
    if (enabled_ && shown_ > 0) std::fprintf(stderr, "\r%s\r", std::string(shown_, ' ').c_str());
    shown_ = 0;
  }

 private:
  void Show(const std::string& line) {
    std::string padded = line;
    if (padded.size() < shown_) padded += std::string(shown_ - padded.size(), ' ');
    std::fputs(padded.c_str(), stderr);
    std::fflush(stderr);
    shown_ = line.size();
  }
  bool enabled_;
  int files_;
  std::size_t shown_ = 0;
};

struct Job {
  std::string input;   // a path, or a temporary copy of standard input
  std::string shownInput;
  std::string output;  // a path, or "-"
};

struct Plan {
  std::string entry;
  HostOptions options;
  int depth = 0;
  std::string registry;
  std::vector<uint8_t> block;
  bool showDialog = false;
  std::string stdoutFormat;
  bool batch = false;  // messages name the file they are about
  std::optional<VRect> area;  // the filter rectangle; none: the whole image
  WriteOptions write;
};

// One file: read, render, write whole, then the registry. 0 or 1, the
// reason printed.
int RunJob(const Module& module, const Plan& plan, const Job& job, Progress& progress, int index) {
  const std::string name = job.shownInput;
  std::string error;
  progress.Stage(index, name, "reading");
  Document doc;
  std::string warning;
  if (!ReadImage(job.input, doc, error, warning)) {
    progress.End();
    if (job.input != job.shownInput && error.rfind(job.input, 0) == 0)
      error = job.shownInput + error.substr(job.input.size());
    std::cerr << "ovra-host: " << error << "\n";
    return 1;
  }
  if (!warning.empty()) {
    progress.End();
    if (job.input != job.shownInput && warning.rfind(job.input, 0) == 0)
      warning = job.shownInput + warning.substr(job.input.size());
    std::cerr << "ovra-host: warning: " << warning << "\n";
  }
  if (plan.depth != 0 && plan.depth != doc.depth) doc = ConvertDepth(doc, plan.depth);
  Host host(plan.options);
  if (plan.area) {
    const VRect& a = *plan.area;
    if (a.right > doc.width || a.bottom > doc.height) {
      progress.End();
      std::cerr << "ovra-host: " << name << ": --area reaches outside the " << doc.width << "x" << doc.height
                << " image\n";
      return 1;
    }
  }
  host.SetDocument(std::move(doc));
  if (plan.area) host.SetFilterRect(*plan.area);
  if (!plan.registry.empty() && !host.LoadRegistry(plan.registry, error)) {
    progress.End();
    std::cerr << "ovra-host: " << error << "\n";
    return 1;
  }
  RunOptions run;
  run.showDialog = plan.showDialog;
  run.scriptedSettings = plan.block;
  host.onProgress = [&](int32_t done, int32_t total) { progress.Stage(index, name, "rendering", done, total); };
  const RunResult result = RunFilter(host, module, plan.entry, run);
  if (result.result != noErr) {
    progress.End();
    std::cerr << (plan.batch ? name + ": " : "") << result.message << "\n";
    return 1;
  }
  progress.Stage(index, name, "writing");
  const auto writeImage = [&host, &plan](const std::string& temp, std::string& why) {
    return WriteImage(temp, host.Doc(), why, plan.write);
  };
  if (job.output == "-") {
    const std::string temp = MakeTemp(plan.stdoutFormat);
    const int slot = temp.empty() ? -1 : TrackTemp(temp);
    const bool ok = !temp.empty() && WriteImage(temp, host.Doc(), error, plan.write) && CopyFileTo(temp, 1);
    if (!temp.empty()) unlink(temp.c_str());
    UntrackTemp(slot);
    if (!ok) {
      progress.End();
      std::cerr << "ovra-host: standard output: " << (error.empty() ? std::strerror(errno) : error) << "\n";
      return 1;
    }
  } else if (!WriteWhole(job.output, writeImage, error)) {
    progress.End();
    std::cerr << "ovra-host: " << error << "\n";
    return 1;
  }
  if (!plan.registry.empty()) {
    const bool saved = WriteWhole(
        plan.registry, [&host](const std::string& temp, std::string& why) { return host.SaveRegistry(temp, why); },
        error);
    if (!saved) {
      progress.End();
      std::cerr << "ovra-host: " << error << " (the registry was not saved; the image "
                << (job.output == "-" ? std::string("went to standard output") : "was written to " + job.output)
                << ")\n";
      return 1;
    }
  }
  return 0;
}

}  // namespace

int Apply(const Args& args) {
  const std::string cmd = "apply";
  const bool toDir = args.Has("--output-dir"), toPattern = args.Has("--output");
  if (toDir && toPattern) return Usage(cmd, "-o and --output exclude each other");
  if (args.positional.empty()) return Usage(cmd, "apply takes a filter, inputs and an output");
  Plan plan;
  int tileRows = 256, abortAfter = -1, jobs = 1, quality = 95;
  if (args.Has("--depth") && (!ParseCount(args.Get("--depth"), 8, 16, plan.depth) || (plan.depth != 8 && plan.depth != 16)))
    return Usage(cmd, "--depth takes 8 or 16");
  if (args.Has("--tile-rows") && !ParseCount(args.Get("--tile-rows"), 0, 1000000, tileRows))
    return Usage(cmd, "--tile-rows takes a count");
  if (args.Has("--abort-after") && !ParseCount(args.Get("--abort-after"), 0, 1000000, abortAfter))
    return Usage(cmd, "--abort-after takes a count");
  if (args.Has("--jobs") && !ParseCount(args.Get("--jobs"), 1, 64, jobs)) return Usage(cmd, "--jobs takes 1 to 64");
  if (args.Has("--quality") && !ParseCount(args.Get("--quality"), 1, 100, quality))
    return Usage(cmd, "--quality takes 1 to 100");
  if (args.Has("--area")) {
    // LEFT,TOP,WIDTH,HEIGHT, a rectangle of at least one pixel.
    int v[4] = {0, 0, 0, 0};
    const std::string text = args.Get("--area");
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
      const std::size_t comma = i < 3 ? text.find(',', at) : text.size();
      if (comma == std::string::npos || !ParseCount(text.substr(at, comma - at), i < 2 ? 0 : 1, 1000000, v[i]))
        return Usage(cmd, "--area takes LEFT,TOP,WIDTH,HEIGHT in pixels");
      at = comma + 1;
    }
    plan.area = VRect{v[1], v[0], v[1] + v[3], v[0] + v[2]};
  }
  const std::string transfer = args.Get("--transfer", "ports");
  if (transfer != "ports" && transfer != "interleaved") return Usage(cmd, "--transfer takes ports or interleaved");
  std::string format = args.Get("--format");
  if (!format.empty() && format[0] == '.') format.erase(0, 1);
  plan.options.tileRows = tileRows;
  plan.options.abortAfterTiles = abortAfter;
  plan.options.interleaved = transfer == "interleaved";
  plan.showDialog = args.Has("--dialog");
  plan.registry = args.Get("--registry");
  plan.write.quality = quality;

  std::vector<std::string> inputs(args.positional.begin() + 1, args.positional.end());
  std::vector<Job> list;
  if (!toDir && !toPattern) {
    if (inputs.size() != 2) return Usage(cmd, "apply takes a filter, an input and an output (or -o DIR for several inputs)");
    list.push_back({inputs[0], inputs[0], inputs[1]});
  } else {
    if (inputs.empty()) return Usage(cmd, "apply takes at least one input");
    for (const std::string& in : inputs) list.push_back({in, in, ""});
  }
  if (plan.showDialog && list.size() > 1) return Usage(cmd, "--dialog takes one input");
  if (std::count_if(list.begin(), list.end(), [](const Job& j) { return j.input == "-"; }) > 1)
    return Usage(cmd, "standard input can be read once");

  auto module = LoadModule(args);
  if (!module) return 1;
  plan.entry = ResolveEntry(*module, args.positional[0]);
  if (plan.entry.empty()) return kUsageError;
  const std::string filterName = plan.entry.substr(plan.entry.rfind("PIMAIN_", 0) == 0 ? 7 : 0);

  // Where every output goes.
  for (Job& j : list) {
    const std::string stem = j.input == "-" ? "stdin" : Stem(j.input);
    const std::string ext = !format.empty() ? format : j.input == "-" ? "png" : Extension(j.input);
    if (toDir) {
      std::string dir = args.Get("--output-dir");
      while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
      j.output = dir + "/" + stem + (ext.empty() ? "" : "." + ext);
    } else if (toPattern) {
      j.output = Replace(Replace(Replace(args.Get("--output"), "{stem}", stem), "{ext}", ext), "{filter}", filterName);
    }
    j.shownInput = j.input == "-" ? "standard input" : j.input;
  }
  if (std::count_if(list.begin(), list.end(), [](const Job& j) { return j.output == "-"; }) > 0 && list.size() > 1)
    return Usage(cmd, "standard output takes one image");

  // Every check before anything is rendered.
  std::set<std::string> outputs;
  bool failed = false;
  const auto refuse = [&failed](const std::string& message) {
    std::cerr << "ovra-host: " << message << "\n";
    failed = true;
  };
  for (const Job& j : list) {
    if (j.input != "-")
      if (const std::string why = CheckReadable(j.input); !why.empty()) refuse(j.input + ": " + why);
    if (j.output == "-") {
      plan.stdoutFormat = format;
      if (format.empty()) return Usage(cmd, "--format names the format of standard output (png, jpg, tif, ...)");
      bool writable = false;
      const std::string note = OutputFormatNote("x." + format, plan.depth, writable);
      if (!writable) refuse("standard output: " + note);
      continue;
    }
    if (!outputs.insert(j.output).second) {
      refuse(j.output + ": more than one input would be written here");
      continue;
    }
    char a[PATH_MAX], b[PATH_MAX];
    if (j.input != "-" && realpath(j.input.c_str(), a) && realpath(j.output.c_str(), b) && std::strcmp(a, b) == 0) {
      refuse(j.output + ": is the input; name another output");
      continue;
    }
    if (const std::string why = CheckWritable(j.output); !why.empty()) {
      refuse(j.output + ": " + why);
      continue;
    }
    bool writable = false;
    const std::string note = OutputFormatNote(j.output, plan.depth == 0 ? 8 : plan.depth, writable);
    if (!writable)
      refuse(j.output + ": " + note);
    else if (!note.empty() && !args.Has("--quiet"))
      std::cerr << "ovra-host: " << j.output << ": " << note << "\n";
  }
  if (failed) return 1;
  {
    Host check(plan.options);
    std::string error;
    if (!plan.registry.empty() && !check.LoadRegistry(plan.registry, error)) {
      std::cerr << "ovra-host: " << error << "\n";
      return 1;
    }
    Settings settings;
    if (const int status = GatherSettings(check, *module, plan.entry, args, settings); status != 0) return status;
    // Only what the user gave is handed over, as a recorded action would:
    // the other records carry kind 0 and leave the module's settings as
    // they are (the registry's last used ones, or the defaults).
    plan.block = settings.block;
    for (std::size_t i = 0; i < settings.params.params.size(); ++i)
      if (!settings.given[i]) std::memset(plan.block.data() + settings.params.params[i].offset, 0, 4);
  }
  const bool quiet = args.Has("--quiet");
  // Standard input is taken in whole before the render.
  std::string stdinCopy;
  int stdinSlot = -1;
  for (Job& j : list) {
    if (j.input != "-") continue;
    std::vector<uint8_t> head;
    const std::string probe = MakeTemp("tmp");
    int slot = probe.empty() ? -1 : TrackTemp(probe);
    if (probe.empty() || !ReadAllInto(0, probe, head)) {
      if (!probe.empty()) unlink(probe.c_str());
      UntrackTemp(slot);
      std::cerr << "ovra-host: standard input: cannot read\n";
      return 1;
    }
    // Named by its format, which the readers may go by.
    const std::string ext = SniffedExtension(head);
    stdinCopy = probe.substr(0, probe.size() - 3) + ext;
    UntrackTemp(slot);
    slot = TrackTemp(stdinCopy);
    if (rename(probe.c_str(), stdinCopy.c_str()) != 0) {
      UntrackTemp(slot);
      stdinCopy = probe;
      slot = TrackTemp(stdinCopy);
    }
    stdinSlot = slot;
    j.input = stdinCopy;
  }

  const bool batch = toDir || toPattern;
  plan.batch = batch;
  const bool showProgress = !quiet && (isatty(2) || args.Has("--progress"));
  int failures = 0;
  if (jobs <= 1 || list.size() <= 1) {
    Progress progress(showProgress, static_cast<int>(list.size()));
    for (std::size_t i = 0; i < list.size(); ++i) {
      failures += RunJob(*module, plan, list[i], progress, static_cast<int>(i));
      progress.Done(static_cast<int>(i + 1));
    }
    progress.End();
  } else {
    // One process per file, at most `jobs` at a time: the protocol lets one
    // host drive the module at a time.
    Progress progress(showProgress, static_cast<int>(list.size()));
    std::size_t next = 0, finished = 0;
    int running = 0;
    std::fflush(nullptr);
    while (finished < list.size()) {
      while (running < jobs && next < list.size()) {
        const pid_t pid = fork();
        if (pid == 0) {
          Progress silent(false, 1);
          const int status = RunJob(*module, plan, list[next], silent, 0);
          std::fflush(nullptr);
          _exit(status);
        }
        if (pid < 0) {
          std::cerr << "ovra-host: " << list[next].shownInput << ": cannot start a job: " << std::strerror(errno)
                    << "\n";
          ++failures;
          ++finished;
        } else {
          ++running;
        }
        ++next;
      }
      if (running == 0) continue;
      int status = 0;
      const pid_t done = wait(&status);
      if (done < 0) {
        if (errno == EINTR) continue;
        break;
      }
      --running;
      ++finished;
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
      progress.Done(static_cast<int>(finished));
    }
    progress.End();
  }
  if (!stdinCopy.empty()) unlink(stdinCopy.c_str());
  UntrackTemp(stdinSlot);
  if (batch && (failures > 0 || !quiet))
    std::cerr << "ovra-host: " << list.size() - static_cast<std::size_t>(failures) << " of " << list.size()
              << " files written" << (failures ? ", " + std::to_string(failures) + " failed" : std::string()) << "\n";
  return failures > 0 ? 1 : 0;
}

}  // namespace standin::cli
