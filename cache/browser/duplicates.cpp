#include "cache/browser/duplicates.h"

#include "cache/browser/decode.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <zlib.h>

namespace browser::detail {

namespace {

// A 64-bit fingerprint of the stored body, for telling two entries of one URL apart.
std::optional<std::uint64_t> Fingerprint(const BodyLocation& body) {
    auto stream = OpenStoredBody(body.segments);
    std::vector<char> buffer(std::size_t{64} * 1024);
    uLong crc = crc32(0, nullptr, 0), adler = adler32(0, nullptr, 0);
    for (;;) {
        const std::ptrdiff_t got = stream->read(buffer.data(), buffer.size());
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        const auto* p = reinterpret_cast<const Bytef*>(buffer.data());
        crc = crc32(crc, p, static_cast<uInt>(got));
        adler = adler32(adler, p, static_cast<uInt>(got));
    }
    return static_cast<std::uint64_t>(crc) << 32 | (adler & 0xFFFFFFFFu);
}

bool SameResource(const BrowserFile& a, const BrowserFile& b) {
    return a.size == b.size && a.url == b.url && a.body.encodings == b.body.encodings;
}

std::uint64_t ResourceHash(const BrowserFile& row) {
    std::uint64_t h = std::hash<std::string_view>{}(row.url) ^ (row.size * 0x9E3779B97F4A7C15u);
    for (const std::string& coding : row.body.encodings)
        h = h * 31 + std::hash<std::string_view>{}(coding);
    return h;
}

} // namespace

std::vector<BrowserFile> RemoveDuplicates(std::vector<BrowserFile> rows, ScanStats& stats) {
    // Rows of one resource have one size: only the URLs of rows that share their size with
    // another are hashed, which spares reading every row's URL from memory again.
    using Keyed = std::vector<std::pair<std::uint64_t, std::size_t>>;
    Keyed keyed(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        keyed[i] = {rows[i].size, i};
    std::sort(keyed.begin(), keyed.end());
    // Calls f(from, to) for each run of equal keys longer than one.
    const auto runs = [](Keyed::iterator from, Keyed::iterator end, auto f) {
        while (from != end) {
            auto to = from + 1;
            while (to != end && to->first == from->first)
                ++to;
            if (to - from > 1)
                f(from, to);
            from = to;
        }
    };
    std::vector<bool> dropped(rows.size(), false);
    std::size_t drops = 0;
    runs(keyed.begin(), keyed.end(), [&](Keyed::iterator sized, Keyed::iterator sizedEnd) {
        for (auto k = sized; k != sizedEnd; ++k)
            k->first = ResourceHash(rows[k->second]);
        std::sort(sized, sizedEnd);
        runs(sized, sizedEnd, [&](Keyed::iterator from, Keyed::iterator to) {
            // The run is in row order; rows of one resource keep the first of each body.
            std::vector<std::pair<std::size_t, std::unordered_set<std::uint64_t>>> groups;
            for (auto k = from; k != to; ++k) {
                const std::size_t i = k->second;
                auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) {
                    return SameResource(rows[g.first], rows[i]);
                });
                if (group == groups.end()) {
                    groups.emplace_back(i, std::unordered_set<std::uint64_t>{});
                    group = groups.end() - 1;
                }
                const auto print = Fingerprint(rows[i].body);
                if (print && !group->second.insert(*print).second) {
                    dropped[i] = true;
                    ++drops;
                }
            }
        });
    });
    stats.duplicates += drops;
    if (drops == 0)
        return rows;
    std::vector<BrowserFile> kept;
    kept.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (!dropped[i])
            kept.push_back(std::move(rows[i]));
    return kept;
}

} // namespace browser::detail
