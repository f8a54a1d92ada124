// WebKit keeps one folder per format version, each with its own salt: every record file holds
// its meta data, the stored response and, up to 16 KiB, the body itself; a larger body is a
// file of its own in Blobs/ (hard-linked beside the record as <key>-blob). Bodies are stored
// decoded while the stored headers still name the coding and the length as sent, so nothing
// is decoded here; the bytes are sniffed as they are.
#include "cache/browser/webkit_scan.h"

#include "cache/browser/entry.h"
#include "cache/browser/listing_rules.h"
#include "cache/browser/shares.h"
#include "cache/browser/source.h"
#include "cache/formats/webkit.h"
#include "platform/base/unix_time.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace browser::detail {

namespace {

namespace fs = std::filesystem;
namespace wk = formats::webkit;

// Sub-folders (no links) or regular files of `folder`, sorted; a folder that cannot be listed
// is named in `stats`.
std::vector<std::string> Names(const fs::path& folder, bool folders, ScanStats& stats) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        const fs::file_status st = it->symlink_status(typeError);
        if (!typeError && (folders ? fs::is_directory(st) : fs::is_regular_file(st)))
            names.push_back(it->path().filename().string());
    }
    if (ec)
        stats.problems.push_back({folder.string(), "cannot be read (" + ec.message() + ")"});
    std::sort(names.begin(), names.end());
    return names;
}

struct VersionFolder {
    fs::path path;
    std::uint32_t number = 0;
    formats::WebKitSalt salt{};
};

struct RecordName {
    std::string partition, name;
};

void Unreadable(const std::string& path, std::string reason, ScanStats& stats) {
    ++stats.unreadable;
    stats.problems.push_back({path, std::move(reason)});
}

// Reads a whole record file, refusing one larger than any record.
bool ReadRecordFile(ReadOnlyFile& file, const std::string& path, std::vector<std::uint8_t>& bytes,
                    std::string& failure) {
    errno = 0;
    if (!file.open(path)) {
        failure = errno != 0 ? "cannot be opened (" + std::string(std::strerror(errno)) + ")"
                             : "is not a regular file";
        return false;
    }
    if (file.size() > wk::kMaxRecordFileSize) {
        failure = "is damaged (larger than any record)";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(file.size()));
    if (!file.readAt(0, bytes.data(), bytes.size())) {
        failure = "cannot be read";
        return false;
    }
    return true;
}

// The stored response as the listing rules read a head. The body is stored decoded, so its
// coding is left out, and with it the length as sent, which counts the encoded bytes.
ResponseHead HeadOf(formats::WebKitResponse& response) {
    ResponseHead head;
    auto& fields = response.headerFields;
    const auto named = [&](std::string_view name) {
        return std::any_of(fields.begin(), fields.end(),
                           [&](const auto& f) { return EqualsNoCase(f.first, name); });
    };
    const bool encoded = named("Content-Encoding");
    for (auto& [name, value] : fields) {
        if (EqualsNoCase(name, "Content-Encoding") ||
            (encoded && EqualsNoCase(name, "Content-Length")))
            continue;
        head.headers.emplace_back(std::move(name), std::move(value));
    }
    // Versions whose stored response is not known field by field leave the status unknown: a
    // stored range response says so by its Content-Range.
    head.status = response.statusCode ? *response.statusCode : named("Content-Range") ? 206 : 200;
    return head;
}

// What a save checks of a WebKit body: the salt and the body's hash, and for a blob, its
// record file as the scan read it.
RecordCheck BodyCheck(const VersionFolder& v, const formats::WebKitRecordMeta& meta) {
    RecordCheck check;
    check.kind = RecordCheck::Kind::WebKit;
    check.fields.assign(v.salt.begin(), v.salt.end());
    check.fields.append(meta.bodyHash.begin(), meta.bodyHash.end());
    return check;
}

class RecordReader {
  public:
    RecordReader(const VersionFolder& v, Share& share) : v_(v), share_(share) {}

    void read(const RecordName& r) {
        ++share_.stats.entries;
        const fs::path resources = v_.path / wk::kRecordsFolder / r.partition / wk::kResourceType;
        const std::string path = (resources / r.name).string();
        ReadOnlyFile file;
        std::vector<std::uint8_t> bytes;
        std::string failure;
        if (!ReadRecordFile(file, path, bytes, failure))
            return Unreadable(path, failure, share_.stats);
        auto parsed = formats::ParseWebKitRecord(bytes, v_.number, v_.salt);
        if (!parsed.value)
            return damaged(path, parsed.failure.text);
        const formats::WebKitRecord& record = *parsed.value;
        const formats::WebKitRecordMeta& meta = record.meta;
        if (meta.type != wk::kResourceType)
            return;
        // How the key hash is made changed between versions; the names are checked where
        // it is known.
        if (v_.number == wk::kVersion17)
            if (const auto wrong = formats::CheckWebKitNames(meta, r.partition, r.name))
                return damaged(path, wrong.text);
        const auto headerAt = static_cast<std::size_t>(record.headerOffset);
        auto response = formats::ParseWebKitResponse(
            std::span(bytes).subspan(headerAt, static_cast<std::size_t>(meta.headerSize)),
            v_.number);
        if (!response.value)
            return damaged(path, response.failure.text);
        ++readable_;

        ParsedEntry e;
        e.key = meta.url;
        e.url = meta.url;
        e.head = HeadOf(*response.value);
        e.cached = platform::UnixSecondsFromFractionalSeconds(meta.timeStamp);
        e.storedSize = meta.bodySize;
        std::string entryPath = path;
        BodySegment segment;
        if (meta.bodyInline) {
            if (const auto wrong = formats::VerifyWebKitBody(record, bytes, v_.salt, std::nullopt))
                return damaged(path, wrong.text);
            segment = Segment(path, record.bodyOffset, record.bodySize);
            segment.identity = file.identity();
            const auto first =
                static_cast<std::size_t>(std::min<std::uint64_t>(record.bodySize, kSniffTextBytes));
            e.firstBytes.assign(reinterpret_cast<const char*>(bytes.data()) + record.bodyOffset,
                                first);
        } else if (meta.bodySize != 0) {
            ReadOnlyFile blob;
            if (!openBlob(meta, path, blob, entryPath))
                return Unreadable(path,
                                  "has lost its body (" + std::string(wk::kBlobsFolder) + "/" +
                                      formats::WebKitHashName(meta.bodyHash) + " is missing)",
                                  share_.stats);
            if (blob.size() != meta.bodySize)
                return damaged(entryPath, "the body is " + std::to_string(blob.size()) +
                                              " bytes, the record says " +
                                              std::to_string(meta.bodySize));
            segment = Segment(entryPath, 0, meta.bodySize);
            segment.identity = blob.identity();
            ReadFirstBytes(e, meta.bodySize, [&](std::uint64_t at, char* out, std::size_t n) {
                return blob.readAt(at, out, n);
            });
        }
        segment.record = BodyCheck(v_, meta);
        if (!meta.bodyInline) {
            segment.record.recordFile = path;
            segment.record.recordIdentity = file.identity();
        }
        if (meta.bodySize != 0)
            e.body.push_back(std::move(segment));

        BrowserFile row;
        switch (Evaluate(e, CacheKind::WebKit, r.name, row)) {
        case Verdict::Listed:
            row.entryPath = entryPath;
            share_.rows.push_back(std::move(row));
            break;
        case Verdict::Partial:
            ++share_.stats.partial;
            break;
        case Verdict::Unreadable:
            Unreadable(entryPath, "holds a body that could not be read", share_.stats);
            break;
        case Verdict::NotListed:
            break;
        }
    }

    std::size_t readable() const { return readable_; }

  private:
    void damaged(const std::string& path, const std::string& why) {
        Unreadable(path, "is damaged (" + why + ")", share_.stats);
    }

    // The body kept apart: Blobs/<body hash>, else the record's own <key>-blob (a copy made
    // without hard links may hold only one of them).
    bool openBlob(const formats::WebKitRecordMeta& meta, const std::string& recordPath,
                  ReadOnlyFile& blob, std::string& blobPath) const {
        for (std::string candidate :
             {(v_.path / wk::kBlobsFolder / formats::WebKitHashName(meta.bodyHash)).string(),
              recordPath + std::string(wk::kBlobSuffix)}) {
            if (blob.open(candidate)) {
                blobPath = std::move(candidate);
                return true;
            }
        }
        return false;
    }

    const VersionFolder& v_;
    Share& share_;
    std::size_t readable_ = 0;
};

bool ReadSalt(VersionFolder& v, ScanStats& stats) {
    const std::string path = (v.path / wk::kSaltFile).string();
    ReadOnlyFile file;
    std::uint8_t bytes[wk::kSaltSize + 1] = {};
    const bool read = file.open(path) && file.size() <= sizeof bytes &&
                      file.readAt(0, bytes, static_cast<std::size_t>(file.size()));
    auto salt = formats::ParseWebKitSalt(
        std::span<const std::uint8_t>(bytes, read ? static_cast<std::size_t>(file.size()) : 0));
    if (!read || !salt.value) {
        ++stats.unreadable;
        ++stats.unreadableFiles;
        stats.problems.push_back({path, read ? "is damaged" : "cannot be read"});
        return false;
    }
    v.salt = *salt.value;
    return true;
}

void ScanVersion(VersionFolder v, std::vector<BrowserFile>& rows, ScanStats& stats) {
    if (!ReadSalt(v, stats))
        return;
    ScanStats local;
    std::vector<RecordName> records;
    const fs::path recordsFolder = v.path / wk::kRecordsFolder;
    for (const std::string& partition : Names(recordsFolder, true, local)) {
        const fs::path resources = recordsFolder / partition / wk::kResourceType;
        std::error_code ec;
        if (!fs::is_directory(fs::symlink_status(resources, ec)))
            continue; // a partition with no HTTP responses
        for (std::string& name : Names(resources, false, local))
            if (!name.ends_with(wk::kBlobSuffix))
                records.push_back({partition, std::move(name)});
    }
    std::vector<std::size_t> readable(SharesFor(records.size()));
    std::vector<BrowserFile> found;
    const auto n = static_cast<unsigned>(readable.size());
    InShares(
        n,
        [&](Share& share, unsigned i) {
            RecordReader reader(v, share);
            const auto [from, to] = ShareRange(records.size(), i, n);
            for (std::size_t k = from; k < to; ++k)
                reader.read(records[k]);
            readable[i] = reader.readable();
        },
        found, local);
    // A version whose records all fail to verify is most likely one whose layout differs:
    // named once as such rather than record by record.
    const bool none = std::all_of(readable.begin(), readable.end(), [](auto k) { return k == 0; });
    if (v.number != wk::kVersion17 && none && local.unreadable > 0) {
        local.problems.clear();
        local.problems.push_back({v.path.string(), "is a WebKit cache of format version " +
                                                       std::to_string(v.number) +
                                                       ", which Tamberlin does not read"});
        stats.unsupported = true;
    }
    Append(Share{std::move(found), std::move(local)}, rows, stats);
}

std::optional<std::uint32_t> VersionNumber(const fs::path& folder) {
    return formats::ParseWebKitVersionFolder(folder.filename().string()).value;
}

} // namespace

bool IsWebKitVersionFolder(const fs::path& folder) {
    std::error_code ec;
    return VersionNumber(folder) &&
           fs::is_regular_file(fs::symlink_status(folder / wk::kSaltFile, ec)) &&
           fs::is_directory(fs::symlink_status(folder / wk::kRecordsFolder, ec));
}

bool IsWebKitCache(const fs::path& folder) {
    if (IsWebKitVersionFolder(folder))
        return true;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().starts_with(wk::kVersionFolderPrefix) &&
            IsWebKitVersionFolder(it->path()))
            return true;
    return false;
}

void ScanWebKit(const fs::path& folder, std::vector<BrowserFile>& rows, ScanStats& stats) {
    if (IsWebKitVersionFolder(folder)) {
        ScanVersion({folder, *VersionNumber(folder), {}}, rows, stats);
        return;
    }
    for (const std::string& name : Names(folder, true, stats)) {
        const fs::path version = folder / name;
        if (IsWebKitVersionFolder(version))
            ScanVersion({version, *VersionNumber(version), {}}, rows, stats);
    }
}

} // namespace browser::detail
