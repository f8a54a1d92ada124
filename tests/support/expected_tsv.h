// The fixtures' expected.tsv: one line per cache entry, tab-separated, '#' lines skipped.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testdata {

// Each line's fields (url, status, content type, content encoding, body type, body size,
// body SHA-256, entry file), always eight of them, missing ones empty.
std::vector<std::vector<std::string>> ReadExpectedTsv(const std::filesystem::path& tsv);

} // namespace testdata
