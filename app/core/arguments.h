// The program's arguments that name folders. `tamberlin` and `tamberlin-window` both take
// them: the command line among its options, the window on its own (`tamberlin` starts it only
// when no option asks for a list or a save, and Qt takes its own arguments first).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace app {

// True for an argument that names a folder: any after "--" (`optionsEnded`), the empty one,
// "-", and one that does not begin with '-'.
bool IsFolderArgument(std::string_view argument, bool optionsEnded);

// The folders among the arguments, in order; "--" ends the options, other options are left out.
std::vector<std::string> FolderArguments(const std::vector<std::string>& arguments);

} // namespace app
