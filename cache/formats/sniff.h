// What a body is, judged from its first decoded bytes: the program's one magic-byte sniffer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace formats {

// The number of leading bytes Sniff() wants for binary formats; text (SVG) may need more.
inline constexpr std::size_t kSniffBytes = 64;
inline constexpr std::size_t kSniffTextBytes = 1024;

// The canonical extension of a picture or video recognised from its first bytes, or "" for
// anything else. `contentType` only settles text that could be SVG.
std::string Sniff(std::string_view head, std::string_view contentType);
// True when `head` looks like the start of a text document worth reading further for <svg.
bool MayBeText(std::string_view head);

} // namespace formats
