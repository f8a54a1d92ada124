#include "cli/command_line.h"
#include "platform/base/paths.h"

#include "app/core/arguments.h"
#include "app/core/settings_store.h"
#include "cache/scan/file_types.h"
#include "cache/scan/found_file_list.h"
#include "cache/scan/list_columns.h"
#include "cache/scan/retrieve.h"
#include "cache/scan/url_cache.h"
#include "cli/body_hash.h"
#include "cli/report.h"
#include "platform/base/ascii.h"
#include "platform/base/civil_time.h"
#include "platform/base/collation.h"
#include "platform/base/escape.h"
#include "platform/base/ini_settings.h"
#include "platform/base/settings.h"
#include "save/save_row.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>

namespace cli {

using platform::IsoUtc;
using platform::JsonString;
using platform::TsvField;

namespace {

// The boxes as the command line sets them: from --types, else as the user left them.
class CommandLineSwitches final : public cache::FileTypeSwitches {
  public:
    int value(cache::FileType box) const override {
        auto it = values_.find(box);
        return it == values_.end() ? 0 : it->second;
    }
    void set(cache::FileType box, int v) { values_[box] = v; }

  private:
    std::map<cache::FileType, int> values_;
};

CommandLineSwitches SwitchesFor(const CommandLine& command, platform::SettingsBackend& settings) {
    CommandLineSwitches boxes;
    for (const auto& t : cache::kFileTypes) {
        if (command.types) {
            const auto& chosen = *command.types;
            boxes.set(t.type, std::find(chosen.begin(), chosen.end(), t.name) != chosen.end());
        } else {
            // The same rule as the window's start-up: ticked exactly when the text is "1".
            boxes.set(t.type,
                      app::ReadSetting(settings, app::kSettingsApplication, app::kSettingsSection,
                                       t.settingsKey, t.settingsDefault) == "1");
        }
    }
    return boxes;
}

void PrepareList(cache::FoundFileList& list) {
    // The same columns and order as the window's list.
    for (const auto& column : cache::kListColumns)
        list.addColumn(column.caption);
    list.setSortKeyFunction(platform::CollationKey);
    list.setSorted(true);
    list.setSortKey(cache::kFileNameColumn);
}

// Shows a running count on a terminal; nothing when standard error is a file or a pipe.
class Progress {
  public:
    explicit Progress(const CommandStreams& s) : streams_(s) {}
    ~Progress() { finish(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void entries(std::size_t n) {
        entries_ = n;
        show();
    }
    void saved(std::size_t n) {
        saved_ = n;
        show();
    }
    void finish() {
        if (shown_)
            streams_.err << "\n" << std::flush;
        shown_ = false;
    }

  private:
    void show() {
        if (!streams_.errIsTerminal)
            return;
        streams_.err << "\r" << entries_ << " entries read";
        if (saved_)
            streams_.err << ", " << saved_ << " files saved";
        streams_.err << std::flush;
        shown_ = true;
    }
    const CommandStreams& streams_;
    std::size_t entries_ = 0;
    std::size_t saved_ = 0;
    bool shown_ = false;
};

bool ReportFolderProblems(const std::vector<cache::NamedFolder>& folders,
                          const CommandStreams& streams) {
    const auto problems = cache::CheckNamedFolders(folders);
    for (const auto& p : problems)
        streams.err << "tamberlin: " << TsvField(p.folder) << ": " << TsvField(p.reason) << "\n";
    return !problems.empty();
}

// A time as JSON: its ISO 8601 text, or null where the cache keeps none.
void JsonTime(platform::JsonWriter& json, const std::optional<std::int64_t>& t) {
    if (t)
        json.string(IsoUtc(*t));
    else
        json.null();
}

// One row as a JSON object. A row whose size could not be set (its step failed and was
// reported) has none: null, so that the array still parses. The body's hash only when asked
// for.
void JsonRow(platform::JsonWriter& json, const cache::FoundFile& r, bool hash,
             const CommandStreams& streams) {
    json.beginObject();
    json.key("url").string(r.url);
    json.key("file_name").string(r.fileName);
    json.key("size");
    if (r.size)
        json.number(*r.size);
    else
        json.null();
    json.key("path").string(r.path);
    if (!r.image.empty()) { // a row read from inside a disk image: where in it
        json.key("image").string(r.image);
        json.key("partition").string(r.partition);
        json.key("fs_path").string(r.insidePath);
        if (r.deleted)
            json.key("deleted").boolean(true);
    }
    json.key("source").string(r.source);
    json.key("cached");
    JsonTime(json, r.cached);
    json.key("last_used");
    JsonTime(json, r.lastUsed);
    json.key("content_type").string(r.contentType());
    if (hash) {
        std::string error;
        const auto sum = RowBodySha256(r, error);
        if (!sum)
            streams.err << "tamberlin: " << TsvField(r.path) << ": cannot be hashed ("
                        << TsvField(error) << ")\n";
        json.key("sha256");
        if (sum)
            json.string(*sum);
        else
            json.null();
    }
    json.endObject();
}

void PrintList(const std::vector<const cache::FoundFile*>& rows, const CommandLine& command,
               const CommandStreams& streams) {
    std::ostream& out = streams.out;
    if (command.json) {
        // Written row by row, as the rows' hashes are worked out.
        std::string text;
        platform::JsonWriter json(text);
        json.beginArray(true);
        for (const cache::FoundFile* row : rows) {
            JsonRow(json, *row, command.rows.hash, streams);
            out << text;
            text.clear();
        }
        json.endArray();
        out << text << '\n';
        return;
    }
    const char* separator = "";
    for (const auto& column : cache::kListColumns) {
        out << separator << column.caption;
        separator = "\t";
    }
    out << '\n';
    std::string line, digits; // kept from row to row: a listing has many thousands
    for (const cache::FoundFile* row : rows) {
        line.clear();
        for (int column = 0; column < static_cast<int>(cache::kListColumns.size()); ++column) {
            if (column)
                line += '\t';
            platform::AppendTsvField(line, cache::ColumnView(*row, column, digits));
        }
        line += '\n';
        out << line;
    }
}

int SaveAll(const std::vector<const cache::FoundFile*>& rows, const CommandLine& command,
            const CommandStreams& streams, Progress& progress) {
    const std::string& folder = command.saveFolder;
    std::string destination = folder;
    if (destination.empty() || destination.back() != platform::kPathSeparator)
        destination += platform::kPathSeparator;
    save::UsedTargets usedTargets;
    std::size_t saved = 0;
    std::size_t already = 0; // of them, found in the folder with the same bytes
    std::size_t failed = 0;
    std::map<std::string, std::string> bodies; // --unique: hash -> where the first one went
    std::size_t duplicates = 0;
    std::vector<SavedFile> reported;
    for (const cache::FoundFile* row : rows) {
        std::optional<std::string> body;
        if (command.rows.unique) {
            // A body that cannot be hashed is saved (or refused) like any other.
            std::string error;
            body = RowBodySha256(*row, error);
            const auto first = body ? bodies.find(*body) : bodies.end();
            if (first != bodies.end()) {
                ++duplicates;
                streams.out << "skipped\t" << TsvField(row->path) << "\tsame content as "
                            << TsvField(first->second) << '\n';
                continue;
            }
        }
        const save::RowSaveResult result = save::SaveFoundFile(*row, destination, usedTargets);
        if (result.saved) {
            ++saved;
            already += result.alreadySaved ? 1 : 0;
            streams.out << (result.alreadySaved ? "already saved\t" : "saved\t")
                        << TsvField(result.target) << '\n';
            if (body)
                bodies.emplace(*body, result.target);
            if (command.rows.report) {
                SavedFile s{*row, result.target.substr(destination.size()), std::nullopt};
                std::string error;
                s.sha256 = FileSha256(result.target, error);
                reported.push_back(std::move(s));
            }
        } else {
            ++failed;
            streams.out << "not saved\t" << TsvField(row->path) << '\t' << TsvField(result.reason)
                        << '\n';
        }
        progress.saved(saved);
    }
    progress.finish();
    streams.err << "tamberlin: " << saved << (saved == 1 ? " file" : " files") << " saved to "
                << TsvField(folder);
    if (already)
        streams.err << " (" << already << " of them already there)";
    if (command.rows.unique)
        streams.err << "; " << duplicates << (duplicates == 1 ? " duplicate" : " duplicates")
                    << " skipped";
    if (failed)
        streams.err << "; " << failed << (failed == 1 ? " file" : " files")
                    << " could not be saved";
    streams.err << "\n";
    if (command.rows.report) {
        std::string error;
        if (!WriteReport(destination, reported, error)) {
            streams.err << "tamberlin: the report could not be written: " << TsvField(error)
                        << "\n";
            return kExitSomeNotSaved;
        }
        streams.err << "tamberlin: report written to " << TsvField(destination + kReportPage)
                    << " and " << TsvField(destination + kReportTable) << "\n";
    }
    return failed ? kExitSomeNotSaved : kExitOk;
}

// The destination must be a folder we can write into; a missing one is created.
bool PrepareDestination(const std::string& folder, const CommandStreams& streams) {
    std::error_code ec;
    const auto status = std::filesystem::status(folder, ec);
    if (std::filesystem::exists(status)) {
        if (!std::filesystem::is_directory(status)) {
            streams.err << "tamberlin: " << TsvField(folder) << ": not a folder\n";
            return false;
        }
        return true;
    }
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        streams.err << "tamberlin: " << TsvField(folder) << ": cannot create the folder ("
                    << TsvField(ec.message()) << ")\n";
        return false;
    }
    return true;
}

} // namespace

const std::vector<std::string>& CommandLineTypeNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v;
        v.reserve(cache::kFileTypes.size());
        for (const auto& t : cache::kFileTypes)
            v.emplace_back(t.name);
        return v;
    }();
    return names;
}

namespace {

// The value of an option given as "--name=VALUE" or as the next argument; nothing, and the
// usage error, when it has none.
std::optional<std::string> OptionValue(const std::vector<std::string>& arguments, std::size_t& i,
                                       std::string_view longName, const std::string& missing,
                                       std::string& error) {
    const std::string& a = arguments[i];
    const std::string prefix = std::string(longName) + "=";
    if (a.rfind(prefix, 0) == 0)
        return a.substr(prefix.size());
    if (i + 1 < arguments.size())
        return arguments[++i];
    if (error.empty())
        error = "'" + a + "' " + missing;
    return std::nullopt;
}

// The names of a --types list, lower case; unknown names and an empty list are usage errors.
std::vector<std::string> ParseTypeList(const std::string& list, std::string& error) {
    std::vector<std::string> types;
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto comma = list.find(',', start);
        const std::string t = platform::AsciiLower(
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (!t.empty()) {
            const auto& names = CommandLineTypeNames();
            if (std::find(names.begin(), names.end(), t) == names.end()) {
                if (error.empty())
                    error = "unknown file type '" + t + "' in --types";
            } else {
                types.push_back(t);
            }
        }
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    // An empty list would list nothing and call it success.
    if (types.empty() && error.empty())
        error = "'--types' names no file type";
    return types;
}

// The options that go together, once all are read.
std::string CheckCombination(const CommandLine& c) {
    if (c.json && c.mode != CommandMode::List)
        return "'--json' goes with '--list'";
    if (c.types && c.mode != CommandMode::List && c.mode != CommandMode::Save)
        return "'--types' goes with '--list' or '--save'";
    return CheckRowOptions(c.rows, c.mode == CommandMode::List, c.mode == CommandMode::Save,
                           c.json);
}

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine c;
    bool modeGiven = false;
    bool optionsEnded = false;
    auto setMode = [&](CommandMode m, const std::string& arg) {
        if (modeGiven && c.mode != m && c.error.empty())
            c.error = "'" + arg + "' cannot be combined with the option before it";
        c.mode = m;
        modeGiven = true;
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (app::IsFolderArgument(a, optionsEnded)) {
            c.folders.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--list" || a == "-l") {
            setMode(CommandMode::List, a);
        } else if (a == "--json") {
            c.json = true;
        } else if (a == "--deleted") {
            c.deleted = true;
        } else if (a == "--save" || a == "-s" || a.rfind("--save=", 0) == 0) {
            if (!c.saveFolder.empty() && c.error.empty())
                c.error = "'--save' is given twice";
            setMode(CommandMode::Save, a);
            if (const auto folder =
                    OptionValue(arguments, i, "--save", "needs a destination folder", c.error))
                c.saveFolder = *folder;
            if (c.saveFolder.empty() && c.error.empty())
                c.error = "the destination folder of '--save' is empty";
        } else if (a == "--types" || a == "-t" || a.rfind("--types=", 0) == 0) {
            if (c.types && c.error.empty())
                c.error = "'--types' is given twice";
            const auto list =
                OptionValue(arguments, i, "--types", "needs a list of file types", c.error);
            c.types = ParseTypeList(list.value_or(""), c.error);
        } else if (a == "--help" || a == "-h") {
            setMode(CommandMode::Help, a);
        } else if (a == "--version" || a == "-V") {
            setMode(CommandMode::Version, a);
        } else if (ConsumeRowOption(arguments, i, c.rows, c.error)) {
            // taken, value and all
        } else if (c.error.empty()) {
            c.error = "unknown option '" + a + "'";
        }
    }
    if (c.error.empty())
        c.error = CheckCombination(c);
    return c;
}

bool WantsCommandLine(const CommandLine& command) {
    return command.mode != CommandMode::Window || !command.error.empty();
}

int RunCommandLine(const CommandLine& command, CommandStreams streams, cache::FoundFileList* rows) {
    // The stored boxes are read from the user's settings file; nothing is ever written.
    platform::IniSettingsReader settings(platform::DefaultSettingsFolder());
    return RunCommandLine(command, streams, settings, rows);
}

int RunCommandLine(const CommandLine& command, CommandStreams streams,
                   platform::SettingsBackend& settings, cache::FoundFileList* rows) {
    if (!command.error.empty()) {
        streams.err << "tamberlin: " << TsvField(command.error) << "\n"
                    << "Try 'tamberlin --help' for more information.\n";
        return kExitUsage;
    }
    switch (command.mode) {
    case CommandMode::Help:
        streams.out << UsageText();
        return kExitOk;
    case CommandMode::Version:
        streams.out << VersionText();
        return kExitOk;
    case CommandMode::Window:
        return kExitUsage;
    case CommandMode::List:
    case CommandMode::Save:
        break;
    }

    // Each named folder is looked into once: what is checked is what is read.
    const std::vector<cache::NamedFolder> named =
        cache::ClassifyNamedFolders(command.folders, command.deleted);
    if (ReportFolderProblems(named, streams))
        return kExitUsage;
    if (command.mode == CommandMode::Save && !PrepareDestination(command.saveFolder, streams))
        return kExitUsage;

    const CommandLineSwitches boxes = SwitchesFor(command, settings);
    cache::FoundFileList ownList;
    cache::FoundFileList& list = rows ? *rows : ownList;
    PrepareList(list);
    Progress progress(streams);
    const cache::RetrieveReport report = cache::RetrieveNamed(
        list, boxes, named, [&](std::size_t entries) { progress.entries(entries); });
    progress.finish();
    for (const auto& p : report.problems)
        streams.err << "tamberlin: " << TsvField(p.folder) << ": " << TsvField(p.reason) << "\n";
    // A named folder of which nothing could be read is not an empty one: what the others
    // hold is still listed or saved, and the status says it.
    for (const auto& folder : report.unreadableFolders)
        streams.err << "tamberlin: " << TsvField(folder.folder) << ": " << TsvField(folder.reason)
                    << "\n";
    const int status = report.unreadableFolders.empty() ? kExitOk : kExitUsage;

    if (command.mode == CommandMode::List) {
        PrintList(SelectRows(list, command.rows), command, streams);
        return status;
    }
    return std::max(status, SaveAll(SelectRows(list, command.rows), command, streams, progress));
}

std::string UsageText() {
    return "Usage: tamberlin [FOLDER...]\n"
           "       tamberlin --list [--json [--hash]] [--types TYPES] [FILTERS] [--sort KEY]\n"
           "                        [FOLDER...]\n"
           "       tamberlin --save DIR [--types TYPES] [FILTERS] [--sort KEY] [--unique]\n"
           "                        [--report] [FOLDER...]\n"
           "\n"
           "Finds the pictures and videos in browser caches and saves them.\n"
           "Without --list or --save the window opens; FOLDERs given there are what\n"
           "\"Start Retrieving Cached Files\" reads.\n"
           "\n"
           "  -l, --list          print one line per file found: URL, file name, size and\n"
           "                      path, tab-separated, after a header line\n"
           "      --json          with --list: print a JSON array of objects instead,\n"
           "                      each also naming the program the cache is from\n"
           "  -s, --save DIR      save every file found into DIR (created when missing);\n"
           "                      a file already there is replaced atomically, two files of\n"
           "                      one name become \"name.ext\", \"name (2).ext\"...; one\n"
           "                      whose bytes are there already is not copied again\n"
           "  -t, --types TYPES   comma-separated file types: jpg,bmp,gif,png,ico,webp,videos\n"
           "                      (default: the types ticked in the window)\n"
           "      --hash          with --list --json: add each body's SHA-256\n"
           "      --deleted       in disk images, also the deleted cache entries whose bytes\n"
           "                      still pass the cache's own checks (Firefox, Chromium's\n"
           "                      Simple Cache, WebKit); --json marks them \"deleted\": true\n"
           "      --since WHEN    only files cached at or after WHEN, an ISO 8601 date or\n"
           "                      date-time (2026-01-31, 2026-01-31T18:30Z, ...+01:00; no\n"
           "                      zone: local time; a date alone: from its first second)\n"
           "      --until WHEN    only files cached at or before WHEN (a date alone: through\n"
           "                      its last second); files without a cached time are left out\n"
           "      --host HOST     only files from HOST or its subdomains (repeatable)\n"
           "      --min-size N    only files of at least N bytes (k = 1024, M = 1048576)\n"
           "      --sort KEY      name (default), time, size or url\n"
           "      --unique        with --save: one file per distinct content (SHA-256)\n"
           "      --report        with --save: also write DIR/index.html and DIR/report.csv\n"
           "  -h, --help          show this help and exit\n"
           "  -V, --version       show the version and exit\n"
           "\n"
           "FOLDER is a home folder (Linux, or a copied Windows profile such as\n"
           "/mnt/old-disk/Users/bob), a browser profile or a cache folder. Without FOLDERs\n"
           "the current user's caches are read: the Wine prefix's Internet Explorer cache,\n"
           "Firefox, the Chromium family, Thunderbird, and every other program's cache\n"
           "found below the folders programs keep their data in (see the manual).\n"
           "\n"
           "Exit status: 0 when everything found was listed or saved, 1 when some files\n"
           "could not be saved, 2 for a usage error or a folder holding no readable cache.\n";
}

std::string VersionText() {
    return std::string("tamberlin ") + TAMBERLIN_VERSION + "\n";
}

void TerminalErrorReporter::report(const std::string& description, const std::string& tag,
                                   int line) {
    err_ << "Application Error: " << TsvField(app::ComposeErrorMessage(description, tag, line))
         << "\n"
         << std::flush;
}

} // namespace cli
