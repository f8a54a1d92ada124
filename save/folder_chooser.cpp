#include "save/folder_chooser.h"

#include "app/guard/guard.h"
#include "platform/base/messages.h"
#include "platform/base/paths.h"
#include "save/copy_engine.h"

namespace save {

std::string InitialBrowseFolder;

std::string BrowseForFolder(long, const std::string& title, const std::string& initial) {
    InitialBrowseFolder = initial + std::string(1, '\0');
    std::string path = platform::dialogs().pickFolder(title);
    if (const auto nul = path.find('\0'); nul != std::string::npos)
        path.resize(nul);
    return path;
}

int BrowseCallback(long, unsigned, long, long) {
    // The picker opens with nothing preselected: there is nothing to send it.
    return 0;
}

void PushButton8_Click(DestinationBox& text3, long ownerWindow) {
    app::Guard g("in Orrery2021/08/31.Form1.PushButton8_Click ");
    std::string path;
    g.step(100, [&] { path = BrowseForFolder(ownerWindow, "Please select folder:", ""); });
    if (g.test(102, [&] { return path.empty(); }))
        return;
    // A network-style path ("//host/share") keeps its leading pair untouched.
    if (g.test(104, [&] { return path.rfind("//", 0) == 0; })) {
        g.step(106, [&] { text3.setText(path + platform::kPathSeparator); });
        return;
    }
    // Every other folder gets one separator; the root, which already ends in one, stays "/".
    g.step(108, [&] {
        text3.setText(CollapseBackslashes(
            path.back() == platform::kPathSeparator ? path : path + platform::kPathSeparator));
    });
}

} // namespace save
