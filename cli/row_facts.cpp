#include "cli/row_facts.h"

#include "cli/civil_time.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace app {
namespace {

struct TypeOfExtension {
    const char* extension;
    const char* mime;
    bool video;
};

// Every extension a row can end in: the sniffed ones of the browser readers and the ones
// the WinINet scan admits.
constexpr std::array<TypeOfExtension, 12> kTypes{{
    {"jpg", "image/jpeg", false},
    {"png", "image/png", false},
    {"gif", "image/gif", false},
    {"bmp", "image/bmp", false},
    {"ico", "image/vnd.microsoft.icon", false},
    {"webp", "image/webp", false},
    {"avif", "image/avif", false},
    {"svg", "image/svg+xml", false},
    {"mp4", "video/mp4", true},
    {"webm", "video/webm", true},
    {"flv", "video/x-flv", true},
    {"avi", "video/x-msvideo", true},
}};

const TypeOfExtension* TypeOf(std::string_view fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string_view::npos)
        return nullptr;
    std::string ext(fileName.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& t : kTypes)
        if (ext == t.extension)
            return &t;
    return nullptr;
}

// The source travels on the row once the readers record it; until then it is empty.
std::optional<std::uint64_t> SizeOf(const std::string& text) {
    if (text.empty() || text.size() > 19 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::stoull(text);
}

} // namespace

RowFacts FactsOf(const cache::FoundFile& row) {
    RowFacts f;
    f.url = row.url;
    f.fileName = row.fileName;
    f.path = row.path;
    f.source = row.source;
    f.size = SizeOf(row.size);
    f.cached = row.cached;
    f.lastUsed = row.lastUsed;
    f.contentType = ContentTypeFor(row.fileName);
    return f;
}

std::string ContentTypeFor(std::string_view fileName) {
    const auto* t = TypeOf(fileName);
    return t ? t->mime : "application/octet-stream";
}

bool IsVideoName(std::string_view fileName) {
    const auto* t = TypeOf(fileName);
    return t && t->video;
}

std::string IsoUtc(std::int64_t secondsSince1970) {
    const CivilTime t = CivilFromSeconds(secondsSince1970);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04lld-%02d-%02dT%02d:%02d:%02dZ",
                  static_cast<long long>(t.year), t.month, t.day, t.hour, t.minute, t.second);
    return buf;
}

} // namespace app
