#include "platform/sleuthkit/image_server.h"

#include "platform/image/reader_protocol.h"
#include "platform/sleuthkit/tsk_image.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

using namespace reader_protocol;

class Server {
  public:
    explicit Server(ReaderFault fault) : fault_(fault) {}
    std::string answer(std::string_view request) {
        Reader in(request);
        const auto op = static_cast<Op>(in.u8());
        Writer out;
        switch (op) {
        case Op::Open: {
            const std::string path = in.text();
            return open(path, in.u8() == 1);
        }
        case Op::Folder: {
            int error = EINVAL;
            const FileAccess* files = volume(in.u64());
            const std::string path = in.text();
            const std::unique_ptr<Folder> folder =
                files && in.ok() ? files->openFolder(path, error) : nullptr;
            if (!folder)
                return out.u64(static_cast<std::uint64_t>(error)).framed();
            std::vector<FolderEntry> entries;
            const int listed = folder->list(entries);
            out.u64(0).identity(folder->identity()).u64(static_cast<std::uint64_t>(listed));
            out.u64(entries.size());
            std::size_t regular = 0;
            for (const FolderEntry& e : entries) {
                out.text(e.name).u8(static_cast<std::uint8_t>(e.kind) |
                                    (e.deleted ? kDeletedEntry : 0));
                regular += e.kind == EntryKind::File;
            }
            // Where the files of a small folder lie comes with it: most folders the walk
            // lists are small, and a file the readers open in one is then found at once.
            const bool placed = image_->format == "raw" && regular <= kPlacedWithListing;
            out.u8(placed ? 1 : 0);
            if (placed)
                place(*files, *folder, entries, out);
            return out.framed();
        }
        case Op::File: {
            int error = EINVAL;
            const FileAccess* files = volume(in.u64());
            const std::string path = in.text();
            std::unique_ptr<OpenFile> file =
                files && in.ok() ? (opening(), files->openFile(path, error)) : nullptr;
            if (!file)
                return out.u64(static_cast<std::uint64_t>(error)).framed();
            // The first bytes come with the file (unless the program reads them itself): most
            // cache files are read from the start, and many are small.
            std::vector<ImageExtent> extents;
            const bool mapped = PlainExtents(*file, extents);
            std::string head(mapped ? 0
                                    : static_cast<std::size_t>(
                                          std::min<std::uint64_t>(file->size(), kHeadBytes)),
                             '\0');
            std::size_t have = 0;
            while (have < head.size()) {
                const std::ptrdiff_t got =
                    file->readSome(have, head.data() + have, head.size() - have);
                if (got <= 0)
                    break;
                have += static_cast<std::size_t>(got);
            }
            head.resize(have);
            out.u64(0).u64(next_).identity(file->identity()).u64(extents.size());
            for (const ImageExtent& e : extents)
                out.u64(e.fileOffset).u64(e.length).u64(e.imageOffset).u8(e.hole ? 1 : 0);
            out.text(head);
            files_[next_++] = std::move(file);
            return out.framed();
        }
        case Op::Read: {
            const auto it = files_.find(in.u64());
            const std::uint64_t offset = in.u64();
            const std::uint64_t n = std::min<std::uint64_t>(in.u64(), kMostRead);
            if (it == files_.end() || !in.ok())
                return out.u64(EINVAL).framed();
            std::string bytes(static_cast<std::size_t>(n), '\0');
            const std::ptrdiff_t got = it->second->readSome(offset, bytes.data(), bytes.size());
            if (got < 0)
                return out.u64(EIO).framed();
            bytes.resize(static_cast<std::size_t>(got));
            return out.u64(0).text(bytes).framed();
        }
        case Op::FolderFiles: { // where each file of a folder lies, for those that tell it
            int error = EINVAL;
            const FileAccess* files = volume(in.u64());
            const std::string path = in.text();
            const std::unique_ptr<Folder> folder =
                files && in.ok() ? files->openFolder(path, error) : nullptr;
            std::vector<FolderEntry> entries;
            if (!folder || folder->list(entries) != 0 || entries.size() > kMostFolderFiles)
                return out.u64(folder ? EFBIG : static_cast<std::uint64_t>(error)).framed();
            out.u64(0);
            place(*files, *folder, entries, out);
            return out.framed();
        }
        case Op::Close: { // told, not asked: no answer
            const std::uint64_t id = in.u64();
            files_.erase(id);
            return {};
        }
        }
        return out.u64(EINVAL).framed();
    }

  private:
    // Before a file is opened: where the test fault strikes.
    void opening() const {
        // (abort: a sanitizer built into the reader catches SIGSEGV and takes its time to
        // report it, longer than a short answer time under load; it lets SIGABRT kill.)
        if (fault_ == ReaderFault::CrashAtRead)
            std::abort();
        while (fault_ == ReaderFault::HangAtRead)
            ::pause();
    }
    // Where each file of `folder` lies, for those whose bytes lie plainly in the image: their
    // count, then each one's name, identity and extents.
    void place(const FileAccess& files, const Folder& folder,
               const std::vector<FolderEntry>& entries, Writer& out) {
        Writer found;
        std::uint64_t count = 0;
        std::vector<ImageExtent> extents;
        for (const FolderEntry& e : entries) {
            int error = 0;
            const std::unique_ptr<OpenFile> file =
                e.kind == EntryKind::File ? (opening(), files.openFile(folder, e.name, error))
                                          : nullptr;
            if (!file || !PlainExtents(*file, extents) || extents.size() > kMostFolderFileExtents)
                continue;
            found.text(e.name).identity(file->identity()).u64(extents.size());
            for (const ImageExtent& x : extents)
                found.u64(x.fileOffset).u64(x.length).u64(x.imageOffset).u8(x.hole ? 1 : 0);
            ++count;
        }
        out.u64(count).raw(found);
    }

    std::string open(const std::string& path, bool withDeleted) {
        Writer out;
        std::string error;
        image_ = OpenDiskImage(path, error, withDeleted);
        if (!image_)
            return out.u64(ENOENT).text(error).framed();
        out.u64(0).text(image_->format).u64(image_->segments.size());
        for (const std::string& s : image_->segments)
            out.text(s);
        out.u64(image_->volumes.size());
        for (const ImageVolume& v : image_->volumes)
            out.text(v.partition).text(v.fileSystem).u64(v.offset).u8(v.caseless ? 1 : 0);
        out.u64(image_->problems.size());
        for (const std::string& p : image_->problems)
            out.text(p);
        return out.framed();
    }
    const FileAccess* volume(std::uint64_t index) const {
        if (!image_ || index >= image_->volumes.size())
            return nullptr;
        return image_->volumes[static_cast<std::size_t>(index)].files.get();
    }

    ReaderFault fault_;
    std::shared_ptr<const DiskImage> image_;
    std::map<std::uint64_t, std::unique_ptr<OpenFile>> files_;
    std::uint64_t next_ = 1;
};

} // namespace

int ServeImageRequests(int in, int out, ReaderFault fault) {
    Server server(fault);
    Messages requests(in);
    while (const auto request = requests.next()) {
        const std::string answer = server.answer(*request);
        if (!answer.empty() && !WriteAll(out, answer))
            return 1;
    }
    return 0;
}

} // namespace platform
