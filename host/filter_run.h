// A whole filter invocation as a careful host makes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/module_loader.h"
#include "host/standin_host.h"

namespace standin {

struct RunOptions {
  // Show the settings dialog: the parameters selector first, and play
  // information asking for the dialog.
  bool showDialog = false;
  // Settings handed over as a recorded action would (text under 'parM');
  // records whose kind is 0 are left to the module's own settings.
  std::optional<std::vector<uint8_t>> scriptedSettings;
};

struct RunResult {
  int16_t result = 0;
  std::string message;  // the error string when the result asks for it
  std::vector<std::pair<int32_t, int16_t>> calls;  // (selector, result) in order
};

// parameters (with the dialog), prepare, start, continue while the module
// leaves work, and always finish. The run's result is the first non-zero one.
RunResult RunFilter(Host& host, const Module& module, const std::string& entry, const RunOptions& options);

// The effect's settings block as its parameters selector reports it.
bool ReportedSettings(Host& host, const Module& module, const std::string& entry, std::vector<uint8_t>& block,
                      std::string& error);

// "result CODE: message" text for a failed call.
std::string DescribeResult(int16_t result, const std::string& errorString);

}  // namespace standin
