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
#include "platform/base/file_access.h"
#include "platform/base/unix_time.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <system_error>

namespace browser::detail {

namespace {

namespace fs = std::filesystem;
namespace wk = formats::webkit;

// Sub-folders (no links) or regular files of `folder`, sorted; a folder that cannot be listed
// is named in `stats`.
std::vector<std::string> Names(const platform::FileAccess& files, const fs::path& folder,
                               bool folders, ScanStats& stats) {
    std::vector<std::string> names;
    int error = 0;
    const auto held = files.openFolder(folder.string(), error);
    std::vector<platform::FolderEntry> entries;
    if (held)
        error = held->list(entries);
    if (error != 0 && entries.empty()) {
        stats.problems.push_back(
            {folder.string(), "cannot be read (" + std::string(std::strerror(error)) + ")"});
        return names;
    }
    // The kind the listing gives costs nothing; only a file system that gives none is asked.
    const platform::EntryKind wanted =
        folders ? platform::EntryKind::Folder : platform::EntryKind::File;
    for (platform::FolderEntry& e : entries)
        if (e.kind == wanted) // deleted ones too: a deleted record is read only when proven
            names.push_back(std::move(e.name));
    std::sort(names.begin(), names.end());
    return names;
}

struct VersionFolder {
    const platform::FileAccess* files;
    fs::path path;
    std::uint32_t number = 0;
    formats::WebKitSalt salt{};
};

struct RecordName {
    const std::string* partition; // the partition folder's name
    const std::string* resources; // its Resource folder's path
    std::string name;
};

// Whether `folder` holds a folder `name` (not a link to one).
bool HoldsFolder(const platform::FileAccess& files, const fs::path& folder, std::string_view name) {
    int error = 0;
    return files.kindAt((folder / name).string(), false, error) == platform::EntryKind::Folder;
}

void Unreadable(const std::string& path, std::string reason, ScanStats& stats) {
    ++stats.unreadable;
    stats.problems.push_back({path, std::move(reason)});
}

// What is read of a record at first: its meta data and stored response, in all but records
// with very long URLs or many header fields, which are then read whole.
constexpr std::size_t kRecordHeadBytes = 4096;

// Opens a record file (unless open) and reads its first `want` bytes (all of a smaller file).
bool ReadRecordHead(ReadOnlyFile& file, const std::string& path, std::size_t want,
                    std::vector<std::uint8_t>& bytes, std::string& failure) {
    errno = 0;
    if (!file.isOpen() && !file.open(path)) {
        failure = errno != 0 ? "cannot be opened (" + std::string(std::strerror(errno)) + ")"
                             : "is not a regular file";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(file.size(), want)));
    if (!file.readAt(0, bytes.data(), bytes.size())) {
        failure = "cannot be read";
        return false;
    }
    return true;
}

// The record's meta data and header, parsed from its first bytes, or from the whole file when
// the header lies past them (the body is not needed: its hash is checked as it is read).
formats::WebKitParsed<formats::WebKitRecord>
ParseRecord(ReadOnlyFile& file, const std::string& path, std::uint32_t version,
            const formats::WebKitSalt& salt, std::vector<std::uint8_t>& bytes,
            std::string& failure) {
    if (!ReadRecordHead(file, path, kRecordHeadBytes, bytes, failure))
        return {};
    auto parsed = formats::ParseWebKitRecord(bytes, file.size(), version, salt);
    if (!parsed.value && parsed.failure.problem == formats::WebKitProblem::HeaderPastEnd &&
        bytes.size() < file.size() && file.size() <= wk::kMaxRecordFileSize) {
        if (!ReadRecordHead(file, path, static_cast<std::size_t>(file.size()), bytes, failure))
            return {};
        parsed = formats::ParseWebKitRecord(bytes, file.size(), version, salt);
    }
    return parsed;
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
        head.add(name, value);
    }
    // Versions whose stored response is not known field by field leave the status unknown: a
    // stored range response says so by its Content-Range.
    head.status = response.statusCode ? *response.statusCode : named("Content-Range") ? 206 : 200;
    return head;
}

// What reading a WebKit body checks, for a save or the preview: the salt and the body's hash
// (a listing reads only the first bytes of a body), and for a blob, its record file as the
// scan read it.
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
        if (!folder_ || folder_->path() != *r.resources)
            folder_.emplace(*r.resources, *v_.files);
        const std::string path = *r.resources + "/" + r.name;
        ReadOnlyFile file(*v_.files);
        file.acceptDeleted();
        folder_->open(file, r.name);
        std::vector<std::uint8_t> bytes;
        std::string failure;
        auto parsed = ParseRecord(file, path, v_.number, v_.salt, bytes, failure);
        if (file.deleted() && (!failure.empty() || !parsed.value))
            return unproven(); // a deleted file whose bytes are no record now: not damage
        if (!failure.empty())
            return Unreadable(path, failure, share_.stats);
        if (!parsed.value)
            return damaged(path, parsed.failure.text);
        const formats::WebKitRecord& record = *parsed.value;
        const formats::WebKitRecordMeta& meta = record.meta;
        if (meta.type != wk::kResourceType)
            return;
        if (file.deleted() && meta.bodyInline &&
            !BodyHolds(file, record.bodyOffset, record.bodySize, meta))
            return unproven();
        // How the key hash is made changed between versions; the names are checked where
        // it is known.
        if (v_.number == wk::kVersion17)
            if (const auto wrong = formats::CheckWebKitNames(meta, *r.partition, r.name))
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
        bool deleted = false; // the body's blob was read back deleted
        BodySegment segment;
        if (meta.bodyInline) {
            segment = Segment(path, record.bodyOffset, record.bodySize);
            segment.identity = file.identity();
            ReadFirstBytes(e, record.bodySize, [&](std::uint64_t at, char* out, std::size_t n) {
                const std::uint64_t from = record.bodyOffset + at;
                if (from + n <= bytes.size()) {
                    std::memcpy(out, bytes.data() + from, n);
                    return true;
                }
                return file.readAt(from, out, n);
            });
        } else if (meta.bodySize != 0) {
            ReadOnlyFile blob(*v_.files);
            blob.acceptDeleted();
            if (!openBlob(meta, path, blob, entryPath) && file.deleted())
                return unproven();
            if (!blob.isOpen())
                return Unreadable(path,
                                  "has lost its body (" + std::string(wk::kBlobsFolder) + "/" +
                                      formats::WebKitHashName(meta.bodyHash) + " is missing)",
                                  share_.stats);
            if (blob.size() != meta.bodySize)
                return damaged(entryPath, "the body is " + std::to_string(blob.size()) +
                                              " bytes, the record says " +
                                              std::to_string(meta.bodySize));
            if ((file.deleted() || blob.deleted()) && !BodyHolds(blob, 0, meta.bodySize, meta))
                return unproven();
            deleted = blob.deleted();
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
        segment.files = platform::KeptTree(*v_.files);
        if (meta.bodySize != 0)
            e.body.push_back(std::move(segment));

        BrowserFile row;
        row.deleted = deleted || file.deleted();
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
    void unproven() {
        --share_.stats.entries;
        ++share_.stats.deletedUnproven;
    }
    // Whether a body read from a deleted file still has the hash its record keeps (read
    // whole here: a listing otherwise reads only its first bytes).
    bool BodyHolds(const ReadOnlyFile& in, std::uint64_t at, std::uint64_t size,
                   const formats::WebKitRecordMeta& meta) const {
        formats::WebKitBodyCheck check(meta, v_.salt);
        std::vector<std::uint8_t> part;
        for (std::uint64_t done = 0; done < size; done += part.size()) {
            part.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size - done, 1 << 20)));
            if (!in.readAt(at + done, part.data(), part.size()))
                return false;
            check.update(part);
        }
        return !check.finish();
    }

    // The body kept apart: Blobs/<body hash>, else the record's own <key>-blob (a copy made
    // without hard links may hold only one of them).
    bool openBlob(const formats::WebKitRecordMeta& meta, const std::string& recordPath,
                  ReadOnlyFile& blob, std::string& blobPath) const {
        const std::string name = formats::WebKitHashName(meta.bodyHash);
        if (blobs_.open(blob, name)) {
            blobPath = blobs_.path() + "/" + name;
            return true;
        }
        std::string beside = recordPath + std::string(wk::kBlobSuffix);
        if (!blob.open(beside))
            return false;
        blobPath = std::move(beside);
        return true;
    }

    const VersionFolder& v_;
    Share& share_;
    // Held open, so that a file in them is opened without walking their path again.
    std::optional<OpenFolder> folder_; // the partition's Resource folder being read
    OpenFolder blobs_{(v_.path / wk::kBlobsFolder).string(), *v_.files};
    std::size_t readable_ = 0;
};

bool ReadSalt(VersionFolder& v, ScanStats& stats) {
    const std::string path = (v.path / wk::kSaltFile).string();
    ReadOnlyFile file(*v.files);
    file.acceptDeleted(); // a wrong salt fails every record's hashes
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
    const std::vector<std::string> partitions = Names(*v.files, recordsFolder, true, local);
    std::vector<std::string> resources;
    resources.reserve(partitions.size()); // (records point at these)
    for (const std::string& partition : partitions) {
        resources.push_back((recordsFolder / partition / wk::kResourceType).string());
        if (!HoldsFolder(*v.files, recordsFolder / partition, wk::kResourceType))
            continue; // a partition with no HTTP responses
        for (std::string& name : Names(*v.files, resources.back(), false, local))
            if (!name.ends_with(wk::kBlobSuffix))
                records.push_back({&partition, &resources.back(), std::move(name)});
    }
    std::vector<std::size_t> readable(SharesFor(records.size()));
    std::vector<BrowserFile> found;
    const auto n = static_cast<unsigned>(readable.size());
    InShares(
        n,
        [&](Share& share, unsigned i) {
            RecordReader reader(v, share);
            const auto [from, to] = ShareRange(records.size(), i, n);
            ReserveRows(share, i, from, to, records.size());
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

bool IsWebKitVersionFolder(const fs::path& folder, const platform::FileAccess& files) {
    int error = 0;
    return VersionNumber(folder) &&
           files.kindAt((folder / wk::kSaltFile).string(), false, error) ==
               platform::EntryKind::File &&
           files.kindAt((folder / wk::kRecordsFolder).string(), false, error) ==
               platform::EntryKind::Folder;
}

bool IsWebKitCache(const fs::path& folder, const platform::FileAccess& files) {
    if (IsWebKitVersionFolder(folder, files))
        return true;
    int error = 0;
    const auto held = files.openFolder(folder.string(), error);
    std::vector<platform::FolderEntry> entries;
    if (held)
        held->listStartingWith(wk::kVersionFolderPrefix, entries);
    for (const platform::FolderEntry& e : entries)
        if (IsWebKitVersionFolder(folder / e.name, files))
            return true;
    return false;
}

void ScanWebKit(const platform::FileAccess& files, const fs::path& folder,
                std::vector<BrowserFile>& rows, ScanStats& stats) {
    if (IsWebKitVersionFolder(folder, files)) {
        ScanVersion({&files, folder, *VersionNumber(folder), {}}, rows, stats);
        return;
    }
    for (const std::string& name : Names(files, folder, true, stats)) {
        const fs::path version = folder / name;
        if (IsWebKitVersionFolder(version, files))
            ScanVersion({&files, version, *VersionNumber(version), {}}, rows, stats);
    }
}

} // namespace browser::detail
