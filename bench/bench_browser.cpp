// ScanCacheFolder over synthetic caches of 20,000 entries each (mostly pictures, some encoded
// bodies, some scripts and pages) in every format: Firefox, Chromium's Simple Cache, blockfile
// and SQL cache, and WebKit's NetworkCache, each against its plain I/O floor: for the file
// caches a pass that opens every entry file and reads its metadata region and its first 64
// bytes; for blockfile, the index and the block files read whole and the first 64 bytes of
// each f_ file; for the SQL cache one pass over each shard reading every row's key and head;
// for WebKit each record's first 4 KiB and each blob's first 64 bytes. Prints both times,
// their ratio, and the peak memory; the scan uses every core (one share each), and is timed on
// one as well. Then it scans a cache of few but large bodies (identity and highly compressed)
// to show that memory does not follow body sizes. Two more modes time work that could grow
// faster than the cache: many entries of one URL (duplicate detection), and one sparse file of
// very many tiny ranges (memory). `--repeat` only scans, over and over, for a profiler.
#include "blockfile_builder.h"
#include "cache/browser/browser.h"
#include "cache/browser/entry.h"
#include "cache_builder.h"
#include "sql_builder.h"
#include "webkit_builder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace browser_test;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double PeakMb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

// Runs `write` in a child process, so that building the bodies leaves no mark on the peak
// memory of this one.
template <typename F> void InChild(F write) {
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        write();
        std::_Exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "writing the caches failed\n");
        std::exit(1);
    }
}

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// A body of about `size` bytes for entry i: mostly pictures, every 16th an encoded picture,
// every 8th a script (half of them encoded).
struct Body {
    std::string bytes, head, path;
};

Body MakeBody(int i, std::size_t size) {
    Body b;
    const std::string n = std::to_string(i);
    if (i % 8 == 3) {
        b.bytes = "var x" + n + " = 1;" + std::string(size, ' ');
        b.head = "Content-Type: application/javascript";
        b.path = "/js/app" + n + ".js";
        if (i % 16 == 11) { // as servers send most scripts
            b.bytes = Gzip(b.bytes);
            b.head += "\r\nContent-Encoding: gzip";
        }
    } else if (i % 16 == 5) {
        std::string bmp("BM\0\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0", 18);
        bmp.resize(size * 4, '\x10');
        b.bytes = Gzip(bmp);
        b.head = "Content-Type: image/bmp\r\nContent-Encoding: gzip";
        b.path = "/bmp/" + n + ".bmp";
    } else if (i % 2 == 0) {
        b.bytes = Jpeg(size, static_cast<char>(i));
        b.head = "Content-Type: image/jpeg";
        b.path = "/photos/" + n + ".jpg";
    } else {
        b.bytes = Png(size, static_cast<char>(i));
        b.head = "Content-Type: image/png";
        b.path = "/img?id=" + n;
    }
    return b;
}

std::size_t SizeOf(int i) {
    return 2000 + static_cast<std::size_t>((i * 7919) % 30000);
}

void WriteFirefox(const fs::path& cache2, int count, std::size_t (*size)(int)) {
    MakeFirefoxCache(cache2);
    for (int i = 0; i < count; ++i) {
        const Body b = MakeBody(i, size(i));
        FirefoxEntry e;
        e.key = "O^partitionKey=%28https%2Csite" + std::to_string(i % 50) +
                ".example%29,:https://cdn.example.com" + b.path;
        e.body = b.bytes;
        std::string head = b.head;
        for (std::size_t at; (at = head.find("\r\n")) != std::string::npos;)
            head.replace(at, 2, "\n");
        e.responseHead = "HTTP/1.1 200 OK\r\n";
        for (std::size_t from = 0; from <= head.size();) {
            const std::size_t nl = std::min(head.find('\n', from), head.size());
            e.responseHead += head.substr(from, nl - from) + "\r\n";
            from = nl + 1;
        }
        e.responseHead += "Date: Tue, 08 Dec 2026 10:00:00 GMT\r\nCache-Control: max-age=3600\r\n";
        e.elements = {{"request-method", "GET"}, {"net-response-time-onstart", "12"}};
        PutFirefox(cache2, FirefoxName(static_cast<unsigned>(i) * 2654435761u),
                   BuildFirefoxEntry(e));
    }
}

void WriteChromium(const fs::path& folder, int count, std::size_t (*size)(int)) {
    fs::create_directories(folder);
    WriteFile(folder / "index", std::string(24, '\0'));
    for (int i = 0; i < count; ++i) {
        const Body b = MakeBody(i, size(i));
        ChromiumEntry e;
        e.key = "1/0/_dk_https://site" + std::to_string(i % 50) + ".example https://site" +
                std::to_string(i % 50) + ".example https://cdn.example.com" + b.path;
        e.body = b.bytes;
        e.headers.clear();
        std::string head = b.head;
        for (std::size_t from = 0; from <= head.size();) {
            const std::size_t nl = std::min(head.find("\r\n", from), head.size());
            e.headers.push_back(head.substr(from, nl - from));
            from = nl + 2;
        }
        e.headers.emplace_back("Date: Tue, 08 Dec 2026 10:00:00 GMT");
        WriteFile(folder / (ChromiumName(static_cast<unsigned>(i) * 2654435761u) + "_0"),
                  BuildChromiumEntry(e));
    }
}

constexpr unsigned kSqlShards = 3;

void WriteSql(const fs::path& folder, int count, std::size_t (*size)(int)) {
    WriteSqlIndex(folder, "Truncate", kSqlShards);
    for (unsigned shard = 0; shard < kSqlShards; ++shard) {
        std::vector<SqlResource> resources;
        for (int i = static_cast<int>(shard); i < count; i += static_cast<int>(kSqlShards)) {
            const Body b = MakeBody(i, size(i));
            SqlResource r = SqlBody("https://cdn.example.com" + b.path, b.bytes);
            r.entry.key = "1/0/_dk_https://site" + std::to_string(i % 50) +
                          ".example https://site" + std::to_string(i % 50) +
                          ".example https://cdn.example.com" + b.path;
            r.entry.headers.clear();
            std::string head = b.head;
            for (std::size_t from = 0; from <= head.size();) {
                const std::size_t nl = std::min(head.find("\r\n", from), head.size());
                r.entry.headers.push_back(head.substr(from, nl - from));
                from = nl + 2;
            }
            r.entry.headers.emplace_back("Date: Tue, 08 Dec 2026 10:00:00 GMT");
            resources.push_back(std::move(r));
        }
        WriteSqlShard(folder / ("sqldb" + std::to_string(shard)), resources);
    }
}

// The SQL floor: one pass over each shard, on the same kind of connection the reader uses,
// reading every row's key and head; with `firstBytes`, also the first 64 bytes of each body
// (the least a reader that sniffs the type must read besides).
std::size_t SqlFloor(const fs::path& folder, bool firstBytes = false) {
    std::size_t bytes = 0;
    for (unsigned shard = 0; shard < kSqlShards; ++shard) {
        const std::string uri =
            "file:" + (folder / ("sqldb" + std::to_string(shard))).string() + "?immutable=1";
        sqlite3* db = nullptr;
        sqlite3_stmt* s = nullptr;
        if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) ==
                SQLITE_OK &&
            sqlite3_prepare_v2(db,
                               "SELECT r.cache_key, r.head, b.blob_id FROM resources r "
                               "LEFT JOIN blobs b ON b.res_id = r.res_id AND b.start = 0",
                               -1, &s, nullptr) == SQLITE_OK) {
            sqlite3_blob* blob = nullptr;
            char first[64];
            while (sqlite3_step(s) == SQLITE_ROW) {
                bytes += static_cast<std::size_t>(sqlite3_column_bytes(s, 0));
                bytes += static_cast<std::size_t>(sqlite3_column_bytes(s, 1));
                if (!firstBytes)
                    continue;
                const sqlite3_int64 id = sqlite3_column_int64(s, 2);
                const int rc = blob ? sqlite3_blob_reopen(blob, id)
                                    : sqlite3_blob_open(db, "main", "blobs", "blob", id, 0, &blob);
                if (rc == SQLITE_OK && sqlite3_blob_read(blob, first, 64, 0) == SQLITE_OK)
                    bytes += 64;
            }
            sqlite3_blob_close(blob);
        }
        sqlite3_finalize(s);
        sqlite3_close(db);
    }
    return bytes;
}

void WriteBlockfile(const fs::path& folder, int count, std::size_t (*size)(int)) {
    BlockfileBuilder cache(65536);
    for (int i = 0; i < count; ++i) {
        const Body b = MakeBody(i, size(i));
        std::vector<std::string> headers;
        for (std::size_t from = 0; from <= b.head.size();) {
            const std::size_t nl = std::min(b.head.find("\r\n", from), b.head.size());
            headers.push_back(b.head.substr(from, nl - from));
            from = nl + 2;
        }
        headers.emplace_back("Date: Tue, 08 Dec 2026 10:00:00 GMT");
        const std::string site = "https://site" + std::to_string(i % 50) + ".example";
        std::string key = "1/0/_dk_";
        key += site;
        key += ' ';
        key += site;
        key += " https://cdn.example.com";
        key += b.path;
        cache.add({key, BuildResponseInfo("HTTP/1.1 200 OK", headers), b.bytes, {}});
    }
    cache.write(folder);
}

// The blockfile floor: the index and every block file read whole, then each f_ file opened,
// fstat'ed and its first 64 bytes read.
std::size_t BlockfileFloor(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    std::size_t bytes = 0;
    std::vector<char> buffer(std::size_t{1} << 20);
    for (const std::string& name : names) {
        const int fd =
            ::open((folder / name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        ::fstat(fd, &st);
        if (name.starts_with("f_")) {
            bytes +=
                static_cast<std::size_t>(std::max<ssize_t>(0, ::pread(fd, buffer.data(), 64, 0)));
        } else {
            for (ssize_t got; (got = ::read(fd, buffer.data(), buffer.size())) > 0;)
                bytes += static_cast<std::size_t>(got);
        }
        ::close(fd);
    }
    return bytes;
}

// The floor: list the folder, then per entry file open, fstat, read the metadata region at
// its end (the last 4 KiB, or the first 4 KiB as well for Chromium, whose header and key lead)
// and its first 64 bytes.
std::size_t Floor(const fs::path& folder, bool chromium) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    std::size_t bytes = 0;
    char buffer[4096];
    for (const std::string& name : names) {
        if (chromium && !name.ends_with("_0"))
            continue;
        const int fd =
            ::open((folder / name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        ::fstat(fd, &st);
        const off_t size = st.st_size;
        const off_t tail = std::min<off_t>(size, 4096);
        bytes += static_cast<std::size_t>(
            std::max<ssize_t>(0, ::pread(fd, buffer, static_cast<std::size_t>(tail), size - tail)));
        bytes += static_cast<std::size_t>(
            std::max<ssize_t>(0, ::pread(fd, buffer, chromium ? 4096 : 64, 0)));
        ::close(fd);
    }
    return bytes;
}

// WebKit keeps bodies decoded, inline up to 16 KiB, else in Blobs/: about a quarter of these
// bodies are blobs. The stored headers keep the coding the server sent.
std::size_t WebKitSize(int i) {
    return i % 4 == 0 ? 17000 + static_cast<std::size_t>((i * 7919) % 30000)
                      : 2000 + static_cast<std::size_t>((i * 7919) % 14000);
}

void WriteWebKit(const fs::path& folder, int count) {
    WebKitCacheWriter cache(folder);
    for (int i = 0; i < count; ++i) {
        const std::size_t size = WebKitSize(i);
        WebKitEntry e;
        const std::string n = std::to_string(i);
        if (i % 8 == 3) {
            e.url = "https://cdn.example.com/js/app" + n + ".js";
            e.body = "var x" + n + " = 1;" + std::string(size, ' ');
            e.headers = {{"Content-Type", "application/javascript"}, {"Content-Encoding", "gzip"}};
        } else if (i % 2 == 0) {
            e.url = "https://cdn.example.com/photos/" + n + ".jpg";
            e.body = Jpeg(size, static_cast<char>(i));
            e.headers = {{"Content-Type", "image/jpeg"}};
        } else {
            e.url = "https://cdn.example.com/img?id=" + n;
            e.body = Png(size, static_cast<char>(i));
            e.headers = {{"Content-Type", "image/png"}};
        }
        e.headers.emplace_back("Cache-Control", "max-age=3600");
        cache.add(e);
    }
}

// The WebKit floor: list the folders, open each record and read its first 4 KiB, open each
// blob and read its first 64 bytes.
std::size_t WebKitFloor(const fs::path& folder) {
    std::size_t bytes = 0;
    char buffer[4096];
    const auto read = [&](const fs::path& file, std::size_t n) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return;
        struct stat st {};
        ::fstat(fd, &st);
        bytes += static_cast<std::size_t>(std::max<ssize_t>(0, ::pread(fd, buffer, n, 0)));
        ::close(fd);
    };
    const fs::path version = folder / "Version 17";
    for (const auto& partition : fs::directory_iterator(version / "Records"))
        for (const auto& record : fs::directory_iterator(partition.path() / "Resource"))
            if (!record.path().filename().string().ends_with("-blob"))
                read(record.path(), sizeof buffer);
    for (const auto& blob : fs::directory_iterator(version / "Blobs"))
        read(blob.path(), 64);
    return bytes;
}

// Each time is the best of this many rounds: the floors take a few tens of milliseconds, and
// one busy moment of the machine would otherwise decide a ratio.
constexpr int kRounds = 5;

struct Timing {
    double scan = 1e9, floor = 1e9, decode = 1e9, oneCore = 1e9;
    std::size_t rows = 0, encoded = 0;
    std::uint64_t decodedBytes = 0;
    browser::ScanStats stats;
};

// Decoding the encoded bodies alone, as Save does (the scan learns most of their sizes without).
double DecodeEncoded(const std::vector<browser::BrowserFile>& rows, std::size_t& count,
                     std::uint64_t& bytes) {
    std::vector<char> buffer(std::size_t{64} * 1024);
    count = 0;
    bytes = 0;
    const auto a = Clock::now();
    for (const auto& row : rows) {
        if (row.body.encodings.empty())
            continue;
        ++count;
        auto stream = browser::OpenDecodedBody(row.body);
        for (std::ptrdiff_t got; (got = stream->read(buffer.data(), buffer.size())) > 0;)
            bytes += static_cast<std::uint64_t>(got);
    }
    return Seconds(a, Clock::now());
}

Timing Measure(const browser::CacheFolder& folder, const std::function<std::size_t()>& floor) {
    Timing t;
    for (int round = 0; round < kRounds; ++round) {
        auto a = Clock::now();
        const std::size_t bytes = floor();
        auto b = Clock::now();
        t.floor = std::min(t.floor, Seconds(a, b));
        a = Clock::now();
        const auto rows = browser::ScanCacheFolder(folder, &t.stats);
        b = Clock::now();
        t.scan = std::min(t.scan, Seconds(a, b));
        t.rows = rows.size();
        t.decode = std::min(t.decode, DecodeEncoded(rows, t.encoded, t.decodedBytes));
        // The same scan in one share, as on a machine of one core.
        browser::detail::SetScanShares(1);
        a = Clock::now();
        const auto single = browser::ScanCacheFolder(folder);
        t.oneCore = std::min(t.oneCore, Seconds(a, Clock::now()));
        browser::detail::SetScanShares(0);
        if (bytes == 0)
            std::printf("(the floor read nothing)\n");
    }
    return t;
}

void Report(const char* what, const Timing& t, int entries, double target = 1.5) {
    std::printf("%s: %d entries, %zu rows (%zu unreadable, %zu partial, %zu duplicates)\n", what,
                entries, t.rows, t.stats.unreadable, t.stats.partial, t.stats.duplicates);
    std::printf(
        "  scan %.3f s (%.1f us per entry), I/O floor %.3f s, ratio %.2f (target <= %.1f)\n",
        t.scan, t.scan * 1e6 / entries, t.floor, t.scan / t.floor, target);
    std::printf("  on one core (one share): scan %.3f s, ratio %.2f\n", t.oneCore,
                t.oneCore / t.floor);
    std::printf("  (not part of the scan: decoding the %zu encoded bodies in full, %.0f MB, as "
                "Save does, takes %.3f s)\n",
                t.encoded, static_cast<double>(t.decodedBytes) / 1e6, t.decode);
}

std::size_t LargeSize(int i) {
    return i % 16 == 5 ? (16u << 20) : (1u << 20);
}

// Entries of one URL, each with its own body of one size: every pair is a candidate duplicate.
int Duplicates(int count) {
    const fs::path cache2 = fs::temp_directory_path() / "tamberlin-bench-duplicates/cache2";
    fs::remove_all(cache2.parent_path());
    InChild([&] {
        MakeFirefoxCache(cache2);
        for (int i = 0; i < count; ++i) {
            FirefoxEntry e;
            e.key = "O^partitionKey=%28https%2Csite" + std::to_string(i) +
                    ".example%29,:https://cdn.example.com/same.png";
            std::string png = Png(600);
            png.replace(100, 12, std::to_string(1000000000000ll + i));
            e.body = png;
            PutFirefox(cache2, FirefoxName(static_cast<unsigned>(i) * 2654435761u),
                       BuildFirefoxEntry(e));
        }
    });
    browser::ScanStats stats;
    const auto a = Clock::now();
    const auto rows =
        browser::ScanCacheFolder({browser::CacheKind::Firefox, cache2.string()}, &stats);
    std::printf("%d entries of one URL, different bodies of one size: %zu rows, %zu duplicates, "
                "scan %.2f s\n",
                count, rows.size(), stats.duplicates, Seconds(a, Clock::now()));
    fs::remove_all(cache2.parent_path());
    return 0;
}

// One range response whose sparse file holds `count` one-byte ranges.
int Sparse(int count) {
    const fs::path folder = fs::temp_directory_path() / "tamberlin-bench-sparse/Cache_Data";
    fs::remove_all(folder.parent_path());
    InChild([&] {
        fs::create_directories(folder);
        const std::string total = std::to_string(count);
        ChromiumEntry e;
        e.key = "1/0/_dk_https://a.example https://a.example https://a.example/v.mp4";
        e.statusLine = "HTTP/1.1 206 Partial Content";
        e.headers = {"Content-Type: video/mp4",
                     "Content-Range: bytes 0-" + std::to_string(count - 1) + "/" + total};
        WriteFile(folder / (ChromiumName(1) + "_0"), BuildChromiumEntry(e));
        const std::string video("\0\0\0\x18"
                                "ftypisom",
                                12);
        std::vector<std::pair<std::uint64_t, std::string>> ranges;
        ranges.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            ranges.emplace_back(i,
                                std::string(1, i < 12 ? video[static_cast<std::size_t>(i)] : 'v'));
        WriteFile(folder / (ChromiumName(1) + "_s"), BuildChromiumSparse(e.key, ranges));
    });
    const double before = PeakMb();
    browser::ScanStats stats;
    const auto a = Clock::now();
    const auto rows =
        browser::ScanCacheFolder({browser::CacheKind::Chromium, folder.string()}, &stats);
    std::printf("a sparse file of %d one-byte ranges (%.0f MB): %zu rows, %zu unreadable, scan "
                "%.2f s; peak memory %.1f MB before, %.1f MB after\n",
                count, static_cast<double>(fs::file_size(folder / (ChromiumName(1) + "_s"))) / 1e6,
                rows.size(), stats.unreadable, Seconds(a, Clock::now()), before, PeakMb());
    fs::remove_all(folder.parent_path());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Usage: tamberlin_bench_browser --duplicates [entries] | --sparse [ranges]
    if (argc > 1 && std::string(argv[1]) == "--duplicates")
        return Duplicates(argc > 2 ? std::atoi(argv[2]) : 60000);
    if (argc > 1 && std::string(argv[1]) == "--sparse")
        return Sparse(argc > 2 ? std::atoi(argv[2]) : 1000000);
    // Usage: tamberlin_bench_browser --repeat KIND FOLDER [times [shares]]: only scans, for a
    // profiler
    if (argc > 3 && std::string(argv[1]) == "--repeat") {
        const std::string kind = argv[2];
        const browser::CacheKind k = kind == "firefox"     ? browser::CacheKind::Firefox
                                     : kind == "blockfile" ? browser::CacheKind::Blockfile
                                     : kind == "sql"       ? browser::CacheKind::Sql
                                     : kind == "webkit"    ? browser::CacheKind::WebKit
                                                           : browser::CacheKind::Chromium;
        const int times = argc > 4 ? std::atoi(argv[4]) : 20;
        if (argc > 5) // shares, as many as asked (one: as on a machine of one core)
            browser::detail::SetScanShares(static_cast<unsigned>(std::atoi(argv[5])));
        const auto cpu = [] {
            rusage u{};
            getrusage(RUSAGE_SELF, &u);
            const auto seconds = [](const timeval& t) {
                return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
            };
            return std::pair(seconds(u.ru_utime), seconds(u.ru_stime));
        };
        const auto [user0, system0] = cpu();
        double best = 1e9;
        std::size_t rows = 0;
        for (int i = 0; i < times; ++i) {
            const auto a = Clock::now();
            rows = browser::ScanCacheFolder({k, argv[3]}).size();
            best = std::min(best, Seconds(a, Clock::now()));
        }
        const auto [user1, system1] = cpu();
        std::printf("%zu rows, best %.4f s per scan; CPU per scan %.4f s user, %.4f s system\n",
                    rows, best, (user1 - user0) / times, (system1 - system0) / times);
        return 0;
    }
    // Usage: tamberlin_bench_browser [entries] [--keep [--no-large]]
    // (--keep: reuse and keep the caches; --no-large: only the two large caches' timings)
    const int entries = argc > 1 ? std::atoi(argv[1]) : 20000;
    const bool keep = argc > 2 && std::string(argv[2]) == "--keep";
    const bool large = !(argc > 3 && std::string(argv[3]) == "--no-large");
    const fs::path root =
        fs::temp_directory_path() / ("tamberlin-bench-browser-" + std::to_string(entries));
    const bool reuse = keep && fs::exists(root / "complete");
    if (!reuse)
        fs::remove_all(root);
    const fs::path ff = root / "firefox/cache2", cr = root / "chromium/Cache_Data",
                   sql = root / "chromium-sql/Cache_Data", bl = root / "blockfile/Cache_Data",
                   wk = root / "webkit/WebKitCache";
    const auto w0 = Clock::now();
    if (!reuse)
        InChild([&] {
            WriteFirefox(ff, entries, SizeOf);
            WriteChromium(cr, entries, SizeOf);
            WriteSql(sql, entries, SizeOf);
            WriteBlockfile(bl, entries, SizeOf);
            WriteWebKit(wk, entries);
        });
    std::printf("wrote five caches of %d entries in %.1f s under %s\n", entries,
                Seconds(w0, Clock::now()), root.c_str());

    const double before = PeakMb();
    const Timing f = Measure({browser::CacheKind::Firefox, ff.string()},
                             [&] { return Floor(ff / "entries", false); });
    Report("Firefox cache2", f, entries);
    const Timing c =
        Measure({browser::CacheKind::Chromium, cr.string()}, [&] { return Floor(cr, true); });
    Report("Chromium Simple Cache", c, entries);
    const Timing q =
        Measure({browser::CacheKind::Sql, sql.string()}, [&] { return SqlFloor(sql); });
    Report("Chromium SQL cache", q, entries);
    double sniffFloor = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        const auto a = Clock::now();
        SqlFloor(sql, true);
        sniffFloor = std::min(sniffFloor, Seconds(a, Clock::now()));
    }
    std::printf("  a floor that also reads the first 64 bytes of every body: %.3f s; "
                "scan ratio %.2f, on one core %.2f\n",
                sniffFloor, q.scan / sniffFloor, q.oneCore / sniffFloor);
    const Timing k =
        Measure({browser::CacheKind::Blockfile, bl.string()}, [&] { return BlockfileFloor(bl); });
    Report("Chromium blockfile", k, entries);
    const Timing w =
        Measure({browser::CacheKind::WebKit, wk.string()}, [&] { return WebKitFloor(wk); });
    Report("WebKit NetworkCache", w, entries);
    std::printf("peak memory: %.1f MB before the scans, %.1f MB after\n", before, PeakMb());

    if (!large)
        return 0;
    // Few but large bodies: 1 MiB pictures, and gzip bodies that decode to 64 MiB each.
    const fs::path big = root / "large/cache2";
    if (!reuse)
        InChild([&] { WriteFirefox(big, 160, LargeSize); });
    WriteFile(root / "complete", "");
    const double beforeLarge = PeakMb();
    browser::ScanStats stats;
    const auto a = Clock::now();
    const auto rows = browser::ScanCacheFolder({browser::CacheKind::Firefox, big.string()}, &stats);
    const double largeScan = Seconds(a, Clock::now());
    std::uint64_t decoded = 0;
    for (const auto& r : rows)
        decoded += r.size;
    std::printf("large bodies: %zu rows, %.0f MB decoded in %.2f s; peak memory %.1f MB before, "
                "%.1f MB after\n",
                rows.size(), static_cast<double>(decoded) / 1e6, largeScan, beforeLarge, PeakMb());
    if (!keep)
        fs::remove_all(root);
    return 0;
}
