#include "cache/browser/media.h"
#include "platform/base/ascii.h"
#include "platform/base/utf8.h"

#include <array>
#include <cstdint>

namespace browser::detail {

namespace {

std::string PercentDecode(std::string_view s) {
    std::string out;
    const std::size_t first = s.find('%');
    if (first == std::string_view::npos)
        return std::string(s); // most names: nothing to decode
    out.reserve(s.size());
    out.append(s.substr(0, first));
    for (std::size_t i = first; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            const int hi = platform::HexDigitValue(s[i + 1]),
                      lo = platform::HexDigitValue(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

// The length of the valid UTF-8 sequence starting at s[i], or 0; its code point in `cp`.
std::size_t Utf8Length(std::string_view s, std::size_t i, char32_t& cp) {
    const platform::Utf8Decoded d = platform::DecodeUtf8(s, i);
    cp = d.codePoint;
    return d.length == 1 && d.codePoint == platform::kReplacementCharacter ? 0 : d.length;
}

// Extensions that only say what the server called the resource, not what it is: they are
// replaced by the extension of the sniffed type rather than kept in front of it.
bool IsReplaceableExtension(std::string_view ext) {
    static constexpr std::array<std::string_view, 46> kKnown = {
        "jpg",  "jpeg",  "jpe", "jfif", "pjpeg", "pjp",  "png",  "apng", "gif",  "bmp",
        "dib",  "ico",   "cur", "webp", "avif",  "heic", "heif", "mp4",  "m4v",  "mov",
        "webm", "mkv",   "avi", "flv",  "f4v",   "svg",  "svgz", "tif",  "tiff", "jxl",
        "3gp",  "3g2",   "php", "asp",  "aspx",  "jsp",  "cgi",  "pl",   "htm",  "html",
        "img",  "image", "bin", "dat",  "tmp",   "ashx"};
    for (std::string_view k : kKnown)
        if (platform::EqualsNoCase(ext, k))
            return true;
    return false;
}

} // namespace

std::string MakeFileName(std::string_view url, std::string_view extension,
                         std::string_view fallback) {
    // The path of the URL: after the authority, before the query or fragment.
    std::string_view path;
    if (const std::size_t scheme = url.find("://"); scheme != std::string_view::npos) {
        std::string_view rest = url.substr(scheme + 3);
        // (A loop: find_first_of looks for each of the two in every character.)
        std::size_t end = 0;
        while (end < rest.size() && rest[end] != '?' && rest[end] != '#')
            ++end;
        rest = rest.substr(0, end);
        const std::size_t slash = rest.find('/');
        if (slash != std::string_view::npos)
            path = rest.substr(slash);
    }
    const std::string decoded = PercentDecode(path.substr(path.rfind('/') + 1));

    std::string stem;
    stem.reserve(decoded.size());
    const auto plain = [](char c) { return c >= 0x20 && c < 0x7F && c != '/' && c != '\\'; };
    for (std::size_t i = 0; i < decoded.size();) {
        if (plain(decoded[i])) { // plain ASCII, by far the most common: taken a run at a time
            std::size_t end = i + 1;
            while (end < decoded.size() && plain(decoded[end]))
                ++end;
            stem.append(decoded, i, end - i);
            i = end;
            continue;
        }
        char32_t cp = 0;
        const std::size_t n = Utf8Length(decoded, i, cp);
        if (n != 0 && platform::IsFormatCharacter(cp)) {
            i += n; // invisible: dropped rather than shown as '_'
            continue;
        }
        if (n == 0 || platform::IsHiddenCharacter(cp) || cp == '/' || cp == '\\') {
            stem.push_back('_');
            i += n == 0 ? 1 : n;
            continue;
        }
        stem.append(decoded, i, n);
        i += n;
    }
    // The server's extension goes when it only names a type; then no hidden files and no
    // names that end in dots or spaces.
    if (const std::size_t dot = stem.rfind('.');
        dot != std::string::npos && IsReplaceableExtension(std::string_view(stem).substr(dot + 1)))
        stem.resize(dot);
    stem.erase(0, stem.find_first_not_of(". "));
    while (!stem.empty() && (stem.back() == '.' || stem.back() == ' '))
        stem.pop_back();
    if (stem.empty())
        stem = std::string(fallback.empty() ? std::string_view("file") : fallback);

    // Appended piece by piece: GCC 12 misreads `"." + std::string(...)` at -O3 as an
    // overlapping copy (-Wrestrict).
    const std::size_t suffixSize = extension.empty() ? 0 : extension.size() + 1;
    constexpr std::size_t kMaxName = 255;
    if (stem.size() + suffixSize > kMaxName) {
        std::size_t keep = kMaxName - suffixSize;
        while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80)
            --keep; // never split a character
        stem.resize(keep);
    }
    if (!extension.empty()) {
        stem.push_back('.');
        stem.append(extension);
    }
    return stem;
}

} // namespace browser::detail
