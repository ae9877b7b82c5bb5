#include "core/StepRunner.h"
#include "core/ErrorReport.h"
#include "support/RecordingPorts.h"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace vellumcast::core;
using vellumcast::testing::RecordingReporter;

TEST(ReportErrorMessage, ComposesTheFourLinesOfTheBox)
{
    ErrorReport report { "Bad file name", LocationText("Form2", "PushButton6_Click"), 134, false, {}, {}, {} };
    EXPECT_EQ(ReportErrorMessage(report),
        "Bad file name\r\nin Murrelet2/19/2015.Form2.PushButton6_Click at line 134\r\r"
        "Please email screenshot of this message to "
            + std::string(kSupportAddress));
}

TEST(ReportErrorMessage, AppendsTheScanContextWithoutASeparator)
{
    ErrorReport report { "Path not found", LocationText("Form1", "PushButton5_Click"), 112, true, "/data/", "a.xls",
        {} };
    const std::string tail = std::string(kSupportAddress) + "name: /data/\r\nf(x): a.xls";
    const std::string message = ReportErrorMessage(report);
    ASSERT_GE(message.size(), tail.size());
    EXPECT_EQ(message.substr(message.size() - tail.size()), tail);
}

TEST(StepRunner, ReportsAFailingStepWithItsNumberAndRunsTheNext)
{
    RecordingReporter reporter;
    StepRunner runner(reporter, LocationText("Form1", "Form_Load"));
    std::vector<int> ran;
    runner.Step(100, [&] { ran.push_back(100); });
    EXPECT_FALSE(runner.Step(106, [&] {
        throw std::runtime_error("File not found");
        ran.push_back(106);
    }));
    runner.Step(126, [&] { ran.push_back(126); });
    EXPECT_EQ(ran, (std::vector<int> { 100, 126 }));
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0].step, 106);
    EXPECT_EQ(reporter.reports[0].description, "File not found");
    EXPECT_EQ(reporter.reports[0].location, "in Murrelet2/19/2015.Form1.Form_Load ");
    const std::string message = ReportErrorMessage(reporter.reports[0]);
    EXPECT_NE(message.find("Form_Load at line 106\r\r"), std::string::npos);
}

TEST(StepRunner, AFailingTestRunsItsBranch)
{
    RecordingReporter reporter;
    StepRunner runner(reporter, "in X.Y.Z ");
    bool guardedRan = false;
    if (runner.Test(224, []() -> bool { throw std::runtime_error("boom"); }))
        guardedRan = true;
    EXPECT_TRUE(guardedRan);
    EXPECT_FALSE(runner.Test(226, [] { return false; }));
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0].step, 224);
}

TEST(StepRunner, DescribesFailuresThatAreNotStandardExceptions)
{
    RecordingReporter reporter;
    StepRunner runner(reporter, "in X.Y.Z ");
    runner.Step(100, [] { throw 42; });
    runner.Step(102, [] { throw std::bad_alloc(); });
    ASSERT_EQ(reporter.reports.size(), 2u);
    EXPECT_EQ(reporter.reports[0].description, "Unknown failure");
    EXPECT_EQ(reporter.reports[1].description, "Out of memory");
}

TEST(StepRunner, SilentReporterSwallowsFailures)
{
    SilentReporter silent;
    StepRunner runner(silent, "");
    int after = 0;
    runner.Step(1, [] { throw std::runtime_error("x"); });
    runner.Step(2, [&] { after = 2; });
    EXPECT_EQ(after, 2);
}
