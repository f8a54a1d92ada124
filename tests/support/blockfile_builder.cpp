#include "blockfile_builder.h"
#include "cache/browser/blockfile.h"
#include "cache/formats/blockfile_layout.h"
#include "cache_builder.h"

#include <cstdio>

namespace browser_test {

namespace bf = formats::blockfile;

namespace {

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

std::uint32_t Get32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= std::uint32_t{static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)])}
             << (8 * i);
    return v;
}

std::string BlockFileHeader(std::uint32_t number, std::uint32_t blockSize) {
    std::string h(bf::kBlockHeaderSize, '\0');
    Put32(h, bf::kBlockMagicAt, bf::kBlockMagic);
    Put32(h, bf::kBlockVersionAt, bf::kBlockVersion2_0);
    h[bf::kBlockThisFileAt] = static_cast<char>(number);
    Put32(h, bf::kBlockSizeAt, blockSize);
    return h;
}

std::string Name(std::uint32_t number) {
    return "data_" + std::to_string(number);
}

} // namespace

std::string BlockfileKey(const std::string& url) {
    return "1/0/_dk_http://example.com http://example.com " + url;
}

BlockfileBuilder::BlockfileBuilder(std::uint32_t tableLength) : tableLength_(tableLength) {
    std::string index(bf::kIndexHeaderSize + std::size_t{tableLength} * 4, '\0');
    Put32(index, bf::kIndexMagicAt, bf::kIndexMagic);
    Put32(index, bf::kIndexVersionAt, bf::kIndexVersion3_0);
    Put32(index, bf::kIndexTableLengthAt, tableLength);
    files["index"] = index;
    for (std::uint32_t n = 0; n < bf::kFirstBlockFiles; ++n)
        files[Name(n)] = BlockFileHeader(n, bf::BlockSize(n + 1));
}

// Stores bytes where Chromium would: up to 4 blocks of the smallest fitting size, or an f_ file.
std::uint32_t BlockfileBuilder::place(const std::string& bytes, bool extension) {
    if (bytes.empty())
        return 0;
    std::uint32_t type = 2;
    while (type <= 4 && bytes.size() > std::size_t{4} * bf::BlockSize(type))
        ++type;
    if (type > 4) {
        const std::uint32_t number = nextExternal_++;
        char name[16];
        std::snprintf(name, sizeof name, "f_%06x", number);
        files[name] = bytes;
        return bf::kAddrInitialized | number;
    }
    const std::uint32_t size = bf::BlockSize(type);
    const auto blocks = static_cast<std::uint32_t>((bytes.size() + size - 1) / size);
    // A full file (or one asked to be passed) is extended by a new one chained from it.
    constexpr std::size_t kMaxBlocks = (bf::kBlockHeaderSize - 80) * 8;
    const std::size_t used = (files[Name(current_[type])].size() - bf::kBlockHeaderSize) / size;
    if ((extension && current_[type] == type - 1) || used + blocks > kMaxBlocks) {
        const std::uint32_t added = nextFile_++;
        files[Name(added)] = BlockFileHeader(added, size);
        std::string& previous = files[Name(current_[type])];
        previous[bf::kBlockNextFileAt] = static_cast<char>(added);
        previous[bf::kBlockNextFileAt + 1] = static_cast<char>(added >> 8);
        current_[type] = added;
    }
    const std::uint32_t number = current_[type];
    std::string& file = files[Name(number)];
    const auto start = static_cast<std::uint32_t>((file.size() - bf::kBlockHeaderSize) / size);
    file += bytes;
    file.resize(bf::kBlockHeaderSize + std::size_t{start + blocks} * size, '\0');
    return bf::kAddrInitialized | type << bf::kAddrTypeShift | (blocks - 1) << 24 | number << 16 |
           start;
}

std::uint32_t BlockfileBuilder::add(const Entry& e) {
    std::string record(bf::kEntryBlockSize, '\0');
    std::uint32_t longKey = 0;
    if (e.longKey || e.key.size() >= 4 * bf::kEntryBlockSize - bf::kEntryKeyAt)
        longKey = place(e.key + '\0');
    else
        record.resize(((bf::kEntryKeyAt + e.key.size()) / bf::kEntryBlockSize + 1) *
                          bf::kEntryBlockSize,
                      '\0');
    const std::uint32_t hash = formats::SuperFastHash(e.key);
    std::string& index = files["index"];
    const std::size_t bucket = bf::kIndexHeaderSize + std::size_t{hash & (tableLength_ - 1)} * 4;
    Put32(record, bf::kEntryHashAt, hash);
    Put32(record, bf::kEntryNextAt, Get32(index, bucket));
    Put32(record, bf::kEntryStateAt, static_cast<std::uint32_t>(e.state));
    Put32(record, bf::kEntryKeyLengthAt, static_cast<std::uint32_t>(e.key.size()));
    Put32(record, bf::kEntryLongKeyAt, longKey);
    const std::string* streams[] = {&e.info, &e.body, &e.sparse};
    for (std::size_t i = 0; i < 3; ++i) {
        Put32(record, bf::kEntryStreamSizesAt + 4 * i,
              static_cast<std::uint32_t>(streams[i]->size()));
        Put32(record, bf::kEntryStreamAddressesAt + 4 * i,
              place(*streams[i], i == 1 && e.bodyInExtension));
    }
    Put32(record, bf::kEntryFlagsAt, e.flags);
    if (longKey == 0)
        record.replace(bf::kEntryKeyAt, e.key.size(), e.key);
    const std::uint32_t address = place(record);
    rehash(address);
    Put32(index, bucket, address);
    Put32(index, bf::kIndexEntryCountAt, Get32(index, bf::kIndexEntryCountAt) + 1);
    return address;
}

std::uint32_t BlockfileBuilder::addPicture(const std::string& url, const std::string& body,
                                           const std::vector<std::string>& headers) {
    std::vector<std::string> all = {"Content-Type: image/png"};
    all.insert(all.end(), headers.begin(), headers.end());
    return add({BlockfileKey(url), BuildResponseInfo("HTTP/1.1 200 OK", all), body, {}});
}

std::uint32_t BlockfileBuilder::addSparse(const std::string& url, const std::string& resource,
                                          std::int64_t signature, std::size_t leaveOut,
                                          std::size_t overfill) {
    const auto header = [&](std::uint32_t lastBlock, std::uint32_t lastLength) {
        std::string h(bf::kSparseHeaderSize, '\0');
        Put32(h, bf::kSparseSignatureAt, static_cast<std::uint32_t>(signature));
        Put32(h, bf::kSparseSignatureAt + 4, static_cast<std::uint32_t>(signature >> 32));
        Put32(h, bf::kSparseMagicAt, bf::kIndexMagic);
        Put32(h, bf::kSparseLastBlockAt, lastBlock);
        Put32(h, bf::kSparseLastBlockLengthAt, lastLength);
        return h;
    };
    const std::string key = BlockfileKey(url);
    char sig[24];
    std::snprintf(sig, sizeof sig, "%llx", static_cast<unsigned long long>(signature));
    std::string parentMap(bf::kChildBitmapBytes, '\0');
    for (std::size_t n = 0; n * bf::kChildSpan < resource.size(); ++n) {
        std::string piece = resource.substr(n * bf::kChildSpan, bf::kChildSpan);
        const std::size_t full = piece.size() / bf::kChildBlock;
        std::size_t lastLength = piece.size() % bf::kChildBlock;
        if (n == 0 && overfill > 0 && piece.size() == bf::kChildSpan) {
            piece.append(overfill, 'X');
            lastLength = overfill;
        }
        std::string bitmap(bf::kChildBitmapBytes, '\0');
        for (std::size_t b = 0; b < full; ++b)
            bitmap[b / 8] = static_cast<char>(bitmap[b / 8] | 1 << (b % 8));
        Entry child{
            "Range_" + key + ":" + sig + ":" + std::to_string(n),
            {},
            piece,
            header(static_cast<std::uint32_t>(full), static_cast<std::uint32_t>(lastLength)) +
                bitmap};
        child.flags = bf::kFlagChildEntry;
        if (n != leaveOut)
            add(child);
        parentMap[n / 8] = static_cast<char>(parentMap[n / 8] | 1 << (n % 8));
    }
    const std::string total = std::to_string(resource.size());
    Entry parent{key,
                 BuildResponseInfo("HTTP/1.1 206 Partial Content",
                                   {"Content-Type: video/mp4",
                                    "Content-Range: bytes 0-" +
                                        std::to_string(resource.size() - 1) + "/" + total}),
                 {},
                 header(0, 0) + parentMap};
    parent.flags = bf::kFlagParentEntry;
    return add(parent);
}

std::size_t BlockfileBuilder::offsetOf(std::uint32_t address) const {
    const std::uint32_t type = (address & bf::kAddrTypeMask) >> bf::kAddrTypeShift;
    return bf::kBlockHeaderSize +
           std::size_t{address & bf::kAddrStartBlockMask} * bf::BlockSize(type);
}

std::string& BlockfileBuilder::fileOf(std::uint32_t address) {
    return files[Name((address & bf::kAddrFileNumberMask) >> bf::kAddrFileNumberShift)];
}

void BlockfileBuilder::rehash(std::uint32_t entry) {
    std::string& file = fileOf(entry);
    const std::size_t at = offsetOf(entry);
    Put32(file, at + bf::kEntrySelfHashAt,
          formats::SuperFastHash(std::string_view(file).substr(at, bf::kEntrySelfHashAt)));
}

void BlockfileBuilder::patchEntry(std::uint32_t entry, std::size_t at, std::uint32_t value,
                                  bool rehash) {
    Put32(fileOf(entry), offsetOf(entry) + at, value);
    if (rehash)
        this->rehash(entry);
}

std::uint32_t BlockfileBuilder::entryField(std::uint32_t entry, std::size_t at) {
    return Get32(fileOf(entry), offsetOf(entry) + at);
}

void BlockfileBuilder::write(const std::filesystem::path& folder) const {
    std::filesystem::create_directories(folder);
    for (const auto& [name, bytes] : files)
        WriteFile(folder / name, bytes);
}

} // namespace browser_test
