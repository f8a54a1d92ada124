// Pictures and videos held in the disk caches of browsers and of the programs built on their
// engines: Gecko's cache2, every Chromium back-end (Simple Cache, blockfile, SQL) and WebKit's
// NetworkCache, in Linux homes and in copied Windows and macOS profiles. Everything here reads
// caches that a running browser may be changing, and treats every byte of them as untrusted.
#pragma once

#include "platform/base/file_access.h"
#include "platform/base/paths.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace browser {

namespace detail {
class PrivateShardCopy;
}

// Which file a body was read from and how it stood then, as the file access reported it for
// the open file read: a browser replaces an entry by renaming another file over it, or
// rewrites it in place.
using FileIdentity = platform::FileIdentity;

// What tells that a body in a file many entries share (a blockfile block file, an SQL cache
// shard) is still the one listed. Such a file's size and time change with every write of any
// entry, so instead the entry's own record is read again before its body and after the body's
// last byte: it must still hold `fields`, the values the body depends on as the scan read them
// (in the layout of the cache's reader).
struct RecordCheck {
    enum class Kind : std::uint8_t {
        None,      // a file of one entry: its identity as a whole tells
        Blockfile, // the entry record at `offset` of the block file data_<blockFile>, beside `file`
        Sql,       // the `blobs` row blobRowId and its `resources` row, in the shard `file`
        // A WebKit body, a file of its own: `fields` holds the cache's salt and the body's
        // hash (salt + body), checked once the last byte is read; a body kept apart from its
        // record (a blob) also needs the record file `recordFile` still as the scan read it.
        WebKit,
    };
    Kind kind = Kind::None;
    std::uint32_t blockFile = 0;
    std::uint64_t offset = 0;
    std::uint64_t device = 0, inode = 0; // of that block file when the scan read it
    std::string fields;
    std::string recordFile;
    FileIdentity recordIdentity = {};
};

// Where a row's bytes live: the raw (still content-encoded) body as byte ranges of files.
struct BodySegment {
    std::string file;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    // Of `file` when the scan read it. Reading checks the file is still that one, unchanged;
    // for a file shared with other entries (record.kind set), only that it is the same file
    // (device and inode), the record telling whether this body changed.
    FileIdentity identity;
    // -1: a plain byte range of `file`. Otherwise the rowid of a row of the `blobs` table in
    // the SQLite database `file`, and offset/length are a range within that row's blob.
    std::int64_t blobRowId = -1;
    // A copy of the SQL shard `file` that the scan took to read its write-ahead log: the
    // blob is read from it (and its identity is the copy's), never from the live shard.
    std::shared_ptr<const detail::PrivateShardCopy> snapshot = nullptr;
    RecordCheck record = {};
    // The tree `file` (and the record's file) is in: null for the host's own files, else a
    // file system inside a disk image, where `file` is a path from its root.
    std::shared_ptr<const platform::FileAccess> files = nullptr;
};
struct BodyLocation {
    std::vector<BodySegment> segments;  // concatenated in order = the stored body
    std::vector<std::string> encodings; // content codings, applied left to right (lower case)
    std::uint64_t decodedSize = 0;      // size of the decoded body (what Save writes)
};

// A stream of the decoded body in constant memory. read() returns the number of bytes written
// (0 = the end) or -1 on failure, after which error() says why.
class BodyStream {
  public:
    virtual ~BodyStream() = default;
    virtual std::ptrdiff_t read(char* buffer, std::size_t capacity) = 0;
    virtual const std::string& error() const = 0;
};

// Opens the body for reading, undoing its content codings right to left. read() fails with
// kChangedSinceListed when a file is no longer the one the scan read, unchanged, or for a
// shared file, when the entry's record no longer holds what the scan read (checked at opening
// and again after its last byte is read), or when the body does not decode to exactly
// decodedSize bytes; it fails too for a body that does not decode, or decodes to more than
// kMaxDecodedBody bytes. Never returns null.
inline constexpr char kChangedSinceListed[] = "the cache entry changed since it was listed";
std::unique_ptr<BodyStream> OpenDecodedBody(const BodyLocation& body);

// A plain file (a WinINet row's) as a body: the whole file as it is now, so that reading it
// fails if it changes meanwhile. Nothing when the path is not a regular file (links refused).
std::optional<BodyLocation> WholeFileBody(const std::string& path);

// The most a content-encoded body may decode to. An uncompressed 32-bit BMP of 11,000 x 11,000
// pixels still fits, while a decompression bomb posing as a picture is cut off after about a
// second of decoding (bodies that do not start like a picture are never decoded that far).
inline constexpr std::uint64_t kMaxDecodedBody = 512ull * 1024 * 1024;

// The tree a cache or a body is in: the host's files for null.
inline const platform::FileAccess&
FilesOf(const std::shared_ptr<const platform::FileAccess>& files) {
    return files ? *files : platform::HostFiles();
}

enum class CacheKind { Firefox, Chromium, Blockfile, Sql, WebKit };
// Firefox: the cache2 folder (holding entries/). Chromium: the folder holding the *_0 files
// (Cache_Data, or Cache in builds without that level). Blockfile: the folder holding index,
// data_N and f_ files (the Chromium family's cache on Windows). Sql: the folder holding
// Chromium's SQL back-end (its `index` and sqldb0, sqldb1...). WebKit: the folder holding
// WebKit's `Version N` folders (WebKitCache, NetworkCache), or one of them.
struct CacheFolder {
    CacheKind kind = CacheKind::Firefox;
    std::string path;
    std::string source = {}; // the program and profile it belongs to ("Chrome Default")
    // The tree `path` is in: null for the host's own files, else a file system inside a disk
    // image, `path` then being a path from its root.
    std::shared_ptr<const platform::FileAccess> files = nullptr;
    // For a cache inside a disk image: the image as named, and the partition ("p2"; empty for
    // an image that is one file system).
    std::string image = {}, partition = {};
    // One cache is one kind at one path, whatever it is called.
    bool operator==(const CacheFolder& o) const {
        return kind == o.kind && path == o.path && image == o.image && partition == o.partition;
    }
    // How `inside` (a path of this cache's tree) is shown to the user.
    std::string shown(const std::string& inside) const {
        return image.empty() ? inside : platform::ImageFilePath(image, partition, inside);
    }
};

// One listable picture or video.
struct BrowserFile {
    std::string url;         // the request URL, the cache's key prefixes removed
    std::string fileName;    // recognisable, safe, ending in the canonical extension
    std::string extension;   // canonical, lower case: jpg png gif bmp ico webp mp4 webm ...
    std::uint64_t size = 0;  // decoded size
    std::string entryPath;   // the entry file (.../cache2/entries/<hex> or .../<hex>_0), or
                             // for blockfile the f_ or data_N file holding the body
    std::string contentType; // as the server sent it (a hint only; the type is sniffed)
    // When the response was stored and when the entry was last used, seconds since 1970
    // UTC, as the cache keeps them; nothing where it keeps no such time.
    std::optional<std::int64_t> cached, lastUsed;
    std::string source; // the cache folder's
    // Read back from a deleted entry file, its bytes proven by the cache's own checks.
    bool deleted = false;
    BodyLocation body;
};

// Something in a cache that could not be read, named for the user.
struct ScanProblem {
    std::string path;   // the folder or entry file
    std::string reason; // why, in words ("cannot be read (Permission denied)", "damaged")
    bool operator==(const ScanProblem&) const = default;
};

struct ScanStats {
    std::size_t entries = 0;    // entry files looked at
    std::size_t listed = 0;     // rows returned
    std::size_t unreadable = 0; // damaged, unknown version, encrypted, undecodable body...
    // Of those, whole files that hold entries (an SQL shard, a block file) and could not be
    // read: their entries are lost without being counted in `entries`.
    std::size_t unreadableFiles = 0;
    std::size_t partial = 0;    // a response whose stored body is incomplete
    std::size_t duplicates = 0; // the same URL and body again (another partition)
    // Deleted entry files found in a disk image whose bytes fail the format's own checks
    // (given to other files since): never listed, and not counted as entries either.
    std::size_t deletedUnproven = 0;
    bool unsupported = false; // the folder holds a cache format we do not read
    // The folders and entries that could not be read, each named. A reader that only counts
    // its unreadable entries leaves this empty; they are then told by their number.
    std::vector<ScanProblem> problems;
};

// Reads one cache folder. A bad entry is counted, named in stats->problems and skipped, never
// thrown; a folder that cannot be listed gives an empty result and a problem naming it. Rows
// come in the order of the entry file names.
std::vector<BrowserFile> ScanCacheFolder(const CacheFolder& folder, ScanStats* stats = nullptr);

// The current user's caches, from the home folder and the XDG folders (the values of $HOME,
// $XDG_CACHE_HOME and $XDG_CONFIG_HOME; empty gives the XDG default). Only folders that exist:
// the known browsers' and Thunderbird's, then every other cache below the places programs keep
// per-user data (walk.h). `skippedFolders` names the folders that walk had to skip.
struct Environment {
    std::string home, xdgCacheHome, xdgConfigHome;
};
std::vector<CacheFolder> FindUserCaches(const Environment& env,
                                        std::vector<ScanProblem>* skippedFolders = nullptr);

// What a folder the user names holds, recognised by its content: a Linux home, a copied
// Windows profile (.../Users/bob: its Internet Explorer index.dat files, Firefox caches and
// every program's cache below AppData), a Users folder, a copied macOS home, a browser
// profile, or a cache folder itself.
struct FolderContents {
    std::vector<CacheFolder> browserCaches;
    std::vector<std::string> urlCacheIndexes; // paths of index.dat files
    std::vector<ScanProblem> skippedFolders;  // could not be read while looking for caches
};
// `files` is the tree the folder is in: the host's, or a disk image's file system.
FolderContents ClassifyFolder(const std::string& folder,
                              const platform::FileAccess& files = platform::HostFiles());

} // namespace browser
