#include "app/core/arguments.h"

namespace app {

bool IsFolderArgument(std::string_view argument, bool optionsEnded) {
    return optionsEnded || argument.empty() || argument[0] != '-' || argument == "-";
}

std::vector<std::string> FolderArguments(const std::vector<std::string>& arguments) {
    std::vector<std::string> folders;
    bool optionsEnded = false;
    for (const std::string& a : arguments) {
        if (IsFolderArgument(a, optionsEnded))
            folders.push_back(a);
        else if (a == "--")
            optionsEnded = true;
    }
    return folders;
}

} // namespace app
