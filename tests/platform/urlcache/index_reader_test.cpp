#include "index_builder.h"
#include "platform/urlcache/index_reader.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

using namespace platform::urlcache;
using testdata::GetU32;
using testdata::IndexBuilder;
using testdata::PutU32;
using testdata::Record;
using testdata::Signature;

namespace {

Record rec(std::string url, std::string name, std::uint8_t dir = 0) {
    Record r;
    r.url = std::move(url);
    r.fileName = std::move(name);
    r.directory = dir;
    r.sizeLow = 1234;
    return r;
}

std::vector<std::string> urls(const IndexContents& c) {
    std::vector<std::string> out;
    for (const auto& e : c.entries)
        out.push_back(e.url);
    return out;
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(IndexReader, ListsLiveEntriesOfBothFormatsInHashTableOrder) {
    for (Signature sig : {Signature::Native, Signature::Wine}) {
        IndexBuilder b(sig);
        Record first = rec("http://a/1.jpg", "1[0].jpg", 2);
        first.sizeLow = 0xC0000000u; // 3 GiB
        first.sizeHigh = 0;
        first.headers = "HTTP/1.1 200 OK\r\n\r\n";
        first.extension = "jpg";
        b.add(first);
        b.addDeleted(
            rec("http://a/deleted.jpg", "deleted[0].jpg")); // its record still reads "URL "
        b.addOrphan(rec("http://a/orphan.jpg", "orphan[0].jpg"));
        b.addRedirect("http://a/redirect");
        b.addLeak(rec("http://a/leak.gif", "leak[0].gif"));
        b.add(rec("http://a/2.png", "2[0].png", 3));
        const auto contents = ReadIndex(b.build());
        EXPECT_EQ(contents.format,
                  sig == Signature::Native ? IndexFormat::Native52 : IndexFormat::Wine2012);
        ASSERT_EQ(urls(contents), (std::vector<std::string>{"http://a/1.jpg", "http://a/2.png"}));
        const auto& e = contents.entries[0];
        EXPECT_EQ(*e.fileName, "1[0].jpg");
        EXPECT_EQ(*e.directory, "CCCCCCCC");
        EXPECT_EQ(e.sizeLow, 0xC0000000u);
        EXPECT_EQ(e.headers, "HTTP/1.1 200 OK\r\n\r\n");
        EXPECT_EQ(e.extension, "jpg");
        EXPECT_EQ(*contents.entries[1].directory, "DDDDDDDD");
    }
}

TEST(IndexReader, EntriesInChainedTablesAreAllFound) {
    IndexBuilder b;
    b.setSlotsPerTable(3);
    for (int i = 0; i < 10; ++i)
        b.add(rec("http://a/" + std::to_string(i) + ".gif", std::to_string(i) + ".gif"));
    EXPECT_EQ(ReadIndex(b.build()).entries.size(), 10u);
}

TEST(IndexReader, UnusableFileNamesAndFoldersGiveNoLocalFile) {
    IndexBuilder b(Signature::Native, {"AAAAAAAA", "BAD/NAME", "CCCCCCCC"});
    b.add(rec("http://a/fe", "x.jpg", 0xFE));
    b.add(rec("http://a/ff", "x.jpg", 0xFF));
    b.add(rec("http://a/past-count", "x.jpg", 3));
    b.add(rec("http://a/bad-folder", "x.jpg", 1));
    b.add(rec("http://a/dotdot", "..", 0));
    b.add(rec("http://a/dot", ".", 0));
    b.add(rec("http://a/slash", "../../etc/passwd", 0));
    b.add(rec("http://a/backslash", "..\\x.jpg", 0));
    b.add(rec("http://a/colon", "C:x.jpg", 0));
    b.add(rec("http://a/none", "", 0));
    b.add(rec("http://a/good", "good[1].jpg", 2));
    const auto c = ReadIndex(b.build());
    ASSERT_EQ(c.entries.size(), 11u);
    for (std::size_t i = 0; i + 1 < c.entries.size(); ++i)
        EXPECT_FALSE(c.entries[i].fileName.has_value()) << c.entries[i].url;
    EXPECT_EQ(*c.entries.back().fileName, "good[1].jpg");
}

TEST(IndexReader, HostileHeadersAndChainsEndTheWalkQuietly) {
    IndexBuilder b;
    b.add(rec("http://a/1.jpg", "1.jpg"));
    b.add(rec("http://a/2.jpg", "2.jpg"));
    const auto good = b.build();

    auto with = [&](auto change) {
        auto bytes = good;
        change(bytes);
        return ReadIndex(bytes);
    };
    // A chain that points back at itself.
    EXPECT_EQ(with([](auto& f) { PutU32(f, 0x4000 + 8, 0x4000); }).entries.size(), 2u);
    // First table past the end, misaligned, before the record area, or not a table.
    EXPECT_TRUE(with([](auto& f) { PutU32(f, 0x20, 0xFFFFFF80); }).entries.empty());
    EXPECT_TRUE(with([](auto& f) { PutU32(f, 0x20, 0x4001); }).entries.empty());
    EXPECT_TRUE(with([](auto& f) { PutU32(f, 0x20, 0x80); }).entries.empty());
    EXPECT_TRUE(with([](auto& f) { f[0x4000] = 'X'; }).entries.empty());
    // A huge directory count is capped; a huge table block count stays inside the file.
    EXPECT_EQ(with([](auto& f) { PutU32(f, 0x48, 0xFFFFFFFF); }).entries.size(), 2u);
    EXPECT_EQ(with([](auto& f) { PutU32(f, 0x4000 + 4, 0xFFFFFFFF); }).entries.size(), 2u);
    // Unknown signature or a signature without its NUL.
    EXPECT_TRUE(with([](auto& f) { f[0] = 'X'; }).entries.empty());
    EXPECT_TRUE(with([](auto& f) { std::fill(f.begin(), f.begin() + 28, 'A'); }).entries.empty());
    // A recorded size larger than the file is ignored; a smaller one bounds the reading.
    EXPECT_EQ(with([](auto& f) { PutU32(f, 0x1C, 0x7FFFFFFF); }).entries.size(), 2u);
    EXPECT_TRUE(with([](auto& f) { PutU32(f, 0x1C, 0x4100); }).entries.empty());
}

TEST(IndexReader, WarningsNameWhatWentWrongAndWhere) {
    IndexBuilder b;
    b.add(rec("http://a/1.jpg", "1.jpg"));
    Record open = rec("http://a/unterminated", "");
    open.terminateUrl = false;
    b.add(open);
    auto good = b.build();
    const auto openRecord = ReadIndex(good).entries.at(1).recordOffset;
    // The URL runs to the record's end; nothing else is wrong.
    EXPECT_EQ(ReadIndex(good).warnings,
              (std::vector<IndexWarning>{{IndexWarningKind::UnterminatedUrl, openRecord}}));
    Record closed = rec("http://a/2.jpg", "2.jpg");
    IndexBuilder clean;
    clean.add(closed);
    EXPECT_TRUE(ReadIndex(clean.build()).warnings.empty());

    auto warningsWith = [&](auto change) {
        auto bytes = good;
        change(bytes);
        auto w = ReadIndex(bytes).warnings;
        std::erase(w, IndexWarning{IndexWarningKind::UnterminatedUrl, openRecord});
        return w;
    };
    using W = std::vector<IndexWarning>;
    EXPECT_EQ(warningsWith([](auto& f) { f[3] = 'X'; }),
              (W{{IndexWarningKind::UnknownSignature, 0}}));
    EXPECT_EQ(warningsWith([](auto& f) { PutU32(f, 0x1C, 0x7FFFFFFF); }),
              (W{{IndexWarningKind::SizeMismatch, 0x1C}}));
    EXPECT_EQ(warningsWith([](auto& f) { PutU32(f, 0x48, 33); }),
              (W{{IndexWarningKind::TooManyDirectories, 0x48}}));
    EXPECT_EQ(warningsWith([](auto& f) { PutU32(f, 0x20, 0x4001); }),
              (W{{IndexWarningKind::BadHashTable, 0x4001}}));
    EXPECT_EQ(warningsWith([](auto& f) { PutU32(f, 0x4000 + 8, 0x4000); }),
              (W{{IndexWarningKind::HashChainLoops, 0x4000}}));
    EXPECT_EQ(warningsWith([](auto& f) { PutU32(f, 0x4000 + 4, 0); }),
              (W{{IndexWarningKind::HashTableCutShort, 0x4000}}));
    // The last record claims more blocks than the file has left.
    EXPECT_EQ(warningsWith([&](auto& f) { PutU32(f, openRecord + 4, 0x1000); }),
              (W{{IndexWarningKind::RecordCutShort, openRecord}}));
    for (auto kind : {IndexWarningKind::UnknownSignature, IndexWarningKind::RecordCutShort})
        EXPECT_STRNE(Describe(kind), "");
}

TEST(IndexReader, StagesReportTheHeaderFoldersAndTablesWalked) {
    IndexBuilder b(Signature::Wine, {"AAAAAAAA", "bad/name", "CCCCCCCC"});
    b.setSlotsPerTable(4);
    std::vector<std::uint32_t> records;
    records.reserve(6);
    for (int i = 0; i < 6; ++i)
        records.push_back(b.add(rec("http://a/" + std::to_string(i), "f.jpg", 2)));
    const auto bytes = b.build();
    const auto c = ReadIndex(bytes);
    EXPECT_EQ(c.header.format, IndexFormat::Wine2012);
    EXPECT_EQ(c.header.recordedSize, bytes.size());
    EXPECT_EQ(c.header.usableLength, bytes.size());
    EXPECT_EQ(c.header.directoryCount, 3u);
    EXPECT_EQ(c.directories, (std::vector<std::string>{"AAAAAAAA", "", "CCCCCCCC"}));
    EXPECT_EQ(c.directoryFileCounts.size(), 3u);
    // Six entries over tables of four slots: a chain of two, walked in order.
    ASSERT_EQ(c.hashTables.size(), 2u);
    EXPECT_EQ(c.hashTables[0], c.header.firstHashTable);
    // Each entry says where its record is: after the tables, spaced as they were written.
    ASSERT_EQ(c.entries.size(), records.size());
    EXPECT_GT(c.entries[0].recordOffset, c.hashTables[1]);
    for (std::size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(c.entries[i].recordOffset - c.entries[0].recordOffset, records[i] - records[0]);
}

TEST(IndexReader, DamagedRecordsAreSkippedOrCutNeverReadPastTheFile) {
    IndexBuilder b;
    const auto firstRecord = b.add(rec("http://a/1.jpg", "1.jpg"));
    b.add(rec("http://a/2.jpg", "2.jpg"));
    const auto good = b.build();
    const std::size_t slot0 = 0x4000 + 16;
    const std::size_t recordAt = GetU32(good, slot0 + 4);
    (void)firstRecord;

    auto with = [&](auto change) {
        auto bytes = good;
        change(bytes);
        return ReadIndex(bytes);
    };
    // Slot offsets past the end, misaligned, into the header, or repeated.
    EXPECT_EQ(with([&](auto& f) { PutU32(f, slot0 + 4, 0xFFFFFF80); }).entries.size(), 1u);
    EXPECT_EQ(with([&](auto& f) {
                  PutU32(f, slot0 + 4, static_cast<std::uint32_t>(recordAt + 4));
              }).entries.size(),
              1u);
    EXPECT_EQ(with([&](auto& f) { PutU32(f, slot0 + 4, 0x100); }).entries.size(), 1u);
    EXPECT_EQ(with([&](auto& f) {
                  PutU32(f, slot0 + 12, static_cast<std::uint32_t>(recordAt));
              }).entries.size(),
              1u);
    // Uninitialised slot markers.
    EXPECT_EQ(with([&](auto& f) { PutU32(f, slot0, 0xDEADBEEF); }).entries.size(), 1u);
    EXPECT_EQ(with([&](auto& f) { PutU32(f, slot0, 0x0BADF00D); }).entries.size(), 1u);
    // String offsets outside the record; zero blocks; an enormous block count.
    auto c = with([&](auto& f) { PutU32(f, recordAt + 60, 0xFFFFFF00); });
    ASSERT_EQ(c.entries.size(), 2u);
    EXPECT_FALSE(c.entries[0].fileName.has_value());
    EXPECT_EQ(with([&](auto& f) { PutU32(f, recordAt + 52, 0xFFFFFF00); }).entries.size(), 1u);
    EXPECT_EQ(with([&](auto& f) { PutU32(f, recordAt + 52, 0); }).entries.size(), 1u);
    EXPECT_EQ(with([&](auto& f) { PutU32(f, recordAt + 4, 0); }).entries.size(), 1u);
    EXPECT_EQ(with([&](auto& f) { PutU32(f, recordAt + 4, 0x7FFFFFFF); }).entries.size(), 2u);
    // Header data claiming more bytes than the record has.
    c = with([&](auto& f) {
        PutU32(f, recordAt + 68, 0x68);
        PutU32(f, recordAt + 72, 0xFFFFFFF0);
    });
    ASSERT_EQ(c.entries.size(), 2u);
    EXPECT_TRUE(c.entries[0].headers.empty());
}

TEST(IndexReader, UnterminatedStringsAndFilesCutShort) {
    IndexBuilder b;
    b.add(rec("http://a/1.jpg", "1.jpg"));
    Record open = rec("http://a/unterminated", "");
    open.terminateUrl = false;
    b.add(open);
    const auto good = b.build();
    auto c = ReadIndex(good);
    ASSERT_EQ(c.entries.size(), 2u);
    EXPECT_EQ(c.entries[1].url.rfind("http://a/unterminated", 0), 0u);
    EXPECT_LE(c.entries[1].url.size(), 128u);

    // Cut anywhere: never a crash, and what is whole is still found.
    for (std::size_t cut = 0; cut <= good.size(); cut += 61) {
        std::vector<std::uint8_t> shorter(good.begin(),
                                          good.begin() + static_cast<std::ptrdiff_t>(cut));
        const auto r = ReadIndex(shorter);
        EXPECT_LE(r.entries.size(), 2u);
    }
    std::vector<std::uint8_t> shorter(good.begin(), good.end() - 64);
    EXPECT_GE(ReadIndex(shorter).entries.size(), 1u);
}

TEST(IndexReader, RandomDamageNeverCrashes) {
    IndexBuilder b;
    for (int i = 0; i < 20; ++i)
        b.add(rec("http://a/" + std::to_string(i) + ".png", std::to_string(i) + ".png",
                  static_cast<std::uint8_t>(i % 4)));
    const auto good = b.build();
    std::mt19937 rng(1234);
    for (int round = 0; round < 300; ++round) {
        auto bytes = good;
        const int flips = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < flips; ++i) {
            // Aim at the header, the first table and the records, where damage matters.
            const std::size_t region = rng() % 3;
            std::size_t at = region == 0   ? rng() % 0x250
                             : region == 1 ? 0x4000 + rng() % 4096
                                           : 0x5000 + rng() % (bytes.size() - 0x5000);
            bytes[at] = static_cast<std::uint8_t>(rng());
        }
        const auto r = ReadIndex(bytes);
        EXPECT_LE(r.entries.size(), 40u);
    }
}

TEST(IndexReader, RealWindowsIndexMatchesMsiecfexport) {
    SKIP_WITHOUT_FIXTURES();
    const std::string path = testing_support::FixturesFolder() + "/url-cache/ie-content/index.dat";
    const auto contents = ReadIndex(readFile(path));
    EXPECT_EQ(contents.format, IndexFormat::Native52);
    EXPECT_EQ(contents.directories,
              (std::vector<std::string>{"ENG3X4ZR", "5ZBG4UOD", "5F9C7HL9", "F4MAMNDH"}));
    ASSERT_EQ(contents.entries.size(), 21u);

    std::multiset<std::string> ours;
    for (const auto& e : contents.entries)
        ours.insert(e.url + "|" + e.fileName.value_or("") + "|" + e.directory.value_or(""));

    const std::string output = testing_support::CommandOutput("msiecfexport '" + path + "'");
    if (output.find("Record type") == std::string::npos)
        GTEST_SKIP() << "msiecfexport (libmsiecf-utils) is not installed; compared the count only";

    // Its URL records, as (location, file name, cache folder).
    std::multiset<std::string> theirs;
    std::istringstream in(output);
    std::string line, type, location, name, folder;
    auto flush = [&] {
        if (type == "URL")
            theirs.insert(location + "|" + name + "|" + folder);
        type.clear(), location.clear(), name.clear(), folder.clear();
    };
    auto value = [](const std::string& l) { return l.substr(l.find(": ") + 2); };
    while (std::getline(in, line)) {
        if (line.rfind("Record type", 0) == 0) {
            flush();
            type = value(line);
        } else if (line.rfind("Location", 0) == 0)
            location = value(line);
        else if (line.rfind("Filename", 0) == 0)
            name = value(line);
        else if (line.rfind("Cache directory index", 0) == 0) {
            const auto open = line.rfind('(');
            folder = line.substr(open + 1, line.size() - open - 2);
        }
    }
    flush();
    EXPECT_EQ(ours, theirs);
}

// msiecfexport's "Mon DD, YYYY HH:MM:SS[.fraction]" (UTC) as a FILETIME, to the second.
static std::uint64_t ExportedTime(const std::string& text) {
    std::tm tm{};
    if (!strptime(text.c_str(), "%b %d, %Y %H:%M:%S", &tm))
        return 0;
    return 116444736000000000ull + static_cast<std::uint64_t>(timegm(&tm)) * 10000000ull;
}

TEST(IndexReader, RecordTimesMatchMsiecfexport) {
    SKIP_WITHOUT_FIXTURES();
    const std::string path = testing_support::FixturesFolder() + "/url-cache/ie-content/index.dat";
    const std::string output = testing_support::CommandOutput("msiecfexport '" + path + "'");
    if (output.find("Record type") == std::string::npos)
        GTEST_SKIP() << "msiecfexport (libmsiecf-utils) is not installed";
    // Its URL records' times by location: expiry, last checked, primary (last access).
    std::map<std::string, std::array<std::uint64_t, 3>> theirs;
    std::istringstream in(output);
    std::string line, location;
    auto value = [](const std::string& l) { return l.substr(l.find(": ") + 2); };
    while (std::getline(in, line)) {
        if (line.rfind("Location", 0) == 0)
            theirs[location = value(line)] = {};
        else if (line.rfind("Expiration time", 0) == 0)
            theirs[location][0] = ExportedTime(value(line));
        else if (line.rfind("Last checked time", 0) == 0)
            theirs[location][1] = ExportedTime(value(line));
        else if (line.rfind("Primary time", 0) == 0)
            theirs[location][2] = ExportedTime(value(line));
    }
    const auto contents = ReadIndex(readFile(path));
    ASSERT_EQ(contents.entries.size(), 21u);
    for (const auto& e : contents.entries) {
        SCOPED_TRACE(e.url);
        const auto& t = theirs.at(e.url);
        EXPECT_EQ(e.expiry, t[0]);
        EXPECT_EQ(e.lastSync, t[1]);
        EXPECT_EQ(e.lastAccess / 10000000, t[2] / 10000000);
    }
}

TEST(IndexReader, FatDateTimesThatAreNoDateAreUnset) {
    const auto fat = [](unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi, unsigned s) {
        return static_cast<std::uint32_t>(((y - 1980) << 9 | mo << 5 | d) |
                                          (h << 11 | mi << 5 | s / 2) << 16);
    };
    const std::uint64_t kDay = 116444736000000000ull + 1796688000ull * 10000000; // 2026-12-08
    const std::vector<std::pair<std::uint32_t, std::uint64_t>> cases = {
        {0, 0},
        {fat(2026, 12, 8, 0, 0, 0), kDay},
        {fat(2026, 12, 8, 14, 0, 24), kDay + (14 * 3600 + 24) * 10000000ull},
        {fat(2024, 2, 29, 23, 59, 58), 116444736000000000ull + 1709251198ull * 10000000},
        {fat(2026, 0, 8, 1, 0, 0), 0},  // month 0
        {fat(2026, 13, 8, 1, 0, 0), 0}, // month 13
        {fat(2026, 12, 0, 1, 0, 0), 0}, // day 0
        {fat(2026, 12, 8, 24, 0, 0), 0},
        {fat(2026, 12, 8, 1, 60, 0), 0},
        {0xFFFFFFFF, 0}, // "never", as libmsiecf has seen
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(FatToFileTime(in), out) << std::hex << in;
}

TEST(IndexBuilderOutput, MsiecfexportReadsWhatTheBuilderWrites) {
    IndexBuilder b;
    b.add(rec("http://example.com/a.jpg", "a[1].jpg", 1));
    b.add(rec("http://example.com/b.png", "b[1].png", 2));
    testing_support::ScratchFolder dir;
    const std::string path = dir.str() + "/index.dat";
    testdata::WriteFile(path, b.build());
    const std::string output = testing_support::CommandOutput("msiecfexport '" + path + "'");
    if (output.find("msiecfexport") == std::string::npos)
        GTEST_SKIP() << "msiecfexport (libmsiecf-utils) is not installed";
    EXPECT_NE(output.find("Location\t\t: http://example.com/a.jpg"), std::string::npos) << output;
    EXPECT_NE(output.find("Filename\t\t: b[1].png"), std::string::npos) << output;
    EXPECT_NE(output.find("(BBBBBBBB)"), std::string::npos) << output;
}
