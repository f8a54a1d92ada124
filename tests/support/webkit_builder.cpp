#include "webkit_builder.h"

#include "platform/base/ascii.h"

#include <nettle/sha1.h>

#include <bit>
#include <fstream>
#include <type_traits>

namespace browser_test {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kInlineLimit = std::size_t{16} * 1024;

std::string Sha1(const std::string& a, const std::string& b = {}) {
    sha1_ctx c;
    sha1_init(&c);
    sha1_update(&c, a.size(), reinterpret_cast<const std::uint8_t*>(a.data()));
    sha1_update(&c, b.size(), reinterpret_cast<const std::uint8_t*>(b.data()));
    std::string digest(SHA1_DIGEST_SIZE, '\0');
    sha1_digest(&c, SHA1_DIGEST_SIZE, reinterpret_cast<std::uint8_t*>(digest.data()));
    return digest;
}

std::string HashName(const std::string& digest) {
    return platform::HexBytes(digest, platform::HexCase::Upper);
}

// A number's bytes, little-endian.
template <typename T> std::string Raw(T value) {
    using Bits =
        std::conditional_t<sizeof(T) == 8, std::uint64_t,
                           std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint16_t>>;
    const auto bits = std::bit_cast<Bits>(value);
    std::string bytes;
    for (std::size_t i = 0; i < sizeof bits; ++i)
        bytes.push_back(static_cast<char>(static_cast<std::uint8_t>(bits >> (8 * i))));
    return bytes;
}

// The persistence encoder with its running check sum: each value adds its type's tag, then
// its bytes.
class Encoder {
  public:
    Encoder() { sha1_init(&sum_); }
    template <typename T> void number(std::uint32_t tag, T value) { put(tag, Raw(value)); }
    void flag(bool value) { put(3, std::string(1, value ? '\1' : '\0')); }
    void raw(const std::string& bytes) { put(101, bytes); }
    void string(const std::string& latin1) {
        number(11, static_cast<std::uint32_t>(latin1.size()));
        flag(true);
        raw(latin1);
    }
    void nullString() { number(11, 0xFFFFFFFFu); }
    void checksum() {
        std::string digest(SHA1_DIGEST_SIZE, '\0');
        sha1_digest(&sum_, SHA1_DIGEST_SIZE, reinterpret_cast<std::uint8_t*>(digest.data()));
        bytes_ += digest;
        sha1_init(&sum_);
    }
    const std::string& bytes() const { return bytes_; }

  private:
    void put(std::uint32_t tag, const std::string& value) {
        const std::string t = Raw(tag);
        sha1_update(&sum_, t.size(), reinterpret_cast<const std::uint8_t*>(t.data()));
        sha1_update(&sum_, value.size(), reinterpret_cast<const std::uint8_t*>(value.data()));
        bytes_ += value;
    }
    sha1_ctx sum_{};
    std::string bytes_;
};

void Write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

WebKitCacheWriter::WebKitCacheWriter(const fs::path& cache) : version_(cache / "Version 17") {
    salt_ = Sha1(version_.string()).substr(0, 8);
    Write(version_ / "salt", salt_);
    fs::create_directories(version_ / "Records");
    fs::create_directories(version_ / "Blobs");
}

fs::path WebKitCacheWriter::add(const WebKitEntry& e) {
    Encoder header;
    header.flag(false); // not the null response
    header.string(e.url);
    std::string mime;
    for (const auto& [name, value] : e.headers)
        if (name == "Content-Type")
            mime = value;
    header.string(mime);
    header.number(19, static_cast<std::int64_t>(e.body.size()));
    header.string("");
    header.string("OK");
    header.string("HTTP/1.1");
    header.number(13, static_cast<std::uint64_t>(e.headers.size()));
    for (const auto& [name, value] : e.headers) {
        header.string(name);
        header.string(value);
    }
    header.number(103, e.status);
    header.checksum(); // the rest of the entry's fields are not read

    const std::string partitionHash = Sha1(salt_);
    const std::string keyHash = Sha1(salt_, "Resource" + e.url);
    const std::string bodyHash = Sha1(salt_, e.body);
    const bool inlined = e.body.size() <= kInlineLimit;
    Encoder meta;
    meta.number(11, std::uint32_t{17});
    meta.string(""); // partition
    meta.string("Resource");
    meta.string(e.url);
    meta.nullString(); // range
    meta.raw(keyHash);
    meta.raw(partitionHash);
    meta.number(29, e.timeStamp);
    meta.raw(Sha1(salt_, header.bytes()));
    meta.number(13, static_cast<std::uint64_t>(header.bytes().size()));
    meta.raw(bodyHash);
    meta.number(13, static_cast<std::uint64_t>(e.body.size()));
    meta.flag(inlined);
    meta.checksum();

    fs::path record =
        version_ / "Records" / HashName(partitionHash) / "Resource" / HashName(keyHash);
    Write(record, meta.bytes() + header.bytes() + (inlined ? e.body : std::string()));
    if (!inlined) {
        const fs::path blob = version_ / "Blobs" / HashName(bodyHash);
        Write(blob, e.body);
        fs::create_hard_link(blob, record.string() + "-blob");
    }
    return record;
}

} // namespace browser_test
