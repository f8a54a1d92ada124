#include "app/guard/guard.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using app::Guard;
using testing_support::RecordingReporter;

TEST(ErrorReport, TheMessageByteForByte) {
    EXPECT_EQ(app::ComposeErrorMessage("File not found",
                                       "in Orrery2021/08/31.Form1.PushButton1_Click ", 102),
              std::string(
                  "File not found\r\nin Orrery2021/08/31.Form1.PushButton1_Click at line 102\r\r") +
                  "Please email screenshot of this message to " + app::kSupportAddress);
    // An empty description leaves the first line empty.
    EXPECT_EQ(app::ComposeErrorMessage("", "in X ", 0).substr(0, 16), "\r\nin X at line 0");
}

TEST(Guard, AFailingStepIsReportedAndTheProcedureGoesOn) {
    RecordingReporter reporter;
    std::vector<int> ran;
    Guard g("in T ");
    g.unnumbered([] { throw std::runtime_error("before any step"); });
    g.step(100, [&] { ran.push_back(100); });
    g.step(102, [&] {
        ran.push_back(102);
        throw std::runtime_error("first");
        ran.push_back(-1); // the rest of the failing step does not run
    });
    g.step(104, [&] { ran.push_back(104); });
    g.step(106, [] { throw 42; }); // not a std::exception
    g.step(108, [] { throw std::logic_error(""); });
    EXPECT_EQ(ran, (std::vector<int>{100, 102, 104}));
    ASSERT_EQ(reporter.reports.size(), 4u);
    EXPECT_EQ(reporter.lines(), (std::vector<int>{0, 102, 106, 108}));
    EXPECT_EQ(reporter.reports[0].description, "before any step");
    EXPECT_EQ(reporter.reports[1].tag, "in T ");
    EXPECT_EQ(reporter.reports[3].description, "");
}

TEST(Guard, AFailingTestRunsTheBody) {
    RecordingReporter reporter;
    Guard g("in T ");
    bool body = false;
    if (g.test(100, []() -> bool { throw std::runtime_error("x"); }))
        body = true;
    EXPECT_TRUE(body);
    EXPECT_FALSE(g.test(102, [] { return false; }));
    EXPECT_EQ(reporter.lines(), (std::vector<int>{100}));
}

namespace {

void unguardedHelper() {
    throw std::runtime_error("deep");
}

void guardedCallee() {
    Guard g("in Callee ");
    g.step(100, [] { unguardedHelper(); });
    g.step(102, [] {});
}

} // namespace

TEST(Guard, FailuresInUnguardedRoutinesGoToTheCallerGuardedOnesStayInside) {
    RecordingReporter reporter;
    Guard g("in Caller ");
    bool after = false;
    g.step(100, [] { unguardedHelper(); });
    g.step(102, [] { guardedCallee(); }); // reports under its own tag; the caller sees nothing
    g.step(104, [&] { after = true; });
    EXPECT_TRUE(after);
    ASSERT_EQ(reporter.reports.size(), 2u);
    EXPECT_EQ(reporter.reports[0].tag, "in Caller ");
    EXPECT_EQ(reporter.reports[0].line, 100);
    EXPECT_EQ(reporter.reports[1].tag, "in Callee ");
    EXPECT_EQ(reporter.reports[1].line, 100);
}

TEST(Guard, TheStepHookMakesAChosenStepFail) {
    RecordingReporter reporter;
    app::setStepHook([](const std::string& tag, int line) {
        if (tag == "in T " && line == 102)
            throw std::runtime_error("injected");
    });
    int ran = 0;
    Guard g("in T ");
    g.step(100, [&] { ++ran; });
    g.step(102, [&] { ++ran; });
    app::setStepHook({});
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(reporter.lines(), (std::vector<int>{102}));
}
