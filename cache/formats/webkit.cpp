#include "cache/formats/webkit.h"

#include "platform/base/ascii.h"
#include "platform/base/endian.h"
#include "platform/base/utf8.h"

#include <nettle/sha1.h>

#include <algorithm>

namespace formats {

namespace {

using webkit::ChecksumTag;

class Sha1 {
  public:
    Sha1() { sha1_init(&ctx_); }
    void update(WebKitBytes bytes) {
        if (!bytes.empty())
            sha1_update(&ctx_, bytes.size(), bytes.data());
    }
    void update(const WebKitSalt& salt) { update(WebKitBytes(salt)); }
    WebKitHash digest() {
        WebKitHash d{};
        sha1_digest(&ctx_, d.size(), d.data());
        return d;
    }

  private:
    sha1_ctx ctx_{};
};

WebKitFailure Fail(WebKitProblem problem, std::string text) {
    return {problem, std::move(text)};
}

std::string Number(std::uint64_t n) {
    return std::to_string(n);
}

// Reads persistence-encoded values one after the other, each bounded by the bytes left,
// feeding the running check sum when asked to. The first failure stops every later read.
class FieldReader {
  public:
    // `whole` names the bytes for the user: "record", "header".
    FieldReader(WebKitBytes bytes, const char* whole, bool checksum)
        : reader_(bytes), whole_(whole), checksum_(checksum) {}

    std::uint64_t at() const { return at_; }
    bool failed() const { return static_cast<bool>(failure_); }
    WebKitFailure& failure() { return failure_; }
    WebKitHash digest() { return sum_.digest(); }

    // Numbers: 0 after a failure (the caller stops at it).
    std::uint32_t u32(const char* what) { return Fixed(ChecksumTag::U32, 4, what).u32(0); }
    std::uint64_t u64(const char* what) { return Fixed(ChecksumTag::U64, 8, what).u64(0); }
    std::int64_t i64(const char* what) { return Fixed(ChecksumTag::I64, 8, what).i64(0); }
    std::int16_t i16(const char* what) { return Fixed(ChecksumTag::I16, 2, what).i16(0); }
    double f64(const char* what) { return Fixed(ChecksumTag::F64, 8, what).f64(0); }
    bool flag(const char* what) {
        const auto b = take(ChecksumTag::Bool, 1, what, " flag");
        if (b.empty())
            return false;
        if (b[0] > 1)
            fail(WebKitProblem::BadFlag,
                 std::string("the ") + what + " flag is " + Number(b[0]) + ", not 0 or 1");
        return b[0] == 1;
    }
    WebKitHash hash(const char* what) {
        WebKitHash h{};
        const auto b = take(ChecksumTag::Bytes, h.size(), what);
        if (!b.empty())
            std::copy(b.begin(), b.end(), h.begin());
        return h;
    }
    // A string as UTF-8; nullopt for the null string (and after a failure).
    std::optional<std::string> string(const char* what) {
        const std::uint32_t length = u32(what);
        if (failed() || length == webkit::kNullStringLength)
            return std::nullopt;
        if (length > webkit::kMaxStringLength) {
            fail(WebKitProblem::StringTooLong, std::string("the ") + what + " is " +
                                                   Number(length) +
                                                   " characters long, more than any record holds");
            return std::nullopt;
        }
        const bool latin1 = Flag8Bit(what);
        const std::uint64_t bytes = latin1 ? length : 2ull * length;
        if (!failed() && !reader_.has(at_, bytes)) {
            fail(WebKitProblem::StringPastEnd, std::string("the ") + what + " (" + Number(bytes) +
                                                   " bytes at " + Number(at_) +
                                                   ") runs past the end of the " + whole_);
            return std::nullopt;
        }
        const auto b = take(ChecksumTag::Bytes, bytes, what);
        if (failed())
            return std::nullopt;
        return latin1 ? platform::Latin1ToUtf8(b) : platform::Utf16LeToUtf8(b);
    }

    void fail(WebKitProblem problem, std::string text) {
        if (!failed())
            failure_ = Fail(problem, std::move(text));
    }

  private:
    // The next `length` bytes, added to the check sum under `tag`; empty (and failed) when
    // they are not all there.
    WebKitBytes take(ChecksumTag tag, std::uint64_t length, const char* what,
                     const char* suffix = "") {
        if (failed())
            return {};
        if (!reader_.has(at_, length)) {
            fail(WebKitProblem::Truncated,
                 std::string("truncated: the ") + whole_ + " ends inside the " + what + suffix);
            return {};
        }
        const auto b = reader_.slice(at_, length);
        at_ += length;
        if (checksum_) {
            std::uint8_t t[4];
            const auto v = static_cast<std::uint32_t>(tag);
            for (int i = 0; i < 4; ++i)
                t[i] = static_cast<std::uint8_t>(v >> (8 * i));
            sum_.update(WebKitBytes(t));
            sum_.update(b);
        }
        return b;
    }

    platform::LittleEndianReader Fixed(ChecksumTag tag, std::uint64_t size, const char* what) {
        return platform::LittleEndianReader(take(tag, size, what));
    }

    // A string's "8-bit" flag.
    bool Flag8Bit(const char* what) {
        const auto b = take(ChecksumTag::Bool, 1, what, "'s 8-bit flag");
        if (!b.empty() && b[0] > 1)
            fail(WebKitProblem::BadFlag,
                 std::string("the ") + what + "'s 8-bit flag is " + Number(b[0]) + ", not 0 or 1");
        return !b.empty() && b[0] == 1;
    }

    platform::LittleEndianReader reader_;
    const char* whole_;
    std::uint64_t at_ = 0;
    bool checksum_;
    Sha1 sum_;
    WebKitFailure failure_;
};

WebKitHash SaltedSha1(const WebKitSalt& salt, WebKitBytes bytes) {
    Sha1 sum;
    sum.update(salt);
    sum.update(bytes);
    return sum.digest();
}

// True when `name` is the hash in upper-case hex, as WebKit names files and folders.
bool IsHashName(const WebKitHash& hash, std::string_view name) {
    if (name.size() != webkit::kHashNameLength)
        return false;
    for (std::size_t i = 0; i < hash.size(); ++i) {
        const char hi = name[2 * i], lo = name[2 * i + 1];
        if (hi >= 'a' || lo >= 'a') // WebKit writes upper case only
            return false;
        const int h = platform::HexDigitValue(hi), l = platform::HexDigitValue(lo);
        if (h < 0 || l < 0 || (h << 4 | l) != hash[i])
            return false;
    }
    return true;
}

} // namespace

std::string WebKitHashName(const WebKitHash& hash) {
    return platform::HexBytes({reinterpret_cast<const char*>(hash.data()), hash.size()},
                              platform::HexCase::Upper);
}

WebKitParsed<std::uint32_t> ParseWebKitVersionFolder(std::string_view folderName) {
    const auto bad = [&] {
        // Built by appending: GCC's -O3 takes a string literal + std::string here for an
        // overlapping copy (a false -Wrestrict) and release builds treat warnings as errors.
        std::string text(1, '"');
        text.append(folderName);
        text.append("\" is not a version folder");
        return WebKitParsed<std::uint32_t>{std::nullopt,
                                           Fail(WebKitProblem::VersionFolder, std::move(text))};
    };
    if (!folderName.starts_with(webkit::kVersionFolderPrefix))
        return bad();
    const std::string_view digits = folderName.substr(webkit::kVersionFolderPrefix.size());
    if (digits.empty() || digits.size() > webkit::kMaxVersionDigits || digits[0] == '0')
        return bad();
    std::uint32_t n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return bad();
        n = n * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return {n, {}};
}

WebKitParsed<WebKitSalt> ParseWebKitSalt(WebKitBytes bytes) {
    if (bytes.size() != webkit::kSaltSize)
        return {std::nullopt,
                Fail(WebKitProblem::BadSalt, "the salt file is " + Number(bytes.size()) +
                                                 " bytes, not " + Number(webkit::kSaltSize))};
    WebKitSalt salt{};
    std::copy(bytes.begin(), bytes.end(), salt.begin());
    return {salt, {}};
}

WebKitParsed<WebKitRecord> ParseWebKitRecord(WebKitBytes file, std::uint32_t folderVersion,
                                             const WebKitSalt& salt) {
    return ParseWebKitRecord(file, file.size(), folderVersion, salt);
}

WebKitParsed<WebKitRecord> ParseWebKitRecord(WebKitBytes file, std::uint64_t fileSize,
                                             std::uint32_t folderVersion, const WebKitSalt& salt) {
    const auto failed = [](WebKitFailure f) {
        return WebKitParsed<WebKitRecord>{std::nullopt, std::move(f)};
    };
    if (fileSize > webkit::kMaxRecordFileSize)
        return failed(Fail(WebKitProblem::TooLarge, "the record file is " + Number(fileSize) +
                                                        " bytes, larger than any record"));
    if (file.size() > fileSize)
        file = file.first(static_cast<std::size_t>(fileSize));

    FieldReader in(file, "record", true);
    WebKitRecord record;
    WebKitRecordMeta& m = record.meta;
    m.version = in.u32("version");
    if (!in.failed() && m.version != folderVersion)
        return failed(Fail(WebKitProblem::VersionMismatch,
                           "version " + Number(m.version) + " in folder " +
                               std::string(webkit::kVersionFolderPrefix) + Number(folderVersion)));
    m.partition = in.string("key's partition").value_or("");
    m.type = in.string("key's type").value_or("");
    m.url = in.string("URL").value_or("");
    m.range = in.string("key's range");
    m.keyHash = in.hash("key hash");
    m.partitionHash = in.hash("partition hash");
    m.timeStamp = in.f64("time stamp");
    m.headerHash = in.hash("header hash");
    m.headerSize = in.u64("header size");
    m.bodyHash = in.hash("body hash");
    m.bodySize = in.u64("body size");
    m.bodyInline = in.flag("body inline");
    if (in.failed())
        return failed(std::move(in.failure()));

    const WebKitHash computed = in.digest();
    const platform::LittleEndianReader reader(file);
    const auto stored = reader.slice(in.at(), webkit::kChecksumSize);
    if (stored.size() != webkit::kChecksumSize)
        return failed(
            Fail(WebKitProblem::Truncated, "truncated: the record ends inside the check sum"));
    if (!std::equal(stored.begin(), stored.end(), computed.begin()))
        return failed(Fail(WebKitProblem::ChecksumMismatch, "check sum does not match"));

    record.headerOffset = in.at() + webkit::kChecksumSize;
    if (!reader.has(record.headerOffset, m.headerSize))
        return failed(Fail(WebKitProblem::HeaderPastEnd,
                           "the header (" + Number(m.headerSize) + " bytes at " +
                               Number(record.headerOffset) + ") runs past the end of the " +
                               Number(file.size()) + "-byte record"));
    record.bodyOffset = record.headerOffset + m.headerSize;
    record.bodySize = m.bodyInline ? m.bodySize : 0;
    if (record.bodySize != fileSize - record.bodyOffset)
        return failed(Fail(WebKitProblem::RecordSizeMismatch,
                           "the record is " + Number(fileSize) + " bytes, not " +
                               Number(record.bodyOffset) + " of meta data and header" +
                               (m.bodyInline ? " + " + Number(m.bodySize) + " of body" : "")));
    if (SaltedSha1(salt, reader.slice(record.headerOffset, m.headerSize)) != m.headerHash)
        return failed(
            Fail(WebKitProblem::HeaderHashMismatch, "the header does not match its hash"));
    return {std::move(record), {}};
}

WebKitFailure CheckWebKitNames(const WebKitRecordMeta& meta, std::string_view partitionFolder,
                               std::string_view recordFile) {
    if (!IsHashName(meta.keyHash, recordFile))
        return Fail(WebKitProblem::NameMismatch, "the key hash is not the record's file name");
    if (!IsHashName(meta.partitionHash, partitionFolder))
        return Fail(WebKitProblem::NameMismatch,
                    "the partition hash is not the name of the record's folder");
    return {};
}

WebKitParsed<WebKitResponse> ParseWebKitResponse(WebKitBytes header, std::uint32_t version) {
    FieldReader in(header, "header", false);
    WebKitResponse r;
    if (in.flag("null response")) {
        return {std::nullopt, Fail(WebKitProblem::NullResponse, "the record holds no response")};
    }
    r.url = in.string("response's URL").value_or("");
    r.mimeType = in.string("MIME type").value_or("");
    r.expectedContentLength = in.i64("expected content length");
    r.textEncoding = in.string("text encoding").value_or("");
    r.statusText = in.string("status text").value_or("");
    r.httpVersion = in.string("HTTP version").value_or("");
    const std::uint64_t count = in.u64("header field count");
    if (!in.failed() && count > webkit::kMaxHeaderFields)
        in.fail(WebKitProblem::TooManyHeaderFields,
                "the response has " + Number(count) + " header fields, more than any response");
    for (std::uint64_t i = 0; i < count && !in.failed(); ++i) {
        std::string name = in.string("header field's name").value_or("");
        std::string value = in.string("header field's value").value_or("");
        if (!in.failed())
            r.headerFields.emplace_back(std::move(name), std::move(value));
    }
    if (version == webkit::kStatusCodeI16Version) {
        const std::int16_t status = in.i16("status code");
        if (!in.failed())
            r.statusCode = status;
    }
    if (in.failed())
        return {std::nullopt, std::move(in.failure())};
    return {std::move(r), {}};
}

struct WebKitBodyCheck::State {
    Sha1 sum;
    std::uint64_t size = 0;
    WebKitHash expectedHash{};
    std::uint64_t expectedSize = 0;
};

WebKitBodyCheck::WebKitBodyCheck(const WebKitRecordMeta& meta, const WebKitSalt& salt)
    : state_(std::make_unique<State>()) {
    state_->sum.update(salt);
    state_->expectedHash = meta.bodyHash;
    state_->expectedSize = meta.bodySize;
}

WebKitBodyCheck::~WebKitBodyCheck() = default;

void WebKitBodyCheck::update(WebKitBytes bytes) {
    state_->sum.update(bytes);
    state_->size += bytes.size();
}

WebKitFailure WebKitBodyCheck::finish() {
    if (state_->size != state_->expectedSize)
        return Fail(WebKitProblem::BodySizeMismatch, "the body is " + Number(state_->size) +
                                                         " bytes, the record says " +
                                                         Number(state_->expectedSize));
    if (state_->sum.digest() != state_->expectedHash)
        return Fail(WebKitProblem::BodyHashMismatch, "the body does not match its hash");
    return {};
}

WebKitFailure VerifyWebKitBody(const WebKitRecord& record, WebKitBytes recordFile,
                               const WebKitSalt& salt, const std::optional<WebKitBytes>& blob) {
    WebKitBodyCheck check(record.meta, salt);
    if (record.meta.bodyInline) {
        const platform::LittleEndianReader reader(recordFile);
        if (!reader.has(record.bodyOffset, record.bodySize))
            return Fail(WebKitProblem::BodySizeMismatch, "the inline body runs past the end");
        check.update(reader.slice(record.bodyOffset, record.bodySize));
    } else {
        if (!blob)
            return Fail(WebKitProblem::BlobMissing, "the body's blob is missing");
        check.update(*blob);
    }
    return check.finish();
}

} // namespace formats
