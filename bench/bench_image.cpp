// Listing from a disk image against listing the same tree copied out: the real caches of
// tests/data (Firefox, Chromium's Simple Cache, SQL cache and blockfile, GNOME Web) copied
// into N homes (default 20), the tree written into an ext4 image with mke2fs, and Retrieve
// timed over the homes as folders and over the image (best of five, warm). Then the same
// file system as the one partition of a 100 GB sparse GPT disk: only what the listing needs
// of it is read. Prints the times, their ratio and the peak memory.
#include "cache/scan/retrieve.h"
#include "image_builder.h"
#include "test_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct AllBoxes final : cache::FileTypeSwitches {
    int value(cache::FileType) const override { return 1; }
};

// Best of `rounds`: seconds and rows.
std::pair<double, std::size_t> Time(const std::vector<std::string>& folders, int rounds) {
    double best = 1e9;
    std::size_t rows = 0;
    for (int i = 0; i < rounds; ++i) {
        cache::FoundFileList list;
        const auto start = Clock::now();
        cache::RetrieveAll(list, AllBoxes{}, {folders});
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
        rows = list.count();
    }
    return {best, rows};
}

double PeakMb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    const int copies = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const fs::path caches = fs::path(testing_support::FixturesFolder()) / "browser-caches";
    if (!fs::exists(caches)) {
        std::fprintf(stderr, "the test caches (tests/data) are missing\n");
        return 1;
    }
    testing_support::ScratchFolder scratch;
    const fs::path tree = scratch.path() / "tree";
    std::vector<std::string> homes;
    for (int k = 0; k < copies; ++k)
        for (const char* kind :
             {"firefox", "chromium", "chromium-sql", "webkit", "chromium-blockfile"}) {
            const fs::path home = tree / "home" / (std::string(kind) + "-" + std::to_string(k));
            testing_support::CopyTree(caches / kind / "home", home);
            homes.push_back(home.string());
        }
    const fs::path ext4 = scratch.path() / "home.ext4";
    if (const std::string error = testing_support::MakeFileSystem("ext4", tree, ext4);
        !error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    // A 100 GB disk, sparse, with that file system as its one partition.
    const fs::path disk = scratch.path() / "disk.raw";
    std::string error = testing_support::MakePartitionedDisk("gpt", {ext4}, disk);
    std::error_code ec;
    fs::resize_file(disk, 100ull << 30, ec);
    if (!error.empty() || ec) {
        std::fprintf(stderr, "the sparse disk: %s%s\n", error.c_str(), ec.message().c_str());
        return 1;
    }

    const auto [treeSeconds, treeRows] = Time(homes, 5);
    const auto [imageSeconds, imageRows] = Time({ext4.string()}, 5);
    const auto [diskSeconds, diskRows] = Time({disk.string()}, 3);
    std::printf("%d homes, %zu rows copied out, %zu from the image, %zu from the 100 GB disk\n",
                static_cast<int>(homes.size()), treeRows, imageRows, diskRows);
    std::printf("tree copied out      %.3f s\n", treeSeconds);
    std::printf("ext4 image           %.3f s   %.2fx the tree (target 1.5x)\n", imageSeconds,
                imageSeconds / treeSeconds);
    std::printf("100 GB sparse disk   %.3f s   (target under 2 s)\n", diskSeconds);
    std::printf("peak memory          %.0f MB\n", PeakMb());
    return treeRows == imageRows && imageRows == diskRows ? 0 : 1;
}
