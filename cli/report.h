// The report --save --report writes beside the saved files: index.html, a gallery a person
// opens from the disk in any browser, and report.csv for a spreadsheet. Every text in them
// comes from a cache and is treated as hostile.
#pragma once

#include "cache/scan/found_file_list.h"

#include <optional>

#include <string>
#include <string_view>
#include <vector>

namespace cli {

struct SavedFile {
    cache::FoundFile row;              // what was found
    std::string savedName;             // the file's name in the destination folder
    std::optional<std::string> sha256; // lower-case hex of the file as saved, when known
};

inline constexpr const char* kReportPage = "index.html";
inline constexpr const char* kReportTable = "report.csv";

// The page: one file with no script at all (its Content-Security-Policy forbids any) and
// nothing from outside; the saved files shown through relative links, grouped by source,
// oldest first within a source.
std::string ReportHtml(const std::vector<SavedFile>& files);
// One line per saved file after a header line: RFC 4180, UTF-8.
std::string ReportCsv(const std::vector<SavedFile>& files);
// Writes both into the folder (ending in the separator), each replacing an older one
// atomically. False, and why, when one could not be written.
bool WriteReport(const std::string& folder, const std::vector<SavedFile>& files,
                 std::string& error);

} // namespace cli
