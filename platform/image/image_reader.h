// Disk images are read by a child process, tamberlin-image-reader (platform/sleuthkit), that
// holds The Sleuth Kit:
// a crafted image that crashes or hangs the library then stops that process only. The
// program asks it over a pipe for what the file-access seam needs (open a folder or a file,
// list, read at an offset, what a path is); every answer is bounds-checked, and one that does
// not come within the time allowed ends the reader, after which every question about that
// image fails with EIO and the image says why (DiskImage::failure).
#pragma once

#include "platform/image/disk_image.h"

#include <chrono>
#include <memory>
#include <string>

namespace platform {

struct ImageReaderOptions {
    // How long one answer may take: reading a folder of a damaged file system, or 1 MiB of a
    // file, takes far less.
    std::chrono::milliseconds timeout{10000};
    // The reader program; empty: tamberlin-image-reader beside the running program, else in
    // the installed program folder.
    std::string program;
    // Folders also list the deleted files and folders their file systems still name
    // (FolderEntry::deleted; such files open as deleted).
    bool withDeleted = false;
};

// OpenDiskImage through a reader process of its own.
std::shared_ptr<const DiskImage> OpenDiskImageApart(const std::string& path, std::string& error,
                                                    const ImageReaderOptions& options = {});

} // namespace platform
