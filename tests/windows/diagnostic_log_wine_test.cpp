// The diagnostic log as Windows' C run-time writes it: CR LF line ends, strftime's "%X".
#include "config/diagnostic_log.h"
#include "config/log_file_check.h"

#include "tests/windows/log_file.h"
#include "tests/windows_conformance/platform_seed.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>

namespace {

TEST(DiagnosticLogOnWine, LinesCarryTimestampLabelAndCrLf) {
    LogFile log;
    LogVerbose("HingeflowService onStart");
    LogError("open key failed: %d", -5);
    const std::regex expected(
        "\\d{4}-\\d{2}-\\d{2}\\.\\d{2}:\\d{2}:\\d{2} Verbose: HingeflowService onStart\r\n"
        "\\d{4}-\\d{2}-\\d{2}\\.\\d{2}:\\d{2}:\\d{2} ERROR: open key failed: -5\r\n");
    EXPECT_TRUE(std::regex_match(log.Content(), expected)) << log.Content();
}

TEST(DiagnosticLogOnWine, DeletedFileIsCreatedAgainByTheNextLine) {
    LogFile log;
    LogVerbose("first");
    ASSERT_EQ(std::remove(log.Path().c_str()), 0);
    LogVerbose("second");
    EXPECT_EQ(log.Entries(), std::vector<std::string>{"V:second"});
}

TEST(DiagnosticLogOnWine, LongestMessageIsWrittenWhole) {
    LogFile log;
    const std::string message(2047, 'm');
    LogVerbose("%s", message.c_str());
    EXPECT_EQ(log.Entries(), std::vector<std::string>{"V:" + message});
}

TEST(DiagnosticLogOnWine, PathInAMissingDirectoryLeavesLoggingOff) {
    SetConfigText("HingeflowServiceLogPath", "C:\\hingeflow-no-such-directory\\x.log");
    InitLog();
    EXPECT_FALSE(g_logEnabled);
    RemoveConfigValue("HingeflowServiceLogPath");
    InitLog();
}

// The read-only check on Win32 itself: whether the log would write a path, with nothing made.
TEST(DiagnosticLogOnWine, CheckTellsWhetherThePathWouldBeWrittenAndMakesNothing) {
    const std::string path = seed::UniqueTemporaryPath("hingeflow-check") + ".log";
    const std::string other = path + ".other";
    LogFileCheck check = CheckLogFile(path.c_str());
    EXPECT_EQ(check.verdict, LogFileVerdict::Sound) << check.reason;
    EXPECT_FALSE(std::ifstream(path).good()) << "the check made the file";

    { std::ofstream(other) << "other"; }
    seed::HardLink(other, path);
    check = CheckLogFile(path.c_str());
    EXPECT_EQ(check.verdict, LogFileVerdict::Refused);
    EXPECT_STREQ(check.reason, "the file has 2 links");
    std::remove(path.c_str());
    std::remove(other.c_str());

    seed::MakeFolder(path);
    check = CheckLogFile(path.c_str());
    EXPECT_EQ(check.verdict, LogFileVerdict::Unopened);
    EXPECT_STREQ(check.reason, "the file cannot be opened (error 5)");
    seed::RemoveFolder(path);
}

} // namespace
