// WebKit's NetworkCache (GNOME Web, WebKitGTK programs, Safari, WKWebView apps) read as the
// scan reads the other caches: every record of every version folder parsed and verified by
// the formats library, then judged by the same listing rules.
#pragma once

#include "cache/browser/browser.h"
#include "platform/base/file_access.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace browser::detail {

// True when `folder` is a WebKit cache version folder: named "Version <N>", holding a `salt`
// file and a `Records` folder (links not followed).
bool IsWebKitVersionFolder(const std::filesystem::path& folder,
                           const platform::FileAccess& files = platform::HostFiles());

// True when `folder` holds one or more WebKit cache version folders, or is one.
bool IsWebKitCache(const std::filesystem::path& folder,
                   const platform::FileAccess& files = platform::HostFiles());

// Reads every version folder of the WebKit cache `folder` (or the one it is). A record that
// fails a check is counted and named with what failed; a version folder whose records are
// all of a layout this reader cannot verify is named as a version it does not read.
void ScanWebKit(const platform::FileAccess& files, const std::filesystem::path& folder,
                std::vector<BrowserFile>& rows, ScanStats& stats);

} // namespace browser::detail
