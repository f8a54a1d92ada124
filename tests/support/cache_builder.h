// Writes cache entries of both browser formats, well-formed or deliberately broken, and the
// compressed bodies and picture headers they hold.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace browser_test {

struct FirefoxEntry {
    std::string key = "O^partitionKey=%28http%2Cexample.com%29,:http://example.com/a.png";
    std::string body;
    std::string altData; // stored after the body, announced by an alt-data element
    // Status line and headers, CRLF-separated; empty: no response-head element at all.
    std::string responseHead = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n";
    std::vector<std::pair<std::string, std::string>> elements; // more elements
    std::uint32_t version = 4; // 1-3 get the one-word trailer, 4 the two-word one
    bool encrypted = false;
    std::uint32_t lastFetched = 1700000000, lastModified = 1700000000;
};
std::string BuildFirefoxEntry(const FirefoxEntry& e);

struct ChromiumEntry {
    std::string key = "1/0/_dk_http://example.com http://example.com http://example.com/a.png";
    std::string body;
    // Header lines after the status line; the status line itself.
    std::string statusLine = "HTTP/1.1 200 OK";
    std::vector<std::string> headers = {"Content-Type: image/png"};
    std::uint32_t version = 5;
    bool truncated = false; // the response-info flag
    bool keySha256 = true;  // the optional key hash before the last EOF record
    bool oldPickle = false; // no extra-flags word
};
std::string BuildChromiumEntry(const ChromiumEntry& e);
// Its stream 0 alone: the response-info pickle (which the SQL back-end keeps as `head`).
std::string BuildChromiumResponseInfo(const ChromiumEntry& e);
// Chromium's response info (stream 0 of every Chromium back-end).
std::string BuildResponseInfo(const std::string& statusLine,
                              const std::vector<std::string>& headers, bool truncated = false,
                              bool oldPickle = false);
// A sparse file: the header, the key, then the ranges (offset in the resource, bytes).
std::string BuildChromiumSparse(const std::string& key,
                                const std::vector<std::pair<std::uint64_t, std::string>>& ranges,
                                std::uint32_t version = 9);

std::string Gzip(const std::string& data);
std::string Zlib(const std::string& data);       // "deflate" as the RFC means it
std::string RawDeflate(const std::string& data); // "deflate" as some servers send it
std::string Brotli(const std::string& data);
std::string Zstd(const std::string& data);

// Bytes that sniff as the named type, `size` long (at least the header).
std::string Png(std::size_t size, char fill = 'p');
std::string Jpeg(std::size_t size, char fill = 'j');

// A fresh temporary folder, removed with its content afterwards.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& p, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& p);

// A Firefox cache2 folder (with entries/) and a Chromium Cache_Data folder, filled by name.
std::filesystem::path MakeFirefoxCache(const std::filesystem::path& cache2);
void PutFirefox(const std::filesystem::path& cache2, const std::string& name40,
                const std::string& bytes);
// The 40-hex name of the n-th entry, for tests that need many.
std::string FirefoxName(unsigned n);
std::string ChromiumName(unsigned n); // "<16 hex>" without the stream suffix

} // namespace browser_test
