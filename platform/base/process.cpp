#include "platform/base/process.h"
#include "platform/base/paths.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <malloc.h>
#include <memory>
#include <sched.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace platform {

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

std::string ReplaceWithProgramBeside(const std::string& name,
                                     const std::vector<std::string>& arguments,
                                     const std::string& otherFolder) {
    // The running program's own file, not argv[0]: the window program is installed beside
    // it, wherever the user's PATH found it.
    std::string self(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size());
    if (n <= 0)
        return std::string("cannot find the program's own folder (") + std::strerror(errno) + ")";
    self.resize(static_cast<std::size_t>(n));
    const auto slash = self.rfind(kPathSeparator);
    const std::string program =
        (slash == std::string::npos ? std::string() : self.substr(0, slash + 1)) + name;

    std::vector<std::string> args;
    args.reserve(arguments.size() + 1);
    args.push_back(program);
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    const int besideError = errno;
    std::string error = program + ": " + std::strerror(besideError);
    // An installed window program lives in a folder of its own, out of the user's PATH.
    if (besideError == ENOENT && !otherFolder.empty()) {
        const std::string other = otherFolder + kPathSeparator + name;
        args[0] = other;
        argv[0] = args[0].data();
        ::execv(other.c_str(), argv.data());
        error += "; " + other + ": " + std::strerror(errno);
    }
    return error;
}

unsigned UsableCores() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
        return static_cast<unsigned>(CPU_COUNT(&allowed));
    return std::max(1u, std::thread::hardware_concurrency()); // (more than 1,024 cores)
}

void GrowHeapInHugePages() {
    constexpr std::size_t kAhead = std::size_t{8} << 20, kHugePage = std::size_t{2} << 20;
    constexpr int kLargestFromHeap = 32 << 20; // glibc's own ceiling for that threshold
    // (Setting the pad freezes the threshold for mappings of their own at its default, which
    // glibc otherwise raises to the size of the first large block given back.)
    if (::mallopt(M_TOP_PAD, static_cast<int>(kAhead)) == 0 ||
        ::mallopt(M_MMAP_THRESHOLD, kLargestFromHeap) == 0)
        return;
    // Blocks below the threshold until the heap grows: by their size and the pad, at once.
    constexpr std::size_t kBlock = std::size_t{64} << 10, kMostBlocks = 64;
    const auto heapEnd = [] { return reinterpret_cast<std::uintptr_t>(::sbrk(0)); };
    const std::uintptr_t before = heapEnd();
    {
        // (Not zeroed: a block's pages are not touched, only its header.)
        std::array<std::unique_ptr<char[]>, kMostBlocks> blocks;
        for (std::size_t n = 0; n < blocks.size() && heapEnd() == before; ++n)
            blocks[n].reset(new char[kBlock]);
    } // all given back: the heap keeps its new end, the pad
    // Only whole huge pages that no block has touched yet: the new part, less its first one.
    const std::uintptr_t from = (before + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t to = heapEnd() & ~(kHugePage - 1);
    if (from < to)
        ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

} // namespace platform
