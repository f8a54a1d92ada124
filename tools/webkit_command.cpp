// The `webkit` command: a WebKit NetworkCache as the reader takes it: each `Version N` folder
// with its salt, then each record of each partition: its URL, time, status and type, where its
// body is, and whether every check passes (the body's hash included, which a listing leaves to
// the save), or why not; at the end how many records were read and skipped, by reason.
//
// Usage: tamberlin-cacheinfo webkit <cache folder>   (WebKitCache, NetworkCache or Version N)
// Exit status: 0 read (records may still be skipped), 1 no WebKit version folder, 2 the folder
// cannot be listed.
#include "cacheinfo.h"

#include "cache/browser/source.h"
#include "cache/formats/webkit.h"
#include "cache/formats/webkit_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace cacheinfo {

namespace {

namespace fs = std::filesystem;
namespace wk = formats::webkit;

// Sub-folders or regular files of a folder, sorted; links are not followed.
std::vector<std::string> Names(const fs::path& folder, bool folders) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        const auto st = it->symlink_status(typeError);
        if (!typeError && (folders ? fs::is_directory(st) : fs::is_regular_file(st)))
            names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A whole file of at most `cap` bytes.
bool ReadWhole(const fs::path& path, std::uint64_t cap, std::vector<std::uint8_t>& bytes) {
    browser::detail::ReadOnlyFile file;
    if (!file.open(path.string()) || file.size() > cap)
        return false;
    bytes.resize(static_cast<std::size_t>(file.size()));
    return file.readAt(0, bytes.data(), bytes.size());
}

// The body of a record kept apart, checked piece by piece against its hash.
formats::WebKitFailure CheckBlob(const fs::path& blob, const formats::WebKitRecordMeta& meta,
                                 const formats::WebKitSalt& salt) {
    browser::detail::ReadOnlyFile file;
    if (!file.open(blob.string()))
        return {formats::WebKitProblem::BlobMissing, "the body's blob is missing"};
    formats::WebKitBodyCheck check(meta, salt);
    std::vector<std::uint8_t> buffer(std::size_t{1} << 16);
    for (std::uint64_t at = 0; at < file.size();) {
        const std::ptrdiff_t got = file.readSome(at, buffer.data(), buffer.size());
        if (got <= 0)
            break;
        check.update({buffer.data(), static_cast<std::size_t>(got)});
        at += static_cast<std::uint64_t>(got);
    }
    return check.finish();
}

struct Tally {
    std::size_t read = 0;
    std::map<std::string, std::size_t> skipped; // by the problem's first words
};

void Skip(Tally& tally, const std::string& why) {
    std::printf("    skipped    %s\n", Shown(why).c_str());
    ++tally.skipped[why.substr(0, why.find(" ("))];
}

void PrintRecord(const fs::path& version, std::uint32_t number, const formats::WebKitSalt& salt,
                 const std::string& partition, const std::string& name, Tally& tally) {
    const fs::path path = version / wk::kRecordsFolder / partition / wk::kResourceType / name;
    std::printf("  record     %s/%s\n", partition.c_str(), name.c_str());
    std::vector<std::uint8_t> bytes;
    if (!ReadWhole(path, wk::kMaxRecordFileSize, bytes))
        return Skip(tally, "cannot be read, or larger than any record");
    const auto parsed = formats::ParseWebKitRecord(bytes, number, salt);
    if (!parsed.value)
        return Skip(tally, parsed.failure.text);
    const formats::WebKitRecord& r = *parsed.value;
    const formats::WebKitRecordMeta& m = r.meta;
    std::printf("    url        %s\n", Shown(m.url).c_str());
    std::printf("    type       %s\n", Shown(m.type).c_str());
    const bool timeKnown = std::isfinite(m.timeStamp) && std::abs(m.timeStamp) < 1e12;
    std::printf(
        "    stored     %s\n",
        UtcText(timeKnown ? std::optional(static_cast<std::int64_t>(m.timeStamp)) : std::nullopt)
            .c_str());
    if (number == wk::kVersion17)
        if (const auto wrong = formats::CheckWebKitNames(m, partition, name))
            return Skip(tally, wrong.text);
    const auto response = formats::ParseWebKitResponse(
        std::span(bytes).subspan(static_cast<std::size_t>(r.headerOffset),
                                 static_cast<std::size_t>(m.headerSize)),
        number);
    if (!response.value)
        return Skip(tally, response.failure.text);
    const formats::WebKitResponse& h = *response.value;
    std::printf("    status     %s\n", h.statusCode ? std::to_string(*h.statusCode).c_str()
                                                    : "(not kept in this version)");
    std::printf("    mime type  %s\n", Shown(h.mimeType).c_str());
    for (const auto& [field, value] : h.headerFields)
        if (field == "Content-Encoding")
            std::printf("    sent as    %s (stored decoded)\n", Shown(value).c_str());
    const fs::path blob = version / wk::kBlobsFolder / formats::WebKitHashName(m.bodyHash);
    std::printf("    body       %llu bytes, %s\n", static_cast<unsigned long long>(m.bodySize),
                m.bodyInline ? "inline" : ("in " + blob.filename().string()).c_str());
    const auto body =
        m.bodyInline
            ? formats::VerifyWebKitBody(r, bytes, salt, std::nullopt)
            : CheckBlob(fs::exists(blob) ? blob : fs::path(path.string() + "-blob"), m, salt);
    if (m.bodySize != 0 && body)
        return Skip(tally, body.text);
    std::printf("    read       yes\n");
    ++tally.read;
}

void PrintVersion(const fs::path& version, std::uint32_t number, Tally& tally) {
    std::printf("version    %u (%s)\n", number, Shown(version.string()).c_str());
    std::vector<std::uint8_t> saltBytes;
    const auto salt = ReadWhole(version / wk::kSaltFile, wk::kSaltSize + 1, saltBytes)
                          ? formats::ParseWebKitSalt(saltBytes)
                          : formats::WebKitParsed<formats::WebKitSalt>{};
    if (!salt.value) {
        std::printf("  salt       cannot be read: no record of this version can be checked\n");
        return;
    }
    std::printf("  salt       %zu bytes\n", saltBytes.size());
    for (const std::string& partition : Names(version / wk::kRecordsFolder, true))
        for (const std::string& type : Names(version / wk::kRecordsFolder / partition, true)) {
            if (type != wk::kResourceType) {
                std::printf("  %-10s %s: not HTTP responses, not read\n", partition.c_str(),
                            Shown(type).c_str());
                continue;
            }
            for (const std::string& name :
                 Names(version / wk::kRecordsFolder / partition / type, false))
                if (!name.ends_with(wk::kBlobSuffix))
                    PrintRecord(version, number, *salt.value, partition, name, tally);
        }
}

} // namespace

int WebKitCommand(const Call& call) {
    if (call.args.size() != 1)
        return Usage(call, "<cache folder holding \"Version N\" folders>");
    const fs::path folder(call.args[0]);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        std::fprintf(stderr, "%s: cannot list %s\n", call.name.c_str(), call.args[0]);
        return 2;
    }
    std::vector<std::pair<fs::path, std::uint32_t>> versions;
    const auto add = [&](const fs::path& p) {
        if (const auto n = formats::ParseWebKitVersionFolder(p.filename().string()).value)
            versions.emplace_back(p, *n);
    };
    add(folder.has_filename() ? folder : folder.parent_path());
    if (versions.empty())
        for (const std::string& name : Names(folder, true))
            add(folder / name);
    std::printf("folder     %s\n", Shown(folder.string()).c_str());
    if (versions.empty()) {
        std::printf("versions   none: not a WebKit cache\n");
        return 1;
    }
    Tally tally;
    for (const auto& [path, number] : versions)
        PrintVersion(path, number, tally);
    std::printf("records    %zu read\n", tally.read);
    for (const auto& [why, count] : tally.skipped)
        std::printf("skipped    %zu: %s\n", count, Shown(why).c_str());
    return 0;
}

} // namespace cacheinfo
