// Settings on their way through the host: the parameters handle, the
// descriptor registry and the scripting descriptor.
#include <cmath>

#include "tests/plugin/frame_fixture.h"

using namespace standin;
using namespace frametest;

namespace {

constexpr const char* kBleachKey = "ed5ed834-1b55-4406-b711-4429ef1eba81";
constexpr const char* kBlurKey = "EA88CF44-4DA0-488e-9CFD-B18DE4A94672";

class Transport : public ::testing::Test {
 protected:
  void SetUp() override {
    Probe(module).dialogAccepts = 1;
    Probe(module).dialogSetsAmount = NAN;
    host.SetDocument(Document::Make(3, 2, 8));
    std::string error;
    ASSERT_TRUE(ReportedSettings(host, module, "BleachBypass", defaults, error)) << error;
    // The module's instance outlives invocations; start every test from the
    // table's defaults.
    for (const char* key : {"saturation", "contrast", "temperature", "view"}) Set(defaults, key, "0");
    Set(defaults, "amount", "100");
  }
  // Brings the module's instance to amount 55 through a prepare call.
  void Known(Host& h) {
    h.Record().parameters = h.NewHandle(With("amount", "55"));
    ASSERT_EQ(h.Call(module, "BleachBypass", filterSelectorPrepare), 0);
    h.DisposeHandle(h.Record().parameters);
  }
  std::vector<uint8_t> With(const std::string& key, const std::string& value) {
    std::vector<uint8_t> b = defaults;
    Set(b, key, value);
    return b;
  }
  Module& module = SharedModule();
  Host host;
  std::vector<uint8_t> defaults;
};

TEST_F(Transport, TheParametersHandleHoldsTheSettingsBlock) {
  ASSERT_EQ(defaults.size(), 964u);
  SettingsView view;
  std::string error;
  ASSERT_TRUE(ParseSettings(defaults, view, error));
  EXPECT_EQ(view.version, 1);
  EXPECT_EQ(view.effectName, "Ovra Bleach Bypass");
  ASSERT_EQ(view.records.size(), 6u);
  EXPECT_EQ(view.records[2].key, "amount");
  EXPECT_EQ(view.records[1].key, "view");
  EXPECT_EQ(view.records[1].kind, 4);
}

TEST_F(Transport, FinishRecordsTheRegistryAndTheScriptingDescriptor) {
  host.Record().parameters = host.NewHandle(With("contrast", "-25"));
  host.DescriptorParams().recordInfo = plugInDialogRequired;
  ASSERT_EQ(host.Call(module, "BleachBypass", filterSelectorFinish), 0);
  ASSERT_TRUE(host.RegistrySettings(kBleachKey));
  EXPECT_EQ(Get(*host.RegistrySettings(kBleachKey), "contrast"), "-25");
  EXPECT_TRUE(host.IsPersistent(kBleachKey));
  ASSERT_TRUE(host.ScriptingSettings());
  EXPECT_EQ(*host.ScriptingSettings(), *host.RegistrySettings(kBleachKey));
  EXPECT_EQ(host.DescriptorParams().recordInfo, plugInDialogOptional);
  EXPECT_FALSE(host.RegistrySettings(kBlurKey));
}

TEST_F(Transport, StartAppliesHandleThenRegistryThenScripting) {
  struct Case {
    const char* what;
    std::optional<std::string> registry, scripting;
    std::string expected;
  };
  const Case cases[] = {
      {"handle alone", std::nullopt, std::nullopt, "10"},
      {"registry over handle", "20", std::nullopt, "20"},
      {"scripting over handle", std::nullopt, "30", "30"},
      {"scripting over registry", "20", "30", "30"},
  };
  for (const Case& c : cases) {
    Host h;
    h.SetDocument(Document::Make(3, 2, 8));
    h.Record().parameters = h.NewHandle(With("amount", "10"));
    if (c.registry) h.SetRegistrySettings(kBleachKey, With("amount", *c.registry));
    if (c.scripting) {
      h.SetScriptingSettings(With("amount", *c.scripting), plugInDialogDontDisplay);
    } else {
      h.SetPlayInfo(plugInDialogDontDisplay);
    }
    h.DataWord() = 0;
    ASSERT_EQ(h.Call(module, "BleachBypass", filterSelectorStart), 0) << c.what;
    EXPECT_EQ(Get(*h.ParametersBytes(), "amount"), c.expected) << c.what;
  }
}

TEST_F(Transport, SettingsThatDoNotBelongAreIgnored) {
  std::vector<uint8_t> blur;
  std::string error;
  ASSERT_TRUE(ReportedSettings(host, module, "FastBlur", blur, error));
  std::vector<uint8_t> version2 = With("amount", "30");
  version2[0] = 2;
  struct Case {
    const char* what;
    std::vector<uint8_t> handle;
    std::optional<std::vector<uint8_t>> registry, scripting;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"another effect in the handle", blur, std::nullopt, std::nullopt, "55"},
      {"another effect in the registry", With("amount", "10"), blur, std::nullopt, "10"},
      {"another effect in the script", With("amount", "10"), std::nullopt, blur, "10"},
      {"a version-2 script", With("amount", "10"), std::nullopt, version2, "10"},
      // The registry's own path does not look at the version.
      {"a version-2 registry entry", With("amount", "10"), version2, std::nullopt, "30"},
      {"a truncated script", With("amount", "10"), std::nullopt,
       std::vector<uint8_t>(version2.begin(), version2.begin() + 300), "10"},
  };
  for (const Case& c : cases) {
    Host h;
    h.SetDocument(Document::Make(3, 2, 8));
    Known(h);
    h.Record().parameters = h.NewHandle(c.handle);
    if (c.registry) h.SetRegistrySettings(kBleachKey, *c.registry);
    if (c.scripting) {
      h.SetScriptingSettings(*c.scripting, plugInDialogDontDisplay);
    } else {
      h.SetPlayInfo(plugInDialogDontDisplay);
    }
    h.DataWord() = 0;
    ASSERT_EQ(h.Call(module, "BleachBypass", filterSelectorStart), 0) << c.what;
    EXPECT_EQ(Get(*h.ParametersBytes(), "amount"), c.expected) << c.what;
  }
}

TEST_F(Transport, MissingServicesEndTheirStepSilently) {
  for (const char* suite : {kPSDescriptorRegistrySuite, kPSActionDescriptorSuite}) {
    Host h;
    h.SetDocument(Document::Make(3, 2, 8));
    h.Options().missingSuites.insert(suite);
    h.Record().parameters = h.NewHandle(With("amount", "10"));
    h.SetRegistrySettings(kBleachKey, With("amount", "20"));
    h.SetPlayInfo(plugInDialogDontDisplay);
    ASSERT_EQ(h.Call(module, "BleachBypass", filterSelectorStart), 0) << suite;
    EXPECT_EQ(Get(*h.ParametersBytes(), "amount"), "10") << suite;
    ASSERT_EQ(h.Call(module, "BleachBypass", filterSelectorFinish), 0) << suite;
    EXPECT_EQ(Get(*h.RegistrySettings(kBleachKey), "amount"), "20") << suite;  // not replaced
  }
  Host bare;
  bare.Options().noBasicSuite = true;
  bare.Options().noDescriptorParameters = true;
  bare.SetDocument(Document::Make(3, 2, 8));
  bare.Record().parameters = bare.NewHandle(With("amount", "10"));
  EXPECT_EQ(bare.Call(module, "BleachBypass", filterSelectorFinish), 0);
}

TEST_F(Transport, TheRegistryFileKeepsPersistentEntries) {
  const auto path = std::filesystem::temp_directory_path() / ("ovra_registry_" + std::to_string(getpid()));
  host.SetRegistrySettings(kBleachKey, With("temperature", "-12.5"));
  std::string error;
  ASSERT_TRUE(host.SaveRegistry(path.string(), error)) << error;
  Host later;
  ASSERT_TRUE(later.LoadRegistry(path.string(), error)) << error;
  EXPECT_EQ(Get(*later.RegistrySettings(kBleachKey), "temperature"), "-12.5");
  std::filesystem::remove(path);
}

}  // namespace
