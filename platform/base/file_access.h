// Read-only access to a tree of files, the one way the cache readers reach the files they
// read: open a file relative to a folder, read it at an offset, ask its size and identity,
// list a folder. The host's own file system is one implementation; a file system inside a
// disk image is another, and a reader written against this interface reads both unchanged.
// Through it go the browser caches' files and their bodies (their identity checks included),
// Save's reading of a WinINet row's file and the walk that finds application caches; SQLite
// alone opens its database by path.
//
// Everything here is for untrusted trees that may be changing underneath: links are never
// followed below the folder a walk starts from, only regular files are opened (a pipe or a
// device is refused without blocking), nothing is written or locked, and a read past what a
// file holds now fails instead of returning short data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// What makes a file the same file with the same content as when it was first looked at:
// where it lives, its size and its last modification (nanoseconds since 1970).
struct FileIdentity {
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

// A regular file opened for reading. The size and identity are taken once, at opening.
class OpenFile {
  public:
    virtual ~OpenFile() = default;
    std::uint64_t size() const { return identity_.size; }
    const FileIdentity& identity() const { return identity_; }

    // Up to n bytes at offset: the count read (0 at the end of the file), -1 on an error.
    virtual std::ptrdiff_t readSome(std::uint64_t offset, void* buffer, std::size_t n) const = 0;
    // Exactly n bytes at offset, within the size at opening; false when they are not all there
    // (any more).
    bool readAt(std::uint64_t offset, void* buffer, std::size_t n) const;
    // The file as it is now; false when that cannot be asked.
    virtual bool currentIdentity(FileIdentity& now) const = 0;
    // The first run of stored bytes at or after offset, [start, end): a sparse file's holes
    // are passed over. A file system that cannot tell gives the rest of the file as one run;
    // false past the last run.
    virtual bool dataRun(std::uint64_t offset, std::uint64_t& start, std::uint64_t& end) const;
    // A file the file system no longer names (a disk image's deleted file, found only when
    // deleted files were asked for): its bytes may since have been given to other files, so
    // a reader lists it only when its own checks prove them.
    bool deleted() const { return deleted_; }

  protected:
    FileIdentity identity_;
    bool deleted_ = false;
};

enum class EntryKind : std::uint8_t { File, Folder, Link, Other, Unknown };

struct FolderEntry {
    std::string name;
    EntryKind kind = EntryKind::Unknown; // Unknown: the entry could not even be looked at
    bool deleted = false;                // named by a deleted entry, or in a deleted folder
};

// A folder held open, to list it and to open what it holds by name without walking its path
// again for every file of a large cache.
class Folder {
  public:
    virtual ~Folder() = default;
    const std::string& path() const { return path_; }
    const FileIdentity& identity() const { return identity_; }

    // Every entry but "." and "..", in the order the file system gives. Returns 0, or the
    // error (an errno value) that stopped the listing; what was listed before it is kept.
    virtual int list(std::vector<FolderEntry>& entries) const = 0;
    // The same, only the entries whose names start with `prefix`: a folder whose listing is
    // kept gives those without copying the thousands of others a cache folder holds.
    virtual int listStartingWith(std::string_view prefix, std::vector<FolderEntry>& entries) const;
    // False when names in the folder cannot be looked up although it may be listed (read
    // permission without search permission), which stops every open in it.
    virtual bool searchable() const = 0;
    // A deleted folder, or one inside a deleted folder: everything in it is deleted.
    bool deleted() const { return deleted_; }

  protected:
    std::string path_;
    FileIdentity identity_;
    bool deleted_ = false;
};

// The files and folders of one tree. Opening by a path (no folder given) follows links, as a
// path a user names may be reached through them; opening by a name in a folder never does.
// A failed open returns null and sets error to an errno value (ENOENT, EACCES, ELOOP for a
// link, ENOTDIR, EINVAL for something that is neither a file nor a folder...).
class FileAccess : public std::enable_shared_from_this<FileAccess> {
  public:
    virtual ~FileAccess() = default;
    virtual std::unique_ptr<Folder> openFolder(const std::string& path, int& error) const = 0;
    virtual std::unique_ptr<Folder> openFolder(const Folder& in, const std::string& name,
                                               int& error) const = 0;
    // A regular file; a link is refused (a cache never holds one, and one could lead to a
    // device or a file outside the cache) even as the last part of a path.
    virtual std::unique_ptr<OpenFile> openFile(const std::string& path, int& error) const = 0;
    virtual std::unique_ptr<OpenFile> openFile(const Folder& in, const std::string& name,
                                               int& error) const = 0;

    // What `path` is, without opening it: its last part's link followed or not (every link
    // before it is followed where the tree follows links). Unknown, with the error, when it
    // cannot be looked at. The quick tests of what a folder holds, while caches are being
    // found, ask this.
    virtual EntryKind kindAt(const std::string& path, bool followLinks, int& error) const = 0;
    // False for a tree whose links are never followed, not even on a path a user names (a file
    // system inside a disk image): no path in it then leads anywhere but where it is written.
    virtual bool followsLinks() const = 0;
    // A regular file a user's own settings name (a profiles.ini), reached through a link as
    // its last part where the tree follows links; never blocks on a FIFO.
    virtual std::unique_ptr<OpenFile> openFileFollowingLinks(const std::string& path,
                                                             int& error) const = 0;
};

// The host's own file system.
const FileAccess& HostFiles();

// The identity of the host's file at `path` as it is now, links followed; all zero when it
// cannot be asked.
FileIdentity HostIdentityOf(const std::string& path);
// The same of a host file held open.
FileIdentity HostIdentityOf(int fd);

// What a body read later keeps of the tree it is in: null for the host's files (which are
// always there), else a handle that keeps the tree (a disk image) open. Trees other than the
// host's are made shared (std::make_shared) for this.
inline std::shared_ptr<const FileAccess> KeptTree(const FileAccess& files) {
    return &files == &HostFiles() ? nullptr : files.weak_from_this().lock();
}

} // namespace platform
