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

// A folder of a ListedOnce tree: the tree's own folder, listed once.
class OnceListedFolder final : public platform::Folder {
  public:
    explicit OnceListedFolder(std::shared_ptr<ListedOnce::Held> held) : held_(std::move(held)) {
        path_ = held_->folder->path();
        identity_ = held_->folder->identity();
        deleted_ = held_->folder->deleted();
    }
    int list(std::vector<platform::FolderEntry>& entries) const override {
        const ListedOnce::Held& held = listed();
        entries.insert(entries.end(), held.entries.begin(), held.entries.end());
        return held.listError;
    }
    int listStartingWith(std::string_view prefix,
                         std::vector<platform::FolderEntry>& entries) const override {
        const ListedOnce::Held& held = listed();
        for (const platform::FolderEntry& e : held.entries)
            if (e.name.starts_with(prefix))
                entries.push_back(e);
        return held.listError;
    }
    bool searchable() const override { return held_->folder->searchable(); }
    const platform::Folder& own() const { return *held_->folder; }

  private:
    const ListedOnce::Held& listed() const {
        std::call_once(held_->listed,
                       [&] { held_->listError = held_->folder->list(held_->entries); });
        return *held_;
    }
    std::shared_ptr<ListedOnce::Held> held_;
};

} // namespace

std::unique_ptr<platform::Folder>
ListedOnce::held(const std::string& key,
                 const std::function<std::unique_ptr<platform::Folder>(int&)>& open,
                 int& error) const {
    std::shared_ptr<Held> h;
    {
        const std::lock_guard locked(lock_);
        auto& slot = folders_[key];
        if (!slot) {
            slot = std::make_shared<Held>();
            slot->folder = open(slot->error);
        }
        h = slot;
    }
    if (!h->folder) {
        error = h->error;
        return nullptr;
    }
    return std::make_unique<OnceListedFolder>(std::move(h));
}

std::unique_ptr<platform::Folder> ListedOnce::openFolder(const std::string& path,
                                                         int& error) const {
    return held(
        path, [&](int& e) { return tree_.openFolder(path, e); }, error);
}

std::unique_ptr<platform::Folder>
ListedOnce::openFolder(const platform::Folder& in, const std::string& name, int& error) const {
    const auto* once = dynamic_cast<const OnceListedFolder*>(&in);
    if (!once)
        return tree_.openFolder(in, name, error);
    // (The key is one no path opened by name is written as: a name may be anything.)
    return held(
        in.path() + '\0' + name, [&](int& e) { return tree_.openFolder(once->own(), name, e); },
        error);
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
