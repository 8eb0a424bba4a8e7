// ovra-host as photographers use it: finding filters, parameters and their
// checks, files kept whole, batches and pipes.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>

#include "effects/catalogue.h"
#include "tests/e2e/e2e_fixture.h"

using namespace e2e;
using namespace standin;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Cli : public ::testing::Test {
 protected:
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("ovra_cli_" + std::to_string(getpid()) + "_" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
  void SetUp() override { std::filesystem::create_directories(dir); }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string Out(const std::string& name) { return (dir / name).string(); }
  std::vector<std::string> Files(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

const std::string kChelsea = kSamples + "/chelsea.png";

// ---------------------------------------------------------------- filters

TEST(CliFilters, ListShowsEveryFilterTheModuleRuns) {
  const HostOutput o = RunHost("list");
  ASSERT_EQ(o.status, 0) << o.text;
  const std::vector<std::string> lines = Lines(o.text);
  // Exactly the registered effect types, each with its display name.
  ASSERT_EQ(static_cast<int>(lines.size()), Types().Count()) << o.text;
  for (const std::string& line : lines) EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 3) << line;
  EXPECT_TRUE(Has(o.text, "PIMAIN_BleachBypass\tOvra Bleach Bypass\tColour and tone\t-\n")) << o.text;
  EXPECT_TRUE(Has(o.text, "PIMAIN_SoftEffects\tOvra Soft Effects\tDiffusion and glow\t16048\n")) << o.text;
  EXPECT_FALSE(Has(o.text, "PIMAIN_Defocus")) << "an entry point without an effect is not a filter";
  const HostOutput json = RunHost("list --json");
  ASSERT_EQ(json.status, 0) << json.text;
  EXPECT_EQ(json.text.front(), '[');
  EXPECT_TRUE(Has(json.text, "{\"entry\": \"PIMAIN_SoftEffects\", \"displayName\": \"Ovra Soft Effects\", "
                             "\"family\": \"Diffusion and glow\", \"resource\": 16048}"))
      << json.text;
  const HostOutput resources = RunHost("list --resources --json");
  ASSERT_EQ(resources.status, 0) << resources.text;
  EXPECT_EQ(resources.text.rfind("[{\"id\": 16048, \"menuName\": \"Ovra Soft Effects...\", \"entry\": "
                                 "\"PIMAIN_SoftEffects\"}, ",
                                 0),
            0u)
      << resources.text;
  const HostOutput all = RunHost("list --all --json");
  EXPECT_EQ(std::count(all.text.begin(), all.text.end(), ','), 76) << all.text;
}

TEST(CliFilters, NamesMatchInAnyCaseWithOrWithoutPrefixAndByDisplayName) {
  for (const char* name : {"BleachBypass", "bleachbypass", "PIMAIN_BLEACHBYPASS", "pimain_bleachBypass",
                           "\"Bleach Bypass\"", "\"ovra bleach bypass\""}) {
    const HostOutput o = RunHost(std::string("params ") + name + " --tsv");
    EXPECT_EQ(o.status, 0) << name << ": " << o.text;
    EXPECT_TRUE(Has(o.text, "2\t2\tamount\t100\n")) << name << ": " << o.text;
  }
  // A menu name, with its dots.
  const HostOutput menu = RunHost("params \"Ovra Soft Effects...\"");
  EXPECT_EQ(menu.status, 0) << menu.text;
  EXPECT_EQ(menu.text.rfind("Ovra Soft Effects (PIMAIN_SoftEffects)\n", 0), 0u) << menu.text;
}

TEST(CliFilters, AnUnknownNameSuggestsTheNearest) {
  struct Case {
    std::string typed, suggested;
  } cases[] = {{"BleechBypass", "BleachBypass"}, {"\"Blach and White\"", "BlackAndWhite"}, {"grian", "Grain"}};
  for (const Case& c : cases) {
    const HostOutput o = RunHost("params " + c.typed);
    EXPECT_EQ(o.status, 2) << c.typed;
    EXPECT_TRUE(Has(o.text, "did you mean " + c.suggested)) << c.typed << ": " << o.text;
    EXPECT_EQ(std::count(o.text.begin(), o.text.end(), '\n'), 1) << "one line, no usage dump: " << o.text;
  }
}

// ---------------------------------------------------------------- parameters

TEST(CliParams, TheTableShowsLabelsRangesDefaultsAndChoices) {
  const HostOutput o = RunHost("params BleachBypass");
  ASSERT_EQ(o.status, 0) << o.text;
  const std::vector<std::string> lines = Lines(o.text);
  ASSERT_GE(lines.size(), 9u) << o.text;
  EXPECT_EQ(lines[0], "Ovra Bleach Bypass (PIMAIN_BleachBypass)");
  const auto row = [&](const std::string& key) {
    for (const std::string& l : lines)
      if (l.find("  " + key + "  ") != std::string::npos) return l;
    return std::string();
  };
  // index, key, label, kind, value, range, default.
  const std::string amount = row("amount");
  std::istringstream fields(amount);
  std::vector<std::string> cells{std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
  EXPECT_EQ(cells, (std::vector<std::string>{"2", "amount", "Amount", "range", "100", "0", "to", "100", "100"}))
      << amount;
  EXPECT_TRUE(Has(row("view"), "0 Output")) << o.text;
  EXPECT_TRUE(Has(o.text, "  1 Original\n")) << "list choices by index and name:\n" << o.text;
  // Disabled state: a grain stock disables nothing (the module's instance
  // keeps them editable), Monochrome disables the green and blue rows.
  const HostOutput mono = RunHost("params Grain --set grainMono=on");
  ASSERT_EQ(mono.status, 0) << mono.text;
  for (const std::string& l : Lines(mono.text)) {
    if (Has(l, " grainSizeGrn ") || Has(l, " grainAmountBlu ")) {
      EXPECT_TRUE(Has(l, "disabled")) << l;
    }
    if (Has(l, " grainSizeRed ")) {
      EXPECT_FALSE(Has(l, "disabled")) << l;
    }
  }
}

TEST(CliParams, NumbersAsTheDialogShowsThemAndExactInJson) {
  // A value with no short decimal form: shown to the dialog's precision,
  // exact in JSON (and in the four columns scripts read).
  const std::string set = " --set amount=33.333333333333336";
  const HostOutput table = RunHost("params BleachBypass" + set);
  EXPECT_TRUE(Has(table.text, " 33.3333 ")) << table.text;
  const HostOutput json = RunHost("params BleachBypass --json" + set);
  ASSERT_EQ(json.status, 0) << json.text;
  EXPECT_TRUE(Has(json.text, "\"index\": 2, \"kind\": 2, \"kindName\": \"range\", \"key\": \"amount\", \"group\": \"\", "
                             "\"value\": 33.333333333333336, \"shown\": \"33.3333\", \"label\": \"Amount\", "
                             "\"default\": 100"))
      << json.text;
  EXPECT_TRUE(Has(json.text, "\"minimum\": 0, \"maximum\": 100, \"decimals\": 1")) << json.text;
  EXPECT_TRUE(Has(json.text, "\"choices\": [\"Output\", \"Original\"]")) << json.text;
  const HostOutput tsv = RunHost("params BleachBypass --tsv" + set);
  EXPECT_TRUE(Has(tsv.text, "2\t2\tamount\t33.333333333333336\n")) << tsv.text;
}

// Each kind's checks, through apply: exit status 2, a message naming the key,
// the value and what is allowed, and no output file.
TEST_F(Cli, SetIsCheckedByKind) {
  struct Case {
    std::string entry, set, message;
  } cases[] = {
      {"BleachBypass", "amount=150", "--set amount=150: Amount takes a number from 0 to 100"},
      {"BleachBypass", "amount=abc", "--set amount=abc: Amount takes a number from 0 to 100"},
      {"BleachBypass", "amount=nan", "--set amount=nan: Amount takes a number from 0 to 100"},
      {"BleachBypass", "amount=", "--set amount=: Amount takes a number from 0 to 100"},
      {"Grain", "grainSizeRed=1.5", "--set grainSizeRed=1.5: Red Size takes a whole number from 1 to 10"},
      {"Grain", "grainMono=maybe", "--set grainMono=maybe: Monochrome takes on or off"},
      {"BleachBypass", "view=2", "--set view=2: View takes an index from 0 to 1 or a choice name: 0 Output, 1 Original"},
      {"BleachBypass", "view=-1", "--set view=-1: View takes an index from 0 to 1"},
      {"BleachBypass", "view=Orignal", "--set view=Orignal: View has no choice 'Orignal'; did you mean \"Original\"?"},
      {"Grain", "preset=big mono", "has no choice 'big mono'"},
      {"WarmSoftEffects", "color=255,128,0", "takes #rrggbb or r,g,b with each component from 0 to 1; for 0..255 "
                                             "components write #ff8000"},
      {"WarmSoftEffects", "color=#ff80", "--set color=#ff80: Color takes #rrggbb or r,g,b"},
      {"WarmSoftEffects", "color=1,1", "--set color=1,1: Color takes #rrggbb"},
      {"WarmSoftEffects", "input=1", "--set input=1: Input (image) takes no value"},
      {"BleachBypass", "amount", "--set takes KEY=VALUE, not 'amount'"},
      {"BleachBypass", "amuont=5", "no parameter 'amuont' in Ovra Bleach Bypass; did you mean amount?"},
      {"WarmSoftEffects", "opacity=20", "'opacity' names 2 parameters of Ovra Warm Soft Effects: blurGroup/opacity "
                                        "(#6) warmingGroup/opacity (#10)"},
      {"WarmSoftEffects", "#14=1", "no parameter #14 in Ovra Warm Soft Effects (it has #0 to #13)"},
  };
  for (const Case& c : cases) {
    const std::string out = Out("out.png");
    const HostOutput o = RunHost("apply " + c.entry + " " + kChelsea + " " + out + " --set '" + c.set + "'");
    EXPECT_EQ(o.status, 2) << c.set << ": " << o.text;
    EXPECT_TRUE(Has(o.text, c.message)) << c.set << ":\n" << o.text;
    EXPECT_FALSE(std::filesystem::exists(out)) << c.set;
  }
}

TEST(CliParams, ValuesInEveryForm) {
  struct Case {
    std::string entry, set, line;
  } cases[] = {
      {"BleachBypass", "view=Original", "1\t4\tview\t1"},
      {"BleachBypass", "view=original", "1\t4\tview\t1"},
      {"BleachBypass", "View=1", "1\t4\tview\t1"},  // keys in any case
      {"Grain", "preset=big", "2\t4\tpreset\t3"},     // unique without regard to case
      {"Grain", "preset=Big Monochrome", "2\t4\tpreset\t4"},
      {"Grain", "grainMono=YES", "4\t3\tgrainMono\t1"},
      {"WarmSoftEffects", "color=#ff8000", "9\t5\tcolor\t1,0.5019607843137255,0"},
      {"WarmSoftEffects", "color=1,1,1", "9\t5\tcolor\t1,1,1"},
      {"WarmSoftEffects", "warmingGroup/opacity=20", "10\t2\topacity\t20"},
      {"WarmSoftEffects", "#10=20", "10\t2\topacity\t20"},
      {"WarmSoftEffects", "blurGroup/opacity=20", "6\t2\topacity\t20"},
      {"BleachBypass", "amount=+5", "2\t2\tamount\t5"},
  };
  for (const Case& c : cases) {
    const HostOutput o = RunHost("params " + c.entry + " --tsv --set '" + c.set + "'");
    EXPECT_EQ(o.status, 0) << c.set << ": " << o.text;
    EXPECT_TRUE(Has(o.text, c.line + "\n")) << c.set << ":\n" << o.text;
  }
}

// The parameters of the module's own Grain instance after the dialog picks a
// stock: the effect's parameter-changed routine on a registry-held instance.
std::vector<uint8_t> DialogPicks(const std::string& registryName, int32_t index, int32_t choice) {
  fx::EffectRegistry registry;
  fx::RegisterEffects(registry);
  fx::EffectInstance* e = registry.Lookup(registryName.c_str());
  EXPECT_NE(e, nullptr);
  if (e == nullptr) return {};
  e->parameters[index].listIndex = choice;
  e->routines->parameterChanged(e, index);
  return fx::BuildSettings(*e);
}

std::string Tsv(const std::vector<uint8_t>& block) {
  SettingsView view;
  std::string error;
  EXPECT_TRUE(ParseSettings(block, view, error)) << error;
  std::string out;
  for (std::size_t i = 0; i < view.records.size(); ++i)
    out += std::to_string(i) + "\t" + std::to_string(view.records[i].kind) + "\t" + view.records[i].key + "\t" +
           FormatValue(block, view.records[i]) + "\n";
  return out;
}

TEST_F(Cli, ChoosingAPresetFillsWhatTheDialogFills) {
  // Grain "Big" (stock 3) and Color Temperature's light source 3.
  const HostOutput big = RunHost("params Grain --tsv --set presets=Big");
  ASSERT_EQ(big.status, 0) << big.text;
  EXPECT_EQ(big.text, Tsv(DialogPicks("Grain", 2, 3)));
  EXPECT_TRUE(Has(big.text, "8\t2\tgrainAmountRed\t50\n")) << big.text;
  const HostOutput light = RunHost("params ColorTemperature --tsv --set presets=3");
  ASSERT_EQ(light.status, 0) << light.text;
  EXPECT_EQ(light.text, Tsv(DialogPicks("ColorTemp", 3, 3)));
  EXPECT_FALSE(Has(light.text, "4\t2\tdestKelvin\t3200\n")) << "the light source's Kelvin is filled:\n" << light.text;
  // Explicit values win over the filled ones, whatever their order.
  const HostOutput over = RunHost("params Grain --tsv --set grainAmountRed=40 --set preset=Big");
  EXPECT_TRUE(Has(over.text, "8\t2\tgrainAmountRed\t40\n")) << over.text;
  EXPECT_TRUE(Has(over.text, "9\t2\tgrainAmountGrn\t50\n")) << over.text;

  // The filled values reach the render: the same image as every value given.
  ASSERT_EQ(RunHost("apply Grain " + kChelsea + " " + Out("a.png") + " --set preset=Big --quiet").status, 0);
  std::string explicitSets = " --set preset=Big";
  for (const char* c : {"Red", "Grn", "Blu"})
    explicitSets += std::string(" --set grainSize") + c + "=2 --set grainAmount" + c + "=50 --set grainSoftness" + c +
                    "=0";
  ASSERT_EQ(RunHost("apply Grain " + kChelsea + " " + Out("b.png") + explicitSets + " --quiet").status, 0);
  EXPECT_EQ(Contents(Out("a.png")), Contents(Out("b.png")));
  ASSERT_EQ(RunHost("apply Grain " + kChelsea + " " + Out("c.png") + " --quiet").status, 0);
  EXPECT_NE(Contents(Out("a.png")), Contents(Out("c.png")));

  // A saved preset keeps its meaning: it is applied as stored, not refilled.
  ASSERT_EQ(RunHost("params Grain --set preset=Big --set grainAmountRed=10 --save " + Out("p.kvr")).status, 0);
  const HostOutput stored = RunHost("params Grain --tsv --preset " + Out("p.kvr"));
  EXPECT_TRUE(Has(stored.text, "8\t2\tgrainAmountRed\t10\n")) << stored.text;
}

// ---------------------------------------------------------------- nothing lost

TEST_F(Cli, ChecksComeBeforeTheRender) {
  struct Case {
    std::string what, output, message;
  } cases[] = {
      {"missing folder", Out("no/such/out.png"), Out("no/such/out.png") + ": no folder " + Out("no/such")},
      {"folder is a file", Out("file.png") + "/out.png", "file.png is not a folder"},
      {"output is a folder", dir.string(), dir.string() + ": is a folder"},
      {"unknown format", Out("out.xyz"), Out("out.xyz") + ": unknown output format"},
  };
  std::ofstream(Out("file.png")) << "x";
  for (const Case& c : cases) {
    const double start = ChildCpuSeconds();
    // A render long enough to notice: a wide blur over the photograph.
    const HostOutput o = RunHost("apply SoftEffects " + kSamples + "/coffee.png " + c.output + " --quiet");
    const double seconds = ChildCpuSeconds() - start;
    EXPECT_EQ(o.status, 1) << c.what << ": " << o.text;
    EXPECT_TRUE(Has(o.text, c.message)) << c.what << ": " << o.text;
    EXPECT_LT(seconds, 1.0) << c.what;
  }
  // Errors name the path once.
  const HostOutput missing = RunHost("apply BleachBypass /no/such.png " + Out("x.png"));
  EXPECT_EQ(missing.text, "ovra-host: /no/such.png: no such file\n");
  // A JPEG output of a 16-bit document says what it will do, and does it.
  const HostOutput jpeg = RunHost("apply BleachBypass " + kChelsea + " " + Out("x.jpg") + " --depth 16 --quiet");
  EXPECT_EQ(jpeg.status, 0) << jpeg.text;
}

TEST_F(Cli, ABadRegistryPathKeepsTheImage) {
  const std::string registry = Out("no/folder/registry.txt");
  const HostOutput o = RunHost("apply BlackAndWhite " + kChelsea + " " + Out("a.png") + " --registry " + registry +
                               " --quiet");
  EXPECT_EQ(o.status, 1) << o.text;
  EXPECT_TRUE(Has(o.text, registry + ": ")) << o.text;
  EXPECT_TRUE(Has(o.text, "was written to " + Out("a.png"))) << o.text;
  Document d;
  std::string error;
  EXPECT_TRUE(ReadImage(Out("a.png"), d, error)) << error;
  // A good registry is replaced whole, after the image.
  const std::string good = Out("registry.txt");
  ASSERT_EQ(RunHost("apply BlackAndWhite " + kChelsea + " " + Out("b.png") + " --set filter=1 --registry " + good +
                    " --quiet")
                .status,
            0);
  EXPECT_TRUE(Has(Contents(good), "d6591f3d-f5f6-4281-89a6-f77d7ac00044 7061724d ")) << Contents(good);
  EXPECT_EQ(Files(dir), (std::vector<std::string>{"a.png", "b.png", "registry.txt"}));
}

TEST_F(Cli, AnInterruptedRunLeavesNoPartialFile) {
  // Stopped at moments through the run: the output is either absent or
  // whole, and no temporary file is left.
  const std::string out = Out("out.tif");
  std::string whole;
  ASSERT_EQ(RunHost("apply SoftEffects " + kSamples + "/coffee.png " + Out("ref.tif") + " --depth 16 --quiet").status, 0);
  whole = Contents(Out("ref.tif"));
  for (int delayMs : {30, 120, 250, 400, 600}) {
    const pid_t pid = fork();
    if (pid == 0) {
      execl(kHostPath.c_str(), "ovra-host", "apply", "SoftEffects", (kSamples + "/coffee.png").c_str(), out.c_str(),
            "--depth", "16", "--quiet", static_cast<char*>(nullptr));
      _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    for (const std::string& f : Files(dir)) EXPECT_TRUE(f == "out.tif" || f == "ref.tif") << "left behind: " << f;
    if (std::filesystem::exists(out)) {
      EXPECT_EQ(Contents(out), whole) << delayMs << " ms";
    }
    std::filesystem::remove(out);
  }
}

// ---------------------------------------------------------------- batches

TEST_F(Cli, ABatchInParallelEqualsSingleRuns) {
  const Document photo = [] {
    Document d;
    std::string error;
    EXPECT_TRUE(ReadImage(kSamples + "/coffee.png", d, error)) << error;
    return d;
  }();
  std::filesystem::create_directories(dir / "in");
  std::string inputs;
  for (int i = 0; i < 20; ++i) {
    Document crop = Document::Make(48, 32, 8);
    for (int32_t y = 0; y < crop.height; ++y)
      for (int32_t x = 0; x < crop.width; ++x)
        for (int c = 0; c < 3; ++c) crop.At(x, y, c) = photo.At(x + 20 * i, y + 10 * i, c);
    const std::string path = (dir / "in" / ("photo" + std::to_string(i) + ".png")).string();
    std::string error;
    ASSERT_TRUE(WriteImage(path, crop, error)) << error;
    inputs += " " + path;
  }
  const HostOutput batch =
      RunHost("apply Grain" + inputs + " -o " + Out("batch") + " --jobs 2 --set preset=Big");
  ASSERT_EQ(batch.status, 1) << "the output folder must exist: " << batch.text;
  EXPECT_TRUE(Has(batch.text, Out("batch/photo0.png") + ": no folder " + Out("batch") + "\n")) << batch.text;
  std::filesystem::create_directories(dir / "batch");
  const HostOutput ok = RunHost("apply Grain" + inputs + " -o " + Out("batch") + " --jobs 2 --set preset=Big");
  ASSERT_EQ(ok.status, 0) << ok.text;
  EXPECT_EQ(ok.text, "ovra-host: 20 of 20 files written\n");
  for (int i = 0; i < 20; ++i) {
    const std::string name = "photo" + std::to_string(i) + ".png";
    const std::string single = Out("single.png");
    ASSERT_EQ(RunHost("apply Grain " + (dir / "in" / name).string() + " " + single + " --set preset=Big --quiet").status,
              0);
    EXPECT_EQ(Contents(Out("batch/" + name)), Contents(single)) << name;
  }
  // A pattern, and a file that fails: the others are written, the status
  // says so.
  std::ofstream(dir / "in" / "broken.png") << "not a picture";
  const HostOutput some = RunHost("apply BleachBypass " + (dir / "in" / "photo1.png").string() + " " +
                                  (dir / "in" / "broken.png").string() + " --output " +
                                  Out("batch/{stem}-{filter}.{ext}") + " --jobs 2");
  EXPECT_EQ(some.status, 1) << some.text;
  EXPECT_TRUE(Has(some.text, "ovra-host: 1 of 2 files written, 1 failed\n")) << some.text;
  EXPECT_TRUE(std::filesystem::exists(Out("batch/photo1-BleachBypass.png")));
  EXPECT_FALSE(std::filesystem::exists(Out("batch/broken-BleachBypass.png")));
  // Two inputs of one name would overwrite each other: refused before rendering.
  const HostOutput clash = RunHost("apply BleachBypass " + (dir / "in" / "photo1.png").string() + " " +
                                   (dir / "in" / "photo1.png").string() + " -o " + Out("batch"));
  EXPECT_EQ(clash.status, 1);
  EXPECT_TRUE(Has(clash.text, "more than one input would be written here")) << clash.text;
}

TEST_F(Cli, StandardInputAndOutput) {
  ASSERT_EQ(RunHost("apply BleachBypass " + kChelsea + " " + Out("file.png") + " --set contrast=30 --quiet").status, 0);
  const HostOutput piped =
      RunHost("apply BleachBypass - - --format png --set contrast=30 --quiet < " + kChelsea + " > " + Out("pipe.png"));
  EXPECT_EQ(piped.status, 0) << piped.text;
  EXPECT_EQ(Contents(Out("pipe.png")), Contents(Out("file.png")));
  const HostOutput noFormat = RunHost("apply BleachBypass " + kChelsea + " - --quiet");
  EXPECT_EQ(noFormat.status, 2) << noFormat.text;
  EXPECT_TRUE(Has(noFormat.text, "--format names the format of standard output")) << noFormat.text;
}

TEST(CliHelp, EveryCommandHasHelpWithAnExample) {
  for (const char* command : {"list", "params", "apply", "dialog", "about"}) {
    const HostOutput help = RunHost(std::string("help ") + command);
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_TRUE(Has(help.text, "example:\n  ovra-host ")) << command << ": " << help.text;
    const HostOutput flag = RunHost(std::string(command) + " --help");
    EXPECT_EQ(flag.text, help.text) << command;
  }
  // A usage error is one line and a pointer to the help.
  const HostOutput bad = RunHost("apply BleachBypass --bogus");
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.text, "ovra-host: --bogus is not an option of apply\nTry 'ovra-host help apply'.\n");
}

}  // namespace
