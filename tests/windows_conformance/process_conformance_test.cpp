// The executable's own path, and the log file's opening mode: append, create, share.
#include "tests/windows_conformance/platform_seed.h"

#include "platform/file_system.h"
#include "platform/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr DWORD kUntouched = 0xdeadbeef;

TEST(ProcessConformance, ModuleFileNameIsATerminatedPathOfAnExe) {
    seed::ResetPlatform();
    wchar_t path[MAX_PATH];
    std::fill(std::begin(path), std::end(path), L'*');
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    ASSERT_GT(length, 4u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    EXPECT_EQ(path[length], L'\0');
    EXPECT_EQ(std::wstring(path + length - 4), L".exe");
}

TEST(ProcessConformance, TooSmallBufferCutsThePathExceptUnderWine) {
    seed::ResetPlatform();
    wchar_t path[8];
    std::fill(std::begin(path), std::end(path), L'*');
    SetLastError(kUntouched);
    EXPECT_EQ(GetModuleFileNameW(nullptr, path, 8), 8u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    SKIP_WHERE_WINE_DIFFERS(path[7] != L'\0', "it leaves the cut path unterminated");
    EXPECT_EQ(path[7], L'\0');
}

// As the log opens its file once the path has passed its check.
std::FILE* OpenLogFileForAppend(const char* path) {
    const HANDLE file = CreateFileA(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : OpenLogStream(file);
}

class LogFileConformance : public ::testing::Test {
protected:
    void SetUp() override {
        seed::ResetPlatform();
        path_ = seed::UniqueTemporaryPath("hingeflow-conformance") + ".log";
        std::remove(path_.c_str());
    }
    void TearDown() override { std::remove(path_.c_str()); }

    std::string Content() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string path_;
};

TEST_F(LogFileConformance, OpeningCreatesTheFileEmpty) {
    std::FILE* file = OpenLogFileForAppend(path_.c_str());
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    std::ifstream in(path_);
    EXPECT_TRUE(in.good());
    EXPECT_EQ(Content(), "");
}

TEST_F(LogFileConformance, WritesAppendAfterExistingContent) {
    {
        std::ofstream out(path_, std::ios::binary);
        out << "old";
    }
    std::FILE* file = OpenLogFileForAppend(path_.c_str());
    ASSERT_NE(file, nullptr);
    std::fputs("new", file);
    std::fclose(file);
    EXPECT_EQ(Content(), "oldnew");
}

// Windows' run-time moves to the end of the file before every write, so a stream opened earlier
// still appends after what another wrote meanwhile.
TEST_F(LogFileConformance, StreamOpenedEarlierStillAppendsAtTheEnd) {
    std::FILE* first = OpenLogFileForAppend(path_.c_str());
    ASSERT_NE(first, nullptr);
    std::FILE* second = OpenLogFileForAppend(path_.c_str());
    ASSERT_NE(second, nullptr) << "the log is opened deny-none";
    std::fputs("a", first);
    std::fflush(first);
    std::fputs("b", second);
    std::fclose(second);
    std::fclose(first);
    EXPECT_EQ(Content(), "ab");
}

TEST_F(LogFileConformance, FileInAMissingDirectoryCannotBeOpened) {
    const std::string path = seed::TemporaryDirectory() + "hingeflow-no-such-directory/x.log";
    EXPECT_EQ(OpenLogFileForAppend(path.c_str()), nullptr);
}

} // namespace
