// WebKit's NetworkCache (GNOME Web, WebKitGTK programs, Safari, WKWebView apps), as laid out
// on disk. Little-endian throughout. cache/formats/webkit.md describes each field and what
// the reader checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace formats::webkit {

// <cache>/Version <N>/ holds one cache of format version N, read with its own salt:
//   salt                                          kSaltSize random bytes
//   Records/<partition hash>/<type>/<key hash>    one record per resource
//   Records/<partition hash>/<type>/<key hash>-blob   the body, when not inline: a hard link
//                                                 to (or a copy of) the Blobs file
//   Blobs/<body hash>                             body bytes only, shared by equal bodies
inline constexpr std::string_view kVersionFolderPrefix = "Version ";
inline constexpr std::string_view kSaltFile = "salt";
inline constexpr std::string_view kRecordsFolder = "Records";
inline constexpr std::string_view kBlobsFolder = "Blobs";
inline constexpr std::string_view kBlobSuffix = "-blob";
inline constexpr std::string_view kResourceType = "Resource"; // HTTP responses
// The resources a page loaded, to preload them next time: no body.
inline constexpr std::string_view kSubResourcesType = "SubResources";

// Versions read on real files or in WebKit's source. The record's meta data, the salted
// hashes, Blobs/ and the inline limit are the same in all three; the stored response is
// known field by field only in the last.
inline constexpr std::uint32_t kVersion13 = 13;
inline constexpr std::uint32_t kVersion14 = 14;
inline constexpr std::uint32_t kVersion17 = 17; // WebKitGTK 2.50
// The folder number is at most this many digits; WebKit counts up from 1.
inline constexpr std::size_t kMaxVersionDigits = 9;

inline constexpr std::size_t kSaltSize = 8;
inline constexpr std::size_t kSha1Size = 20;
// A hash as a file or folder name: upper-case hex digits.
inline constexpr std::size_t kHashNameLength = 2 * kSha1Size;

// A body of at most this many bytes is stored inside its record; a larger one is a blob.
// The size that counts is the stored (decoded) one. Informative only: the reader takes
// either form at any size, as WebKit's own reader does.
inline constexpr std::uint64_t kMaxInlineBodySize = 16ull * 1024;

// The "persistence" encoding. Numbers are their raw bytes; a bool is one byte, 0 or 1. A
// string is a u32 length in characters, then (unless the length is kNullStringLength) a
// bool "8-bit", then `length` Latin-1 bytes or 2 * `length` UTF-16LE bytes. A SHA-1
// digest is kSha1Size raw bytes; a time is an f64 of seconds since 1970.
inline constexpr std::uint32_t kNullStringLength = 0xFFFFFFFF;

// The running check sum: a SHA-1 to which each value adds its type's tag (a u32) and then
// its bytes. A string adds its length as a u32, then (when not null) its flag as a bool and
// its characters as raw bytes (the tag even when there are none). At the check-sum point
// the writer stores the digest as kSha1Size bytes, which the sum does not cover.
enum class ChecksumTag : std::uint32_t {
    Bool = 3,
    U8 = 5,
    U16 = 7,
    U32 = 11,
    U64 = 13,
    I32 = 17,
    I64 = 19,
    F32 = 23,
    F64 = 29,
    Bytes = 101,
    I16 = 103,
};

// The record file: meta data, its check sum, the header, then the body when inline.
//   version          u32    equals the folder's number
//   key partition    string empty (not null) where seen
//   key type         string kResourceType, kSubResourcesType...
//   key identifier   string the URL
//   key range        string null where seen
//   key hash         SHA-1  = the record's file name
//   partition hash   SHA-1  = its partition folder's name
//   time stamp       f64    when stored, seconds since 1970
//   header hash      SHA-1  SHA-1(salt + header)
//   header size      u64
//   body hash        SHA-1  SHA-1(salt + body); a blob's name in Blobs/
//   body size        u64
//   body inline      bool
//   check sum        kSha1Size bytes over the fields above
//   header           `header size` bytes
//   body             `body size` bytes when inline, else nothing: the file ends there
// The fixed fields after the key, and the check sum.
inline constexpr std::uint64_t kMetaFixedTailSize =
    kSha1Size + kSha1Size + 8 + kSha1Size + 8 + kSha1Size + 8 + 1;
inline constexpr std::uint64_t kChecksumSize = kSha1Size;

// The header starts with the stored response:
//   is null          bool   1: no response (nothing else follows)
//   URL              string
//   MIME type        string
//   expected length  i64    the wire length, -1 when unknown
//   text encoding    string
//   status text      string
//   HTTP version     string
//   header fields    u64 count, then name and value strings as received
//   status code      i16    in version 17 (older versions: i32, or elsewhere)
// More fields follow (certificate, source, flags, the entry's varying request headers,
// redirects) and the header ends with its own check sum; the header hash covers all of it.
inline constexpr std::uint32_t kStatusCodeI16Version = kVersion17;

// Caps on what a record may announce. Every length is also bounded by the bytes left.
// A string longer than this (in characters) is damage: URLs and header values are far
// shorter, and a cached resource never has a data: URL.
inline constexpr std::uint32_t kMaxStringLength = 1u << 20;
// HTTP servers refuse responses with a few hundred header fields.
inline constexpr std::uint64_t kMaxHeaderFields = 4096;
// A record holds meta data, a header and at most an inline body; a file larger than this
// is not a record (a scanner reads no more of it).
inline constexpr std::uint64_t kMaxRecordFileSize = 64ull * 1024 * 1024;

} // namespace formats::webkit
