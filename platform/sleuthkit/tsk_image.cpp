#include "platform/sleuthkit/tsk_image.h"

#include <tsk/libtsk.h>

#include <cerrno>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>
#include <utility>

namespace platform {

namespace {

std::string TskError() {
    const char* text = tsk_error_get();
    std::string out = text ? text : "unknown error";
    tsk_error_reset();
    // The library's messages end in a line break and sometimes carry a second line.
    for (char& c : out)
        if (c == '\n' || c == '\r')
            c = ' ';
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// The image and its file systems, closed when the last file, folder and volume using them
// goes. The library keeps caches inside these handles, so every call into it for one image
// is made under the image's lock.
struct ImageState {
    TSK_IMG_INFO* img = nullptr;
    TSK_VS_INFO* vs = nullptr;
    std::vector<TSK_FS_INFO*> fileSystems;
    std::vector<std::string> segments;
    std::vector<FileIdentity> segmentIdentities; // as they were at opening
    std::mutex lock;

    ~ImageState() {
        for (TSK_FS_INFO* fs : fileSystems)
            tsk_fs_close(fs);
        if (vs)
            tsk_vs_close(vs);
        if (img)
            tsk_img_close(img);
    }
    // Whether the image's own files are still the ones opened, unchanged.
    bool unchanged() const {
        for (std::size_t i = 0; i < segments.size(); ++i)
            if (!(HostIdentityOf(segments[i]) == segmentIdentities[i]))
                return false;
        return true;
    }
};

struct FolderContents;

struct VolumeState {
    std::shared_ptr<ImageState> image;
    TSK_FS_INFO* fs = nullptr;
    std::uint64_t device = 0; // stands for the volume in identities
    bool caseless = false;    // NTFS, FAT, exFAT, HFS+, APFS look names up ignoring case
    bool withDeleted = false; // folders list the names of deleted files and folders too
    // The folders read so far, by metadata address (under the image's lock).
    mutable std::unordered_map<TSK_INUM_T, std::shared_ptr<const FolderContents>> folders;
};

EntryKind KindOf(TSK_FS_NAME_TYPE_ENUM type) {
    switch (type) {
    case TSK_FS_NAME_TYPE_REG:
        return EntryKind::File;
    case TSK_FS_NAME_TYPE_DIR:
        return EntryKind::Folder;
    case TSK_FS_NAME_TYPE_LNK:
        return EntryKind::Link;
    case TSK_FS_NAME_TYPE_UNDEF:
        return EntryKind::Unknown;
    default:
        return EntryKind::Other;
    }
}

bool SameIgnoringAsciiCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// FAT marks a deleted name by overwriting its first letter, which the library shows as '_'.
// A long name keeps its letters in its own entries; a short one (all lowercase and 8.3, as
// "cache2", "entries", "index" and "data_1" are stored) has lost it for good. Those that
// caches are found by come back whole, so that a deleted cache is still recognised.
void RestoreFatName(std::string& name) {
    static constexpr std::string_view kKnown[] = {"cache2", "entries", "index",   "data_0",
                                                  "data_1", "data_2",  "data_3",  "doomed",
                                                  "cache",  "mozilla", "firefox", "salt"};
    if (name.size() < 2 || name[0] != '_')
        return;
    for (const std::string_view known : kKnown) {
        if (known.size() != name.size())
            continue;
        bool same = true;
        for (std::size_t i = 1; i < name.size() && same; ++i)
            same = (name[i] | 0x20) == (known[i] | 0x20);
        if (same) {
            name = known;
            return;
        }
    }
}

FileIdentity IdentityOf(const VolumeState& volume, TSK_INUM_T address, const TSK_FS_META* meta) {
    FileIdentity id;
    id.device = volume.device;
    id.inode = address;
    if (meta) {
        id.size = meta->size < 0 ? 0 : static_cast<std::uint64_t>(meta->size);
        id.modifiedNs = static_cast<std::int64_t>(meta->mtime) * 1000000000 + meta->mtime_nano;
    }
    return id;
}

// What a folder holds, read once from the file system and kept for the image's life (an
// image does not change): the walk and the readers open the same folders many times over.
struct FolderContents {
    struct Entry {
        TSK_INUM_T address;
        EntryKind kind;
        bool deleted;
    };
    FileIdentity identity;
    std::vector<FolderEntry> listed;
    std::unordered_map<std::string, Entry> byName;

    void add(std::string name, TSK_INUM_T address, EntryKind kind, bool deleted) {
        byName.emplace(name, Entry{address, kind, deleted});
        listed.push_back({std::move(name), kind, deleted});
    }
    const Entry* find(const std::string& name, bool caseless) const {
        if (const auto it = byName.find(name); it != byName.end())
            return &it->second;
        if (caseless) // the first in the folder's order, as a lookup by the file system would
            for (const FolderEntry& e : listed)
                if (SameIgnoringAsciiCase(e.name, name))
                    return &byName.at(e.name);
        return nullptr;
    }
};

class ImageFolder final : public Folder {
  public:
    using Entry = FolderContents::Entry;
    ImageFolder(std::string path, std::shared_ptr<const FolderContents> contents, bool deleted)
        : contents_(std::move(contents)) {
        path_ = std::move(path);
        identity_ = contents_->identity;
        deleted_ = deleted;
    }
    int list(std::vector<FolderEntry>& entries) const override {
        const std::size_t first = entries.size();
        entries.insert(entries.end(), contents_->listed.begin(), contents_->listed.end());
        if (deleted_)
            for (std::size_t i = first; i < entries.size(); ++i)
                entries[i].deleted = true;
        return 0;
    }
    bool searchable() const override { return true; }
    const Entry* find(const std::string& name, bool caseless) const {
        return contents_->find(name, caseless);
    }

  private:
    std::shared_ptr<const FolderContents> contents_;
};

class ImageOpenFile final : public OpenFile {
  public:
    ImageOpenFile(std::shared_ptr<const VolumeState> volume, TSK_FS_FILE* file,
                  FileIdentity identity, bool deleted)
        : volume_(std::move(volume)), file_(file) {
        identity_ = identity;
        deleted_ = deleted;
    }
    ~ImageOpenFile() override {
        const std::lock_guard held(volume_->image->lock);
        tsk_fs_file_close(file_);
    }
    std::ptrdiff_t readSome(std::uint64_t offset, void* buffer, std::size_t n) const override {
        if (offset >= size() || n == 0)
            return 0;
        n = static_cast<std::size_t>(std::min<std::uint64_t>(n, size() - offset));
        const std::lock_guard held(volume_->image->lock);
        const ssize_t got =
            tsk_fs_file_read(file_, static_cast<TSK_OFF_T>(offset), static_cast<char*>(buffer), n,
                             TSK_FS_FILE_READ_FLAG_NONE);
        if (got < 0) {
            tsk_error_reset();
            return -1;
        }
        return got;
    }
    bool currentIdentity(FileIdentity& now) const override {
        // The file system inside does not change while its image stays as it was.
        if (!volume_->image->unchanged())
            return false;
        now = identity_;
        return true;
    }
    bool extents(std::vector<ImageExtent>& out) const;

  private:
    std::shared_ptr<const VolumeState> volume_;
    TSK_FS_FILE* file_;
};

// The file systems whose data runs are plain block addresses in the volume: the others keep
// their own layouts (APFS's containers, HFS+'s compressed forks and so on) that only the
// library reads right.
bool PlainRuns(TSK_FS_TYPE_ENUM type) {
    return TSK_FS_TYPE_ISEXT(type) || TSK_FS_TYPE_ISNTFS(type) || TSK_FS_TYPE_ISFAT(type);
}

// Past this many runs the library reads the file itself: a crafted map is not worth holding.
constexpr std::size_t kMostRuns = 65536;

bool ImageOpenFile::extents(std::vector<ImageExtent>& out) const {
    out.clear();
    const std::lock_guard held(volume_->image->lock);
    const TSK_FS_INFO* fs = volume_->fs;
    const TSK_IMG_INFO* img = volume_->image->img;
    if (!TSK_IMG_TYPE_ISRAW(img->itype) || !PlainRuns(fs->ftype) || fs->block_size == 0)
        return false;
    const TSK_FS_ATTR* attr = tsk_fs_file_attr_get(file_);
    if (!attr) {
        tsk_error_reset();
        return false;
    }
    const std::uint64_t size = this->size();
    if (!(attr->flags & TSK_FS_ATTR_NONRES) ||
        (attr->flags & (TSK_FS_ATTR_COMP | TSK_FS_ATTR_ENC)) || attr->size < 0 ||
        static_cast<std::uint64_t>(attr->size) != size || attr->nrd.skiplen != 0 ||
        attr->nrd.initsize < attr->size)
        return false;
    const std::uint64_t block = fs->block_size;
    const std::uint64_t blocks = static_cast<std::uint64_t>(fs->last_block) + 1;
    const std::uint64_t imageSize = static_cast<std::uint64_t>(img->size);
    const std::uint64_t fsOffset = static_cast<std::uint64_t>(fs->offset);
    std::uint64_t covered = 0;
    for (const TSK_FS_ATTR_RUN* run = attr->nrd.run; run && covered < size; run = run->next) {
        const int holeFlags = TSK_FS_ATTR_RUN_FLAG_SPARSE | TSK_FS_ATTR_RUN_FLAG_FILLER;
        if (out.size() + 2 > kMostRuns || (run->flags & ~holeFlags) != 0 || run->offset > blocks ||
            run->offset * block < covered || run->len == 0 || run->len > blocks)
            return false;
        // Blocks no run names are a hole, as the library reads them (as it reads a run it
        // was given to fill a gap, or one of zeros).
        if (const std::uint64_t start = std::min(run->offset * block, size); start > covered) {
            out.push_back({covered, start - covered, 0, true});
            covered = start;
            if (covered == size)
                break;
        }
        ImageExtent e;
        e.fileOffset = covered;
        e.length = std::min<std::uint64_t>(run->len * block, size - covered);
        e.hole = (run->flags & holeFlags) != 0;
        if (!e.hole) {
            if (run->addr >= blocks || run->len > blocks - run->addr)
                return false;
            e.imageOffset = fsOffset + run->addr * block;
            if (e.imageOffset > imageSize || e.length > imageSize - e.imageOffset)
                return false;
        }
        covered += e.length;
        out.push_back(e);
    }
    if (covered < size)
        out.push_back({covered, size - covered, 0, true});
    return true;
}

class ImageFiles final : public FileAccess {
  public:
    explicit ImageFiles(std::shared_ptr<const VolumeState> volume) : volume_(std::move(volume)) {}

    std::unique_ptr<Folder> openFolder(const std::string& path, int& error) const override {
        std::unique_ptr<ImageFolder> folder = root(error);
        for (std::size_t at = 0; folder && at < path.size();) {
            const std::size_t end = std::min(path.find('/', at), path.size());
            const std::string name = path.substr(at, end - at);
            at = end + 1;
            if (name.empty() || name == ".")
                continue;
            folder = child(*folder, name, error);
        }
        return folder;
    }
    std::unique_ptr<Folder> openFolder(const Folder& in, const std::string& name,
                                       int& error) const override {
        const auto* folder = dynamic_cast<const ImageFolder*>(&in);
        if (!folder) {
            error = EINVAL;
            return nullptr;
        }
        return child(*folder, name, error);
    }
    std::unique_ptr<OpenFile> openFile(const std::string& path, int& error) const override {
        const std::size_t slash = path.rfind('/');
        const std::string parent = slash == std::string::npos ? "/" : path.substr(0, slash);
        const std::unique_ptr<Folder> folder = openFolder(parent.empty() ? "/" : parent, error);
        if (!folder)
            return nullptr;
        return openFile(*folder, path.substr(slash == std::string::npos ? 0 : slash + 1), error);
    }
    std::unique_ptr<OpenFile> openFile(const Folder& in, const std::string& name,
                                       int& error) const override {
        const auto* folder = dynamic_cast<const ImageFolder*>(&in);
        const ImageFolder::Entry* entry = folder ? folder->find(name, volume_->caseless) : nullptr;
        if (!entry) {
            error = folder ? ENOENT : EINVAL;
            return nullptr;
        }
        if (entry->kind != EntryKind::File) {
            error = entry->kind == EntryKind::Link     ? ELOOP
                    : entry->kind == EntryKind::Folder ? EISDIR
                                                       : EINVAL;
            return nullptr;
        }
        const std::lock_guard held(volume_->image->lock);
        TSK_FS_FILE* file = tsk_fs_file_open_meta(volume_->fs, nullptr, entry->address);
        if (!file || !file->meta || file->meta->type != TSK_FS_META_TYPE_REG) {
            tsk_error_reset();
            if (file)
                tsk_fs_file_close(file);
            error = file ? EINVAL : EIO;
            return nullptr;
        }
        const FileIdentity identity = IdentityOf(*volume_, entry->address, file->meta);
        return std::make_unique<ImageOpenFile>(volume_, file, identity,
                                               entry->deleted || folder->deleted());
    }

    // Its folders are walked from the root and a link is never followed, whatever is asked:
    // one is a link here as it is on the disk.
    EntryKind kindAt(const std::string& path, bool, int& error) const override {
        std::size_t end = path.size();
        while (end > 0 && path[end - 1] == '/')
            --end;
        if (end == 0) // the root
            return root(error) ? EntryKind::Folder : EntryKind::Unknown;
        const std::size_t slash = path.rfind('/', end - 1);
        const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
        const std::string name = path.substr(start, end - start);
        const std::string parent = path.substr(0, start);
        const std::unique_ptr<Folder> folder = openFolder(parent.empty() ? "/" : parent, error);
        if (!folder)
            return EntryKind::Unknown;
        if (name.empty() || name == ".")
            return EntryKind::Folder;
        const auto* in = dynamic_cast<const ImageFolder*>(folder.get());
        const ImageFolder::Entry* entry = in ? in->find(name, volume_->caseless) : nullptr;
        if (!entry || entry->kind == EntryKind::Unknown) {
            error = entry ? EIO : ENOENT;
            return EntryKind::Unknown;
        }
        return entry->kind;
    }
    bool followsLinks() const override { return false; }
    std::unique_ptr<OpenFile> openFileFollowingLinks(const std::string& path,
                                                     int& error) const override {
        return openFile(path, error);
    }

  private:
    std::unique_ptr<ImageFolder> root(int& error) const {
        return load("/", volume_->fs->root_inum, false, error);
    }
    std::unique_ptr<ImageFolder> child(const ImageFolder& in, const std::string& name,
                                       int& error) const {
        const ImageFolder::Entry* entry = in.find(name, volume_->caseless);
        if (!entry) {
            error = ENOENT;
            return nullptr;
        }
        if (entry->kind != EntryKind::Folder) {
            error = entry->kind == EntryKind::Link ? ELOOP : ENOTDIR;
            return nullptr;
        }
        const std::string path = in.path() == "/" ? "/" + name : in.path() + "/" + name;
        return load(path, entry->address, entry->deleted || in.deleted(), error);
    }
    // Reads a folder's names once, when it is opened: the readers list it or open names in it.
    std::unique_ptr<ImageFolder> load(std::string path, TSK_INUM_T address, bool deleted,
                                      int& error) const {
        const std::lock_guard held(volume_->image->lock);
        auto& kept = volume_->folders[address];
        if (!kept) {
            kept = read(address);
            if (!kept) {
                volume_->folders.erase(address);
                error = EIO;
                return nullptr;
            }
        }
        return std::make_unique<ImageFolder>(std::move(path), kept, deleted);
    }
    std::shared_ptr<const FolderContents> read(TSK_INUM_T address) const {
        TSK_FS_DIR* dir = tsk_fs_dir_open_meta(volume_->fs, address);
        if (!dir) {
            tsk_error_reset();
            return nullptr;
        }
        const TSK_FS_META* meta = dir->fs_file ? dir->fs_file->meta : nullptr;
        auto folder = std::make_shared<FolderContents>();
        folder->identity = IdentityOf(*volume_, address, meta);
        const std::size_t count = tsk_fs_dir_getsize(dir);
        // The live names first; then, when asked, each deleted name that no live or earlier
        // deleted name already takes (a cache rewrites the same file names over and over),
        // and only where it still points at a file's record.
        for (const bool live : {true, false}) {
            if (!live && !volume_->withDeleted)
                break;
            for (std::size_t i = 0; i < count; ++i) {
                const TSK_FS_NAME* name = tsk_fs_dir_get_name(dir, i);
                if (!name || !name->name || ((name->flags & TSK_FS_NAME_FLAG_ALLOC) != 0) != live)
                    continue;
                std::string text = name->name;
                // The library adds a folder of files no name points to; it is not on the disk.
                if (text.empty() || text == "." || text == ".." ||
                    name->type == TSK_FS_NAME_TYPE_VIRT_DIR || name->type == TSK_FS_NAME_TYPE_VIRT)
                    continue;
                if (!live && TSK_FS_TYPE_ISFAT(volume_->fs->ftype))
                    RestoreFatName(text);
                if (!live && (name->meta_addr == 0 || folder->find(text, volume_->caseless) ||
                              !Unallocated(name->meta_addr)))
                    continue;
                folder->add(std::move(text), name->meta_addr, KindOf(name->type), !live);
            }
        }
        tsk_fs_dir_close(dir);
        return folder;
    }

    // Whether the record at `address` belongs to no live file. A deleted name whose record a
    // live file took since would lead to that file (a folder of live files read as deleted).
    bool Unallocated(TSK_INUM_T address) const {
        TSK_FS_FILE* file = tsk_fs_file_open_meta(volume_->fs, nullptr, address);
        const bool free = file && file->meta && (file->meta->flags & TSK_FS_META_FLAG_UNALLOC);
        if (file)
            tsk_fs_file_close(file);
        tsk_error_reset();
        return free;
    }

    std::shared_ptr<const VolumeState> volume_;
};

bool Caseless(TSK_FS_TYPE_ENUM type) {
    return TSK_FS_TYPE_ISNTFS(type) || TSK_FS_TYPE_ISFAT(type) || TSK_FS_TYPE_ISHFS(type) ||
           TSK_FS_TYPE_ISAPFS(type);
}

std::string FormatName(TSK_IMG_TYPE_ENUM type) {
    if (TSK_IMG_TYPE_ISRAW(type))
        return "raw";
    if (TSK_IMG_TYPE_ISEWF(type))
        return "ewf";
    if (TSK_IMG_TYPE_ISAFF(type))
        return "aff";
    if (type == TSK_IMG_TYPE_VHD_VHD)
        return "vhd";
    if (type == TSK_IMG_TYPE_VMDK_VMDK)
        return "vmdk";
    const char* name = tsk_img_type_toname(type);
    return name ? name : "unknown";
}

// The file system the first bytes at `offset` announce: the library's own detection gives
// up on a damaged one with no word of what it was, where opening it as what it says it is
// tells what is wrong with it.
TSK_FS_TYPE_ENUM AnnouncedFileSystem(TSK_IMG_INFO* img, std::uint64_t offset) {
    char b[2048] = {};
    if (tsk_img_read(img, static_cast<TSK_OFF_T>(offset), b, sizeof b) !=
        static_cast<ssize_t>(sizeof b)) {
        tsk_error_reset();
        return TSK_FS_TYPE_UNSUPP;
    }
    const auto at = [&](std::size_t i, std::string_view text) {
        return std::string_view(b + i, text.size()) == text;
    };
    if (at(3, "NTFS    "))
        return TSK_FS_TYPE_NTFS;
    if (at(3, "EXFAT   "))
        return TSK_FS_TYPE_EXFAT;
    if (at(54, "FAT1") || at(82, "FAT32"))
        return TSK_FS_TYPE_FAT_DETECT;
    if (at(1080, "\x53\xEF"))
        return TSK_FS_TYPE_EXT_DETECT;
    if (at(1024, "H+") || at(1024, "HX"))
        return TSK_FS_TYPE_HFS_DETECT;
    if (at(32, "NXSB"))
        return TSK_FS_TYPE_APFS_DETECT;
    return TSK_FS_TYPE_UNSUPP;
}

// Opens the file system at `offset` into the image as one more volume; a problem otherwise,
// and `announced` set when the volume says it holds a file system that could not be opened.
bool AddVolume(const std::shared_ptr<ImageState>& state, DiskImage& image, std::string partition,
               std::uint64_t offset, std::uint64_t imageId, bool withDeleted, bool& announced) {
    TSK_FS_INFO* fs =
        tsk_fs_open_img(state->img, static_cast<TSK_OFF_T>(offset), TSK_FS_TYPE_DETECT);
    if (!fs) {
        std::string problem = "no file system that can be read (" + TskError() + ")";
        const TSK_FS_TYPE_ENUM type = AnnouncedFileSystem(state->img, offset);
        if (type != TSK_FS_TYPE_UNSUPP) {
            fs = tsk_fs_open_img(state->img, static_cast<TSK_OFF_T>(offset), type);
            if (!fs) {
                const char* name = tsk_fs_type_toname(type);
                problem = std::string("a damaged ") + (name ? name : "") +
                          " file system that cannot be read (" + TskError() + ")";
                announced = true;
            }
        }
        if (!fs) {
            image.problems.push_back((partition.empty() ? std::string("the image") : partition) +
                                     ": " + problem);
            return false;
        }
    }
    state->fileSystems.push_back(fs);
    auto volume = std::make_shared<VolumeState>();
    volume->image = state;
    volume->fs = fs;
    volume->device = imageId ^ (offset * 0x9E3779B97F4A7C15ull) ^ 0x5441'4D42'0000'0000ull;
    volume->caseless = Caseless(fs->ftype);
    volume->withDeleted = withDeleted;
    const char* type = tsk_fs_type_toname(fs->ftype);
    const bool caseless = volume->caseless;
    image.volumes.push_back({std::move(partition), type ? type : "unknown", offset, caseless,
                             std::make_shared<ImageFiles>(std::move(volume))});
    return true;
}

} // namespace

bool PlainExtents(const OpenFile& file, std::vector<ImageExtent>& out) {
    const auto* opened = dynamic_cast<const ImageOpenFile*>(&file);
    if (opened && opened->extents(out))
        return true;
    out.clear();
    return false;
}

std::shared_ptr<const DiskImage> OpenDiskImage(const std::string& path, std::string& error,
                                               bool withDeleted) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a file";
        return nullptr;
    }
    auto state = std::make_shared<ImageState>();
    state->img = tsk_img_open_utf8_sing(path.c_str(), TSK_IMG_TYPE_DETECT, 0);
    if (!state->img) {
        error = "an image that cannot be opened (" + TskError() + ")";
        return nullptr;
    }
    auto image = std::make_shared<DiskImage>();
    image->path = path;
    image->format = FormatName(state->img->itype);
    for (int i = 0; i < state->img->num_img && state->img->images; ++i)
        if (state->img->images[i])
            state->segments.emplace_back(state->img->images[i]);
    if (state->segments.empty())
        state->segments.push_back(path);
    for (const std::string& segment : state->segments)
        state->segmentIdentities.push_back(HostIdentityOf(segment));
    image->segments = state->segments;
    const std::uint64_t imageId = (static_cast<std::uint64_t>(st.st_dev) << 40) ^ st.st_ino;
    const auto imageSize = static_cast<std::uint64_t>(state->img->size);

    bool announced = false; // a file system said it was there, and could not be opened
    state->vs = tsk_vs_open(state->img, 0, TSK_VS_TYPE_DETECT);
    if (!state->vs) {
        tsk_error_reset();
        AddVolume(state, *image, "", 0, imageId, withDeleted, announced);
    } else {
        int number = 0;
        for (TSK_PNUM_T i = 0; i < state->vs->part_count; ++i) {
            const TSK_VS_PART_INFO* part = tsk_vs_part_get(state->vs, i);
            if (!part || !(part->flags & TSK_VS_PART_FLAG_ALLOC))
                continue;
            const std::string name = "p" + std::to_string(++number);
            const std::uint64_t blockSize = state->vs->block_size;
            const std::uint64_t offset = part->start * blockSize;
            if (offset >= imageSize) {
                image->problems.push_back(name + ": starts past the end of the image");
                continue;
            }
            if (part->len > (imageSize - offset) / blockSize)
                image->problems.push_back(name + ": ends past the end of the image");
            AddVolume(state, *image, name, offset, imageId, withDeleted, announced);
        }
    }
    if (image->volumes.empty()) {
        // Any file opens as a raw image: one with neither a partition table nor a file system
        // is simply no image, and has nothing more to say.
        if (image->format == "raw" && !state->vs && !announced)
            error.clear();
        else
            error = "a " + image->format + " image holding no file system that can be read" +
                    (image->problems.empty() ? "" : " (" + image->problems.front() + ")");
        return nullptr;
    }
    return image;
}

} // namespace platform
