#include "config/log_file_check.h"

#include "config/diagnostic_log.h"
#include "platform/file_system.h"
#include "platform/security.h"
#include "platform/unique_handle.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Final paths may outgrow the configured one: short names are resolved.
constexpr DWORD kFinalPathCapacity = 2 * kLogPathCapacity;

// NT SERVICE\TrustedInstaller, which owns Windows' own folders: a service's SID, which
// IsWellKnownSid does not know.
constexpr const char* kTrustedInstallerSid =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// What would let another account put something else where the log writes: add a file or a
// subfolder, delete one, rewrite the access list or take the object over. Generic rights map
// onto those. On a file the same bits are writing and appending: forging lines.
constexpr DWORD kTakeoverRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                                  WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// The part of a SID that IsValidSid and GetLengthSid read before they know its length.
constexpr std::size_t kSidFixedPart = 8;

#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
bool Conclude(LogFileCheck& check, LogFileVerdict verdict, const char* format, ...) {
    check.verdict = verdict;
    va_list args;
    va_start(args, format);
    // Only these formats, with ASCII arguments and SIDs: nothing to fail on, and cut to fit.
    (void)std::vsnprintf(check.reason, sizeof check.reason, format, args);
    va_end(args);
    return false;
}

// A SID as Windows writes it, S-1-5-32-545, for a reason.
class SidText {
public:
    explicit SidText(PSID sid) {
        LPSTR converted = nullptr;
        if (ConvertSidToStringSidA(sid, &converted)) {
            text.reset(converted);
        }
    }
    const char* Get() const {
        return text ? static_cast<const char*>(text.get()) : "an account whose SID cannot be shown";
    }

private:
    UniqueLocalMemory text;
};

// SYSTEM, Administrators, TrustedInstaller and the process's own user: the accounts that could
// write wherever the process writes anyway. The last two are looked up only for a SID that is
// neither of the first two, which for the service's folder is never.
class TrustedAccounts {
public:
    bool Trusts(PSID sid) {
        if (IsWellKnownSid(sid, WinLocalSystemSid) ||
            IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) {
            return true;
        }
        if (!looked) {
            looked = true;
            LookUp();
        }
        return failure == nullptr &&
               (EqualSid(sid, trustedInstallerSid.get()) || EqualSid(sid, user));
    }

    // Without them, whether a SID is trusted cannot be told: the check refuses, saying why.
    bool Unknown(LogFileCheck& check) const {
        if (failure == nullptr) {
            return false;
        }
        Conclude(check, LogFileVerdict::Refused, "%s (error %lu)", failure,
                 static_cast<unsigned long>(error));
        return true;
    }

private:
    void LookUp() {
        PSID trustedInstaller = nullptr;
        if (!ConvertStringSidToSidA(kTrustedInstallerSid, &trustedInstaller)) {
            Fail("TrustedInstaller's SID cannot be made");
            return;
        }
        trustedInstallerSid.reset(trustedInstaller);
        UniqueKernelObject token;
        DWORD length = 0;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()) ||
            !GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &length)) {
            Fail("the process's user cannot be read");
            return;
        }
        TOKEN_USER tokenUser = {};
        std::memcpy(&tokenUser, buffer, sizeof tokenUser);
        user = tokenUser.User.Sid;
    }
    void Fail(const char* what) {
        failure = what;
        error = GetLastError();
    }

    bool looked = false;
    const char* failure = nullptr;
    DWORD error = 0;
    UniqueLocalMemory trustedInstallerSid;
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    PSID user = nullptr;
};

// What one allow entry says, read where its layout puts it: the rights, and a SID that lies
// wholly within the entry; false for an entry too short for either.
bool ReadAllowEntry(BYTE* ace, const ACE_HEADER& header, DWORD& mask, PSID& sid) {
    const bool object = header.AceType == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
                        header.AceType == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
    std::size_t sidAt = offsetof(ACCESS_ALLOWED_ACE, SidStart);
    if (object) {
        // Each object type is there only when its flag says so, and the SID follows them.
        if (header.AceSize < offsetof(ACCESS_ALLOWED_OBJECT_ACE, ObjectType)) {
            return false;
        }
        DWORD flags = 0;
        std::memcpy(&flags, ace + offsetof(ACCESS_ALLOWED_OBJECT_ACE, Flags), sizeof flags);
        sidAt = offsetof(ACCESS_ALLOWED_OBJECT_ACE, ObjectType) +
                ((flags & ACE_OBJECT_TYPE_PRESENT) != 0 ? sizeof(GUID) : 0) +
                ((flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0 ? sizeof(GUID) : 0);
    }
    if (header.AceSize < sidAt + kSidFixedPart) {
        return false;
    }
    sid = ace + sidAt;
    if (!IsValidSid(sid) || GetLengthSid(sid) > header.AceSize - sidAt) {
        return false;
    }
    std::memcpy(&mask, ace + offsetof(ACCESS_ALLOWED_ACE, Mask), sizeof mask);
    return true;
}

bool Malformed(LogFileCheck& check, const char* what) {
    return Conclude(check, LogFileVerdict::Refused, "the %s's access list is malformed", what);
}

// Deny entries only take rights away, and an entry for the object's children only does not
// apply to it; but a folder's entries that pass down to files apply to the log file it will
// make. CREATOR OWNER there stands for the account that makes it, this process's.
bool CheckAccessList(PACL dacl, const char* what, bool folder, TrustedAccounts& trusted,
                     LogFileCheck& check) {
    ACL_SIZE_INFORMATION size = {};
    if (!IsValidAcl(dacl) || !GetAclInformation(dacl, &size, sizeof size, AclSizeInformation)) {
        return Malformed(check, what);
    }
    auto* start = reinterpret_cast<BYTE*>(dacl);
    // From the call, not the header: a descriptor may place its list at any offset, where the
    // header cannot be read as a structure.
    const std::size_t aclSize =
        static_cast<std::size_t>(size.AclBytesInUse) + static_cast<std::size_t>(size.AclBytesFree);
    for (DWORD i = 0; i < size.AceCount; ++i) {
        LPVOID entry = nullptr;
        ACE_HEADER header = {};
        const std::size_t at = GetAce(dacl, i, &entry) ? reinterpret_cast<std::uintptr_t>(entry) -
                                                             reinterpret_cast<std::uintptr_t>(start)
                                                       : 0;
        // Within the list, whatever IsValidAcl let through: Wine's lets more through.
        const bool within = at >= sizeof(ACL) && at + sizeof header <= aclSize;
        if (within) {
            std::memcpy(&header, start + at, sizeof header);
        }
        if (!within || header.AceSize > aclSize - at) {
            return Malformed(check, what);
        }
        const bool allows = header.AceType == ACCESS_ALLOWED_ACE_TYPE ||
                            header.AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
                            header.AceType == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
                            header.AceType == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
        const bool applies = (header.AceFlags & INHERIT_ONLY_ACE) == 0;
        const bool toNewFiles = folder && (header.AceFlags & OBJECT_INHERIT_ACE) != 0;
        if (!allows || (!applies && !toNewFiles)) {
            continue;
        }
        DWORD mask = 0;
        PSID sid = nullptr;
        if (!ReadAllowEntry(start + at, header, mask, sid)) {
            return Malformed(check, what);
        }
        if ((mask & kTakeoverRights) == 0 || IsWellKnownSid(sid, WinCreatorOwnerSid) ||
            trusted.Trusts(sid)) {
            continue;
        }
        if (trusted.Unknown(check)) {
            return false;
        }
        const SidText text(sid);
        if (!applies) {
            return Conclude(check, LogFileVerdict::Refused,
                            "new files in the folder are writable by users other than "
                            "administrators (%s)",
                            text.Get());
        }
        return Conclude(check, LogFileVerdict::Refused,
                        "the %s is writable by users other than administrators (%s)", what,
                        text.Get());
    }
    return true;
}

// The same owner and write rules for the folder and for a log file that is already there.
bool CheckOwnerAndAccess(HANDLE object, const char* what, bool folder, TrustedAccounts& trusted,
                         LogFileCheck& check) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status = GetSecurityInfo(object, SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         &owner, nullptr, &dacl, nullptr, &descriptor);
    const UniqueLocalMemory held(descriptor);
    if (status != ERROR_SUCCESS) {
        return Conclude(check, LogFileVerdict::Refused,
                        "the %s's owner and permissions cannot be read (error %lu)", what,
                        static_cast<unsigned long>(status));
    }
    if (owner == nullptr || !IsValidSid(owner)) {
        return Conclude(check, LogFileVerdict::Refused, "the %s has no owner", what);
    }
    if (!trusted.Trusts(owner)) {
        if (trusted.Unknown(check)) {
            return false;
        }
        const SidText text(owner);
        return Conclude(check, LogFileVerdict::Refused,
                        "the %s is owned by %s, not by an administrator", what, text.Get());
    }
    if (dacl == nullptr) {
        return Conclude(check, LogFileVerdict::Refused,
                        "the %s has no access list, so anyone may write to it", what);
    }
    return CheckAccessList(dacl, what, folder, trusted, check);
}

bool IsSeparator(char c) {
    return c != '\0' && std::strchr(kPathSeparators, c) != nullptr;
}

// A final path without the prefix that only final paths carry: "\\?\C:\x" is "C:\x", and
// "\\?\UNC\server\share" is "\\server\share".
char* WithoutPrefix(char* path) {
    if (std::strncmp(path, "\\\\?\\UNC\\", 8) == 0) {
        path[6] = '\\';
        return path + 6;
    }
    return std::strncmp(path, "\\\\?\\", 4) == 0 ? path + 4 : path;
}

// As Windows compares names, without regard to case (of ASCII letters; any other byte must be
// the same), either slash separating.
bool SamePath(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const bool separators = IsSeparator(*a) && IsSeparator(*b);
        const auto lowerA =
            static_cast<unsigned char>(*a >= 'A' && *a <= 'Z' ? *a - 'A' + 'a' : *a);
        const auto lowerB =
            static_cast<unsigned char>(*b >= 'A' && *b <= 'Z' ? *b - 'A' + 'a' : *b);
        if (!separators && lowerA != lowerB) {
            return false;
        }
        if (*a == '\0') {
            return true;
        }
    }
}

// Why the held folder is elsewhere: a reparse point among the folders above it, or something
// else (another drive mapped onto it, or the path changed meanwhile).
bool RefuseElsewhere(const char* folderPath, LogFileCheck& check) {
    char above[kLogPathCapacity];
    std::memcpy(above, folderPath, std::strlen(folderPath) + 1);
    for (std::size_t length = std::strlen(above); length > 0;) {
        while (length > 0 && !IsSeparator(above[length - 1])) {
            --length;
        }
        while (length > 1 && IsSeparator(above[length - 1])) {
            --length;
        }
        // A root is never a reparse point, and a drive's ("C:") names its current folder.
        if (length <= 1 || above[length - 1] == ':') {
            break;
        }
        above[length] = '\0';
        const UniqueKernelObject folder(CreateFileA(
            above, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
            nullptr));
        FILE_ATTRIBUTE_TAG_INFO info = {};
        if (folder &&
            GetFileInformationByHandleEx(folder.get(), FileAttributeTagInfo, &info, sizeof info) &&
            (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return Conclude(check, LogFileVerdict::Refused,
                            "a folder above the log is a junction or another reparse point");
        }
    }
    return Conclude(check, LogFileVerdict::Refused, "the folder is not where the path says");
}

// Windows resolves the folders above the log's before anything is checked: a junction there
// leads the path elsewhere unseen. The folder held must be the one the path names, its final
// path the path itself once short names are made long. `finalPath` receives it.
bool CheckFolderIsWhereThePathSays(HANDLE folder, const char* folderPath,
                                   char (&finalPath)[kFinalPathCapacity], LogFileCheck& check) {
    char longPath[kFinalPathCapacity];
    const DWORD longLength = GetLongPathNameA(folderPath, longPath, kFinalPathCapacity);
    const DWORD finalLength =
        longLength == 0 || longLength >= kFinalPathCapacity
            ? 0
            : GetFinalPathNameByHandleA(folder, finalPath, kFinalPathCapacity,
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (finalLength == 0 || finalLength >= kFinalPathCapacity) {
        return Conclude(check, LogFileVerdict::Refused,
                        "the folder's location cannot be read (error %lu)",
                        static_cast<unsigned long>(GetLastError()));
    }
    char held[kFinalPathCapacity];
    std::memcpy(held, finalPath, finalLength + 1);
    return SamePath(WithoutPrefix(held), WithoutPrefix(longPath)) ||
           RefuseElsewhere(folderPath, check);
}

bool CheckFolder(HANDLE folder, const char* folderPath, char (&finalPath)[kFinalPathCapacity],
                 TrustedAccounts& trusted, LogFileCheck& check) {
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
    return CheckFolderIsWhereThePathSays(folder, folderPath, finalPath, check) &&
           CheckOwnerAndAccess(folder, "folder", true, trusted, check);
}

// The file was opened by its name within the folder held, so it lies there unless its name led
// elsewhere: a link that the file system followed although asked not to (Wine follows a Unix
// link so). Its final path is the folder's and one name more.
bool CheckFileIsInFolder(const char* folderFinalPath, HANDLE file, LogFileCheck& check) {
    char filePath[kFinalPathCapacity];
    const DWORD fileLength = GetFinalPathNameByHandleA(file, filePath, kFinalPathCapacity,
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (fileLength == 0 || fileLength >= kFinalPathCapacity) {
        return Conclude(check, LogFileVerdict::Refused,
                        "the file's location cannot be read (error %lu)",
                        static_cast<unsigned long>(GetLastError()));
    }
    std::size_t base = std::strlen(folderFinalPath);
    if (base > 0 && IsSeparator(folderFinalPath[base - 1])) {
        --base; // a drive's root: "\\?\C:\"
    }
    const char* name = filePath + base + 1;
    if (fileLength <= base + 1 || std::strncmp(filePath, folderFinalPath, base) != 0 ||
        !IsSeparator(filePath[base]) || std::strpbrk(name, kPathSeparators) != nullptr) {
        return Conclude(check, LogFileVerdict::Refused,
                        "the file is not in the folder that was checked");
    }
    return true;
}

bool CheckFile(const char* folderFinalPath, HANDLE file, TrustedAccounts& trusted,
               LogFileCheck& check) {
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
    if (standard.NumberOfLinks != 1) {
        return Conclude(check, LogFileVerdict::Refused, "the file has %lu links",
                        static_cast<unsigned long>(standard.NumberOfLinks));
    }
    return CheckFileIsInFolder(folderFinalPath, file, check) &&
           CheckOwnerAndAccess(file, "file", false, trusted, check);
}

// The path made full, as Windows resolves it ("." and "..", the current folder), and split into
// its folder and its file's name. A bare name or a path ending in a separator is refused as it
// stands: the service's current folder is Windows' own.
bool SplitPath(const char* path, char (&folder)[kLogPathCapacity], char (&name)[kLogPathCapacity],
               LogFileCheck& check) {
    if (path == nullptr || std::strpbrk(path, kPathSeparators) == nullptr) {
        return Conclude(check, LogFileVerdict::Refused, "the path names no folder");
    }
    const std::size_t length = std::strlen(path);
    LPSTR part = nullptr;
    const DWORD fullLength =
        IsSeparator(path[length - 1]) ? 0 : GetFullPathNameA(path, kLogPathCapacity, folder, &part);
    if (fullLength >= kLogPathCapacity) {
        return Conclude(check, LogFileVerdict::Refused, "the path is too long");
    }
    // "C:\logs\.." names the drive's root.
    if (fullLength == 0 || part == nullptr) {
        return Conclude(check, LogFileVerdict::Refused, "the path names no file");
    }
    std::memcpy(name, part, std::strlen(part) + 1);
    // The folder keeps its separator where it is a root ("C:\", "\").
    std::size_t folderLength = static_cast<std::size_t>(part - folder) - 1;
    if (folderLength == 0 || (folderLength == 2 && folder[1] == ':')) {
        ++folderLength;
    }
    folder[folderLength] = '\0';
    return true;
}

// The file by its name within the folder held, so that it is that folder's whatever becomes of
// the path meanwhile, and made only now that the folder has passed. Never a folder; a reparse
// point at the name is opened as itself. Deny-none like the run-time's _SH_DENYNO. Gives the
// Windows error, or ERROR_SUCCESS.
DWORD OpenInFolder(HANDLE folder, const char* name, bool append, UniqueKernelObject& file) {
    WCHAR wide[kLogPathCapacity];
    const int units =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, wide, kLogPathCapacity);
    if (units <= 0) {
        return GetLastError();
    }
    UNICODE_STRING objectName = {};
    objectName.Length = static_cast<USHORT>((units - 1) * sizeof(WCHAR));
    objectName.MaximumLength = static_cast<USHORT>(units * sizeof(WCHAR));
    objectName.Buffer = wide;
    OBJECT_ATTRIBUTES attributes = {};
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io = {};
    HANDLE opened = nullptr;
    const NTSTATUS status = NtCreateFile(
        &opened,
        (append ? FILE_APPEND_DATA : 0) | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
        &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE,
        append ? FILE_OPEN_IF : FILE_OPEN,
        FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr,
        0);
    if (status < 0) { // warnings are failures too; informational statuses are not
        return RtlNtStatusToDosError(status);
    }
    file.reset(opened);
    return ERROR_SUCCESS;
}

std::FILE* OpenChecked(const char* path, bool append, LogFileCheck& check) {
    check = LogFileCheck{};
    char folderPath[kLogPathCapacity];
    char name[kLogPathCapacity];
    if (!SplitPath(path, folderPath, name, check)) {
        return nullptr;
    }
    // Held until the file is open. Listing takes part in sharing where reading attributes and
    // security alone would not: so held, without delete sharing, the folder can be neither
    // renamed nor deleted meanwhile. Reading nothing, the check alone needs no hold.
    const UniqueKernelObject folder(CreateFileA(
        folderPath, READ_CONTROL | FILE_READ_ATTRIBUTES | (append ? FILE_LIST_DIRECTORY : 0),
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder) {
        check.error = GetLastError();
        Conclude(check, LogFileVerdict::Unopened, "the folder cannot be opened (error %lu)",
                 check.error);
        return nullptr;
    }
    TrustedAccounts trusted;
    char folderFinalPath[kFinalPathCapacity];
    if (!CheckFolder(folder.get(), folderPath, folderFinalPath, trusted, check)) {
        return nullptr;
    }
    UniqueKernelObject file;
    const DWORD error = OpenInFolder(folder.get(), name, append, file);
    if (error != ERROR_SUCCESS) {
        if (!append && error == ERROR_FILE_NOT_FOUND) {
            check.verdict = LogFileVerdict::Sound; // the service would create it
            return nullptr;
        }
        check.error = error;
        Conclude(check, LogFileVerdict::Unopened, "the file cannot be opened (error %lu)",
                 check.error);
        return nullptr;
    }
    if (!CheckFile(folderFinalPath, file.get(), trusted, check)) {
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
