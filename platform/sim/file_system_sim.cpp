// Simulator face only: files, their security descriptors and the process's token. The files are
// the host's own; a host symbolic link stands for a reparse point. Owners and access lists are
// kept here per host file, seeded by the test controls, and so are the sharing modes of the
// handles open on each. Results follow Windows' documentation where Wine is more lenient
// (attributes read without FILE_READ_ATTRIBUTES).
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/security.h"
#include "platform/sim/core.h"
#include "platform/sim/security_control.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <stdio.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kErrorNoAccess = 998; // a buffer the call cannot use as the type it needs
constexpr DWORD kErrorBadLength = 24; // a buffer too small for the class asked for
constexpr WORD kSelfRelative = 0x8000;
constexpr WORD kDaclPresent = 0x0004;
constexpr WORD kDaclAutoInherited = 0x0400;
constexpr WORD kDaclProtected = 0x1000;
constexpr std::size_t kDescriptorHeader = 20; // SECURITY_DESCRIPTOR_RELATIVE
constexpr std::uintptr_t kHandleStep = 4;
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

using Lock = std::lock_guard<std::recursive_mutex>;
using Bytes = std::vector<BYTE>;

struct Descriptor {
    bool noOwner = false;
    Bytes owner;
    bool nullDacl = false;
    Bytes dacl;
    WORD control = 0;
};

struct Object {
    bool token = false;
    int fd = -1;
    DWORD access = 0;
    std::string path;
    DWORD linkAttributes = 0;   // a reparse point opened as itself
    std::uintptr_t sharing = 0; // its entry in State::sharing, 0 when it takes part in none
};

// What one open handle does to others on the same file: the access that sharing is about, and
// what it lets others do.
struct Sharing {
    dev_t device;
    ino_t inode;
    bool reads;
    bool writes;
    bool deletes;
    DWORD shareMode;
};

struct State {
    std::map<std::uintptr_t, Object> objects;
    std::uintptr_t nextHandle = 0x6a000;
    std::map<std::pair<dev_t, ino_t>, Descriptor> security;
    Bytes processUser;
    std::map<const void*, std::unique_ptr<Bytes>> localMemory;
    std::map<std::uintptr_t, Sharing> sharing;
    std::uintptr_t nextSharing = 1;
    std::function<void(const std::string&)> createFileHook;
};

// --- SIDs and SDDL, for the controls ------------------------------------------------------

[[noreturn]] void Misused(const std::string& what) {
    std::fprintf(stderr, "sim: %s\n", what.c_str());
    std::abort();
}

void PutDword(Bytes& out, DWORD value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<BYTE>(value >> shift));
    }
}

WORD GetWord(const Bytes& bytes, std::size_t at) {
    return at + 1 < bytes.size() ? static_cast<WORD>(bytes[at] | (bytes[at + 1] << 8)) : 0;
}

void PutWord(Bytes& out, std::size_t at, std::size_t value) {
    out[at] = static_cast<BYTE>(value);
    out[at + 1] = static_cast<BYTE>(value >> 8);
}

Bytes SidBytes(const std::string& text) {
    std::optional<Bytes> sid = sim::core::ParseSid(text);
    if (!sid) {
        Misused("not a SID: " + text);
    }
    return *sid;
}

DWORD Rights(const std::string& text) {
    if (text.compare(0, 2, "0x") == 0) {
        return static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 16));
    }
    static const std::map<std::string, DWORD> kCodes = {
        {"GA", GENERIC_ALL},  {"GR", GENERIC_READ}, {"GW", GENERIC_WRITE}, {"GX", GENERIC_EXECUTE},
        {"RC", READ_CONTROL}, {"SD", DELETE},       {"WD", WRITE_DAC},     {"WO", WRITE_OWNER},
        {"CC", 0x1},          {"DC", 0x2},          {"LC", 0x4},           {"SW", 0x8},
        {"RP", 0x10},         {"WP", 0x20},         {"DT", 0x40},          {"LO", 0x80},
        {"CR", 0x100},        {"FA", 0x1F01FF},     {"FR", 0x120089},      {"FW", 0x120116},
        {"FX", 0x1200A0}};
    DWORD mask = 0;
    for (std::size_t at = 0; at < text.size(); at += 2) {
        const auto code = kCodes.find(text.substr(at, 2));
        if (code == kCodes.end()) {
            Misused("unknown rights: " + text);
        }
        mask |= code->second;
    }
    return mask;
}

BYTE AceFlags(const std::string& text) {
    static const std::map<std::string, BYTE> kFlags = {{"OI", OBJECT_INHERIT_ACE},
                                                       {"CI", CONTAINER_INHERIT_ACE},
                                                       {"NP", NO_PROPAGATE_INHERIT_ACE},
                                                       {"IO", INHERIT_ONLY_ACE},
                                                       {"ID", INHERITED_ACE}};
    BYTE flags = 0;
    for (std::size_t at = 0; at < text.size(); at += 2) {
        const auto flag = kFlags.find(text.substr(at, 2));
        if (flag == kFlags.end()) {
            Misused("unknown ACE flags: " + text);
        }
        flags = static_cast<BYTE>(flags | flag->second);
    }
    return flags;
}

// One "(type;flags;rights;object;inherited object;sid)" in its binary layout.
Bytes Ace(const std::string& text, BYTE& aclRevision) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == ';') {
            fields.emplace_back();
        } else {
            fields.back().push_back(c);
        }
    }
    if (fields.size() != 6 || !fields[3].empty() || !fields[4].empty()) {
        Misused("unsupported ACE: " + text);
    }
    static const std::map<std::string, BYTE> kTypes = {{"A", ACCESS_ALLOWED_ACE_TYPE},
                                                       {"D", ACCESS_DENIED_ACE_TYPE},
                                                       {"XA", ACCESS_ALLOWED_CALLBACK_ACE_TYPE},
                                                       {"OA", ACCESS_ALLOWED_OBJECT_ACE_TYPE}};
    const auto type = kTypes.find(fields[0]);
    if (type == kTypes.end()) {
        Misused("unsupported ACE type: " + text);
    }
    Bytes ace = {type->second, AceFlags(fields[1]), 0, 0};
    PutDword(ace, Rights(fields[2]));
    if (type->second == ACCESS_ALLOWED_OBJECT_ACE_TYPE) {
        PutDword(ace, 0); // neither object type present
        aclRevision = 4;  // ACL_REVISION_DS
    }
    const Bytes sid = SidBytes(fields[5]);
    ace.insert(ace.end(), sid.begin(), sid.end());
    PutWord(ace, 2, ace.size());
    return ace;
}

Descriptor ParseSddl(const std::string& sddl) {
    Descriptor descriptor;
    const std::size_t daclAt = sddl.find("D:");
    if (sddl.compare(0, 2, "O:") != 0 || daclAt == std::string::npos) {
        Misused("SDDL needs O: and D: " + sddl);
    }
    descriptor.owner = SidBytes(sddl.substr(2, daclAt - 2));
    std::string dacl = sddl.substr(daclAt + 2);
    descriptor.control = static_cast<WORD>(kSelfRelative | kDaclPresent);
    if (dacl == "NO_ACCESS_CONTROL") {
        descriptor.nullDacl = true;
        return descriptor;
    }
    for (;;) {
        if (dacl.compare(0, 1, "P") == 0) {
            descriptor.control = static_cast<WORD>(descriptor.control | kDaclProtected);
            dacl.erase(0, 1);
        } else if (dacl.compare(0, 2, "AI") == 0) {
            descriptor.control = static_cast<WORD>(descriptor.control | kDaclAutoInherited);
            dacl.erase(0, 2);
        } else {
            break;
        }
    }
    BYTE revision = 2; // ACL_REVISION
    Bytes aces;
    std::size_t count = 0;
    while (!dacl.empty()) {
        const std::size_t close = dacl.find(')');
        if (dacl[0] != '(' || close == std::string::npos) {
            Misused("malformed DACL: " + sddl);
        }
        const Bytes ace = Ace(dacl.substr(1, close - 1), revision);
        aces.insert(aces.end(), ace.begin(), ace.end());
        ++count;
        dacl.erase(0, close + 1);
    }
    descriptor.dacl = {revision, 0, 0, 0, 0, 0, 0, 0};
    PutWord(descriptor.dacl, 2, descriptor.dacl.size() + aces.size());
    PutWord(descriptor.dacl, 4, count);
    descriptor.dacl.insert(descriptor.dacl.end(), aces.begin(), aces.end());
    return descriptor;
}

// --- State --------------------------------------------------------------------------------

State& TheState() {
    static State* state = [] {
        auto* fresh = new State(); // never destroyed: see core.cpp
        fresh->processUser = SidBytes("SY");
        return fresh;
    }();
    return *state;
}

template <typename Result> Result Fail(DWORD code, Result result) {
    SetLastError(code);
    return result;
}

Object* Find(HANDLE handle) {
    auto found = TheState().objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == TheState().objects.end() ? nullptr : &found->second;
}

Object* FindFile(HANDLE handle) {
    Object* object = Find(handle);
    return object != nullptr && !object->token ? object : nullptr;
}

std::string Describe(HANDLE handle) {
    Lock lock(sim::core::Mutex());
    const Object* object = Find(handle);
    if (object == nullptr) {
        return "(invalid)";
    }
    return object->token ? "token" : object->path;
}

// A file or folder the host opened, as an object a handle can stand for. A link opened as
// itself is the reparse point Windows would show in its place.
Object Opened(int fd, int flags, DWORD access, const std::string& path, bool asLink, bool folder) {
    if ((flags & O_NONBLOCK) != 0) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    Object object;
    object.fd = fd;
    object.access = access;
    object.path = path;
    if (asLink) {
        object.linkAttributes = FILE_ATTRIBUTE_REPARSE_POINT |
                                (folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
    }
    return object;
}

HANDLE Register(Object object) {
    State& s = TheState();
    const std::uintptr_t handle = s.nextHandle;
    s.nextHandle += kHandleStep;
    s.objects.emplace(handle, std::move(object));
    sim::core::HandleOpened(sim::HandleKind::KernelObject);
    return reinterpret_cast<HANDLE>(handle);
}

void Unregister(HANDLE handle, bool closeFd) {
    State& s = TheState();
    auto found = s.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (closeFd && found->second.fd >= 0) {
        close(found->second.fd);
        s.sharing.erase(found->second.sharing);
    }
    s.objects.erase(found);
}

bool Grants(DWORD access, DWORD wanted) {
    return (access & (wanted | GENERIC_ALL)) != 0;
}

// Windows' rule: only reading (or executing), writing (or appending) and deleting take part. A
// handle that asks for none of them, attributes or security alone, neither conflicts with others
// nor holds them off, whatever its share mode; one that asks for some must let the open handles
// do what they do, and they must let it do what it asks. Takes part under the simulator's lock.
DWORD ShareOpen(int fd, DWORD access, DWORD shareMode, std::uintptr_t& entry) {
    entry = 0;
    struct stat status = {};
    if (fstat(fd, &status) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    const Sharing wanted = {
        status.st_dev,
        status.st_ino,
        Grants(access, FILE_READ_DATA | FILE_EXECUTE | GENERIC_READ | GENERIC_EXECUTE),
        Grants(access, FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE),
        Grants(access, DELETE),
        shareMode};
    if (!wanted.reads && !wanted.writes && !wanted.deletes) {
        return ERROR_SUCCESS;
    }
    State& s = TheState();
    for (const auto& [id, open] : s.sharing) {
        if (open.device != wanted.device || open.inode != wanted.inode) {
            continue;
        }
        const bool refused = (wanted.reads && (open.shareMode & FILE_SHARE_READ) == 0) ||
                             (wanted.writes && (open.shareMode & FILE_SHARE_WRITE) == 0) ||
                             (wanted.deletes && (open.shareMode & FILE_SHARE_DELETE) == 0) ||
                             (open.reads && (shareMode & FILE_SHARE_READ) == 0) ||
                             (open.writes && (shareMode & FILE_SHARE_WRITE) == 0) ||
                             (open.deletes && (shareMode & FILE_SHARE_DELETE) == 0);
        if (refused) {
            return ERROR_SHARING_VIOLATION;
        }
    }
    entry = s.nextSharing++;
    s.sharing.emplace(entry, wanted);
    return ERROR_SUCCESS;
}

std::string Parent(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

DWORD ErrorFromErrno(int error, const std::string& path) {
    struct stat parent = {};
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return stat(Parent(path).c_str(), &parent) == 0 && S_ISDIR(parent.st_mode)
                   ? ERROR_FILE_NOT_FOUND
                   : ERROR_PATH_NOT_FOUND;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ELOOP:
        return ERROR_CANT_RESOLVE_FILENAME;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// --- The log stream -----------------------------------------------------------------------

struct StreamCookie {
    StreamCookie(int descriptor, std::uintptr_t sharingEntry)
        : fd(descriptor), sharing(sharingEntry) {}
    int fd;
    std::uintptr_t sharing; // the handle's share entry, which the stream keeps until it closes
};

// Not O_APPEND: Windows' run-time seeks to the end and then writes, so two unlocked writers can
// both seek before either writes and overwrite one another, as they can on Windows.
ssize_t WriteAtTheEnd(void* cookie, const char* data, size_t size) {
    const int fd = static_cast<StreamCookie*>(cookie)->fd;
    if (lseek(fd, 0, SEEK_END) < 0) {
        return -1;
    }
    size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // stdio treats a short count as an error; a count already written must not repeat.
            return written > 0 ? static_cast<ssize_t>(written) : -1;
        }
        written += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(written);
}

int SeekStream(void* cookie, off64_t* offset, int whence) {
    const off64_t position = lseek64(static_cast<StreamCookie*>(cookie)->fd, *offset, whence);
    if (position < 0) {
        return -1;
    }
    *offset = position;
    return 0;
}

// Closing the stream closes the handle it took over.
int CloseStream(void* cookie) {
    StreamCookie* owned = static_cast<StreamCookie*>(cookie);
    const int result = close(owned->fd);
    {
        Lock lock(sim::core::Mutex());
        TheState().sharing.erase(owned->sharing);
    }
    delete owned;
    sim::core::HandleClosed(sim::HandleKind::KernelObject);
    return result;
}

} // namespace

namespace sim {

void SetFileSecurity(const std::string& path, const std::string& sddl) {
    struct stat status = {};
    if (lstat(path.c_str(), &status) != 0) {
        Misused("no file at " + path);
    }
    Descriptor descriptor = ParseSddl(sddl);
    Lock lock(core::Mutex());
    TheState().security[{status.st_dev, status.st_ino}] = std::move(descriptor);
}

void SetRawFileSecurity(const std::string& path, std::optional<std::vector<BYTE>> owner,
                        std::optional<std::vector<BYTE>> dacl) {
    struct stat status = {};
    if (lstat(path.c_str(), &status) != 0) {
        Misused("no file at " + path);
    }
    Descriptor descriptor;
    descriptor.control = static_cast<WORD>(kSelfRelative | kDaclPresent);
    descriptor.noOwner = !owner;
    if (owner) {
        // Revision, count and authority, and as many sub-authorities as the count says.
        const std::size_t claimed =
            8 + 4 * static_cast<std::size_t>(owner->size() > 1 ? (*owner)[1] : 0);
        owner->resize(std::max(owner->size(), claimed), 0);
        descriptor.owner = std::move(*owner);
    }
    descriptor.nullDacl = !dacl;
    if (dacl) {
        dacl->resize(std::max<std::size_t>({dacl->size(), sizeof(ACL), GetWord(*dacl, 2)}), 0);
        descriptor.dacl = std::move(*dacl);
    }
    Lock lock(core::Mutex());
    TheState().security[{status.st_dev, status.st_ino}] = std::move(descriptor);
}

void SetCreateFileHook(std::function<void(const std::string& path)> hook) {
    Lock lock(core::Mutex());
    TheState().createFileHook = std::move(hook);
}

void SetProcessUser(const std::string& sid) {
    Bytes bytes = SidBytes(sid);
    Lock lock(core::Mutex());
    TheState().processUser = std::move(bytes);
}

namespace core {
void* HoldLocalMemory(std::vector<BYTE> bytes) {
    auto held = std::make_unique<Bytes>(std::move(bytes));
    void* block = held->data();
    Lock lock(Mutex());
    TheState().localMemory.emplace(block, std::move(held));
    HandleOpened(HandleKind::LocalMemory);
    return block;
}

void ResetFileSystem() {
    Lock lock(Mutex());
    State& s = TheState();
    for (auto& [handle, object] : s.objects) {
        if (object.fd >= 0) {
            close(object.fd);
        }
    }
    s.objects.clear();
    s.security.clear();
    s.localMemory.clear();
    s.sharing.clear();
    s.processUser = SidBytes("SY");
    s.createFileHook = nullptr;
}
} // namespace core

} // namespace sim

// --- Files --------------------------------------------------------------------------------

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    (void)lpSecurityAttributes; // the file gets the descriptor its folder would give it
    if (const DWORD fault =
            sim::core::Enter("CreateFileA", ERROR_ACCESS_DENIED, "%s, %#x, %#x, %u, %#x",
                             lpFileName == nullptr ? "(null)" : lpFileName, dwDesiredAccess,
                             dwShareMode, dwCreationDisposition, dwFlagsAndAttributes)) {
        return Fail(fault, INVALID_HANDLE_VALUE);
    }
    if (lpFileName == nullptr || hTemplateFile != nullptr || dwCreationDisposition < CREATE_NEW ||
        dwCreationDisposition > TRUNCATE_EXISTING) {
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    const std::string path = lpFileName;
    std::function<void(const std::string&)> hook;
    {
        Lock lock(sim::core::Mutex());
        hook = TheState().createFileHook;
    }
    if (hook) {
        hook(path);
    }
    if (path.empty()) {
        return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    struct stat named = {};
    struct stat target = {};
    const bool link = lstat(path.c_str(), &named) == 0 && S_ISLNK(named.st_mode);
    const bool targetExists = stat(path.c_str(), &target) == 0;
    const bool asLink = link && (dwFlagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    // A link to a folder stands for a junction, which is a folder itself.
    const bool folder = targetExists && S_ISDIR(target.st_mode);
    const bool exists = asLink || targetExists;
    const bool backup = (dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0;
    const bool reads = Grants(dwDesiredAccess, FILE_READ_DATA | GENERIC_READ);
    const bool writes = Grants(dwDesiredAccess, FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE);
    const bool creates =
        dwCreationDisposition != OPEN_EXISTING && dwCreationDisposition != TRUNCATE_EXISTING;

    if (exists && dwCreationDisposition == CREATE_NEW) {
        return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
    }
    // Documented: only FILE_FLAG_BACKUP_SEMANTICS gives a handle to a folder.
    if (folder && !backup) {
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    int flags = O_CLOEXEC;
    if (asLink) {
        flags |= O_PATH | O_NOFOLLOW;
    } else if (folder) {
        flags |= reads ? O_RDONLY | O_DIRECTORY : O_PATH | O_DIRECTORY;
    } else if (!exists && creates) {
        flags |= (reads ? O_RDWR : O_WRONLY) | O_CREAT | O_NONBLOCK;
    } else if (reads || writes) {
        flags |= (reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY) | O_NONBLOCK;
    } else {
        flags |= O_PATH; // attributes and security only
    }
    const bool truncates =
        dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
    if (!asLink && !folder && (flags & O_PATH) == 0 && dwCreationDisposition == CREATE_NEW) {
        flags |= O_EXCL;
    }
    const int fd = open(path.c_str(), flags, 0644);
    if (fd < 0) {
        return Fail(ErrorFromErrno(errno, path), INVALID_HANDLE_VALUE);
    }
    Object object = Opened(fd, flags, dwDesiredAccess, path, asLink, folder);
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    // Refused by a handle already open, the file is left as it was: nothing truncated.
    if (const DWORD refused = ShareOpen(fd, dwDesiredAccess, dwShareMode, object.sharing)) {
        close(fd);
        return Fail(refused, INVALID_HANDLE_VALUE);
    }
    if (truncates && (flags & O_PATH) == 0 && !folder && !asLink && ftruncate(fd, 0) != 0) {
        TheState().sharing.erase(object.sharing);
        close(fd);
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    const HANDLE handle = Register(std::move(object));
    const bool existed =
        exists && (dwCreationDisposition == OPEN_ALWAYS || dwCreationDisposition == CREATE_ALWAYS);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL CloseHandle(HANDLE hObject) {
    if (sim::core::IsEvent(hObject)) {
        return sim::core::CloseEvent(hObject);
    }
    sim::core::Enter("CloseHandle", 0, "%s", Describe(hObject).c_str());
    Lock lock(sim::core::Mutex());
    if (hObject == kCurrentProcess) {
        return TRUE; // a pseudo-handle: closing it does nothing
    }
    if (Find(hObject) == nullptr) {
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    Unregister(hObject, true);
    sim::core::HandleClosed(sim::HandleKind::KernelObject);
    return TRUE;
}

DWORD GetFileType(HANDLE hFile) {
    if (const DWORD fault =
            sim::core::Enter("GetFileType", ERROR_INVALID_HANDLE, "%s", Describe(hFile).c_str())) {
        return Fail(fault, static_cast<DWORD>(FILE_TYPE_UNKNOWN));
    }
    Lock lock(sim::core::Mutex());
    const Object* file = FindFile(hFile);
    struct stat status = {};
    if (file == nullptr || fstat(file->fd, &status) != 0) {
        return Fail(ERROR_INVALID_HANDLE, static_cast<DWORD>(FILE_TYPE_UNKNOWN));
    }
    SetLastError(NO_ERROR);
    if (S_ISCHR(status.st_mode)) {
        return FILE_TYPE_CHAR;
    }
    if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
        return FILE_TYPE_PIPE;
    }
    return FILE_TYPE_DISK;
}

BOOL GetFileInformationByHandleEx(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                  LPVOID lpFileInformation, DWORD dwBufferSize) {
    if (const DWORD fault =
            sim::core::Enter("GetFileInformationByHandleEx", ERROR_ACCESS_DENIED, "%s, %d",
                             Describe(hFile).c_str(), static_cast<int>(FileInformationClass))) {
        return Fail(fault, FALSE);
    }
    Lock lock(sim::core::Mutex());
    const Object* file = FindFile(hFile);
    struct stat status = {};
    if (file == nullptr || fstat(file->fd, &status) != 0) {
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    const bool folder = S_ISDIR(status.st_mode);
    if (FileInformationClass == FileStandardInfo) {
        if (dwBufferSize < sizeof(FILE_STANDARD_INFO) || lpFileInformation == nullptr) {
            return Fail(kErrorBadLength, FALSE);
        }
        FILE_STANDARD_INFO info = {};
        info.EndOfFile.QuadPart = folder ? 0 : static_cast<LONGLONG>(status.st_size);
        info.AllocationSize.QuadPart = static_cast<LONGLONG>(status.st_blocks) * 512;
        // NTFS counts one link for a folder, where a Unix folder counts its subfolders too.
        info.NumberOfLinks = folder ? 1 : static_cast<DWORD>(status.st_nlink);
        info.Directory = folder ? 1 : 0;
        std::memcpy(lpFileInformation, &info, sizeof info);
        return TRUE;
    }
    if (FileInformationClass != FileAttributeTagInfo) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE); // the classes hingeflow reads
    }
    // Attributes are read with this right, which Wine does not ask for.
    if (!Grants(file->access, FILE_READ_ATTRIBUTES | GENERIC_READ | GENERIC_EXECUTE)) {
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    }
    if (dwBufferSize < sizeof(FILE_ATTRIBUTE_TAG_INFO) || lpFileInformation == nullptr) {
        return Fail(kErrorBadLength, FALSE);
    }
    FILE_ATTRIBUTE_TAG_INFO info = {};
    info.FileAttributes = file->linkAttributes != 0 ? file->linkAttributes
                          : folder                  ? FILE_ATTRIBUTE_DIRECTORY
                                                    : FILE_ATTRIBUTE_ARCHIVE;
    // What Windows tags a junction and a symbolic link with.
    constexpr DWORD kMountPointTag = 0xA0000003;
    constexpr DWORD kSymbolicLinkTag = 0xA000000C;
    info.ReparseTag = file->linkAttributes == 0 ? 0 : folder ? kMountPointTag : kSymbolicLinkTag;
    std::memcpy(lpFileInformation, &info, sizeof info);
    return TRUE;
}

DWORD GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath, DWORD cchFilePath,
                                DWORD dwFlags) {
    if (const DWORD fault =
            sim::core::Enter("GetFinalPathNameByHandleA", ERROR_ACCESS_DENIED, "%s, %u, %#x",
                             Describe(hFile).c_str(), cchFilePath, dwFlags)) {
        return Fail(fault, DWORD{0});
    }
    Lock lock(sim::core::Mutex());
    const Object* file = FindFile(hFile);
    if (file == nullptr) {
        return Fail(ERROR_INVALID_HANDLE, DWORD{0});
    }
    if (dwFlags != (FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) {
        return Fail(ERROR_INVALID_PARAMETER, DWORD{0}); // the one form simulated
    }
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", file->fd);
    // As Windows gives a DOS volume's path: "\\?\" before it.
    char path[PATH_MAX] = "\\\\?\\";
    constexpr std::size_t kPrefix = 4;
    const ssize_t length = readlink(link, path + kPrefix, sizeof path - kPrefix);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path - kPrefix) {
        return Fail(ERROR_INVALID_HANDLE, DWORD{0});
    }
    const auto needed = static_cast<DWORD>(length + kPrefix);
    // Documented: too small a buffer is left alone, and the size it needs, terminator included,
    // is returned.
    if (lpszFilePath == nullptr || cchFilePath <= needed) {
        return needed + 1;
    }
    std::memcpy(lpszFilePath, path, needed);
    lpszFilePath[needed] = '\0';
    return needed;
}

// --- Paths -------------------------------------------------------------------------------

// Lexical, as Windows does it: the current folder in front of a relative path, "." and ".."
// resolved, and repeated separators made one; nothing is looked up.
DWORD GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart) {
    sim::core::Enter("GetFullPathNameA", 0, "%s, %u", lpFileName == nullptr ? "(null)" : lpFileName,
                     nBufferLength);
    if (lpFileName == nullptr || *lpFileName == '\0') {
        return Fail(ERROR_INVALID_NAME, DWORD{0});
    }
    std::string absolute = lpFileName;
    if (absolute[0] != '/') {
        char here[PATH_MAX];
        if (getcwd(here, sizeof here) == nullptr) {
            return Fail(ERROR_FILENAME_EXCED_RANGE, DWORD{0});
        }
        absolute = std::string(here) + "/" + absolute;
    }
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at <= absolute.size()) {
        std::size_t slash = absolute.find('/', at);
        slash = slash == std::string::npos ? absolute.size() : slash;
        const std::string part = absolute.substr(at, slash - at);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = slash + 1;
    }
    std::string full;
    for (const std::string& part : parts) {
        full += "/" + part;
    }
    const bool folderOnly = full.empty() || absolute.back() == '/';
    if (folderOnly) {
        full += "/";
    }
    if (nBufferLength <= full.size() || lpBuffer == nullptr) {
        return static_cast<DWORD>(full.size() + 1);
    }
    std::memcpy(lpBuffer, full.c_str(), full.size() + 1);
    if (lpFilePart != nullptr) {
        *lpFilePart = folderOnly ? nullptr : lpBuffer + full.find_last_of('/') + 1;
    }
    return static_cast<DWORD>(full.size());
}

// This file system has no short names, so an existing path is its own long form.
DWORD GetLongPathNameA(LPCSTR lpszShortPath, LPSTR lpszLongPath, DWORD cchBuffer) {
    if (const DWORD fault =
            sim::core::Enter("GetLongPathNameA", ERROR_ACCESS_DENIED, "%s, %u",
                             lpszShortPath == nullptr ? "(null)" : lpszShortPath, cchBuffer)) {
        return Fail(fault, DWORD{0});
    }
    if (lpszShortPath == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, DWORD{0});
    }
    const std::string path = lpszShortPath;
    struct stat status = {};
    if (stat(path.c_str(), &status) != 0) {
        return Fail(ErrorFromErrno(errno, path), DWORD{0});
    }
    if (cchBuffer <= path.size() || lpszLongPath == nullptr) {
        return static_cast<DWORD>(path.size() + 1);
    }
    std::memcpy(lpszLongPath, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

// The ANSI code page taken as ISO 8859-1: each byte is the code unit of the same value, which
// the native calls below turn back into the same byte.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    if (const DWORD fault =
            sim::core::Enter("MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION, "%u, %#x, %d, %d",
                             CodePage, dwFlags, cbMultiByte, cchWideChar)) {
        return Fail(fault, 0);
    }
    if (CodePage != CP_ACP || (dwFlags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0 ||
        lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (lpWideCharStr == nullptr && cchWideChar != 0)) {
        return Fail(ERROR_INVALID_PARAMETER, 0);
    }
    const std::size_t units =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    if (cchWideChar == 0) {
        return static_cast<int>(units);
    }
    if (static_cast<std::size_t>(cchWideChar) < units) {
        return Fail(ERROR_INSUFFICIENT_BUFFER, 0);
    }
    for (std::size_t i = 0; i < units; ++i) {
        lpWideCharStr[i] = static_cast<WCHAR>(static_cast<unsigned char>(lpMultiByteStr[i]));
    }
    return static_cast<int>(units);
}

// --- The native open ------------------------------------------------------------------------

namespace {

constexpr NTSTATUS Status(std::uint32_t value) {
    return static_cast<NTSTATUS>(value);
}
constexpr NTSTATUS kStatusInvalidHandle = Status(0xC0000008);
constexpr NTSTATUS kStatusInvalidParameter = Status(0xC000000D);
constexpr NTSTATUS kStatusAccessDenied = Status(0xC0000022);
constexpr NTSTATUS kStatusObjectNameInvalid = Status(0xC0000033);
constexpr NTSTATUS kStatusObjectNameNotFound = Status(0xC0000034);
constexpr NTSTATUS kStatusObjectNameCollision = Status(0xC0000035);
constexpr NTSTATUS kStatusObjectPathNotFound = Status(0xC000003A);
constexpr NTSTATUS kStatusSharingViolation = Status(0xC0000043);
constexpr NTSTATUS kStatusFileIsADirectory = Status(0xC00000BA);
constexpr NTSTATUS kStatusNotADirectory = Status(0xC0000103);
constexpr NTSTATUS kStatusNameTooLong = Status(0xC0000106);
// A Win32 code carried as a status (FACILITY_NTWIN32), as an injected fault is.
constexpr std::uint32_t kWin32Facility = 0xC0070000u;

NTSTATUS StatusOfFault(DWORD fault) {
    return fault >= 0xC0000000u ? Status(fault) : Status(kWin32Facility | (fault & 0xFFFFu));
}

NTSTATUS StatusOfErrno(int error) {
    switch (error) {
    case ENOENT:
        return kStatusObjectNameNotFound;
    case ENOTDIR:
        return kStatusObjectPathNotFound;
    case EEXIST:
        return kStatusObjectNameCollision;
    case EISDIR:
        return kStatusFileIsADirectory;
    case ENAMETOOLONG:
        return kStatusNameTooLong;
    default:
        return kStatusAccessDenied;
    }
}

// One name within the folder, as the units of the name; nullopt for a name this simulator does
// not open (more than one component, or a unit no ANSI byte makes).
std::optional<std::string> OneName(const UNICODE_STRING* name, NTSTATUS& status) {
    status = kStatusObjectNameInvalid;
    if (name == nullptr || name->Buffer == nullptr || name->Length % sizeof(WCHAR) != 0 ||
        name->Length > name->MaximumLength) {
        status = kStatusInvalidParameter;
        return std::nullopt;
    }
    std::string text;
    for (std::size_t i = 0; i < name->Length / sizeof(WCHAR); ++i) {
        const auto unit = static_cast<std::uint32_t>(name->Buffer[i]);
        if (unit == 0 || unit > 0xFF || unit == '/') {
            return std::nullopt;
        }
        if (unit == '\\') {
            status = kStatusInvalidParameter; // a path below the folder: not simulated
            return std::nullopt;
        }
        text.push_back(static_cast<char>(unit));
    }
    if (text.empty()) {
        status = kStatusInvalidParameter; // the folder itself: not simulated
        return std::nullopt;
    }
    if (text == "." || text == "..") {
        return std::nullopt;
    }
    return text;
}

} // namespace

// Only what opening a name within a folder already held needs: RootDirectory a folder's handle,
// ObjectName one name in it, and FILE_OPEN, FILE_CREATE or FILE_OPEN_IF.
NTSTATUS NtCreateFile(HANDLE* FileHandle, ACCESS_MASK DesiredAccess,
                      POBJECT_ATTRIBUTES ObjectAttributes, PIO_STATUS_BLOCK IoStatusBlock,
                      LARGE_INTEGER* AllocationSize, ULONG FileAttributes, ULONG ShareAccess,
                      ULONG CreateDisposition, ULONG CreateOptions, PVOID EaBuffer,
                      ULONG EaLength) {
    (void)FileAttributes; // the file gets the descriptor its folder would give it
    NTSTATUS nameStatus = 0;
    const std::optional<std::string> name = ObjectAttributes != nullptr
                                                ? OneName(ObjectAttributes->ObjectName, nameStatus)
                                                : std::nullopt;
    if (const DWORD fault = sim::core::Enter(
            "NtCreateFile", static_cast<DWORD>(kStatusAccessDenied), "%s in %s, %#x, %#x, %u, %#x",
            name ? name->c_str() : "(unnamed)",
            ObjectAttributes == nullptr ? "(null)"
                                        : Describe(ObjectAttributes->RootDirectory).c_str(),
            DesiredAccess, ShareAccess, CreateDisposition, CreateOptions)) {
        return StatusOfFault(fault);
    }
    if (FileHandle == nullptr || IoStatusBlock == nullptr || ObjectAttributes == nullptr ||
        ObjectAttributes->Length != sizeof(OBJECT_ATTRIBUTES) || AllocationSize != nullptr ||
        EaBuffer != nullptr || EaLength != 0 || CreateDisposition < FILE_OPEN ||
        CreateDisposition > FILE_OPEN_IF ||
        ((CreateOptions & FILE_DIRECTORY_FILE) != 0 &&
         (CreateOptions & FILE_NON_DIRECTORY_FILE) != 0) ||
        // Documented: synchronous I/O needs the right to wait on the handle.
        ((CreateOptions & FILE_SYNCHRONOUS_IO_NONALERT) != 0 &&
         (DesiredAccess & SYNCHRONIZE) == 0)) {
        return kStatusInvalidParameter;
    }
    if (!name) {
        return nameStatus;
    }
    std::string folderPath;
    int folderFd = -1;
    {
        Lock lock(sim::core::Mutex());
        const Object* folder = FindFile(ObjectAttributes->RootDirectory);
        struct stat status = {};
        if (folder == nullptr || fstat(folder->fd, &status) != 0) {
            return kStatusInvalidHandle;
        }
        if (!S_ISDIR(status.st_mode) || folder->linkAttributes != 0) {
            return kStatusInvalidParameter;
        }
        folderPath = folder->path;
        folderFd = dup(folder->fd); // the caller may close the folder meanwhile
    }
    const std::string path = folderPath + (folderPath.back() == '/' ? "" : "/") + *name;
    std::function<void(const std::string&)> hook;
    {
        Lock lock(sim::core::Mutex());
        hook = TheState().createFileHook;
    }
    if (hook) {
        hook(path);
    }
    struct stat named = {};
    struct stat target = {};
    const bool present = fstatat(folderFd, name->c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0;
    const bool link = present && S_ISLNK(named.st_mode);
    const bool targetExists = fstatat(folderFd, name->c_str(), &target, 0) == 0;
    const bool asLink = link && (CreateOptions & FILE_OPEN_REPARSE_POINT) != 0;
    const bool folder = targetExists && S_ISDIR(target.st_mode);
    const bool exists = asLink || targetExists;
    NTSTATUS refused = 0;
    if (exists && CreateDisposition == FILE_CREATE) {
        refused = kStatusObjectNameCollision;
    } else if (!exists && CreateDisposition == FILE_OPEN) {
        refused = kStatusObjectNameNotFound;
    } else if (folder && (CreateOptions & FILE_NON_DIRECTORY_FILE) != 0) {
        refused = kStatusFileIsADirectory;
    } else if (exists && !folder && (CreateOptions & FILE_DIRECTORY_FILE) != 0) {
        refused = kStatusNotADirectory;
    }
    if (refused != 0) {
        close(folderFd);
        return refused;
    }
    const bool reads = Grants(DesiredAccess, FILE_READ_DATA | GENERIC_READ);
    const bool writes = Grants(DesiredAccess, FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE);
    int flags = O_CLOEXEC;
    if (asLink) {
        flags |= O_PATH | O_NOFOLLOW;
    } else if (folder) {
        flags |= reads ? O_RDONLY | O_DIRECTORY : O_PATH | O_DIRECTORY;
    } else if (!exists) {
        flags |= (reads ? O_RDWR : O_WRONLY) | O_CREAT | O_EXCL | O_NONBLOCK;
    } else if (reads || writes) {
        flags |= (reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY) | O_NONBLOCK;
    } else {
        flags |= O_PATH;
    }
    const int fd = openat(folderFd, name->c_str(), flags, 0644);
    const int openError = errno;
    close(folderFd);
    if (fd < 0) {
        return StatusOfErrno(openError);
    }
    Object object = Opened(fd, flags, DesiredAccess, path, asLink, folder);
    Lock lock(sim::core::Mutex());
    if (ShareOpen(fd, DesiredAccess, ShareAccess, object.sharing) != ERROR_SUCCESS) {
        close(fd);
        if (!exists) {
            unlink(path.c_str());
        }
        return kStatusSharingViolation;
    }
    *FileHandle = Register(std::move(object));
    IoStatusBlock->Status = 0;
    IoStatusBlock->Information = exists ? FILE_OPENED : FILE_CREATED;
    return 0;
}

// Documented: a status without a Win32 counterpart gives ERROR_MR_MID_NOT_FOUND.
ULONG RtlNtStatusToDosError(NTSTATUS Status) {
    sim::core::Enter("RtlNtStatusToDosError", 0, "%#x", static_cast<unsigned>(Status));
    static const std::map<std::uint32_t, ULONG> kErrors = {
        {0, ERROR_SUCCESS},
        {0xC0000008, ERROR_INVALID_HANDLE},
        {0xC000000D, ERROR_INVALID_PARAMETER},
        {0xC0000017, ERROR_NOT_ENOUGH_MEMORY},
        {0xC0000022, ERROR_ACCESS_DENIED},
        {0xC0000033, ERROR_INVALID_NAME},
        {0xC0000034, ERROR_FILE_NOT_FOUND},
        {0xC0000035, ERROR_ALREADY_EXISTS},
        {0xC000003A, ERROR_PATH_NOT_FOUND},
        {0xC0000043, ERROR_SHARING_VIOLATION},
        {0xC00000BA, ERROR_ACCESS_DENIED},
        {0xC0000103, ERROR_DIRECTORY},
        {0xC0000106, ERROR_FILENAME_EXCED_RANGE},
        {0xC000011F, ERROR_TOO_MANY_OPEN_FILES},
    };
    const auto status = static_cast<std::uint32_t>(Status);
    if ((status & 0xFFFF0000u) == kWin32Facility) {
        return status & 0xFFFFu;
    }
    const auto found = kErrors.find(status);
    return found != kErrors.end() ? found->second : ERROR_MR_MID_NOT_FOUND;
}

std::FILE* OpenLogStream(HANDLE file) {
    const DWORD fault =
        sim::core::Enter("OpenLogStream", ERROR_TOO_MANY_OPEN_FILES, "%s", Describe(file).c_str());
    Lock lock(sim::core::Mutex());
    Object* object = FindFile(file);
    if (object == nullptr) {
        return nullptr;
    }
    const bool writable =
        Grants(object->access, FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE) &&
        object->linkAttributes == 0;
    StreamCookie* cookie = fault != 0 || !writable ? nullptr
                                                   : new (std::nothrow)
                                                         StreamCookie(object->fd, object->sharing);
    if (cookie == nullptr) {
        Unregister(file, true);
        sim::core::HandleClosed(sim::HandleKind::KernelObject);
        return nullptr;
    }
    Unregister(file, false); // the stream holds the handle now
    const cookie_io_functions_t functions = {nullptr, WriteAtTheEnd, SeekStream, CloseStream};
    std::FILE* stream = fopencookie(cookie, "a", functions);
    if (stream == nullptr) {
        CloseStream(cookie);
    }
    return stream;
}

// --- Security -----------------------------------------------------------------------------

DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo,
                      PSID* ppsidOwner, PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                      PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
    if (const DWORD fault = sim::core::Enter("GetSecurityInfo", ERROR_ACCESS_DENIED, "%s, %#x",
                                             Describe(handle).c_str(), SecurityInfo)) {
        return fault;
    }
    Lock lock(sim::core::Mutex());
    const Object* file = FindFile(handle);
    struct stat status = {};
    if (ObjectType != SE_FILE_OBJECT || ((ppsidOwner != nullptr || ppsidGroup != nullptr ||
                                          ppDacl != nullptr || ppSacl != nullptr) &&
                                         ppSecurityDescriptor == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    if (file == nullptr || fstat(file->fd, &status) != 0) {
        return ERROR_INVALID_HANDLE;
    }
    // Owner and access list are read with READ_CONTROL; the audit list needs a privilege that
    // hingeflow never holds, so it is simply refused.
    if (!Grants(file->access, READ_CONTROL | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE) ||
        (SecurityInfo & SACL_SECURITY_INFORMATION) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    State& s = TheState();
    const auto seeded = s.security.find({status.st_dev, status.st_ino});
    const Descriptor descriptor =
        seeded != s.security.end() ? seeded->second : ParseSddl(sim::kDefaultFileSecurity);
    const bool owner = (SecurityInfo & OWNER_SECURITY_INFORMATION) != 0;
    const bool dacl = (SecurityInfo & DACL_SECURITY_INFORMATION) != 0;
    auto buffer = std::make_unique<Bytes>(kDescriptorHeader, BYTE{0});
    Bytes& bytes = *buffer;
    // Reserved whole: growing it in place trips g++ 12's -Warray-bounds at -O3, wrongly.
    bytes.reserve(kDescriptorHeader + descriptor.owner.size() + descriptor.dacl.size());
    bytes[0] = 1; // SECURITY_DESCRIPTOR_REVISION
    WORD control = kSelfRelative;
    std::size_t ownerAt = 0;
    std::size_t daclAt = 0;
    if (owner && !descriptor.noOwner) {
        ownerAt = bytes.size();
        bytes.insert(bytes.end(), descriptor.owner.begin(), descriptor.owner.end());
        PutWord(bytes, 4, ownerAt);
    }
    if (dacl) {
        control = static_cast<WORD>(descriptor.control);
        if (!descriptor.nullDacl) {
            daclAt = bytes.size();
            bytes.insert(bytes.end(), descriptor.dacl.begin(), descriptor.dacl.end());
            PutWord(bytes, 16, daclAt);
        }
    }
    PutWord(bytes, 2, control);
    BYTE* base = bytes.data();
    if (ppsidOwner != nullptr) {
        *ppsidOwner = ownerAt != 0 ? base + ownerAt : nullptr;
    }
    if (ppsidGroup != nullptr) {
        *ppsidGroup = nullptr;
    }
    if (ppDacl != nullptr) {
        *ppDacl = daclAt != 0 ? reinterpret_cast<PACL>(base + daclAt) : nullptr;
    }
    if (ppSacl != nullptr) {
        *ppSacl = nullptr;
    }
    if (ppSecurityDescriptor != nullptr) {
        *ppSecurityDescriptor = base;
        s.localMemory.emplace(base, std::move(buffer));
        sim::core::HandleOpened(sim::HandleKind::LocalMemory);
    }
    return ERROR_SUCCESS;
}

HLOCAL LocalFree(HLOCAL hMem) {
    sim::core::Enter("LocalFree", 0, "%s", hMem == nullptr ? "(null)" : "descriptor");
    if (hMem == nullptr) {
        return nullptr;
    }
    Lock lock(sim::core::Mutex());
    if (TheState().localMemory.erase(hMem) == 0) {
        return Fail(ERROR_INVALID_HANDLE, hMem);
    }
    sim::core::HandleClosed(sim::HandleKind::LocalMemory);
    return nullptr;
}

HANDLE GetCurrentProcess() {
    sim::core::Enter("GetCurrentProcess", 0, "%s", "");
    return kCurrentProcess;
}

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, HANDLE* TokenHandle) {
    if (const DWORD fault =
            sim::core::Enter("OpenProcessToken", ERROR_ACCESS_DENIED, "%#x", DesiredAccess)) {
        return Fail(fault, FALSE);
    }
    if (ProcessHandle != kCurrentProcess) {
        return Fail(ERROR_INVALID_HANDLE, FALSE); // only this process is simulated
    }
    if (TokenHandle == nullptr) {
        return Fail(kErrorNoAccess, FALSE);
    }
    Lock lock(sim::core::Mutex());
    Object token;
    token.token = true;
    token.access = DesiredAccess;
    *TokenHandle = Register(std::move(token));
    return TRUE;
}

BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                         LPVOID TokenInformation, DWORD TokenInformationLength,
                         PDWORD ReturnLength) {
    if (const DWORD fault =
            sim::core::Enter("GetTokenInformation", ERROR_ACCESS_DENIED, "%d, %u",
                             static_cast<int>(TokenInformationClass), TokenInformationLength)) {
        return Fail(fault, FALSE);
    }
    Lock lock(sim::core::Mutex());
    const Object* token = Find(TokenHandle);
    if (token == nullptr || !token->token) {
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    if (TokenInformationClass != TokenUser || ReturnLength == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE); // the one class simulated
    }
    if ((token->access & TOKEN_QUERY) == 0) {
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    }
    const Bytes& sid = TheState().processUser;
    const auto needed = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    *ReturnLength = needed;
    if (TokenInformation == nullptr || TokenInformationLength < needed) {
        return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    if (reinterpret_cast<std::uintptr_t>(TokenInformation) % alignof(TOKEN_USER) != 0) {
        return Fail(kErrorNoAccess, FALSE);
    }
    auto* out = static_cast<BYTE*>(TokenInformation);
    TOKEN_USER user = {};
    user.User.Sid = out + sizeof(TOKEN_USER);
    std::memcpy(out, &user, sizeof user);
    std::memcpy(out + sizeof(TOKEN_USER), sid.data(), sid.size());
    return TRUE;
}
