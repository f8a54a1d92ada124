// Disk images made at test time from folders, with Debian's own tools and no root: a file
// system written from a tree (ext4, FAT, NTFS), put in a partition table (MBR, GPT), then
// converted (split raw, E01, VHD, VMDK). Each maker returns an empty string when it made the
// image, else why not; a missing tool is reported as "missing tool: NAME" so that a test can
// skip saying why.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// In a test: skips it when a maker said a tool is missing, fails it on any other error.
#define SKIP_WITHOUT_IMAGE_TOOLS(error)                                                            \
    do {                                                                                           \
        if ((error).rfind("missing tool", 0) == 0)                                                 \
            GTEST_SKIP() << (error);                                                               \
        ASSERT_EQ((error), "");                                                                    \
    } while (0)

namespace testing_support {

// The tool's full path, looked for in PATH and in the administrators' folders an ordinary
// user's PATH leaves out (mkfs.fat, mkntfs, sfdisk live there); empty when missing.
std::string FindTool(const std::string& name);

// Runs a tool (found by FindTool) with its arguments and `input` (a file) as its input:
// empty when it succeeded, else why.
std::string RunTool(const std::vector<std::string>& args, const std::string& input = "/dev/null");

// A file system of `type` ("ext4", "fat" for FAT12/16 as its size gives, "fat32", "ntfs") at `out`,
// holding `tree`'s files.
std::string MakeFileSystem(const std::string& type, const std::filesystem::path& tree,
                           const std::filesystem::path& out);

// A disk with a partition table ("gpt" or "dos") whose partitions hold the given file system
// images, in order, 1 MiB apart.
std::string MakePartitionedDisk(const std::string& table,
                                const std::vector<std::filesystem::path>& fileSystems,
                                const std::filesystem::path& out);

// The raw image converted to `format` ("split", "E01", "vhd", "vmdk"), written beside `base`
// (its name without extension); `named` is the file a user names.
std::string ConvertImage(const std::filesystem::path& raw, const std::string& format,
                         const std::filesystem::path& base, std::filesystem::path& named);

} // namespace testing_support
