// The entry points, selector dispatch and result codes, through the stand-in
// host and the test module.
#include <cmath>
#include <cstring>

#include "tests/plugin/frame_fixture.h"

using namespace standin;
using namespace frametest;

namespace {

Document Small() {
  Document d = Document::Make(4, 3, 8);
  for (std::size_t i = 0; i < d.samples.size(); ++i) d.samples[i] = static_cast<uint16_t>(i * 7 % 256);
  return d;
}

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    probe().dialogAccepts = 1;
    probe().dialogSetsAmount = NAN;
    host.SetDocument(Small());
  }
  Module& module = SharedModule();
  OvraTestProbe& probe() { return Probe(module); }
  Host host;
};

TEST_F(Dispatch, SelectorsWithoutWorkReturnZeroAndChangeNothing) {
  const int32_t about = probe().aboutCalls;
  const int32_t init = InitCountOf(module);
  // About on anything but Black and White shows nothing and is not counted.
  for (const char* entry : {"BleachBypass", "FastBlur", "Defocus", "SoftEffects"}) {
    EXPECT_EQ(host.CallAbout(module, entry), 0) << entry;
  }
  EXPECT_EQ(probe().aboutCalls, about);
  EXPECT_EQ(InitCountOf(module), init);
  EXPECT_EQ(host.CallAbout(module, "BlackAndWhite"), 0);
  EXPECT_EQ(probe().aboutCalls, about + 1);
  EXPECT_EQ(InitCountOf(module), init);

  for (int32_t selector : {4, 6, 7, 255, -1, -32768}) {
    EXPECT_EQ(host.Call(module, "BleachBypass", selector), 0) << selector;
  }
  EXPECT_EQ(host.LiveHandles(), 0);  // nothing was restored or made
}

TEST_F(Dispatch, EntryPointsWithoutAnEffectReportSo) {
  for (const char* entry : {"Defocus", "DualTint", "SelectiveFocus", "CombinedGrad", "Mist"}) {
    for (int32_t selector : {1, 2, 3, 4, 5}) {
      host.ClearErrorString();
      EXPECT_EQ(host.Call(module, entry, selector), errReportString) << entry << " " << selector;
      EXPECT_EQ(host.ErrorString().rfind("no such effect: ", 0), 0u) << host.ErrorString();
    }
  }
  EXPECT_EQ(host.LiveHandles(), 0);
}

struct FailureCase {
  const char* failure;  // the list index of the test effect's "failure" parameter
  int16_t result;
  const char* message;  // null: the error string is left alone
};

TEST_F(Dispatch, FailuresBecomeResultCodes) {
  const FailureCase cases[] = {
      {"1", errReportString, "x"},                    // a standard exception
      {"2", -4242, nullptr},                          // a 16-bit protocol code
      {"3", errPlugInHostInsufficient, nullptr},      // a 32-bit service code
      {"4", errReportString, "Unknown Error"},        // anything else
      {"7", errReportString, "bad allocation"},       // the memory handler's failure
  };
  std::vector<uint8_t> block;
  std::string error;
  ASSERT_TRUE(ReportedSettings(host, module, "Fog", block, error)) << error;
  for (const FailureCase& c : cases) {
    Set(block, "failure", c.failure);
    host.SetScriptingSettings(block, plugInDialogDontDisplay);
    std::memcpy(host.Record().errorString, "\x03old", 4);
    EXPECT_EQ(host.Call(module, "Fog", filterSelectorStart), c.result) << c.failure;
    EXPECT_EQ(host.ErrorString(), c.message ? c.message : "old") << c.failure;
    // Whatever failed, the host is left with no further area.
    EXPECT_EQ(host.Record().inRect.bottom, 0) << c.failure;
    EXPECT_EQ(host.LockedHandles(), 0) << c.failure;
  }
}

TEST_F(Dispatch, LongMessagesAreCutTo255Characters) {
  std::vector<uint8_t> block;
  std::string error;
  ASSERT_TRUE(ReportedSettings(host, module, "Fog", block, error)) << error;
  Set(block, "failure", "5");
  host.SetScriptingSettings(block, plugInDialogDontDisplay);
  EXPECT_EQ(host.Call(module, "Fog", filterSelectorStart), errReportString);
  EXPECT_EQ(host.ErrorStringLength(), 255);
  EXPECT_EQ(host.ErrorString(), std::string(255, 'm'));
}

TEST_F(Dispatch, HandlesThatCannotBeMadeGiveOutOfMemory) {
  for (int32_t allowed : {0, 1}) {
    Host starved;
    starved.SetDocument(Small());
    starved.Options().handlesBeforeFailure = allowed;  // 0: no settings handle, 1: no call-state block
    EXPECT_EQ(starved.Call(module, "BleachBypass", filterSelectorParameters), memFullErr) << allowed;
    EXPECT_EQ(starved.CallStateBytes().has_value(), false) << allowed;
  }
}

TEST_F(Dispatch, TheDialogShowsAfterParametersAndOnlyOnce) {
  const int32_t before = probe().dialogCalls;
  ASSERT_EQ(host.Call(module, "BleachBypass", filterSelectorParameters), 0);
  ASSERT_TRUE(host.CallStateBytes());
  EXPECT_EQ((*host.CallStateBytes())[0], 1);
  EXPECT_EQ(host.CallStateBytes()->size(), 16u);
  ASSERT_EQ(host.Call(module, "BleachBypass", filterSelectorStart), 0);
  EXPECT_EQ(probe().dialogCalls, before + 1);
  EXPECT_EQ((*host.CallStateBytes())[0], 0);
  ASSERT_EQ(host.Call(module, "BleachBypass", filterSelectorStart), 0);  // a repeat renders silently
  EXPECT_EQ(probe().dialogCalls, before + 1);
  ASSERT_EQ(host.Call(module, "BleachBypass", filterSelectorParameters), 0);
  ASSERT_EQ(host.Call(module, "BleachBypass", filterSelectorStart), 0);
  EXPECT_EQ(probe().dialogCalls, before + 2);
}

TEST_F(Dispatch, TheFirstStartAfterLoadShowsTheDialogUnlessReplayedSilently) {
  struct Case {
    const char* what;
    bool noDescriptorParameters;
    bool descriptor;
    int16_t playInfo;
    bool shown;
  };
  const Case cases[] = {
      {"no descriptor parameters", true, false, plugInDialogDisplay, true},
      {"no descriptor", false, false, plugInDialogDontDisplay, true},
      {"replay asking for the dialog", false, true, plugInDialogDisplay, true},
      {"silent replay", false, true, plugInDialogDontDisplay, false},
      {"replay of a silent step", false, true, plugInDialogSilent, false},
  };
  for (const Case& c : cases) {
    Host h;
    h.SetDocument(Small());
    h.Options().noDescriptorParameters = c.noDescriptorParameters;
    std::vector<uint8_t> block;
    std::string error;
    ASSERT_TRUE(ReportedSettings(h, module, "BleachBypass", block, error));
    h.DataWord() = 0;  // a new invocation: no call-state block yet
    if (c.descriptor) {
      h.SetScriptingSettings(block, c.playInfo);
    } else {
      h.SetPlayInfo(c.playInfo);
    }
    const int32_t before = probe().dialogCalls;
    ASSERT_EQ(h.Call(module, "BleachBypass", filterSelectorStart), 0) << c.what;
    EXPECT_EQ(probe().dialogCalls - before, c.shown ? 1 : 0) << c.what;
    // The descriptor is consumed: disposed of and cleared.
    if (c.descriptor) {
      EXPECT_FALSE(h.ScriptingSettings()) << c.what;
    }
  }
}

TEST_F(Dispatch, CancellingTheDialogRendersNothingAndKeepsTheSettings) {
  const Document before = host.Doc();
  ASSERT_EQ(host.Call(module, "BleachBypass", filterSelectorParameters), 0);
  const std::vector<uint8_t> settings = *host.ParametersBytes();
  probe().dialogAccepts = 0;
  probe().dialogSetsAmount = 42;
  host.Record().inRect = {1, 2, 3, 4};
  host.Record().outRect = {1, 2, 3, 4};
  host.Record().maskRect = {1, 2, 3, 4};
  EXPECT_EQ(host.Call(module, "BleachBypass", filterSelectorStart), userCanceledErr);
  EXPECT_EQ(*host.ParametersBytes(), settings);
  EXPECT_EQ(host.Doc(), before);
  for (const VRect& r : {host.Record().inRect, host.Record().outRect, host.Record().maskRect}) {
    EXPECT_EQ(r.top | r.left | r.bottom | r.right, 0);
  }
  // The next call restores from the handle: the cancelled edit is gone.
  probe().dialogAccepts = 1;
  probe().dialogSetsAmount = NAN;
  ASSERT_EQ(host.Call(module, "BleachBypass", filterSelectorStart), 0);
  EXPECT_EQ(Get(*host.ParametersBytes(), "amount"), "100");
}

TEST_F(Dispatch, AcceptedDialogEditsAreRenderedAndKept) {
  ASSERT_EQ(host.Call(module, "BleachBypass", filterSelectorParameters), 0);
  probe().dialogSetsAmount = 42;
  ASSERT_EQ(host.Call(module, "BleachBypass", filterSelectorStart), 0);
  EXPECT_EQ(Get(*host.ParametersBytes(), "amount"), "42");
}

TEST_F(Dispatch, ACarefulHostRunLeavesNoHandleLockedOrLeaked) {
  RunOptions run;
  run.showDialog = true;
  const RunResult r = RunFilter(host, module, "BleachBypass", run);
  EXPECT_EQ(r.result, 0) << r.message;
  ASSERT_EQ(r.calls.size(), 4u);
  EXPECT_EQ(r.calls.back().first, filterSelectorFinish);
  EXPECT_EQ(host.LockedHandles(), 0);
  // What stays: the parameters handle, the call-state block, the scripting descriptor.
  EXPECT_EQ(host.LiveHandles(), 3);
}

TEST_F(Dispatch, FinishIsCalledEvenAfterAFailure) {
  std::vector<uint8_t> block;
  std::string error;
  ASSERT_TRUE(ReportedSettings(host, module, "Fog", block, error));
  Set(block, "failure", "1");
  RunOptions run;
  run.scriptedSettings = block;
  const RunResult r = RunFilter(host, module, "Fog", run);
  EXPECT_EQ(r.result, errReportString);
  EXPECT_EQ(r.message, "result -30904: x");
  EXPECT_EQ(r.calls.back().first, filterSelectorFinish);
}

TEST(PluginPath, FilledOnceFromThePlugInsService) {
  auto module = FreshModule("path_once");
  HostOptions options;
  options.pluginsSuiteAnswer = "/hosts/told/ovra.so";
  Host host(options);
  EXPECT_STREQ(PluginPathOf(*module), "");
  EXPECT_EQ(InitCountOf(*module), 0);
  ASSERT_EQ(host.Call(*module, "BleachBypass", filterSelectorParameters), 0);
  EXPECT_STREQ(PluginPathOf(*module), "/hosts/told/ovra.so");
  host.Options().pluginsSuiteAnswer = "/somewhere/else.so";
  ASSERT_EQ(host.Call(*module, "BleachBypass", filterSelectorPrepare), 0);
  EXPECT_STREQ(PluginPathOf(*module), "/hosts/told/ovra.so");
  EXPECT_EQ(InitCountOf(*module), 2);
}

TEST(PluginPath, FallsBackToTheModulesOwnFile) {
  struct Case {
    const char* what;
    void (*set)(HostOptions&);
  };
  const Case cases[] = {
      {"no basic suite", [](HostOptions& o) { o.noBasicSuite = true; }},
      {"no plug-ins service", [](HostOptions& o) { o.missingSuites.insert(kSPPluginsSuite); }},
      {"the service cannot tell", [](HostOptions& o) { o.noPluginsSuiteAnswer = true; }},
  };
  int n = 0;
  for (const Case& c : cases) {
    auto module = FreshModule("path_fallback_" + std::to_string(n++));
    HostOptions options;
    options.pluginsSuiteAnswer = "/not/this.so";
    c.set(options);
    Host host(options);
    ASSERT_EQ(host.Call(*module, "BleachBypass", filterSelectorParameters), 0) << c.what;
    EXPECT_EQ(std::string(PluginPathOf(*module)), std::filesystem::canonical(module->Path()).string()) << c.what;
  }
}

}  // namespace
