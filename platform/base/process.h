// Starting the window program from the command-line program, what the latter needs to know
// about its terminal, and the cores this process may run on.
#pragma once

#include <string>
#include <vector>

namespace platform {

// True when standard error is a terminal (progress is shown only there).
bool StandardErrorIsTerminal();

// The cores this process may run on, at least 1: fewer than the machine has when it is bound
// to some (taskset, a container's cpuset), where more threads than that only take turns.
unsigned UsableCores();

// Replaces this process with the program `name` that sits in the same folder as the running
// one, or else in `otherFolder` (when not empty), passing `arguments`. Returns only on
// failure, with the reason.
std::string ReplaceWithProgramBeside(const std::string& name,
                                     const std::vector<std::string>& arguments,
                                     const std::string& otherFolder = {});

} // namespace platform
