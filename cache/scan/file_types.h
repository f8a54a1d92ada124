// The file types the program looks for: one row each, read by the scan's filter, the
// settings, the main window's boxes and the command line's --types. A new type is one more
// enumerator and one more row here. Below them, the content type of every extension a row's
// file name can end in.
#pragma once

#include <array>
#include <cstddef>
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
    const char* name;                           // as --types takes it
    std::array<std::string_view, 3> extensions; // lower case; unused places empty
    const char* settingsKey;                    // the stored "1" or "0"
    const char* settingsDefault;                // when nothing is stored
    FileTypeBox box;
};

inline constexpr std::array<FileTypeInfo, 7> kFileTypes{{
    {FileType::JPG, "jpg", {"jpg"}, "JPG", "1", {"Check2", "JPG", 240, 690}},
    {FileType::BMP, "bmp", {"bmp"}, "BMP", "1", {"Check4", "BMP", 1080, 690}},
    {FileType::GIF, "gif", {"gif"}, "GIF", "1", {"Check7", "GIF", 1980, 690}},
    {FileType::PNG, "png", {"png"}, "PNG", "1", {"Check9", "PNG", 2790, 690}},
    {FileType::ICO, "ico", {"ico"}, "ICO", "1", {"Check10", "ICO", 3600, 690}},
    // The caption begins with a blank and has none after the second comma, as designed.
    {FileType::Videos,
     "videos",
     {"avi", "flv", "mp4"},
     "Videos",
     "1",
     {"Check11", " Videos (FLV, MP4,AVI)", 4410, 2340}},
    // Most pictures in a browser cache are WebP: its box takes the free place at the right.
    {FileType::WEBP, "webp", {"webp"}, "WEBP", "1", {"Check12", "WEBP", 6870, 840}},
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

struct ContentTypeInfo {
    std::string_view extension; // lower case
    const char* mime;
    bool video;
};

// Every extension a row can end in: the ones the WinINet scan admits (each type's above; a
// new type's extensions need their rows here too) and the sniffed ones of the browser readers.
inline constexpr std::array<ContentTypeInfo, 12> kContentTypes{{
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

// The MIME type of a file name by its extension (case-insensitive); "application/octet-stream"
// for one this program does not list.
std::string ContentTypeFor(std::string_view fileName);
// True for the extensions of video files.
bool IsVideoName(std::string_view fileName);

} // namespace cache
