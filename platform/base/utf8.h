// The program's one UTF-8 coder: text inside the program is UTF-8, whatever the cache or
// the registry stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Appends the UTF-8 form of a code point; surrogates and values past U+10FFFF append
// U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);

struct Utf8Decoded {
    char32_t codePoint = kReplacementCharacter;
    std::size_t length = 1; // bytes taken, at least 1
};

// The code point that starts at text[at] (at < text.size()). A malformed, overlong or
// cut-off sequence gives U+FFFD and takes one byte, so decoding always moves on.
Utf8Decoded DecodeUtf8(std::string_view text, std::size_t at);

// The whole text as code points, each malformed byte becoming U+FFFD.
std::u32string DecodeUtf8(std::string_view text);

// The length a sequence announces by its lead byte: 1 to 4; 1 for a byte that cannot lead.
std::size_t Utf8SequenceLength(unsigned char lead);

// Latin-1 bytes (each byte the code point of the same number) as UTF-8.
std::string Latin1ToUtf8(std::span<const std::uint8_t> bytes);

// UTF-16 little-endian units as UTF-8. A surrogate without its pair, and a last odd byte,
// become U+FFFD.
std::string Utf16LeToUtf8(std::span<const std::uint8_t> bytes);

// Format characters (Unicode general category Cf): they show nothing themselves but change
// how the text around them looks: the bidirectional controls (which can make "gpj.exe" read
// as "exe.jpg"), zero-width characters, the byte order mark...
bool IsFormatCharacter(char32_t c);

// The one rule for text that leaves the program (a terminal, JSON, the report, a file name):
// the characters that must not reach it as they are. C0 and C1 controls and DEL (a terminal
// takes them for commands), the format characters, and the line and paragraph separators.
// Each output shows them in its own escaped form, or replaces or drops them.
bool IsHiddenCharacter(char32_t c);

} // namespace platform
