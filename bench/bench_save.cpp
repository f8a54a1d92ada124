// Saving 2,000 cached files of mixed sizes (about 1.2 GB), compared in the same run with
// cp of the same files into another folder. Both run in several rounds; each round copies
// the files in ten batches, cp and the save taking turns at going first, so that whatever
// else the machine does weighs on both alike. Before each run everything written so far
// reaches the disk (sync) and the sources are read back in, so that neither pays for the
// other's dirty pages. Every round writes into folders of its own and nothing is deleted
// until the end: on ext4 creating files soon after many were deleted is much slower (the
// allocator steps over recently freed inodes), which would charge whichever run came after
// a deletion. The machine-wide page cache is left alone: other programs share it. Prints
// each round, the median ratio and its spread, processor times and memory.
#include "cache/scan/list_columns.h"
#include "platform/base/messages.h"
#include "save/save_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
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
    std::string messageTitle() const override { return {}; }
};

long peakKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Processor time (user and system) of this process or of its finished children.
double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

int run(const std::string& command) {
    return std::system(command.c_str());
}

// Lets the machine settle before a timed run: every earlier write reaches the disk and the
// sources are read back in, so each run starts from warm sources and a quiet disk.
void settle(const std::string& sources) {
    run("sync");
    run("cat" + sources + " > /dev/null");
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const int batches = std::min(files, 10);
    const fs::path root = fs::temp_directory_path() / "tamberlin-bench-save";
    fs::remove_all(root);
    fs::create_directories(root / "cache");

    std::mt19937 rng(42);
    // One list and one cp command line per batch of consecutive files.
    std::vector<cache::FoundFileList> lists(static_cast<std::size_t>(batches));
    std::vector<std::string> sources(static_cast<std::size_t>(batches));
    std::uint64_t total = 0;
    std::vector<char> chunk(1 << 20);
    for (auto& c : chunk)
        c = static_cast<char>(rng());
    for (int i = 0; i < files; ++i) {
        // Mostly small pictures, some large videos: about 600 KB on average.
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
        const auto batch = static_cast<std::size_t>(i * batches / files);
        auto& list = lists[batch];
        const auto r = list.append("http://example.com/" + std::to_string(i));
        list.setTick(r, true);
        list.setSubItem(r, cache::kFileNameColumn, p.filename().string());
        list.setSubItem(r, cache::kFilePathColumn, p.string());
        sources[batch] += " " + p.string();
    }
    std::printf("%d files, %.2f GB, %d rounds of %d batches\n", files,
                static_cast<double>(total) / 1e9, rounds, batches);

    Quiet dialogs;
    platform::setDialogs(&dialogs);
    Window w;

    const long before = peakKb();
    std::vector<double> ratios;
    std::vector<double> cpuRatios; // less disturbed by other programs on the machine
    for (int round = 0; round < rounds; ++round) {
        const fs::path cpFolder = root / ("cp" + std::to_string(round));
        const fs::path ourFolder = root / ("ours" + std::to_string(round));
        fs::create_directories(cpFolder);
        fs::create_directories(ourFolder);
        w.folder = ourFolder.string() + "/";
        double cpTime = 0, ourTime = 0, cpCpu = 0, ourCpu = 0;
        int failures = 0;
        bool allDone = true;
        // Batch by batch, the two take turns going first, so that what else the machine
        // does at the time weighs on both alike.
        for (int b = 0; b < batches; ++b) {
            const auto batch = static_cast<std::size_t>(b);
            auto timeCp = [&] {
                settle(sources[batch]);
                const double cpu = cpuSeconds(RUSAGE_CHILDREN);
                const auto t = std::chrono::steady_clock::now();
                failures += run("cp -f" + sources[batch] + " " + cpFolder.string() + "/") != 0;
                cpTime += seconds(t);
                cpCpu += cpuSeconds(RUSAGE_CHILDREN) - cpu;
            };
            auto timeSave = [&] {
                settle(sources[batch]);
                const double cpu = cpuSeconds(RUSAGE_SELF);
                const auto t = std::chrono::steady_clock::now();
                save::PushButton3_Click(lists[batch], w);
                ourTime += seconds(t);
                ourCpu += cpuSeconds(RUSAGE_SELF) - cpu;
                allDone = allDone && dialogs.last == "Done.";
            };
            if ((round + b) % 2 == 0) {
                timeCp();
                timeSave();
            } else {
                timeSave();
                timeCp();
            }
        }
        ratios.push_back(cpTime / ourTime);
        cpuRatios.push_back(cpCpu / ourCpu);
        std::printf("round %d: cp %.3f s (%.3f s processor%s), save %.3f s (%.3f s processor%s), "
                    "ratio %.2f\n",
                    round + 1, cpTime, cpCpu, failures ? ", FAILED" : "", ourTime, ourCpu,
                    allDone ? "" : ", NOT ALL SAVED", ratios.back());
    }
    const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
    std::printf("throughput of save relative to cp: median %.2f, spread %.2f to %.2f\n",
                median(ratios), *low, *high);
    std::printf("processor time of cp relative to save's: median %.2f\n", median(cpuRatios));
    std::printf("peak memory: %.1f MB before saving, %.1f MB after\n",
                static_cast<double>(before) / 1024.0, static_cast<double>(peakKb()) / 1024.0);
    fs::remove_all(root);
    run("sync");
    return 0;
}
