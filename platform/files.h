// File calls: the tests the copy engine makes and the copy itself.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace platform {

// True for an existing regular file that can be opened for reading.
bool CanOpenExistingFile(const std::string& path);
// True for an existing folder (links followed).
bool IsFolder(const std::string& path);
// The last-change time of an existing path that is not a folder; nothing otherwise.
std::optional<std::int64_t> FileDateTime(const std::string& path);

enum class CopyStatus { Copied, SameFile, Failed };
struct CopyOutcome {
    CopyStatus status = CopyStatus::Failed;
    std::string error; // why it failed, for the user
};

// Puts the source's content at the target path, replacing a file there atomically: the
// bytes go to a temporary file beside the target, which is renamed over it only when
// complete. A failure leaves an existing target exactly as it was and no temporary file
// behind. A target that is the source itself (or a link to it) is left alone.
CopyOutcome CopyFileReplacing(const std::string& source, const std::string& target);

// Test seam: fail the copy's writing once this many bytes have been written (nothing: off).
void SetCopyWriteLimit(std::optional<std::uint64_t> bytes);
// Test seam: called after the content is complete, just before the rename.
void SetCopyBeforeRenameHook(std::function<void()> hook);

} // namespace platform
