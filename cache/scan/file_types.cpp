#include "cache/scan/file_types.h"

#include "platform/base/ascii.h"

namespace cache {
namespace {

const ExtensionInfo* ExtensionOf(std::string_view fileName) {
    const auto dot = fileName.rfind('.');
    return dot == std::string_view::npos ? nullptr : FindExtension(fileName.substr(dot + 1));
}

} // namespace

const ExtensionInfo* FindExtension(std::string_view extension) {
    const std::string lower = platform::AsciiLower(extension);
    for (const auto& e : kExtensions)
        if (lower == e.extension)
            return &e;
    return nullptr;
}

std::string ContentTypeFor(std::string_view fileName) {
    const auto* e = ExtensionOf(fileName);
    return e ? e->mime : "application/octet-stream";
}

bool IsVideoName(std::string_view fileName) {
    const auto* e = ExtensionOf(fileName);
    return e && e->kind == MediaKind::Video;
}

} // namespace cache
