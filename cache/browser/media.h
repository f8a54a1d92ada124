// What a body is, judged from its first decoded bytes, and the name it is saved under.
#pragma once

#include <string>
#include <string_view>

namespace browser::detail {

// The number of leading bytes Sniff() wants for binary formats; text (SVG) may need more.
inline constexpr std::size_t kSniffBytes = 64;
inline constexpr std::size_t kSniffTextBytes = 1024;

// The canonical extension of a picture or video recognised from its first bytes, or "" for
// anything else. `contentType` only settles text that could be SVG.
std::string Sniff(std::string_view head, std::string_view contentType);
// True when `head` looks like the start of a text document worth reading further for <svg.
bool MayBeText(std::string_view head);

// A safe, recognisable file name for the body of `url`: the last path segment,
// percent-decoded, with `extension` as its extension; `fallback` when nothing usable remains.
// At most 255 bytes, valid UTF-8, never "." or "..", no '/', '\\', control characters (C0, DEL,
// C1) or format characters (bidirectional controls, zero-width characters: category Cf).
std::string MakeFileName(std::string_view url, std::string_view extension,
                         std::string_view fallback);

} // namespace browser::detail
