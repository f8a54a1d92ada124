#include "cache/browser/blockfile.h"
#include "cache/browser/media.h"
#include "cache/formats/blockfile_layout.h"
#include "platform/base/ascii.h"
#include "platform/base/endian.h"
#include "platform/base/unix_time.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <optional>
#include <unordered_map>

namespace browser::detail {

using namespace blockfile;

namespace {

// Response info holds headers and a certificate chain; a few MiB is far beyond any real one.
constexpr std::uint64_t kMaxResponseInfo = 4ull * 1024 * 1024;
constexpr std::uint64_t kMaxKeyLength = 1024ull * 1024;
// A sparse parent's bitmap of children, or a child's of blocks, with room to spare.
constexpr std::uint64_t kMaxSparseStream = 64ull * 1024;
constexpr std::uint64_t kPageSize = 64ull * 1024;
// A 256-byte block file holds at most 64,896 blocks (16 MiB): this keeps four of them.
constexpr std::uint64_t kPageBudget = 64ull * 1024 * 1024;

// A range of one file that an address names: the blocks of a block file, or an f_ file.
struct Span {
    std::string name;
    const Source* file = nullptr;
    std::uint32_t blockFile = 0; // data_N's N
    bool paged = false;          // in a file of 256-byte blocks, read through the page store
    std::uint64_t offset = 0;
    std::uint64_t capacity = 0;
};

struct BlockFile {
    const Source* file = nullptr;
    std::uint32_t blockSize = 0;
};

// What a sparse child holds, kept until the parents are put together.
struct Child {
    std::int64_t signature = 0;
    BodySegment filled; // the bytes from the child's start for as far as they are filled
};

struct Parent {
    BlockfileEntry entry; // held back until every child has been read
    std::int64_t signature = 0;
    std::string children; // bitmap of the children that were written
};

class Reader {
  public:
    // Reads share `share` of `shares` of the hash table's buckets.
    Reader(BlockfileFiles& files, BlockfileContents& out, unsigned share, unsigned shares,
           const std::function<void(BlockfileEntry&)>& each)
        : files_(files), out_(out), share_(share), shares_(shares), each_(each) {}

    void run() {
        std::string table;
        if (!readIndex(table))
            return;
        openBlockFiles();
        out_.readable = true;
        walkTable(table);
    }

    // The sparse children and parents this share found, for joining once every share is read.
    std::unordered_map<std::string, Child>& children() { return children_; }
    std::vector<Parent>& parents() { return parents_; }

  private:
    void warn(BlockfileProblem p, std::uint32_t address) { out_.warnings.push_back({p, address}); }

    // --- the index ----------------------------------------------------------------------
    bool readIndex(std::string& table) {
        const Source* index = files_.open("index");
        std::string head(kIndexHeaderSize, '\0');
        if (!index || index->size() < kIndexHeaderSize ||
            !index->readAt(0, head.data(), head.size())) {
            warn(BlockfileProblem::IndexMissing, 0);
            return false;
        }
        BlockfileIndexHeader& h = out_.header;
        h = ParseBlockfileIndexHeader(head);
        if (h.magic != kIndexMagic) {
            h = {}; // nothing of a file that is not an index is told as its header
            warn(BlockfileProblem::IndexMagic, 0);
            return false;
        }
        if (!IsKnownIndexVersion(h.version)) {
            warn(BlockfileProblem::IndexVersion, 0);
            return false;
        }
        if (h.tableLength == 0)
            h.tableLength = kDefaultTableLength;
        const std::uint64_t tableBytes = std::uint64_t{h.tableLength} * kIndexBucketSize;
        if (h.tableLength > kMaxTableLength || (h.tableLength & (h.tableLength - 1)) != 0 ||
            index->size() - kIndexHeaderSize < tableBytes) {
            warn(BlockfileProblem::TableOutsideIndex, 0);
            return false;
        }
        table.resize(static_cast<std::size_t>(tableBytes));
        if (!index->readAt(kIndexHeaderSize, table.data(), table.size())) {
            warn(BlockfileProblem::IndexMissing, 0);
            return false;
        }
        return true;
    }

    // --- block files: data_0..data_3 and the extension files chained from them ----------
    void openBlockFiles() {
        for (std::uint32_t first = 0; first < kFirstBlockFiles; ++first) {
            std::uint32_t number = first;
            std::uint32_t chainBlockSize = 0;
            for (;;) {
                if (blockFiles_.count(number) != 0) {
                    warn(BlockfileProblem::BlockFileBad, 0); // the chain comes back
                    break;
                }
                const Source* f = files_.open(BlockFileName(number));
                std::string head(kBlockFieldsRead, '\0');
                if (!f || f->size() < kBlockHeaderSize || !f->readAt(0, head.data(), head.size())) {
                    if (f || number >= kFirstBlockFiles) // a cache may lack data_3, say
                        warn(BlockfileProblem::BlockFileBad, 0);
                    break;
                }
                const BlockFileHeader h = ParseBlockFileHeader(head);
                const std::uint32_t blockSize = h.blockSize;
                const std::int16_t next = h.nextFile;
                if (chainBlockSize == 0)
                    chainBlockSize = blockSize;
                if (h.magic != kBlockMagic || !IsKnownBlockFileVersion(h.version) ||
                    h.thisFile != static_cast<std::int16_t>(number) ||
                    blockSize != BlockSize(first + 1) || blockSize != chainBlockSize || next < 0) {
                    warn(BlockfileProblem::BlockFileBad, 0);
                    break;
                }
                blockFiles_[number] = {f, blockSize};
                number = static_cast<std::uint32_t>(next);
                if (number == 0)
                    break;
            }
        }
    }

    // Where an address points, checked against the file it names. External files stay valid
    // until the next external address is resolved.
    std::optional<Span> resolve(std::uint32_t address, std::uint32_t owner) {
        const BlockfileAddress a = DecodeBlockfileAddress(address);
        if (!a.initialized) {
            warn(BlockfileProblem::BadAddress, owner);
            return std::nullopt;
        }
        const std::uint32_t type = a.type;
        Span s;
        if (type == static_cast<std::uint32_t>(FileType::External)) {
            s.name = ExternalFileName(a.externalNumber);
            s.file = files_.open(s.name);
            if (!s.file) {
                warn(BlockfileProblem::MissingFile, owner);
                return std::nullopt;
            }
            s.capacity = s.file->size();
            return s;
        }
        const std::uint32_t blockSize = BlockSize(type);
        const std::uint32_t number = a.fileNumber;
        const auto it = blockFiles_.find(number);
        if (blockSize == 0 || type == static_cast<std::uint32_t>(FileType::Rankings) ||
            a.reservedBitsSet || it == blockFiles_.end() || it->second.blockSize != blockSize) {
            warn(it == blockFiles_.end() && blockSize != 0 ? BlockfileProblem::MissingFile
                                                           : BlockfileProblem::BadAddress,
                 owner);
            return std::nullopt;
        }
        const std::uint64_t count = a.blockCount;
        s.name = BlockFileName(number);
        s.file = it->second.file;
        s.blockFile = number;
        s.paged = type == static_cast<std::uint32_t>(FileType::Block256);
        s.offset = kBlockHeaderSize + std::uint64_t{a.startBlock} * blockSize;
        s.capacity = count * blockSize;
        if (s.offset > s.file->size() || s.capacity > s.file->size() - s.offset) {
            warn(BlockfileProblem::BadAddress, owner);
            return std::nullopt;
        }
        return s;
    }

    // The 256-byte block files hold every entry record, key and response info, read in an
    // order that has nothing to do with their place: they are read a page at a time and the
    // pages kept (up to a budget), instead of a few hundred bytes per read.
    bool read(const Span& s, std::uint64_t offset, char* out, std::size_t n) {
        if (!s.paged)
            return s.file->readAt(offset, out, n);
        if (offset > s.file->size() || n > s.file->size() - offset)
            return false;
        while (n > 0) {
            const std::uint64_t page = offset / kPageSize;
            const std::uint64_t key = std::uint64_t{s.blockFile} << 40 | page;
            auto it = pages_.find(key);
            if (it == pages_.end()) {
                if (pagedBytes_ >= kPageBudget / shares_) { // the budget is shared out
                    pages_.clear();
                    pagedBytes_ = 0;
                }
                const std::uint64_t start = page * kPageSize;
                std::string bytes(
                    static_cast<std::size_t>(std::min(kPageSize, s.file->size() - start)), '\0');
                if (!s.file->readAt(start, bytes.data(), bytes.size()))
                    return false;
                pagedBytes_ += bytes.size();
                it = pages_.emplace(key, std::move(bytes)).first;
            }
            const auto at = static_cast<std::size_t>(offset - page * kPageSize);
            const std::size_t take = std::min(n, it->second.size() - at);
            std::copy_n(it->second.data() + at, take, out);
            out += take;
            offset += take;
            n -= take;
        }
        return true;
    }

    // The first `size` bytes at `address`, which must hold at least that many.
    bool readStream(std::uint32_t address, std::uint64_t size, std::uint64_t max,
                    std::uint32_t owner, std::string& into, BlockfileProblem tooLarge) {
        const auto s = resolve(address, owner);
        if (!s)
            return false;
        if (size > s->capacity || size > max) {
            warn(tooLarge, owner);
            return false;
        }
        into.resize(static_cast<std::size_t>(size));
        if (!read(*s, s->offset, into.data(), into.size())) {
            warn(BlockfileProblem::BadAddress, owner);
            return false;
        }
        return true;
    }

    // --- entries ------------------------------------------------------------------------
    // The chains are walked in the order of their first records in the block files rather
    // than bucket by bucket: the records and the response infos written with them are then
    // read front to back instead of at random, which the page store and the memory caches
    // reward. A share takes its part of that order, so one pass and any number of shares
    // read the same chains in the same order.
    void walkTable(std::string_view table) {
        const std::uint32_t mask = out_.header.tableLength - 1;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> heads; // first record, bucket
        // (The table was read whole, one bucket for every value of the mask: 65,536 of them in
        // a cache of any size, most of them empty.)
        const auto* buckets = reinterpret_cast<const std::uint8_t*>(table.data());
        const std::uint64_t count =
            std::min<std::uint64_t>(std::uint64_t{mask} + 1, table.size() / kIndexBucketSize);
        for (std::uint64_t bucket = 0; bucket < count; ++bucket)
            if (const std::uint32_t head = platform::LoadLE32(buckets + bucket * kIndexBucketSize);
                head != 0)
                heads.emplace_back(head, static_cast<std::uint32_t>(bucket));
        std::sort(heads.begin(), heads.end());
        const std::size_t first = heads.size() * share_ / shares_;
        const std::size_t end = heads.size() * (share_ + 1) / shares_;
        for (std::size_t k = first; k < end; ++k) {
            const std::uint32_t bucket = heads[k].second;
            std::uint32_t address = heads[k].first;
            while (address != 0) {
                if (visited(address)) {
                    warn(BlockfileProblem::ChainLoop, address);
                    break;
                }
                BlockfileEntry e;
                e.address = address;
                std::uint32_t next = 0;
                const Record record = readEntry(e, bucket, mask, next);
                if (record == Record::Unreadable || record == Record::OtherBucket)
                    break; // the chain ends here: what follows cannot be trusted
                if (record == Record::Read)
                    markVisited(address);
                if (pendingParent_) {
                    pendingParent_->entry = std::move(e);
                    parents_.push_back(std::move(*pendingParent_));
                    pendingParent_.reset();
                } else {
                    each_(e);
                }
                if (record == Record::Damaged)
                    break; // its link to the next entry is as doubtful as the rest
                address = next;
            }
        }
    }

    // Records are marked as read only when reached from their own bucket, which lies in one
    // share: so a loop is found in whatever share holds it, each record is read whole at most
    // once, and the entries read do not depend on how the table was shared out. Only records
    // in 256-byte blocks are read at all, so only their addresses count.
    std::vector<bool>* visitedBlocks(std::uint32_t address) {
        if ((address & kAddrTypeMask) >> kAddrTypeShift !=
            static_cast<std::uint32_t>(FileType::Block256))
            return nullptr;
        std::vector<bool>& seen = visited_[(address & kAddrFileNumberMask) >> kAddrFileNumberShift];
        if (seen.empty())
            seen.resize(std::size_t{kAddrStartBlockMask} + 1);
        return &seen;
    }
    bool visited(std::uint32_t address) {
        const std::vector<bool>* seen = visitedBlocks(address);
        return seen && (*seen)[address & kAddrStartBlockMask];
    }
    void markVisited(std::uint32_t address) {
        if (std::vector<bool>* seen = visitedBlocks(address))
            (*seen)[address & kAddrStartBlockMask] = true;
    }

    // What reading an entry record gave: nothing (its address is bad); a record of another
    // bucket (passed over: it is read from its own); a record whose self hash is wrong
    // (handed on as unreadable, its link to the next not followed); or a record of this
    // bucket, however readable its streams.
    enum class Record { Unreadable, OtherBucket, Damaged, Read };

    Record readEntry(BlockfileEntry& e, std::uint32_t bucket, std::uint32_t mask,
                     std::uint32_t& next) {
        const std::uint32_t a = e.address;
        if ((a & kAddrTypeMask) >> kAddrTypeShift !=
            static_cast<std::uint32_t>(FileType::Block256)) {
            warn(BlockfileProblem::BadAddress, a); // entries live in 256-byte blocks only
            return Record::Unreadable;
        }
        const auto s = resolve(a, a);
        if (!s)
            return Record::Unreadable;
        std::string r(static_cast<std::size_t>(s->capacity), '\0');
        if (!read(*s, s->offset, r.data(), r.size())) {
            warn(BlockfileProblem::BadAddress, a);
            return Record::Unreadable;
        }
        const BlockfileEntryStore store = ParseBlockfileEntryStore(r);
        next = store.next;
        const FileIdentity recordFile = files_.identity(s->name);
        e.record = {RecordCheck::Kind::Blockfile,
                    s->blockFile,
                    s->offset,
                    recordFile.device,
                    recordFile.inode,
                    BlockfileRecordFields(r),
                    {},
                    {}};
        e.state = store.state;
        e.flags = store.flags;
        e.streamSizes = store.streamSizes;
        e.streamAddresses = store.streamAddresses;
        if (out_.header.version >= kIndexVersion2_1 && !BlockfileEntrySelfHashMatches(r)) {
            warn(BlockfileProblem::EntryHash, a);
            return Record::Damaged; // the record is not what was written: nothing in it is trusted
        }
        const std::uint32_t keyHash = store.hash;
        if ((keyHash & mask) != bucket) {
            warn(BlockfileProblem::EntryHash, a);
            return Record::OtherBucket;
        }
        if (e.state != static_cast<std::int32_t>(EntryState::Normal)) {
            warn(BlockfileProblem::NotNormal, a);
            return Record::Read;
        }
        ParsedEntry& p = e.parsed;
        if (!readKey(r, store, a, p.key))
            return Record::Read;
        if (SuperFastHash(p.key) != keyHash) {
            warn(BlockfileProblem::EntryHash, a);
            return Record::Read;
        }
        p.url = ChromiumKeyUrl(p.key);
        // The response info's response time, read below, replaces the creation time.
        p.cached = platform::UnixSecondsFromMicrosSince1601(store.creationTime);
        p.lastUsed = lastUsed(store.rankingsNode, a);
        for (std::int32_t size : e.streamSizes) {
            if (size < 0) {
                warn(BlockfileProblem::StreamTooLarge, a);
                return Record::Read;
            }
        }
        e.readable = (e.flags & kFlagChildEntry) ? readChild(e) : readResource(e);
        return Record::Read;
    }

    // The last-used time in the entry's rankings node (a 36-byte block of data_0), when the
    // node is one block of a rankings file and names this entry back; else nothing. A time
    // is not worth a warning: a bad node only leaves it out. Read through the page store,
    // as the nodes of a large cache are many.
    std::optional<std::int64_t> lastUsed(std::uint32_t node, std::uint32_t entry) {
        const auto rankings = static_cast<std::uint32_t>(FileType::Rankings);
        const BlockfileAddress at = DecodeBlockfileAddress(node);
        if (!at.initialized || at.type != rankings || at.reservedBitsSet || at.blockCount != 1)
            return std::nullopt;
        Span s;
        s.blockFile = at.fileNumber;
        const auto it = blockFiles_.find(s.blockFile);
        if (it == blockFiles_.end() || it->second.blockSize != BlockSize(rankings))
            return std::nullopt;
        s.file = it->second.file;
        s.paged = true;
        s.offset = kBlockHeaderSize + std::uint64_t{at.startBlock} * kRankingsNodeSize;
        std::string n(kRankingsNodeSize, '\0');
        if (!read(s, s.offset, n.data(), n.size()))
            return std::nullopt;
        const BlockfileRankingsNode rankingsNode = ParseBlockfileRankingsNode(n);
        if (rankingsNode.contents != entry)
            return std::nullopt;
        return platform::UnixSecondsFromMicrosSince1601(rankingsNode.lastUsed);
    }

    bool readKey(std::string_view r, const BlockfileEntryStore& store, std::uint32_t a,
                 std::string& key) {
        const std::int32_t length = store.keyLength;
        const std::uint32_t longKey = store.longKey;
        if (length < 0 || static_cast<std::uint64_t>(length) > kMaxKeyLength) {
            warn(BlockfileProblem::KeyTooLong, a);
            return false;
        }
        const auto n = static_cast<std::uint64_t>(length);
        if (longKey == 0) {
            if (n > r.size() - kEntryKeyAt) {
                warn(BlockfileProblem::KeyTooLong, a);
                return false;
            }
            key = std::string(r.substr(kEntryKeyAt, static_cast<std::size_t>(n)));
            return true;
        }
        return readStream(longKey, n, kMaxKeyLength, a, key, BlockfileProblem::KeyTooLong);
    }

    // Stream 1 as a body segment. For a resource (`p`), its first bytes are read while its
    // file is open, and for an encoded body its last 8 as well, where gzip states the decoded
    // size.
    bool locateBody(const BlockfileEntry& e, BodySegment& segment, ParsedEntry* p) {
        const std::uint64_t size = static_cast<std::uint64_t>(e.streamSizes[kStreamBody]);
        if (size == 0)
            return true;
        const auto s = resolve(e.streamAddresses[kStreamBody], e.address);
        if (!s)
            return false;
        if (size > s->capacity) {
            warn(BlockfileProblem::StreamTooLarge, e.address);
            return false;
        }
        segment = Segment(files_.path(s->name), s->offset, size);
        segment.identity = files_.identity(s->name);
        // A block file holds many entries' streams and records: what tells that this body
        // is unchanged is its entry's record. An f_ file belongs to this stream alone.
        if (!s->name.starts_with("f_"))
            segment.record = e.record;
        if (p) {
            const auto readAt = [&](std::uint64_t at, char* out, std::size_t n) {
                return read(*s, s->offset + at, out, n);
            };
            ReadFirstBytes(*p, size, readAt);
            ReadLastBytes(*p, size, readAt);
        }
        return true;
    }

    bool readResource(BlockfileEntry& e) {
        ParsedEntry& p = e.parsed;
        const auto infoSize = static_cast<std::uint64_t>(e.streamSizes[kStreamResponseInfo]);
        if (infoSize > 0) {
            std::string info;
            if (!readStream(e.streamAddresses[kStreamResponseInfo], infoSize, kMaxResponseInfo,
                            e.address, info, BlockfileProblem::StreamTooLarge))
                return false;
            ParseChromiumResponseInfo(info, p);
        }
        if (e.flags & kFlagParentEntry) {
            std::string sparse;
            const auto sparseSize = static_cast<std::uint64_t>(e.streamSizes[kStreamSparse]);
            if (sparseSize < kSparseHeaderSize ||
                !readStream(e.streamAddresses[kStreamSparse], sparseSize, kMaxSparseStream,
                            e.address, sparse, BlockfileProblem::BadSparse) ||
                ParseBlockfileSparseHeader(sparse).magic != kIndexMagic) {
                warn(BlockfileProblem::BadSparse, e.address);
                return false;
            }
            pendingParent_ = Parent{
                {}, ParseBlockfileSparseHeader(sparse).signature, sparse.substr(kSparseHeaderSize)};
            return true;
        }
        BodySegment body;
        if (!locateBody(e, body, &p))
            return false;
        if (body.length > 0) {
            p.body.push_back(body);
            p.storedSize = body.length;
            e.bodyFile = body.file;
        }
        return true;
    }

    // A child's bytes from its start: the 1 KiB blocks its bitmap marks filled without a gap,
    // then the part of the block after them that its header says was written.
    bool readChild(BlockfileEntry& e) {
        std::string sparse;
        const auto sparseSize = static_cast<std::uint64_t>(e.streamSizes[kStreamSparse]);
        if (sparseSize < kSparseHeaderSize + kChildBitmapBytes ||
            !readStream(e.streamAddresses[kStreamSparse], sparseSize, kMaxSparseStream, e.address,
                        sparse, BlockfileProblem::BadSparse) ||
            ParseBlockfileSparseHeader(sparse).magic != kIndexMagic) {
            warn(BlockfileProblem::BadSparse, e.address);
            return false;
        }
        std::uint64_t blocks = 0;
        while (
            blocks < kChildSpan / kChildBlock &&
            (static_cast<unsigned char>(sparse[kSparseHeaderSize + blocks / 8]) >> (blocks % 8)) &
                1)
            ++blocks;
        std::uint64_t filled = blocks * kChildBlock;
        const BlockfileSparseHeader header = ParseBlockfileSparseHeader(sparse);
        const std::int32_t lastBlock = header.lastBlock;
        const std::int32_t lastLength = header.lastBlockLength;
        // A child spans blocks 0-1023 of its MiB and nothing more: a partly filled block after
        // a full bitmap would be bytes the browser never served for this range.
        if (lastBlock >= 0 && static_cast<std::uint64_t>(lastBlock) == blocks &&
            blocks < kChildSpan / kChildBlock && lastLength > 0 &&
            static_cast<std::uint64_t>(lastLength) < kChildBlock)
            filled += static_cast<std::uint64_t>(lastLength);
        Child child;
        child.signature = header.signature;
        if (!locateBody(e, child.filled, nullptr))
            return false;
        child.filled.length = std::min(child.filled.length, filled);
        if (child.filled.length > 0)
            e.bodyFile = child.filled.file;
        children_.emplace(e.parsed.key, std::move(child));
        return true;
    }

    BlockfileFiles& files_;
    BlockfileContents& out_;
    std::unordered_map<std::uint32_t, BlockFile> blockFiles_;
    // The entry records read so far, by block file and first block: a chain that comes back
    // to one is a loop.
    std::vector<std::vector<bool>> visited_ =
        std::vector<std::vector<bool>>((kAddrFileNumberMask >> kAddrFileNumberShift) + 1);
    std::unordered_map<std::uint64_t, std::string> pages_;
    std::uint64_t pagedBytes_ = 0;
    std::unordered_map<std::string, Child> children_;
    std::vector<Parent> parents_;
    std::optional<Parent> pendingParent_; // set by reading the entry that is one
    const unsigned share_, shares_;
    const std::function<void(BlockfileEntry&)>& each_;
};

// Puts each sparse parent together from its children, in order, for as far as they reach.
void JoinSparseParents(std::vector<Parent>& parents,
                       const std::unordered_map<std::string, Child>& children,
                       BlockfileContents& out, const std::function<void(BlockfileEntry&)>& each) {
    for (Parent& parent : parents) {
        BlockfileEntry& e = parent.entry;
        ParsedEntry& p = e.parsed;
        const std::string prefix =
            "Range_" + p.key + ":" +
            platform::LowerHex(static_cast<std::uint64_t>(parent.signature)) + ":";
        for (std::uint32_t n = 0; n < kMaxChildren; ++n) {
            const auto it = children.find(prefix + std::to_string(n));
            if (it == children.end() || it->second.signature != parent.signature) {
                const bool written =
                    n / 8 < parent.children.size() &&
                    ((static_cast<unsigned char>(parent.children[n / 8]) >> (n % 8)) & 1);
                if (n == 0 || written)
                    out.warnings.push_back({BlockfileProblem::ChildMissing, e.address});
                break;
            }
            const BodySegment& piece = it->second.filled;
            if (piece.length == 0)
                break;
            p.body.push_back(piece);
            p.storedSize += piece.length;
            if (e.bodyFile.empty())
                e.bodyFile = piece.file;
            if (piece.length < kChildSpan)
                break; // the bytes stop inside this child
        }
        each(e);
    }
}

} // namespace

struct BlockfileReading::State {
    std::vector<BlockfileContents> contents;
    std::vector<std::unordered_map<std::string, Child>> children;
    std::vector<std::vector<Parent>> parents;
};

BlockfileReading::BlockfileReading(unsigned shares) : state_(std::make_unique<State>()) {
    shares = std::max(shares, 1u);
    state_->contents.resize(shares);
    state_->children.resize(shares);
    state_->parents.resize(shares);
}

BlockfileReading::~BlockfileReading() = default;

void BlockfileReading::read(unsigned share, BlockfileFiles& files,
                            const std::function<void(BlockfileEntry&)>& each) {
    State& st = *state_;
    const auto shares = static_cast<unsigned>(st.contents.size());
    Reader reader(files, st.contents[share], share, shares, each);
    reader.run();
    st.children[share] = std::move(reader.children());
    st.parents[share] = std::move(reader.parents());
}

BlockfileContents BlockfileReading::finish(const std::function<void(BlockfileEntry&)>& each) {
    State& st = *state_;
    BlockfileContents out = std::move(st.contents[0]);
    std::unordered_map<std::string, Child> children = std::move(st.children[0]);
    std::vector<Parent> parents = std::move(st.parents[0]);
    for (std::size_t i = 1; i < st.contents.size(); ++i) {
        out.readable = out.readable && st.contents[i].readable;
        std::move(st.contents[i].warnings.begin(), st.contents[i].warnings.end(),
                  std::back_inserter(out.warnings));
        children.merge(st.children[i]); // the first of a key, as one pass keeps it
        std::move(st.parents[i].begin(), st.parents[i].end(), std::back_inserter(parents));
    }
    if (out.readable)
        JoinSparseParents(parents, children, out, each);
    return out;
}

const Source* BlockfileFolder::open(const std::string& name) {
    if (name.starts_with("f_")) {
        if (externalName_ != name) {
            externalName_ = name;
            externalOpen_ = folder_.open(external_, name);
        }
        return externalOpen_ ? &external_ : nullptr;
    }
    auto [it, inserted] = kept_.try_emplace(name);
    if (inserted) {
        auto file = std::make_unique<ReadOnlyFile>(*files_);
        if (folder_.open(*file, name))
            it->second = std::move(file);
    }
    return it->second.get();
}

std::string BlockfileFolder::path(const std::string& name) const {
    return folder_.path() + "/" + name;
}

FileIdentity BlockfileFolder::identity(const std::string& name) const {
    if (name.starts_with("f_"))
        return externalOpen_ && externalName_ == name ? external_.identity() : FileIdentity{};
    const auto it = kept_.find(name);
    return it != kept_.end() && it->second ? it->second->identity() : FileIdentity{};
}

const Source* BlockfileMemory::open(const std::string& name) {
    const auto f = files.find(name);
    if (f == files.end())
        return nullptr;
    auto& s = sources_[name];
    if (!s)
        s = std::make_unique<MemorySource>(std::span<const std::uint8_t>(
            reinterpret_cast<const std::uint8_t*>(f->second.data()), f->second.size()));
    return s.get();
}

const char* Describe(BlockfileProblem problem) {
    switch (problem) {
    case BlockfileProblem::IndexMissing:
        return "no index, or one shorter than its header";
    case BlockfileProblem::IndexMagic:
        return "the index is not a blockfile index";
    case BlockfileProblem::IndexVersion:
        return "an index version this reader does not know";
    case BlockfileProblem::TableOutsideIndex:
        return "the hash table does not fit the index";
    case BlockfileProblem::BlockFileBad:
        return "a block file whose header is missing or wrong";
    case BlockfileProblem::BadAddress:
        return "an address outside its file";
    case BlockfileProblem::ChainLoop:
        return "a bucket chain comes back to an entry already read";
    case BlockfileProblem::EntryHash:
        return "an entry whose hash does not match";
    case BlockfileProblem::KeyTooLong:
        return "a key longer than the blocks holding it";
    case BlockfileProblem::StreamTooLarge:
        return "a stream larger than its blocks";
    case BlockfileProblem::MissingFile:
        return "a file an address names is missing";
    case BlockfileProblem::BadSparse:
        return "a damaged sparse header";
    case BlockfileProblem::ChildMissing:
        return "a sparse entry whose children stop early";
    case BlockfileProblem::NotNormal:
        return "an evicted or doomed entry (passed over)";
    }
    return "?";
}

BlockfileContents ReadBlockfile(BlockfileFiles& files) {
    std::vector<BlockfileEntry> entries;
    const std::function<void(BlockfileEntry&)> keep = [&](BlockfileEntry& e) {
        entries.push_back(std::move(e));
    };
    BlockfileContents out = ReadBlockfile(files, keep);
    out.entries = std::move(entries);
    return out;
}

BlockfileContents ReadBlockfile(BlockfileFiles& files,
                                const std::function<void(BlockfileEntry&)>& each) {
    BlockfileReading reading(1);
    reading.read(0, files, each);
    return reading.finish(each);
}

bool BlockfileRecordHolds(const BodySegment& segment) {
    const RecordCheck& check = segment.record;
    const std::size_t slash = segment.file.rfind('/');
    ReadOnlyFile file(FilesOf(segment.files));
    std::string record(kRecordFieldsBytes, '\0');
    return slash != std::string::npos &&
           file.open(segment.file.substr(0, slash + 1) + BlockFileName(check.blockFile)) &&
           file.identity().device == check.device && file.identity().inode == check.inode &&
           file.readAt(check.offset, record.data(), record.size()) &&
           BlockfileRecordFields(record) == check.fields;
}

bool IsResourceEntry(const BlockfileEntry& entry) {
    return entry.state == static_cast<std::int32_t>(EntryState::Normal) &&
           (entry.flags & kFlagChildEntry) == 0;
}

} // namespace browser::detail
