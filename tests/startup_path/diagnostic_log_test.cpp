// The diagnostic log: its start-up decision, its line format and its two writers.
#include "config/config_values.h"
#include "config/diagnostic_log.h"
#include "platform/sim/registry_control.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_test.h"
#include "trigger/slate_mode.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

bool Exists(const std::string& path) {
    return std::ifstream(path).good();
}

std::string LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    char text[80];
    std::strftime(text, sizeof text, "%Y-%m-%d.%H:%M:%S", std::localtime(&now));
    return text;
}

class DiagnosticLog : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        char pattern[] = "/tmp/hingeflow-dir-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        sim::Reset();
        InitLog(); // off again for the tests that follow
        std::remove((dir_ + "/log.txt").c_str());
        rmdir((dir_ + "/later").c_str());
        rmdir(dir_.c_str());
        SimTest::TearDown();
    }
    void StartWithPath(const std::string& path, DWORD type = REG_SZ) {
        std::vector<BYTE> data(path.begin(), path.end());
        data.push_back(0);
        sim::SetRegistryValue(HKEY_CURRENT_CONFIG, kConfigKeyPath, kLogPathValue, type, data);
        InitLog();
    }
    std::string dir_;
};

TEST_F(DiagnosticLog, LineIsTimestampLabelMessageAndLineFeed) {
    LogCapture log;
    const std::string before = LocalTimeNow();
    const std::string timestamp = GetLogTimestamp();
    LogVerbose("HingeflowService onStart");
    LogError("open key failed: %d", -5);
    const std::string after = LocalTimeNow();
    EXPECT_TRUE(timestamp == before || timestamp == after)
        << "expected local time, got " << timestamp;

    const std::string content = ReadFile(log.Path());
    const std::regex line(R"((\d{4}-\d\d-\d\d\.\d\d:\d\d:\d\d) Verbose: HingeflowService onStart\n)"
                          R"((\d{4}-\d\d-\d\d\.\d\d:\d\d:\d\d) ERROR: open key failed: -5\n)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(content, match, line)) << "got: " << content;
    for (int piece = 1; piece <= 2; ++piece) {
        EXPECT_GE(match[piece].str(), before);
        EXPECT_LE(match[piece].str(), after);
    }
}

TEST_F(DiagnosticLog, MessageIsWrittenUnchangedAndCutAt2047Characters) {
    LogCapture log;
    const std::string longest(2047, 'a');
    LogVerbose("%s", longest.c_str());
    LogVerbose("%s%s", longest.c_str(), "overflow");
    LogError("two\nlines");
    EXPECT_EQ(log.Entries(),
              (std::vector<std::string>{"V:" + longest, "V:" + longest, "E:two", "?:lines"}));
}

TEST_F(DiagnosticLog, OffMeansNoFormattingAndNoFileAccessAnywhere) {
    InitLog(); // no path configured
    EXPECT_FALSE(g_logEnabled);
    EXPECT_STREQ(g_logPath, "");
    sim::ClearJournal();
    // Formatting this argument would crash, so only an untouched argument passes.
    LogVerbose("%s", reinterpret_cast<const char*>(1));
    LogError("%s", reinterpret_cast<const char*>(1));
    EXPECT_FALSE(SetTabletMode(1, true)); // fails and would log
    EXPECT_EQ(sim::CountCalls("OpenLogFileForAppend"), 0);
}

TEST_F(DiagnosticLog, StartUpSwitchesLoggingOnOnlyForAPathThatOpens) {
    const std::string file = dir_ + "/log.txt";
    StartWithPath(file, REG_EXPAND_SZ);
    EXPECT_FALSE(g_logEnabled) << "only REG_SZ names the log";
    EXPECT_FALSE(Exists(file));

    sim::FailCall("OpenLogFileForAppend", 1);
    StartWithPath(file);
    EXPECT_FALSE(g_logEnabled) << "a path that does not open leaves logging off";

    const std::string later = dir_ + "/later/log.txt";
    StartWithPath(later);
    EXPECT_FALSE(g_logEnabled);
    ASSERT_EQ(mkdir((dir_ + "/later").c_str(), 0700), 0);
    LogVerbose("too late");
    EXPECT_FALSE(Exists(later)) << "creating the directory afterwards changes nothing";

    { std::ofstream(file) << "old line\n"; }
    StartWithPath(file);
    EXPECT_TRUE(g_logEnabled);
    EXPECT_STREQ(g_logPath, file.c_str());
    EXPECT_EQ(ReadFile(file), "old line\n") << "start-up writes nothing";
    LogVerbose("new line");
    EXPECT_TRUE(std::regex_match(ReadFile(file), std::regex("old line\n.{19} Verbose: new line\n")))
        << ReadFile(file);
    std::remove(file.c_str());
    StartWithPath(file);
    EXPECT_TRUE(Exists(file)) << "start-up creates a missing file";
    EXPECT_EQ(ReadFile(file), "");
}

TEST_F(DiagnosticLog, LineThatCannotBeWrittenIsLostAndTheNextTriesAgain) {
    LogCapture log;
    sim::FailCall("OpenLogFileForAppend", 1);
    LogVerbose("lost");
    LogVerbose("kept");
    EXPECT_EQ(log.Entries(), std::vector<std::string>{"V:kept"});
    std::remove(log.Path().c_str());
    LogError("recreated");
    EXPECT_EQ(log.Entries(), std::vector<std::string>{"E:recreated"});
    EXPECT_TRUE(g_logEnabled);
}

TEST_F(DiagnosticLog, TwoThreadsNeitherLoseNorTearLines) {
    LogCapture log;
    sim::SetJournalEnabled(false);
    constexpr int kLines = 400;
    auto writer = [](char thread) {
        for (int i = 0; i < kLines; ++i) {
            LogVerbose("thread %c line %d %s", thread, i, std::string(300, thread).c_str());
        }
    };
    std::thread first(writer, 'a');
    std::thread second(writer, 'b');
    first.join();
    second.join();
    std::vector<std::string> expected;
    for (char thread : {'a', 'b'}) {
        for (int i = 0; i < kLines; ++i) {
            expected.push_back(std::string("V:thread ") + thread + " line " + std::to_string(i) +
                               " " + std::string(300, thread));
        }
    }
    std::vector<std::string> entries = log.Entries();
    std::sort(entries.begin(), entries.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_TRUE(entries == expected) << "got " << entries.size() << " lines, some lost or torn";
}

} // namespace
