// Simulator face only: SetupAPI device-interface enumeration and device properties over a table
// of simulated devices, each owning one interface. Semantics follow the Win32 documentation and
// Wine's setupapi.
//
// A census must not allocate: device information sets come from a fixed pool, and every
// operation only walks the device table, which is built (and may allocate) by the controls.
#include "platform/setup_api.h"

#include "platform/device_properties.h"
#include "platform/process.h"
#include "platform/sim/core.h"
#include "platform/sim/setupapi_control.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// setupapi.h values: properties above the last one are refused with their own code.
constexpr DWORD kSpdrpMaximumProperty = 0x25;
constexpr DWORD kErrorInvalidRegProperty = 0xE0000209u;

constexpr DWORD kKnownFlags =
    DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE | DIGCF_DEVICEINTERFACE;

constexpr DWORD kDetailPathOffset =
    static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath));
// The documented minimum: the fixed head and one terminating NUL.
constexpr DWORD kDetailMinimum = kDetailPathOffset + sizeof(WCHAR);

enum class Presence { Present, Absent, Removed };

// Presence is kept as a history so that each set sees the devices of the moment it was built.
struct PresenceChange {
    std::uint64_t stamp;
    Presence presence;
};

struct Property {
    DEVPROPKEY key;
    DEVPROPTYPE type;
    std::vector<BYTE> data;
};

struct Device {
    GUID interfaceClass;
    std::vector<BYTE> description;
    std::vector<Property> properties;
    std::wstring path;
    std::vector<PresenceChange> history;
    DWORD descriptionError = 0;
    DWORD detailSize = sim::kNaturalDetailSize;
};

struct SetSlot {
    bool open = false;
    GUID interfaceClass{};
    DWORD flags = 0;
    std::uint64_t stamp = 0;
    // Where the last unfiltered enumeration found its member: a set never changes after it is
    // built, so the next index resumes from there and a walk over n members costs O(n), not
    // O(n^2), which would otherwise swamp the census it serves in a benchmark.
    bool cursorValid = false;
    GUID cursorClass{};
    DWORD cursorIndex = 0;
    std::size_t cursorDevice = 0;
};

struct EnumFailure {
    GUID interfaceClass;
    DWORD memberIndex;
    DWORD code;
};

struct State {
    std::vector<Device> devices; // id = index + 1
    std::vector<EnumFailure> enumFailures;
    std::array<SetSlot, sim::kDeviceInfoSetPoolSize> sets{};
    std::uint64_t clock = 0;
};

State& TheState() {
    static State* state = new State(); // never destroyed: other threads may outlive main
    return *state;
}

bool SameKey(const DEVPROPKEY& a, const DEVPROPKEY& b) {
    return IsEqualGUID(a.fmtid, b.fmtid) && a.pid == b.pid;
}

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

SetSlot* FindSet(HDEVINFO handle) {
    for (SetSlot& set : TheState().sets) {
        if (handle == static_cast<HDEVINFO>(&set)) {
            return set.open ? &set : nullptr;
        }
    }
    return nullptr;
}

Presence PresenceAt(const Device& device, std::uint64_t stamp, bool* existed) {
    Presence presence = Presence::Removed;
    *existed = false;
    for (const PresenceChange& change : device.history) {
        if (change.stamp > stamp) {
            break;
        }
        presence = change.presence;
        *existed = true;
    }
    return presence;
}

// Devices carry no setup class here, so only interface sets (DIGCF_DEVICEINTERFACE) hold any.
bool InSet(const SetSlot& set, const Device& device) {
    if ((set.flags & DIGCF_DEVICEINTERFACE) == 0) {
        return false;
    }
    if ((set.flags & DIGCF_ALLCLASSES) == 0 &&
        !IsEqualGUID(set.interfaceClass, device.interfaceClass)) {
        return false;
    }
    bool existed = false;
    const Presence presence = PresenceAt(device, set.stamp, &existed);
    if (!existed || presence == Presence::Removed) {
        return false;
    }
    return presence == Presence::Present || (set.flags & DIGCF_PRESENT) == 0;
}

// The Reserved field of both records carries the device id.
Device* DeviceInSet(const SetSlot& set, ULONG_PTR reserved) {
    std::vector<Device>& devices = TheState().devices;
    if (reserved == 0 || reserved > devices.size()) {
        return nullptr;
    }
    Device& device = devices[reserved - 1];
    return InSet(set, device) ? &device : nullptr;
}

// The device that a device-information record names in a set: ERROR_INVALID_HANDLE for a set
// that is not open, ERROR_INVALID_PARAMETER for a record that names none of its devices.
const Device* RecordedDevice(HDEVINFO handle, const SP_DEVINFO_DATA* record, DWORD* error) {
    const SetSlot* set = FindSet(handle);
    if (set == nullptr) {
        *error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    const Device* device = record != nullptr && record->cbSize == sizeof(SP_DEVINFO_DATA)
                               ? DeviceInSet(*set, record->Reserved)
                               : nullptr;
    if (device == nullptr) {
        *error = ERROR_INVALID_PARAMETER;
    }
    return device;
}

void FillDeviceInfo(SP_DEVINFO_DATA* data, ULONG_PTR id) {
    data->ClassGuid = GUID{};
    data->DevInst = static_cast<DWORD>(id);
    data->Reserved = id;
}

Device& DeviceById(int deviceId) {
    return TheState().devices.at(static_cast<std::size_t>(deviceId - 1));
}

void ChangePresence(Device& device, Presence presence) {
    device.history.push_back(PresenceChange{++TheState().clock, presence});
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40];
    std::swprintf(text, 40, L"{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

std::vector<BYTE> TerminatedBytes(const std::wstring& text) {
    const auto* first = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(first, first + (text.size() + 1) * sizeof(WCHAR));
}

const char* Given(const void* pointer, const char* what) {
    return pointer != nullptr ? what : "(null)";
}

} // namespace

// The journal renders a GUID from its parts, so that nothing is formatted while it is off.
#define HF_GUID_FORMAT "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}"
#define HF_GUID_ARGS(g)                                                                            \
    static_cast<unsigned>((g).Data1), (g).Data2, (g).Data3, (g).Data4[0], (g).Data4[1],            \
        (g).Data4[2], (g).Data4[3], (g).Data4[4], (g).Data4[5], (g).Data4[6], (g).Data4[7]

HDEVINFO SetupDiGetClassDevsW(const GUID* ClassGuid, LPCWSTR Enumerator, HWND hwndParent,
                              DWORD Flags) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    const GUID shown = ClassGuid != nullptr ? *ClassGuid : GUID{};
    if (const DWORD fault = sim::core::Enter(
            "SetupDiGetClassDevsW", ERROR_NOT_ENOUGH_MEMORY, HF_GUID_FORMAT ", %s, %p, 0x%x",
            HF_GUID_ARGS(shown), Given(Enumerator, "enumerator"), static_cast<void*>(hwndParent),
            static_cast<unsigned>(Flags))) {
        SetLastError(fault);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = 0;
    if ((Flags & DIGCF_ALLCLASSES) == 0 && ClassGuid == nullptr) {
        error = ERROR_INVALID_PARAMETER;
    } else if ((Flags & ~kKnownFlags) != 0) {
        error = ERROR_INVALID_FLAGS;
    } else if (Enumerator != nullptr) {
        error = ERROR_CALL_NOT_IMPLEMENTED; // enumerator filters are not simulated
    }
    if (error != 0) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    State& state = TheState();
    for (SetSlot& set : state.sets) {
        if (!set.open) {
            set.open = true;
            set.interfaceClass = shown;
            set.flags = Flags;
            set.stamp = ++state.clock;
            set.cursorValid = false;
            sim::core::HandleOpened(sim::HandleKind::DeviceInfoSet);
            return static_cast<HDEVINFO>(&set);
        }
    }
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    const GUID shown = InterfaceClassGuid != nullptr ? *InterfaceClassGuid : GUID{};
    if (const DWORD fault = sim::core::Enter("SetupDiEnumDeviceInterfaces", ERROR_INVALID_PARAMETER,
                                             "%p, %s, " HF_GUID_FORMAT ", %u, %s", DeviceInfoSet,
                                             Given(DeviceInfoData, "device"), HF_GUID_ARGS(shown),
                                             static_cast<unsigned>(MemberIndex),
                                             Given(DeviceInterfaceData, "iface"))) {
        return Fail(fault);
    }
    SetSlot* set = FindSet(DeviceInfoSet);
    if (set == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (DeviceInterfaceData == nullptr ||
        DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // As Windows does, a failed call leaves no stale interface in the record.
    *DeviceInterfaceData = SP_DEVICE_INTERFACE_DATA{};
    DeviceInterfaceData->cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    if (InterfaceClassGuid == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    ULONG_PTR onlyDevice = 0;
    if (DeviceInfoData != nullptr) {
        if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA) ||
            DeviceInSet(*set, DeviceInfoData->Reserved) == nullptr) {
            return Fail(ERROR_INVALID_PARAMETER);
        }
        onlyDevice = DeviceInfoData->Reserved;
    }
    State& state = TheState();
    for (const EnumFailure& failure : state.enumFailures) {
        if (failure.memberIndex == MemberIndex && IsEqualGUID(failure.interfaceClass, shown)) {
            return Fail(failure.code);
        }
    }
    DWORD index = 0;
    std::size_t first = 0;
    const bool resume = onlyDevice == 0 && set->cursorValid && MemberIndex >= set->cursorIndex &&
                        IsEqualGUID(set->cursorClass, shown);
    if (resume) {
        index = set->cursorIndex;
        first = set->cursorDevice;
    }
    for (std::size_t i = first; i < state.devices.size(); ++i) {
        const Device& device = state.devices[i];
        const ULONG_PTR id = i + 1;
        if (!InSet(*set, device) || !IsEqualGUID(device.interfaceClass, shown) ||
            (onlyDevice != 0 && onlyDevice != id)) {
            continue;
        }
        if (index++ == MemberIndex) {
            if (onlyDevice == 0) {
                set->cursorValid = true;
                set->cursorClass = shown;
                set->cursorIndex = MemberIndex;
                set->cursorDevice = i;
            }
            bool existed = false;
            DeviceInterfaceData->InterfaceClassGuid = device.interfaceClass;
            DeviceInterfaceData->Flags =
                PresenceAt(device, set->stamp, &existed) == Presence::Present ? SPINT_ACTIVE : 0;
            DeviceInterfaceData->Reserved = id;
            return TRUE;
        }
    }
    return Fail(ERROR_NO_MORE_ITEMS);
}

BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet,
                                      PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    if (const DWORD fault = sim::core::Enter(
            "SetupDiGetDeviceInterfaceDetailW", ERROR_INVALID_DATA, "%p, %s, %s, %u, %s, %s",
            DeviceInfoSet, Given(DeviceInterfaceData, "iface"),
            Given(DeviceInterfaceDetailData, "buffer"),
            static_cast<unsigned>(DeviceInterfaceDetailDataSize), Given(RequiredSize, "size"),
            Given(DeviceInfoData, "devinfo"))) {
        return Fail(fault);
    }
    const SetSlot* set = FindSet(DeviceInfoSet);
    if (set == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (DeviceInterfaceData == nullptr ||
        DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const Device* device = DeviceInSet(*set, DeviceInterfaceData->Reserved);
    if (device == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = DeviceInterfaceDetailData;
    const DWORD size = DeviceInterfaceDetailDataSize;
    if ((detail == nullptr && size != 0) || (detail != nullptr && size < kDetailMinimum) ||
        (detail != nullptr && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) ||
        (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    const DWORD natural =
        kDetailPathOffset + static_cast<DWORD>((device->path.size() + 1) * sizeof(WCHAR));
    const bool overridden = device->detailSize != sim::kNaturalDetailSize &&
                            device->detailSize != sim::kNoDetailSizeReported;
    const DWORD needed = overridden ? device->detailSize : natural;
    const bool reportsSize = detail != nullptr || device->detailSize != sim::kNoDetailSizeReported;
    if (RequiredSize != nullptr && reportsSize) {
        *RequiredSize = needed;
    }
    // Windows names the owning device even when the buffer turns out too small.
    if (DeviceInfoData != nullptr) {
        FillDeviceInfo(DeviceInfoData, DeviceInterfaceData->Reserved);
    }
    if (size < needed) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    // Exactly `needed` bytes are written, so a caller that claims more room than it has is
    // caught by AddressSanitizer.
    if (needed > kDetailPathOffset) {
        BYTE* out = reinterpret_cast<BYTE*>(detail) + kDetailPathOffset;
        const std::size_t room = needed - kDetailPathOffset;
        const std::size_t pathBytes = (device->path.size() + 1) * sizeof(WCHAR);
        const std::size_t copied = pathBytes < room ? pathBytes : room;
        std::memcpy(out, device->path.c_str(), copied);
        std::memset(out + copied, 0, room - copied);
    }
    return TRUE;
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       DWORD Property, PDWORD PropertyRegDataType,
                                       PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    if (const DWORD fault = sim::core::Enter(
            "SetupDiGetDeviceRegistryPropertyW", ERROR_INVALID_DATA, "%p, %s, %u, %s, %s, %u, %s",
            DeviceInfoSet, Given(DeviceInfoData, "devinfo"), static_cast<unsigned>(Property),
            Given(PropertyRegDataType, "type"), Given(PropertyBuffer, "buffer"),
            static_cast<unsigned>(PropertyBufferSize), Given(RequiredSize, "size"))) {
        return Fail(fault);
    }
    DWORD error = 0;
    const Device* device = RecordedDevice(DeviceInfoSet, DeviceInfoData, &error);
    if (device == nullptr) {
        return Fail(error);
    }
    if (PropertyBuffer == nullptr && PropertyBufferSize != 0) {
        return Fail(ERROR_INVALID_DATA);
    }
    if (Property != SPDRP_DEVICEDESC) {
        // Only the description is stored; any other known property reads as absent.
        return Fail(Property < kSpdrpMaximumProperty ? ERROR_INVALID_DATA
                                                     : kErrorInvalidRegProperty);
    }
    if (device->descriptionError != 0) {
        return Fail(device->descriptionError);
    }
    const DWORD dataSize = static_cast<DWORD>(device->description.size());
    if (PropertyRegDataType != nullptr) {
        *PropertyRegDataType = REG_SZ;
    }
    if (RequiredSize != nullptr) {
        *RequiredSize = dataSize;
    }
    if (PropertyBufferSize == 0 || PropertyBufferSize < dataSize) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (dataSize != 0) {
        std::memcpy(PropertyBuffer, device->description.data(), dataSize);
    }
    return TRUE;
}

BOOL SetupDiGetDevicePropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                               const DEVPROPKEY* PropertyKey, DEVPROPTYPE* PropertyType,
                               PBYTE PropertyBuffer, DWORD PropertyBufferSize, PDWORD RequiredSize,
                               DWORD Flags) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    const DEVPROPKEY shown = PropertyKey != nullptr ? *PropertyKey : DEVPROPKEY{};
    if (const DWORD fault = sim::core::Enter(
            "SetupDiGetDevicePropertyW", ERROR_NOT_FOUND,
            "%p, %s, " HF_GUID_FORMAT " %u, %s, %s, %u, %s, %#x", DeviceInfoSet,
            Given(DeviceInfoData, "devinfo"), HF_GUID_ARGS(shown.fmtid),
            static_cast<unsigned>(shown.pid), Given(PropertyType, "type"),
            Given(PropertyBuffer, "buffer"), static_cast<unsigned>(PropertyBufferSize),
            Given(RequiredSize, "size"), static_cast<unsigned>(Flags))) {
        return Fail(fault);
    }
    DWORD error = 0;
    const Device* device = RecordedDevice(DeviceInfoSet, DeviceInfoData, &error);
    if (device == nullptr) {
        return Fail(error);
    }
    if (PropertyKey == nullptr) {
        return Fail(ERROR_INVALID_DATA);
    }
    if (PropertyType == nullptr || (PropertyBuffer == nullptr && PropertyBufferSize != 0)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (Flags != 0) {
        return Fail(ERROR_INVALID_FLAGS);
    }
    const Property* property = nullptr;
    for (const Property& candidate : device->properties) {
        if (SameKey(candidate.key, shown)) {
            property = &candidate;
        }
    }
    // A missing property reads as the empty type with no size, as the documentation has it.
    const DWORD dataSize = property != nullptr ? static_cast<DWORD>(property->data.size()) : 0;
    *PropertyType = property != nullptr ? property->type : DEVPROP_TYPE_EMPTY;
    if (RequiredSize != nullptr) {
        *RequiredSize = dataSize;
    }
    if (property == nullptr) {
        return Fail(ERROR_NOT_FOUND);
    }
    if (PropertyBuffer == nullptr || PropertyBufferSize < dataSize) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (dataSize != 0) {
        std::memcpy(PropertyBuffer, property->data.data(), dataSize);
    }
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    if (const DWORD fault =
            sim::core::Enter("SetupDiDestroyDeviceInfoList", 0, "%p", DeviceInfoSet)) {
        return Fail(fault);
    }
    SetSlot* set = FindSet(DeviceInfoSet);
    if (set == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    set->open = false;
    sim::core::HandleClosed(sim::HandleKind::DeviceInfoSet);
    return TRUE;
}

namespace sim {

int AddDeviceInterface(const GUID& interfaceClass, const std::wstring& description, bool present) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    State& state = TheState();
    const int id = static_cast<int>(state.devices.size()) + 1;
    Device device;
    device.interfaceClass = interfaceClass;
    device.description = TerminatedBytes(description);
    device.path = L"\\\\?\\HID#SIM_DEVICE#" + std::to_wstring(id) + L"#" + GuidText(interfaceClass);
    state.devices.push_back(std::move(device));
    ChangePresence(state.devices.back(), present ? Presence::Present : Presence::Absent);
    return id;
}

int AddHidMouse(const std::wstring& description, bool present) {
    return AddDeviceInterface(interface_class::kMouse, description, present);
}

int AddHidKeyboard(const std::wstring& description, bool present) {
    return AddDeviceInterface(interface_class::kKeyboard, description, present);
}

void SetDevicePresent(int deviceId, bool present) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    ChangePresence(DeviceById(deviceId), present ? Presence::Present : Presence::Absent);
}

void RemoveAllDevices() {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    for (Device& device : TheState().devices) {
        ChangePresence(device, Presence::Removed);
    }
}

void SetDeviceDescriptionData(int deviceId, const std::vector<BYTE>& data) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    DeviceById(deviceId).description = data;
}

void SetDescriptionReadError(int deviceId, DWORD code) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    DeviceById(deviceId).descriptionError = code;
}

void SetDeviceProperty(int deviceId, const DEVPROPKEY& key, DEVPROPTYPE type,
                       const std::vector<BYTE>& data) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    std::vector<Property>& properties = DeviceById(deviceId).properties;
    properties.erase(std::remove_if(properties.begin(), properties.end(),
                                    [&](const Property& p) { return SameKey(p.key, key); }),
                     properties.end());
    if (type != DEVPROP_TYPE_EMPTY) {
        properties.push_back(Property{key, type, data});
    }
}

void InstallDriver(int deviceId, const std::wstring& matchingDeviceId,
                   const std::wstring& infName) {
    SetDeviceProperty(deviceId, device_property::kMatchingDeviceId, DEVPROP_TYPE_STRING,
                      TerminatedBytes(matchingDeviceId));
    SetDeviceProperty(deviceId, device_property::kDriverInfPath, DEVPROP_TYPE_STRING,
                      TerminatedBytes(infName));
}

void PlaceInContainer(int deviceId, const GUID& containerId) {
    const auto* bytes = reinterpret_cast<const BYTE*>(&containerId);
    SetDeviceProperty(deviceId, device_property::kContainerId, DEVPROP_TYPE_GUID,
                      std::vector<BYTE>(bytes, bytes + sizeof containerId));
    const bool inMachine = IsEqualGUID(containerId, device_property::kMachineContainer);
    SetDeviceProperty(deviceId, device_property::kInLocalMachineContainer, DEVPROP_TYPE_BOOLEAN,
                      {static_cast<BYTE>(inMachine ? DEVPROP_TRUE : DEVPROP_FALSE)});
}

void SetDevicePath(int deviceId, const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    DeviceById(deviceId).path = path;
}

void SetReportedDetailSize(int deviceId, DWORD bytes) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    DeviceById(deviceId).detailSize = bytes;
}

void FailEnumerationAt(const GUID& interfaceClass, DWORD memberIndex, DWORD code) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    TheState().enumFailures.push_back(EnumFailure{interfaceClass, memberIndex, code});
}

namespace core {

void ResetSetupApi() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State& state = TheState();
    state.devices.clear();
    state.enumFailures.clear();
    state.sets.fill(SetSlot{});
    state.clock = 0;
}

} // namespace core
} // namespace sim
