#include "sha256.h"

#include <nettle/sha2.h>

namespace browser_test {

struct Sha256::State {
    sha256_ctx context{};
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    sha256_init(&state_->context);
}

Sha256::~Sha256() = default;

void Sha256::update(std::string_view bytes) {
    sha256_update(&state_->context, bytes.size(),
                  reinterpret_cast<const std::uint8_t*>(bytes.data()));
}

std::string Sha256::hexDigest() {
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&state_->context, sizeof digest, digest);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t b : digest) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::string Sha256Hex(std::string_view bytes) {
    Sha256 h;
    h.update(bytes);
    return h.hexDigest();
}

} // namespace browser_test
