// Files and their security as the log's check reads them: folders, links, final and long paths,
// names opened within a held folder and the sharing that holds it, owners, SIDs and access
// lists, and the process's user.
#include "tests/windows_conformance/platform_seed.h"

#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/security.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

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

namespace {

// One name opened within a folder already held, as the log opens its file; the Windows error.
DWORD OpenIn(HANDLE folder, const std::wstring& name, ULONG disposition, HANDLE& file,
             IO_STATUS_BLOCK& io) {
    std::wstring buffer = name;
    UNICODE_STRING objectName = {static_cast<USHORT>(name.size() * sizeof(WCHAR)),
                                 static_cast<USHORT>(name.size() * sizeof(WCHAR)), buffer.data()};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, folder, nullptr);
    return RtlNtStatusToDosError(NtCreateFile(
        &file, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &io, nullptr,
        FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition,
        FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr,
        0));
}

HANDLE OpenFolder(const std::string& path, DWORD access, DWORD share) {
    return CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// A name within a held folder opens there, is made only when asked, and is never a folder; a
// handle that lists the folder without sharing deletion keeps it from being renamed, and one that
// reads attributes alone keeps nothing off.
TEST_F(FileConformance, NameWithinAHeldFolderOpensThereAndTheHoldKeepsRenamesOff) {
    constexpr DWORD kAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    seed::MakeFolder(In("sub"));
    const HANDLE folder = OpenFolder(folder_, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    SetLastError(kUntouched);
    EXPECT_EQ(OpenFolder(folder_, DELETE, kAll), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(OpenFolder(folder_, FILE_READ_ATTRIBUTES, 0)); // takes no part in sharing

    HANDLE file = nullptr;
    IO_STATUS_BLOCK io = {};
    EXPECT_EQ(OpenIn(folder, L"log.txt", FILE_OPEN, file, io), DWORD{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(OpenIn(folder, L"sub", FILE_OPEN_IF, file, io), DWORD{ERROR_ACCESS_DENIED});
    ASSERT_EQ(OpenIn(folder, L"log.txt", FILE_OPEN_IF, file, io), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(io.Information, ULONG_PTR{FILE_CREATED});
    CloseHandle(file);
    ASSERT_EQ(OpenIn(folder, L"log.txt", FILE_OPEN_IF, file, io), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(io.Information, ULONG_PTR{FILE_OPENED});
    char folderPath[1024];
    char filePath[1024];
    const DWORD folderLength = GetFinalPathNameByHandleA(folder, folderPath, sizeof folderPath, 0);
    ASSERT_EQ(GetFinalPathNameByHandleA(file, filePath, sizeof filePath, 0), folderLength + 8);
    EXPECT_EQ(std::string(filePath, folderLength), folderPath);
    EXPECT_STREQ(filePath + folderLength + 1, "log.txt");
    EXPECT_EQ(CreateFileA(In("log.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE)
        << "a reader that does not share writing, while the file is open to append";
    CloseHandle(file);
    CloseHandle(folder);

    const HANDLE looking =
        OpenFolder(folder_, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ);
    const HANDLE renaming = OpenFolder(folder_, DELETE, kAll);
    EXPECT_NE(renaming, INVALID_HANDLE_VALUE) << "a hold that reads no data keeps renames off";
    CloseHandle(renaming);
    CloseHandle(looking);
    seed::RemoveFolder(In("sub"));
    EXPECT_EQ(RtlNtStatusToDosError(static_cast<NTSTATUS>(0xC0070005)), DWORD{ERROR_ACCESS_DENIED})
        << "a Win32 code carried as a status";
    EXPECT_EQ(RtlNtStatusToDosError(static_cast<NTSTATUS>(0xC0FE0001)),
              DWORD{ERROR_MR_MID_NOT_FOUND});
}

// What the log's check compares: the held folder's final path is its full path with long names,
// once the prefix that only final paths carry is gone.
TEST_F(FileConformance, HeldFoldersFinalPathIsItsFullLongPath) {
    const std::string sep(1, kPathSeparators[0]);
    char full[1024];
    LPSTR part = nullptr;
    const std::string roundabout = folder_ + sep + "sub" + sep + ".." + sep + "log.txt";
    ASSERT_LT(GetFullPathNameA(roundabout.c_str(), sizeof full, full, &part), sizeof full);
    EXPECT_STREQ(part, "log.txt");
    const std::string folder(full, static_cast<std::size_t>(part - full) - 1);
    EXPECT_EQ(GetFullPathNameA((folder + sep).c_str(), sizeof full, full, &part),
              folder.size() + 1);
    EXPECT_EQ(part, nullptr) << "a path ending in a separator names no file";

    char longPath[1024];
    const DWORD longLength = GetLongPathNameA(folder.c_str(), longPath, sizeof longPath);
    EXPECT_EQ(GetLongPathNameA((folder + sep + "missing").c_str(), full, sizeof full), 0u);
    EXPECT_EQ(GetLongPathNameA(folder.c_str(), full, 2), longLength + 1);
    const HANDLE held = OpenFolder(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ);
    char finalPath[1024];
    const DWORD finalLength = GetFinalPathNameByHandleA(held, finalPath, sizeof finalPath, 0);
    CloseHandle(held);
    ASSERT_GT(finalLength, 4u);
    ASSERT_EQ(std::string(finalPath, 4), "\\\\?\\");
    std::string final(finalPath + 4), expected(longPath, longLength);
    for (std::string* text : {&final, &expected}) {
        std::transform(text->begin(), text->end(), text->begin(), ::tolower);
    }
    EXPECT_EQ(final, expected);

    WCHAR wide[8] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "log.txt", -1, nullptr, 0), 8);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "log.txt", -1, wide, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "log.txt", -1, wide, 8), 8);
    EXPECT_EQ(std::wstring(wide), L"log.txt");
}

// Each well-known SID the log's check trusts, made from its string and back, told apart from
// the others; a SID of another revision or with 16 sub-authorities is invalid and not shown.
TEST(SidConformance, SidsConvertBothWaysAndMalformedOnesAreRefused) {
    const struct {
        const char* text;
        int wellKnown; // -1: none IsWellKnownSid knows
        DWORD length;
    } rows[] = {
        {"S-1-5-18", WinLocalSystemSid, 12},
        {"S-1-5-32-544", WinBuiltinAdministratorsSid, 16},
        {"S-1-3-0", WinCreatorOwnerSid, 12},
        {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", -1, 32},
    };
    PSID users = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidA("BU", &users)) << "an SDDL alias";
    EXPECT_TRUE(IsWellKnownSid(users, WinBuiltinUsersSid));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        PSID sid = nullptr;
        PSID same = nullptr;
        ASSERT_TRUE(ConvertStringSidToSidA(row.text, &sid) &&
                    ConvertStringSidToSidA(row.text, &same));
        EXPECT_TRUE(IsValidSid(sid));
        EXPECT_EQ(GetLengthSid(sid), row.length);
        EXPECT_TRUE(EqualSid(sid, same) && !EqualSid(sid, users));
        EXPECT_FALSE(IsWellKnownSid(sid, WinBuiltinUsersSid));
        EXPECT_TRUE(row.wellKnown < 0 ||
                    IsWellKnownSid(sid, static_cast<WELL_KNOWN_SID_TYPE>(row.wellKnown)));
        LPSTR text = nullptr;
        ASSERT_TRUE(ConvertSidToStringSidA(sid, &text));
        EXPECT_STREQ(text, row.text);
        EXPECT_EQ(LocalFree(text), nullptr);
        EXPECT_EQ(LocalFree(sid), nullptr);
        LocalFree(same);
    }
    LocalFree(users);
    for (const BYTE count : {BYTE{1}, BYTE{16}}) {
        alignas(DWORD)
            BYTE malformed[8 + 4 * 16] = {BYTE(count == 1 ? 2 : 1), count, 0, 0, 0, 0, 0, 5};
        LPSTR text = nullptr;
        EXPECT_FALSE(IsValidSid(malformed) || ConvertSidToStringSidA(malformed, &text)) << count;
        EXPECT_EQ(text, nullptr);
    }
    PSID none = nullptr;
    SetLastError(kUntouched);
    EXPECT_FALSE(ConvertStringSidToSidA("S-1-5-x", &none));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID));
}

// An access list with two entries and room for more, then the same list spoilt one way at a
// time: its entries are found within it, and a list they do not fit is invalid.
TEST(AclConformance, EntriesAreFoundWithinTheListAndAListTheyDoNotFitIsInvalid) {
    // SYSTEM with full control, Users with read and execute, 8 spare bytes, then bytes beyond
    // the list that no reader may take for an entry.
    const auto make = [](BYTE revision, WORD size, WORD count) {
        std::vector<BYTE> bytes = {revision,    0,    BYTE(size), BYTE(size >> 8),
                                   BYTE(count), 0,    0,          0,
                                   0,           0,    20,         0,
                                   0xFF,        0x01, 0x1F,       0,
                                   1,           1,    0,          0,
                                   0,           0,    0,          5,
                                   18,          0,    0,          0,
                                   0,           3,    24,         0,
                                   0xA9,        0,    0x12,       0,
                                   1,           2,    0,          0,
                                   0,           0,    0,          5,
                                   32,          0,    0,          0,
                                   0x21,        0x02, 0,          0};
        bytes.resize(96, 0xcc);
        return bytes;
    };
    std::vector<BYTE> bytes = make(ACL_REVISION, 60, 2);
    auto* acl = reinterpret_cast<PACL>(bytes.data());
    EXPECT_TRUE(IsValidAcl(acl));
    ACL_SIZE_INFORMATION size = {};
    ASSERT_TRUE(GetAclInformation(acl, &size, sizeof size, AclSizeInformation));
    EXPECT_EQ(std::vector<DWORD>({size.AceCount, size.AclBytesInUse, size.AclBytesFree}),
              std::vector<DWORD>({2, 52, 8}));
    SetLastError(kUntouched);
    EXPECT_FALSE(GetAclInformation(acl, &size, sizeof(DWORD), AclSizeInformation));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    LPVOID ace = nullptr;
    ASSERT_TRUE(GetAce(acl, 1, &ace));
    EXPECT_EQ(ace, bytes.data() + 28);
    SetLastError(kUntouched);
    EXPECT_FALSE(GetAce(acl, 2, &ace));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // Revisions 1 and 5, too small for its entries, a third entry beyond the list.
    for (const auto& [revision, aclSize, count] : {std::tuple<BYTE, WORD, WORD>{1, 60, 2},
                                                   {5, 60, 2},
                                                   {ACL_REVISION, 40, 2},
                                                   {ACL_REVISION, 60, 3}}) {
        bytes = make(revision, aclSize, count);
        EXPECT_FALSE(IsValidAcl(reinterpret_cast<PACL>(bytes.data())))
            << int{revision} << " " << aclSize << " " << count;
    }
}

} // namespace
