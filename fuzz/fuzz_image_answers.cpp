// libFuzzer target: any bytes as what the disk image reader process says: the stream its
// messages arrive in, as the program splits it, and each answer as the program reads it (a
// folder's listing, an opened file, where a folder's files lie, an opened image, the bytes of
// a read). Nothing may crash or leak, and what an answer is read as must hold together:
// stretches that cover their file from its start, first bytes no longer than the file, a
// read no longer than asked, entry kinds the file-access seam knows; an answer refused is
// refused whole.
#include "platform/image/reader_protocol.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using namespace platform;
using namespace platform::reader_protocol;

void Check(bool holds) {
    if (!holds)
        std::abort();
}

void CheckPlaced(const PlacedFiles& placed) {
    for (const auto& [name, file] : placed)
        Check(file.extents.empty() ? file.identity.size == 0
                                   : CoversFile(file.extents, file.identity.size));
}

void ReadAnswer(std::uint8_t which, std::string_view answer, std::size_t asked) {
    switch (which % 5) {
    case 0: {
        Listing listing;
        const int error = ReadListing(answer, listing);
        Check(error == listing.error);
        if (error != 0)
            Check(listing.entries.empty() && !listing.placed);
        for (const FolderEntry& e : listing.entries)
            Check(e.kind <= EntryKind::Unknown);
        if (listing.placed)
            CheckPlaced(*listing.placed);
        break;
    }
    case 1: {
        OpenedFile file;
        if (ReadOpenedFile(answer, file) == 0)
            Check(file.id != 0 && file.head.size() <= file.identity.size &&
                  (file.extents.empty() || CoversFile(file.extents, file.identity.size)));
        else
            Check(file.extents.empty() && file.head.empty());
        break;
    }
    case 2: {
        PlacedFiles placed;
        if (ReadPlacedFiles(answer, placed) == 0)
            CheckPlaced(placed);
        else
            Check(placed.empty());
        break;
    }
    case 3: {
        DiskImage image;
        std::string error;
        if (ReadOpenedImage(answer, image, error) == 0)
            Check(!image.segments.empty());
        else
            Check(image.volumes.empty() && image.segments.empty());
        break;
    }
    default: {
        std::string bytes;
        if (ReadBytes(answer, asked, bytes) == 0)
            Check(bytes.size() <= asked);
        else
            Check(bytes.empty());
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const auto which = in.ConsumeIntegral<std::uint8_t>();
    const auto asked = in.ConsumeIntegralInRange<std::size_t>(0, kMostRead);
    const std::string bytes = in.ConsumeRemainingBytesAsString();
    ReadAnswer(which, bytes, asked);
    // The same bytes as a stream of messages: each one split off is read as an answer too.
    const int fd = ::memfd_create("answers", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    Check(WriteAll(fd, bytes) && ::lseek(fd, 0, SEEK_SET) == 0);
    Messages messages(fd, 64); // small reads: messages split across them

    std::size_t taken = 0;
    while (const auto message = messages.next()) {
        taken += 4 + message->size();
        ReadAnswer(which, *message, asked);
    }
    Check(taken <= bytes.size());
    ::close(fd);
    return 0;
}
