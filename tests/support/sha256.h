// SHA-256 of a byte string, as lower-case hex; small enough to live with the tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace browser_test {

class Sha256 {
  public:
    Sha256();
    void update(std::string_view bytes);
    std::string hexDigest(); // ends the hashing

  private:
    void block(const unsigned char* p);
    std::uint32_t h_[8];
    unsigned char buffer_[64];
    std::size_t used_ = 0;
    std::uint64_t length_ = 0;
};

std::string Sha256Hex(std::string_view bytes);

} // namespace browser_test
