// SHA-256 of what a row holds (its decoded body) and of a saved file, read in constant memory.
#pragma once

#include "cache/scan/found_file_list.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace cli {

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void update(const void* bytes, std::size_t n);
    void update(std::string_view bytes) { update(bytes.data(), bytes.size()); }
    std::string hexDigest(); // lower-case hex; starts the next hash afresh

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The decoded body's hash: a browser row's through its decoder, a WinINet row's file as it
// is. Nothing, and why, when it cannot be read through.
std::optional<std::string> RowBodySha256(const cache::FoundFile& row, std::string& error);
std::optional<std::string> FileSha256(const std::string& path, std::string& error);

} // namespace cli
