// The whole `tamberlin --list` process on caches real browsers wrote (bench/real_caches.py
// makes them) against the floor: a small process that reads only what a listing must read.
// The floor walks the same home and reads each index, block file and SQL shard whole and
// every other file of a cache folder (an entry file, an f_ file) by its first 64 bytes and
// last 4 KiB. Best of several rounds, the two taking turns; warm on every core, warm on one
// core (taskset -c 0 alike), and cold (the page cache dropped before each run) where this
// user may drop it.
//
// Usage: tamberlin_bench_real OUT [ROUNDS]     (OUT as bench/real_caches.py make OUT left it)
//        tamberlin_bench_real --floor HOME     (the floor itself, one run)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// ---- the floor

constexpr std::size_t kHead = 64, kTail = 4096;

// Files a listing reads whole: indexes, block files, SQL shards.
bool ReadWhole(const std::string& name) {
    return name == "index" || name == "the-real-index" || name.starts_with("data_") ||
           (name.starts_with("sqldb") && name.find('-') == std::string::npos);
}

std::size_t ReadFile(int dirFd, const char* name, bool whole, std::vector<char>& buffer) {
    const int fd = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return 0;
    std::size_t read = 0;
    if (whole) {
        for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
            read += static_cast<std::size_t>(n);
    } else {
        struct stat st {};
        ::fstat(fd, &st);
        const auto size = static_cast<std::size_t>(st.st_size);
        if (size <= kHead + kTail) {
            read +=
                static_cast<std::size_t>(std::max<ssize_t>(0, ::pread(fd, buffer.data(), size, 0)));
        } else {
            read += static_cast<std::size_t>(
                std::max<ssize_t>(0, ::pread(fd, buffer.data(), kHead, 0)));
            read += static_cast<std::size_t>(std::max<ssize_t>(
                0, ::pread(fd, buffer.data(), kTail, static_cast<off_t>(size - kTail))));
        }
    }
    ::close(fd);
    return read;
}

// Walks `folder`; inside a cache folder, reads its files as a listing must.
std::size_t Floor(int parentFd, const char* name, bool inCache, std::vector<char>& buffer) {
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return 0;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return 0;
    }
    std::size_t read = 0;
    while (const dirent* e = ::readdir(dir)) {
        const std::string child = e->d_name;
        if (child == "." || child == "..")
            continue;
        if (e->d_type == DT_DIR) {
            const bool cache = inCache || child == "Cache_Data" || child == "cache2";
            read += Floor(fd, e->d_name, cache, buffer);
        } else if (e->d_type == DT_REG && inCache) {
            read += ReadFile(fd, e->d_name, ReadWhole(child), buffer);
        }
    }
    ::closedir(dir);
    return read;
}

// ---- the timing

struct Run {
    std::vector<std::string> args;
    bool oneCore = false;
};

double TimeOnce(const Run& run) {
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (run.oneCore) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(0, &one);
            ::sched_setaffinity(0, sizeof one, &one);
        }
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> argv;
        for (const std::string& a : run.args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 1)) {
        std::fprintf(stderr, "%s failed (status %d)\n", run.args[0].c_str(), status);
        std::exit(1);
    }
    return seconds;
}

bool DropPageCache() {
    ::sync();
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    drop.flush();
    return static_cast<bool>(drop);
}

// Best of `rounds` for each, the two taking turns.
std::pair<double, double> Best(const Run& a, const Run& b, int rounds, bool cold) {
    double bestA = 1e9, bestB = 1e9;
    for (int i = 0; i < rounds; ++i) {
        if (cold)
            DropPageCache();
        bestA = std::min(bestA, TimeOnce(a));
        if (cold)
            DropPageCache();
        bestB = std::min(bestB, TimeOnce(b));
    }
    return {bestA, bestB};
}

// A program beside this one.
std::string Beside(const std::string& name) {
    return (fs::canonical("/proc/self/exe").parent_path() / name).string();
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--floor") == 0) {
        std::vector<char> buffer(1u << 20);
        return Floor(AT_FDCWD, argv[2], false, buffer) > 0 ? 0 : 1;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT [ROUNDS]   (OUT from bench/real_caches.py make)\n",
                     argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::string tamberlin = Beside("tamberlin");
    const std::string self = fs::canonical("/proc/self/exe").string();
    const bool canDrop = DropPageCache();
    std::printf("%-20s %-10s %10s %10s %7s\n", "cache", "how", "tamberlin", "floor", "ratio");
    std::vector<fs::path> homes;
    for (const auto& e : fs::directory_iterator(fs::path(argv[1]) / "caches"))
        homes.push_back(e.path());
    std::sort(homes.begin(), homes.end());
    for (const fs::path& home : homes) {
        for (const auto& [how, oneCore, cold] :
             {std::tuple{"warm", false, false}, std::tuple{"one core", true, false},
              std::tuple{"cold", false, true}}) {
            if (cold && !canDrop)
                continue;
            const Run list{{tamberlin, "--list", home.string()}, oneCore};
            const Run floor{{self, "--floor", home.string()}, oneCore};
            TimeOnce(list); // warm both up
            TimeOnce(floor);
            const auto [listed, floored] = Best(list, floor, rounds, cold);
            std::printf("%-20s %-10s %8.1f ms %8.1f ms %6.2fx\n", home.filename().c_str(), how,
                        listed * 1e3, floored * 1e3, listed / floored);
        }
    }
    if (!canDrop)
        std::printf("(cold runs left out: this user may not drop the page cache)\n");
    return 0;
}
