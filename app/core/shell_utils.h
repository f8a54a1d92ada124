// Small shell-folder and file utilities used at start-up.
#pragma once

#include <string>

namespace app {

inline constexpr const char* kProductName = "Tamberlin";

// The raw path buffer for a special folder: the path, a NUL, then blanks up to 512
// characters; the empty text when the shell has no such folder.
std::string GetSpecialFolderPath(int folder);
// The Desktop folder followed by one separator. Throws InvalidArgument when the shell
// gives no path.
std::string GetDesktopFolder();
// True when the path names an existing file. Never throws, never reports.
bool FileIsPresent(const std::string& path);

// The application title: the product name, cut back word by word to at most 40
// characters. Message boxes without a title of their own carry it.
void SetApplicationTitle();
std::string TitleForProductName(const std::string& name);
const std::string& ApplicationTitle();

} // namespace app
