// Reader of Chromium's blockfile cache: the index's hash table walked bucket by bucket, every
// entry checked against its own hash, its streams located in the block files or f_ files,
// and range responses put together from their sparse children. The records themselves are
// parsed by cache/formats/blockfile.h.
#pragma once

#include "cache/browser/entry.h"
#include "cache/browser/source.h"
#include "cache/formats/blockfile.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace browser::detail {

// The files of one cache folder, by name ("index", "data_1", "f_00002a"). A block file or the
// index returned by open() stays usable for the whole read; an external (f_) file only until
// the next external file is opened, so that a large cache never holds thousands open.
class BlockfileFiles {
  public:
    virtual ~BlockfileFiles() = default;
    // Null when the file is missing or not a regular file.
    virtual const Source* open(const std::string& name) = 0;
    // The path a body segment names for that file.
    virtual std::string path(const std::string& name) const = 0;
    // The file last returned by open(name) as it was when opened (empty for memory).
    virtual FileIdentity identity(const std::string& name) const = 0;
};

// The files of a folder on disk, opened read-only, never locked.
class BlockfileFolder final : public BlockfileFiles {
  public:
    explicit BlockfileFolder(std::string folder,
                             const platform::FileAccess& files = platform::HostFiles())
        : files_(&files), folder_(std::move(folder), files), external_(files) {}
    const Source* open(const std::string& name) override;
    std::string path(const std::string& name) const override;
    FileIdentity identity(const std::string& name) const override;

  private:
    const platform::FileAccess* files_;
    OpenFolder folder_;
    std::map<std::string, std::unique_ptr<ReadOnlyFile>> kept_; // index and block files
    ReadOnlyFile external_;
    std::string externalName_;
    bool externalOpen_ = false;
};

// Files held in memory (tests, fuzzing).
class BlockfileMemory final : public BlockfileFiles {
  public:
    std::map<std::string, std::string> files;
    const Source* open(const std::string& name) override;
    std::string path(const std::string& name) const override { return name; }
    FileIdentity identity(const std::string&) const override { return {}; }

  private:
    std::map<std::string, std::unique_ptr<MemorySource>> sources_;
};

enum class BlockfileProblem {
    IndexMissing,      // no index, or shorter than its header
    IndexMagic,        // not a blockfile index
    IndexVersion,      // a version this reader does not know
    TableOutsideIndex, // the table length is not a power of two or does not fit the file
    BlockFileBad,      // a data_N whose header is missing or wrong, or an extension chain loop
    BadAddress,        // an address of an unused type, past its file's end, in an unknown file
    ChainLoop,         // a bucket chain that comes back to an entry already read
    EntryHash,         // the entry's own hash or its key's hash does not match
    KeyTooLong,        // a key longer than the blocks or the long-key stream holding it
    StreamTooLarge,    // a stream larger than its blocks, or negative
    MissingFile,       // an f_ or data_N file an address names is not there
    BadSparse,         // a sparse header that does not belong to its parent
    ChildMissing,      // a sparse parent whose children stop before its end
    NotNormal,         // evicted or doomed: passed over
};
const char* Describe(BlockfileProblem problem);

struct BlockfileWarning {
    BlockfileProblem problem;
    std::uint32_t address = 0; // the entry (or bucket head) concerned; 0 for the index itself
};

struct BlockfileEntry {
    std::uint32_t address = 0;
    std::int32_t state = 0;
    std::uint32_t flags = 0;
    std::array<std::int32_t, 4> streamSizes{};
    std::array<std::uint32_t, 4> streamAddresses{};
    // For a normal entry that is not a sparse child: the key, URL, response and body (for a
    // sparse parent, its children's bytes joined from offset 0 for as far as they reach).
    ParsedEntry parsed;
    std::string bodyFile; // the file holding the (first piece of the) body; "" when none
    // The entry's own record, which its body's segments in a block file keep to be checked
    // when the body is read (a sparse parent's pieces keep their children's).
    RecordCheck record = {};
    bool readable = false;
};

struct BlockfileContents {
    bool readable = false;       // the index and its table could be read
    BlockfileIndexHeader header; // its table length 0 replaced by the length it stands for
    // Every entry reached, chain by chain in the order of the chains' first records in the
    // block files, except that sparse parents come last (they are put together once all
    // their children have been read).
    std::vector<BlockfileEntry> entries;
    std::vector<BlockfileWarning> warnings;
};

// Reads the whole cache. Never throws on bad input; what cannot be read is a warning.
BlockfileContents ReadBlockfile(BlockfileFiles& files);
// The same, handing each entry to `each` as soon as it is read instead of keeping it (the
// contents' entries stay empty), so that a large cache is never held whole. An external
// file the entry's first body bytes were read from is still the one open.
BlockfileContents ReadBlockfile(BlockfileFiles& files,
                                const std::function<void(BlockfileEntry&)>& each);

// Reading one cache in shares that may run at once on threads of their own. Each share walks
// its part of the hash table's chains with its own files (each keeps its own open); sparse
// parents wait until every share is read, since their children may be in any share.
class BlockfileReading {
  public:
    explicit BlockfileReading(unsigned shares);
    ~BlockfileReading();
    BlockfileReading(const BlockfileReading&) = delete;
    BlockfileReading& operator=(const BlockfileReading&) = delete;
    // Reads share `share`, handing each entry to `each` as it is read, sparse parents aside.
    void read(unsigned share, BlockfileFiles& files,
              const std::function<void(BlockfileEntry&)>& each);
    // Once every share has been read, on one thread: hands the sparse parents, joined from
    // their children, to `each`, and returns the header and every share's warnings in order
    // (no entries).
    BlockfileContents finish(const std::function<void(BlockfileEntry&)>& each);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// True for an entry that is a resource of its own: normal state (not evicted or doomed), not
// a piece of a sparse parent. Whether it could be read is `readable`.
bool IsResourceEntry(const BlockfileEntry& entry);

// Whether the entry record that `segment`'s check names, in the block file beside the
// segment's file, is still in the same file and holds the fields the scan read.
bool BlockfileRecordHolds(const BodySegment& segment);

} // namespace browser::detail
