#include "cache/scan/file_types.h"

#include "platform/base/ascii.h"

namespace cache {
namespace {

const ContentTypeInfo* ContentTypeOf(std::string_view fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string_view::npos)
        return nullptr;
    const std::string extension = platform::AsciiLower(std::string(fileName.substr(dot + 1)));
    for (const auto& t : kContentTypes)
        if (extension == t.extension)
            return &t;
    return nullptr;
}

} // namespace

std::string ContentTypeFor(std::string_view fileName) {
    const auto* t = ContentTypeOf(fileName);
    return t ? t->mime : "application/octet-stream";
}

bool IsVideoName(std::string_view fileName) {
    const auto* t = ContentTypeOf(fileName);
    return t && t->video;
}

} // namespace cache
