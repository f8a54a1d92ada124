#include "save/save_row.h"

#include "platform/base/paths.h"
#include "platform/base/utf8.h"
#include "save/copy_engine.h"

#include <cstring>
#include <filesystem>
#include <memory>

namespace save {
namespace {

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

// The decoded bytes of a row, as Save would write them; nothing when it is no longer there.
std::unique_ptr<browser::BodyStream> OpenRow(const cache::FoundFile& row) {
    if (row.body)
        return browser::OpenDecodedBody(*row.body);
    const auto whole = browser::WholeFileBody(row.path);
    return whole ? browser::OpenDecodedBody(*whole) : nullptr;
}

std::optional<std::uint64_t> RowSize(const cache::FoundFile& row) {
    if (row.body)
        return row.body->decodedSize;
    const auto whole = browser::WholeFileBody(row.path);
    return whole ? std::optional(whole->decodedSize) : std::nullopt;
}

// Both streams give the same bytes to their ends, without an error.
bool SameBytes(browser::BodyStream& a, browser::BodyStream& b) {
    constexpr std::size_t kChunk = std::size_t{64} * 1024;
    const auto bufferA = std::make_unique<char[]>(kChunk);
    const auto bufferB = std::make_unique<char[]>(kChunk);
    std::size_t heldA = 0, heldB = 0;
    for (;;) {
        if (heldA == 0) {
            const std::ptrdiff_t got = a.read(bufferA.get(), kChunk);
            if (got < 0)
                return false;
            heldA = static_cast<std::size_t>(got);
        }
        if (heldB == 0) {
            const std::ptrdiff_t got = b.read(bufferB.get(), kChunk);
            if (got < 0)
                return false;
            heldB = static_cast<std::size_t>(got);
        }
        if (heldA == 0 || heldB == 0)
            return heldA == heldB;
        // Compare what both hold, keeping the rest of the longer read for the next round.
        const std::size_t n = std::min(heldA, heldB);
        if (std::memcmp(bufferA.get(), bufferB.get(), n) != 0)
            return false;
        std::memmove(bufferA.get(), bufferA.get() + n, heldA - n);
        std::memmove(bufferB.get(), bufferB.get() + n, heldB - n);
        heldA -= n;
        heldB -= n;
    }
}

// The regular files of `folder` (links and anything else left out), grouped as
// UsedTargets::existing keeps them.
UsedTargets::Existing ListExisting(const std::string& folder) {
    UsedTargets::Existing files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code statError;
        const auto status = it->symlink_status(statError);
        if (statError || !std::filesystem::is_regular_file(status))
            continue;
        const std::uint64_t size = it->file_size(statError);
        if (statError)
            continue;
        const std::string name = it->path().filename().string();
        files[FoldNameCase(UnnumberedName(name))].emplace(size, folder + name);
    }
    return files;
}

} // namespace

std::string UnnumberedName(const std::string& fileName) {
    // "<stem> (<n>)<ext>" with n >= 2, as NumberedName writes it.
    const auto dot = fileName.rfind('.');
    const std::size_t stemEnd = dot == std::string::npos || dot == 0 ? fileName.size() : dot;
    const std::size_t open = fileName.rfind(" (", stemEnd);
    if (open == std::string::npos || stemEnd < open + 4 || fileName[stemEnd - 1] != ')')
        return fileName;
    const std::string digits = fileName.substr(open + 2, stemEnd - 1 - open - 2);
    if (digits.empty() || digits.size() > 9 || digits[0] == '0' ||
        digits.find_first_not_of("0123456789") != std::string::npos || digits == "1")
        return fileName;
    return fileName.substr(0, open) + fileName.substr(stemEnd);
}

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
                            UsedTargets& usedTargets) {
    // Two rows of one name must not overwrite each other; a file that was in the folder
    // before this walk is replaced, as always. Names are compared without regard to case:
    // on the file systems of USB sticks (FAT, exFAT) and on casefolded folders "Photo.jpg"
    // and "photo.jpg" are one file.
    // The destination is the folder's path as the user typed it, with or without a final
    // separator: the file goes inside that folder, never beside it.
    const std::string& name = row.fileName;
    const std::string inside = platform::JoinPath(folder, "");
    // Already saved: a file of this name or a numbered one holding the very same bytes.
    if (!usedTargets.existing)
        usedTargets.existing = ListExisting(inside);
    auto& sameName = (*usedTargets.existing)[FoldNameCase(UnnumberedName(name))];
    const auto size = sameName.empty() ? std::nullopt : RowSize(row);
    for (auto [it, end] = size ? sameName.equal_range(*size)
                               : std::pair(sameName.end(), sameName.end());
         it != end; ++it) {
        const std::string path = it->second;
        // A file this walk wrote or found for another row is that row's.
        if (usedTargets.folded.count(FoldNameCase(path)) != 0)
            continue;
        const auto rowBytes = OpenRow(row);
        const auto whole = browser::WholeFileBody(path);
        if (!rowBytes || !whole)
            continue;
        const auto fileBytes = browser::OpenDecodedBody(*whole);
        if (SameBytes(*rowBytes, *fileBytes)) {
            usedTargets.folded.insert(FoldNameCase(path));
            sameName.erase(it);
            return {true, true, path, {}};
        }
    }
    std::string target = inside + name;
    const std::string first = FoldNameCase(target);
    if (usedTargets.folded.count(first) != 0) {
        int& k = usedTargets.nextNumber.try_emplace(first, 2).first->second;
        for (;; ++k) {
            const std::string candidate = inside + NumberedName(name, k);
            std::error_code ec;
            if (usedTargets.folded.count(FoldNameCase(candidate)) == 0 &&
                !std::filesystem::exists(candidate, ec)) {
                target = candidate;
                ++k;
                break;
            }
        }
    }
    usedTargets.folded.insert(FoldNameCase(target));
    const CopyReport report =
        row.body ? CopyBodyChecked(*row.body, target) : CopyFileChecked(row.path, target);
    const bool saved =
        report.result == CopyResult::Copied || report.result == CopyResult::AlreadyThere;
    return {saved, false, target, report.reason};
}

} // namespace save
