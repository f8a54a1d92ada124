// Writes URL cache index files for tests, benchmarks and the sample cache: the native
// "Client UrlCache MMF Ver 5.2" layout or Wine's, with hooks to damage them on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testdata {

enum class Signature { Native, Wine };

struct Record {
    std::string url;
    std::string fileName; // "" for none (name offset 0)
    std::uint8_t directory = 0;
    std::uint32_t sizeLow = 0;
    std::uint32_t sizeHigh = 0;
    std::uint32_t type = 1;
    std::string headers;
    std::string extension;
    std::uint32_t blocks = 0; // 0: as many as needed
    bool terminateUrl = true; // false: the URL runs to the end of the record
};

class IndexBuilder {
  public:
    explicit IndexBuilder(Signature s = Signature::Native,
                          std::vector<std::string> directories = {"AAAAAAAA", "BBBBBBBB",
                                                                  "CCCCCCCC", "DDDDDDDD"});

    // A live entry; returns its record's file offset.
    std::uint32_t add(const Record& r);
    // A record whose slot is marked deleted (key 1): its bytes still read "URL ".
    std::uint32_t addDeleted(const Record& r);
    // A redirect record and its slot.
    void addRedirect(const std::string& url);
    // A leaked record (signature LEAK) referenced from a deleted slot.
    void addLeak(const Record& r);
    // A record with no slot at all (free space that still reads "URL ").
    void addOrphan(const Record& r);
    // Slots per hash table (Wine: 448).
    void setSlotsPerTable(std::uint32_t n) { slotsPerTable_ = n; }

    std::vector<std::uint8_t> build() const;

  private:
    struct Slot {
        std::uint32_t key;
        std::uint32_t offset;
    };
    std::uint32_t place(const std::vector<std::uint8_t>& record);
    std::vector<std::uint8_t> urlRecord(const Record& r, const char (&tag)[5]) const;

    Signature signature_;
    std::vector<std::string> directories_;
    std::vector<std::uint8_t> records_; // record area after the hash tables, built lazily
    std::vector<Slot> slots_;
    std::uint32_t slotsPerTable_ = 448;
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> placed_; // offset in area
};

void PutU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v);
std::uint32_t GetU32(const std::vector<std::uint8_t>& b, std::size_t at);
void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

} // namespace testdata
