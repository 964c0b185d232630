// One move-only owner for every kind of handle the system opens, so that "closed on every
// path" holds by construction. Both faces use it.
#pragma once

#include "platform/device_notification.h"
#include "platform/event_log.h"
#include "platform/power.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/services.h"
#include "platform/setup_api.h"
#include "platform/synchronization.h"

template <typename Traits> class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const { return handle_; }
    Handle* receive() {
        reset();
        return &handle_;
    }
    explicit operator bool() const { return Traits::IsValid(handle_); }

    [[nodiscard]] Handle release() {
        Handle handle = handle_;
        handle_ = Traits::Null();
        return handle;
    }

    // Closing must not disturb the error code a caller is about to report.
    void reset(Handle handle = Traits::Null()) {
        if (Traits::IsValid(handle_)) {
            const DWORD savedError = GetLastError();
            Traits::Close(handle_);
            SetLastError(savedError);
        }
        handle_ = handle;
    }

private:
    Handle handle_ = Traits::Null();
};

struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { RegCloseKey(h); }
};

struct ScmHandleTraits {
    using Handle = SC_HANDLE;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { CloseServiceHandle(h); }
};

struct DeviceInfoSetTraits {
    using Handle = HDEVINFO;
    static Handle Null() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Handle h) { SetupDiDestroyDeviceInfoList(h); }
};

struct DeviceNotificationTraits {
    using Handle = HDEVNOTIFY;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { UnregisterDeviceNotification(h); }
};

struct PowerNotificationTraits {
    using Handle = HPOWERNOTIFY;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { UnregisterPowerSettingNotification(h); }
};

struct EventSourceTraits {
    using Handle = HANDLE;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { DeregisterEventSource(h); }
};

// Files, tokens and events: CreateFileA fails with INVALID_HANDLE_VALUE, OpenProcessToken with
// null.
struct KernelObjectTraits {
    using Handle = HANDLE;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { CloseHandle(h); }
};

// What GetSecurityInfo hands out.
struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { LocalFree(h); }
};

using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;
using UniqueScmHandle = UniqueHandle<ScmHandleTraits>;
using UniqueDeviceInfoSet = UniqueHandle<DeviceInfoSetTraits>;
using UniqueDeviceNotification = UniqueHandle<DeviceNotificationTraits>;
using UniquePowerNotification = UniqueHandle<PowerNotificationTraits>;
using UniqueEventSource = UniqueHandle<EventSourceTraits>;
using UniqueKernelObject = UniqueHandle<KernelObjectTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;
