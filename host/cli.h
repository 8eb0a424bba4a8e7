// Pieces the commands of ovra-host share: the argument parser, the help
// texts, loading the module, naming a filter, the settings a command line
// gives, and files written whole or not at all.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/module_loader.h"
#include "host/parameter_table.h"
#include "host/standin_host.h"

namespace standin::cli {

inline constexpr int kUsageError = 2;

struct Args {
  std::string command;
  std::vector<std::string> positional;
  std::multimap<std::string, std::string> options;
  bool Has(const std::string& o) const { return options.count(o) > 0; }
  std::string Get(const std::string& o, const std::string& fallback = "") const {
    auto it = options.find(o);
    return it == options.end() ? fallback : it->second;
  }
};

// Parses the arguments after the command; options the command does not take
// are errors. "-" alone is a positional argument (standard input or output).
bool ParseArgs(const std::string& command, int argc, char** argv, int from, Args& out, std::string& error);

// The help of one command (its options and an example), or the overview.
std::string HelpText(const std::string& command);
bool IsCommand(const std::string& command);

// "ovra-host: MESSAGE" and a pointer to the command's help; exit status 2.
int Usage(const std::string& command, const std::string& message);

std::unique_ptr<Module> LoadModule(const Args& args);
std::string DefaultModulePath();

// The entry point named on the command line; empty after printing the error
// (with the nearest names) when there is none.
std::string ResolveEntry(const Module& module, const std::string& name);

// The settings of --preset and --set over the block the module reports: the
// block handed to the effect, which of its records carry a value the user
// gave (directly, or filled by the effect from a choice the user made), and
// the effect's parameters. Returns 0, or the exit status after printing why.
struct Settings {
  EffectParams params;
  std::vector<uint8_t> block;
  std::vector<bool> given;
};
int GatherSettings(Host& host, const Module& module, const std::string& entry, const Args& args, Settings& out);
// The same from a preset path (empty: none) and KEY=VALUE texts, for hosts
// without a command line: 0, or the status GatherSettings would exit with
// and the message it would print (kUsageError: the value the user gave).
int BuildSettings(Host& host, const Module& module, const std::string& entry, const std::string& presetPath,
                  const std::vector<std::string>& sets, Settings& out, std::string& message);

// Writes a file whole: to a temporary file in the same folder, then renamed
// into place. `write` fills the temporary path. An interrupted run removes
// the temporary file (see InstallInterruptCleanup).
bool WriteWhole(const std::string& path, const std::function<bool(const std::string& temp, std::string& error)>& write,
                std::string& error);
void InstallInterruptCleanup();
// A temporary file of our own for the interrupt handler to remove; the slot
// (or -1 when all are taken) is given back with Untrack once it is gone.
int TrackTemp(const std::string& path);
void UntrackTemp(int slot);

// Whether a file can be created at path: its folder exists, is a folder and
// is writable, and path is not a folder. Empty when it can, else the reason.
std::string CheckWritable(const std::string& path);

}  // namespace standin::cli
