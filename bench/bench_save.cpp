// Saving 2,000 cached files of mixed sizes (about 1 GB), compared in the same run with
// cp of the same files into another folder. Prints both times, the ratio and the memory.
#include "platform/messages.h"
#include "save/save_command.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Quiet final : platform::Dialogs {
    std::string last;
    void information(const std::string& text, const std::string&) override { last = text; }
    std::string pickFolder(const std::string&) override { return {}; }
};

struct Window final : save::SaveWindow {
    std::string folder;
    std::string destinationText() const override { return folder; }
    void setProgress(std::size_t, std::size_t) override {}
};

long peakKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 2000;
    const fs::path root = fs::temp_directory_path() / "tamberlin-bench-save";
    fs::remove_all(root);
    fs::create_directories(root / "cache");
    fs::create_directories(root / "ours");
    fs::create_directories(root / "cp");

    std::mt19937 rng(42);
    cache::FoundFileList list;
    std::uint64_t total = 0;
    std::vector<char> chunk(1 << 20);
    for (auto& c : chunk)
        c = static_cast<char>(rng());
    std::string cpCommand = "cp -f";
    for (int i = 0; i < files; ++i) {
        // Mostly small pictures, some large videos: about 500 KB on average.
        const std::size_t size =
            i % 50 == 0 ? (8u << 20) + rng() % (8u << 20) : 1024 + rng() % (700u << 10);
        const fs::path p = root / "cache" / ("file" + std::to_string(i) + ".jpg");
        std::ofstream out(p, std::ios::binary);
        for (std::size_t left = size; left > 0;) {
            const std::size_t n = std::min(left, chunk.size());
            out.write(chunk.data(), static_cast<std::streamsize>(n));
            left -= n;
        }
        total += size;
        const auto r = list.append("http://example.com/" + std::to_string(i));
        list.setTick(r, true);
        list.setSubItem(r, 1, p.filename().string());
        list.setSubItem(r, 3, p.string());
    }
    std::printf("%d files, %.2f GB\n", files, static_cast<double>(total) / 1e9);
    std::system(("sync; cat " + (root / "cache").string() + "/* > /dev/null").c_str());

    const auto c0 = std::chrono::steady_clock::now();
    const int rc = std::system(
        ("cp -f " + (root / "cache").string() + "/* " + (root / "cp").string() + "/").c_str());
    const auto c1 = std::chrono::steady_clock::now();

    Quiet dialogs;
    platform::setDialogs(&dialogs);
    Window w;
    w.folder = (root / "ours").string() + "/";
    const long before = peakKb();
    const auto s0 = std::chrono::steady_clock::now();
    save::PushButton3_Click(list, w);
    const auto s1 = std::chrono::steady_clock::now();

    const double cpTime = std::chrono::duration<double>(c1 - c0).count();
    const double ourTime = std::chrono::duration<double>(s1 - s0).count();
    std::printf("cp:   %.3f s, %.0f MB/s (exit %d)\n", cpTime,
                static_cast<double>(total) / 1e6 / cpTime, rc);
    std::printf("save: %.3f s, %.0f MB/s (closing message: %s)\n", ourTime,
                static_cast<double>(total) / 1e6 / ourTime, dialogs.last.c_str());
    std::printf("throughput of save relative to cp: %.2f\n", cpTime / ourTime);
    std::printf("peak memory: %.1f MB before saving, %.1f MB after\n",
                static_cast<double>(before) / 1024.0, static_cast<double>(peakKb()) / 1024.0);
    fs::remove_all(root);
    return 0;
}
