// The listing rules: which cache entries become rows of the list, and what those rows say.
// An entry is listed when it holds a whole successful response to a web URL (200, 203, or a
// 206 whose stored ranges cover the whole resource), stored as long as it was sent, whose
// body, its content codings undone, starts like a picture or video.
#pragma once

#include "cache/browser/browser.h"

#include <string>
#include <string_view>

namespace browser::detail {

struct ParsedEntry;

enum class Verdict {
    Listed,
    NotListed,  // not a picture or video, not a web response, or an empty one
    Partial,    // a picture or video whose stored body is incomplete
    Unreadable, // its body cannot be read or decoded
};

// Judges the entry a reader parsed from a cache of `kind`, and when it is Listed fills `row`
// (all but its entryPath and source), taking the entry's URL and body. `fallbackName` is the
// file name when the URL gives none.
Verdict Evaluate(ParsedEntry& e, CacheKind kind, std::string_view fallbackName, BrowserFile& row);

} // namespace browser::detail
