// The report's two files read back strictly, with hostile names and URLs, and the command
// line's filters, sort and unique saving over two caches of our own making.
#include "cache_builder.h"
#include "cli/command_line.h"
#include "cli/report.h"
#include "platform/base/utf8.h"
#include "sha256.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using Table = std::vector<std::vector<std::string>>;

// RFC 4180 exactly: CRLF after every record, quoted fields with doubled quotes, no quote in
// an unquoted field, nothing between a closing quote and the separator. Fails the test on
// anything else.
Table ParseCsvStrictly(const std::string& s) {
    Table table;
    std::size_t i = 0;
    while (i < s.size()) {
        std::vector<std::string> record;
        for (;;) {
            std::string field;
            if (i < s.size() && s[i] == '"') {
                for (++i;; ++i) {
                    if (i >= s.size())
                        ADD_FAILURE() << "unterminated quoted field";
                    if (i >= s.size())
                        return table;
                    if (s[i] == '"' && (i + 1 >= s.size() || s[i + 1] != '"'))
                        break;
                    if (s[i] == '"')
                        ++i;
                    field += s[i];
                }
                ++i;
            } else {
                for (; i < s.size() && s[i] != ',' && s[i] != '\r'; ++i) {
                    EXPECT_TRUE(s[i] != '"' && s[i] != '\n') << "bare quote or LF at " << i;
                    field += s[i];
                }
            }
            record.push_back(field);
            if (i < s.size() && s[i] == ',') {
                ++i;
                continue;
            }
            EXPECT_EQ(s.compare(i, 2, "\r\n"), 0) << "record not ended by CRLF at " << i;
            i += 2;
            break;
        }
        table.push_back(record);
    }
    return table;
}

bool IsValidUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto d = platform::DecodeUtf8(s, i);
        if (d.codePoint == platform::kReplacementCharacter && s.compare(i, 3, "\xEF\xBF\xBD") != 0)
            return false;
        i += d.length;
    }
    return true;
}

std::vector<cli::SavedFile> HostileFiles() {
    auto file = [](std::string name, std::string url, std::string source) {
        cli::SavedFile f;
        f.savedName = std::move(name);
        f.row.url = std::move(url);
        f.row.source = std::move(source);
        f.row.fileName = f.savedName;
        f.row.size = 42;
        f.row.cached = 1767225600;
        f.sha256 = browser_test::Sha256Hex(f.savedName);
        return f;
    };
    return {
        file("\"><img src=x onerror=alert(1)>.png", "http://a.example/\"><script>alert(1)</script>",
             "Firefox <b>default</b>"),
        file("%23#?.png", "javascript:alert(1)//http://x/", "Chromium 'Default'"),
        file("evil\xE2\x80\xAEgpj.png", "https://b.example/a b?x=\"1\"&y=<2>",
             "=cmd|' /C calc'!A0"),
        file("\xFF\xFE name,with \"quotes\".gif", "http://c.example/\r\nline", "\xC3\x28"),
        file("=HYPERLINK(\"http://x\").jpg", "data:text/html,<script>alert(1)</script>", ""),
        file("-2+3.bmp", "HTTPS://D.example/'onmouseover='x", "@SUM(1)"),
        file("clip\tnew\nline.mp4", "http://e.example/clip.mp4", "\t=1"),
    };
}

TEST(Report, CsvReadsBackStrictlyWithEveryFieldAndNoFormula) {
    const auto files = HostileFiles();
    const std::string csv = cli::ReportCsv(files);
    ASSERT_TRUE(IsValidUtf8(csv));
    const Table table = ParseCsvStrictly(csv);
    ASSERT_EQ(table.size(), files.size() + 1);
    EXPECT_EQ(table[0], (std::vector<std::string>{"file", "url", "source", "cached", "last_used",
                                                  "size", "content_type", "sha256"}));
    std::set<std::string> names;
    for (std::size_t r = 1; r < table.size(); ++r) {
        ASSERT_EQ(table[r].size(), 8u);
        for (const auto& field : table[r])
            EXPECT_TRUE(field.empty() ||
                        std::string("=+-@\t\r").find(field[0]) == std::string::npos)
                << "a spreadsheet would take this for a formula: " << field;
        EXPECT_EQ(table[r][3], "2026-01-01T00:00:00Z");
        names.insert(table[r][0]);
    }
    // Read back as written: formula-like text behind an apostrophe, bad bytes as U+FFFD.
    EXPECT_TRUE(names.count("'=HYPERLINK(\"http://x\").jpg"));
    EXPECT_TRUE(names.count("'-2+3.bmp"));
    EXPECT_TRUE(names.count("\xEF\xBF\xBD\xEF\xBF\xBD name,with \"quotes\".gif"));
    EXPECT_TRUE(names.count("clip\tnew\nline.mp4"));
}

TEST(Report, HtmlCarriesNoMarkupFromTheCaches) {
    const std::string html = cli::ReportHtml(HostileFiles());
    ASSERT_TRUE(IsValidUtf8(html));
    EXPECT_NE(html.find("script-src 'none'"), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("\xE2\x80\xAE"), std::string::npos) << "a bidi override reached the page";
    // Every tag and attribute is one the page itself writes; every link to a file is a
    // relative, percent-encoded name; every other link is http or https.
    const std::set<std::string> tags = {
        "!DOCTYPE", "html", "head", "meta", "title", "style", "body", "h1", "h2", "p", "section",
        "ul",       "li",   "a",    "img",  "video", "div",   "dl",   "dt", "dd", "i", "span"};
    const std::set<std::string> attributes = {
        "lang", "charset", "http-equiv", "content",  "name",    "class", "href",
        "src",  "alt",     "loading",    "controls", "preload", "rel"};
    const std::regex tag(R"(<(/?)([!A-Za-z0-9]+)([^<>]*)>)");
    const std::regex attribute(R"re(\s+([a-z-]+)(="([^"<>]*)")?)re");
    std::size_t fileLinks = 0;
    const std::string body = html.substr(html.find("</style>"));
    for (std::sregex_iterator t(body.begin(), body.end(), tag), end; t != end; ++t) {
        EXPECT_TRUE(tags.count((*t)[2])) << t->str();
        const std::string attrs = (*t)[3];
        std::size_t covered = 0;
        for (std::sregex_iterator a(attrs.begin(), attrs.end(), attribute); a != end; ++a) {
            covered += a->length();
            EXPECT_TRUE(attributes.count((*a)[1])) << t->str();
            const std::string value = (*a)[3];
            if ((*a)[1] == "src" || ((*a)[1] == "href" && value.rfind("./", 0) == 0)) {
                EXPECT_TRUE(std::regex_match(value, std::regex(R"(\./[A-Za-z0-9._~%-]+)")))
                    << value;
                ++fileLinks;
            } else if ((*a)[1] == "href") {
                EXPECT_TRUE(value.rfind("http://", 0) == 0 || value.rfind("https://", 0) == 0 ||
                            value.rfind("HTTPS://", 0) == 0)
                    << value;
            }
        }
        EXPECT_EQ(covered, attrs.size()) << "unparsed text in " << t->str();
    }
    EXPECT_EQ(fileLinks, 3 * 6 + 2); // pictures: link, image, name link; the video: two
    for (const char* encoded : {"./%2523%23%3F.png", "./%FF%FE%20name%2Cwith%20%22quotes%22.gif",
                                "./evil%E2%80%AEgpj.png", "./clip%09new%0Aline.mp4"})
        EXPECT_NE(html.find(encoded), std::string::npos) << encoded;
}

// Two caches holding the same picture under other names and sites, at known times.
class TwoCaches : public ::testing::Test {
  protected:
    void SetUp() override {
        put(root.path() / "a/cache2", 1, "http://example.org/a.png", Png(300, 'a'), kT0);
        put(root.path() / "a/cache2", 2, "http://cdn.example.org/dup.jpg", Jpeg(500, 'd'),
            kT0 + 10);
        put(root.path() / "b/cache2", 3, "http://notexample.org/copy.jpg", Jpeg(500, 'd'), kT0 + 5);
        put(root.path() / "b/cache2", 4, "http://other.net/b.png", Png(2000, 'b'), kT0 + 20);
    }
    static void put(const fs::path& cache2, unsigned n, const std::string& url,
                    const std::string& body, std::uint32_t cached) {
        browser_test::MakeFirefoxCache(cache2);
        browser_test::FirefoxEntry e;
        e.key = ":" + url;
        e.body = body;
        e.lastModified = cached;
        browser_test::PutFirefox(cache2, browser_test::FirefoxName(n),
                                 browser_test::BuildFirefoxEntry(e));
    }
    static std::string Png(std::size_t n, char c) { return browser_test::Png(n, c); }
    static std::string Jpeg(std::size_t n, char c) { return browser_test::Jpeg(n, c); }

    // The file names --list prints, in order.
    std::vector<std::string> list(std::vector<std::string> options) {
        options.insert(options.begin(), "--list");
        options.push_back((root.path() / "a/cache2").string());
        options.push_back((root.path() / "b/cache2").string());
        std::ostringstream out, err;
        EXPECT_EQ(cli::RunCommandLine(cli::ParseCommandLine(options), {out, err, false}),
                  cli::kExitOk)
            << err.str();
        std::vector<std::string> names;
        std::istringstream lines(out.str());
        std::string line;
        std::getline(lines, line); // the header
        while (std::getline(lines, line))
            names.push_back(line.substr(line.find('\t') + 1, line.find('\t', line.find('\t') + 1) -
                                                                 line.find('\t') - 1));
        return names;
    }

    static constexpr std::uint32_t kT0 = 1767225600;
    testing_support::ScratchFolder root;
    testing_support::ScopedEnv home{"HOME", "/nonexistent"};
    testing_support::ScopedEnv config{"XDG_CONFIG_HOME", "/nonexistent"};
};

TEST_F(TwoCaches, FiltersAndSortsPickTheRows) {
    using V = std::vector<std::string>;
    EXPECT_EQ(list({}), (V{"a.png", "b.png", "copy.jpg", "dup.jpg"}));
    EXPECT_EQ(list({"--sort", "time"}), (V{"a.png", "copy.jpg", "dup.jpg", "b.png"}));
    EXPECT_EQ(list({"--sort=size"}), (V{"a.png", "copy.jpg", "dup.jpg", "b.png"}));
    EXPECT_EQ(list({"--sort", "url"}), (V{"dup.jpg", "a.png", "copy.jpg", "b.png"}));
    EXPECT_EQ(list({"--host", "example.org"}), (V{"a.png", "dup.jpg"}));
    EXPECT_EQ(list({"--host", "CDN.example.org", "--host", "other.net"}), (V{"b.png", "dup.jpg"}));
    EXPECT_EQ(list({"--since", "2026-01-01T00:00:10Z"}), (V{"b.png", "dup.jpg"}));
    EXPECT_EQ(list({"--until", "2026-01-01T01:00:05+01:00"}), (V{"a.png", "copy.jpg"}));
    EXPECT_EQ(list({"--min-size", "500"}), (V{"b.png", "copy.jpg", "dup.jpg"}));
    EXPECT_EQ(list({"--min-size", "501"}), (V{"b.png"}));
    EXPECT_EQ(list({"--min-size", "1k"}), (V{"b.png"}));
}

TEST_F(TwoCaches, UniqueSavesEachBodyOnceAndTheReportListsWhatWasSaved) {
    const std::string out = (root.path() / "out").string();
    std::ostringstream o, err;
    const int status =
        cli::RunCommandLine(cli::ParseCommandLine({"--save", out, "--unique", "--report", "--sort",
                                                   "time", (root.path() / "a/cache2").string(),
                                                   (root.path() / "b/cache2").string()}),
                            {o, err, false});
    EXPECT_EQ(status, cli::kExitOk) << err.str();
    EXPECT_NE(err.str().find("3 files saved"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("1 duplicate skipped"), std::string::npos) << err.str();
    // The earliest by the sort order is kept: copy.jpg, not dup.jpg.
    std::set<std::string> saved;
    for (const auto& e : fs::directory_iterator(out))
        saved.insert(e.path().filename().string());
    EXPECT_EQ(saved,
              (std::set<std::string>{"a.png", "copy.jpg", "b.png", "index.html", "report.csv"}));
    const Table table = ParseCsvStrictly(testing_support::ReadAll(fs::path(out) / "report.csv"));
    ASSERT_EQ(table.size(), 4u);
    for (std::size_t r = 1; r < table.size(); ++r)
        EXPECT_EQ(table[r][7],
                  browser_test::Sha256Hex(testing_support::ReadAll(fs::path(out) / table[r][0])));
    EXPECT_EQ(table[1][0], "a.png");
    EXPECT_EQ(table[1][1], "http://example.org/a.png");
    EXPECT_EQ(table[1][3], "2026-01-01T00:00:00Z");
    EXPECT_EQ(table[1][6], "image/png");
    const std::string html = testing_support::ReadAll(fs::path(out) / "index.html");
    EXPECT_NE(html.find("<img loading=\"lazy\" src=\"./copy.jpg\""), std::string::npos);
}

} // namespace
