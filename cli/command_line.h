// The command line: list and save without the window.
//
//   tamberlin --list [--json] [--types LIST] [FOLDER...]
//   tamberlin --save DIR [--types LIST] [FOLDER...]
//   tamberlin --help | --version
//   tamberlin [FOLDER...]            (the window, reading only those folders)
//
// Everything here runs over the core alone: no display, no window code.
#pragma once

#include "app/guard/guard.h"
#include "cli/row_selection.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace cache {
class FoundFileList;
}
namespace platform {
class SettingsBackend;
}

namespace cli {

enum class CommandMode { Window, List, Save, Help, Version };

struct CommandLine {
    CommandMode mode = CommandMode::Window;
    bool json = false;
    bool deleted = false;   // --deleted: also what disk images still hold of deleted entries
    std::string saveFolder; // --save DIR
    std::optional<std::vector<std::string>> types; // --types; nothing: the stored boxes
    std::vector<std::string> folders;              // nothing: the current user's caches
    RowOptions rows;   // --since --until --host --min-size --sort --unique --report --hash
    std::string error; // a usage error, for the user
};

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitSomeNotSaved = 1;
inline constexpr int kExitUsage = 2;

// The file-type names --types takes, in the order the window shows its boxes.
const std::vector<std::string>& CommandLineTypeNames();

CommandLine ParseCommandLine(const std::vector<std::string>& arguments);
// True when the arguments ask for the command line rather than the window.
bool WantsCommandLine(const CommandLine& command);

struct CommandStreams {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false; // progress is shown only on a terminal
};

// Runs --list, --save, --help or --version (or reports a usage error) and returns the exit
// status. Settings are read, never written.
// `rows`, when given (an empty list), is where the rows are kept, for the caller to let go
// of: a list of its own otherwise, gone on return.
int RunCommandLine(const CommandLine& command, CommandStreams streams,
                   cache::FoundFileList* rows = nullptr);
// The same with the stored file-type boxes read from `settings` (the other reads the
// user's settings file).
int RunCommandLine(const CommandLine& command, CommandStreams streams,
                   platform::SettingsBackend& settings, cache::FoundFileList* rows = nullptr);

std::string UsageText();
std::string VersionText();

// The error report of a failed guarded step, on standard error and escaped as every other
// text there; the program installs it at start-up.
class TerminalErrorReporter final : public app::ErrorReporter {
  public:
    explicit TerminalErrorReporter(std::ostream& err) : err_(err) {}
    void report(const std::string& description, const std::string& tag, int line) override;

  private:
    std::ostream& err_;
};

} // namespace cli
