// Writes a report over real little pictures saved under hostile names, for the check in a
// real browser (report_browser_check.sh). Usage: tamberlin_report_sample FOLDER; prints the
// number of pictures.
#include "cache_builder.h"
#include "cli/report.h"

#include <zlib.h>

#include <cstdint>
#include <iostream>

namespace {

std::string Be32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

std::string Chunk(const std::string& type, const std::string& data) {
    const std::string body = type + data;
    const auto crc =
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    return Be32(static_cast<std::uint32_t>(data.size())) + body +
           Be32(static_cast<std::uint32_t>(crc));
}

// A decodable RGB picture of one colour.
std::string SolidPng(unsigned width, unsigned height, unsigned char r, unsigned char g,
                     unsigned char b) {
    std::string pixels;
    for (unsigned y = 0; y < height; ++y) {
        pixels += '\0'; // no filter
        for (unsigned x = 0; x < width; ++x)
            pixels += {static_cast<char>(r), static_cast<char>(g), static_cast<char>(b)};
    }
    return std::string("\x89PNG\r\n\x1a\n", 8) +
           Chunk("IHDR", Be32(width) + Be32(height) + std::string("\x08\x02\0\0\0", 5)) +
           Chunk("IDAT", browser_test::Zlib(pixels)) + Chunk("IEND", "");
}

// A 1x1 GIF.
const std::string
    kGif("GIF89a\x01\0\x01\0\x80\0\0\xff\0\0\0\0\0,\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0;", 35);

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::cerr << "usage: tamberlin_report_sample FOLDER\n";
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    struct Sample {
        std::string name, url, source;
    };
    const Sample samples[] = {
        {"\"><img src=x onerror=\"parent.document.title='pwned'\">.png",
         "http://a.example/\"><script>parent.document.title='pwned'</script>", "Firefox <b>"},
        {"%23#?.png", "javascript:parent.document.title='pwned'", "Chromium 'Default'"},
        {"evil\xE2\x80\xAEgpj.png", "https://b.example/a b?x=\"1\"&y=<2>", "Firefox <b>"},
        {"\xFF\xFE name, \"quoted\".png", "http://c.example/\xFF", "\xC3\x28"},
        {"<svg onload=parent.document.title='pwned'>.png", "http://d.example/s.png", ""},
        {"ctl\x01\x1b[31m new\nline.png", "http://e.example/\r\n", ""},
        {"javascript:parent.document.title='pwned'.png", "http://f.example/j.png", ""},
        {"a b&c'd.gif", "http://g.example/a.gif", "Chromium 'Default'"},
    };
    std::vector<cli::SavedFile> files;
    unsigned n = 0;
    for (const auto& s : samples) {
        ++n;
        const bool gif = s.name.size() > 4 && s.name.compare(s.name.size() - 4, 4, ".gif") == 0;
        const std::string bytes = gif ? kGif
                                      : SolidPng(20 + n * 7, 30, static_cast<unsigned char>(n * 30),
                                                 80, static_cast<unsigned char>(255 - n * 25));
        browser_test::WriteFile(folder + s.name, bytes);
        cli::SavedFile f;
        f.savedName = s.name;
        f.row.fileName = s.name;
        f.row.url = s.url;
        f.row.source = s.source;
        f.row.size = bytes.size();
        f.row.cached = 1767225600 + n * 3600;
        files.push_back(std::move(f));
    }
    std::string error;
    if (!cli::WriteReport(folder, files, error)) {
        std::cerr << error << "\n";
        return 1;
    }
    std::cout << files.size() << "\n";
    return 0;
}
