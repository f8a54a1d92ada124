// The copies tests make of the read-only test caches are their own to change and remove.
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchFolder;

TEST(CopyTree, AReadOnlyTreeGivesAWritableCopyAndStaysAsItWas) {
    ScratchFolder from, to;
    from.file("home/.cache/a/entry", "bytes");
    from.file("home/.cache/b/c/deep", "more");
    from.file("home/top", "");
    // Read-only, as the caches are delivered: folders r-x (still listable), files r--.
    for (const auto& e : fs::recursive_directory_iterator(from.path() / "home"))
        fs::permissions(e.path(), e.is_directory() ? fs::perms(0555) : fs::perms(0444));
    fs::permissions(from.path() / "home", fs::perms(0555));

    to.file("home/.cache/mine", "already there"); // a folder that exists is merged into
    testing_support::CopyTree(from.path() / "home", to.path() / "home");
    testing_support::CopyTree(from.path() / "home/top", to.path() / "single");

    EXPECT_EQ(testing_support::ReadAll(to.path() / "home/.cache/b/c/deep"), "more");
    EXPECT_EQ(testing_support::ReadAll(to.path() / "home/.cache/mine"), "already there");
    std::size_t copied = 0;
    for (const auto& e : fs::recursive_directory_iterator(to.path())) {
        const fs::perms want = e.is_directory() ? fs::perms::owner_all
                                                : fs::perms::owner_read | fs::perms::owner_write;
        EXPECT_EQ(e.status().permissions() & want, want) << e.path();
        ++copied;
    }
    EXPECT_EQ(copied, 10u);
    EXPECT_EQ(fs::status(to.path() / "single").permissions() & fs::perms::owner_write,
              fs::perms::owner_write);
    // The test can change its copy, and the original is untouched.
    fs::resize_file(to.path() / "home/.cache/a/entry", 2);
    to.file("home/.cache/b/c/new", "x");
    EXPECT_EQ(testing_support::ReadAll(from.path() / "home/.cache/a/entry"), "bytes");
    EXPECT_EQ(fs::status(from.path() / "home/.cache/a/entry").permissions(), fs::perms(0444));
    EXPECT_EQ(fs::status(from.path() / "home/.cache").permissions(), fs::perms(0555));
}

} // namespace
