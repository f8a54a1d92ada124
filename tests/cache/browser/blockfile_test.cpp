// Blockfile caches written by the builder: the shapes a real cache takes (long keys, extension
// files, sparse children, tables of any size) and hostile ones, each of which must cost at most
// the entry it damages.
#include "blockfile_builder.h"
#include "cache/browser/blockfile.h"
#include "cache/browser/browser.h"
#include "cache/browser/entry.h"
#include "cache/formats/blockfile_layout.h"
#include "cache_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

using namespace browser_test;
namespace bf = formats::blockfile;
namespace fs = std::filesystem;
using browser::detail::BlockfileProblem;

std::string Read(const browser::BodyLocation& body) {
    auto stream = browser::OpenDecodedBody(body);
    std::string out;
    char buffer[65536];
    for (std::ptrdiff_t got; (got = stream->read(buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(got));
    return out;
}

// Two ordinary pictures, one in blocks and one in an f_ file, beside the entry under test.
struct Cache {
    BlockfileBuilder b;
    std::uint32_t small = b.addPicture("http://example.com/small.png", Png(300));
    std::uint32_t large = b.addPicture("http://example.com/large.jpg", Jpeg(40000));
};

struct Outcome {
    std::unique_ptr<TempDir> dir = std::make_unique<TempDir>(); // the rows' bodies are there
    std::vector<browser::BrowserFile> rows;
    browser::ScanStats stats;
    std::vector<BlockfileProblem> problems;
};

Outcome Scan(const BlockfileBuilder& b) {
    Outcome o;
    const fs::path folder = o.dir->path() / "Cache_Data";
    b.write(folder);
    o.rows = browser::ScanCacheFolder({browser::CacheKind::Blockfile, folder.string()}, &o.stats);
    browser::detail::BlockfileFolder files(folder.string());
    for (const auto& w : browser::detail::ReadBlockfile(files).warnings)
        o.problems.push_back(w.problem);
    return o;
}

bool Has(const Outcome& o, BlockfileProblem p) {
    return std::find(o.problems.begin(), o.problems.end(), p) != o.problems.end();
}

TEST(Blockfile, LongKeysExtensionFilesAndSparseChildrenAreRead) {
    Cache c;
    const std::string longUrl = "http://example.com/" + std::string(1500, 'k') + ".png";
    c.b.add({BlockfileKey(longUrl), BuildResponseInfo("HTTP/1.1 200 OK", {}), Png(500), {}});
    BlockfileBuilder::Entry extended{BlockfileKey("http://example.com/ext.png"),
                                     BuildResponseInfo("HTTP/1.1 200 OK", {}),
                                     Png(700),
                                     {}};
    extended.bodyInExtension = true;
    c.b.add(extended);
    // 2 MiB and 100 bytes: two full children and a third ending 100 bytes into a KiB.
    std::string video(2 * 1024 * 1024 + 100, 'v');
    video.replace(0, 12,
                  std::string("\0\0\0\x1c"
                              "ftypisom",
                              12));
    for (std::size_t i = 12; i < video.size(); i += 4093)
        video[i] = static_cast<char>(i);
    c.b.addSparse("http://example.com/clip.mp4", video);
    const Outcome o = Scan(c.b);
    EXPECT_TRUE(o.problems.empty());
    ASSERT_EQ(o.rows.size(), 5u);
    EXPECT_EQ(o.stats.entries, 5u);
    for (const auto& row : o.rows) {
        if (row.url.ends_with("clip.mp4")) {
            EXPECT_EQ(row.size, video.size());
            EXPECT_TRUE(Read(row.body) == video);
            EXPECT_EQ(row.body.segments.size(), 3u);
        }
        if (row.url.ends_with("ext.png")) {
            EXPECT_TRUE(row.entryPath.ends_with("data_4")) << row.entryPath;
        }
        if (row.url.ends_with("large.jpg")) {
            EXPECT_TRUE(row.entryPath.ends_with("f_000001")) << row.entryPath;
        }
    }
}

TEST(Blockfile, AChildGivesNoByteBeyondItsMebibyte) {
    // Child 0 claims 500 bytes past its span (a last block 1024); child 1 holds the real ones.
    std::string video(bf::kChildSpan + 500, 'v');
    video.replace(0, 12,
                  std::string("\0\0\0\x1c"
                              "ftypisom",
                              12));
    Cache c;
    c.b.addSparse("http://example.com/v.mp4", video, 0x2fc0bb0cfd0d10, SIZE_MAX, 500);
    const Outcome o = Scan(c.b);
    for (const auto& row : o.rows)
        if (row.url.ends_with("v.mp4")) {
            EXPECT_EQ(row.size, video.size());
            EXPECT_TRUE(Read(row.body) == video);
            return;
        }
    ADD_FAILURE() << "the video is not listed";
}

TEST(Blockfile, HostileCachesCostOnlyWhatTheyDamage) {
    struct Case {
        const char* what;
        std::function<void(Cache&)> damage;
        std::size_t listed, unreadable, partial;
        bool unsupported;
        BlockfileProblem problem;
    };
    const auto target = [](Cache& c) {
        return c.b.addPicture("http://example.com/target.png", Png(600));
    };
    const std::vector<Case> cases = {
        {"a bucket chain that loops",
         [&](Cache& c) {
             const auto t = target(c);
             c.b.patchEntry(t, bf::kEntryNextAt, t);
         },
         3, 0, 0, false, BlockfileProblem::ChainLoop},
        {"a stream address past the end of its file",
         [&](Cache& c) {
             const auto t = target(c);
             c.b.patchEntry(t, bf::kEntryStreamAddressesAt + 4,
                            c.b.entryField(t, bf::kEntryStreamAddressesAt + 4) + 0x4000);
         },
         2, 1, 0, false, BlockfileProblem::BadAddress},
        {"a chain that runs into another bucket's entry, read from its own bucket",
         [&](Cache& c) { c.b.patchEntry(c.small, bf::kEntryNextAt, target(c)); }, 3, 0, 0, false,
         BlockfileProblem::EntryHash},
        {"an entry address past the end",
         [&](Cache& c) {
             const auto t = target(c);
             c.b.patchEntry(c.small, bf::kEntryNextAt, t + 0x8000); // in small's chain
         },
         3, 0, 0, false, BlockfileProblem::BadAddress},
        {"an index of another magic", [](Cache& c) { c.b.files["index"][0] = 'X'; }, 0, 0, 0, true,
         BlockfileProblem::IndexMagic},
        {"an index version not known", [](Cache& c) { c.b.files["index"][6] = 9; }, 0, 0, 0, true,
         BlockfileProblem::IndexVersion},
        {"a truncated index", [](Cache& c) { c.b.files["index"].resize(2000); }, 0, 0, 0, true,
         BlockfileProblem::TableOutsideIndex},
        {"a key longer than its blocks",
         [&](Cache& c) { c.b.patchEntry(target(c), bf::kEntryKeyLengthAt, 400); }, 2, 1, 0, false,
         BlockfileProblem::KeyTooLong},
        {"a stream larger than its blocks",
         [&](Cache& c) { c.b.patchEntry(target(c), bf::kEntryStreamSizesAt + 4, 1025); }, 2, 1, 0,
         false, BlockfileProblem::StreamTooLarge},
        {"an entry record changed after it was written",
         [&](Cache& c) { c.b.patchEntry(target(c), bf::kEntryStreamSizesAt + 4, 100, false); }, 2,
         1, 0, false, BlockfileProblem::EntryHash},
        {"a missing f_ file", [](Cache& c) { c.b.files.erase("f_000001"); }, 1, 1, 0, false,
         BlockfileProblem::MissingFile},
        {"a doomed entry", [&](Cache& c) { c.b.patchEntry(target(c), bf::kEntryStateAt, 2); }, 2, 0,
         0, false, BlockfileProblem::NotNormal},
        {"an evicted entry", [&](Cache& c) { c.b.patchEntry(target(c), bf::kEntryStateAt, 1); }, 2,
         0, 0, false, BlockfileProblem::NotNormal},
        {"a sparse child missing",
         [](Cache& c) {
             std::string video(std::size_t{1536} * 1024, 'v');
             video.replace(0, 12,
                           std::string("\0\0\0\x1c"
                                       "ftypisom",
                                       12));
             c.b.addSparse("http://example.com/v.mp4", video, 0x2fc0bb0cfd0d10, 1);
         },
         2, 0, 1, false, BlockfileProblem::ChildMissing},
        {"an extension chain that comes back",
         [](Cache& c) { c.b.files["data_1"][bf::kBlockNextFileAt] = 1; }, 2, 0, 0, false,
         BlockfileProblem::BlockFileBad},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Cache c;
        k.damage(c);
        const Outcome o = Scan(c.b);
        EXPECT_EQ(o.rows.size(), k.listed);
        EXPECT_EQ(o.stats.unreadable, k.unreadable);
        EXPECT_EQ(o.stats.partial, k.partial);
        EXPECT_EQ(o.stats.unsupported, k.unsupported);
        EXPECT_TRUE(Has(o, k.problem));
        // However the table is shared out among threads, the same entries come out.
        browser::detail::SetScanShares(3);
        const Outcome shared = Scan(c.b);
        browser::detail::SetScanShares(0);
        ASSERT_EQ(shared.rows.size(), o.rows.size());
        for (std::size_t i = 0; i < o.rows.size(); ++i)
            EXPECT_EQ(shared.rows[i].url, o.rows[i].url);
        EXPECT_EQ(shared.stats.unreadable, o.stats.unreadable);
        EXPECT_EQ(shared.stats.problems.size(), o.stats.problems.size());
    }
}

} // namespace
