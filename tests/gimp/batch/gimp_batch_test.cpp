// The editor plug-in inside the editor itself: a headless session with a
// fresh profile, the plug-in installed into it as its README says, batch
// scripts over 8- and 16-bit layers with and without alpha and selections,
// every result compared with ovra-host apply of the same settings.
// Exits 77 (skipped) when the editor is not installed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "effects/catalogue.h"
#include "host/image_io.h"

namespace {

using standin::Document;

const std::string kHost = std::string(OVRA_MODULE_DIR) + "/ovra-host";

std::string g_root;  // the session's own folder

struct Output {
  int status = -1;
  std::string text;
};

// A shell command's status and what it printed (stdout and stderr).
Output Shell(const std::string& command) {
  Output o;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return o;
  std::array<char, 4096> buf;
  while (std::size_t n = fread(buf.data(), 1, buf.size(), p)) o.text.append(buf.data(), n);
  const int status = pclose(p);
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return o;
}

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

// The editor headless with that profile, running the script file; what it
// printed (messages from scripts among it).
Output RunEditor(const std::string& profile, const std::string& script, const std::string& env = "") {
  return Shell(env + " GIMP2_DIRECTORY=" + profile + " timeout 1100 gimp -i -d -f -b '(load \"" + script +
               "\")' -b '(gimp-quit 0)'");
}

// A picture with detail everywhere (blurs and grain show) and alpha that is
// never 0, so that every layer carries its colour exactly.
Document MakePicture(int depth, bool alpha) {
  Document d = Document::Make(96, 72, depth);
  const int full = d.FullScale();
  uint32_t seed = 12345;
  const auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) & 0xFFFF;
  };
  for (int y = 0; y < d.height; ++y)
    for (int x = 0; x < d.width; ++x)
      for (int c = 0; c < 3; ++c) {
        const int smooth = (x * (c + 2) * 5 + y * (4 - c) * 7) % 256;
        const int v = (smooth * 3 + static_cast<int>(next() % 256)) / 4;
        d.At(x, y, c) = static_cast<uint16_t>(v * full / 255);
      }
  if (alpha) {
    d.alpha.resize(static_cast<std::size_t>(d.width) * d.height);
    for (std::size_t i = 0; i < d.alpha.size(); ++i) d.alpha[i] = static_cast<uint16_t>(1 + next() % full);
  }
  return d;
}

struct Input {
  std::string name;
  int depth;
  bool alpha;
};
const Input kInputs[] = {{"rgb8", 8, false}, {"rgba8", 8, true}, {"rgb16", 16, false}, {"rgba16", 16, true}};

struct Area {
  int x, y, width, height;
};
const Area kSelection{17, 11, 40, 33};

struct Look {
  std::string procedure;
  std::string entry;
  std::string settings;  // the procedure's settings argument
};
const Look kLooks[] = {
    {"plug-in-ovra-bleach-bypass", "BleachBypass", "contrast=25;temperature=-15"},
    {"plug-in-ovra-soft-effects", "SoftEffects", "blurX=30; opacity=60"},
    {"plug-in-ovra-rosco-cinegel", "RoscoCinegel", "presets=5;opacity=80"},
    {"plug-in-ovra-grain", "Grain", "preset=2;grainAmountRed=40"},
    {"plug-in-ovra-fast-blur", "FastBlur", "blurX=12;blurY=6;gang=0"},
};

const std::string kRepeated = "opacity=70;blurX=40;color=0.2,0.1,0.5";

// ovra-host's --set options for a settings argument.
std::string SetOptions(const std::string& settings) {
  std::string out;
  std::stringstream in(settings);
  std::string item;
  while (std::getline(in, item, ';')) {
    const auto first = item.find_first_not_of(' ');
    if (first != std::string::npos) out += " --set '" + item.substr(first) + "'";
  }
  return out;
}

// Each look at both depths, with and without alpha and with and without a
// selection, every one of those twice: (input, selected).
const std::pair<int, bool> kRuns[] = {{0, false}, {1, true}, {2, true}, {3, false}};

std::string InputPath(const Input& in) {
  return g_root + "/in-" + in.name + ".png";
}
std::string CaseName(const Look& look, const Input& in, bool selected) {
  return look.entry + "-" + in.name + (selected ? "-sel" : "");
}

// Script-Fu loading the inputs once (each file plug-in call is a process
// the editor starts), as images input-0 ... input-3.
std::string ScriptInputs() {
  std::string s;
  for (std::size_t i = 0; i < std::size(kInputs); ++i)
    s += "(define input-" + std::to_string(i) + " (car (file-png-load RUN-NONINTERACTIVE \"" +
         InputPath(kInputs[i]) + "\" \"x\")))\n";
  return s;
}

// Script-Fu: a copy of a loaded input, optionally a rectangle selected, the
// call, and the result saved.
// With `precision`, the copy is converted to it before the call and back to
// the input's perceptual 16 bits after it.
std::string ScriptCase(int input, const std::string& out, const std::string& call, const Area* area,
                       const std::string& precision = "") {
  std::string s = "(let* ((img (car (gimp-image-duplicate input-" + std::to_string(input) +
                  ")))\n"
                  "       (layer (car (gimp-image-get-active-layer img))))\n";
  if (!precision.empty())
    s += "  (gimp-image-convert-precision img " + precision +
         ")\n"
         "  (set! layer (car (gimp-image-get-active-layer img)))\n";
  s += "  (gimp-image-clean-all img)\n";
  if (area != nullptr)
    s += "  (gimp-image-select-rectangle img CHANNEL-OP-REPLACE " + std::to_string(area->x) + " " +
         std::to_string(area->y) + " " + std::to_string(area->width) + " " + std::to_string(area->height) +
         ")\n";
  s += "  (catch #f " + call + ")\n";
  s += "  (gimp-message (string-append \"ovra-dirty " + out +
       " \" (number->string (car (gimp-image-is-dirty img)))))\n";
  if (!precision.empty())
    s += "  (gimp-image-convert-precision img PRECISION-U16-GAMMA)\n"
         "  (set! layer (car (gimp-image-get-active-layer img)))\n";
  s += "  (file-png-save2 RUN-NONINTERACTIVE img layer \"" + out + "\" \"" + out + "\" 0 1 0 0 0 0 0 0 1)\n";
  s += "  (gimp-image-delete img))\n";
  return s;
}

std::string Call(const std::string& procedure, const std::string& mode, const std::string& settings) {
  return "(" + procedure + " " + mode + " img layer \"" + settings + "\")";
}

class Session : public ::testing::Environment {
 public:
  void SetUp() override {
    char folder[] = "/tmp/ovra-gimp-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    g_root = folder;
    const std::string profile = g_root + "/profile";
    ASSERT_EQ(mkdir(profile.c_str(), 0755), 0);
    install = Shell("GIMP2_DIRECTORY=" + profile + " " + CMAKE_COMMAND + " --install " + OVRA_BINARY_DIR +
                    " --component gimp");
    ASSERT_EQ(install.status, 0) << install.text;
    std::string error;
    for (const Input& in : kInputs)
      ASSERT_TRUE(standin::WriteImage(InputPath(in), MakePicture(in.depth, in.alpha), error)) << error;

    std::string script = ScriptInputs();
    for (const Look& look : kLooks)
      for (const auto& [input, selected] : kRuns)
        script += ScriptCase(input, g_root + "/gimp-" + CaseName(look, kInputs[input], selected) + ".png",
                             Call(look.procedure, "RUN-NONINTERACTIVE", look.settings),
                             selected ? &kSelection : nullptr);
    // Filters > Repeat after a call with settings, of a filter not used
    // before (its registry entry would give the same): those settings again.
    script += ScriptCase(2, g_root + "/gimp-repeat.png",
                         Call("plug-in-ovra-vignette", "RUN-NONINTERACTIVE", kRepeated), nullptr);
    script += ScriptCase(0, g_root + "/gimp-repeated.png",
                         Call("plug-in-ovra-vignette", "RUN-WITH-LAST-VALS", ""), nullptr);
    // A linear floating-point layer goes through perceptual 16 bits, which
    // carry a 16-bit picture's values there and back exactly.
    script += ScriptCase(3, g_root + "/gimp-float.png", Call(kLooks[0].procedure, "RUN-NONINTERACTIVE", kLooks[0].settings),
                         nullptr, "PRECISION-FLOAT-LINEAR");
    ASSERT_TRUE(WriteText(g_root + "/cases.scm", script));
    batch = RunEditor(profile, g_root + "/cases.scm");

    // Runs that must fail, and an abort after the first band (the host's
    // fault injection, as a cancelled progress).
    std::string failing = ScriptInputs();
    failing +=
        "(let* ((img (car (gimp-image-duplicate input-0)))\n"
        "       (layer (car (gimp-image-get-active-layer img))))\n"
        "  (gimp-image-convert-grayscale img)\n"
        "  (catch #f " +
        Call("plug-in-ovra-bleach-bypass", "RUN-NONINTERACTIVE", "") + "))\n";
    failing +=
        "(let* ((img (car (gimp-image-duplicate input-0)))\n"
        "       (layer (car (gimp-image-get-active-layer img))))\n"
        "  (catch #f " +
        Call("plug-in-ovra-bleach-bypass", "RUN-NONINTERACTIVE", "contrast=abc") +
        ")\n"
        "  (catch #f " +
        Call("plug-in-ovra-bleach-bypass", "RUN-NONINTERACTIVE", "contrast=5;colour=1") +
        ")\n"
        "  (catch #f " +
        Call("plug-in-ovra-bleach-bypass", "RUN-NONINTERACTIVE", "contrast") + "))\n";
    for (int in : {1, 3})
      failing += ScriptCase(in, g_root + "/gimp-aborted-" + kInputs[in].name + ".png",
                            Call("plug-in-ovra-fast-blur", "RUN-NONINTERACTIVE", ""), nullptr);
    ASSERT_TRUE(WriteText(g_root + "/failing.scm", failing));
    const std::string profile2 = g_root + "/profile2";
    ASSERT_EQ(mkdir(profile2.c_str(), 0755), 0);
    ASSERT_EQ(Shell("cp -r " + profile + "/plug-ins " + profile2 + "/").status, 0);
    failures = RunEditor(profile2, g_root + "/failing.scm", "OVRA_ABORT_AFTER_TILES=1");

    // A cancelled progress: the editor ends the plug-in's process mid-run.
    const std::string closing =
        ScriptInputs() + ScriptCase(1, g_root + "/gimp-closed.png",
                                    Call("plug-in-ovra-fast-blur", "RUN-NONINTERACTIVE", ""), nullptr);
    ASSERT_TRUE(WriteText(g_root + "/closing.scm", closing));
    closed = RunEditor(profile2, g_root + "/closing.scm", "OVRA_CLOSE_AFTER_TILES=1");
  }

  // What a failed run made stays for a look.
  void TearDown() override {
    if (!g_root.empty() && !::testing::UnitTest::GetInstance()->Failed()) Shell("rm -rf " + g_root);
  }

  Output install, batch, failures, closed;
};

Session* g_session = nullptr;

Document Read(const std::string& path) {
  Document d;
  std::string error;
  EXPECT_TRUE(standin::ReadImage(path, d, error)) << error;
  return d;
}

// Pixels of b that differ from a inside (or, with outside, outside) the area.
int Differences(const Document& a, const Document& b, const Area& area, bool outside) {
  if (a.width != b.width || a.height != b.height || a.depth != b.depth) return -1;
  int n = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      const bool in = x >= area.x && x < area.x + area.width && y >= area.y && y < area.y + area.height;
      if (in == outside) continue;
      bool same = true;
      for (int c = 0; c < 3; ++c) same = same && a.At(x, y, c) == b.At(x, y, c);
      const std::size_t i = static_cast<std::size_t>(y) * a.width + x;
      if (!a.alpha.empty() || !b.alpha.empty())
        same = same && a.alpha.size() == b.alpha.size() && a.alpha[i] == b.alpha[i];
      n += same ? 0 : 1;
    }
  return n;
}

TEST(GimpBatch, EveryFilterEqualsTheStandInHostByteForByte) {
  ASSERT_EQ(g_session->batch.status, 0) << g_session->batch.text;
  for (const Look& look : kLooks)
    for (const auto& [input, selected] : kRuns) {
      const Input& in = kInputs[input];
      const std::string name = CaseName(look, in, selected);
      SCOPED_TRACE(name);
      const std::string expected = g_root + "/host-" + name + ".png";
      const Area& a = kSelection;
      const std::string area = selected ? " --area " + std::to_string(a.x) + "," + std::to_string(a.y) + "," +
                                              std::to_string(a.width) + "," + std::to_string(a.height)
                                        : "";
      const Output host = Shell(kHost + " apply " + look.entry + " " + InputPath(in) + " " + expected +
                                SetOptions(look.settings) + area + " --quiet");
      ASSERT_EQ(host.status, 0) << host.text;
      const Document source = Read(InputPath(in));
      const Document want = Read(expected);
      const Document got = Read(g_root + "/gimp-" + name + ".png");
      ASSERT_EQ(got.depth, in.depth);
      ASSERT_EQ(got.alpha.empty(), !in.alpha);
      const Area whole{0, 0, source.width, source.height};
      EXPECT_EQ(Differences(want, got, whole, false), 0);
      // The filter changed the area, and nothing outside it.
      EXPECT_GT(Differences(source, got, selected ? a : whole, false), 0);
      if (selected) {
        EXPECT_EQ(Differences(source, got, a, true), 0);
      }
    }
}

TEST(GimpBatch, RepeatWithLastValuesUsesTheLastSettings) {
  const std::string in = InputPath(kInputs[0]);
  const Output host = Shell(kHost + " apply Vignette " + in + " " + g_root + "/host-repeated.png" +
                            SetOptions(kRepeated) + " --quiet");
  ASSERT_EQ(host.status, 0) << host.text;
  const Output defaults =
      Shell(kHost + " apply Vignette " + in + " " + g_root + "/host-defaults.png --quiet");
  ASSERT_EQ(defaults.status, 0) << defaults.text;
  const Document want = Read(g_root + "/host-repeated.png");
  const Document got = Read(g_root + "/gimp-repeated.png");
  const Area whole{0, 0, want.width, want.height};
  EXPECT_EQ(Differences(want, got, whole, false), 0);
  EXPECT_GT(Differences(Read(g_root + "/host-defaults.png"), got, whole, false), 0);
}

TEST(GimpBatch, AFloatLayerIsFilteredAtSixteenBitsWithANote) {
  ASSERT_EQ(g_session->batch.status, 0) << g_session->batch.text;
  const Look& look = kLooks[0];
  const std::string expected = g_root + "/host-float.png";
  const Output host = Shell(kHost + " apply " + look.entry + " " + InputPath(kInputs[3]) + " " + expected +
                            SetOptions(look.settings) + " --quiet");
  ASSERT_EQ(host.status, 0) << host.text;
  const Document want = Read(expected);
  const Document got = Read(g_root + "/gimp-float.png");
  EXPECT_EQ(Differences(want, got, {0, 0, want.width, want.height}, false), 0);
  EXPECT_NE(g_session->batch.text.find("through perceptual 16-bit samples: values outside 0..1 are clipped"),
            std::string::npos)
      << g_session->batch.text;
}

TEST(GimpBatch, RefusalsSayWhy) {
  const std::string& text = g_session->failures.text;
  for (const char* message :
       {"Ovra Bleach Bypass works on RGB layers only",
        "Ovra Bleach Bypass: contrast=abc: Contrast takes a number",
        "Ovra Bleach Bypass: no parameter 'colour' in Ovra Bleach Bypass",
        "Ovra Bleach Bypass: settings take KEY=VALUE items separated by ';' or a .kvr preset "
        "file, not 'contrast'"})
    EXPECT_NE(text.find(message), std::string::npos) << message << "\nin:\n" << text;
}

TEST(GimpBatch, AbortLeavesTheLayerAndItsUndoAlone) {
  for (const Input& in : {kInputs[1], kInputs[3]}) {
    SCOPED_TRACE(in.name);
    const std::string out = g_root + "/gimp-aborted-" + in.name + ".png";
    const Document source = Read(InputPath(in));
    const Document got = Read(out);
    EXPECT_EQ(Differences(source, got, {0, 0, source.width, source.height}, false), 0);
    // No undo step: the image is as clean as loaded.
    EXPECT_NE(g_session->failures.text.find("ovra-dirty " + out + " 0"), std::string::npos)
        << g_session->failures.text;
  }
}

TEST(GimpBatch, AFilterEndedMidRunLeavesTheLayerAndItsUndoAlone) {
  const std::string out = g_root + "/gimp-closed.png";
  const Document source = Read(InputPath(kInputs[1]));
  const Document got = Read(out);
  EXPECT_EQ(Differences(source, got, {0, 0, source.width, source.height}, false), 0);
  EXPECT_NE(g_session->closed.text.find("ovra-dirty " + out + " 0"), std::string::npos) << g_session->closed.text;
}

TEST(GimpInstall, ACleanPrefixRegistersEveryFilterWithItsDescription) {
  const std::string prefix = g_root + "/prefix";
  const Output install = Shell(std::string(CMAKE_COMMAND) + " --install " + OVRA_BINARY_DIR +
                               " --component gimp --prefix " + prefix);
  ASSERT_EQ(install.status, 0) << install.text;
  struct stat st {};
  ASSERT_EQ(stat((prefix + "/lib/gimp/2.0/plug-ins/ovra/ovra").c_str(), &st), 0) << install.text;
  const std::string profile = g_root + "/profile3";
  ASSERT_EQ(mkdir(profile.c_str(), 0755), 0);
  const Output dirs = Shell("gimptool-2.0 --gimpplugindir");
  std::string system = dirs.text.substr(0, dirs.text.find('\n'));
  ASSERT_TRUE(WriteText(profile + "/gimprc",
                        "(plug-in-path \"" + prefix + "/lib/gimp/2.0/plug-ins:" + system + "/plug-ins\")\n"));
  ASSERT_TRUE(
      WriteText(g_root + "/query.scm",
                "(let ((found (gimp-procedural-db-query \"^plug-in-ovra-\" \"\" \"\" \"\" \"\" \"\" \"\")))\n"
                "  (gimp-message (string-append \"ovra-count \" (number->string (car found))))\n"
                "  (gimp-message (string-append \"ovra-blurb \" (car (gimp-procedural-db-proc-info "
                "\"plug-in-ovra-bleach-bypass\")))))\n"
                // The image types each filter is registered for: the editor
                // greys the entries out for other images.
                "(let* ((q (gimp-plugins-query \"\")) (types (list-ref q 7)) (names (list-ref q 11)) (out \"\"))\n"
                "  (for-each (lambda (n t) (if (and (>= (string-length n) 13) (string=? (substring n 0 13) "
                "\"plug-in-ovra-\")) (set! out (string-append out \" \" t)))) names types)\n"
                "  (gimp-message (string-append \"ovra-types\" out)))\n"));
  const Output query = RunEditor(profile, g_root + "/query.scm");
  const Output list = Shell(kHost + " list | wc -l");
  const std::string count = list.text.substr(0, list.text.find_last_not_of(" \n") + 1);
  EXPECT_NE(query.text.find("ovra-count " + count + "\n"), std::string::npos) << query.text;
  EXPECT_NE(query.text.find(std::string("ovra-blurb ") + fx::catalogue::Find("BleachBypass").description),
            std::string::npos)
      << query.text;
  std::string types;
  for (int i = 0; i < std::stoi(count); ++i) types += " RGB*";
  EXPECT_NE(query.text.find("ovra-types" + types + "\n"), std::string::npos) << query.text;
}

}  // namespace

int main(int argc, char** argv) {
  if (Shell("command -v gimp").status != 0) {
    std::printf("gimp is not installed: the editor plug-in tests are skipped\n");
    return 77;
  }
  ::testing::InitGoogleTest(&argc, argv);
  g_session = new Session;
  ::testing::AddGlobalTestEnvironment(g_session);
  return RUN_ALL_TESTS();
}
