// `tamberlin`: the command line, and the door to the window. The window program is a
// separate executable beside this one, so that listing and saving from a script never load
// the window libraries and run where there is no display.
#include "cache/scan/found_file_list.h"
#include "cli/command_line.h"
#include "platform/base/escape.h"
#include "platform/base/files.h"
#include "platform/base/process.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const cli::CommandLine command = cli::ParseCommandLine(arguments);
    if (cli::WantsCommandLine(command)) {
        // A listing keeps some hundreds of bytes per row, for thousands of rows.
        platform::GrowHeapInHugePages();
        // Ctrl-C or a kill in the middle of --save leaves no temporary file behind.
        platform::RemoveTemporaryFilesOnSignal();
        // A failed step's report, like every other message, reaches the terminal escaped.
        cli::TerminalErrorReporter reporter(std::cerr);
        app::setErrorReporter(&reporter);
        // Nothing here writes through C's stdio: the listing, thousands of lines, goes
        // through the stream's own buffer.
        std::ios::sync_with_stdio(false);
        // The rows, thousands of small blocks, are left for the exit to give back at once.
        static auto* const rows = new cache::FoundFileList;
        return cli::RunCommandLine(
            command, {std::cout, std::cerr, platform::StandardErrorIsTerminal()}, rows);
    }
    const std::string error =
        platform::ReplaceWithProgramBeside("tamberlin-window", arguments, TAMBERLIN_WINDOW_FOLDER);
    std::cerr << "tamberlin: cannot start the window: " << platform::TsvField(error) << "\n";
    return cli::kExitUsage;
}
