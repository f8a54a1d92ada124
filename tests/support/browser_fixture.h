// The real browser caches of the test data, as the integration tests use them: what
// each one should list, and scratch layouts (homes, copied Windows profiles) built from them.
#pragma once

#include "test_support.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// One body of a fixture cache that a file-type box admits and whose content is whole.
struct ListableBody {
    std::string url;
    std::string urlPath; // from the first "/" after the authority: ports differ per cache
    std::string type;    // jpg png gif bmp ico webp mp4
    std::uint64_t size = 0;
    std::string sha256;
    std::string entryFile; // relative to the fixture's home
};

// "<fixtures>/browser-caches/<name>" ("firefox", "chromium"), or "" when absent.
std::string BrowserFixture(const std::string& name);
// The bodies of that fixture's expected.tsv that the program lists with every box ticked.
std::vector<ListableBody> ListableBodies(const std::string& name);
std::string UrlPath(const std::string& url);

std::string FileSha256(const std::string& path);

// A scratch home holding the Firefox and Chromium fixture caches side by side and, as
// ~/.wine, the Wine fixture prefix.
class MergedHome {
  public:
    MergedHome();
    std::string home() const { return root_.str() + "/home"; }
    std::string root() const { return root_.str(); }

  private:
    ScratchFolder root_;
};

// A profile copied from Windows: <root>/Users/bob with Internet Explorer's index.dat (the
// Windows 7 fixture) and the Firefox fixture's cache2 under a Firefox profile.
class CopiedWindowsProfile {
  public:
    CopiedWindowsProfile();
    std::string users() const { return root_.str() + "/Users"; }
    std::string profile() const { return users() + "/bob"; }
    std::string cache2() const;

  private:
    ScratchFolder root_;
};

} // namespace testing_support

// Skips the test when the browser-cache fixtures are not there.
#define SKIP_WITHOUT_BROWSER_FIXTURES()                                                            \
    if (testing_support::BrowserFixture("firefox").empty() ||                                      \
        testing_support::BrowserFixture("chromium").empty() ||                                     \
        testing_support::FixturesFolder().empty())                                                 \
    GTEST_SKIP() << "the browser-cache test caches (tests/data) are not present"
