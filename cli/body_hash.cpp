// Nettle's SHA-256: a plain context with init, update and digest, no global initialisation,
// configuration file or provider loading, in a library every Debian system already has.
#include "cli/body_hash.h"
#include "platform/base/ascii.h"

#include <nettle/sha2.h>

#include <sys/stat.h>

#include <vector>

namespace cli {

struct Sha256::State {
    sha256_ctx context{};
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    sha256_init(&state_->context);
}

Sha256::~Sha256() = default;

void Sha256::update(const void* bytes, std::size_t n) {
    sha256_update(&state_->context, n, static_cast<const std::uint8_t*>(bytes));
}

std::string Sha256::hexDigest() {
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&state_->context, sizeof digest, digest); // also resets the context
    return platform::HexBytes(
        std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

namespace {

std::optional<std::string> HashStream(browser::BodyStream& stream, std::string& error) {
    Sha256 hash;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const std::ptrdiff_t got = stream.read(buffer.data(), buffer.size());
        if (got < 0) {
            error = stream.error();
            return std::nullopt;
        }
        if (got == 0)
            return hash.hexDigest();
        hash.update(buffer.data(), static_cast<std::size_t>(got));
    }
}

} // namespace

std::optional<std::string> FileSha256(const std::string& path, std::string& error) {
    // The body reader opens the file read-only, refuses links and devices without blocking,
    // and fails when the file changes while it is read.
    const auto whole = browser::WholeFileBody(path);
    if (!whole) {
        error = "not a readable file";
        return std::nullopt;
    }
    auto stream = browser::OpenDecodedBody(*whole);
    return HashStream(*stream, error);
}

std::optional<std::string> RowBodySha256(const cache::FoundFile& row, std::string& error) {
    if (!row.body)
        return FileSha256(row.path, error);
    auto stream = browser::OpenDecodedBody(*row.body);
    return HashStream(*stream, error);
}

} // namespace cli
