// Files and their security as the log's check reads them: folders, links, final paths, owners
// and access lists, and the process's user.
#include "tests/windows_conformance/platform_seed.h"

#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/security.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr DWORD kUntouched = 0xdeadbeef;

// The bytes of a SID: revision, count, authority, sub-authorities.
std::string SidText(const void* sid) {
    const auto* bytes = static_cast<const BYTE*>(sid);
    std::string text = "S-" + std::to_string(bytes[0]) + "-" + std::to_string(bytes[7]);
    for (int i = 0; i < bytes[1]; ++i) {
        DWORD part = 0;
        std::memcpy(&part, bytes + 8 + 4 * i, sizeof part);
        text += "-" + std::to_string(part);
    }
    return text;
}

class FileConformance : public ::testing::Test {
protected:
    void SetUp() override {
        seed::ResetPlatform();
        folder_ = seed::UniqueTemporaryPath("hingeflow-folder");
        seed::MakeFolder(folder_);
    }
    void TearDown() override {
        for (const char* name : {"log.txt", "other.txt", "link.txt"}) {
            std::remove(In(name).c_str());
        }
        seed::RemoveFolder(folder_);
    }
    std::string In(const char* name) const { return folder_ + kPathSeparators[0] + name; }

    std::string folder_;
};

// A folder opens only with backup semantics, as a folder, and tells its owner and access list.
TEST_F(FileConformance, FolderOpensWithBackupSemanticsOnlyAndTellsItsOwnerAndAccessList) {
    SetLastError(kUntouched);
    EXPECT_EQ(CreateFileA(folder_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr),
              INVALID_HANDLE_VALUE)
        << "a folder at a file's name";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    const HANDLE folder = CreateFileA(
        folder_.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileType(folder), static_cast<DWORD>(FILE_TYPE_DISK));
    FILE_ATTRIBUTE_TAG_INFO attributes = {};
    ASSERT_TRUE(
        GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &attributes, sizeof attributes));
    EXPECT_EQ(attributes.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    FILE_STANDARD_INFO standard = {};
    ASSERT_TRUE(GetFileInformationByHandleEx(folder, FileStandardInfo, &standard, sizeof standard));
    EXPECT_NE(standard.Directory, 0);

    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(folder, SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(owner, nullptr);
    ASSERT_NE(dacl, nullptr);
    EXPECT_EQ(static_cast<const BYTE*>(owner)[0], 1) << "a SID's revision";
    EXPECT_EQ(LocalFree(descriptor), nullptr);
    CloseHandle(folder);

    // Administrators' own folder, where users may add files: what the check must see.
    seed::FolderSecurity(folder_, "O:BAD:P(A;OICI;FA;;;SY)(A;CI;DC;;;BU)");
    const HANDLE again = CreateFileA(folder_.c_str(), READ_CONTROL, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(again, INVALID_HANDLE_VALUE);
    ASSERT_EQ(GetSecurityInfo(again, SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    const std::string ownerText = SidText(owner);
    const auto* acl = reinterpret_cast<const BYTE*>(dacl);
    const int count = acl[4] | (acl[5] << 8);
    std::string second;
    if (count == 2) {
        const BYTE* ace = acl + 8 + (acl[10] | (acl[11] << 8));
        DWORD mask = 0;
        std::memcpy(&mask, ace + 4, sizeof mask);
        second = std::to_string(ace[0]) + " " + std::to_string(ace[1]) + " " +
                 std::to_string(mask) + " " + SidText(ace + 8);
    }
    LocalFree(descriptor);
    CloseHandle(again);
    SKIP_WHERE_WINE_DIFFERS(ownerText != "S-1-5-32-544",
                            "it keeps no owner or access list set through SetNamedSecurityInfo: "
                            "both come from the Unix owner and mode");
    EXPECT_EQ(ownerText, "S-1-5-32-544");
    EXPECT_EQ(second, "0 2 2 S-1-5-32-545");
}

// A file is created once, counts its hard links, and its final path is its folder's and its name;
// its security needs READ_CONTROL, its attributes FILE_READ_ATTRIBUTES.
TEST_F(FileConformance, FileIsCreatedOnceCountsItsLinksAndLiesInItsFolder) {
    const std::string missing = In("missing") + kPathSeparators[0] + "log.txt";
    SetLastError(kUntouched);
    EXPECT_EQ(
        CreateFileA(missing.c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(CreateFileA(In("log.txt").c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    const DWORD append = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    for (const DWORD lastError :
         {static_cast<DWORD>(ERROR_SUCCESS), static_cast<DWORD>(ERROR_ALREADY_EXISTS)}) {
        SetLastError(kUntouched);
        const HANDLE file =
            CreateFileA(In("log.txt").c_str(), append, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), lastError);
        CloseHandle(file);
    }
    seed::HardLink(In("log.txt"), In("other.txt"));
    const HANDLE file =
        CreateFileA(In("log.txt").c_str(), append, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILE_STANDARD_INFO standard = {};
    ASSERT_TRUE(GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard));
    EXPECT_EQ(standard.NumberOfLinks, 2u);
    EXPECT_EQ(standard.Directory, 0);
    FILE_ATTRIBUTE_TAG_INFO attributes = {};
    ASSERT_TRUE(
        GetFileInformationByHandleEx(file, FileAttributeTagInfo, &attributes, sizeof attributes));
    EXPECT_EQ(attributes.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              0u);
    EXPECT_EQ(GetFileType(file), static_cast<DWORD>(FILE_TYPE_DISK));

    const HANDLE folder = CreateFileA(folder_.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    char folderPath[1024];
    char filePath[1024];
    const DWORD folderLength = GetFinalPathNameByHandleA(folder, folderPath, sizeof folderPath, 0);
    const DWORD fileLength = GetFinalPathNameByHandleA(file, filePath, sizeof filePath, 0);
    ASSERT_GT(folderLength, 0u);
    ASSERT_EQ(fileLength, folderLength + 8);
    EXPECT_EQ(std::string(filePath, folderLength), std::string(folderPath));
    EXPECT_NE(std::strchr(kPathSeparators, filePath[folderLength]), nullptr);
    EXPECT_STREQ(filePath + folderLength + 1, "log.txt");
    CloseHandle(folder);

    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_EQ(GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                              nullptr, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    char small[4] = {'*', '*', '*', '*'};
    const DWORD needed = GetFinalPathNameByHandleA(file, small, sizeof small, 0);
    EXPECT_EQ(std::string(small, sizeof small), "****");
    CloseHandle(file);

    const HANDLE appendOnly =
        CreateFileA(In("log.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(appendOnly, INVALID_HANDLE_VALUE);
    const BOOL read = GetFileInformationByHandleEx(appendOnly, FileAttributeTagInfo, &attributes,
                                                   sizeof attributes);
    CloseHandle(appendOnly);
    SKIP_WHERE_WINE_DIFFERS(read && needed == fileLength,
                            "it reads attributes without FILE_READ_ATTRIBUTES, and a final path "
                            "too long for the buffer gives its length without the terminator");
    EXPECT_FALSE(read);
    EXPECT_EQ(needed, fileLength + 1);
}

// With FILE_FLAG_OPEN_REPARSE_POINT a link at the name is opened as itself; without, followed.
TEST_F(FileConformance, LinkAtTheNameIsOpenedAsItselfOnlyWhenAsked) {
    {
        std::FILE* target = std::fopen(In("other.txt").c_str(), "w");
        std::fclose(target);
    }
    if (!seed::SymbolicLink(In("link.txt"), In("other.txt"))) {
        GTEST_SKIP() << "no symbolic link can be made here (Wine 8 makes none, and no junction: "
                        "FSCTL_SET_REPARSE_POINT fails with 50)";
    }
    for (const DWORD flags : {DWORD{FILE_FLAG_OPEN_REPARSE_POINT}, DWORD{0}}) {
        SCOPED_TRACE(flags);
        const HANDLE file = CreateFileA(In("link.txt").c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        FILE_ATTRIBUTE_TAG_INFO attributes = {};
        ASSERT_TRUE(GetFileInformationByHandleEx(file, FileAttributeTagInfo, &attributes,
                                                 sizeof attributes));
        EXPECT_EQ((attributes.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0, flags != 0);
        char path[1024];
        const DWORD length = GetFinalPathNameByHandleA(file, path, sizeof path, 0);
        const std::string name = flags != 0 ? "link.txt" : "other.txt";
        ASSERT_GT(length, name.size());
        EXPECT_EQ(path + length - name.size(), name) << "the link itself, or what it leads to";
        CloseHandle(file);
    }
}

// The token's user comes in one call once its size is known.
TEST(ProcessUserConformance, TokenUserFollowsASizeQuery) {
    seed::ResetPlatform();
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD needed = kUntouched;
    SetLastError(kUntouched);
    EXPECT_FALSE(GetTokenInformation(token, TokenUser, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GT(needed, static_cast<DWORD>(sizeof(TOKEN_USER)));
    ASSERT_LE(needed, static_cast<DWORD>(sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE));
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD length = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &length));
    EXPECT_EQ(length, needed);
    TOKEN_USER user;
    std::memcpy(&user, buffer, sizeof user);
    const auto* sid = static_cast<const BYTE*>(user.User.Sid);
    EXPECT_GE(sid, buffer + sizeof(TOKEN_USER));
    EXPECT_LE(sid + 8 + 4 * sid[1], buffer + length) << "the SID lies in the filled part";
    EXPECT_TRUE(CloseHandle(token));
}

} // namespace
