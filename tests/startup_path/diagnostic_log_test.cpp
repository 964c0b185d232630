// The diagnostic log: its start-up decision, its line format and its two writers.
#include "config/config_values.h"
#include "config/diagnostic_log.h"
#include "config/event_messages.h"
#include "config/log_file_check.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/sim/registry_control.h"
#include "platform/sim/security_control.h"
#include "platform/sim/service_runtime_control.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_test.h"
#include "trigger/slate_mode.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
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

using Bytes = std::vector<BYTE>;
const Bytes kSystemSid = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
// S-1-5-32-545 as its count says, its last sub-authority missing.
const Bytes kCutSid = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0};

// An allow entry of `type` with full control and `rest` after the mask; its size as it is.
Bytes Entry(BYTE type, const Bytes& rest) {
    Bytes entry = {type, 0, BYTE(8 + rest.size()), 0, 0xFF, 0x01, 0x1F, 0};
    entry.insert(entry.end(), rest.begin(), rest.end());
    return entry;
}

Bytes List(BYTE revision, const Bytes& entry) {
    Bytes list = {revision, 0, BYTE(8 + entry.size()), 0, 1, 0, 0, 0};
    list.insert(list.end(), entry.begin(), entry.end());
    return list;
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
    EXPECT_EQ(sim::CountCalls("CreateFileA"), 0);
}

TEST_F(DiagnosticLog, StartUpSwitchesLoggingOnOnlyForAPathThatOpens) {
    const std::string file = dir_ + "/log.txt";
    StartWithPath(file, REG_EXPAND_SZ);
    EXPECT_FALSE(g_logEnabled) << "only REG_SZ names the log";
    EXPECT_FALSE(Exists(file));

    sim::FailCall("NtCreateFile", 1); // the folder opens, the file does not
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
    sim::FailCall("NtCreateFile", 1);
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

// Each way of aiming the log at something it must not write: logging stays off, nothing is
// written through the path, and one warning event names the path and the reason; the
// read-only check gives the same verdict and creates nothing. A folder or file that does not
// open leaves logging off without a word, as ever.
TEST_F(DiagnosticLog, PathsNotSafeToWriteAsSystemAreRefusedWithTheirReason) {
    namespace fs = std::filesystem;
    const std::string victim = dir_ + "/victim.txt";
    const std::string writableByUsers =
        "the folder is writable by users other than administrators (S-1-5-32-545)";
    struct Row {
        std::string name;
        // Makes what the row needs in `folder` (which exists, with the default descriptor) and
        // returns the path to configure.
        std::function<std::string(const std::string& folder)> arrange;
        LogFileVerdict verdict;
        std::string reason;
    };
    const auto secured = [](const std::string& sddl) {
        return [sddl](const std::string& folder) {
            sim::SetFileSecurity(folder, sddl);
            return folder + "/log.txt";
        };
    };
    const auto raw = [](std::optional<Bytes> owner, std::optional<Bytes> dacl) {
        return [=](const std::string& folder) {
            sim::SetRawFileSecurity(folder, owner, dacl);
            return folder + "/log.txt";
        };
    };
    // A log file already there, owned and permitted as `sddl` says.
    const auto existing = [](const std::string& sddl) {
        return [sddl](const std::string& folder) {
            std::ofstream(folder + "/log.txt") << "";
            sim::SetFileSecurity(folder + "/log.txt", sddl);
            return folder + "/log.txt";
        };
    };
    // Fails `op` whenever it is called, with Users owning the folder or allowed to write there.
    const auto failing = [](const char* op, const char* sddl = "O:BUD:(A;;FA;;;SY)") {
        return [op, sddl](const std::string& folder) {
            sim::FailCall(op, 1, sim::kRepresentativeFault, true);
            sim::SetFileSecurity(folder, sddl);
            return folder + "/log.txt";
        };
    };
    const auto malformed = [&](const Bytes& dacl) { return raw(kSystemSid, dacl); };
    std::vector<Row> rows = {
        {"the package's folder", secured(sim::kDefaultFileSecurity), LogFileVerdict::Sound, ""},
        {"Wine's folder, owned by this process's user",
         [&](const std::string& folder) {
             sim::SetProcessUser("S-1-5-21-0-0-0-1000");
             return secured("O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)"
                            "(A;OICI;FA;;;S-1-5-21-0-0-0-1000)(A;OICI;0x1200a9;;;WD)")(folder);
         },
         LogFileVerdict::Sound, ""},
        {"TrustedInstaller's folder: entries for children only, denials, reading",
         secured("O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
                 "D:(A;OICIIO;FA;;;CO)(A;CIIO;DC;;;BU)(D;;FA;;;WD)(A;;0x1200a9;;;BU)(A;;FA;;;BA)"),
         LogFileVerdict::Sound, ""},
        {"owned by Users", secured("O:BUD:(A;;FA;;;SY)"), LogFileVerdict::Refused,
         "the folder is owned by S-1-5-32-545, not by an administrator"},
        {"owned by this process's user under another account",
         [&](const std::string& folder) {
             sim::SetProcessUser("S-1-5-21-1-2-3-1001");
             return secured("O:S-1-5-21-1-2-3-1002D:(A;;FA;;;SY)")(folder);
         },
         LogFileVerdict::Refused,
         "the folder is owned by S-1-5-21-1-2-3-1002, not by an administrator"},
        {"no access list", secured("O:SYD:NO_ACCESS_CONTROL"), LogFileVerdict::Refused,
         "the folder has no access list, so anyone may write to it"},
        {"no owner", raw(std::nullopt, std::nullopt), LogFileVerdict::Refused,
         "the folder has no owner"},
        {"an owner of another revision", raw(Bytes{2, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}, Bytes{}),
         LogFileVerdict::Refused, "the folder has no owner"},
        {"an access list of revision 9", malformed(List(9, Entry(0, kSystemSid))),
         LogFileVerdict::Refused, "the folder's access list is malformed"},
        {"a SID longer than its entry", malformed(List(2, Entry(9, kCutSid))),
         LogFileVerdict::Refused, "the folder's access list is malformed"},
        {"an entry too short for a SID", malformed(List(2, Entry(9, {}))), LogFileVerdict::Refused,
         "the folder's access list is malformed"},
        {"an entry's SID of revision 2",
         malformed(List(2, Entry(9, {2, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}))),
         LogFileVerdict::Refused, "the folder's access list is malformed"},
        {"an object entry too short for its flags", malformed(List(4, {0xB, 0, 8, 0, 0, 0, 0, 0})),
         LogFileVerdict::Refused, "the folder's access list is malformed"},
        {"an object entry too short for its object types",
         malformed(List(4, Entry(5, {3, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}))),
         LogFileVerdict::Refused, "the folder's access list is malformed"},
        {"new files given to Users", secured("O:SYD:(A;;FA;;;SY)(A;OIIO;FW;;;BU)"),
         LogFileVerdict::Refused,
         "new files in the folder are writable by users other than administrators (S-1-5-32-545)"},
        {"the process's user unknown", failing("OpenProcessToken"), LogFileVerdict::Refused,
         "the process's user cannot be read (error 5)"},
        {"the process's token unreadable", failing("GetTokenInformation", "O:SYD:(A;;FA;;;BU)"),
         LogFileVerdict::Refused, "the process's user cannot be read (error 5)"},
        {"TrustedInstaller unknown", failing("ConvertStringSidToSidA"), LogFileVerdict::Refused,
         "TrustedInstaller's SID cannot be made (error 8)"},
        {"a SID that cannot be shown", failing("ConvertSidToStringSidA"), LogFileVerdict::Refused,
         "the folder is owned by an account whose SID cannot be shown, not by an administrator"},
        {"the folder's location unknown", failing("GetLongPathNameA"), LogFileVerdict::Refused,
         "the folder's location cannot be read (error 5)"},
        {"a file at the folder's name",
         [](const std::string& folder) {
             std::ofstream(folder + "/file") << "";
             return folder + "/file/log.txt";
         },
         LogFileVerdict::Refused, "the folder is not a folder"},
        {"a junction two levels above the log",
         [&](const std::string&) {
             fs::create_directories(dir_ + "/windows/logs");
             fs::create_directory_symlink(dir_ + "/windows", dir_ + "/data");
             return dir_ + "/data/logs/log.txt";
         },
         LogFileVerdict::Refused, "a folder above the log is a junction or another reparse point"},
        {"the folders above changed while the folder was checked",
         [&](const std::string& folder) {
             // Led elsewhere while the folder opens, and back before its folders are looked at.
             sim::SetCreateFileHook([folder](const std::string& opened) {
                 if (opened == folder + "/sub") {
                     fs::rename(folder, folder + "-real");
                     fs::create_directory_symlink(folder + "-real", folder);
                 } else if (opened == folder && fs::is_symlink(folder)) {
                     fs::remove(folder);
                     fs::rename(folder + "-real", folder);
                 }
             });
             fs::create_directory(folder + "/sub");
             return folder + "/sub/log.txt";
         },
         LogFileVerdict::Refused, "the folder is not where the path says"},
        {"a log file Users may write", existing("O:SYD:(A;;FA;;;SY)(A;;FW;;;BU)"),
         LogFileVerdict::Refused,
         "the file is writable by users other than administrators (S-1-5-32-545)"},
        {"a log file Users own", existing("O:BUD:(A;;FA;;;SY)"), LogFileVerdict::Refused,
         "the file is owned by S-1-5-32-545, not by an administrator"},
        {"the folder held while the file opens",
         [](const std::string& folder) {
             sim::SetCreateFileHook([folder](const std::string& opened) {
                 if (opened == folder + "/log.txt" && g_logEnabled) {
                     EXPECT_EQ(CreateFileA(folder.c_str(), DELETE, 7, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS, nullptr),
                               INVALID_HANDLE_VALUE);
                     EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
                 }
             });
             return folder + "/log.txt";
         },
         LogFileVerdict::Sound, ""},
        {"a path too long once made full",
         [](const std::string&) {
             std::string path;
             while (path.size() < 2040) {
                 path += "d/";
             }
             return path + "log.txt";
         },
         LogFileVerdict::Refused, "the path is too long"},
        {"Everyone through a callback entry", secured("O:SYD:(A;;FA;;;SY)(XA;;FW;;;WD)"),
         LogFileVerdict::Refused,
         "the folder is writable by users other than administrators (S-1-1-0)"},
        {"Authenticated Users through an object entry", secured("O:SYD:(OA;;GA;;;AU)"),
         LogFileVerdict::Refused,
         "the folder is writable by users other than administrators (S-1-5-11)"},
        {"the folder is a link",
         [&](const std::string& folder) {
             EXPECT_EQ(symlink(folder.c_str(), (folder + "-link").c_str()), 0);
             return folder + "-link/log.txt";
         },
         LogFileVerdict::Refused, "the folder is a junction or another reparse point"},
        {"a link at the file's name",
         [&](const std::string& folder) {
             EXPECT_EQ(symlink(victim.c_str(), (folder + "/log.txt").c_str()), 0);
             return folder + "/log.txt";
         },
         LogFileVerdict::Refused, "the file is a link or another reparse point"},
        {"a hard link at the file's name",
         [&](const std::string& folder) {
             EXPECT_EQ(link(victim.c_str(), (folder + "/log.txt").c_str()), 0);
             return folder + "/log.txt";
         },
         LogFileVerdict::Refused, "the file has 2 links"},
        {"a device", [](const std::string&) { return std::string("/dev/null"); },
         LogFileVerdict::Refused, "the file is not a disk file"},
        {"the folder swapped between its check and the file's opening",
         [&](const std::string& folder) {
             const std::string path = folder + "/log.txt";
             std::ofstream(path) << "";
             auto swaps = std::make_shared<int>(0);
             sim::SetCreateFileHook([folder, path, swaps](const std::string& opened) {
                 if (opened == path) {
                     fs::rename(folder, folder + "-checked-" + std::to_string(++*swaps));
                     fs::create_directory(folder);
                     std::ofstream(path) << "";
                 }
             });
             return path;
         },
         LogFileVerdict::Refused, "the file is not in the folder that was checked"},
        {"no folder", [](const std::string&) { return std::string("log.txt"); },
         LogFileVerdict::Refused, "the path names no folder"},
        {"no file", [](const std::string& folder) { return folder + "/"; }, LogFileVerdict::Refused,
         "the path names no file"},
        {"a folder at the file's name",
         [](const std::string& folder) {
             fs::create_directory(folder + "/log.txt");
             return folder + "/log.txt";
         },
         LogFileVerdict::Unopened, "the file cannot be opened (error 5)"},
    };
    // Every right that lets another account put something else in the folder, on its own.
    for (const char* right : {"DC", "LC", "DT", "WD", "WO", "GA", "GW"}) {
        rows.push_back({std::string("Users given ") + right,
                        secured(std::string("O:BAD:(A;;FA;;;SY)(A;;") + right + ";;;BU)"),
                        LogFileVerdict::Refused, writableByUsers});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::Reset();
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        { std::ofstream(victim) << "victim\n"; }
        ASSERT_TRUE(fs::create_directory(dir_ + "/logs"));
        const std::string path = row.arrange(dir_ + "/logs");
        const bool existed = fs::exists(fs::symlink_status(path));

        const LogFileCheck check = CheckLogFile(path.c_str());
        EXPECT_EQ(check.verdict, row.verdict);
        EXPECT_STREQ(check.reason, row.reason.c_str());
        EXPECT_EQ(fs::exists(fs::symlink_status(path)), existed) << "the check created the file";

        StartWithPath(path);
        LogVerbose("written");
        EXPECT_EQ(g_logEnabled, row.verdict == LogFileVerdict::Sound);
        EXPECT_EQ(ReadFile(victim), "victim\n");
        if (row.verdict != LogFileVerdict::Sound) {
            EXPECT_EQ(fs::exists(fs::symlink_status(path)), existed)
                << "a refused path made a file";
        }
        const std::vector<sim::ReportedEvent> events = sim::ReportedEvents();
        if (row.verdict == LogFileVerdict::Refused) {
            ASSERT_EQ(events.size(), 1u);
            EXPECT_EQ(events[0].source, L"HingeflowService");
            EXPECT_EQ(events[0].type, EVENTLOG_WARNING_TYPE);
            EXPECT_EQ(events[0].category, event_message::kCategoryDiagnosticLog);
            EXPECT_EQ(events[0].eventId, event_message::kLogPathRefused);
            EXPECT_EQ(events[0].strings, (std::vector<std::wstring>{
                                             std::wstring(path.begin(), path.end()),
                                             std::wstring(row.reason.begin(), row.reason.end())}));
        } else {
            EXPECT_TRUE(events.empty());
        }
        if (row.verdict == LogFileVerdict::Sound) {
            EXPECT_TRUE(std::regex_match(ReadFile(path), std::regex(".{19} Verbose: written\n")));
        }
        sim::SetCreateFileHook(nullptr);
        InitLog();
    }
    fs::remove_all(dir_);
}

// Every line checks the path again: a folder opened to users while the service runs loses the
// lines meanwhile, with one warning for the whole process, and gets them again once mended.
TEST_F(DiagnosticLog, LinesWhileThePathIsUnsafeAreDroppedWithOneWarning) {
    const std::string folder = dir_ + "/logs";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string file = folder + "/log.txt";
    StartWithPath(file);
    ASSERT_TRUE(g_logEnabled);
    sim::SetFileSecurity(folder, "O:SYD:(A;;FA;;;SY)(A;;FA;;;BU)");
    LogVerbose("dropped");
    LogError("dropped too");
    sim::SetFileSecurity(folder, sim::kDefaultFileSecurity);
    LogVerbose("kept");
    EXPECT_TRUE(std::regex_match(ReadFile(file), std::regex(".{19} Verbose: kept\n")))
        << ReadFile(file);
    EXPECT_EQ(sim::ReportedEvents().size(), 1u);
    EXPECT_TRUE(g_logEnabled);
    std::remove(file.c_str());
    rmdir(folder.c_str());
}

} // namespace
