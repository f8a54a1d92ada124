#include "cache/formats/sniff.h"
#include "cache/formats/http.h"
#include "platform/base/endian.h"

#include <cstdint>

namespace formats {

namespace {

bool At(std::string_view head, std::size_t offset, std::string_view magic) {
    return head.size() >= offset + magic.size() && head.substr(offset, magic.size()) == magic;
}

// ISO base media files: the major brand, then the compatible brands, tell pictures (AVIF,
// HEIF) from videos; audio-only brands are neither.
std::string FtypExtension(std::string_view head) {
    const std::string_view major = head.substr(8, 4);
    auto hasBrand = [&](std::string_view brand) {
        if (major == brand)
            return true;
        const std::uint32_t boxSize = platform::ByteReader(head).be32(0);
        for (std::size_t at = 16; at + 4 <= head.size() && at + 4 <= boxSize; at += 4)
            if (head.substr(at, 4) == brand)
                return true;
        return false;
    };
    if (major == "avif" || major == "avis")
        return "avif";
    if (major == "heic" || major == "heix" || major == "heim" || major == "heis" ||
        major == "hevc" || major == "hevx")
        return "heic";
    if (major == "mif1" || major == "msf1")
        return hasBrand("avif") || hasBrand("avis") ? "avif" : "heic";
    if (major == "M4A " || major == "M4B " || major == "M4P " || major == "F4A " || major == "F4B ")
        return "";
    if (major == "qt  ")
        return "mov";
    if (major.starts_with("3gp") || major.starts_with("3g2"))
        return "3gp";
    return "mp4";
}

} // namespace

bool MayBeText(std::string_view head) {
    if (head.starts_with("\xEF\xBB\xBF"))
        head.remove_prefix(3);
    while (!head.empty() && (head.front() == ' ' || head.front() == '\t' || head.front() == '\r' ||
                             head.front() == '\n'))
        head.remove_prefix(1);
    return head.starts_with('<');
}

std::string Sniff(std::string_view head, std::string_view contentType) {
    using namespace std::string_view_literals;
    if (At(head, 0, "\xFF\xD8\xFF"))
        return "jpg";
    if (At(head, 0, "\x89PNG\r\n\x1A\n"))
        return "png";
    if (At(head, 0, "GIF87a") || At(head, 0, "GIF89a"))
        return "gif";
    if (At(head, 0, "BM") && head.size() >= 18) {
        const std::uint32_t dib =
            platform::ByteReader(head).u32(14); // the size of the info header that follows
        if (dib == 12 || dib == 40 || dib == 52 || dib == 56 || dib == 64 || dib == 108 ||
            dib == 124)
            return "bmp";
    }
    if (At(head, 0, "\0\0\1\0"sv) && head.size() >= 6 && (head[4] != 0 || head[5] != 0))
        return "ico";
    if (At(head, 0, "RIFF") && At(head, 8, "WEBP"))
        return "webp";
    if (At(head, 0, "RIFF") && At(head, 8, "AVI "))
        return "avi";
    if (At(head, 4, "ftyp") && head.size() >= 12)
        return FtypExtension(head);
    if (At(head, 0, "\x1A\x45\xDF\xA3"))
        return head.find("webm") != std::string_view::npos ? "webm" : "mkv";
    if (At(head, 0, "FLV\x01"))
        return "flv";
    if (At(head, 0, "II*\0"sv) || At(head, 0, "MM\0*"sv))
        return "tif";
    if (At(head, 0, "\xFF\x0A") || At(head, 0, "\0\0\0\x0CJXL \r\n\x87\n"sv))
        return "jxl";
    if (MayBeText(head)) {
        const std::size_t svg = head.find("<svg");
        const std::size_t html = std::min(head.find("<html"), head.find("<HTML"));
        if (svg != std::string_view::npos && svg < html)
            return "svg";
        // The root element can sit behind a long comment or doctype; then the label decides.
        const std::string_view type = Trim(contentType.substr(0, contentType.find(';')));
        if (svg == std::string_view::npos && html == std::string_view::npos &&
            EqualsNoCase(type, "image/svg+xml"))
            return "svg";
    }
    return "";
}

} // namespace formats
