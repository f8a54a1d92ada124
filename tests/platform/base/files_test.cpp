#include "platform/base/files.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
using testing_support::ReadAll;
using testing_support::ScratchFolder;
namespace fs = std::filesystem;

namespace {

bool onlyTheseFiles(const fs::path& folder, const std::set<std::string>& names) {
    std::set<std::string> found;
    for (const auto& e : fs::directory_iterator(folder))
        found.insert(e.path().filename().string());
    return found == names;
}

// The disk "fills up" after a number of bytes: the call that would pass it fails with err.
// Records which calls ran and which one failed.
struct FailAfter {
    FailAfter(std::uint64_t bytes, int err) {
        SetCopyCallHook([this, bytes, err](CopyCall call, std::uint64_t written, std::size_t& n) {
            calls.push_back(call);
            if (written >= bytes) {
                failed = call;
                return err;
            }
            n = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes - written));
            return 0;
        });
    }
    ~FailAfter() { SetCopyCallHook({}); }
    FailAfter(const FailAfter&) = delete;
    FailAfter& operator=(const FailAfter&) = delete;
    std::vector<CopyCall> calls;
    std::optional<CopyCall> failed;
};

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 7 + i / 4096);
    return s;
}

// A source that hands out content in pieces of at most `piece` bytes, failing (-1) once
// failAt bytes have gone out, if given.
ByteSource pieces(const std::string& content, std::size_t piece,
                  std::optional<std::size_t> failAt = std::nullopt) {
    auto at = std::make_shared<std::size_t>(0);
    return [=](char* buffer, std::size_t capacity) -> std::ptrdiff_t {
        if (failAt && *at >= *failAt)
            return -1;
        std::size_t n = std::min({capacity, piece, content.size() - *at});
        if (failAt)
            n = std::min(n, *failAt - *at);
        std::copy_n(content.data() + *at, n, buffer);
        *at += n;
        return static_cast<std::ptrdiff_t>(n);
    };
}

} // namespace

TEST(CopyFileReplacing, CopiesByteForByteAndReplacesAnExistingFile) {
    ScratchFolder d;
    const std::string content = pattern(3 * 1024 * 1024 + 17);
    const auto src = d.file("src/a.bin", content);
    const auto dst = d.file("out/a.bin", "old content");
    fs::permissions(dst, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(CopyFileReplacing(src, dst).status, CopyStatus::Copied);
    EXPECT_EQ(ReadAll(dst), content);
    EXPECT_TRUE(onlyTheseFiles(d.path() / "out", {"a.bin"}));
    // The replaced file keeps the permissions the user gave it.
    EXPECT_EQ(fs::status(dst).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    const auto fresh = (d.path() / "out/new.bin").string();
    EXPECT_EQ(CopyFileReplacing(src, fresh).status, CopyStatus::Copied);
    EXPECT_EQ(ReadAll(fresh), content);
    EXPECT_EQ(CopyFileReplacing(d.file("empty", ""), fresh).status, CopyStatus::Copied);
    EXPECT_EQ(ReadAll(fresh), "");
}

TEST(CopyFileReplacing, AFullDiskOrAnIoErrorInTheKernelCopyLeavesTheTargetAndNoTemporary) {
    ScratchFolder d;
    const auto src = d.file("src/big.bin", pattern(200000));
    const auto dst = d.file("out/big.bin", "precious old bytes");
    for (const int err : {ENOSPC, EIO}) {
        for (const std::uint64_t after : {0u, 65536u, 199999u}) {
            FailAfter fault(after, err);
            const auto r = CopyFileReplacing(src, dst);
            EXPECT_EQ(r.status, CopyStatus::Failed);
            EXPECT_EQ(r.error, std::strerror(err));
            // The path users run is the one that failed.
            EXPECT_EQ(fault.failed, CopyCall::KernelCopy);
            EXPECT_EQ(ReadAll(dst), "precious old bytes");
            EXPECT_TRUE(onlyTheseFiles(d.path() / "out", {"big.bin"})) << after;
        }
    }
    // A new target that cannot be completed is not left behind half-written either.
    {
        FailAfter fault(100, ENOSPC);
        EXPECT_EQ(CopyFileReplacing(src, d.str() + "/out/new.bin").status, CopyStatus::Failed);
    }
    EXPECT_TRUE(onlyTheseFiles(d.path() / "out", {"big.bin"}));

    // The source vanishes before the copy: nothing changes.
    fs::remove(src);
    EXPECT_EQ(CopyFileReplacing(src, dst).status, CopyStatus::Failed);
    EXPECT_EQ(ReadAll(dst), "precious old bytes");

    // A target folder that is gone, and a target that is a folder.
    const auto src2 = d.file("src/x.bin", "x");
    EXPECT_EQ(CopyFileReplacing(src2, d.str() + "/missing/x.bin").status, CopyStatus::Failed);
    fs::create_directories(d.path() / "out/folder.bin");
    EXPECT_EQ(CopyFileReplacing(src2, d.str() + "/out/folder.bin").status, CopyStatus::Failed);
    EXPECT_TRUE(fs::is_directory(d.path() / "out/folder.bin"));
    EXPECT_TRUE(onlyTheseFiles(d.path() / "out", {"big.bin", "folder.bin"}));
}

TEST(CopyFileReplacing, ReadOnlyTargetsAndTheSourceItselfAreLeftAlone) {
    ScratchFolder d;
    const auto src = d.file("a.jpg", "source");
    const auto ro = d.file("out/ro.jpg", "read-only");
    fs::permissions(ro, fs::perms::owner_read);
    EXPECT_EQ(CopyFileReplacing(src, ro).status, CopyStatus::Failed);
    EXPECT_EQ(ReadAll(ro), "read-only");
    EXPECT_EQ(CopyFileReplacing(src, src).status, CopyStatus::SameFile);
    EXPECT_EQ(ReadAll(src), "source");
    fs::create_symlink(src, d.path() / "out/link.jpg");
    EXPECT_EQ(CopyFileReplacing(src, d.str() + "/out/link.jpg").status, CopyStatus::SameFile);
    EXPECT_EQ(ReadAll(src), "source");
    EXPECT_TRUE(fs::is_symlink(d.path() / "out/link.jpg"));
}

TEST(CopyFileReplacing, ASourceThatGrowsDuringTheCopyIsAFailure) {
    ScratchFolder d;
    const auto src = d.file("a.bin", std::string(1000, 'a'));
    const auto dst = d.file("out/a.bin", "old");
    // The source grows after it was measured, just as the kernel copy starts.
    bool grown = false;
    SetCopyCallHook([&](CopyCall, std::uint64_t, std::size_t&) {
        if (!grown) {
            std::ofstream(src, std::ios::app) << std::string(500, 'b');
            grown = true;
        }
        return 0;
    });
    SetCopyBeforeRenameHook([&] { ADD_FAILURE() << "must not reach the rename"; });
    EXPECT_EQ(CopyFileReplacing(src, dst).status, CopyStatus::Failed);
    SetCopyBeforeRenameHook({});
    SetCopyCallHook({});
    EXPECT_TRUE(grown);
    EXPECT_EQ(ReadAll(dst), "old");
    EXPECT_TRUE(onlyTheseFiles(d.path() / "out", {"a.bin"}));
}

TEST(CopyFileReplacing, EveryNameTheFolderCanHoldCanBeSaved) {
    ScratchFolder d;
    const auto src = d.file("src.jpg", "picture");
    std::string accented;
    for (int i = 0; i < 85; ++i)
        accented += "\xE2\x82\xAC"; // the euro sign: 3 bytes each, 255 in all
    for (const std::string& name : {std::string(255, 'n'), accented}) {
        ASSERT_EQ(name.size(), 255u);
        const std::string target = d.str() + "/out/" + name;
        fs::create_directories(d.path() / "out");
        EXPECT_EQ(CopyFileReplacing(src, target).status, CopyStatus::Copied);
        EXPECT_EQ(ReadAll(target), "picture");
        // Replacing it works the same way.
        EXPECT_EQ(CopyFileReplacing(d.file("src2.jpg", "second"), target).status,
                  CopyStatus::Copied);
        EXPECT_EQ(ReadAll(target), "second");
        EXPECT_EQ(WriteStreamReplacing(pieces("third", 2), target).status, CopyStatus::Copied);
        EXPECT_EQ(ReadAll(target), "third");
        EXPECT_TRUE(onlyTheseFiles(d.path() / "out", {name}));
        fs::remove_all(d.path() / "out");
    }
}

TEST(CopyFileReplacing, PathsThatAreNotValidUtf8AreUsedAsTheyAre) {
    ScratchFolder d;
    const std::string folder = d.str() + "/cache\xFF\xFE";
    const std::string content = pattern(70000);
    const auto src = d.file("cache\xFF\xFE/a\x80.jpg", content);
    const auto out = d.file("out\xC3/keep", "");
    const std::string target = d.str() + "/out\xC3/b\xFF.jpg";
    EXPECT_TRUE(CanOpenExistingFile(src));
    EXPECT_TRUE(IsFolder(folder));
    EXPECT_EQ(CopyFileReplacing(src, target).status, CopyStatus::Copied);
    EXPECT_EQ(ReadAll(target), content);
    const auto read = ReadRegularFile(src, 1 << 20);
    EXPECT_EQ(read.status, ReadStatus::Read);
    EXPECT_EQ(read.bytes, content);
}

TEST(WriteStreamReplacing, WritesTheWholeStreamAndFailsCleanlyMidway) {
    ScratchFolder d;
    const std::string content = pattern(3 * 1024 * 1024 + 5);
    const auto dst = d.file("out/v.mp4", "precious old bytes");
    fs::permissions(dst, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // A source failing part-way: its own reason is reported, nothing else changes.
    const auto broken = WriteStreamReplacing(pieces(content, 100000, 250000), dst,
                                             [] { return "corrupt compressed data"; });
    EXPECT_EQ(broken.status, CopyStatus::Failed);
    EXPECT_EQ(broken.error, "corrupt compressed data");
    // Without a reason of its own the failure still says something.
    const auto unexplained = WriteStreamReplacing(pieces(content, 100000, 0), dst);
    EXPECT_EQ(unexplained.status, CopyStatus::Failed);
    EXPECT_FALSE(unexplained.error.empty());
    {
        FailAfter fault(1 << 20, EIO); // the disk fails under the write
        const auto r = WriteStreamReplacing(pieces(content, 300000), dst);
        EXPECT_EQ(r.error, std::strerror(EIO));
        EXPECT_EQ(fault.failed, CopyCall::Write);
    }
    EXPECT_EQ(ReadAll(dst), "precious old bytes");
    EXPECT_TRUE(onlyTheseFiles(d.path() / "out", {"v.mp4"}));

    // Complete: replaced with the permissions kept; a new file; an empty stream.
    EXPECT_EQ(WriteStreamReplacing(pieces(content, 77777), dst).status, CopyStatus::Copied);
    EXPECT_EQ(ReadAll(dst), content);
    EXPECT_EQ(fs::status(dst).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const std::string fresh = d.str() + "/out/new.bin";
    EXPECT_EQ(WriteStreamReplacing(pieces("", 1), fresh).status, CopyStatus::Copied);
    EXPECT_EQ(ReadAll(fresh), "");

    // The same refusals as a copy: a read-only file, a folder, a missing folder.
    const auto ro = d.file("out/ro.jpg", "read-only");
    fs::permissions(ro, fs::perms::owner_read);
    EXPECT_EQ(WriteStreamReplacing(pieces("x", 1), ro).status, CopyStatus::Failed);
    EXPECT_EQ(ReadAll(ro), "read-only");
    fs::create_directories(d.path() / "out/folder");
    EXPECT_EQ(WriteStreamReplacing(pieces("x", 1), d.str() + "/out/folder").status,
              CopyStatus::Failed);
    EXPECT_EQ(WriteStreamReplacing(pieces("x", 1), d.str() + "/gone/x").status, CopyStatus::Failed);
    EXPECT_TRUE(onlyTheseFiles(d.path() / "out", {"v.mp4", "new.bin", "ro.jpg", "folder"}));
}

TEST(WriteStreamReplacing, ASignalEndingTheProgramLeavesNoTemporaryFile) {
    enum Moment { MidWrite, BeforePlacing };
    for (const bool unnamed : {true, false})
        for (const int sig : {SIGINT, SIGTERM, SIGHUP})
            for (const Moment moment : {MidWrite, BeforePlacing})
                for (const bool existing : {true, false}) {
                    SCOPED_TRACE(::testing::Message()
                                 << "unnamed " << unnamed << ", signal " << sig << ", moment "
                                 << moment << ", existing " << existing);
                    ScratchFolder d;
                    const std::string target = d.str() + "/out/v.mp4";
                    fs::create_directories(d.path() / "out");
                    if (existing)
                        d.file("out/v.mp4", "old");
                    // The program as it runs, in a child: the signal ends it for real.
                    const pid_t pid = ::fork();
                    ASSERT_GE(pid, 0);
                    if (pid == 0) {
                        for (const int s : {SIGINT, SIGTERM, SIGHUP})
                            ::signal(s, SIG_DFL); // a test runner may have ignored them
                        RemoveTemporaryFilesOnSignal();
                        SetUnnamedTemporaryFiles(unnamed);
                        if (moment == BeforePlacing)
                            SetCopyBeforeRenameHook([sig] { ::raise(sig); });
                        int calls = 0;
                        WriteStreamReplacing(
                            [&](char* buffer, std::size_t capacity) -> std::ptrdiff_t {
                                if (moment == MidWrite && calls == 1)
                                    ::raise(sig);
                                if (calls++ == 3)
                                    return 0;
                                std::memset(buffer, 'n', capacity);
                                return static_cast<std::ptrdiff_t>(capacity);
                            },
                            target);
                        ::_exit(0);
                    }
                    int status = 0;
                    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
                    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
                    if (existing) {
                        EXPECT_EQ(ReadAll(target), "old");
                        EXPECT_TRUE(onlyTheseFiles(d.path() / "out", {"v.mp4"}));
                    } else {
                        EXPECT_TRUE(onlyTheseFiles(d.path() / "out", {}));
                    }
                }
}

TEST(WriteStreamReplacing, WhereTheFileSystemAllowsItTheTemporaryFileHasNoName) {
    ScratchFolder d;
    fs::create_directories(d.path() / "out");
    const int probe = ::open((d.str() + "/out").c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (probe < 0)
        GTEST_SKIP() << "this file system makes no unnamed files: " << std::strerror(errno);
    ::close(probe);
    const auto dst = d.file("out/v.mp4", "old");
    bool seen = false;
    int calls = 0;
    const auto r = WriteStreamReplacing(
        [&](char* buffer, std::size_t) -> std::ptrdiff_t {
            seen = seen || !onlyTheseFiles(d.path() / "out", {"v.mp4"});
            buffer[0] = 'n';
            return calls++ < 2 ? 1 : 0;
        },
        dst);
    EXPECT_EQ(r.status, CopyStatus::Copied);
    EXPECT_FALSE(seen) << "a temporary name showed in the folder during the write";
    EXPECT_EQ(ReadAll(dst), "nn");
}

TEST(ReadRegularFile, ReadsFilesUpToTheLimitAndRefusesEverythingElse) {
    ScratchFolder d;
    const auto f = d.file("a.bin", pattern(1000));
    EXPECT_EQ(ReadRegularFile(f, 1000).bytes, pattern(1000));
    EXPECT_EQ(ReadRegularFile(f, 999).status, ReadStatus::TooLarge);
    EXPECT_EQ(ReadRegularFile(d.file("empty", ""), 10).status, ReadStatus::Read);
    EXPECT_EQ(ReadRegularFile(d.str() + "/missing", 10).status, ReadStatus::Missing);
    EXPECT_EQ(ReadRegularFile("", 10).status, ReadStatus::Missing);
    EXPECT_EQ(ReadRegularFile(d.str(), 10).status, ReadStatus::NotAFile);

    // A file whose size says 0 but which holds more: the limit is on what is read.
    const auto maps = ReadRegularFile("/proc/self/maps", 1 << 20);
    if (maps.status == ReadStatus::Read && !maps.bytes.empty()) {
        EXPECT_EQ(ReadRegularFile("/proc/self/maps", 16).status, ReadStatus::TooLarge);
    }

    // A link to an endless device is refused before anything is read.
    fs::create_symlink("/dev/zero", d.path() / "zero.jpg");
    EXPECT_EQ(ReadRegularFile(d.str() + "/zero.jpg", 1 << 20).status, ReadStatus::NotAFile);
    EXPECT_FALSE(CanOpenExistingFile(d.str() + "/zero.jpg"));
}

TEST(ReadRegularFile, ANamedPipeIsRefusedOrPassedOverWithoutWaitingForAWriter) {
    ScratchFolder d;
    const std::string fifo = d.str() + "/pipe.jpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string target = d.str() + "/out.jpg";
    auto attempt = std::async(std::launch::async, [&] {
        ReadAhead(fifo, 1 << 20, {}); // (nothing to read ahead, and no wait for a writer)
        return std::make_pair(ReadRegularFile(fifo, 1 << 20).status,
                              CopyFileReplacing(fifo, target).status);
    });
    if (attempt.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "opening a named pipe blocked";
        // Let the blocked open go: a writer appears and leaves at once.
        for (int i = 0; i < 2; ++i)
            ::close(::open(fifo.c_str(), O_WRONLY));
    }
    const auto [read, copy] = attempt.get();
    EXPECT_EQ(read, ReadStatus::NotAFile);
    EXPECT_EQ(copy, CopyStatus::Failed);
    EXPECT_FALSE(CanOpenExistingFile(fifo));
    EXPECT_FALSE(fs::exists(target));
}

TEST(FileTests, OpenableFilesAndFolders) {
    ScratchFolder d;
    const auto f = d.file("a.txt", "x");
    EXPECT_TRUE(CanOpenExistingFile(f));
    EXPECT_FALSE(CanOpenExistingFile(d.str()));
    EXPECT_FALSE(CanOpenExistingFile(d.str() + "/missing"));
    EXPECT_FALSE(CanOpenExistingFile(""));
    EXPECT_FALSE(CanOpenExistingFile(d.file("a?.txt", "x")));
    EXPECT_TRUE(IsFolder(d.str()));
    EXPECT_TRUE(IsFolder(d.str() + "/"));
    EXPECT_FALSE(IsFolder(f));
    EXPECT_FALSE(IsFolder(""));
    EXPECT_TRUE(FileDateTime(f).has_value());
    EXPECT_FALSE(FileDateTime(d.str()).has_value());
}
