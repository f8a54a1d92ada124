// The same resource cached twice: browsers that partition their cache by the site a request
// came from keep one entry per partition, and the list shows each picture once.
#pragma once

#include "cache/browser/browser.h"

#include <vector>

namespace browser::detail {

// Drops rows whose URL and body an earlier row already has (one per partition), counting
// them in stats.duplicates. Rows are sorted once by a hash of URL, size and codings; only rows
// sharing all three need their bodies fingerprinted, each once, so the work stays near linear
// however many share a URL.
std::vector<BrowserFile> RemoveDuplicates(std::vector<BrowserFile> rows, ScanStats& stats);

} // namespace browser::detail
