#include "browser_fixture.h"
#include "expected_tsv.h"

#include "sha256.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace testing_support {
namespace fs = std::filesystem;

std::string BrowserFixture(const std::string& name) {
    const fs::path p = fs::path(TAMBERLIN_FIXTURES) / "browser-caches" / name;
    std::error_code ec;
    return fs::is_directory(p, ec) ? p.string() : "";
}

std::string UrlPath(const std::string& url) {
    const auto scheme = url.find("://");
    if (scheme == std::string::npos)
        return url;
    const auto slash = url.find('/', scheme + 3);
    return slash == std::string::npos ? "/" : url.substr(slash);
}

std::vector<ListableBody> ListableBodies(const std::string& name) {
    // What the boxes admit: JPG, BMP, GIF, PNG, ICO, WEBP and the videos (an SVG is not).
    static const std::set<std::string> kAdmitted = {"jpg", "png",  "gif", "bmp",
                                                    "ico", "webp", "mp4"};
    std::vector<ListableBody> out;
    for (const auto& f :
         testdata::ReadExpectedTsv(fs::path(BrowserFixture(name)) / "expected.tsv")) {
        if (!kAdmitted.count(f[4]) || f[6].empty())
            continue;
        out.push_back({f[0], UrlPath(f[0]), f[4], std::stoull(f[5]), f[6], f[7]});
    }
    return out;
}

std::string FileSha256(const std::string& path) {
    return browser_test::Sha256Hex(ReadAll(path));
}

MergedHome::MergedHome() {
    const fs::path home = root_.path() / "home";
    CopyTree(fs::path(BrowserFixture("firefox")) / "home", home);
    CopyTree(fs::path(BrowserFixture("chromium")) / "home", home);
    CopyTree(fs::path(FixturesFolder()) / "url-cache/wine/prefix", home / ".wine");
}

CopiedWindowsProfile::CopiedWindowsProfile() {
    const fs::path local = root_.path() / "Users/bob/AppData/Local";
    fs::create_directories(local / "Microsoft/Windows/INetCache/IE");
    CopyTree(fs::path(FixturesFolder()) / "url-cache/ie-content/index.dat",
             local / "Microsoft/Windows/INetCache/IE/index.dat");
    CopyTree(fs::path(BrowserFixture("firefox")) /
                 "home/.cache/mozilla/firefox/pylwchot.default-esr/cache2",
             cache2());
}

std::string CopiedWindowsProfile::cache2() const {
    return profile() + "/AppData/Local/Mozilla/Firefox/Profiles/x.default/cache2";
}

} // namespace testing_support
