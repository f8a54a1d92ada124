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

// Readies the heap of a short-lived process that will keep thousands of small blocks, as a
// listing does (some hundreds of bytes per row): the heap grows ahead by some megabytes in
// one step, and the kernel is asked to back that part with huge pages, as it does for memory
// so advised (transparent huge pages, "madvise" mode). Each fresh 4 KiB page otherwise costs
// a page fault of about 2 µs, and a listing of 3,000 rows took some 1,300 of them. Blocks up
// to 32 MiB then come from the heap too, not from mappings of their own, which the C library
// gives back at each release. Where the kernel or the C library does not oblige, nothing
// changes. Call it first thing in main(), before any thread is started.
void GrowHeapInHugePages();

// Replaces this process with the program `name` that sits in the same folder as the running
// one, or else in `otherFolder` (when not empty), passing `arguments`. Returns only on
// failure, with the reason.
std::string ReplaceWithProgramBeside(const std::string& name,
                                     const std::vector<std::string>& arguments,
                                     const std::string& otherFolder = {});

} // namespace platform
