// WebKit NetworkCache records: the caches GNOME Web and a WebKitGTK program wrote, read record
// by record and matched against what the test site served; then damaged copies of them.
#include "cache/formats/webkit.h"
#include "expected_tsv.h"
#include "platform/base/endian.h"
#include "sha256.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <nettle/sha1.h>

#include <cctype>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

namespace {

namespace fs = std::filesystem;
using namespace formats;
using Bytes = std::vector<std::uint8_t>;

const fs::path kWebKit = fs::path(TAMBERLIN_FIXTURES) / "browser-caches" / "webkit";
const char* const kCaches[] = {"home/.cache/epiphany/WebKitCache/Version 17",
                               "home/.cache/webkit-viewer/WebKitCache/Version 17"};

Bytes ReadBytes(const fs::path& p) {
    const std::string s = testing_support::ReadAll(p);
    return {s.begin(), s.end()};
}

std::string Text(WebKitBytes b) {
    return {b.begin(), b.end()};
}

WebKitSalt SaltOf(const fs::path& cache) {
    const auto salt = ParseWebKitSalt(ReadBytes(cache / "salt"));
    EXPECT_FALSE(salt.failure) << salt.failure.text;
    return salt.value.value_or(WebKitSalt{});
}

std::string HeaderField(const WebKitResponse& r, const std::string& name) {
    for (const auto& [n, v] : r.headerFields)
        if (n == name)
            return v;
    return "";
}

std::string UpperHex(const WebKitHash& h) {
    std::string s;
    for (const std::uint8_t b : h) {
        s += "0123456789ABCDEF"[b >> 4];
        s += "0123456789ABCDEF"[b & 15];
    }
    return s;
}

TEST(WebKitRecord, EveryRecordOfTheRealCachesParsesVerifiesAndMatchesWhatWasServed) {
    // expected.tsv: url, status, type, encoding, body type, size, SHA-256, entry file.
    std::map<std::string, std::vector<std::string>> expected; // by cache and URL
    for (const auto& row : testdata::ReadExpectedTsv(kWebKit / "expected.tsv")) {
        const std::string cache = row[7].substr(0, row[7].find("/Version 17/"));
        expected[cache + " " + row[0]] = row;
    }
    std::set<std::string> seen;
    std::size_t subResources = 0;
    for (const char* folder : kCaches) {
        const fs::path cache = kWebKit / folder;
        const std::string cacheName =
            cache.parent_path().string().substr((kWebKit / "home/").string().size());
        const auto version = ParseWebKitVersionFolder(cache.filename().string());
        ASSERT_EQ(version.value, 17u);
        const WebKitSalt salt = SaltOf(cache);
        for (const auto& file : fs::recursive_directory_iterator(cache / "Records")) {
            const std::string name = file.path().filename().string();
            if (!file.is_regular_file() || name.ends_with("-blob"))
                continue;
            SCOPED_TRACE(file.path().string());
            const Bytes bytes = ReadBytes(file.path());
            const auto parsed = ParseWebKitRecord(bytes, 17, salt);
            ASSERT_TRUE(parsed.value) << parsed.failure.text;
            const WebKitRecord& r = *parsed.value;
            EXPECT_FALSE(CheckWebKitNames(
                r.meta, file.path().parent_path().parent_path().filename().string(), name));
            EXPECT_EQ(r.meta.version, 17u);
            EXPECT_EQ(r.meta.partition, "");
            EXPECT_FALSE(r.meta.range);
            EXPECT_GT(r.meta.timeStamp, 1.79e9); // December 2026
            EXPECT_LT(r.meta.timeStamp, 1.80e9);
            if (r.meta.type == "SubResources") {
                ++subResources;
                EXPECT_EQ(r.meta.bodySize, 0u);
                continue;
            }
            ASSERT_EQ(r.meta.type, "Resource");

            const auto response = ParseWebKitResponse(
                WebKitBytes(bytes).subspan(r.headerOffset, r.meta.headerSize), r.meta.version);
            ASSERT_TRUE(response.value) << response.failure.text;
            const WebKitResponse& resp = *response.value;
            const auto row = expected.find(cacheName + " " + r.meta.url);
            ASSERT_NE(row, expected.end()) << r.meta.url;
            const std::vector<std::string>& e = row->second;
            seen.insert(row->first);
            EXPECT_EQ(resp.url, r.meta.url);
            EXPECT_EQ(std::to_string(resp.statusCode.value_or(0)), e[1]);
            EXPECT_EQ(resp.statusText, "OK");
            EXPECT_EQ(resp.httpVersion, "HTTP/1.1");
            const std::string contentType = HeaderField(resp, "Content-Type");
            EXPECT_EQ(contentType.substr(0, contentType.find(';')), e[2]);
            // The MIME type is WebKit's own: a JPEG labelled image/png is kept as a JPEG.
            EXPECT_EQ(resp.mimeType, e[4] == "jpg" ? "image/jpeg" : e[2]);
            EXPECT_EQ(HeaderField(resp, "Content-Encoding"), e[3]);
            // The wire length: of the gzip stream where the body was sent compressed.
            EXPECT_EQ(std::to_string(resp.expectedContentLength),
                      HeaderField(resp, "Content-Length"));

            // The body, stored decoded: inline, or a blob beside the record and in Blobs/.
            Bytes blob;
            std::optional<WebKitBytes> blobBytes;
            if (!r.meta.bodyInline) {
                EXPECT_GT(r.meta.bodySize, webkit::kMaxInlineBodySize);
                blob = ReadBytes(file.path().string() + "-blob");
                EXPECT_EQ(blob, ReadBytes(cache / "Blobs" / UpperHex(r.meta.bodyHash)));
                blobBytes = blob;
            } else {
                EXPECT_LE(r.meta.bodySize, webkit::kMaxInlineBodySize);
            }
            EXPECT_FALSE(VerifyWebKitBody(r, bytes, salt, blobBytes));
            const WebKitBytes body =
                r.meta.bodyInline ? WebKitBytes(bytes).subspan(r.bodyOffset, r.bodySize) : blob;
            EXPECT_TRUE(e[7].ends_with(r.meta.bodyInline ? "/" + name
                                                         : "/Blobs/" + UpperHex(r.meta.bodyHash)));
            EXPECT_EQ(std::to_string(body.size()), e[5]);
            EXPECT_EQ(browser_test::Sha256Hex(Text(body)), e[6]);
        }
    }
    EXPECT_EQ(seen.size(), expected.size());
    EXPECT_EQ(subResources, 2u);
}

// The meta data walked as WebKit's writer wrote it, with its own running check sum: where the
// fields that the damage below changes lie.
struct MetaWalk {
    std::size_t urlLengthAt = 0, keyHashAt = 0, checksumAt = 0;
    std::size_t headerHashAt() const { return keyHashAt + 48; }
    std::size_t headerSizeAt() const { return keyHashAt + 68; }
    std::size_t bodyHashAt() const { return keyHashAt + 76; }
    std::size_t bodySizeAt() const { return keyHashAt + 96; }
    std::size_t inlineAt() const { return keyHashAt + 104; }
    std::size_t headerAt() const { return checksumAt + 20; }
    WebKitHash sum{};
};

MetaWalk WalkMeta(const Bytes& b) {
    MetaWalk w;
    sha1_ctx sum;
    sha1_init(&sum);
    std::size_t p = 0;
    const auto add = [&](std::uint32_t tag, std::size_t n) {
        const std::uint8_t t[4] = {static_cast<std::uint8_t>(tag), 0, 0, 0};
        sha1_update(&sum, 4, t);
        sha1_update(&sum, n, b.data() + p);
        p += n;
    };
    add(11, 4); // version
    for (int s = 0; s < 4; ++s) {
        if (s == 2)
            w.urlLengthAt = p;
        const std::uint32_t length = platform::LoadLE32(b.data() + p);
        add(11, 4);
        if (length == 0xFFFFFFFF)
            continue;
        const bool latin1 = b[p] == 1;
        add(3, 1);
        add(101, latin1 ? length : 2 * length);
    }
    w.keyHashAt = p;
    for (const auto& [tag, n] :
         {std::pair{101, 20}, {101, 20}, {29, 8}, {101, 20}, {13, 8}, {101, 20}, {13, 8}, {3, 1}})
        add(static_cast<std::uint32_t>(tag), static_cast<std::size_t>(n));
    w.checksumAt = p;
    sha1_digest(&sum, 20, w.sum.data());
    return w;
}

void Put64(Bytes& b, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Makes a changed record whole again as WebKit would have written it: the header's hash (when
// the header is inside the file) and the meta data's check sum.
void Seal(Bytes& b, const WebKitSalt& salt) {
    const MetaWalk w = WalkMeta(b);
    const std::uint64_t headerSize = platform::LoadLE64(b.data() + w.headerSizeAt());
    if (headerSize <= b.size() - w.headerAt()) {
        sha1_ctx h;
        sha1_init(&h);
        sha1_update(&h, salt.size(), salt.data());
        sha1_update(&h, headerSize, b.data() + w.headerAt());
        sha1_digest(&h, 20, b.data() + w.headerHashAt());
    }
    const MetaWalk sealed = WalkMeta(b);
    std::copy(sealed.sum.begin(), sealed.sum.end(), b.begin() + static_cast<long>(w.checksumAt));
}

// Where the stored response's header field count lies in a record.
std::size_t HeaderCountAt(const Bytes& b) {
    std::size_t p = WalkMeta(b).headerAt() + 1; // past "is null"
    const auto skipString = [&] {
        const std::uint32_t n = platform::LoadLE32(b.data() + p);
        p += 4;
        if (n != 0xFFFFFFFF)
            p += 1 + (b[p] == 1 ? n : 2 * n);
    };
    skipString(); // URL
    skipString(); // MIME type
    p += 8;       // expected content length
    for (int i = 0; i < 3; ++i)
        skipString();
    return p;
}

struct Damaged {
    Bytes record;
    std::optional<Bytes> blob;
    MetaWalk at;
    WebKitSalt salt{};
};

TEST(WebKitRecord, DamagedRecordsAndBlobsReportTheirProblemAndYieldNothing) {
    const fs::path cache = kWebKit / kCaches[0];
    const fs::path resources = cache / "Records/14C081AE6BA69173C619EF0F9EB4B7828924E369/Resource";
    const fs::path inlineRecord =
        resources / "7A118CAC1B05AEDC9CBAA8FA9354B6505223729A"; // icon.svg
    const fs::path blobRecord =
        resources / "D3D0B4D9E95DEADD9BAD92EF4CA033CD16629260"; // bitmap.bmp
    struct Case {
        const char* name;
        bool blobRecord;
        std::function<void(Damaged&)> damage;
        bool seal; // WebKit-consistent apart from the damage
        WebKitProblem problem;
        const char* text;
    };
    const Case cases[] = {
        {"cut inside the meta data", false, [](Damaged& d) { d.record.resize(24); }, false,
         WebKitProblem::Truncated, "truncated: the record ends inside the URL"},
        {"cut inside the check sum", false,
         [](Damaged& d) { d.record.resize(d.at.checksumAt + 19); }, false, WebKitProblem::Truncated,
         "truncated: the record ends inside the check sum"},
        {"cut inside the header", false, [](Damaged& d) { d.record.resize(d.at.headerAt() + 9); },
         false, WebKitProblem::HeaderPastEnd, "runs past the end of the"},
        {"cut inside the inline body", false, [](Damaged& d) { d.record.pop_back(); }, false,
         WebKitProblem::RecordSizeMismatch,
         "the record is 1628 bytes, not 697 of meta data and header + 932 of body"},
        {"a blob record with a byte after its header", true,
         [](Damaged& d) { d.record.push_back(0); }, false, WebKitProblem::RecordSizeMismatch,
         "the record is 694 bytes, not 693"},
        {"a check sum byte flipped", false, [](Damaged& d) { d.record[d.at.checksumAt + 7] ^= 1; },
         false, WebKitProblem::ChecksumMismatch, "check sum does not match"},
        {"a time stamp byte flipped", false,
         [](Damaged& d) { d.record[d.at.keyHashAt + 41] ^= 0x10; }, false,
         WebKitProblem::ChecksumMismatch, "check sum does not match"},
        {"the URL's length past the end", false,
         [](Damaged& d) { Put32(d.record, d.at.urlLengthAt, 5000); }, false,
         WebKitProblem::StringPastEnd,
         "the URL (5000 bytes at 27) runs past the end of the record"},
        {"the URL's length huge", false,
         [](Damaged& d) { Put32(d.record, d.at.urlLengthAt, 0x7FFFFFF0); }, false,
         WebKitProblem::StringTooLong, "the URL is 2147483632 characters long"},
        {"the URL's 8-bit flag 2", false, [](Damaged& d) { d.record[d.at.urlLengthAt + 4] = 2; },
         false, WebKitProblem::BadFlag, "the URL's 8-bit flag is 2, not 0 or 1"},
        {"the header size past the end", false,
         [](Damaged& d) { Put64(d.record, d.at.headerSizeAt(), 1ull << 62); }, true,
         WebKitProblem::HeaderPastEnd,
         "the header (4611686018427387904 bytes at 187) runs past the end of the 1629-byte record"},
        {"the header size huge, wrapping", false,
         [](Damaged& d) { Put64(d.record, d.at.headerSizeAt(), ~std::uint64_t{0} - 100); }, true,
         WebKitProblem::HeaderPastEnd, "runs past the end"},
        {"the inline body size one more", false,
         [](Damaged& d) { Put64(d.record, d.at.bodySizeAt(), 933); }, true,
         WebKitProblem::RecordSizeMismatch, "+ 933 of body"},
        {"version 16 in folder Version 17", false, [](Damaged& d) { Put32(d.record, 0, 16); }, true,
         WebKitProblem::VersionMismatch, "version 16 in folder Version 17"},
        {"the body inline flag 2", false, [](Damaged& d) { d.record[d.at.inlineAt()] = 2; }, true,
         WebKitProblem::BadFlag, "the body inline flag is 2, not 0 or 1"},
        {"a header byte changed", false, [](Damaged& d) { d.record[d.at.headerAt() + 40] ^= 1; },
         false, WebKitProblem::HeaderHashMismatch, "the header does not match its hash"},
        {"an inline body byte changed", false, [](Damaged& d) { d.record.back() ^= 1; }, false,
         WebKitProblem::BodyHashMismatch, "the body does not match its hash"},
        {"the blob missing", true, [](Damaged& d) { d.blob.reset(); }, false,
         WebKitProblem::BlobMissing, "the body's blob is missing"},
        {"the blob short", true, [](Damaged& d) { d.blob->resize(d.blob->size() - 1000); }, false,
         WebKitProblem::BodySizeMismatch, "the body is 27854 bytes, the record says 28854"},
        {"the blob a byte longer", true, [](Damaged& d) { d.blob->push_back(0); }, false,
         WebKitProblem::BodySizeMismatch, "the body is 28855 bytes, the record says 28854"},
        {"a blob byte changed", true, [](Damaged& d) { (*d.blob)[12345] ^= 0x40; }, false,
         WebKitProblem::BodyHashMismatch, "the body does not match its hash"},
        {"the header field count huge", false,
         [](Damaged& d) { Put64(d.record, HeaderCountAt(d.record), 1ull << 40); }, true,
         WebKitProblem::TooManyHeaderFields, "the response has 1099511627776 header fields"},
        {"the header field count above the cap", false,
         [](Damaged& d) { Put64(d.record, HeaderCountAt(d.record), webkit::kMaxHeaderFields + 1); },
         true, WebKitProblem::TooManyHeaderFields, "4097 header fields"},
        {"the status text's length huge", false,
         [](Damaged& d) { Put32(d.record, HeaderCountAt(d.record) - 20, 0xFFFFFFF0); }, true,
         WebKitProblem::StringTooLong, "the status text is 4294967280 characters long"},
        {"the null response", false, [](Damaged& d) { d.record[d.at.headerAt()] = 1; }, true,
         WebKitProblem::NullResponse, "the record holds no response"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Damaged d;
        d.salt = SaltOf(cache);
        d.record = ReadBytes(c.blobRecord ? blobRecord : inlineRecord);
        if (c.blobRecord)
            d.blob = ReadBytes(blobRecord.string() + "-blob");
        d.at = WalkMeta(d.record);
        ASSERT_TRUE(std::equal(d.at.sum.begin(), d.at.sum.end(),
                               d.record.begin() + static_cast<long>(d.at.checksumAt)));
        c.damage(d);
        if (c.seal)
            Seal(d.record, d.salt);

        WebKitFailure failure;
        const auto record = ParseWebKitRecord(d.record, 17, d.salt);
        if (!record.value) {
            failure = record.failure;
        } else {
            const auto response =
                ParseWebKitResponse(WebKitBytes(d.record).subspan(record.value->headerOffset,
                                                                  record.value->meta.headerSize),
                                    17);
            if (!response.value)
                failure = response.failure;
            else
                failure =
                    VerifyWebKitBody(*record.value, d.record, d.salt,
                                     d.blob ? std::optional<WebKitBytes>(*d.blob) : std::nullopt);
        }
        EXPECT_EQ(failure.problem, c.problem) << failure.text;
        EXPECT_NE(failure.text.find(c.text), std::string::npos) << failure.text;
    }
}

TEST(WebKitRecord, FolderNamesSaltAndRecordNames) {
    const std::pair<const char*, std::optional<std::uint32_t>> folders[] = {
        {"Version 17", 17},  {"Version 4", 4},           {"Version 999999999", 999999999},
        {"Version 017", {}}, {"Version ", {}},           {"version 17", {}},
        {"Version 17a", {}}, {"Version 1234567890", {}}, {"Version -1", {}},
        {"Version 17 ", {}}, {"Version\t17", {}},
    };
    for (const auto& [name, number] : folders) {
        const auto v = ParseWebKitVersionFolder(name);
        EXPECT_EQ(v.value, number) << name;
        EXPECT_EQ(v.failure.problem, number ? WebKitProblem::None : WebKitProblem::VersionFolder)
            << name;
    }
    for (const std::size_t size : {0, 7, 9}) {
        const auto salt = ParseWebKitSalt(Bytes(size));
        EXPECT_FALSE(salt.value);
        EXPECT_EQ(salt.failure.text, "the salt file is " + std::to_string(size) + " bytes, not 8");
    }

    const fs::path cache = kWebKit / kCaches[0];
    EXPECT_EQ(
        ParseWebKitRecord(Bytes(webkit::kMaxRecordFileSize + 1), 17, SaltOf(cache)).failure.text,
        "the record file is 67108865 bytes, larger than any record");
    const std::string partition = "14C081AE6BA69173C619EF0F9EB4B7828924E369";
    const std::string name = "7A118CAC1B05AEDC9CBAA8FA9354B6505223729A";
    const Bytes bytes = ReadBytes(cache / "Records" / partition / "Resource" / name);
    const auto record = ParseWebKitRecord(bytes, 17, SaltOf(cache));
    ASSERT_TRUE(record.value);
    std::string lower = name;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::pair<std::string, std::string> names[] = {
        {partition, name + "0"},
        {partition, lower}, // WebKit writes upper case
        {partition, std::string(40, '0')},
        {name, name}, // folder and file swapped
    };
    for (const auto& [folder, file] : names)
        EXPECT_EQ(CheckWebKitNames(record.value->meta, folder, file).problem,
                  WebKitProblem::NameMismatch)
            << folder << "/" << file;
}

TEST(WebKitRecord, SixteenBitStringsAndOtherVersionsReadAsStored) {
    const fs::path cache = kWebKit / kCaches[0];
    const WebKitSalt salt = SaltOf(cache);
    Bytes b = ReadBytes(cache / "Records/14C081AE6BA69173C619EF0F9EB4B7828924E369/Resource/"
                                "7A118CAC1B05AEDC9CBAA8FA9354B6505223729A");
    // The URL as WebKit stores a string that does not fit 8 bits: UTF-16LE, with a surrogate
    // pair and a character past Latin-1.
    const std::u16string url = u"http://127.0.0.1:39021/\u20AC\U0001F600.svg";
    const std::size_t at = WalkMeta(b).urlLengthAt;
    const std::uint32_t oldLength = platform::LoadLE32(b.data() + at);
    Bytes utf16(5);
    Put32(utf16, 0, static_cast<std::uint32_t>(url.size()));
    utf16[4] = 0; // not 8-bit
    for (const char16_t c : url) {
        utf16.push_back(static_cast<std::uint8_t>(c));
        utf16.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + 5 + oldLength));
    b.insert(b.begin() + static_cast<long>(at), utf16.begin(), utf16.end());
    Seal(b, salt);
    const auto record = ParseWebKitRecord(b, 17, salt);
    ASSERT_TRUE(record.value) << record.failure.text;
    EXPECT_EQ(record.value->meta.url, "http://127.0.0.1:39021/\u20AC\U0001F600.svg");
    EXPECT_FALSE(VerifyWebKitBody(*record.value, b, salt, std::nullopt));

    // Another version: the same layout up to the header fields, the status left unknown.
    const auto header =
        WebKitBytes(b).subspan(record.value->headerOffset, record.value->meta.headerSize);
    const auto v17 = ParseWebKitResponse(header, 17);
    const auto v14 = ParseWebKitResponse(header, 14);
    ASSERT_TRUE(v17.value && v14.value);
    EXPECT_EQ(v17.value->statusCode, 200);
    EXPECT_FALSE(v14.value->statusCode);
    EXPECT_EQ(v14.value->headerFields, v17.value->headerFields);
    EXPECT_EQ(v14.value->headerFields.size(), 9u);
    EXPECT_EQ(ParseWebKitRecord(b, 14, salt).failure.text, "version 17 in folder Version 14");
}

} // namespace
