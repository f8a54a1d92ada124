// The fixtures' expected.tsv: one line per cache entry, tab-separated, '#' lines skipped.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace testdata {

// Each line's fields, always `fields` of them, missing ones empty. The browser caches' files
// have eight (url, status, content type, content encoding, body type, body size, body
// SHA-256, entry file); the WinINet prefix's has the enumeration's own columns.
std::vector<std::vector<std::string>> ReadExpectedTsv(const std::filesystem::path& tsv,
                                                      std::size_t fields = 8);

} // namespace testdata
