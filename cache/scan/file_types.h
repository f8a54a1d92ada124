// The file types the program looks for: one row each, read by the scan's filter, the
// settings, the main window's boxes and the command line's --types. Below them, every
// extension a row's file name can end in, with the type whose box admits it, its kind and its
// MIME type. A new type is one more enumerator, one more row in the first table and a row
// for each of its extensions in the second.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace cache {

// In the order the window shows its boxes; WEBP sits to the right of the videos.
enum class FileType { JPG, BMP, GIF, PNG, ICO, Videos, WEBP };

// Where the type's box sits in the "Filetypes To Retrieve" frame, in twips. All boxes share
// one row; these are the ones that differ.
struct FileTypeBox {
    const char* control; // the control's name
    const char* caption;
    int left;
    int width;
};

struct FileTypeInfo {
    FileType type;
    const char* name;            // as --types takes it
    const char* settingsKey;     // the stored "1" or "0"
    const char* settingsDefault; // when nothing is stored
    FileTypeBox box;
};

inline constexpr std::array<FileTypeInfo, 7> kFileTypes{{
    {FileType::JPG, "jpg", "JPG", "1", {"Check2", "JPG", 240, 690}},
    {FileType::BMP, "bmp", "BMP", "1", {"Check4", "BMP", 1080, 690}},
    {FileType::GIF, "gif", "GIF", "1", {"Check7", "GIF", 1980, 690}},
    {FileType::PNG, "png", "PNG", "1", {"Check9", "PNG", 2790, 690}},
    {FileType::ICO, "ico", "ICO", "1", {"Check10", "ICO", 3600, 690}},
    // The caption begins with a blank and has none after the second comma, as designed.
    {FileType::Videos, "videos", "Videos", "1", {"Check11", " Videos (FLV, MP4,AVI)", 4410, 2340}},
    // Most pictures in a browser cache are WebP: its box takes the free place at the right.
    {FileType::WEBP, "webp", "WEBP", "1", {"Check12", "WEBP", 6870, 840}},
}};

inline constexpr std::size_t kFileTypeCount = kFileTypes.size();

// The row of a type: the table is in the order of the enumeration.
constexpr const FileTypeInfo& InfoOf(FileType type) {
    return kFileTypes[static_cast<std::size_t>(type)];
}

namespace detail {
constexpr bool InEnumerationOrder() {
    for (std::size_t i = 0; i < kFileTypes.size(); ++i)
        if (static_cast<std::size_t>(kFileTypes[i].type) != i)
            return false;
    return true;
}
} // namespace detail
static_assert(detail::InEnumerationOrder(), "kFileTypes must follow the order of FileType");

enum class MediaKind { Image, Video };

struct ExtensionInfo {
    std::string_view extension; // lower case
    // The type whose box admits it; nothing for the ones only the browser readers give (they
    // sniff a body's content), which no box names.
    std::optional<FileType> type;
    MediaKind kind;
    const char* mime;
};

// Every extension a row's file name can end in, each once.
inline constexpr std::array<ExtensionInfo, 12> kExtensions{{
    {"jpg", FileType::JPG, MediaKind::Image, "image/jpeg"},
    {"bmp", FileType::BMP, MediaKind::Image, "image/bmp"},
    {"gif", FileType::GIF, MediaKind::Image, "image/gif"},
    {"png", FileType::PNG, MediaKind::Image, "image/png"},
    {"ico", FileType::ICO, MediaKind::Image, "image/vnd.microsoft.icon"},
    {"avi", FileType::Videos, MediaKind::Video, "video/x-msvideo"},
    {"flv", FileType::Videos, MediaKind::Video, "video/x-flv"},
    {"mp4", FileType::Videos, MediaKind::Video, "video/mp4"},
    {"webp", FileType::WEBP, MediaKind::Image, "image/webp"},
    {"avif", std::nullopt, MediaKind::Image, "image/avif"},
    {"svg", std::nullopt, MediaKind::Image, "image/svg+xml"},
    {"webm", std::nullopt, MediaKind::Video, "video/webm"},
}};

namespace detail {
constexpr bool EveryTypeHasAnExtension() {
    for (const auto& t : kFileTypes) {
        bool found = false;
        for (const auto& e : kExtensions)
            found = found || e.type == t.type;
        if (!found)
            return false;
    }
    return true;
}
} // namespace detail
static_assert(detail::EveryTypeHasAnExtension(), "every file type needs a row in kExtensions");

// The row of an extension, compared in lower case; nullptr for one this program does not list.
const ExtensionInfo* FindExtension(std::string_view extension);

// The MIME type of a file name by its extension (case-insensitive); "application/octet-stream"
// for one this program does not list.
std::string ContentTypeFor(std::string_view fileName);
// True for the extensions of video files.
bool IsVideoName(std::string_view fileName);

} // namespace cache
