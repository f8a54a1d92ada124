// Writes Chromium blockfile caches: an index with its hash table, data_0..data_3 (and an
// extension file when asked), f_ files for large streams, sparse parents with their children.
// Every record can be patched afterwards to make the cache hostile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace browser_test {

class BlockfileBuilder {
  public:
    struct Entry {
        std::string key;
        std::string info;   // stream 0, the response info
        std::string body;   // stream 1
        std::string sparse; // stream 2
        std::int32_t state = 0;
        std::uint32_t flags = 0;
        bool longKey = false;         // the key in blocks of its own, not inline
        bool bodyInExtension = false; // stream 1 in data_4, chained from data_1
    };

    explicit BlockfileBuilder(std::uint32_t tableLength = 1024);

    // An entry with a picture response; returns its address.
    std::uint32_t add(const Entry& e);
    std::uint32_t addPicture(const std::string& url, const std::string& body,
                             const std::vector<std::string>& headers = {});
    // A 206 range response split over sparse children of 1 MiB, each with the bitmap of its
    // filled KiB and the length of its partly filled last one. Returns the parent's address.
    // `leaveOut` names a child not written (the parent's bitmap still says it exists).
    // `overfill` bytes of 'X' are stored after child 0's full MiB, its header naming them as
    // a partly filled block 1024, which no child has: a hostile cache's.
    std::uint32_t addSparse(const std::string& url, const std::string& resource,
                            std::int64_t signature = 0x2fc0bb0cfd0d10,
                            std::size_t leaveOut = SIZE_MAX, std::size_t overfill = 0);

    // Raw access, for damage: the cache's files by name, and where a block address starts.
    std::map<std::string, std::string> files;
    std::size_t offsetOf(std::uint32_t address) const;
    std::string& fileOf(std::uint32_t address);
    // Sets a 32-bit field of an entry record and puts its self hash right again.
    void patchEntry(std::uint32_t entry, std::size_t at, std::uint32_t value, bool rehash = true);
    std::uint32_t entryField(std::uint32_t entry, std::size_t at);
    void write(const std::filesystem::path& folder) const;

  private:
    std::uint32_t place(const std::string& bytes, bool extension = false);
    void rehash(std::uint32_t entry);
    std::uint32_t tableLength_;
    std::uint32_t nextExternal_ = 1;
    std::uint32_t current_[5] = {0, 0, 1, 2, 3}; // the block file being filled, by type
    std::uint32_t nextFile_ = 4;                 // the number of the next extension file
};

// The key Chromium gives a URL in a partitioned cache.
std::string BlockfileKey(const std::string& url);

} // namespace browser_test
