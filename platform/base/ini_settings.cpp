#include "platform/base/ini_settings.h"
#include "platform/base/ascii.h"
#include "platform/base/paths.h"

#include "platform/base/utf8.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

// Keys and section names: "%XX" is a byte (Latin-1 code point), "%UXXXX" a UTF-16 unit,
// "\" stands for "/".
std::string UnescapeKey(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\') {
            out += '/';
        } else if (s[i] == '%' && i + 5 < s.size() && s[i + 1] == 'U') {
            unsigned long cp = 0;
            bool ok = true;
            for (std::size_t k = 2; k < 6; ++k) {
                const int h = platform::HexDigitValue(s[i + k]);
                ok = ok && h >= 0;
                cp = cp * 16 + static_cast<unsigned long>(h < 0 ? 0 : h);
            }
            if (!ok) {
                out += s[i];
                continue;
            }
            AppendUtf8(out, static_cast<char32_t>(cp));
            i += 5;
        } else if (s[i] == '%' && i + 2 < s.size() && platform::HexDigitValue(s[i + 1]) >= 0 &&
                   platform::HexDigitValue(s[i + 2]) >= 0) {
            AppendUtf8(out, static_cast<char32_t>(platform::HexDigitValue(s[i + 1]) * 16 +
                                                  platform::HexDigitValue(s[i + 2])));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// Values: an optional pair of double quotes, backslash escapes inside.
std::string UnescapeValue(const std::string& raw) {
    std::string s = Trim(raw);
    std::string out;
    bool quoted = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '\\' && i + 1 < s.size()) {
            const char n = s[++i];
            switch (n) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '0':
                out += '\0';
                break;
            default:
                out += n;
            }
        } else if (c == ';' && !quoted) {
            break; // a comment
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

std::string DefaultSettingsFolder() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config";
}

std::map<std::string, std::map<std::string, std::string>> ParseIniText(const std::string& text) {
    std::map<std::string, std::map<std::string, std::string>> sections;
    std::string section = "General";
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::string t = Trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#')
            continue;
        if (t.front() == '[' && t.back() == ']') {
            section = UnescapeKey(t.substr(1, t.size() - 2));
            continue;
        }
        const auto eq = t.find('=');
        if (eq == std::string::npos)
            continue;
        sections[section][UnescapeKey(Trim(t.substr(0, eq)))] = UnescapeValue(t.substr(eq + 1));
    }
    return sections;
}

std::optional<std::string> IniSettingsReader::read(const std::string& app,
                                                   const std::string& section,
                                                   const std::string& key) {
    if (!loaded_[app]) {
        loaded_[app] = true;
        std::ifstream f(JoinPath(folder_, app + ".ini"), std::ios::binary);
        if (f) {
            std::ostringstream text;
            text << f.rdbuf();
            cache_[app] = ParseIniText(text.str());
        }
    }
    const auto& sections = cache_[app];
    const auto s = sections.find(section);
    if (s == sections.end())
        return std::nullopt;
    const auto k = s->second.find(key);
    if (k == s->second.end())
        return std::nullopt;
    return k->second;
}

bool IniSettingsReader::write(const std::string&, const std::string&, const std::string&,
                              const std::string&, std::string* error) {
    if (error)
        *error = "the settings are read-only here";
    return false;
}

} // namespace platform
