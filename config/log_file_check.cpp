#include "config/log_file_check.h"

#include "config/diagnostic_log.h"
#include "platform/file_system.h"
#include "platform/security.h"
#include "platform/unique_handle.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::size_t kSidHeaderSize = 8;
constexpr std::size_t kMaxSubAuthorities = 15;
constexpr std::size_t kMaxSidSize = kSidHeaderSize + 4 * kMaxSubAuthorities;
constexpr std::size_t kAclHeaderSize = 8;
constexpr std::size_t kAceHeaderSize = 4;
constexpr std::size_t kGuidSize = 16;
// Final paths may outgrow the configured one: short names and mount points are resolved.
constexpr DWORD kFinalPathCapacity = 2 * kLogPathCapacity;

// What would let another account put something else where the log writes: add a file or a
// subfolder, delete one, rewrite the access list or take the folder over. Generic rights map
// onto those.
constexpr DWORD kFolderTakeoverRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                                        WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Well-known SIDs by identifier authority (5, NT) and sub-authorities.
struct KnownSid {
    BYTE count;
    DWORD subAuthorities[6];
};
constexpr KnownSid kSystem = {1, {18}};
constexpr KnownSid kAdministrators = {2, {32, 544}};
constexpr KnownSid kTrustedInstaller = {
    6, {80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u}};

WORD Word(const BYTE* at) {
    return static_cast<WORD>(at[0] | (at[1] << 8));
}

DWORD Dword(const BYTE* at) {
    return static_cast<DWORD>(at[0]) | (static_cast<DWORD>(at[1]) << 8) |
           (static_cast<DWORD>(at[2]) << 16) | (static_cast<DWORD>(at[3]) << 24);
}

// The size of the SID at `sid` when it is well formed within `available` bytes, else 0.
std::size_t SidSize(const BYTE* sid, std::size_t available) {
    if (sid == nullptr || available < kSidHeaderSize || sid[0] != 1 ||
        sid[1] > kMaxSubAuthorities) {
        return 0;
    }
    const std::size_t size = kSidHeaderSize + 4 * static_cast<std::size_t>(sid[1]);
    return size <= available ? size : 0;
}

bool IsKnown(const BYTE* sid, const KnownSid& known) {
    static constexpr BYTE kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
    if (sid[1] != known.count || std::memcmp(sid + 2, kNtAuthority, sizeof kNtAuthority) != 0) {
        return false;
    }
    for (BYTE i = 0; i < known.count; ++i) {
        if (Dword(sid + kSidHeaderSize + std::size_t{4} * i) != known.subAuthorities[i]) {
            return false;
        }
    }
    return true;
}

#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
bool Conclude(LogFileCheck& check, LogFileVerdict verdict, const char* format, ...) {
    check.verdict = verdict;
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(check.reason, sizeof check.reason, format, args) < 0) {
        check.reason[0] = '\0';
    }
    va_end(args);
    return false;
}

// SYSTEM, Administrators, TrustedInstaller and the process's own user: the accounts that could
// write wherever the process writes anyway. The user is read only when a SID is none of the
// others, which for the service, running as SYSTEM, is never.
class TrustedAccounts {
public:
    bool Trusts(const BYTE* sid, std::size_t size) {
        if (IsKnown(sid, kSystem) || IsKnown(sid, kAdministrators) ||
            IsKnown(sid, kTrustedInstaller)) {
            return true;
        }
        if (!userRead) {
            userRead = true;
            ReadProcessUser();
        }
        return userSize != 0 && size == userSize && std::memcmp(sid, userSid, size) == 0;
    }
    // Why the process's user is unknown, or 0.
    DWORD UserError() const { return userError; }

private:
    void ReadProcessUser() {
        UniqueKernelObject token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) {
            userError = GetLastError();
            return;
        }
        alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
        DWORD length = 0;
        if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &length) ||
            length > sizeof buffer) {
            userError = GetLastError() != 0 ? GetLastError() : ERROR_INVALID_DATA;
            return;
        }
        TOKEN_USER tokenUser = {};
        std::memcpy(&tokenUser, buffer, sizeof tokenUser);
        const auto* sid = static_cast<const BYTE*>(tokenUser.User.Sid);
        const auto offset = reinterpret_cast<std::uintptr_t>(sid) -
                            reinterpret_cast<std::uintptr_t>(static_cast<BYTE*>(buffer));
        const std::size_t size = offset < length ? SidSize(buffer + offset, length - offset) : 0;
        if (size == 0) {
            userError = ERROR_INVALID_DATA; // not where, or not what, the call said it put
            return;
        }
        std::memcpy(userSid, buffer + offset, size);
        userSize = size;
    }

    bool userRead = false;
    DWORD userError = 0;
    BYTE userSid[kMaxSidSize] = {};
    std::size_t userSize = 0;
};

// Without the process's user, whether a SID is trusted cannot be told.
bool UserUnknown(const TrustedAccounts& trusted, LogFileCheck& check) {
    if (trusted.UserError() == 0) {
        return false;
    }
    Conclude(check, LogFileVerdict::Refused, "the process's user cannot be read (error %lu)",
             static_cast<unsigned long>(trusted.UserError()));
    return true;
}

// S-1-5-32-545, as Windows writes a SID.
void FormatSid(const BYTE* sid, char (&text)[kMaxSidSize * 4]) {
    unsigned long long authority = 0;
    for (int i = 2; i < 8; ++i) {
        authority = (authority << 8) | sid[i];
    }
    int used =
        std::snprintf(text, sizeof text, "S-%u-%llu", static_cast<unsigned>(sid[0]), authority);
    for (BYTE i = 0; i < sid[1] && used > 0 && static_cast<std::size_t>(used) < sizeof text; ++i) {
        used += std::snprintf(
            text + used, sizeof text - static_cast<std::size_t>(used), "-%lu",
            static_cast<unsigned long>(Dword(sid + kSidHeaderSize + std::size_t{4} * i)));
    }
}

// Whether one allow entry hands the folder to an account that is not trusted.
bool AllowsTakeover(const BYTE* ace, std::size_t aceSize, TrustedAccounts& trusted,
                    LogFileCheck& check) {
    const BYTE type = ace[0];
    const bool object =
        type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
    std::size_t sidAt = kAceHeaderSize + 4;
    if (object) {
        if (aceSize < sidAt + 4) {
            return !Conclude(check, LogFileVerdict::Refused,
                             "the folder's access list is malformed");
        }
        const DWORD present = Dword(ace + sidAt);
        sidAt += 4 + ((present & ACE_OBJECT_TYPE_PRESENT) != 0 ? kGuidSize : 0) +
                 ((present & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0 ? kGuidSize : 0);
    }
    const std::size_t sidSize = aceSize > sidAt ? SidSize(ace + sidAt, aceSize - sidAt) : 0;
    if (sidSize == 0) {
        return !Conclude(check, LogFileVerdict::Refused, "the folder's access list is malformed");
    }
    if ((Dword(ace + kAceHeaderSize) & kFolderTakeoverRights) == 0 ||
        trusted.Trusts(ace + sidAt, sidSize)) {
        return false;
    }
    if (UserUnknown(trusted, check)) {
        return true;
    }
    char sid[kMaxSidSize * 4];
    FormatSid(ace + sidAt, sid);
    return !Conclude(check, LogFileVerdict::Refused,
                     "the folder is writable by users other than administrators (%s)", sid);
}

// Deny entries only take rights away, and entries that apply to the folder's children only do
// not apply to it: neither can let anyone in.
bool CheckAccessList(const BYTE* acl, TrustedAccounts& trusted, LogFileCheck& check) {
    const std::size_t aclSize = Word(acl + 2);
    const WORD count = Word(acl + 4);
    std::size_t at = kAclHeaderSize;
    for (WORD i = 0; i < count; ++i) {
        const std::size_t aceSize = at + kAceHeaderSize <= aclSize ? Word(acl + at + 2) : 0;
        if (aceSize < kAceHeaderSize + 4 || at + aceSize > aclSize) {
            return Conclude(check, LogFileVerdict::Refused,
                            "the folder's access list is malformed");
        }
        const BYTE type = acl[at];
        const bool allows = type == ACCESS_ALLOWED_ACE_TYPE ||
                            type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
                            type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
                            type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
        if (allows && (acl[at + 1] & INHERIT_ONLY_ACE) == 0 &&
            AllowsTakeover(acl + at, aceSize, trusted, check)) {
            return false;
        }
        at += aceSize;
    }
    return true;
}

bool CheckFolder(HANDLE folder, LogFileCheck& check) {
    // GetFileInformationByHandle would do, but it also asks the volume, which costs Wine a
    // millisecond at every line.
    FILE_ATTRIBUTE_TAG_INFO info = {};
    if (!GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &info, sizeof info)) {
        return Conclude(check, LogFileVerdict::Refused,
                        "the folder's attributes cannot be read (error %lu)",
                        static_cast<unsigned long>(GetLastError()));
    }
    if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return Conclude(check, LogFileVerdict::Refused,
                        "the folder is a junction or another reparse point");
    }
    if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return Conclude(check, LogFileVerdict::Refused, "the folder is not a folder");
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status = GetSecurityInfo(folder, SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         &owner, nullptr, &dacl, nullptr, &descriptor);
    const UniqueLocalMemory held(descriptor);
    if (status != ERROR_SUCCESS) {
        return Conclude(check, LogFileVerdict::Refused,
                        "the folder's owner and permissions cannot be read (error %lu)",
                        static_cast<unsigned long>(status));
    }
    TrustedAccounts trusted;
    const auto* ownerSid = static_cast<const BYTE*>(owner);
    const std::size_t ownerSize = SidSize(ownerSid, kMaxSidSize);
    if (ownerSize == 0) {
        return Conclude(check, LogFileVerdict::Refused, "the folder has no owner");
    }
    if (!trusted.Trusts(ownerSid, ownerSize)) {
        if (UserUnknown(trusted, check)) {
            return false;
        }
        char sid[kMaxSidSize * 4];
        FormatSid(ownerSid, sid);
        return Conclude(check, LogFileVerdict::Refused,
                        "the folder is owned by %s, not by an administrator", sid);
    }
    if (dacl == nullptr) {
        return Conclude(check, LogFileVerdict::Refused,
                        "the folder has no access list, so anyone may write to it");
    }
    return CheckAccessList(reinterpret_cast<const BYTE*>(dacl), trusted, check);
}

bool IsSeparator(char c) {
    return c != '\0' && std::strchr(kPathSeparators, c) != nullptr;
}

// The file's final path is the folder's and one name more: the file opened is in the folder
// checked, whatever happened to the path's upper folders in between.
bool CheckFileIsInFolder(HANDLE folder, HANDLE file, LogFileCheck& check) {
    char folderPath[kFinalPathCapacity];
    char filePath[kFinalPathCapacity];
    const DWORD folderLength = GetFinalPathNameByHandleA(folder, folderPath, kFinalPathCapacity,
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    const DWORD fileLength =
        folderLength == 0 || folderLength >= kFinalPathCapacity
            ? 0
            : GetFinalPathNameByHandleA(file, filePath, kFinalPathCapacity,
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (fileLength == 0 || fileLength >= kFinalPathCapacity) {
        return Conclude(check, LogFileVerdict::Refused,
                        "the file's location cannot be read (error %lu)",
                        static_cast<unsigned long>(GetLastError()));
    }
    std::size_t base = folderLength;
    if (base > 0 && IsSeparator(folderPath[base - 1])) {
        --base; // a drive's root: "\\?\C:\"
    }
    const char* name = filePath + base + 1;
    if (fileLength <= base + 1 || std::strncmp(filePath, folderPath, base) != 0 ||
        !IsSeparator(filePath[base]) || std::strpbrk(name, kPathSeparators) != nullptr) {
        return Conclude(check, LogFileVerdict::Refused,
                        "the file is not in the folder that was checked");
    }
    return true;
}

bool CheckFile(HANDLE folder, HANDLE file, LogFileCheck& check) {
    if (GetFileType(file) != FILE_TYPE_DISK) {
        return Conclude(check, LogFileVerdict::Refused, "the file is not a disk file");
    }
    FILE_ATTRIBUTE_TAG_INFO attributes = {};
    FILE_STANDARD_INFO standard = {};
    if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &attributes, sizeof attributes) ||
        !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) {
        return Conclude(check, LogFileVerdict::Refused,
                        "the file's attributes cannot be read (error %lu)",
                        static_cast<unsigned long>(GetLastError()));
    }
    if ((attributes.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return Conclude(check, LogFileVerdict::Refused,
                        "the file is a link or another reparse point");
    }
    if ((attributes.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || standard.Directory != 0) {
        return Conclude(check, LogFileVerdict::Refused, "the file is a folder");
    }
    if (standard.NumberOfLinks != 1) {
        return Conclude(check, LogFileVerdict::Refused, "the file has %lu links",
                        static_cast<unsigned long>(standard.NumberOfLinks));
    }
    return CheckFileIsInFolder(folder, file, check);
}

// The folder is the path up to its last separator, which it keeps where it is a root ("C:\",
// "\"). The path was read from the registry, which bounds it.
bool FolderOf(const char* path, char (&folder)[kLogPathCapacity], LogFileCheck& check) {
    const std::size_t length = std::strlen(path);
    if (length >= kLogPathCapacity) {
        return Conclude(check, LogFileVerdict::Refused, "the path is too long");
    }
    std::size_t separator = length;
    while (separator > 0 && !IsSeparator(path[separator - 1])) {
        --separator;
    }
    if (separator == 0) {
        return Conclude(check, LogFileVerdict::Refused, "the path names no folder");
    }
    if (separator == length) {
        return Conclude(check, LogFileVerdict::Refused, "the path names no file");
    }
    std::size_t folderLength = separator - 1;
    if (folderLength == 0 || (folderLength == 2 && path[1] == ':')) {
        ++folderLength;
    }
    std::memcpy(folder, path, folderLength);
    folder[folderLength] = '\0';
    return true;
}

std::FILE* OpenChecked(const char* path, bool append, LogFileCheck& check) {
    check = LogFileCheck{};
    char folderPath[kLogPathCapacity];
    if (path == nullptr) {
        Conclude(check, LogFileVerdict::Refused, "no path");
        return nullptr;
    }
    if (!FolderOf(path, folderPath, check)) {
        return nullptr;
    }
    // Held, without delete sharing, until the file is open: the folder checked can be neither
    // renamed nor replaced meanwhile.
    const UniqueKernelObject folder(
        CreateFileA(folderPath, READ_CONTROL | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder) {
        check.error = GetLastError();
        Conclude(check, LogFileVerdict::Unopened, "the folder cannot be opened (error %lu)",
                 check.error);
        return nullptr;
    }
    if (!CheckFolder(folder.get(), check)) {
        return nullptr;
    }
    // Deny-none like the run-time's _SH_DENYNO; a reparse point at the name is opened as itself.
    UniqueKernelObject file(CreateFileA(
        path, append ? FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE : FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, append ? OPEN_ALWAYS : OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (!append && error == ERROR_FILE_NOT_FOUND) {
            check.verdict = LogFileVerdict::Sound; // the service would create it
            return nullptr;
        }
        check.error = error;
        Conclude(check, LogFileVerdict::Unopened, "the file cannot be opened (error %lu)",
                 check.error);
        return nullptr;
    }
    if (!CheckFile(folder.get(), file.get(), check)) {
        return nullptr;
    }
    if (!append) {
        check.verdict = LogFileVerdict::Sound;
        return nullptr;
    }
    std::FILE* stream = OpenLogStream(file.release());
    if (stream == nullptr) {
        Conclude(check, LogFileVerdict::Unopened, "the file cannot be opened as a stream");
        return nullptr;
    }
    check.verdict = LogFileVerdict::Sound;
    return stream;
}

} // namespace

std::FILE* OpenLogFileSafely(const char* path, LogFileCheck& check) {
    return OpenChecked(path, true, check);
}

LogFileCheck CheckLogFile(const char* path) {
    LogFileCheck check;
    (void)OpenChecked(path, false, check);
    return check;
}
