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

void AddCounts(const ScanStats& from, ScanStats& stats) {
    stats.entries += from.entries;
    stats.unreadable += from.unreadable;
    stats.partial += from.partial;
    stats.deletedUnproven += from.deletedUnproven;
    stats.unreadableFiles += from.unreadableFiles;
    stats.unsupported = stats.unsupported || from.unsupported;
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
    AddCounts(share.stats, stats);
    std::move(share.stats.problems.begin(), share.stats.problems.end(),
              std::back_inserter(stats.problems));
}

namespace {

// Runs read(shares[i], i) for every share, share 0 on this thread and the others on threads
// of their own; a share that throws is thrown again here once all ended.
void RunShares(std::vector<Share>& shares, const std::function<void(Share&, unsigned)>& read) {
    const auto n = static_cast<unsigned>(shares.size());
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
}

} // namespace

void InShares(unsigned n, const std::function<void(Share&, unsigned)>& read,
              std::vector<BrowserFile>& rows, ScanStats& stats) {
    std::vector<Share> shares(n);
    RunShares(shares, read);
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

void InChunks(unsigned n, std::size_t count, const std::function<void(Share&, std::size_t)>& read,
              std::vector<BrowserFile>& rows, ScanStats& stats) {
    if (n <= 1) {
        InShares(
            1,
            [&](Share& share, unsigned) {
                ReserveRows(share, 0, 0, count, count);
                for (std::size_t k = 0; k < count; ++k)
                    read(share, k);
            },
            rows, stats);
        return;
    }
    // Small enough to even the shares out, large enough that taking one costs nothing.
    const std::size_t chunk = std::clamp<std::size_t>(count / (std::size_t{n} * 16), 8, 256);
    const std::size_t chunks = (count + chunk - 1) / chunk;
    // What each chunk gave: its share, and where its rows and problems end in that share's
    // (each share takes its chunks in increasing order, so they begin where its last ended).
    struct Given {
        unsigned share = 0;
        std::size_t rowsEnd = 0, problemsEnd = 0;
    };
    std::vector<Given> given(chunks); // each element written by the share that took it
    std::atomic<std::size_t> next{0};
    std::vector<Share> shares(n);
    RunShares(shares, [&](Share& share, unsigned i) {
        share.rows.reserve(count / n + chunk);
        for (std::size_t c; (c = next.fetch_add(1, std::memory_order_relaxed)) < chunks;) {
            for (std::size_t k = c * chunk; k < std::min(count, (c + 1) * chunk); ++k)
                read(share, k);
            given[c] = {i, share.rows.size(), share.stats.problems.size()};
        }
    });
    std::size_t total = rows.size(), problems = stats.problems.size();
    for (const Share& share : shares) {
        total += share.rows.size();
        problems += share.stats.problems.size();
        AddCounts(share.stats, stats);
    }
    rows.reserve(total);
    stats.problems.reserve(problems);
    std::vector<std::pair<std::size_t, std::size_t>> taken(n); // rows, problems moved so far
    for (const Given& g : given) {
        Share& share = shares[g.share];
        auto& [rowsFrom, problemsFrom] = taken[g.share];
        const auto at = [](auto& v, std::size_t i) {
            return v.begin() + static_cast<std::ptrdiff_t>(i);
        };
        std::move(at(share.rows, rowsFrom), at(share.rows, g.rowsEnd), std::back_inserter(rows));
        std::move(at(share.stats.problems, problemsFrom), at(share.stats.problems, g.problemsEnd),
                  std::back_inserter(stats.problems));
        rowsFrom = g.rowsEnd;
        problemsFrom = g.problemsEnd;
    }
}

} // namespace browser::detail
