// What looking for caches by their content costs Retrieve: FindUserCaches over a home whose
// per-user data places hold 200,000 files in 20,000 folders (apps below ~/.config and
// ~/.cache, Flatpak and snap apps, Thunderbird's profiles) and a few caches, against the same
// caches in a home holding nothing else. Prints the warm times (best and median of several
// runs), their difference, and what the walk listed.
#include "cache/browser/browser.h"
#include "cache/browser/walk.h"
#include "cache_builder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace browser_test;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kApps = 200;          // 100 folders each: 20,000
constexpr int kFilesPerFolder = 10; // 200,000 files
constexpr int kRuns = 7;

void Touch(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        ::close(fd);
}

// One app's data: its folder, 9 below it and 10 below each of those, 10 files in each.
void MakeApp(const fs::path& app) {
    std::vector<fs::path> folders{app};
    for (int a = 0; a < 9; ++a) {
        folders.push_back(app / ("d" + std::to_string(a)));
        for (int b = 0; b < 10; ++b)
            folders.push_back(folders[1 + static_cast<std::size_t>(a) * 11] /
                              ("e" + std::to_string(b)));
    }
    for (const fs::path& f : folders) {
        fs::create_directories(f);
        for (int i = 0; i < kFilesPerFolder; ++i)
            Touch((f / ("file" + std::to_string(i) + ".json")).string());
    }
}

// Where app n keeps its data: spread over the places a real home has.
fs::path AppFolder(const fs::path& home, int n) {
    const std::string name = "app" + std::to_string(n);
    switch (n % 5) {
    case 0:
    case 1:
        return home / ".config" / name;
    case 2:
        return home / ".cache" / name;
    case 3:
        return home / ".var/app" / ("org.example." + name) / (n % 2 ? "config" : "data") / name;
    default:
        return n % 2 ? home / "snap" / name / "common/.config" / name
                     : home / ".thunderbird" / ("ab12cd34." + name) / "ImapMail";
    }
}

void MakeCaches(const fs::path& home) {
    for (const char* at :
         {".config/discord/Cache/Cache_Data", ".cache/google-chrome/Default/Cache/Cache_Data",
          ".var/app/com.slack.Slack/config/Slack/Partitions/t1/Cache/Cache_Data"}) {
        WriteFile(home / at / "index", std::string("\x30\x5c\x72\xa7\x1b\x6d\xfb\xfc", 8));
        WriteFile(home / at / "index-dir/the-real-index", std::string(64, '\0'));
    }
    MakeFirefoxCache(home / ".cache/thunderbird/ab12cd34.default-release/cache2");
}

struct Timing {
    double best = 0, median = 0;
    std::size_t caches = 0;
};

Timing Time(const fs::path& home) {
    const browser::Environment env{home.string(), "", ""};
    browser::FindUserCaches(env); // warm the kernel's caches
    std::vector<double> runs;
    Timing t;
    for (int i = 0; i < kRuns; ++i) {
        const auto a = Clock::now();
        t.caches = browser::FindUserCaches(env).size();
        runs.push_back(std::chrono::duration<double>(Clock::now() - a).count());
    }
    std::sort(runs.begin(), runs.end());
    t.best = runs.front();
    t.median = runs[runs.size() / 2];
    return t;
}

} // namespace

// With a folder named, the homes are built there once and kept for the next run.
int main(int argc, char** argv) {
    TempDir temp;
    const fs::path dir = argc > 1 ? fs::path(argv[1]) : temp.path();
    const fs::path big = dir / "big", small = dir / "small";
    if (!fs::exists(big / ".config")) {
        std::printf("building a home of %d files in %d folders...\n", kApps * 100 * kFilesPerFolder,
                    kApps * 100);
        std::fflush(stdout);
        for (int n = 0; n < kApps; ++n)
            MakeApp(AppFolder(big, n));
        MakeCaches(big);
        MakeCaches(small);
    }

    const auto places = browser::LinuxDataPlaces(big.string(), (big / ".cache").string(),
                                                 (big / ".config").string());
    browser::WalkStats stats;
    browser::WalkForCaches(places, browser::kWalkDepth, &stats);

    const Timing b = Time(big), s = Time(small);
    std::printf("walk (depth %d): %zu folders listed, %zu unreadable\n", browser::kWalkDepth,
                stats.folders, stats.unreadable);
    std::printf("FindUserCaches, big home:   best %.3f s, median %.3f s (%zu caches)\n", b.best,
                b.median, b.caches);
    std::printf("FindUserCaches, caches only: best %.3f s, median %.3f s (%zu caches)\n", s.best,
                s.median, s.caches);
    std::printf("added to Retrieve by the big home: %.3f s (median), target at most 0.3 s\n",
                b.median - s.median);
    return 0;
}
