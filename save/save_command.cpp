#include "save/save_command.h"

#include "app/guard.h"
#include "app/shell_utils.h"
#include "platform/messages.h"
#include "save/copy_engine.h"

#include <filesystem>
#include <set>
#include <vector>

namespace save {
namespace {

void message(const std::string& text) {
    platform::dialogs().information(text, app::ApplicationTitle());
}

std::size_t tickedRows(const cache::FoundFileList& list) {
    std::size_t n = 0;
    for (std::size_t i = 1; i <= list.count(); ++i)
        n += list.row(list.rowAt(i)).ticked ? 1 : 0;
    return n;
}

std::string closingMessage(std::size_t saved, const std::vector<std::string>& notSaved) {
    if (notSaved.empty())
        return "Done.";
    std::string text = std::to_string(saved) + (saved == 1 ? " file was" : " files were") +
                       " saved; " + std::to_string(notSaved.size()) +
                       (notSaved.size() == 1 ? " file" : " files") + " could not be saved:\n";
    constexpr std::size_t kNamed = 5;
    for (std::size_t i = 0; i < notSaved.size() && i < kNamed; ++i)
        text += "\n" + notSaved[i];
    if (notSaved.size() > kNamed)
        text += "\n... and " + std::to_string(notSaved.size() - kNamed) + " more.";
    return text;
}

} // namespace

std::string NumberedName(const std::string& fileName, int number) {
    const auto dot = fileName.rfind('.');
    const std::string suffix = " (" + std::to_string(number) + ")";
    if (dot == std::string::npos || dot == 0)
        return fileName + suffix;
    return fileName.substr(0, dot) + suffix + fileName.substr(dot);
}

void PushButton3_Click(cache::FoundFileList& list, SaveWindow& window) {
    app::Guard g(kSaveTag);

    // A list without rows, or with none ticked, has nothing to save.
    if (g.test(106, [&] { return list.count() == 0 || tickedRows(list) == 0; })) {
        g.step(124, [] { message("Nothing to save."); });
        return;
    }
    if (g.test(108, [&] { return !IsExistingFolder(window.destinationText()); })) {
        g.step(122, [] { message("Folder does not exist. Please select another folder."); });
        return;
    }

    std::size_t n = 0;
    std::size_t total = 0;
    g.step(110, [&] {
        n = list.count();
        total = tickedRows(list);
        window.setProgress(0, total);
    });

    std::size_t done = 0;
    std::size_t saved = 0;
    std::vector<std::string> notSaved;
    std::set<std::string> usedTargets; // targets written by this walk
    for (std::size_t i = 1; i <= n; ++i) {
        if (window.closing())
            return;
        g.step(112, [] { platform::DoEvents(); });
        if (window.closing())
            return;
        std::string source;
        bool ticked = false;
        g.step(114, [&] {
            const auto& row = list.row(list.rowAt(i));
            ticked = row.ticked;
            source = row.path;
        });
        g.step(116, [&] {
            const std::string name = list.row(list.rowAt(i)).fileName;
            if (!ticked)
                return;
            // Two rows of one name must not overwrite each other; a file that was in the
            // folder before this walk is replaced, as always.
            const std::string folder = window.destinationText();
            std::string target = folder + name;
            for (int k = 2; usedTargets.count(target) != 0; ++k) {
                const std::string candidate = folder + NumberedName(name, k);
                std::error_code ec;
                if (usedTargets.count(candidate) == 0 && !std::filesystem::exists(candidate, ec))
                    target = candidate;
            }
            usedTargets.insert(target);
            const CopyReport report = CopyFileChecked(source, target);
            ++done;
            if (report.result == CopyResult::Copied || report.result == CopyResult::AlreadyThere)
                ++saved;
            else
                notSaved.push_back(name + " (" + report.reason + ")");
            window.setProgress(done, total);
        });
        g.step(118, [] {});
    }
    g.step(120, [&] { message(closingMessage(saved, notSaved)); });
}

} // namespace save
