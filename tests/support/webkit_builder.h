// Writes WebKit NetworkCache folders as WebKitGTK 2.50 does (format version 17): records with
// their running check sum, the stored response, bodies inline or as blobs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace browser_test {

struct WebKitEntry {
    std::string url = "http://example.com/a.png";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers = {{"Content-Type", "image/png"}};
    std::int16_t status = 200;
    double timeStamp = 1700000000.5;
};

// A cache folder (the one holding "Version 17") with one salt, written entry by entry.
class WebKitCacheWriter {
  public:
    explicit WebKitCacheWriter(const std::filesystem::path& cache);
    // Writes the record (and its blob, for a body over 16 KiB); returns the record's path.
    std::filesystem::path add(const WebKitEntry& e);

  private:
    std::filesystem::path version_;
    std::string salt_;
};

} // namespace browser_test
