// The subcommands of the quorin tool and what they share: the parsed command line, loading the
// story named on it, ids written in hexadecimal or decimal.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/quorin/Story.h"

namespace QuorinTool {

struct SCommandLine {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> values;  // options that take a value, each use in order
  std::set<std::string> flags;

  bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
  const std::vector<std::string>& All(const std::string& option) const;
  // The last value of the option, or `absent`.
  std::string Value(const std::string& option, const std::string& absent = {}) const;
};

// Starts the library and imports `path`; false with the failure reported and its exit code set.
bool LoadStory(const std::string& path, int& exitCode);
// "0x1F" (hexadecimal) or "31" (decimal); false for anything else.
bool ParseId(const std::string& text, uint32_t& id);
// Prints "quorin COMMAND: message" on standard error; gives kExitUsage.
int UsageError(const char* command, const std::string& message);
// True when standard error is a terminal (progress bars go there).
bool ErrorIsTerminal();

int RunPlay(const SCommandLine& line);
int RunGraph(const SCommandLine& line);
int RunEval(const SCommandLine& line);
int RunCheck(const SCommandLine& line);
int RunInfo(const SCommandLine& line);
int RunConvert(const SCommandLine& line);
int RunValidate(const SCommandLine& line);

}  // namespace QuorinTool
