#include "index_builder.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace testdata {
namespace {

constexpr std::uint32_t kBlock = 128;
constexpr std::uint32_t kAreaStart = 0x4000;

std::uint32_t align(std::uint32_t v, std::uint32_t a) {
    return (v + a - 1) / a * a;
}

} // namespace

void PutU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    if (b.size() < at + 4)
        b.resize(at + 4);
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t GetU32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

IndexBuilder::IndexBuilder(Signature s, std::vector<std::string> directories)
    : signature_(s), directories_(std::move(directories)) {}

std::vector<std::uint8_t> IndexBuilder::urlRecord(const Record& r, const char (&tag)[5]) const {
    std::vector<std::uint8_t> rec(0x68, 0);
    auto put = [&](const std::string& s, bool nul) {
        const auto at = static_cast<std::uint32_t>(rec.size());
        rec.insert(rec.end(), s.begin(), s.end());
        if (nul)
            rec.push_back(0);
        // An unterminated URL must find no NUL in its padding either.
        const std::uint8_t pad = !nul && &s == &r.url ? 'x' : 0;
        rec.resize(align(static_cast<std::uint32_t>(rec.size()), 4), pad);
        return at;
    };
    const std::uint32_t urlAt = put(r.url, r.terminateUrl);
    const std::uint32_t nameAt = r.fileName.empty() ? 0 : put(r.fileName, true);
    const std::uint32_t headerAt = r.headers.empty() ? 0 : put(r.headers, false);
    const std::uint32_t extAt = r.extension.empty() ? 0 : put(r.extension, true);
    std::uint32_t blocks =
        r.blocks ? r.blocks : align(static_cast<std::uint32_t>(rec.size()), kBlock) / kBlock;
    const std::size_t length = std::size_t{blocks} * kBlock;
    if (!r.terminateUrl) // let the URL run to the record's end: no NUL anywhere after it
        rec.resize(length, 'x');
    rec.resize(std::max(rec.size(), length), 0);
    if (r.blocks)
        rec.resize(length, 0);
    std::memcpy(rec.data(), tag, 4);
    PutU32(rec, 4, blocks);
    PutU32(rec, 32, r.sizeLow);
    PutU32(rec, 36, r.sizeHigh);
    PutU32(rec, 44, 86400);
    PutU32(rec, 48, 0x60);
    PutU32(rec, 52, urlAt);
    rec[56] = r.directory;
    rec[58] = 0x10;
    rec[59] = 0x10;
    PutU32(rec, 60, nameAt);
    PutU32(rec, 64, r.type);
    PutU32(rec, 68, headerAt);
    PutU32(rec, 72, static_cast<std::uint32_t>(r.headers.size()));
    PutU32(rec, 76, extAt);
    return rec;
}

std::uint32_t IndexBuilder::place(const std::vector<std::uint8_t>& record) {
    const auto at = static_cast<std::uint32_t>(records_.size());
    records_.insert(records_.end(), record.begin(), record.end());
    placed_.push_back({at, {}});
    return at; // relative to the record area; fixed up in build()
}

std::uint32_t IndexBuilder::add(const Record& r) {
    const std::uint32_t at = place(urlRecord(r, "URL "));
    slots_.push_back({static_cast<std::uint32_t>((slots_.size() + 1) << 6), at});
    return at;
}

std::uint32_t IndexBuilder::addDeleted(const Record& r) {
    const std::uint32_t at = place(urlRecord(r, "URL "));
    slots_.push_back({1, at});
    return at;
}

void IndexBuilder::addRedirect(const std::string& url) {
    std::vector<std::uint8_t> rec(16, 0);
    rec.insert(rec.end(), url.begin(), url.end());
    rec.push_back(0);
    rec.resize(align(static_cast<std::uint32_t>(rec.size()), kBlock), 0);
    std::memcpy(rec.data(), "REDR", 4);
    PutU32(rec, 4, static_cast<std::uint32_t>(rec.size() / kBlock));
    const std::uint32_t at = place(rec);
    slots_.push_back({static_cast<std::uint32_t>(((slots_.size() + 1) << 6) | 5), at});
}

void IndexBuilder::addLeak(const Record& r) {
    const std::uint32_t at = place(urlRecord(r, "LEAK"));
    slots_.push_back({1, at});
}

void IndexBuilder::addOrphan(const Record& r) {
    place(urlRecord(r, "URL "));
}

std::vector<std::uint8_t> IndexBuilder::build() const {
    const std::uint32_t tableBlocks = 32;
    const std::uint32_t perTable = std::max<std::uint32_t>(slotsPerTable_, 1);
    const std::uint32_t tables = std::max<std::uint32_t>(
        1, static_cast<std::uint32_t>((slots_.size() + perTable - 1) / perTable));
    const std::uint32_t areaOffset = kAreaStart + tables * tableBlocks * kBlock;
    std::uint32_t fileSize = areaOffset + static_cast<std::uint32_t>(records_.size());
    fileSize = std::max<std::uint32_t>(align(fileSize, kBlock), 0x8000);
    std::vector<std::uint8_t> f(fileSize, 0);

    const char* sig = signature_ == Signature::Native ? "Client UrlCache MMF Ver 5.2"
                                                      : "WINE URLCache Ver 0.2012001";
    std::memcpy(f.data(), sig, std::strlen(sig));
    // The allocation bitmap cannot describe more than 126,336 blocks; a bigger file (only
    // the benchmarks write one) claims that many and leaves the rest undescribed.
    const std::uint32_t capacity =
        std::min<std::uint32_t>((fileSize - kAreaStart) / kBlock, (0x4000 - 0x250) * 8);
    PutU32(f, 0x1C, fileSize);
    PutU32(f, 0x20, kAreaStart);
    PutU32(f, 0x24, capacity);
    const std::uint32_t used = std::min(
        capacity, tables * tableBlocks + static_cast<std::uint32_t>(records_.size() / kBlock));
    PutU32(f, 0x28, used);
    PutU32(f, 0x30, 0x07FF5400);
    PutU32(f, 0x48, static_cast<std::uint32_t>(directories_.size()));
    for (std::size_t i = 0; i < directories_.size() && i < 32; ++i) {
        PutU32(f, 0x4C + i * 12, 1);
        std::memcpy(f.data() + 0x4C + i * 12 + 4, directories_[i].data(),
                    std::min<std::size_t>(8, directories_[i].size()));
    }
    // Allocation bitmap, when it fits.
    if (capacity / 8 <= 0x4000 - 0x250)
        for (std::uint32_t blk = 0; blk < used; ++blk)
            f[0x250 + blk / 8] |= static_cast<std::uint8_t>(1u << (blk % 8));

    for (std::uint32_t t = 0; t < tables; ++t) {
        const std::uint32_t at = kAreaStart + t * tableBlocks * kBlock;
        std::memcpy(f.data() + at, "HASH", 4);
        PutU32(f, at + 4, tableBlocks);
        PutU32(f, at + 8, t + 1 < tables ? at + tableBlocks * kBlock : 0);
        PutU32(f, at + 12, t);
        for (std::uint32_t s = 0; s < (tableBlocks * kBlock - 16) / 8; ++s) {
            const std::size_t slotAt = at + 16 + s * 8;
            const std::size_t index = std::size_t{t} * perTable + s;
            if (s < perTable && index < slots_.size()) {
                PutU32(f, slotAt, slots_[index].key);
                PutU32(f, slotAt + 4, areaOffset + slots_[index].offset);
            } else if (s < perTable) {
                PutU32(f, slotAt, 3);
                PutU32(f, slotAt + 4, 3);
            } else {
                PutU32(f, slotAt, 0xDEADBEEF);
                PutU32(f, slotAt + 4, 0xDEADBEEF);
            }
        }
    }
    std::copy(records_.begin(), records_.end(), f.begin() + areaOffset);
    return f;
}

} // namespace testdata
