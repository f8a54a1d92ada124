#include "platform/urlcache/locator.h"
#include "platform/base/ascii.h"
#include "platform/base/paths.h"
#include "platform/base/utf8.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace platform::urlcache {
namespace {

bool isFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// Undo the escapes of a quoted registry string: \\ \" \n and \xNNNN (a UTF-16 unit; a
// surrogate pair is two of them). Paths on the Unix side are UTF-8.
std::string unescape(const std::string& s) {
    std::string out;
    char32_t highSurrogate = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size() || s[i + 1] != 'x') {
            if (highSurrogate != 0)
                platform::AppendUtf8(out, std::exchange(highSurrogate, 0));
            if (s[i] == '\\' && i + 1 < s.size())
                out.push_back(s[++i] == 'n' ? '\n' : s[i]);
            else
                out.push_back(s[i]);
            continue;
        }
        ++i;
        char32_t unit = 0;
        for (std::size_t digits = 0;
             digits < 4 && i + 1 < s.size() && platform::HexDigitValue(s[i + 1]) >= 0; ++digits)
            unit = unit * 16 + static_cast<char32_t>(platform::HexDigitValue(s[++i]));
        if (highSurrogate != 0 && unit >= 0xDC00 && unit <= 0xDFFF)
            platform::AppendUtf8(out, 0x10000 + ((std::exchange(highSurrogate, 0) - 0xD800) << 10) +
                                          (unit - 0xDC00));
        else {
            if (highSurrogate != 0)
                platform::AppendUtf8(out, std::exchange(highSurrogate, 0));
            if (unit >= 0xD800 && unit <= 0xDBFF)
                highSurrogate = unit;
            else
                platform::AppendUtf8(out, unit);
        }
    }
    if (highSurrogate != 0)
        platform::AppendUtf8(out, highSurrogate);
    return out;
}

} // namespace

std::string CurrentUserName() {
    if (const char* u = std::getenv("USER"); u && *u)
        return u;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name)
        return pw->pw_name;
    return "user";
}

std::optional<std::string> DefaultWinePrefix() {
    if (const char* p = std::getenv("WINEPREFIX"); p && *p)
        return std::string(p);
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.wine";
    return std::nullopt;
}

std::optional<std::string> ReadRegistryString(const std::string& text, const std::string& key,
                                              const std::string& valueName) {
    // Keys in the file are written with doubled backslashes: [Software\\Microsoft\\...].
    std::string wantedKey;
    for (char c : key) {
        wantedKey.push_back(c);
        if (c == '\\')
            wantedKey.push_back('\\');
    }
    wantedKey = platform::AsciiLower("[" + wantedKey + "]");
    const std::string wantedValue = platform::AsciiLower("\"" + valueName + "\"=");

    std::istringstream in(text);
    std::string line;
    bool inKey = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] == '[') {
            const auto close = line.find(']');
            inKey = close != std::string::npos &&
                    platform::AsciiLower(line.substr(0, close + 1)) == wantedKey;
            continue;
        }
        if (!inKey || platform::AsciiLower(line.substr(0, wantedValue.size())) != wantedValue)
            continue;
        std::string rest = line.substr(wantedValue.size());
        if (rest.rfind("str(2):", 0) == 0)
            rest = rest.substr(7);
        if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"')
            return std::nullopt;
        return unescape(rest.substr(1, rest.size() - 2));
    }
    return std::nullopt;
}

std::optional<std::string> MapWindowsPath(const std::string& prefix,
                                          const std::string& windowsPath) {
    if (windowsPath.size() < 2 || windowsPath[1] != ':' ||
        !std::isalpha(static_cast<unsigned char>(windowsPath[0])))
        return std::nullopt;
    const char drive = platform::AsciiLower(windowsPath[0]);
    std::string root;
    // Wine's drive links live in dosdevices; c: is normally ../drive_c.
    const std::string link = prefix + "/dosdevices/" + std::string(1, drive) + ":";
    std::error_code ec;
    if (fs::exists(link, ec))
        root = link;
    else if (drive == 'c')
        root = prefix + "/drive_c";
    else
        return std::nullopt;
    std::string rest = windowsPath.substr(2);
    std::replace(rest.begin(), rest.end(), '\\', kPathSeparator);
    while (!rest.empty() && rest.back() == kPathSeparator)
        rest.pop_back();
    if (!rest.empty() && rest.front() != kPathSeparator)
        rest.insert(rest.begin(), kPathSeparator);
    return root + rest;
}

std::optional<CacheLocation> LocateContentCache(const std::string& prefix,
                                                const std::string& userName) {
    std::string reg;
    {
        std::ifstream in(prefix + "/user.reg", std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        reg = ss.str();
    }
    const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
    std::vector<std::string> candidates;
    if (auto v = ReadRegistryString(reg, explorer + "Shell Folders", "Cache"))
        candidates.push_back(*v);
    if (auto v = ReadRegistryString(reg, explorer + "User Shell Folders", "Cache")) {
        std::string value = *v;
        const std::string token = "%USERPROFILE%";
        const auto at = platform::AsciiLower(value).find(platform::AsciiLower(token));
        if (at != std::string::npos)
            value.replace(at, token.size(), "C:\\users\\" + userName);
        candidates.push_back(value);
    }
    candidates.push_back("C:\\users\\" + userName +
                         "\\AppData\\Local\\Microsoft\\Windows\\INetCache");

    for (const std::string& windowsPath : candidates) {
        const auto cacheFolder = MapWindowsPath(prefix, windowsPath);
        if (!cacheFolder)
            continue;
        const std::string container = *cacheFolder + "/Content.IE5";
        if (isFolder(container))
            return CacheLocation{container, container + "/index.dat"};
    }
    return std::nullopt;
}

} // namespace platform::urlcache
