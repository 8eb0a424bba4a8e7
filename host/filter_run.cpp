#include "host/filter_run.h"

namespace standin {

std::string DescribeResult(int16_t result, const std::string& errorString) {
  std::string text = "result " + std::to_string(result) + ": ";
  switch (result) {
    case errReportString:
      return text + (errorString.empty() ? "(no message)" : errorString);
    case memFullErr:
      return text + "out of memory";
    case userCanceledErr:
      return text + "cancelled";
    case errPlugInHostInsufficient:
      return text + "the host lacks a service the filter needs";
    default:
      return text + "filter error";
  }
}

RunResult RunFilter(Host& host, const Module& module, const std::string& entry, const RunOptions& options) {
  RunResult run;
  host.ClearErrorString();
  auto call = [&](int32_t selector) {
    const int16_t r = host.Call(module, entry, selector);
    run.calls.push_back({selector, r});
    if (r != noErr && run.result == noErr) {
      run.result = r;
      run.message = DescribeResult(r, host.ErrorString());
    }
    return r;
  };
  if (options.scriptedSettings) {
    host.SetScriptingSettings(*options.scriptedSettings,
                              options.showDialog ? plugInDialogDisplay : plugInDialogDontDisplay);
  } else {
    host.SetPlayInfo(options.showDialog ? plugInDialogDisplay : plugInDialogDontDisplay);
  }
  bool ok = true;
  if (options.showDialog) ok = call(filterSelectorParameters) == noErr;
  if (ok) ok = call(filterSelectorPrepare) == noErr;
  if (ok && call(filterSelectorStart) == noErr) {
    const FilterRecord& r = host.Record();
    for (int i = 0; i < 1000; ++i) {
      const bool work = r.inRect.bottom > r.inRect.top || r.outRect.bottom > r.outRect.top;
      if (!work || call(filterSelectorContinue) != noErr) break;
    }
  }
  call(filterSelectorFinish);
  return run;
}

bool ReportedSettings(Host& host, const Module& module, const std::string& entry, std::vector<uint8_t>& block,
                      std::string& error) {
  host.ClearErrorString();
  // A new invocation: the module builds its settings from its own values.
  if (host.Record().parameters != nullptr) host.DisposeHandle(host.Record().parameters);
  host.Record().parameters = nullptr;
  const int16_t r = host.Call(module, entry, filterSelectorParameters);
  if (r != noErr) {
    error = DescribeResult(r, host.ErrorString());
    return false;
  }
  const auto bytes = host.ParametersBytes();
  if (!bytes) {
    error = "the filter left no settings";
    return false;
  }
  block = *bytes;
  return true;
}

}  // namespace standin
