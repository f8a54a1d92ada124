#include "cache_builder.h"

#include <brotli/encode.h>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <zlib.h>
#include <zstd.h>

namespace browser_test {

namespace {

void Be32(std::string& out, std::uint32_t v) {
    for (int i = 3; i >= 0; --i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Le32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Le64(std::string& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

constexpr std::uint64_t kInitialMagic = 0xfcfb6d1ba7725c30ull;
constexpr std::uint64_t kFinalMagic = 0xf4fa6f45970d41d8ull;

std::string Eof(std::uint32_t flags, const std::string& stream) {
    std::string out;
    Le64(out, kFinalMagic);
    Le32(out, flags);
    Le32(out, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(stream.data()),
                                               static_cast<uInt>(stream.size()))));
    Le32(out, static_cast<std::uint32_t>(stream.size()));
    Le32(out, 0);
    return out;
}

std::string Deflated(const std::string& data, int windowBits) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

} // namespace

std::string BuildFirefoxEntry(const FirefoxEntry& e) {
    std::string file = e.body;
    std::vector<std::pair<std::string, std::string>> elements = e.elements;
    if (!e.altData.empty()) {
        elements.emplace_back("alt-data",
                              "1;" + std::to_string(e.body.size()) + ",javascript/moz-script");
        file += e.altData;
    }
    if (!e.responseHead.empty())
        elements.emplace_back("response-head", e.responseHead);
    const std::uint32_t offset = static_cast<std::uint32_t>(file.size());
    std::string meta;
    Be32(meta, 0x12345678); // hash of the rest, which readers do not check
    const std::uint32_t chunks = (offset + 262143) / 262144;
    for (std::uint32_t i = 0; i < chunks; ++i)
        meta += std::string("\x00\x01", 2);
    Be32(meta, e.version);
    Be32(meta, 1); // fetch count
    Be32(meta, e.lastFetched);
    Be32(meta, e.lastModified);
    Be32(meta, 100); // frecency
    Be32(meta, 0xFFFFFFFF);
    Be32(meta, static_cast<std::uint32_t>(e.key.size()));
    if (e.version >= 2)
        Be32(meta, 0); // flags
    meta += e.key;
    meta.push_back('\0');
    for (const auto& [name, value] : elements) {
        meta += name;
        meta.push_back('\0');
        meta += value;
        meta.push_back('\0');
    }
    file += meta;
    if (e.version >= 4)
        Be32(file, e.version);
    Be32(file, offset | (e.encrypted ? 0x80000000u : 0u));
    return file;
}

std::string BuildResponseInfo(const std::string& statusLine,
                              const std::vector<std::string>& headers, bool truncated,
                              bool oldPickle) {
    std::string raw = statusLine;
    raw.push_back('\0');
    for (const std::string& h : headers) {
        raw += h;
        raw.push_back('\0');
    }
    raw.push_back('\0');
    std::string payload;
    std::uint32_t flags = 3 | (truncated ? 1u << 12 : 0u);
    if (!oldPickle)
        flags |= 1u << 31;
    Le32(payload, flags);
    if (!oldPickle)
        Le32(payload, 6);                // extra flags: the original response time follows
    Le64(payload, 13350000000000000ull); // request time
    Le64(payload, 13350000001000000ull); // response time
    if (!oldPickle)
        Le64(payload, 13350000001000000ull);
    Le32(payload, static_cast<std::uint32_t>(raw.size()));
    payload += raw;
    while (payload.size() % 4 != 0)
        payload.push_back('\0');
    std::string stream0;
    Le32(stream0, static_cast<std::uint32_t>(payload.size()));
    stream0 += payload;
    return stream0;
}

std::string BuildChromiumEntry(const ChromiumEntry& e) {
    std::string file;
    Le64(file, kInitialMagic);
    Le32(file, e.version);
    Le32(file, static_cast<std::uint32_t>(e.key.size()));
    Le32(file, 0xABCDEF01); // key hash
    Le32(file, 0);
    file += e.key;
    file += e.body;
    file += Eof(1, e.body);
    const std::string stream0 = BuildChromiumResponseInfo(e);
    file += stream0;
    if (e.keySha256)
        file += std::string(32, '\x5A');
    file += Eof(e.keySha256 ? 3 : 1, stream0);
    return file;
}

std::string BuildChromiumResponseInfo(const ChromiumEntry& e) {
    return BuildResponseInfo(e.statusLine, e.headers, e.truncated, e.oldPickle);
}

std::string BuildChromiumSparse(const std::string& key,
                                const std::vector<std::pair<std::uint64_t, std::string>>& ranges,
                                std::uint32_t version) {
    std::string file;
    Le64(file, kInitialMagic);
    Le32(file, version);
    Le32(file, static_cast<std::uint32_t>(key.size()));
    Le32(file, 0);
    Le32(file, 0);
    file += key;
    for (const auto& [offset, data] : ranges) {
        Le64(file, 0xeb97bf016553676bull);
        Le64(file, offset);
        Le64(file, data.size());
        Le32(file, 0);
        Le32(file, 0);
        file += data;
    }
    return file;
}

std::string Gzip(const std::string& data) {
    return Deflated(data, 16 + 15);
}
std::string Zlib(const std::string& data) {
    return Deflated(data, 15);
}
std::string RawDeflate(const std::string& data) {
    return Deflated(data, -15);
}

std::string Brotli(const std::string& data) {
    std::string out(BrotliEncoderMaxCompressedSize(data.size()) + 16, '\0');
    std::size_t size = out.size();
    if (!BrotliEncoderCompress(5, 22, BROTLI_MODE_GENERIC, data.size(),
                               reinterpret_cast<const std::uint8_t*>(data.data()), &size,
                               reinterpret_cast<std::uint8_t*>(out.data())))
        throw std::runtime_error("brotli");
    out.resize(size);
    return out;
}

std::string Zstd(const std::string& data) {
    std::string out(ZSTD_compressBound(data.size()), '\0');
    const std::size_t n = ZSTD_compress(out.data(), out.size(), data.data(), data.size(), 3);
    if (ZSTD_isError(n))
        throw std::runtime_error("zstd");
    out.resize(n);
    return out;
}

std::string Png(std::size_t size, char fill) {
    std::string s("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16);
    s.resize(std::max(size, s.size()), fill);
    return s;
}

std::string Jpeg(std::size_t size, char fill) {
    std::string s("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11);
    s.resize(std::max(size, s.size()), fill);
    return s;
}

TempDir::TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("tamberlin-browser-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + p.string());
}

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::filesystem::path MakeFirefoxCache(const std::filesystem::path& cache2) {
    std::filesystem::create_directories(cache2 / "entries");
    return cache2;
}

void PutFirefox(const std::filesystem::path& cache2, const std::string& name40,
                const std::string& bytes) {
    WriteFile(cache2 / "entries" / name40, bytes);
}

std::string FirefoxName(unsigned n) {
    char buffer[41];
    std::snprintf(buffer, sizeof buffer, "%040X", n);
    return buffer;
}

std::string ChromiumName(unsigned n) {
    char buffer[17];
    std::snprintf(buffer, sizeof buffer, "%016x", n);
    return buffer;
}

} // namespace browser_test
