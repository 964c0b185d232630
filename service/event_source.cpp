#include "service/event_source.h"

#include "config/event_messages.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/unique_handle.h"
#include "service/module_path.h"

namespace {

constexpr const WCHAR* kApplicationSources =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

LSTATUS SetText(HKEY key, const WCHAR* name, const std::wstring& text) {
    return RegSetValueExW(key, name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

LSTATUS SetNumber(HKEY key, const WCHAR* name, DWORD number) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof number);
}

LSTATUS WriteSource(const std::wstring& serviceName, const std::wstring& file) {
    UniqueRegistryKey key;
    const std::wstring keyPath = kApplicationSources + serviceName;
    LSTATUS status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, key.receive(), nullptr);
    if (status == ERROR_SUCCESS) {
        status = SetText(key.get(), L"EventMessageFile", file);
    }
    if (status == ERROR_SUCCESS) {
        status = SetText(key.get(), L"CategoryMessageFile", file);
    }
    if (status == ERROR_SUCCESS) {
        status = SetNumber(key.get(), L"CategoryCount", event_message::kCategoryCount);
    }
    if (status == ERROR_SUCCESS) {
        status =
            SetNumber(key.get(), L"TypesSupported", EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE);
    }
    return status;
}

} // namespace

void AddEventLogSource(const std::wstring& serviceName, const std::wstring& imagePath) noexcept {
    LSTATUS status = ERROR_SUCCESS;
    try {
        const std::wstring file = ProgramOfImagePath(imagePath);
        // Event Viewer expands the value, so a path holding % would name some other file.
        status = file.find(L'%') != std::wstring::npos ? static_cast<LSTATUS>(ERROR_INVALID_NAME)
                                                       : WriteSource(serviceName, file);
    } catch (...) {
        status = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (status != ERROR_SUCCESS) {
        ConsolePrintf(L"Couldn't register event source: %d\n", static_cast<int>(status));
    }
}

void RemoveEventLogSource(const std::wstring& serviceName) noexcept {
    LSTATUS status = ERROR_SUCCESS;
    try {
        const std::wstring keyPath = kApplicationSources + serviceName;
        status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath.c_str());
    } catch (...) {
        status = ERROR_NOT_ENOUGH_MEMORY;
    }
    // An installation older than the source has none to remove.
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        ConsolePrintf(L"Couldn't remove event source: %d\n", static_cast<int>(status));
    }
}
