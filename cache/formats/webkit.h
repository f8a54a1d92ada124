// WebKit NetworkCache records: the meta data and stored response of one record file, and
// the checks of its body (inline or a blob) against it. Everything is read from bytes the
// caller holds; nothing here opens a file. A record that fails a check is a problem value
// with a text for the user, never an exception and never a best guess.
#pragma once

#include "cache/formats/webkit_layout.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace formats {

using WebKitHash = std::array<std::uint8_t, webkit::kSha1Size>;
using WebKitSalt = std::array<std::uint8_t, webkit::kSaltSize>;
using WebKitBytes = std::span<const std::uint8_t>;

enum class WebKitProblem {
    None,
    BadSalt,             // the salt file is not 8 bytes
    VersionFolder,       // a folder name that is not "Version <number>"
    TooLarge,            // larger than any record
    Truncated,           // a field runs past the end
    BadFlag,             // a bool that is neither 0 nor 1
    StringTooLong,       // a string length above the cap
    StringPastEnd,       // a string's characters run past the end
    VersionMismatch,     // the version field is not the folder's number
    ChecksumMismatch,    // the meta data's check sum
    HeaderPastEnd,       // header offset + header size beyond the file
    RecordSizeMismatch,  // the file is not exactly meta data + header (+ inline body)
    HeaderHashMismatch,  // SHA-1(salt + header) is not the header hash
    NameMismatch,        // the key hash or partition hash is not the file's or folder's name
    NullResponse,        // the stored response is the null response
    TooManyHeaderFields, // a header field count above the cap
    BlobMissing,         // a body stored apart whose blob was not found
    BodySizeMismatch,    // the body is not as long as the record says
    BodyHashMismatch,    // SHA-1(salt + body) is not the body hash
};

struct WebKitFailure {
    WebKitProblem problem = WebKitProblem::None;
    std::string text; // for the user: what is wrong, with the numbers that show it
    explicit operator bool() const { return problem != WebKitProblem::None; }
};

// The parsed value when every check passed, else why not.
template <typename T> struct WebKitParsed {
    std::optional<T> value;
    WebKitFailure failure;
};

// The record's meta data, as stored (strings converted to UTF-8).
struct WebKitRecordMeta {
    std::uint32_t version = 0;
    std::string partition;            // empty where seen
    std::string type;                 // webkit::kResourceType...
    std::string url;                  // the key's identifier
    std::optional<std::string> range; // null where seen
    WebKitHash keyHash{};
    WebKitHash partitionHash{};
    double timeStamp = 0; // when stored, seconds since 1970
    WebKitHash headerHash{};
    std::uint64_t headerSize = 0;
    WebKitHash bodyHash{};
    std::uint64_t bodySize = 0;
    bool bodyInline = false;
};

// A record file: its meta data and where the header and an inline body lie in it.
struct WebKitRecord {
    WebKitRecordMeta meta;
    std::uint64_t headerOffset = 0; // the header is [headerOffset, + meta.headerSize)
    // The inline body is [bodyOffset, + bodySize); when the body is a blob, bodyOffset is the
    // file's end and bodySize 0.
    std::uint64_t bodyOffset = 0;
    std::uint64_t bodySize = 0;
};

// The stored response at the start of a record's header.
struct WebKitResponse {
    std::string url;
    std::string mimeType;
    std::int64_t expectedContentLength = -1; // the wire length, -1 when unknown
    std::string textEncoding;
    std::string statusText;
    std::string httpVersion;
    std::vector<std::pair<std::string, std::string>> headerFields; // as received, in order
    std::optional<std::int16_t> statusCode; // where the version's layout is known
};

// The name WebKit gives a file or folder after a hash: 40 upper-case hex digits.
std::string WebKitHashName(const WebKitHash& hash);

// The number of a "Version <N>" folder.
WebKitParsed<std::uint32_t> ParseWebKitVersionFolder(std::string_view folderName);

WebKitParsed<WebKitSalt> ParseWebKitSalt(WebKitBytes bytes);

// A whole record file read from the folder "Version <folderVersion>": its meta data with the
// running check sum, the version, the header's place and hash, and the file's size against
// the header and inline body. The inline body itself is checked by VerifyWebKitBody.
WebKitParsed<WebKitRecord> ParseWebKitRecord(WebKitBytes file, std::uint32_t folderVersion,
                                             const WebKitSalt& salt);
// The same from the first bytes of a record file of `fileSize` bytes, enough to hold its meta
// data and header (HeaderPastEnd when they are not): a reader need not read an inline body to
// learn where it lies. VerifyWebKitBody, or a WebKitBodyCheck as the body is read, checks it.
WebKitParsed<WebKitRecord> ParseWebKitRecord(WebKitBytes file, std::uint64_t fileSize,
                                             std::uint32_t folderVersion, const WebKitSalt& salt);

// The key hash against the record's file name and the partition hash against its partition
// folder's name (upper-case hex, as WebKit names them).
WebKitFailure CheckWebKitNames(const WebKitRecordMeta& meta, std::string_view partitionFolder,
                               std::string_view recordFile);

// The stored response from a record's header bytes, up to the header fields and, in
// version 17, the status code; other versions are read with the same layout and their
// status is left unknown.
WebKitParsed<WebKitResponse> ParseWebKitResponse(WebKitBytes header, std::uint32_t version);

// A record's body checked against its size and hash: an inline body inside the record file
// (`blob` is not used), or a blob (nullopt: none was found).
WebKitFailure VerifyWebKitBody(const WebKitRecord& record, WebKitBytes recordFile,
                               const WebKitSalt& salt, const std::optional<WebKitBytes>& blob);

// The same check over a body read piece by piece (a blob too large to hold at once).
class WebKitBodyCheck {
  public:
    WebKitBodyCheck(const WebKitRecordMeta& meta, const WebKitSalt& salt);
    ~WebKitBodyCheck();
    WebKitBodyCheck(const WebKitBodyCheck&) = delete;
    WebKitBodyCheck& operator=(const WebKitBodyCheck&) = delete;
    void update(WebKitBytes bytes);
    WebKitFailure finish(); // after the last bytes

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace formats
