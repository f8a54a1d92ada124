// libFuzzer target: any bytes as the index of the user's cache, taken the whole way the
// program takes it. The enumeration calls probe each entry's size and fill it into the
// simulated memory, and the scan reads those records back into the found-file list. Nothing
// may crash, read outside a buffer or leak an enumeration handle, and every listed row must
// come from a local file inside the cache folder.
#include "app/guard/guard.h"
#include "cache/scan/found_file_list.h"
#include "cache/scan/url_cache.h"
#include "platform/urlcache/urlcache.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

struct AllTicked final : cache::FileTypeSwitches {
    int value(cache::FileType) const override { return 1; }
};

// A failure inside the scan is reported and the walk goes on; that is allowed, quietly.
struct QuietReporter final : app::ErrorReporter {
    void report(const std::string&, const std::string&, int) override {}
};

// Every input is written to a file: in memory where the system offers a folder there, as
// writing to a disk costs more than the scan.
std::filesystem::path ScratchParent() {
    const std::filesystem::path shm = "/dev/shm";
    if (std::filesystem::is_directory(shm) && ::access(shm.c_str(), W_OK) == 0)
        return shm;
    return std::filesystem::temp_directory_path();
}

struct Scratch {
    Scratch() {
        std::string pattern = (ScratchParent() / "tamberlin-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        folder = pattern;
        index = folder + "/index.dat";
        platform::SetUrlCacheLocator([this] { return platform::UrlCacheSource{index, folder}; });
        app::setErrorReporter(&reporter);
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    std::string folder;
    std::string index;
    QuietReporter reporter;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Scratch scratch;
    {
        std::ofstream out(scratch.index, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    cache::FoundFileList list;
    cache::getIECache(list, AllTicked{});
    if (platform::OpenUrlCacheEnumerations() != 0)
        std::abort();
    for (cache::RowId r = 0; r < list.count(); ++r) {
        const std::string& path = list.row(r).path;
        if (path.rfind(scratch.folder + "/", 0) != 0 || path.find("/../") != std::string::npos)
            std::abort();
    }
    return 0;
}
