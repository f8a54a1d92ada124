#include "cache/scan/commands.h"
#include "cache/scan/found_file_list.h"
#include "cache/scan/list_columns.h"
#include "cache/scan/url_cache.h"
#include "platform/base/collation.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace cache;
using testing_support::RecordingReporter;

namespace {

FoundFileList sortedList() {
    FoundFileList list;
    list.setSortKeyFunction(platform::CollationKey);
    list.setSorted(true);
    list.setSortKey(cache::kFileNameColumn);
    return list;
}

RowId add(FoundFileList& list, const std::string& url, const std::string& name) {
    const RowId r = list.append(url);
    list.setTick(r, true);
    list.setSubItem(r, cache::kFileNameColumn, name);
    return r;
}

std::vector<std::string> urlsInOrder(const FoundFileList& list) {
    std::vector<std::string> out;
    for (std::size_t i = 1; i <= list.count(); ++i)
        out.push_back(list.row(list.rowAt(i)).url);
    return out;
}

} // namespace

TEST(FoundFileList, SortsByFileNameIgnoringCaseAndKeepsAppendOrderForEqualNames) {
    auto list = sortedList();
    add(list, "u1", "favicon[1].ico");
    add(list, "u2", "Banner.gif");
    add(list, "u3", "FAVICON[1].ICO");
    add(list, "u4", "apple.jpg");
    add(list, "u5", "favicon[1].ico");
    add(list, "u7", "zebra.png");
    const auto order = urlsInOrder(list);
    EXPECT_EQ(order[0], "u4");
    EXPECT_EQ(order[1], "u2");
    // Equal names, whatever their case, in the order they were added.
    const std::vector<std::string> fav(order.begin() + 2, order.begin() + 5);
    EXPECT_EQ(fav, (std::vector<std::string>{"u1", "u3", "u5"}));
    EXPECT_EQ(order.back(), "u7");
    EXPECT_EQ(list.positionOf(list.rowAt(3)), 3u);
}

TEST(FoundFileList, RowsByPositionAndSelectionFailLikeTheControl) {
    FoundFileList list;
    EXPECT_THROW(list.rowAt(1), std::out_of_range);
    EXPECT_THROW(list.selected(), std::runtime_error);
    add(list, "u", "a.jpg");
    EXPECT_THROW(list.rowAt(0), std::out_of_range);
    EXPECT_THROW(list.rowAt(2), std::out_of_range);
    EXPECT_THROW(list.setSubItem(5, cache::kFileNameColumn, "x"), std::out_of_range);
    list.select(list.rowAt(1));
    EXPECT_EQ(list.subItem(list.selected(), cache::kFileNameColumn), "a.jpg");
    list.clear();
    EXPECT_EQ(list.count(), 0u);
    EXPECT_THROW(list.selected(), std::runtime_error);
}

TEST(SelectCommands, TickAndUntickEveryRowOfAnySize) {
    RecordingReporter reporter;
    FoundFileList empty;
    PushButton5_Click(empty);
    PushButton6_Click(empty);
    EXPECT_TRUE(reporter.reports.empty());

    for (std::size_t n : {std::size_t{3}, std::size_t{32767}, std::size_t{100000}}) {
        auto list = sortedList();
        for (std::size_t i = 0; i < n; ++i) {
            const RowId r =
                add(list, "u" + std::to_string(i), "f" + std::to_string(n - i) + ".jpg");
            list.setTick(r, i % 3 == 0);
        }
        const auto before = urlsInOrder(list);
        PushButton5_Click(list);
        std::size_t ticked = 0;
        for (RowId r = 0; r < n; ++r)
            ticked += list.row(r).ticked;
        EXPECT_EQ(ticked, n);
        PushButton6_Click(list);
        ticked = 0;
        for (RowId r = 0; r < n; ++r)
            ticked += list.row(r).ticked;
        EXPECT_EQ(ticked, 0u);
        EXPECT_EQ(urlsInOrder(list), before);
    }
    EXPECT_TRUE(reporter.reports.empty()); // no overflow report, whatever the size
}

TEST(SelectCommands, AFailingRowIsReportedAndTheRestAreStillChanged) {
    RecordingReporter reporter;
    FoundFileList list;
    for (int i = 0; i < 3; ++i)
        add(list, "u", "n");
    int calls = 0;
    app::setStepHook([&](const std::string& tag, int line) {
        if (tag == "in Orrery2021/08/31.Form1.PushButton6_Click " && line == 102 && ++calls == 2)
            throw std::runtime_error("boom");
    });
    PushButton6_Click(list);
    app::setStepHook({});
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0].line, 102);
    EXPECT_FALSE(list.row(list.rowAt(1)).ticked);
    EXPECT_TRUE(list.row(list.rowAt(2)).ticked);
    EXPECT_FALSE(list.row(list.rowAt(3)).ticked);
}
