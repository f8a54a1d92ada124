// A cache is read in shares, one per core: opening entries and sniffing their bodies is
// per-entry work that nothing else waits on. Each share reads on a thread of its own into
// rows and counts of its own, which are then appended in order, so that the result is the one
// a single pass would give.
#pragma once

#include "cache/browser/browser.h"

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace browser::detail {

// What one share of a cache's entries gave, read on a thread of its own.
struct Share {
    std::vector<BrowserFile> rows;
    ScanStats stats;
};

// Test seam: read every cache in exactly this many shares at once, however small it is (0,
// the default: one per core, and one for a cache too small to gain from more).
void SetScanShares(unsigned shares);

// How many shares to read `entries` entries in.
unsigned SharesFor(std::size_t entries);

// The range of `count` items that share `i` of `n` reads.
std::pair<std::size_t, std::size_t> ShareRange(std::size_t count, unsigned i, unsigned n);

// Room for the rows of share i of the entries [from, to) of `all`: the first share's for
// every entry, so that the other shares' rows are added to it without moving any again (room
// never used is never touched, so it costs no memory).
void ReserveRows(Share& share, unsigned i, std::size_t from, std::size_t to, std::size_t all);

// Adds a share's rows and counts after those of the shares before it.
void Append(Share&& share, std::vector<BrowserFile>& rows, ScanStats& stats);

// Runs read(share, i) for the shares 0..n-1, share 0 on this thread and the others on
// threads of their own, then appends each share's rows and counts in order: the result is
// the one a single pass would give. A share that throws is thrown again here once all ended.
void InShares(unsigned n, const std::function<void(Share&, unsigned)>& read,
              std::vector<BrowserFile>& rows, ScanStats& stats);

// Runs read(share, k) for every k in [0, count), on n shares at once (n from SharesFor): each
// takes the next chunk of items whenever it is done with one, so that a share slowed down, by
// the scheduler or by page faults of its own, takes fewer. The rows and counts are then put
// together in the order of k, as a single pass gives them.
void InChunks(unsigned n, std::size_t count, const std::function<void(Share&, std::size_t)>& read,
              std::vector<BrowserFile>& rows, ScanStats& stats);

} // namespace browser::detail
