// The `image` command: a disk image as the program opens it: its format and the files it is
// made of, each file system found (partition, type, where it starts), what in the image could
// not be read, and the folders of each file system's root.
//
// Usage: tamberlin-cacheinfo image <image file>
// Exit status: 0 read (parts may still be damaged), 1 no image with a file system that can be
// read, 2 a usage error.
#include "cacheinfo.h"

#include "platform/image/image_reader.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace cacheinfo {

int ImageCommand(const Call& call) {
    if (call.args.size() != 1)
        return Usage(call, "<image file>");
    const std::string path = call.args[0];
    std::string error;
    const auto image = platform::OpenDiskImageApart(path, error);
    if (!image) {
        std::printf("%s: %s\n", Shown(path).c_str(),
                    error.empty() ? "no disk image (no partition table or file system found)"
                                  : Shown(error).c_str());
        return 1;
    }
    std::printf("image: %s\nformat: %s\n", Shown(image->path).c_str(), image->format.c_str());
    for (const std::string& segment : image->segments)
        std::printf("  file: %s\n", Shown(segment).c_str());
    for (const platform::ImageVolume& volume : image->volumes) {
        std::printf("file system %s: %s at byte %llu\n",
                    volume.partition.empty() ? "(no partition table)" : volume.partition.c_str(),
                    volume.fileSystem.c_str(), static_cast<unsigned long long>(volume.offset));
        int code = 0;
        std::vector<platform::FolderEntry> entries;
        if (const auto root = volume.files->openFolder("/", code))
            code = root->list(entries);
        if (code != 0)
            std::printf("  the root folder cannot be read\n");
        std::sort(entries.begin(), entries.end(),
                  [](const auto& a, const auto& b) { return a.name < b.name; });
        for (const platform::FolderEntry& e : entries)
            if (e.kind == platform::EntryKind::Folder)
                std::printf("  /%s/\n", Shown(e.name).c_str());
    }
    for (const std::string& problem : image->problems)
        std::printf("not read: %s\n", Shown(problem).c_str());
    return 0;
}

} // namespace cacheinfo
