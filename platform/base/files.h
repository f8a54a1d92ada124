// File calls: the tests the copy engine makes, the copy itself, and the bounded read the
// preview uses. Paths are the exact bytes the file system knows; nothing here decodes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace platform {

// True for an existing regular file that can be opened for reading.
bool CanOpenExistingFile(const std::string& path);
// True for an existing folder (links followed).
bool IsFolder(const std::string& path);
// The last-change time of an existing path that is not a folder; nothing otherwise.
std::optional<std::int64_t> FileDateTime(const std::string& path);

enum class ReadStatus { Read, Missing, NotAFile, TooLarge, Failed };
struct ReadOutcome {
    ReadStatus status = ReadStatus::Failed;
    std::string bytes; // the whole file, when read
    std::string error; // why not, for the user
};

// Reads a whole regular file of at most maxBytes bytes. The open never blocks (a named pipe
// or a device is refused by what the descriptor is, before anything is read), and the
// limit holds for what is actually read, whatever size the file claims.
ReadOutcome ReadRegularFile(const std::string& path, std::size_t maxBytes);

// Asks the kernel to read the regular file `path` into memory ahead of a reader that will
// want much of it in no order (a database read through its indexes), a part at a time from
// the start, up to `limit` bytes, until `stop` is requested. The parts go to the disk in
// order, as one long read instead of many small ones; parts already in memory are passed
// over. A link is not followed, and a file that cannot be opened is left alone. Returns once
// the last part has been asked for.
void ReadAhead(const std::string& path, std::uint64_t limit, const std::stop_token& stop);

enum class CopyStatus { Copied, SameFile, Failed };
struct CopyOutcome {
    CopyStatus status = CopyStatus::Failed;
    std::string error; // why it failed, for the user
};

// Puts the source's content at the target path, replacing a file there atomically: the
// bytes go to a temporary file beside the target, which is put in its place only when
// complete. The temporary file is unnamed (O_TMPFILE) where the file system allows it, else
// ".tamberlin-XXXXXX". A failure leaves an existing target exactly as it was and no
// temporary file behind. A target that is the source itself (or a link to it) is left alone.
CopyOutcome CopyFileReplacing(const std::string& source, const std::string& target);

// Bytes from somewhere other than a file: fills buffer with up to capacity bytes and
// returns how many, 0 at the end, -1 on failure.
using ByteSource = std::function<std::ptrdiff_t(char* buffer, std::size_t capacity)>;

// Writes everything the source gives to the target path with CopyFileReplacing's
// guarantees. When the source fails, sourceError (if given) says why.
CopyOutcome WriteStreamReplacing(const ByteSource& source, const std::string& target,
                                 std::function<std::string()> sourceError = {});

// Installs, for SIGINT, SIGTERM and SIGHUP, a handler that removes the named temporary files
// of the writes in progress and then lets the signal end the program as it would have.
// Signals the program was started ignoring stay ignored. Called once by each program.
void RemoveTemporaryFilesOnSignal();
// Test seam: false makes writes use named temporary files even where unnamed ones work.
void SetUnnamedTemporaryFiles(bool allowed);

// Test seam around the calls that put bytes into a temporary file. Before each call the
// hook is given which call it is, the bytes written so far and the bytes the call asks
// for; it may lower that count, or return an errno value to make the call fail with it
// (0 lets the call run).
enum class CopyCall { KernelCopy, Write };
using CopyCallHook = std::function<int(CopyCall call, std::uint64_t written, std::size_t& count)>;
void SetCopyCallHook(CopyCallHook hook);
// Test seam: the disk is full once this many bytes have been written (nothing: off).
void SetCopyWriteLimit(std::optional<std::uint64_t> bytes);
// Test seam: called after the content is complete, just before it is put in place.
void SetCopyBeforeRenameHook(std::function<void()> hook);

} // namespace platform
