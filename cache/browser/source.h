// The cache files on disk, opened read-only, as the parsers' Source (cache/formats/source.h).
#pragma once

#include "cache/browser/browser.h"
#include "cache/formats/source.h"
#include "platform/base/file_access.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace browser::detail {

using formats::MemorySource;
using formats::Source;

// A cache file opened for reading only, through a file access (the host's files unless told
// otherwise). Links are refused (a cache never holds them, and one could lead to a device or
// a file outside the cache), and so is anything but a regular file, without blocking on a
// FIFO. Nothing is locked; the size is taken once at opening, and a read past what the file
// holds now fails instead of returning short data.
class ReadOnlyFile final : public Source {
  public:
    explicit ReadOnlyFile(const platform::FileAccess& files = platform::HostFiles())
        : files_(&files) {}
    ~ReadOnlyFile() override;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // False when the file cannot be opened, errno then saying why: an errno value, or 0 for
    // something that is there but is not a regular file.
    bool open(const std::string& path);
    // The same for a file `name` in `folder`, a folder of the same file access.
    bool open(const platform::Folder& folder, const std::string& name);
    // A deleted file (one a disk image read with deleted files names) opens as if it were
    // not there, unless its reader proves its bytes or reads a row already proven.
    void acceptDeleted() { acceptDeleted_ = true; }
    bool deleted() const { return file_ && file_->deleted(); }
    bool isOpen() const { return file_ != nullptr; }
    void close();
    // Closes the file and opens the next ones through `files`.
    void reset(const platform::FileAccess& files) {
        close();
        files_ = &files;
    }
    std::uint64_t size() const override { return file_ ? file_->size() : 0; }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t n) const override {
        return file_ && file_->readAt(offset, buffer, n);
    }
    // Up to n bytes at offset: the count read (0 at the end of the file), -1 on an error.
    std::ptrdiff_t readSome(std::uint64_t offset, void* buffer, std::size_t n) const {
        return file_ ? file_->readSome(offset, buffer, n) : -1;
    }
    // The size the file has now.
    bool currentSize(std::uint64_t& size) const;
    // The first run of stored bytes at or after `offset`, [start, end): a sparse file's holes
    // are passed over. A file system that cannot tell gives the rest of the file as one run;
    // false past the last run.
    bool dataRun(std::uint64_t offset, std::uint64_t& start, std::uint64_t& end) const {
        return file_ && file_->dataRun(offset, start, end);
    }
    // The file as it was at opening, and as it is now (false when it cannot be asked).
    const FileIdentity& identity() const { return file_ ? file_->identity() : kNone; }
    bool currentIdentity(FileIdentity& now) const { return file_ && file_->currentIdentity(now); }

  private:
    bool opened(std::unique_ptr<platform::OpenFile> file, int error);

    static constexpr FileIdentity kNone{};
    const platform::FileAccess* files_;
    std::unique_ptr<platform::OpenFile> file_;
    bool acceptDeleted_ = false;
};

// A folder held open (for listing when it may be read, else only to open files in it by
// name), which spares the system walking the folder's path again for every file of a large
// cache. When the folder cannot be held open, its files are opened by their whole path.
class OpenFolder {
  public:
    explicit OpenFolder(std::string path,
                        const platform::FileAccess& files = platform::HostFiles());
    const std::string& path() const { return path_; }
    // Opens the file `name` of the folder, as ReadOnlyFile::open does.
    bool open(ReadOnlyFile& file, const std::string& name) const;
    // The folder held open, or null when it could not be (error() then says why).
    const platform::Folder* folder() const { return folder_.get(); }
    int error() const { return error_; }

  private:
    std::string path_;
    int error_ = 0;
    std::unique_ptr<platform::Folder> folder_;
};

// The same tree with each folder listed once, for the moments while caches are being found:
// the places looked at overlap (every known profile layout walks the home and AppData/Local
// again, and a known browser's folder is looked at before the walk reaches it), and a listing
// taken a moment ago is as good as a new one. A listing is kept by the folder it lists (its
// device and inode), however the folder was reached; the folder itself stays open only while
// it is in use, so that a home of thousands of folders does not run out of descriptors.
// Everything else goes to the tree itself.
class ListedOnce final : public platform::FileAccess {
  public:
    explicit ListedOnce(const platform::FileAccess& tree) : tree_(tree) {}
    std::unique_ptr<platform::Folder> openFolder(const std::string& path,
                                                 int& error) const override;
    std::unique_ptr<platform::Folder>
    openFolder(const platform::Folder& in, const std::string& name, int& error) const override;
    std::unique_ptr<platform::OpenFile> openFile(const std::string& path,
                                                 int& error) const override {
        return tree_.openFile(path, error);
    }
    std::unique_ptr<platform::OpenFile>
    openFile(const platform::Folder& in, const std::string& name, int& error) const override;
    platform::EntryKind kindAt(const std::string& path, bool followLinks,
                               int& error) const override {
        return tree_.kindAt(path, followLinks, error);
    }
    bool followsLinks() const override { return tree_.followsLinks(); }
    std::unique_ptr<platform::OpenFile> openFileFollowingLinks(const std::string& path,
                                                               int& error) const override {
        return tree_.openFileFollowingLinks(path, error);
    }

    // A folder's listing, taken once.
    struct Listing {
        std::once_flag listed;
        std::vector<platform::FolderEntry> entries;
        int listError = 0;
    };

  private:
    std::unique_ptr<platform::Folder> held(std::unique_ptr<platform::Folder> folder) const;
    const platform::FileAccess& tree_;
    mutable std::mutex lock_;
    mutable std::map<std::pair<std::uint64_t, std::uint64_t>, std::shared_ptr<Listing>> listings_;
};

// Regular file test without following a link.
bool IsRegularFile(const std::string& path,
                   const platform::FileAccess& files = platform::HostFiles());
// Folder test, links followed where the tree follows them.
bool IsDirectory(const std::string& path,
                 const platform::FileAccess& files = platform::HostFiles());

} // namespace browser::detail
