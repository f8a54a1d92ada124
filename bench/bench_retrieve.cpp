// Retrieve over a synthetic native-format cache of 100,000 entries: enumerate, filter,
// fill and sort the list. Prints the time, the time per entry, the peak memory, and the
// time msiecfexport takes on the same index in the same run.
#include "cache/scan/list_columns.h"
#include "cache/scan/url_cache.h"
#include "index_builder.h"
#include "platform/base/collation.h"
#include "platform/urlcache/urlcache.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct AllTicked final : cache::FileTypeSwitches {
    int value(cache::FileType) const override { return 1; }
};

long peakKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

} // namespace

int main(int argc, char** argv) {
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
    const auto folder = std::filesystem::temp_directory_path() / "tamberlin-bench-retrieve";
    std::filesystem::create_directories(folder);
    const std::string index = (folder / "index.dat").string();

    {
        testdata::IndexBuilder b;
        const char* exts[] = {"jpg", "png", "gif", "htm", "js", "css", "mp4", "ico"};
        for (int i = 0; i < entries; ++i) {
            testdata::Record r;
            const std::string ext = exts[i % 8];
            r.url = "http://img" + std::to_string(i % 97) + ".example.com/p/" + std::to_string(i) +
                    "." + ext;
            r.fileName = std::to_string(i) + "[1]." + ext;
            r.directory = static_cast<std::uint8_t>(i % 4);
            r.sizeLow = static_cast<std::uint32_t>(1000 + i);
            b.add(r);
        }
        testdata::WriteFile(index, b.build());
    } // the builder's memory is given back before measuring
    std::printf("index: %s, %d entries, %.1f MB\n", index.c_str(), entries,
                static_cast<double>(std::filesystem::file_size(index)) / 1e6);

    platform::SetUrlCacheLocator([&] { return platform::UrlCacheSource{index, folder.string()}; });
    cache::FoundFileList list;
    list.setSortKeyFunction(platform::CollationKey);
    list.setSorted(true);
    list.setSortKey(cache::kFileNameColumn);
    AllTicked boxes;
    const long before = peakKb();
    const auto t0 = std::chrono::steady_clock::now();
    cache::getIECache(list, boxes);
    const auto t1 = std::chrono::steady_clock::now();
    const auto first = list.rowAt(1); // the display order is settled here
    const auto t2 = std::chrono::steady_clock::now();
    const double ours = seconds(t0, t2);
    std::printf("rows listed: %zu (first: %s)\n", list.count(), list.row(first).fileName.c_str());
    std::printf("retrieve: %.3f s (scan %.3f s, sort %.3f s), %.2f us per entry\n", ours,
                seconds(t0, t1), seconds(t1, t2), ours * 1e6 / entries);
    std::printf("peak memory: %.1f MB (%.1f MB before the scan)\n",
                static_cast<double>(peakKb()) / 1024.0, static_cast<double>(before) / 1024.0);

    std::fflush(stdout);
    const auto m0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execlp("msiecfexport", "msiecfexport", index.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const auto m1 = std::chrono::steady_clock::now();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
        std::printf("msiecfexport: not installed\n");
    } else {
        const double theirs = seconds(m0, m1);
        std::printf("msiecfexport: %.3f s (exit %d); ours / theirs = %.2f\n", theirs,
                    WIFEXITED(status) ? WEXITSTATUS(status) : -1, ours / theirs);
    }
    if (!std::getenv("TAMBERLIN_BENCH_KEEP"))
        std::filesystem::remove_all(folder);
    return 0;
}
