#include "save/copy_engine.h"
#include "platform/base/paths.h"

#include "platform/base/files.h"

#include <stdexcept>

namespace save {

constexpr char kSep = platform::kPathSeparator;
namespace {

std::string trimBlanks(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

std::string collapseRuns(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == kSep && i + 1 < s.size() && s[i + 1] == kSep) {
            out.push_back(kSep);
            ++i; // "//" becomes "/", and scanning goes on after the pair
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

} // namespace

CopyReport CopyFileChecked(const std::string& sourcePath, const std::string& targetPath) {
    if (trimBlanks(targetPath).empty() || trimBlanks(sourcePath).empty())
        return {CopyResult::Skipped, "no file name"};
    const std::string source = CollapseBackslashes(sourcePath);
    const std::string target = CollapseBackslashes(targetPath);
    const bool sourceOk = IsOpenableFile(source);
    const bool folderOk = IsExistingFolder(FolderPart(target));
    if (!sourceOk)
        return {CopyResult::Skipped, "the cached file is missing or cannot be read"};
    if (!folderOk)
        return {CopyResult::Skipped, "the destination folder does not exist"};
    return CopyFileQuietly(source, target);
}

CopyReport CopyBodyChecked(const browser::BodyLocation& body, const std::string& targetPath) {
    if (trimBlanks(targetPath).empty())
        return {CopyResult::Skipped, "no file name"};
    const std::string target = CollapseBackslashes(targetPath);
    if (!IsExistingFolder(FolderPart(target)))
        return {CopyResult::Skipped, "the destination folder does not exist"};
    try {
        const auto stream = browser::OpenDecodedBody(body);
        const auto outcome = platform::WriteStreamReplacing(
            [&](char* buffer, std::size_t capacity) { return stream->read(buffer, capacity); },
            target, [&] { return stream->error(); });
        if (outcome.status == platform::CopyStatus::Copied)
            return {CopyResult::Copied, {}};
        return {CopyResult::Failed, outcome.error};
    } catch (const std::exception& e) {
        return {CopyResult::Failed, e.what()};
    }
}

CopyReport CopyFileQuietly(const std::string& source, const std::string& target) {
    try {
        const auto outcome = platform::CopyFileReplacing(source, target);
        switch (outcome.status) {
        case platform::CopyStatus::Copied:
            return {CopyResult::Copied, {}};
        case platform::CopyStatus::SameFile:
            return {CopyResult::AlreadyThere, {}};
        case platform::CopyStatus::Failed:
            break;
        }
        return {CopyResult::Failed, outcome.error};
    } catch (const std::exception& e) {
        return {CopyResult::Failed, e.what()};
    }
}

bool IsOpenableFile(const std::string& path) {
    try {
        return platform::CanOpenExistingFile(path);
    } catch (...) {
        return false;
    }
}

bool IsExistingFolder(const std::string& path) {
    try {
        return platform::IsFolder(path);
    } catch (...) {
        return false;
    }
}

std::string FolderPart(const std::string& path) {
    const auto at = path.rfind(kSep);
    if (at == std::string::npos)
        return {};
    if (at + 1 > 32767)
        throw std::overflow_error("Overflow");
    return path.substr(0, at + 1);
}

std::string CollapseBackslashes(const std::string& path) {
    if (path.size() < 2 || path[0] != kSep || path[1] != kSep)
        return collapseRuns(path);
    const auto rest = path.find_first_not_of(kSep);
    return "//" + collapseRuns(rest == std::string::npos ? std::string() : path.substr(rest));
}

} // namespace save
