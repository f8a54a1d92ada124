// The cache files on disk, opened read-only, as the parsers' Source (cache/formats/source.h).
#pragma once

#include "cache/browser/browser.h"
#include "cache/formats/source.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

struct stat;

namespace browser::detail {

using formats::MemorySource;
using formats::Source;

// A cache file opened for reading only. Links are refused (a cache never holds them, and one
// could lead to a device or a file outside the cache), and so is anything but a regular file,
// without blocking on a FIFO. Nothing is locked; the size is taken once at opening, and a read
// past what the file holds now fails instead of returning short data.
class ReadOnlyFile final : public Source {
  public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile() override;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool open(const std::string& path);
    // The same for a file `name` in the folder open as `folder` (a descriptor).
    bool open(int folder, const std::string& name);
    bool isOpen() const { return fd_ >= 0; }
    void close();
    std::uint64_t size() const override { return size_; }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t n) const override;
    // Up to n bytes at offset: the count read (0 at the end of the file), -1 on an error.
    std::ptrdiff_t readSome(std::uint64_t offset, void* buffer, std::size_t n) const;
    // The size the file has now.
    bool currentSize(std::uint64_t& size) const;
    // The first run of stored bytes at or after `offset`, [start, end): a sparse file's holes
    // are passed over. A file system that cannot tell gives the rest of the file as one run;
    // false past the last run.
    bool dataRun(std::uint64_t offset, std::uint64_t& start, std::uint64_t& end) const;
    // The file as it was at opening, and as it is now (false when it cannot be asked).
    const FileIdentity& identity() const { return identity_; }
    bool currentIdentity(FileIdentity& now) const;

  private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    FileIdentity identity_;
};

// A folder held open (not for reading: only to open files in it by name), which spares the
// system walking the folder's path again for every file of a large cache. When the folder
// cannot be held open, its files are opened by their whole path.
class OpenFolder {
  public:
    explicit OpenFolder(std::string path);
    ~OpenFolder();
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    const std::string& path() const { return path_; }
    // Opens the file `name` of the folder, as ReadOnlyFile::open does.
    bool open(ReadOnlyFile& file, const std::string& name) const;

  private:
    std::string path_;
    int fd_ = -1;
};

// What a stat of a file says of it, as a body segment remembers it.
FileIdentity IdentityOf(const struct stat& st);

// Regular file test without following a link.
bool IsRegularFile(const std::string& path);
bool IsDirectory(const std::string& path); // links followed

} // namespace browser::detail
