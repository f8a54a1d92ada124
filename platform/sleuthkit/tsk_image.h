// Disk images read through The Sleuth Kit, in this process: only the image reader's own
// program (tamberlin-image-reader) and the tests use this; the program asks that process
// (platform/image/image_reader.h).
#pragma once

#include "platform/image/disk_image.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {

// Where every byte of `file`, opened from a volume of a raw or split raw image, lies in the
// image, in order from its start; false when its bytes are not simply there to be read
// (compressed, encrypted, kept inside a metadata record, in an image format that packs them,
// or a map that does not cover the whole file inside the image).
bool PlainExtents(const OpenFile& file, std::vector<ImageExtent>& out);

// Opens the image `path` names, found by its content whatever its name. Null when it is no
// image that can be read: `error` then says what it is ("an ewf image holding no file system
// that can be read (...)"), or is empty for a file that is no disk image at all. With
// `withDeleted`, folders also list what their file systems still name of deleted files and
// folders (FolderEntry::deleted), and those open as deleted.
std::shared_ptr<const DiskImage> OpenDiskImage(const std::string& path, std::string& error,
                                               bool withDeleted = false);

} // namespace platform
