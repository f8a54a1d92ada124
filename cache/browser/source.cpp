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

namespace {

// A folder of a ListedOnce tree: the tree's own folder, with the listing kept for it.
class OnceListedFolder final : public platform::Folder {
  public:
    OnceListedFolder(std::unique_ptr<platform::Folder> own,
                     std::shared_ptr<ListedOnce::Listing> listing)
        : own_(std::move(own)), listing_(std::move(listing)) {
        path_ = own_->path();
        identity_ = own_->identity();
        deleted_ = own_->deleted();
    }
    int list(std::vector<platform::FolderEntry>& entries) const override {
        const ListedOnce::Listing& kept = listed();
        entries.insert(entries.end(), kept.entries.begin(), kept.entries.end());
        return kept.listError;
    }
    int listStartingWith(std::string_view prefix,
                         std::vector<platform::FolderEntry>& entries) const override {
        const ListedOnce::Listing& kept = listed();
        for (const platform::FolderEntry& e : kept.entries)
            if (e.name.starts_with(prefix))
                entries.push_back(e);
        return kept.listError;
    }
    bool searchable() const override { return own_->searchable(); }
    const platform::Folder& own() const { return *own_; }

  private:
    const ListedOnce::Listing& listed() const {
        std::call_once(listing_->listed,
                       [&] { listing_->listError = own_->list(listing_->entries); });
        return *listing_;
    }
    std::unique_ptr<platform::Folder> own_;
    std::shared_ptr<ListedOnce::Listing> listing_;
};

} // namespace

std::unique_ptr<platform::Folder> ListedOnce::held(std::unique_ptr<platform::Folder> folder) const {
    if (!folder)
        return nullptr;
    const platform::FileIdentity& id = folder->identity();
    std::shared_ptr<Listing> listing;
    if (id.device == 0 && id.inode == 0) {
        listing = std::make_shared<Listing>(); // a tree that cannot tell its folders apart
    } else {
        const std::lock_guard locked(lock_);
        auto& slot = listings_[{id.device, id.inode}];
        if (!slot)
            slot = std::make_shared<Listing>();
        listing = slot;
    }
    return std::make_unique<OnceListedFolder>(std::move(folder), std::move(listing));
}

std::unique_ptr<platform::Folder> ListedOnce::openFolder(const std::string& path,
                                                         int& error) const {
    return held(tree_.openFolder(path, error));
}

std::unique_ptr<platform::Folder>
ListedOnce::openFolder(const platform::Folder& in, const std::string& name, int& error) const {
    const auto* once = dynamic_cast<const OnceListedFolder*>(&in);
    return held(once ? tree_.openFolder(once->own(), name, error)
                     : tree_.openFolder(in, name, error));
}

std::unique_ptr<platform::OpenFile>
ListedOnce::openFile(const platform::Folder& in, const std::string& name, int& error) const {
    const auto* once = dynamic_cast<const OnceListedFolder*>(&in);
    return once ? tree_.openFile(once->own(), name, error) : tree_.openFile(in, name, error);
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
