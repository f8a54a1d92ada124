#include "save/save_command.h"

#include "app/core/shell_utils.h"
#include "app/guard/guard.h"
#include "platform/base/messages.h"
#include "platform/base/utf8.h"
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

// The most bytes a file name may have on the file systems users save to.
constexpr std::size_t kMaxNameBytes = 255;

// At most `bytes` bytes of `text`, never ending inside a UTF-8 character.
std::string CutAtCharacter(const std::string& text, std::size_t bytes) {
    if (text.size() <= bytes)
        return text;
    while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80)
        --bytes;
    return text.substr(0, bytes);
}

// Appends the simple case folding of the code point at text[i] (Latin letters: ASCII,
// Latin-1 and Latin Extended-A) and moves i past it. Anything else is copied as it is.
void AppendFolded(const std::string& text, std::size_t& i, std::string& out) {
    const platform::Utf8Decoded d = platform::DecodeUtf8(text, i);
    char32_t c = d.codePoint;
    if (c == platform::kReplacementCharacter || d.length == 1) {
        const char byte = text[i++];
        out += byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a') : byte;
        return;
    }
    i += d.length;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7))
        c += 0x20;
    else if (c == 0x178)
        c = 0xFF;
    else if (c == 0x17F)
        c = 's';
    else if ((c >= 0x100 && c <= 0x137 && c != 0x130) || (c >= 0x14A && c <= 0x177))
        c |= 1; // pairs: capital even, small odd
    else if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        c += (c & 1); // pairs: capital odd, small even
    platform::AppendUtf8(out, c);
}

} // namespace

std::string NumberedName(const std::string& fileName, int number) {
    const std::string suffix = " (" + std::to_string(number) + ")";
    auto dot = fileName.rfind('.');
    // An extension too long to leave room for the number and a character of the stem is
    // treated as part of the stem.
    if (dot == std::string::npos || dot == 0 ||
        fileName.size() - dot + suffix.size() >= kMaxNameBytes)
        dot = fileName.size();
    // The stem gives way so that the numbered name still fits the name limit.
    const std::size_t room = kMaxNameBytes - suffix.size() - (fileName.size() - dot);
    return CutAtCharacter(fileName.substr(0, dot), room) + suffix + fileName.substr(dot);
}

std::string FoldNameCase(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();)
        AppendFolded(name, i, out);
    return out;
}

RowSaveResult SaveFoundFile(const cache::FoundFile& row, const std::string& folder,
                            std::set<std::string>& usedTargets) {
    // Two rows of one name must not overwrite each other; a file that was in the folder
    // before this walk is replaced, as always. Names are compared without regard to case:
    // on the file systems of USB sticks (FAT, exFAT) and on casefolded folders "Photo.jpg"
    // and "photo.jpg" are one file.
    const std::string& name = row.fileName;
    std::string target = folder + name;
    for (int k = 2; usedTargets.count(FoldNameCase(target)) != 0; ++k) {
        const std::string candidate = folder + NumberedName(name, k);
        std::error_code ec;
        if (usedTargets.count(FoldNameCase(candidate)) == 0 &&
            !std::filesystem::exists(candidate, ec))
            target = candidate;
    }
    usedTargets.insert(FoldNameCase(target));
    const CopyReport report =
        row.body ? CopyBodyChecked(*row.body, target) : CopyFileChecked(row.path, target);
    const bool saved =
        report.result == CopyResult::Copied || report.result == CopyResult::AlreadyThere;
    return {saved, target, report.reason};
}

void PushButton3_Click(cache::FoundFileList& list, SaveWindow& window) {
    app::Guard g(kSaveTag);

    // A list without rows, or with none ticked, has nothing to save. A failure in either
    // check goes on with the next numbered line, as if the check had passed.
    bool nothingToSave = false;
    g.step(106, [&] { nothingToSave = list.count() == 0 || tickedRows(list) == 0; });
    if (nothingToSave) {
        g.step(124, [] { message("Nothing to save."); });
        return;
    }
    bool noFolder = false;
    g.step(108, [&] { noFolder = !IsExistingFolder(window.destinationText()); });
    if (noFolder) {
        g.step(122, [] { message("Folder does not exist. Please select another folder."); });
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
    std::size_t reached = n;           // the last row the walk visited
    std::set<std::string> usedTargets; // targets written by this walk
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
        message(closingMessage(outcome));
    });
}

} // namespace save
