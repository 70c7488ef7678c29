// quorin: checks, converts, inspects and plays story files with the QuorinCAPI library, which it
// loads at run time as a game does and uses only through its exports.
// Exit codes: 0 success, 1 the content has faults, 2 usage or file errors.
#include <cstdio>
#include <cstring>
#include <sstream>

#include "tools/quorin/Commands.h"

namespace QuorinTool {

namespace {

struct SCommand {
  const char* name;
  const char* usage;         // the --help text
  const char* valueOptions;  // options that take a value, each followed by a space
  const char* flagOptions;
  size_t leastPositional, mostPositional;
  int (*run)(const SCommandLine&);
};

constexpr SCommand kCommands[] = {
    {"info",
     "Usage: quorin info FILE\n"
     "  Loads an interchange file and prints what it holds: counts per section, classes and\n"
     "  templates with their members (names where recorded), texts by encoding, size and load time.\n",
     "", "", 1, 1, &RunInfo},
    {"convert",
     "Usage: quorin convert IN OUT [--format xml|binary] [--byte-order little|big] [--block-size N]\n"
     "  Reads IN (either form) and writes OUT in the form its extension names (.xml: XML, any\n"
     "  other: binary) or --format gives. --byte-order sets how ids are written (default little),\n"
     "  --block-size the binary form's block size in bytes (default 8192). On a terminal a progress\n"
     "  bar shows on standard error; the time taken is printed at the end.\n",
     "--format --byte-order --block-size ", "", 2, 2, &RunConvert},
    {"validate",
     "Usage: quorin validate FILE\n"
     "  Imports FILE and reports the outcome: where a malformed file stopped (line and byte) and\n"
     "  how many elements were skipped. Exit 1 when the file is malformed.\n",
     "", "", 1, 1, &RunValidate},
    {"check",
     "Usage: quorin check FILE [--function NAME]...\n"
     "  Checks every condition and outcome script of the story without running it, with the\n"
     "  standard functions bound and each --function NAME (for example Game.Score) declared as a\n"
     "  host function. Faults are printed as `FILE: text ID, position N: message`, grouped by the\n"
     "  node they leave from. Exit 1 when any script has a fault.\n",
     "--function ", "", 1, 1, &RunCheck},
    {"eval",
     "Usage: quorin eval FILE [--] EXPRESSION\n"
     "  Loads FILE, evaluates the Sprig EXPRESSION against its variables and objects and prints the\n"
     "  value with its kind, or the error with its position. Exit 1 on a script error.\n",
     "", "", 2, 2, &RunEval},
    {"play",
     "Usage: quorin play FILE [--start ID] [--auto] [--choose 2,1,3]\n"
     "  Walks the story: speakers, lines and the choices whose conditions hold. Type the number of\n"
     "  a choice (anything else is asked again; the end of input leaves the story).\n"
     "  --start ID     the node to begin at (default: the first child of the first flow fragment)\n"
     "  --auto         take the first choice every time\n"
     "  --choose LIST  take these choices, by number, at the first branches; then read the input\n",
     "--start --choose ", "--auto ", 1, 1, &RunPlay},
    {"graph",
     "Usage: quorin graph FILE [--from ID]\n"
     "  Prints the story's flow as a Graphviz graph (render it with `dot -Tsvg`): lines labelled by\n"
     "  speaker and first words, hubs and jumps shaped apart, conditions and outcomes on the\n"
     "  edges. --from ID keeps only what can be reached from that node.\n",
     "--from ", "", 1, 1, &RunGraph},
};

constexpr const char* kUsage =
    "Usage: quorin COMMAND [ARGUMENTS]   (quorin COMMAND --help for each; quorin --version)\n"
    "  info FILE                    what a story file holds\n"
    "  convert IN OUT               XML <-> binary form\n"
    "  validate FILE                report where a file is malformed\n"
    "  check FILE                   check every condition and outcome script\n"
    "  eval FILE EXPRESSION         evaluate a Sprig expression against the story\n"
    "  play FILE                    play the story in the terminal\n"
    "  graph FILE                   the story's flow as a Graphviz graph\n"
    "Exit codes: 0 success, 1 the content has faults, 2 usage or file errors.\n";

bool Listed(const char* list, const std::string& option) {
  return std::strstr(list, (option + " ").c_str()) != nullptr;
}

// Splits the arguments after the command name; false (reported) on an unknown option.
bool ParseArguments(const SCommand& command, int argc, char** argv, SCommandLine& line) {
  bool optionsEnded = false;  // after "--" every argument is positional (an expression "--x")
  for (int i = 2; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--" && !optionsEnded) {
      optionsEnded = true;
    } else if (optionsEnded || argument.size() < 2 || argument[0] != '-' || argument[1] != '-') {
      line.positional.push_back(argument);
    } else if (Listed(command.flagOptions, argument) || argument == "--help") {
      line.flags.insert(argument);
    } else if (Listed(command.valueOptions, argument) && i + 1 < argc) {
      line.values[argument].push_back(argv[++i]);
    } else {
      UsageError(command.name, Listed(command.valueOptions, argument) ? argument + " needs a value"
                                                                      : "unknown option " + argument);
      return false;
    }
  }
  return true;
}

int RunCommand(const SCommand& command, int argc, char** argv) {
  SCommandLine line;
  if (!ParseArguments(command, argc, argv, line)) {
    std::fputs(command.usage, stderr);
    return kExitUsage;
  }
  if (line.Has("--help")) {
    std::fputs(command.usage, stdout);
    return kExitOk;
  }
  if (line.positional.size() < command.leastPositional || line.positional.size() > command.mostPositional) {
    std::fputs(command.usage, stderr);
    return kExitUsage;
  }
  return LoadLibraryExports() ? command.run(line) : kExitUsage;
}

}  // namespace

const std::vector<std::string>& SCommandLine::All(const std::string& option) const {
  static const std::vector<std::string> none;
  const auto found = values.find(option);
  return found == values.end() ? none : found->second;
}

std::string SCommandLine::Value(const std::string& option, const std::string& absent) const {
  const std::vector<std::string>& all = All(option);
  return all.empty() ? absent : all.back();
}

bool LoadStory(const std::string& path, int& exitCode) {
  if (!StartLibrary(true)) {
    exitCode = kExitUsage;
    return false;
  }
  const SLoad load = ImportFile(path);
  if (!load.ok) {
    exitCode = ReportLoadFailure(path, load);
    g_lib.TlxShutdown();
  }
  return load.ok;
}

bool ParseId(const std::string& text, uint32_t& id) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (text.empty() || text.size() > 10) return false;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
  if (*end != '\0' || end == text.c_str() + (hex ? 2 : 0) || value > 0xFFFFFFFFull || text[0] == '-') return false;
  id = static_cast<uint32_t>(value);
  return true;
}

int UsageError(const char* command, const std::string& message) {
  std::fprintf(stderr, "quorin %s: %s\n", command, message.c_str());
  return kExitUsage;
}

}  // namespace QuorinTool

int main(int argc, char** argv) {
  using namespace QuorinTool;
  const std::string name = argc > 1 ? argv[1] : "";
  for (const SCommand& command : kCommands) {
    if (name == command.name) return RunCommand(command, argc, argv);
  }
  if (name == "--help" || name == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (name == "--version") {
    if (!LoadLibraryExports()) return kExitUsage;
    std::printf("quorin, with %s\n", g_lib.TlxGetVersionString != nullptr ? g_lib.TlxGetVersionString() : "an older QuorinCAPI");
    return kExitOk;
  }
  if (!name.empty()) std::fprintf(stderr, "quorin: unknown command '%s'\n", name.c_str());
  std::fputs(kUsage, stderr);
  return kExitUsage;
}
