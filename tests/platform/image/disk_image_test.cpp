// Disk images made from a folder with Debian's tools read back through the file-access seam
// exactly as the folder holds them, in every container, partition table and file system.
#include "platform/base/paths.h"
#include "platform/sleuthkit/tsk_image.h"

#include "image_builder.h"
#include "sha256.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchFolder;

// n bytes from `offset` of the image its segments make, one after another.
std::string ImageBytes(const std::vector<std::string>& segments, std::uint64_t offset,
                       std::size_t n) {
    std::string out;
    for (const std::string& segment : segments) {
        const std::uint64_t size = fs::file_size(segment);
        if (offset < size && out.size() < n) {
            std::ifstream in(segment, std::ios::binary);
            in.seekg(static_cast<std::streamoff>(offset));
            std::string piece(std::min<std::uint64_t>(n - out.size(), size - offset), '\0');
            in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
            out += piece;
        }
        offset -= std::min(offset, size);
    }
    return out;
}

// Every file under `folder` of the tree, path → content, read through the seam; and those
// whose extents in the image are given, read there too (`mapped`).
void ReadTree(const platform::FileAccess& files, const platform::Folder& folder,
              const std::string& path, std::map<std::string, std::string>& out,
              const std::vector<std::string>& segments, std::set<std::string>& mapped) {
    std::vector<platform::FolderEntry> entries;
    ASSERT_EQ(folder.list(entries), 0) << path;
    for (const auto& entry : entries) {
        int error = 0;
        if (entry.kind == platform::EntryKind::Folder) {
            const auto inner = files.openFolder(folder, entry.name, error);
            ASSERT_TRUE(inner) << path << entry.name << ": " << error;
            ReadTree(files, *inner, path + entry.name + "/", out, segments, mapped);
        } else if (entry.kind == platform::EntryKind::File) {
            const auto file = files.openFile(folder, entry.name, error);
            ASSERT_TRUE(file) << path << entry.name << ": " << error;
            std::string bytes(file->size(), '\0');
            ASSERT_TRUE(file->readAt(0, bytes.data(), bytes.size())) << path << entry.name;
            // Pieces too, as the readers take them: a header, the last bytes, across blocks.
            for (const auto& [at, n] :
                 {std::pair<std::size_t, std::size_t>{0, 64},
                  {bytes.size() / 2, 5000},
                  {bytes.size() - std::min<std::size_t>(4096, bytes.size()), 4096}}) {
                std::string piece(std::min(n, bytes.size() - std::min(at, bytes.size())), '\0');
                EXPECT_TRUE(file->readAt(at, piece.data(), piece.size())) << entry.name << at;
                EXPECT_EQ(piece, bytes.substr(std::min(at, bytes.size()), piece.size()));
            }
            out[path + entry.name] = bytes;
            std::vector<platform::ImageExtent> extents;
            if (platform::PlainExtents(*file, extents)) {
                std::string there;
                for (const auto& e : extents)
                    there += e.hole ? std::string(e.length, '\0')
                                    : ImageBytes(segments, e.imageOffset, e.length);
                EXPECT_EQ(there, bytes) << path << entry.name;
                mapped.insert(path + entry.name);
            }
        }
    }
}

// The tree the images are made of: a little home, one body larger than the library's
// 64 KiB read cache, a name with spaces and one that is not ASCII.
class DiskImages : public testing::Test {
  protected:
    void SetUp() override {
        std::string big(300000, '\0');
        for (std::size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<char>(i * 7 + i / 251);
        tree_ = {{"home/dana/.cache/a/picture.jpg", "\xff\xd8\xff\xe0 a jpeg"},
                 {"home/dana/.cache/a/big body", big},
                 {"home/dana/Caf\xc3\xa9/empty", ""},
                 {"Users/carol/AppData/Local/note.txt", "carol"}};
        for (const auto& [path, content] : tree_)
            scratch_.file("tree/" + path, content);
    }
    // Opens the image and checks each volume holds the tree; the partition names found.
    void ExpectTree(const fs::path& image, const std::vector<std::string>& partitions) {
        const std::string before = browser_test::Sha256Hex(testing_support::ReadAll(image));
        std::string error;
        const auto opened = platform::OpenDiskImage(image.string(), error);
        ASSERT_TRUE(opened) << image << ": " << error;
        ASSERT_EQ(opened->volumes.size(), partitions.size()) << image;
        for (std::size_t i = 0; i < partitions.size(); ++i) {
            const platform::ImageVolume& volume = opened->volumes[i];
            EXPECT_EQ(volume.partition, partitions[i]);
            int code = 0;
            const auto root = volume.files->openFolder("/", code);
            ASSERT_TRUE(root) << code;
            std::map<std::string, std::string> read;
            std::set<std::string> mapped;
            ReadTree(*volume.files, *root, "", read, opened->segments, mapped);
            // Where its bytes lie is given for a raw image only (and a file held in its
            // metadata record, as NTFS keeps small ones, has none).
            EXPECT_EQ(mapped.count("home/dana/.cache/a/big body"), opened->format == "raw");
            for (const auto& [path, content] : tree_) // FAT adds nothing, NTFS its $ files
                EXPECT_EQ(read[path], content) << image << " " << volume.partition << " " << path;
            // Case is ignored where the file system ignores it.
            const auto upper = volume.files->openFile("/HOME/DANA/.cache/a/picture.jpg", code);
            EXPECT_EQ(upper != nullptr, volume.fileSystem != "ext4") << volume.fileSystem;
        }
        EXPECT_EQ(browser_test::Sha256Hex(testing_support::ReadAll(image)), before);
    }
    fs::path at(const std::string& name) const { return scratch_.path() / name; }
    ScratchFolder scratch_;
    std::map<std::string, std::string> tree_;
};

TEST_F(DiskImages, EveryFileSystemAloneAndInEveryPartitionTableReadsAsTheTree) {
    for (const std::string type : {"ext4", "fat", "fat32", "ntfs"}) {
        SCOPED_TRACE(type);
        const std::string error = testing_support::MakeFileSystem(type, at("tree"), at(type));
        SKIP_WITHOUT_IMAGE_TOOLS(error);
        ExpectTree(at(type), {""});
    }
    for (const std::string table : {"gpt", "dos"}) {
        const std::string error = testing_support::MakePartitionedDisk(
            table, {at("ntfs"), at("fat"), at("ext4")}, at(table));
        SKIP_WITHOUT_IMAGE_TOOLS(error);
        ExpectTree(at(table), {"p1", "p2", "p3"});
    }
}

TEST_F(DiskImages, SplitE01VhdAndVmdkGiveWhatTheRawDiskGives) {
    std::string error = testing_support::MakeFileSystem("ext4", at("tree"), at("ext4"));
    SKIP_WITHOUT_IMAGE_TOOLS(error);
    error = testing_support::MakePartitionedDisk("gpt", {at("ext4")}, at("disk.raw"));
    SKIP_WITHOUT_IMAGE_TOOLS(error);
    for (const std::string format : {"split", "E01", "vhd", "vmdk"}) {
        SCOPED_TRACE(format);
        fs::path named;
        error = testing_support::ConvertImage(at("disk.raw"), format, at("disk-" + format), named);
        SKIP_WITHOUT_IMAGE_TOOLS(error);
        ExpectTree(named, {"p1"});
        std::string why;
        const auto image = platform::OpenDiskImage(named.string(), why);
        ASSERT_TRUE(image) << why;
        EXPECT_EQ(image->segments.size() > 1, format == "split" || format == "E01");
        EXPECT_EQ(image->segments.front(), named.string());
    }
    // Found by content, not by name. A file that is no image is refused with nothing to say;
    // an E01 cut short after its header is refused saying what it is.
    fs::copy_file(at("disk.raw"), at("evidence.bin"));
    ExpectTree(at("evidence.bin"), {"p1"});
    std::string why = "?";
    EXPECT_FALSE(platform::OpenDiskImage(at("tree/Users/carol/AppData/Local/note.txt"), why));
    EXPECT_EQ(why, "");
    fs::create_directories(at("cut"));
    fs::copy_file(at("disk-E01.E01"), at("cut/disk.E01"));
    fs::resize_file(at("cut/disk.E01"), 4096);
    EXPECT_FALSE(platform::OpenDiskImage(at("cut/disk.E01"), why));
    EXPECT_NE(why, "");
}

TEST(ImageFilePath, NamesTheImageThePartitionAndThePathInside) {
    EXPECT_EQ(platform::ImageFilePath("/ev/carol.E01", "p2", "/Users/carol/x"),
              "/ev/carol.E01 \u203a p2 \u203a /Users/carol/x");
    EXPECT_EQ(platform::ImageFilePath("/ev/usb.img", "", "/DCIM/a.jpg"),
              "/ev/usb.img \u203a /DCIM/a.jpg");
}

} // namespace
