// SHA-256 of a byte string, as lower-case hex, for the tests (Nettle's).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace browser_test {

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void update(std::string_view bytes);
    std::string hexDigest(); // ends the hashing

  private:
    struct State;
    std::unique_ptr<State> state_;
};

std::string Sha256Hex(std::string_view bytes);

} // namespace browser_test
