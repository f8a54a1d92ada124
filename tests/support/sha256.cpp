#include "sha256.h"

namespace browser_test {

std::string Sha256Hex(std::string_view bytes) {
    Sha256 h;
    h.update(bytes);
    return h.hexDigest();
}

} // namespace browser_test
