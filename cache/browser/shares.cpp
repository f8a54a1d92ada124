#include "cache/browser/shares.h"
#include "platform/base/process.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <iterator>
#include <memory>
#include <system_error>
#include <thread>

namespace browser::detail {

namespace {

std::atomic<unsigned> g_scanShares{0};

// One share per core, at most kMaxShares; a small cache is one share.
constexpr unsigned kMaxShares = 4;
constexpr std::size_t kEntriesPerShare = 512;

// A thread's first allocations start a heap of its own, which glibc then grows a page at a
// time, one mprotect each: some two hundred calls for a scan, each taking the address
// space's lock from the other threads' page faults. Growing it once, in large steps, first
// leaves it grown (it only ever gives the pages back, never the mapping).
void GrowThreadHeap() {
    constexpr std::size_t kStep = std::size_t{96} * 1024, kSteps = 24; // below the mmap threshold
    std::vector<std::unique_ptr<char[]>> blocks;
    blocks.reserve(kSteps);
    for (std::size_t i = 0; i < kSteps; ++i)
        blocks.emplace_back(new char[kStep]);
}

} // namespace

void SetScanShares(unsigned shares) {
    g_scanShares = shares;
}

unsigned SharesFor(std::size_t entries) {
    const unsigned forced = g_scanShares;
    const unsigned cores = forced != 0 ? forced : platform::UsableCores();
    const std::size_t worth = forced != 0 ? entries : entries / kEntriesPerShare;
    return static_cast<unsigned>(
        std::clamp<std::size_t>(std::min<std::size_t>(worth, cores), 1, kMaxShares));
}

std::pair<std::size_t, std::size_t> ShareRange(std::size_t count, unsigned i, unsigned n) {
    return {count * i / n, count * (i + 1) / n};
}

void ReserveRows(Share& share, unsigned i, std::size_t from, std::size_t to, std::size_t all) {
    share.rows.reserve(i == 0 ? all : to - from);
}

void Append(Share&& share, std::vector<BrowserFile>& rows, ScanStats& stats) {
    if (rows.empty() && share.rows.capacity() >= rows.capacity())
        rows = std::move(share.rows);
    else
        std::move(share.rows.begin(), share.rows.end(), std::back_inserter(rows));
    stats.entries += share.stats.entries;
    stats.unreadable += share.stats.unreadable;
    stats.partial += share.stats.partial;
    stats.deletedUnproven += share.stats.deletedUnproven;
    stats.unreadableFiles += share.stats.unreadableFiles;
    stats.unsupported = stats.unsupported || share.stats.unsupported;
    std::move(share.stats.problems.begin(), share.stats.problems.end(),
              std::back_inserter(stats.problems));
}

void InShares(unsigned n, const std::function<void(Share&, unsigned)>& read,
              std::vector<BrowserFile>& rows, ScanStats& stats) {
    std::vector<Share> shares(n);
    std::vector<std::exception_ptr> failures(n);
    const auto run = [&](unsigned i) {
        try {
            if (i != 0)
                GrowThreadHeap();
            read(shares[i], i);
        } catch (...) {
            failures[i] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(n);            // so that adding one never fails while others run
    std::vector<unsigned> here{0}; // and any share no thread could be started for
    here.reserve(n);
    for (unsigned i = 1; i < n; ++i) {
        try {
            threads.emplace_back(run, i);
        } catch (const std::system_error&) {
            here.push_back(i);
        }
    }
    for (const unsigned i : here)
        run(i);
    for (std::thread& t : threads)
        t.join();
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
    std::size_t total = rows.size();
    for (const Share& share : shares)
        total += share.rows.size();
    // Rows are large: moved once, not again at every doubling; not at all when the first
    // share has room for every one (ReserveRows).
    if (rows.empty() && !shares.empty() && shares[0].rows.capacity() >= total)
        rows.swap(shares[0].rows);
    else if (total > rows.capacity())
        rows.reserve(std::max(total, 2 * rows.capacity()));
    for (Share& share : shares)
        Append(std::move(share), rows, stats);
}

} // namespace browser::detail
