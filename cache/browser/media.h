// The name a body is saved under, and what it is (the sniffer, cache/formats/sniff.h).
#pragma once

#include "cache/formats/sniff.h"

#include <string>
#include <string_view>

namespace browser::detail {

using formats::kSniffBytes;
using formats::kSniffTextBytes;
using formats::MayBeText;
using formats::Sniff;

// A safe, recognisable file name for the body of `url`: the last path segment,
// percent-decoded, with `extension` as its extension; `fallback` when nothing usable remains.
// At most 255 bytes, valid UTF-8, never "." or "..", no '/', '\\', control characters (C0, DEL,
// C1) or format characters (bidirectional controls, zero-width characters: category Cf).
std::string MakeFileName(std::string_view url, std::string_view extension,
                         std::string_view fallback);

} // namespace browser::detail
