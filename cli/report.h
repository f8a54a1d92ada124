// The report --save --report writes beside the saved files: index.html, a gallery a person
// opens from the disk in any browser, and report.csv for a spreadsheet. Every text in them
// comes from a cache and is treated as hostile.
#pragma once

#include "cli/row_facts.h"

#include <string>
#include <string_view>
#include <vector>

namespace app {

struct SavedFile {
    RowFacts facts;        // what was found (sha256: of the file as saved)
    std::string savedName; // the file's name in the destination folder
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

// Text for HTML content and quoted attribute values: & < > " ' as references; bytes that
// are not UTF-8 and the characters the program's one rule hides (platform::IsHiddenCharacter:
// controls, bidirectional and other format characters) as U+FFFD.
std::string HtmlText(std::string_view text);
// A file name as a relative URL: every byte but A-Z a-z 0-9 - . _ ~ as %XX.
std::string PercentEncodeName(std::string_view name);
// One CSV field: quoted when it holds , " CR or LF (quotes doubled); text a spreadsheet
// would take for a formula (= + - @, tab or CR first) gets a leading apostrophe; bytes that
// are not UTF-8 and hidden characters other than tab, CR and LF as U+FFFD.
std::string CsvField(std::string_view text);
// A URL fit to link to: http and https only, bytes outside printable ASCII and the
// characters URLs never hold raw percent-encoded. Empty for any other URL.
std::string LinkableUrl(std::string_view url);

} // namespace app
