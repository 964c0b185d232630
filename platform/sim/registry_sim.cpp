// Simulator face only: the registry as an in-memory tree of keys and raw-byte values, reached
// through the narrow-character Win32 calls and seeded through the test controls.
#include "platform/registry.h"
#include "platform/sim/core.h"
#include "platform/sim/registry_control.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

namespace {

constexpr LSTATUS kErrorNoAccess = 998;
constexpr LSTATUS kErrorKeyDeleted = 1018;
constexpr REGSAM kWow64Flags = 0x0300;
constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericRead = 0x80000000u;
constexpr REGSAM kGenericWrite = 0x40000000u;
constexpr REGSAM kGenericExecute = 0x20000000u;
constexpr REGSAM kGenericAll = 0x10000000u;
constexpr REGSAM kAllowEverything = 0xFFFFFFFFu;

int Fold(unsigned char c) {
    return std::tolower(c);
}

struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(),
            [](unsigned char x, unsigned char y) { return Fold(x) < Fold(y); });
    }
};

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](unsigned char x, unsigned char y) { return Fold(x) == Fold(y); });
}

struct Key {
    std::string path; // "HKLM\System\...", spelled as first created
    std::map<std::string, std::shared_ptr<Key>, NameLess> subkeys;
    std::map<std::string, sim::RegistryValue, NameLess> values;
    bool deleted = false;
};

struct OpenKey {
    std::shared_ptr<Key> key;
    REGSAM granted;
};

// Built on first use and never destroyed: the log start-up reads the registry during static
// initialisation, and other threads may still call in after main returns.
struct State {
    std::map<ULONG_PTR, std::shared_ptr<Key>> hives;
    std::map<ULONG_PTR, OpenKey> handles;
    std::map<std::string, REGSAM, NameLess> access; // by key path
    ULONG_PTR nextHandle = 0x1000; // never reused, so a closed handle stays invalid
};

void AddKeysEveryWindowsHas(State& s);

State& Registry() {
    static State* state = [] {
        State* fresh = new State();
        AddKeysEveryWindowsHas(*fresh);
        return fresh;
    }();
    return *state;
}

const char* HiveName(HKEY hive) {
    switch (reinterpret_cast<ULONG_PTR>(hive)) {
    case 0x80000000u:
        return "HKCR";
    case 0x80000001u:
        return "HKCU";
    case 0x80000002u:
        return "HKLM";
    case 0x80000003u:
        return "HKU";
    case 0x80000005u:
        return "HKCC";
    default:
        return nullptr;
    }
}

std::shared_ptr<Key>& HiveRootIn(State& s, HKEY hive) {
    std::shared_ptr<Key>& root = s.hives[reinterpret_cast<ULONG_PTR>(hive)];
    if (!root) {
        root = std::make_shared<Key>();
        root->path = HiveName(hive) != nullptr ? HiveName(hive) : "(not a hive)";
    }
    return root;
}

std::shared_ptr<Key>& HiveRoot(HKEY hive) {
    return HiveRootIn(Registry(), hive);
}

std::vector<std::string> SplitPath(const std::string& path, bool keepEmpty) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (start <= path.size()) {
        const std::string::size_type end = std::min(path.find('\\', start), path.size());
        if (keepEmpty || end > start) {
            parts.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

std::shared_ptr<Key> Descend(std::shared_ptr<Key> key, const std::vector<std::string>& parts) {
    for (const std::string& part : parts) {
        const auto it = key->subkeys.find(part);
        if (it == key->subkeys.end()) {
            return nullptr;
        }
        key = it->second;
    }
    return key;
}

// The API is strict: an empty component (a leading or doubled backslash) names no key.
std::shared_ptr<Key> Walk(const std::shared_ptr<Key>& key, const char* subKey) {
    return subKey == nullptr || *subKey == '\0' ? key : Descend(key, SplitPath(subKey, true));
}

// The controls are lenient about stray backslashes.
std::shared_ptr<Key> FindControlled(HKEY hive, const std::string& keyPath) {
    return HiveName(hive) == nullptr ? nullptr : Descend(HiveRoot(hive), SplitPath(keyPath, false));
}

std::shared_ptr<Key> CreateIn(State& s, HKEY hive, const std::string& keyPath) {
    std::shared_ptr<Key> key = HiveRootIn(s, hive);
    for (const std::string& part : SplitPath(keyPath, false)) {
        std::shared_ptr<Key>& child = key->subkeys[part];
        if (!child) {
            child = std::make_shared<Key>();
            child->path = key->path + "\\" + part;
        }
        key = child;
    }
    return key;
}

std::shared_ptr<Key> CreateControlled(HKEY hive, const std::string& keyPath) {
    return CreateIn(Registry(), hive, keyPath);
}

// Present on every Windows, empty or not, so a reader with nothing seeded meets a missing value
// rather than a missing key; a test about a missing key deletes it.
void AddKeysEveryWindowsHas(State& s) {
    CreateIn(s, HKEY_CURRENT_CONFIG, "System\\CurrentControlSet");
}

void MarkDeleted(Key& key) {
    key.deleted = true;
    for (auto& entry : key.subkeys) {
        MarkDeleted(*entry.second);
    }
}

// Predefined handles stand for their hive's root with every right.
const OpenKey* Resolve(HKEY handle, OpenKey& predefined) {
    if (HiveName(handle) != nullptr) {
        predefined = OpenKey{HiveRoot(handle), kAllowEverything};
        return &predefined;
    }
    const auto it = Registry().handles.find(reinterpret_cast<ULONG_PTR>(handle));
    return it == Registry().handles.end() ? nullptr : &it->second;
}

// The checks a value operation makes of its key handle, in Windows' order: a valid handle, the
// right asked for, a key not deleted since it was opened. ERROR_SUCCESS leaves `open` set.
LSTATUS OpenKeyWithRight(HKEY handle, REGSAM right, OpenKey& predefined, const OpenKey*& open) {
    open = Resolve(handle, predefined);
    if (open == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if ((open->granted & right) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    if (open->key->deleted) {
        return kErrorKeyDeleted;
    }
    return ERROR_SUCCESS;
}

std::string Describe(HKEY handle) {
    OpenKey predefined;
    if (const OpenKey* open = Resolve(handle, predefined)) {
        return open->key->path;
    }
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(handle)));
    return text;
}

// The key a call names, as the journal shows it: the handle's path and the subkey under it.
std::string DescribeSubKey(HKEY handle, const std::string& subKey) {
    const std::string key = Describe(handle);
    return subKey.empty() ? key : key + "\\" + subKey;
}

REGSAM MapGenericRights(REGSAM sam) {
    sam &= ~kWow64Flags;
    if (sam & (kGenericRead | kGenericExecute)) {
        sam |= KEY_READ;
    }
    if (sam & kGenericWrite) {
        sam |= KEY_WRITE;
    }
    if (sam & kGenericAll) {
        sam |= KEY_ALL_ACCESS;
    }
    return sam & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
}

REGSAM AllowedOn(const Key& key) {
    const auto it = Registry().access.find(key.path);
    return it == Registry().access.end() ? kAllowEverything : it->second;
}

const char* ValueLabel(LPCSTR name) {
    return name == nullptr || *name == '\0' ? "(default)" : name;
}

HKEY NewHandle(const std::shared_ptr<Key>& key, REGSAM granted) {
    State& s = Registry();
    const ULONG_PTR handle = s.nextHandle;
    s.nextHandle += 4;
    s.handles[handle] = OpenKey{key, granted};
    sim::core::HandleOpened(sim::HandleKind::RegistryKey);
    return reinterpret_cast<HKEY>(handle);
}

// The tree keeps narrow names: a wide name is stored as the journal renders it, so that ASCII
// names meet their narrow spelling and no other name can collide with one.
std::string NarrowName(LPCWSTR name) {
    return name == nullptr ? std::string() : sim::core::Narrow(name);
}

// The value operation shared by both character widths, once the name is narrow.
LSTATUS SetValue(HKEY hKey, const std::string& name, DWORD dwType, const BYTE* lpData,
                 DWORD cbData) {
    if (lpData == nullptr && cbData != 0) {
        return kErrorNoAccess;
    }
    OpenKey predefined;
    const OpenKey* open = nullptr;
    if (const LSTATUS status = OpenKeyWithRight(hKey, KEY_SET_VALUE, predefined, open);
        status != ERROR_SUCCESS) {
        return status;
    }
    // Stored exactly as given: Windows adds no terminator to text passed without one.
    sim::RegistryValue& value = open->key->values[name];
    value.type = dwType;
    value.data.assign(lpData, lpData + cbData);
    return ERROR_SUCCESS;
}

} // namespace

namespace sim::core {
void ResetRegistry() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State& s = Registry();
    s.hives.clear();
    s.handles.clear();
    s.access.clear();
    AddKeysEveryWindowsHas(s);
}
} // namespace sim::core

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                      PHKEY phkResult) {
    (void)ulOptions;
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    const std::string target = DescribeSubKey(hKey, lpSubKey == nullptr ? "" : lpSubKey);
    const DWORD fault = sim::core::Enter("RegOpenKeyExA", ERROR_ACCESS_DENIED, "%s sam=0x%x",
                                         target.c_str(), static_cast<unsigned>(samDesired));
    if (phkResult == nullptr) {
        return fault != 0 ? static_cast<LSTATUS>(fault) : ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    if (fault != 0) {
        return static_cast<LSTATUS>(fault);
    }
    // Windows refreshes a predefined key and hands the same handle back, which needs no close.
    if (HiveName(hKey) != nullptr && (lpSubKey == nullptr || *lpSubKey == '\0')) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    OpenKey predefined;
    const OpenKey* parent = Resolve(hKey, predefined);
    if (parent == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (parent->key->deleted) {
        return kErrorKeyDeleted;
    }
    const std::shared_ptr<Key> key = Walk(parent->key, lpSubKey);
    if (!key) {
        return ERROR_FILE_NOT_FOUND;
    }
    const REGSAM allowed = AllowedOn(*key);
    REGSAM requested = MapGenericRights(samDesired);
    if (requested & kMaximumAllowed) {
        requested = allowed & ~kMaximumAllowed;
    }
    if ((requested & ~allowed) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    *phkResult = NewHandle(key, requested);
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    char capacity[16] = "null";
    if (lpData != nullptr && lpcbData != nullptr) {
        std::snprintf(capacity, sizeof capacity, "%u", static_cast<unsigned>(*lpcbData));
    }
    const DWORD fault = sim::core::Enter("RegQueryValueExA", ERROR_ACCESS_DENIED, "%s %s buffer=%s",
                                         Describe(hKey).c_str(), ValueLabel(lpValueName), capacity);
    if (fault != 0) {
        return static_cast<LSTATUS>(fault);
    }
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    OpenKey predefined;
    const OpenKey* open = nullptr;
    if (const LSTATUS status = OpenKeyWithRight(hKey, KEY_QUERY_VALUE, predefined, open);
        status != ERROR_SUCCESS) {
        return status;
    }
    const auto it = open->key->values.find(lpValueName == nullptr ? "" : lpValueName);
    if (it == open->key->values.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const sim::RegistryValue& value = it->second;
    const auto size = static_cast<DWORD>(value.data.size());
    if (lpType != nullptr) {
        *lpType = value.type;
    }
    if (lpData != nullptr && *lpcbData < size) {
        *lpcbData = size; // the buffer is left as it was
        return ERROR_MORE_DATA;
    }
    if (lpData != nullptr && size > 0) {
        std::memcpy(lpData, value.data.data(), size); // no terminator added to text types
    }
    if (lpcbData != nullptr) {
        *lpcbData = size;
    }
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                       const BYTE* lpData, DWORD cbData) {
    (void)Reserved;
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    char data[32];
    if (dwType == REG_DWORD && cbData == 4 && lpData != nullptr) {
        DWORD word = 0;
        std::memcpy(&word, lpData, sizeof word);
        std::snprintf(data, sizeof data, "data=%u", static_cast<unsigned>(word));
    } else {
        std::snprintf(data, sizeof data, "cb=%u", static_cast<unsigned>(cbData));
    }
    const DWORD fault =
        sim::core::Enter("RegSetValueExA", ERROR_ACCESS_DENIED, "%s type=%u %s",
                         ValueLabel(lpValueName), static_cast<unsigned>(dwType), data);
    if (fault != 0) {
        return static_cast<LSTATUS>(fault);
    }
    return SetValue(hKey, lpValueName == nullptr ? "" : lpValueName, dwType, lpData, cbData);
}

LSTATUS RegCloseKey(HKEY hKey) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    const DWORD fault = sim::core::Enter("RegCloseKey", 0, "%s", Describe(hKey).c_str());
    if (fault != 0) {
        return static_cast<LSTATUS>(fault);
    }
    if (HiveName(hKey) != nullptr) {
        return ERROR_SUCCESS;
    }
    if (Registry().handles.erase(reinterpret_cast<ULONG_PTR>(hKey)) == 0) {
        return ERROR_INVALID_HANDLE;
    }
    sim::core::HandleClosed(sim::HandleKind::RegistryKey);
    return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                        DWORD dwOptions, REGSAM samDesired,
                        const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                        LPDWORD lpdwDisposition) {
    (void)Reserved;
    (void)lpClass;
    (void)lpSecurityAttributes;
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    const std::string subKey = NarrowName(lpSubKey);
    const std::string target = DescribeSubKey(hKey, subKey);
    const DWORD fault = sim::core::Enter(
        "RegCreateKeyExW", ERROR_ACCESS_DENIED, "%s options=0x%x sam=0x%x", target.c_str(),
        static_cast<unsigned>(dwOptions), static_cast<unsigned>(samDesired));
    if (phkResult == nullptr) {
        return fault != 0 ? static_cast<LSTATUS>(fault) : ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    if (fault != 0) {
        return static_cast<LSTATUS>(fault);
    }
    if (lpSubKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    OpenKey predefined;
    const OpenKey* parent = Resolve(hKey, predefined);
    if (parent == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (parent->key->deleted) {
        return kErrorKeyDeleted;
    }
    const std::vector<std::string> parts =
        subKey.empty() ? std::vector<std::string>{} : SplitPath(subKey, true);
    // Every missing key on the way is created, each needing the right to create under its parent.
    std::shared_ptr<Key> key = parent->key;
    bool created = false;
    for (const std::string& part : parts) {
        if (part.empty()) {
            return ERROR_INVALID_PARAMETER;
        }
        std::shared_ptr<Key>& child = key->subkeys[part];
        if (!child) {
            if ((AllowedOn(*key) & KEY_CREATE_SUB_KEY) == 0) {
                key->subkeys.erase(part);
                return ERROR_ACCESS_DENIED;
            }
            child = std::make_shared<Key>();
            child->path = key->path + "\\" + part;
            created = true;
        }
        key = child;
    }
    const REGSAM requested = MapGenericRights(samDesired);
    if ((requested & ~AllowedOn(*key)) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    *phkResult = NewHandle(key, requested);
    if (lpdwDisposition != nullptr) {
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                       const BYTE* lpData, DWORD cbData) {
    (void)Reserved;
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    const std::string name = NarrowName(lpValueName);
    const DWORD fault = sim::core::Enter(
        "RegSetValueExW", ERROR_ACCESS_DENIED, "%s %s type=%u cb=%u", Describe(hKey).c_str(),
        ValueLabel(name.c_str()), static_cast<unsigned>(dwType), static_cast<unsigned>(cbData));
    if (fault != 0) {
        return static_cast<LSTATUS>(fault);
    }
    return SetValue(hKey, name, dwType, lpData, cbData);
}

LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    const std::string subKey = NarrowName(lpSubKey);
    const std::string target = DescribeSubKey(hKey, subKey);
    if (const DWORD fault =
            sim::core::Enter("RegDeleteTreeW", ERROR_ACCESS_DENIED, "%s", target.c_str())) {
        return static_cast<LSTATUS>(fault);
    }
    OpenKey predefined;
    const OpenKey* open = Resolve(hKey, predefined);
    if (open == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (open->key->deleted) {
        return kErrorKeyDeleted;
    }
    std::vector<std::string> parts =
        subKey.empty() ? std::vector<std::string>{} : SplitPath(subKey, true);
    const std::shared_ptr<Key> key = Descend(open->key, parts);
    if (!key) {
        return ERROR_FILE_NOT_FOUND;
    }
    constexpr REGSAM kDeleteTreeRights = DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;
    if ((AllowedOn(*key) & kDeleteTreeRights) != kDeleteTreeRights) {
        return ERROR_ACCESS_DENIED;
    }
    if (parts.empty()) {
        // Without a subkey the key itself stays, emptied of its values and subkeys.
        for (auto& entry : key->subkeys) {
            MarkDeleted(*entry.second);
        }
        key->subkeys.clear();
        key->values.clear();
        return ERROR_SUCCESS;
    }
    const std::string leaf = parts.back();
    parts.pop_back();
    MarkDeleted(*key); // handles still open on it now see ERROR_KEY_DELETED
    Descend(open->key, parts)->subkeys.erase(leaf);
    return ERROR_SUCCESS;
}

namespace sim {

void CreateRegistryKey(HKEY hive, const std::string& keyPath) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    CreateControlled(hive, keyPath);
}

void SetRegistryValue(HKEY hive, const std::string& keyPath, const std::string& valueName,
                      DWORD type, const std::vector<BYTE>& data) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    CreateControlled(hive, keyPath)->values[valueName] = RegistryValue{type, data};
}

void SetRegistryDword(HKEY hive, const std::string& keyPath, const std::string& valueName,
                      DWORD value) {
    std::vector<BYTE> data(sizeof value);
    std::memcpy(data.data(), &value, sizeof value);
    SetRegistryValue(hive, keyPath, valueName, REG_DWORD, data);
}

void SetRegistryString(HKEY hive, const std::string& keyPath, const std::string& valueName,
                       const std::string& text) {
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    SetRegistryValue(hive, keyPath, valueName, REG_SZ, data);
}

void DeleteRegistryValue(HKEY hive, const std::string& keyPath, const std::string& valueName) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    if (const std::shared_ptr<Key> key = FindControlled(hive, keyPath)) {
        key->values.erase(valueName);
    }
}

void DeleteRegistryKey(HKEY hive, const std::string& keyPath) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    std::vector<std::string> parts = SplitPath(keyPath, false);
    if (parts.empty()) {
        return; // a hive itself cannot be deleted
    }
    const std::string leaf = parts.back();
    parts.pop_back();
    std::string parentPath;
    for (const std::string& part : parts) {
        parentPath += part + "\\";
    }
    const std::shared_ptr<Key> parent = FindControlled(hive, parentPath);
    if (!parent) {
        return;
    }
    const auto it = parent->subkeys.find(leaf);
    if (it != parent->subkeys.end()) {
        MarkDeleted(*it->second); // handles still open on it now see ERROR_KEY_DELETED
        parent->subkeys.erase(it);
    }
}

bool RegistryKeyExists(HKEY hive, const std::string& keyPath) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    return FindControlled(hive, keyPath) != nullptr;
}

std::optional<RegistryValue> GetRegistryValue(HKEY hive, const std::string& keyPath,
                                              const std::string& valueName) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    const std::shared_ptr<Key> key = FindControlled(hive, keyPath);
    if (!key) {
        return std::nullopt;
    }
    const auto it = key->values.find(valueName);
    if (it == key->values.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<DWORD> GetRegistryDword(HKEY hive, const std::string& keyPath,
                                      const std::string& valueName) {
    const std::optional<RegistryValue> value = GetRegistryValue(hive, keyPath, valueName);
    if (!value || value->type != REG_DWORD || value->data.size() != sizeof(DWORD)) {
        return std::nullopt;
    }
    DWORD word = 0;
    std::memcpy(&word, value->data.data(), sizeof word);
    return word;
}

void SetKeyAccess(HKEY hive, const std::string& keyPath, REGSAM allowed) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    std::string path = HiveName(hive) == nullptr ? "" : HiveName(hive);
    for (const std::string& part : SplitPath(keyPath, false)) {
        path += "\\" + part;
    }
    Registry().access[path] = allowed;
}

std::vector<DWORD> DwordWritesTo(const std::string& valueName) {
    const std::string prefix = valueName + " type=4 data=";
    std::vector<DWORD> writes;
    for (const std::string& args : CallsTo("RegSetValueExA")) {
        if (args.size() > prefix.size() && StartsWithIgnoringCase(args, prefix)) {
            writes.push_back(
                static_cast<DWORD>(std::strtoul(args.c_str() + prefix.size(), nullptr, 10)));
        }
    }
    return writes;
}

} // namespace sim
