// SHA-256 of a byte string, as lower-case hex, for the tests: the program's own hasher.
#pragma once

#include "cli/body_hash.h"

#include <string>
#include <string_view>

namespace browser_test {

using Sha256 = cli::Sha256;

std::string Sha256Hex(std::string_view bytes);

} // namespace browser_test
