// libFuzzer target: any bytes as a whole Chromium blockfile cache (index, block files and
// f_ files, packed as blockfile_pack.h describes, the index's table at most
// blockfile_pack::kMaxTableLength buckets). The reader may not crash, loop or read outside a
// file, and every body segment it returns must lie inside the file it names. On an input of
// up to kShareCheckInput bytes, reading the table in three shares must also give the entries
// one pass gives.
#include "blockfile_pack.h"
#include "cache/browser/blockfile.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using blockfile_pack::PackedFile;
using Packed = std::map<std::string, PackedFile>;

// The three shares cost about twice the one pass (each opens the block files and pages them
// in again), so they are compared on inputs up to this size only: room for a cache of a few
// chains, and where libFuzzer's shrinking keeps bringing what it finds.
constexpr std::size_t kShareCheckInput = 8 * 1024;

class PackedSource final : public browser::detail::Source {
  public:
    explicit PackedSource(const PackedFile& file) : file_(file) {}
    std::uint64_t size() const override { return file_.size; }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t n) const override {
        return file_.read(offset, static_cast<std::uint8_t*>(buffer), n);
    }

  private:
    const PackedFile& file_;
};

// The input's files, each opened once and kept for the whole read, as a block file is.
class PackedFiles final : public browser::detail::BlockfileFiles {
  public:
    explicit PackedFiles(const Packed& files) : files_(files) {}
    const browser::detail::Source* open(const std::string& name) override {
        const auto f = files_.find(name);
        if (f == files_.end())
            return nullptr;
        auto& s = sources_[name];
        if (!s)
            s = std::make_unique<PackedSource>(f->second);
        return s.get();
    }
    std::string path(const std::string& name) const override { return name; }
    browser::FileIdentity identity(const std::string&) const override { return {}; }

  private:
    const Packed& files_;
    std::map<std::string, std::unique_ptr<PackedSource>> sources_;
};

// The table length the index gives, or kMaxTableLength when it gives more (or 0, which the
// reader takes for 65,536): written over the header by one more chunk, held in `patch`.
void CapTable(Packed& files, std::array<std::uint8_t, 4>& patch) {
    const auto index = files.find("index");
    if (index == files.end() ||
        !index->second.read(blockfile_pack::kTableLengthAt, patch.data(), 4))
        return;
    const std::uint32_t length = platform::ByteReader(patch).u32(0);
    if (length != 0 && length <= blockfile_pack::kMaxTableLength)
        return;
    for (std::size_t i = 0; i < 4; ++i)
        patch[i] = static_cast<std::uint8_t>(blockfile_pack::kMaxTableLength >> (8 * i));
    index->second.chunks.push_back({blockfile_pack::kTableLengthAt, patch});
}

// What is compared between one pass and shares: each entry's place, state and what it holds.
std::string Describe(const browser::detail::BlockfileEntry& e) {
    std::string d = std::to_string(e.address) + " " + std::to_string(e.state) + " " +
                    std::to_string(e.readable) + " " + e.parsed.key + " " +
                    std::to_string(e.parsed.storedSize) + " " + e.bodyFile;
    for (const auto& s : e.parsed.body)
        d += " " + s.file + "@" + std::to_string(s.offset) + "+" + std::to_string(s.length);
    return d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Packed packed = blockfile_pack::Unpack({data, size});
    std::array<std::uint8_t, 4> patch{};
    CapTable(packed, patch);
    PackedFiles files(packed);
    const auto contents = browser::detail::ReadBlockfile(files);
    for (const auto& entry : contents.entries) {
        for (const auto& s : entry.parsed.body) {
            const auto f = packed.find(s.file);
            if (f == packed.end() || s.offset > f->second.size ||
                s.length > f->second.size - s.offset)
                std::abort();
        }
    }
    if (size > kShareCheckInput)
        return 0;
    // Three shares, one after the other, each with files of its own.
    constexpr unsigned kShares = 3;
    browser::detail::BlockfileReading reading(kShares);
    std::vector<std::string> shared;
    const std::function<void(browser::detail::BlockfileEntry&)> keep =
        [&](browser::detail::BlockfileEntry& e) { shared.push_back(Describe(e)); };
    for (unsigned i = 0; i < kShares; ++i) {
        PackedFiles own(packed);
        reading.read(i, own, keep);
    }
    const auto rest = reading.finish(keep);
    if (shared.size() != contents.entries.size() || rest.readable != contents.readable)
        std::abort();
    for (std::size_t i = 0; i < shared.size(); ++i)
        if (shared[i] != Describe(contents.entries[i]))
            std::abort();
    return 0;
}
