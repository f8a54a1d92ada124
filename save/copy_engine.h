// Copying one cached file to its target path, and the path helpers around it.
// Paths use the native separator "/".
#pragma once

#include "cache/browser/browser.h"

#include <string>

namespace save {

enum class CopyResult {
    Copied,       // the target now holds the source's content
    AlreadyThere, // source and target are the same file; nothing was touched
    Skipped,      // a check failed (blank path, no source file, no target folder)
    Failed,       // the copy itself failed; an existing target is unchanged
};

struct CopyReport {
    CopyResult result = CopyResult::Skipped;
    std::string reason; // for the user, when not copied
};

// Tidies both paths, tests that the source is a file and the target's folder exists, and
// only then copies, replacing a file at the target. Reports nothing itself.
CopyReport CopyFileChecked(const std::string& source, const std::string& target);
// The same for a body kept inside a browser cache's entry file: the decoded bytes are
// written to the target with the same guarantees (temporary file, rename when complete, an
// existing target untouched on failure).
CopyReport CopyBodyChecked(const browser::BodyLocation& body, const std::string& target);
// The copy itself; every failure becomes a report, never an exception.
CopyReport CopyFileQuietly(const std::string& source, const std::string& target);
// True exactly for an existing regular file that can be opened.
bool IsOpenableFile(const std::string& path);
// True exactly for an existing folder; never throws.
bool IsExistingFolder(const std::string& path);
// The path up to and including its last separator; "" when it has none. Throws an
// overflow failure when that separator lies beyond character 32767.
std::string FolderPart(const std::string& path);
// Doubled separators collapsed, left to right without overlap; a leading run of two or
// more separators becomes exactly two (a network-style path keeps its "//").
std::string CollapseBackslashes(const std::string& path);

} // namespace save
