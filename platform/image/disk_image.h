// Disk images read in place: a raw, split raw, EnCase, AFF, VHD or VMDK image, its partition
// table (MBR with extended partitions, GPT, or none) and each file system in it. Each file
// system is a tree of the file-access seam, so every reader reads it as it reads a folder:
// nothing is mounted, extracted or written, and no privilege is needed. The images are read
// through The Sleuth Kit by a process of their own (image_reader.h); this library does not
// link it.
//
// An image is untrusted like a cache: what cannot be read (a partition past the end of the
// image, a damaged file system) is named in `problems` and the rest is still read.
#pragma once

#include "platform/base/file_access.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// One file system in an image. Paths in `files` start at its root: "/Users/carol/...".
struct ImageVolume {
    // "p1", "p2"... for the partitions that hold data, in the table's order; empty for an image
    // that is one file system with no partition table.
    std::string partition;
    std::string fileSystem;   // "ntfs", "ext4", "fat32"...
    std::uint64_t offset = 0; // bytes from the image's start
    bool caseless = false;    // names are found whatever their case (NTFS, FAT, HFS+, APFS)
    std::shared_ptr<const FileAccess> files;
};

struct DiskImage {
    std::string path;                  // as it was named
    std::vector<std::string> segments; // every file the image is made of, the named one first
    std::string format;                // "raw", "ewf", "vhd", "vmdk", "aff"
    std::vector<ImageVolume> volumes;
    std::vector<std::string> problems; // "p3: ..." for each part that could not be read
    // Read apart (image_reader.h): why the reader stopped, once it has; empty before.
    std::function<std::string()> failure = [] { return std::string(); };
};

// Where a stretch of a file lies in the image's own bytes (the segments one after another).
struct ImageExtent {
    std::uint64_t fileOffset = 0;
    std::uint64_t length = 0;
    std::uint64_t imageOffset = 0; // none for a hole
    bool hole = false;             // reads as zero bytes
};

} // namespace platform
