#include "cache/browser/source.h"
#include "cache/browser/entry.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <utility>

namespace browser::detail {

ReadOnlyFile::~ReadOnlyFile() = default;

void ReadOnlyFile::close() {
    file_.reset();
}

bool ReadOnlyFile::opened(std::unique_ptr<platform::OpenFile> file, int error) {
    file_ = std::move(file);
    if (file_ && file_->deleted() && !acceptDeleted_) {
        file_.reset();
        error = ENOENT;
    }
    if (!file_) // what was opened but is no regular file leaves errno as it was: 0 when asked
        errno = error == EISDIR || error == EINVAL ? 0 : error;
    return file_ != nullptr;
}

bool ReadOnlyFile::open(const std::string& path) {
    close();
    int error = 0; // (set by the open, which must come before `error` is read)
    auto file = files_->openFile(path, error);
    return opened(std::move(file), error);
}

bool ReadOnlyFile::open(const platform::Folder& folder, const std::string& name) {
    close();
    int error = 0;
    auto file = files_->openFile(folder, name, error);
    return opened(std::move(file), error);
}

bool ReadOnlyFile::currentSize(std::uint64_t& size) const {
    FileIdentity now;
    if (!currentIdentity(now))
        return false;
    size = now.size;
    return true;
}

OpenFolder::OpenFolder(std::string path, const platform::FileAccess& files)
    : path_(std::move(path)), folder_(files.openFolder(path_, error_)) {}

bool OpenFolder::open(ReadOnlyFile& file, const std::string& name) const {
    return folder_ ? file.open(*folder_, name) : file.open(path_ + "/" + name);
}

bool IsRegularFile(const std::string& path, const platform::FileAccess& files) {
    int error = 0;
    return files.kindAt(path, false, error) == platform::EntryKind::File;
}

bool IsDirectory(const std::string& path, const platform::FileAccess& files) {
    int error = 0;
    return files.kindAt(path, true, error) == platform::EntryKind::Folder;
}

} // namespace browser::detail

namespace browser {

std::optional<BodyLocation> WholeFileBody(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    BodyLocation body;
    body.segments.push_back(detail::Segment(path, 0, static_cast<std::uint64_t>(st.st_size)));
    body.segments.back().identity = {
        static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
        static_cast<std::uint64_t>(st.st_size),
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    body.decodedSize = static_cast<std::uint64_t>(st.st_size);
    return body;
}

} // namespace browser
