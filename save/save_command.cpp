#include "save/save_command.h"

#include "app/guard/guard.h"
#include "platform/base/messages.h"
#include "save/copy_engine.h"
#include "save/save_row.h"

#include <set>
#include <vector>

namespace save {
namespace {

void message(const SaveWindow& window, const std::string& text) {
    platform::dialogs().information(text, window.messageTitle());
}

std::size_t tickedRows(const cache::FoundFileList& list) {
    std::size_t n = 0;
    for (std::size_t i = 1; i <= list.count(); ++i)
        n += list.row(list.rowAt(i)).ticked ? 1 : 0;
    return n;
}

// What the walk did, for its closing message.
struct Outcome {
    bool walked = false;   // the row count was read and the walk ran
    std::size_t tried = 0; // ticked rows the walk tried to copy, or could not read
    std::size_t saved = 0;
    std::vector<std::string> notSaved; // "name (reason)"
};

// "Done." only when every ticked file was saved.
std::string closingMessage(const Outcome& o) {
    if (!o.walked)
        return "No file was saved: the list of files could not be read.";
    if (o.tried == 0)
        return "Nothing to save.";
    if (o.notSaved.empty())
        return "Done.";
    const std::size_t saved = o.saved;
    const auto& notSaved = o.notSaved;
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

void PushButton3_Click(cache::FoundFileList& list, SaveWindow& window) {
    app::Guard g(kSaveTag);

    // A list without rows, or with none ticked, has nothing to save. A failure in either
    // check goes on with the next numbered line, as if the check had passed.
    bool nothingToSave = false;
    g.step(106, [&] { nothingToSave = list.count() == 0 || tickedRows(list) == 0; });
    if (nothingToSave) {
        g.step(124, [&] { message(window, "Nothing to save."); });
        return;
    }
    bool noFolder = false;
    g.step(108, [&] { noFolder = !IsExistingFolder(window.destinationText()); });
    if (noFolder) {
        g.step(122,
               [&] { message(window, "Folder does not exist. Please select another folder."); });
        return;
    }

    Outcome outcome;
    std::size_t n = 0;
    std::size_t total = 0;
    g.step(110, [&] {
        const std::size_t count = list.count();
        total = tickedRows(list);
        window.setProgress(0, total);
        n = count;
        outcome.walked = true;
    });

    std::size_t done = 0;
    std::size_t reached = n; // the last row the walk visited
    UsedTargets usedTargets; // targets written by this walk
    for (std::size_t i = 1; i <= n; ++i) {
        if (window.closing())
            return;
        g.step(112, [] { platform::DoEvents(); });
        if (window.closing())
            return;
        cache::FoundFile source;
        bool ticked = false;
        bool rowRead = false;
        g.step(114, [&] {
            const auto& row = list.row(list.rowAt(i));
            ticked = row.ticked;
            source.path = row.path;
            source.body = row.body;
            rowRead = true;
        });
        std::string name;
        bool finished = false;
        g.step(116, [&] {
            name = list.row(list.rowAt(i)).fileName;
            if (!ticked || !rowRead)
                return;
            source.fileName = name;
            const RowSaveResult result =
                SaveFoundFile(source, window.destinationText(), usedTargets);
            ++outcome.tried;
            if (result.saved)
                ++outcome.saved;
            else
                outcome.notSaved.push_back(name + " (" + result.reason + ")");
            finished = true;
        });
        // A row whose step failed (the failure was reported) was not copied, whatever it
        // held; the closing message must not claim otherwise.
        const bool failed = !rowRead || (ticked && !finished);
        if (failed) {
            ++outcome.tried;
            outcome.notSaved.push_back((name.empty() ? "row " + std::to_string(i) : name) +
                                       " (an error was reported)");
        }
        if (failed || ticked)
            window.setProgress(++done, total);
        // Loop close. When it fails the walk ends here, as a failed loop close does.
        bool next = false;
        g.step(118, [&] { next = true; });
        if (!next) {
            reached = i;
            break;
        }
    }
    g.step(120, [&] {
        // Ticked rows the walk did not reach were not saved either.
        for (std::size_t i = reached + 1; i <= n && i <= list.count(); ++i) {
            const auto& row = list.row(list.rowAt(i));
            if (row.ticked) {
                ++outcome.tried;
                outcome.notSaved.push_back(row.fileName + " (not reached)");
            }
        }
        message(window, closingMessage(outcome));
    });
}

} // namespace save
