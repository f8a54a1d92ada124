// The command line run in process over the real caches: what it lists and saves, and the
// exit status for each way a run can go wrong.
#include "browser_fixture.h"
#include "cache/scan/list_columns.h"
#include "cache/scan/retrieve.h"
#include "cache_builder.h"
#include "cli/command_line.h"
#include "platform/base/collation.h"
#include "platform/base/escape.h"
#include "platform/base/files.h"
#include "platform/base/utf8.h"
#include "save/save_command.h"
#include "sha256.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using testing_support::FolderContents;
using testing_support::ListableBodies;
using testing_support::ReadAll;
using testing_support::ScopedEnv;
using testing_support::ScratchFolder;

struct Outcome {
    int status = -1;
    std::string out, err;
};

Outcome RunWith(const std::vector<std::string>& arguments) {
    std::ostringstream out, err;
    Outcome r;
    r.status = cli::RunCommandLine(cli::ParseCommandLine(arguments), {out, err, false});
    r.out = out.str();
    r.err = err.str();
    return r;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

struct Boxes final : cache::FileTypeSwitches {
    int value(cache::FileType) const override { return 1; }
};

// The list as the window sets it up: its columns, sorted by file name in the user's
// collation.
void PrepareAsTheWindowDoes(cache::FoundFileList& list) {
    for (const char* c : {"URL", "Filename(s)", "Size", "File Path"})
        list.addColumn(c);
    list.setSortKeyFunction(platform::CollationKey);
    list.setSorted(true);
    list.setSortKey(cache::kFileNameColumn);
}

// A small JSON reader: accepts exactly the grammar of RFC 8259 and gives back an array of
// flat objects, their values as text. Fails the test on anything else.
class JsonArrayOfObjects {
  public:
    explicit JsonArrayOfObjects(const std::string& text) : s_(text) {}
    bool parse(std::vector<std::map<std::string, std::string>>& out) {
        space();
        if (!eat('['))
            return false;
        space();
        if (eat(']'))
            return end();
        do {
            space();
            std::map<std::string, std::string> object;
            if (!parseObject(object))
                return false;
            out.push_back(std::move(object));
            space();
        } while (eat(','));
        return eat(']') && end();
    }

  private:
    bool end() {
        space();
        return i_ == s_.size();
    }
    void space() {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t'))
            ++i_;
    }
    bool eat(char c) {
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    bool parseObject(std::map<std::string, std::string>& object) {
        if (!eat('{'))
            return false;
        space();
        if (eat('}'))
            return true;
        do {
            space();
            std::string key, value;
            if (!parseString(key))
                return false;
            space();
            if (!eat(':'))
                return false;
            space();
            if (!(i_ < s_.size() && s_[i_] == '"' ? parseString(value) : parseNumberOrNull(value)))
                return false;
            if (!object.emplace(key, value).second)
                return false;
            space();
        } while (eat(','));
        return eat('}');
    }
    bool parseNumberOrNull(std::string& value) {
        if (s_.compare(i_, 4, "null") == 0) {
            i_ += 4;
            value = "null";
            return true;
        }
        const std::size_t start = i_;
        eat('-');
        if (i_ >= s_.size() || !std::isdigit(static_cast<unsigned char>(s_[i_])))
            return false;
        if (s_[i_] == '0')
            ++i_;
        else
            while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_])))
                ++i_;
        value = s_.substr(start, i_ - start);
        return true;
    }
    bool parseString(std::string& value) {
        if (!eat('"'))
            return false;
        while (i_ < s_.size()) {
            const unsigned char c = static_cast<unsigned char>(s_[i_++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;
            if (c != '\\') {
                value += static_cast<char>(c);
                continue;
            }
            if (i_ >= s_.size())
                return false;
            const char e = s_[i_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                value += e;
                break;
            case 'b':
                value += '\b';
                break;
            case 'f':
                value += '\f';
                break;
            case 'n':
                value += '\n';
                break;
            case 'r':
                value += '\r';
                break;
            case 't':
                value += '\t';
                break;
            case 'u': {
                if (i_ + 4 > s_.size())
                    return false;
                unsigned cp = 0;
                for (int k = 0; k < 4; ++k) {
                    const char h = s_[i_++];
                    if (!std::isxdigit(static_cast<unsigned char>(h)))
                        return false;
                    cp = cp * 16 + static_cast<unsigned>(std::stoi(std::string(1, h), nullptr, 16));
                }
                if (cp >= 0xDC00 && cp <= 0xDFFF)
                    return false; // a low surrogate alone
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    // A pair: the low half must follow as an escape of its own.
                    std::string low;
                    if (s_.compare(i_, 2, "\\u") != 0 || i_ + 6 > s_.size())
                        return false;
                    const unsigned half =
                        static_cast<unsigned>(std::stoul(s_.substr(i_ + 2, 4), nullptr, 16));
                    if (half < 0xDC00 || half > 0xDFFF)
                        return false;
                    i_ += 6;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (half - 0xDC00);
                }
                platform::AppendUtf8(value, cp);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }
    const std::string& s_;
    std::size_t i_ = 0;
};

bool ValidUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80         ? 1
                              : (c >> 5) == 6  ? 2
                              : (c >> 4) == 14 ? 3
                              : (c >> 3) == 30 ? 4
                                               : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

class CommandLineRun : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_WITHOUT_BROWSER_FIXTURES();
        folders = {testing_support::BrowserFixture("firefox") + "/home",
                   testing_support::BrowserFixture("chromium") + "/home",
                   testing_support::FixturesFolder() + "/url-cache/wine/prefix"};
    }
    // The rows the window's list holds over the same folders, in its order.
    void windowList(cache::FoundFileList& list) {
        PrepareAsTheWindowDoes(list);
        cache::RetrieveAll(list, Boxes{}, {folders});
    }
    std::vector<std::string> with(std::vector<std::string> head) {
        head.insert(head.end(), folders.begin(), folders.end());
        return head;
    }
    std::vector<std::string> folders;
};

TEST_F(CommandLineRun, ListPrintsTheWindowsRowsInTheWindowsOrder) {
    cache::FoundFileList list;
    windowList(list);
    ASSERT_GT(list.count(), 61u + ListableBodies("firefox").size());
    std::vector<std::string> expected = {"URL\tFilename(s)\tSize\tFile Path"};
    for (std::size_t i = 1; i <= list.count(); ++i) {
        const auto& r = list.row(list.rowAt(i));
        expected.push_back(platform::TsvField(r.url) + "\t" + platform::TsvField(r.fileName) +
                           "\t" + cache::ColumnText(r, cache::kSizeColumn) + "\t" +
                           platform::TsvField(r.path));
    }
    const Outcome run = RunWith(with({"--list"}));
    EXPECT_EQ(run.status, cli::kExitOk) << run.err;
    EXPECT_EQ(Lines(run.out), expected);
    EXPECT_EQ(run.err, ""); // nothing on a standard error that is no terminal

    const Outcome json = RunWith(with({"--list", "--json"}));
    EXPECT_EQ(json.status, cli::kExitOk) << json.err;
    EXPECT_TRUE(ValidUtf8(json.out));
    std::vector<std::map<std::string, std::string>> objects;
    ASSERT_TRUE(JsonArrayOfObjects(json.out).parse(objects)) << json.out.substr(0, 400);
    ASSERT_EQ(objects.size(), list.count());
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const auto& r = list.row(list.rowAt(i + 1));
        const auto& o = objects[i];
        for (const char* key :
             {"url", "file_name", "size", "path", "source", "cached", "last_used", "content_type"})
            EXPECT_EQ(o.count(key), 1u) << key;
        EXPECT_EQ(o.count("sha256"), 0u); // only with --hash
        EXPECT_EQ(o.at("size"), cache::ColumnText(r, cache::kSizeColumn));
        EXPECT_EQ(o.at("source"), r.body ? r.source : "Internet Explorer");
        if (ValidUtf8(r.url)) {
            EXPECT_EQ(o.at("url"), r.url);
        }
        if (ValidUtf8(r.fileName) && ValidUtf8(r.path)) {
            EXPECT_EQ(o.at("file_name"), r.fileName);
            EXPECT_EQ(o.at("path"), r.path);
        }
    }

    // A prefix on a disk named in Latin-1: the paths are not UTF-8, the JSON still is, and
    // the list without --json keeps the bytes.
    ScratchFolder latin1;
    const std::string prefix = latin1.str() + "/Fotos \xE9t\xE9/.wine";
    testing_support::CopyTree(folders[2], prefix);
    const Outcome odd = RunWith({"--list", "--json", prefix});
    EXPECT_EQ(odd.status, cli::kExitOk) << odd.err;
    EXPECT_TRUE(ValidUtf8(odd.out));
    objects.clear();
    ASSERT_TRUE(JsonArrayOfObjects(odd.out).parse(objects)) << odd.out.substr(0, 400);
    EXPECT_EQ(objects.size(), 62u);
    EXPECT_NE(RunWith({"--list", prefix}).out.find(prefix + "/drive_c/"), std::string::npos);

    // A row whose size step failed (and was reported) has no size: still JSON.
    {
        testing_support::RecordingReporter reporter;
        app::setStepHook([](const std::string& tag, int line) {
            if (tag == cache::kScanTag && (line == 134 || line == 180))
                throw std::runtime_error("no size");
        });
        const Outcome sizeless = RunWith({"--list", "--json", folders[2]});
        app::setStepHook({});
        EXPECT_FALSE(reporter.reports.empty());
        objects.clear();
        EXPECT_TRUE(JsonArrayOfObjects(sizeless.out).parse(objects)) << sizeless.out.substr(0, 400);
        ASSERT_EQ(objects.size(), 62u);
        EXPECT_EQ(objects[0].at("size"), "null");
    }

    // On a terminal a running count goes to standard error, ended by a new line; the list
    // on standard output is the same.
    {
        std::ostringstream out, err;
        EXPECT_EQ(cli::RunCommandLine(cli::ParseCommandLine(with({"--list"})), {out, err, true}),
                  cli::kExitOk);
        EXPECT_EQ(Lines(out.str()), expected);
        EXPECT_NE(err.str().find("entries read"), std::string::npos) << err.str();
        EXPECT_TRUE(err.str().ends_with("\n"));
    }

    // An empty result is still a well-formed array.
    const Outcome none = RunWith(with({"--list", "--json", "--host", "nothing.invalid"}));
    EXPECT_EQ(none.status, cli::kExitOk);
    objects.clear();
    EXPECT_TRUE(JsonArrayOfObjects(none.out).parse(objects)) << none.out;
    EXPECT_TRUE(objects.empty());
}

TEST_F(CommandLineRun, SaveWritesWhatTheSaveButtonWrites) {
    ScratchFolder d;
    const std::string byCommand = d.str() + "/new/folder"; // created when missing
    const Outcome run = RunWith(with({"--save", byCommand}));
    EXPECT_EQ(run.status, cli::kExitSomeNotSaved) << run.err; // the prefix misses one file
    EXPECT_NE(run.err.find("1 file could not be saved"), std::string::npos) << run.err;

    cache::FoundFileList list;
    windowList(list);
    testing_support::ScriptedDialogs dialogs;
    struct Window final : save::SaveWindow {
        std::string folder;
        std::string destinationText() const override { return folder; }
        void setProgress(std::size_t, std::size_t) override {}
        std::string messageTitle() const override { return {}; }
    } window;
    fs::create_directories(d.str() + "/by-button");
    window.folder = d.str() + "/by-button/";
    save::PushButton3_Click(list, window);
    const auto saved = FolderContents(byCommand);
    EXPECT_EQ(saved, FolderContents(d.str() + "/by-button"));
    EXPECT_EQ(saved.size(), list.count() - 1);
    // One "saved" or "not saved" line per row.
    EXPECT_EQ(Lines(run.out).size(), list.count());

    // Browser caches alone save everything.
    const Outcome browsers = RunWith({"--save", d.str() + "/browsers", folders[0], folders[1]});
    EXPECT_EQ(browsers.status, cli::kExitOk) << browsers.err;
    std::multiset<std::string> hashes, wanted;
    for (const auto& [name, content] : FolderContents(d.str() + "/browsers"))
        hashes.insert(browser_test::Sha256Hex(content));
    for (const char* b : {"firefox", "chromium"})
        for (const auto& e : ListableBodies(b))
            wanted.insert(e.sha256);
    EXPECT_EQ(hashes, wanted);

    // --hash gives the same hashes of the decoded bodies without saving them.
    const Outcome listed = RunWith({"--list", "--json", "--hash", folders[0], folders[1]});
    std::vector<std::map<std::string, std::string>> objects;
    ASSERT_TRUE(JsonArrayOfObjects(listed.out).parse(objects)) << listed.out.substr(0, 400);
    std::multiset<std::string> listedHashes;
    for (const auto& o : objects)
        listedHashes.insert(o.at("sha256"));
    EXPECT_EQ(listedHashes, wanted);
}

TEST_F(CommandLineRun, ExitStatusesForFoldersAndDestinations) {
    ScratchFolder d;
    {
        SCOPED_TRACE("a missing folder");
        const std::string missing = d.str() + "/no such home";
        const Outcome r = RunWith({"--list", folders[0], missing});
        EXPECT_EQ(r.status, cli::kExitUsage);
        EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
        EXPECT_EQ(r.out, ""); // not half a list
    }
    {
        SCOPED_TRACE("a folder without caches");
        fs::create_directories(d.str() + "/empty");
        const Outcome r = RunWith({"--save", d.str() + "/out", d.str() + "/empty"});
        EXPECT_EQ(r.status, cli::kExitUsage);
        EXPECT_FALSE(fs::exists(d.str() + "/out")); // nothing made before the checks pass
    }
    {
        SCOPED_TRACE("a destination that is a file");
        const std::string file = d.file("not-a-folder", "keep me");
        const Outcome r = RunWith({"--save", file, folders[0]});
        EXPECT_EQ(r.status, cli::kExitUsage);
        EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
        EXPECT_EQ(ReadAll(file), "keep me");
    }
    {
        SCOPED_TRACE("a destination that fills up");
        const std::string out = d.str() + "/full";
        fs::create_directories(out);
        d.file("full/photo-large.jpg", "the old one");
        platform::SetCopyCallHook(
            [](platform::CopyCall, std::uint64_t written, std::size_t& count) {
                return written + count > 100000 ? ENOSPC : 0;
            });
        const Outcome r = RunWith({"--save", out, folders[0]});
        platform::SetCopyCallHook({});
        EXPECT_EQ(r.status, cli::kExitSomeNotSaved);
        EXPECT_NE(r.out.find("not saved\t"), std::string::npos) << r.out;
        EXPECT_NE(r.err.find("1 file could not be saved"), std::string::npos) << r.err;
        EXPECT_EQ(ReadAll(out + "/photo-large.jpg"), "the old one");
        EXPECT_EQ(FolderContents(out).size(), ListableBodies("firefox").size());
    }
}

TEST_F(CommandLineRun, ACacheThatCannotBeReadIsNamedAndANamedFolderOfItAloneIsAnError) {
    ScratchFolder d;
    const std::string entry = d.file("damaged/cache2/entries/" + std::string(40, 'B'), "x");
    const std::string damaged = d.str() + "/damaged/cache2";
    for (const bool save : {false, true}) {
        SCOPED_TRACE(save);
        const Outcome r = save ? RunWith({"--save", d.str() + "/out", folders[0], damaged})
                               : RunWith({"--list", folders[0], damaged});
        EXPECT_EQ(r.status, cli::kExitUsage);
        EXPECT_NE(r.err.find("tamberlin: " + entry + ": "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("tamberlin: " + damaged + ": nothing in it could be read"),
                  std::string::npos)
            << r.err;
        // What the other folder holds is still listed or saved.
        EXPECT_EQ(Lines(r.out).size(), ListableBodies("firefox").size() + (save ? 0 : 1));
    }
}

TEST_F(CommandLineRun, AnUnreadableFolderIsAUsageError) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "running as root: permission bits do not stop root from reading";
    ScratchFolder d;
    {
        SCOPED_TRACE("an unreadable folder");
        const std::string locked = d.str() + "/locked";
        fs::create_directories(locked + "/.cache");
        fs::permissions(locked, fs::perms::none);
        const Outcome r = RunWith({"--list", locked});
        fs::permissions(locked, fs::perms::owner_all);
        EXPECT_EQ(r.status, cli::kExitUsage);
        EXPECT_NE(r.err.find(locked), std::string::npos) << r.err;
    }
}

// A folder name that would retitle and clear a terminal, and a URL with a bidirectional
// override: neither reaches standard output or error raw, and JSON keeps the URL whole.
TEST(CommandLineText, NothingFromANameOrAUrlReachesATerminalRaw) {
    ScratchFolder d;
    const std::string nasty = "\x1b]2;PWNED\x07\x1b[2J";
    const std::string shown = "\\x1b]2;PWNED\\x07\\x1b[2J";
    const fs::path cache2 = d.path() / nasty / "cache2";
    browser_test::MakeFirefoxCache(cache2);
    const std::string url = "http://a.example/evil\xE2\x80\xAEgpj.png";
    browser_test::FirefoxEntry entry;
    entry.key = ":" + url;
    entry.body = browser_test::Png(300);
    browser_test::PutFirefox(cache2, browser_test::FirefoxName(0),
                             browser_test::BuildFirefoxEntry(entry));
    browser_test::PutFirefox(cache2, browser_test::FirefoxName(1), "not an entry");
    const auto raw = [&](const std::string& text) {
        return text.find('\x1b') != std::string::npos || text.find('\x07') != std::string::npos ||
               text.find("\xE2\x80\xAE") != std::string::npos;
    };

    const Outcome list = RunWith({"--list", cache2.string()});
    EXPECT_EQ(list.status, cli::kExitOk);
    EXPECT_FALSE(raw(list.out)) << list.out;
    EXPECT_FALSE(raw(list.err)) << list.err;
    EXPECT_NE(list.out.find("http://a.example/evil\\xe2\\x80\\xaegpj.png"), std::string::npos)
        << list.out;
    EXPECT_NE(list.err.find(shown + "/cache2/entries/" + browser_test::FirefoxName(1)),
              std::string::npos)
        << list.err;

    const Outcome json = RunWith({"--list", "--json", cache2.string()});
    EXPECT_FALSE(raw(json.out)) << json.out;
    EXPECT_FALSE(raw(json.err)) << json.err;
    std::vector<std::map<std::string, std::string>> objects;
    ASSERT_TRUE(JsonArrayOfObjects(json.out).parse(objects)) << json.out;
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0]["url"], url);
    EXPECT_EQ(objects[0]["path"], (cache2 / "entries" / browser_test::FirefoxName(0)).string());

    // A folder that is not there, a destination that is a file, an unknown option.
    const std::string missing = d.str() + "/" + nasty + "2";
    const std::string file = d.file(nasty + "file", "x");
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"--list", missing}, {"--save", file, cache2.string()}, {"--list", "--" + nasty}}) {
        const Outcome r = RunWith(arguments);
        EXPECT_EQ(r.status, cli::kExitUsage);
        EXPECT_FALSE(raw(r.err)) << r.err;
        EXPECT_NE(r.err.find(shown), std::string::npos) << r.err;
    }
}

TEST_F(CommandLineRun, TypesComeFromTheOptionElseFromTheStoredBoxesWhichAreNeverWritten) {
    const auto extensions = [](const Outcome& r) {
        std::multiset<std::string> out;
        const auto lines = Lines(r.out);
        for (std::size_t i = 1; i < lines.size(); ++i) {
            const std::string name =
                lines[i].substr(0, lines[i].find('\t', lines[i].find('\t') + 1));
            out.insert(name.substr(name.rfind('.') + 1));
        }
        return out;
    };
    const std::vector<std::string> browsers = {folders[0], folders[1]};
    auto withBrowsers = [&](std::vector<std::string> head) {
        head.insert(head.end(), browsers.begin(), browsers.end());
        return head;
    };
    EXPECT_EQ(extensions(RunWith(withBrowsers({"--list", "--types", "webp,GIF"}))),
              (std::multiset<std::string>{"gif", "gif", "webp", "webp"}));

    ScratchFolder config;
    ScopedEnv xdg("XDG_CONFIG_HOME", config.str().c_str());
    // Ticked exactly when the stored text is "1", as the window reads it.
    const std::string text = "[Tamberlin]\nPNG=0\nVideos=0\nGIF=true\n";
    const std::string ini = config.file("Varnholt.ini", text);
    const auto before = fs::last_write_time(ini);
    const auto stored = extensions(RunWith(withBrowsers({"--list"})));
    EXPECT_EQ(stored.count("png"), 0u);
    EXPECT_EQ(stored.count("mp4"), 0u);
    EXPECT_EQ(stored.count("gif"), 0u);
    EXPECT_EQ(stored.count("jpg"), 6u);
    EXPECT_EQ(stored.count("webp"), 2u); // a box never stored is ticked
    // The option wins over the stored boxes.
    EXPECT_EQ(extensions(RunWith(withBrowsers({"--list", "-t", "png"}))).count("png"), 6u);
    ScratchFolder saved;
    EXPECT_EQ(RunWith(withBrowsers({"--save", saved.str()})).status, cli::kExitOk);
    EXPECT_EQ(ReadAll(ini), text);
    EXPECT_EQ(fs::last_write_time(ini), before);
    EXPECT_EQ(FolderContents(config.path()).size(), 1u); // no lock or temporary file either
}

} // namespace
