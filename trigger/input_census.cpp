#include "trigger/input_census.h"

#include "platform/device_interface_classes.h"
#include "platform/device_properties.h"
#include "platform/setup_api.h"
#include "platform/unique_handle.h"

#include <cstddef>

namespace {

// What makes an interface count. Windows gives the description in the display language, so
// beyond English the standard devices are known by what installed them: the in-box INF entry
// whose English description is the text, matched through the ID Windows reserves for its own
// INFs. Neither property is localized. A vendor's INF is always copied as oemN.inf, so a
// vendor's keyboard does not count, in any language.
struct Standard {
    const WCHAR* description;
    const WCHAR* matchingDeviceId;
    const WCHAR* infName;
};
constexpr Standard kStandardMouse{L"HID-compliant mouse", L"HID_DEVICE_SYSTEM_MOUSE",
                                  L"msmouse.inf"};
constexpr Standard kStandardKeyboard{L"HID Keyboard Device", L"HID_DEVICE_SYSTEM_KEYBOARD",
                                     L"keyboard.inf"};

// The device path is never read; the detail is fetched only to learn the owning device.
union DetailBuffer {
    SP_DEVICE_INTERFACE_DETAIL_DATA_W head;
    BYTE bytes[1028];
};
static_assert(sizeof(DetailBuffer) == 1028);

// A set whose enumeration keeps failing would otherwise be walked for 2^32 indices.
constexpr int kMaxConsecutiveEnumFailures = 16;

enum class Case { Exact, Ignored };

WCHAR AsciiLower(WCHAR c) {
    return c >= L'A' && c <= L'Z' ? static_cast<WCHAR>(c - L'A' + L'a') : c;
}

// The platform may return the text without its NUL, or with an odd byte count: only the whole
// code units it returned are looked at. One pass, comparing as it goes: a count looks at every
// interface's description.
template <Case letterCase>
bool TextIs(const WCHAR* text, DWORD returnedBytes, std::size_t capacityBytes,
            const WCHAR* expected) {
    const std::size_t bytes = returnedBytes < capacityBytes ? returnedBytes : capacityBytes;
    const std::size_t units = bytes / sizeof(WCHAR);
    std::size_t i = 0;
    for (; i < units && text[i] != 0; ++i) {
        const WCHAR got = letterCase == Case::Ignored ? AsciiLower(text[i]) : text[i];
        const WCHAR want = letterCase == Case::Ignored ? AsciiLower(expected[i]) : expected[i];
        if (expected[i] == 0 || got != want) {
            return false;
        }
    }
    return expected[i] == 0;
}

// The same whole code units, as the text handed to a visitor that reads everything.
CensusText TextOf(const WCHAR* text, DWORD returnedBytes, std::size_t capacityBytes) {
    const std::size_t bytes = returnedBytes < capacityBytes ? returnedBytes : capacityBytes;
    const std::size_t units = bytes / sizeof(WCHAR);
    std::size_t length = 0;
    while (length < units && text[length] != 0) {
        ++length;
    }
    return CensusText{text, length};
}

// IDs Windows matches HID devices through: hardware IDs under the HID enumerator (HID\VID_...)
// and the HID class's compatible IDs (HID_DEVICE_...).
bool IsHidId(const CensusText& id) {
    return id.length > 3 && AsciiLower(id.units[0]) == L'h' && AsciiLower(id.units[1]) == L'i' &&
           AsciiLower(id.units[2]) == L'd' && (id.units[3] == L'\\' || id.units[3] == L'_');
}

// One string property of the device into `buffer`, `size` bytes of it; `error` is set when it
// cannot be read as a string.
bool ReadStringProperty(HDEVINFO set, SP_DEVINFO_DATA& device, const DEVPROPKEY& key, WCHAR* buffer,
                        DWORD capacityBytes, DWORD& size, DWORD& error) {
    DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
    size = 0;
    if (!SetupDiGetDevicePropertyW(set, &device, &key, &type, reinterpret_cast<PBYTE>(buffer),
                                   capacityBytes, &size, 0)) {
        error = GetLastError();
        return false;
    }
    if (type != DEVPROP_TYPE_STRING) {
        error = ERROR_INVALID_DATA;
        return false;
    }
    return true;
}

// The verdict on a device whose description is not the English one, from what installed its
// driver. IDs and file names are compared as Windows compares them, without regard to case.
// A count reads the matching ID and, only when it is the reserved one, the INF name, both into
// the description's buffer, free by now: the census stays within its frame. Reading everything,
// both are read into the visitor's buffers whatever the first says, and handed over.
void JudgeDriver(HDEVINFO set, SP_DEVINFO_DATA& device, const Standard& standard,
                 WCHAR* description, DWORD descriptionBytes, CensusPropertyBuffers* everything,
                 CensusEntry& entry) {
    WCHAR* idBuffer = everything != nullptr ? everything->matchingDeviceId : description;
    const DWORD idBytes = everything != nullptr
                              ? static_cast<DWORD>(sizeof everything->matchingDeviceId)
                              : descriptionBytes;
    DWORD idSize = 0;
    DWORD idError = 0;
    const bool idRead = ReadStringProperty(set, device, device_property::kMatchingDeviceId,
                                           idBuffer, idBytes, idSize, idError);
    const bool reserved =
        idRead && TextIs<Case::Ignored>(idBuffer, idSize, idBytes, standard.matchingDeviceId);
    const CensusText id = idRead ? TextOf(idBuffer, idSize, idBytes) : CensusText{};
    const bool hid = idRead && !reserved && IsHidId(id);
    WCHAR* infBuffer = everything != nullptr ? everything->infName : description;
    const DWORD infBytes =
        everything != nullptr ? static_cast<DWORD>(sizeof everything->infName) : descriptionBytes;
    DWORD infSize = 0;
    DWORD infError = 0;
    bool infRead = false;
    if (reserved || everything != nullptr) {
        infRead = ReadStringProperty(set, device, device_property::kDriverInfPath, infBuffer,
                                     infBytes, infSize, infError);
    }
    if (everything != nullptr) {
        entry.matchingDeviceId = id;
        entry.infName = infRead ? TextOf(infBuffer, infSize, infBytes) : CensusText{};
    }
    if (entry.verdict == CensusVerdict::CountedByDescription) {
        return;
    }
    if (!idRead) {
        entry.verdict = CensusVerdict::Unreadable;
        entry.failedStep = CensusStep::MatchingDeviceId;
        entry.error = idError;
    } else if (!reserved) {
        entry.verdict = hid ? CensusVerdict::VendorDriver : CensusVerdict::NotHid;
    } else if (!infRead) {
        entry.verdict = CensusVerdict::Unreadable;
        entry.failedStep = CensusStep::InfName;
        entry.error = infError;
    } else {
        entry.verdict = TextIs<Case::Ignored>(infBuffer, infSize, infBytes, standard.infName)
                            ? CensusVerdict::CountedAsStandardDriver
                            : CensusVerdict::VendorDriver;
    }
}

// A property of a fixed type and size, read into exactly that many bytes: anything else, a
// larger value included, is refused before a byte of it is looked at.
bool ReadFixedProperty(HDEVINFO set, SP_DEVINFO_DATA& device, const DEVPROPKEY& key,
                       DEVPROPTYPE expectedType, BYTE* buffer, DWORD bytes, DWORD& error) {
    DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
    DWORD size = 0;
    if (!SetupDiGetDevicePropertyW(set, &device, &key, &type, buffer, bytes, &size, 0)) {
        error = GetLastError();
        return false;
    }
    if (type != expectedType || size != bytes) {
        error = ERROR_INVALID_DATA;
        return false;
    }
    return true;
}

// Where Windows places the device. InLocalMachineContainer says it outright (Windows 8 and
// later); ContainerId decides when that cannot be read. A count stops at the first answer;
// reading everything reads both, for the report, and the first still decides.
void LocateContainer(HDEVINFO set, SP_DEVINFO_DATA& device, bool readBoth, CensusEntry& entry) {
    BYTE inMachine = 0;
    DWORD error = 0;
    if (ReadFixedProperty(set, device, device_property::kInLocalMachineContainer,
                          DEVPROP_TYPE_BOOLEAN, &inMachine, sizeof inMachine, error)) {
        // Only the two values Windows writes mean anything.
        if (inMachine == static_cast<BYTE>(DEVPROP_TRUE) ||
            inMachine == static_cast<BYTE>(DEVPROP_FALSE)) {
            entry.inLocalMachineContainerRead = true;
            entry.inLocalMachineContainer = inMachine != 0;
            entry.container = entry.inLocalMachineContainer ? CensusContainer::BuiltIn
                                                            : CensusContainer::Attached;
            if (!readBoth) {
                return;
            }
        }
    }
    GUID id{};
    if (ReadFixedProperty(set, device, device_property::kContainerId, DEVPROP_TYPE_GUID,
                          reinterpret_cast<BYTE*>(&id), sizeof id, error)) {
        entry.containerIdRead = true;
        entry.containerId = id;
        if (entry.container == CensusContainer::NotRead) {
            entry.container = IsEqualGUID(id, device_property::kMachineContainer)
                                  ? CensusContainer::BuiltIn
                                  : CensusContainer::Attached;
        }
    } else if (entry.container == CensusContainer::NotRead) {
        entry.container = CensusContainer::Unknown;
        entry.containerStep = CensusStep::ContainerId;
        entry.containerError = error;
    }
}

// A count's texts would overlap in one buffer: they are handed over only when reading everything.
void Visit(const CensusVisitor& visitor, const CensusEntry& entry) {
    visitor.visit(visitor.context, entry);
}

void Unreadable(const CensusVisitor& visitor, CensusEntry& entry, CensusStep step, DWORD error) {
    entry.verdict = CensusVerdict::Unreadable;
    entry.failedStep = step;
    entry.error = error;
    Visit(visitor, entry);
}

struct Tally {
    CensusScope scope;
    std::int32_t count;
};

void AddIfCounted(void* context, const CensusEntry& entry) noexcept {
    auto* tally = static_cast<Tally*>(context);
    if (IsCounted(entry.verdict, entry.container, tally->scope)) {
        ++tally->count;
    }
}

} // namespace

GUID GetDeviceInterfaceGuid(DeviceKind kind) {
    switch (kind) {
    case kMouseKind:
        return interface_class::kMouse;
    case kHidKind:
        return interface_class::kHid;
    case kUsbHubKind:
        return interface_class::kUsbHub;
    case kUsbDeviceKind:
        return interface_class::kUsbDevice;
    default:
        return interface_class::kKeyboard;
    }
}

std::int32_t CountInputDevices(DeviceKind kind, CensusScope scope) {
    Tally tally{scope, 0};
    WalkInputDevices(kind, CensusVisitor{&AddIfCounted, &tally, nullptr, scope});
    return tally.count;
}

DWORD WalkInputDevices(DeviceKind kind, const CensusVisitor& visitor) {
    const Standard* standard = nullptr;
    if (kind == kMouseKind) {
        standard = &kStandardMouse;
    } else if (kind == kKeyboardKind) {
        standard = &kStandardKeyboard;
    } else {
        return ERROR_INVALID_PARAMETER;
    }
    const GUID classGuid = GetDeviceInterfaceGuid(kind);

    UniqueDeviceInfoSet set(
        SetupDiGetClassDevsW(&classGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set) {
        const DWORD error = GetLastError();
        return error != 0 ? error : ERROR_INVALID_HANDLE;
    }

    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    SP_DEVINFO_DATA deviceData{};
    DetailBuffer detail{};
    WCHAR description[1024];
    constexpr DWORD kDescriptionBytes = static_cast<DWORD>(sizeof description);
    DWORD size = 0;
    int consecutiveFailures = 0;
    const bool readEverything = visitor.readEverything != nullptr;

    for (DWORD index = 0;; ++index) {
        CensusEntry entry;
        entry.kind = kind;
        entry.memberIndex = index;
        if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &classGuid, index, &interfaceData)) {
            const DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_ITEMS) {
                break;
            }
            Unreadable(visitor, entry, CensusStep::Enumeration, error);
            if (++consecutiveFailures >= kMaxConsecutiveEnumFailures) {
                break;
            }
            continue;
        }
        consecutiveFailures = 0;

        // Reset, so that a request that reports nothing never reuses the last interface's size.
        size = 0;
        SetupDiGetDeviceInterfaceDetailW(set.get(), &interfaceData, nullptr, 0, &size, nullptr);
        if (size == 0 || size > sizeof detail) {
            Unreadable(visitor, entry, CensusStep::InterfaceDetail,
                       size == 0 ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
            continue;
        }
        detail.head.cbSize = sizeof detail.head;
        deviceData.cbSize = sizeof deviceData;
        if (!SetupDiGetDeviceInterfaceDetailW(set.get(), &interfaceData, &detail.head, size, &size,
                                              &deviceData)) {
            Unreadable(visitor, entry, CensusStep::InterfaceDetail, GetLastError());
            continue;
        }

        size = 0;
        if (!SetupDiGetDeviceRegistryPropertyW(set.get(), &deviceData, SPDRP_DEVICEDESC, nullptr,
                                               reinterpret_cast<PBYTE>(description),
                                               kDescriptionBytes, &size)) {
            Unreadable(visitor, entry, CensusStep::Description, GetLastError());
            continue;
        }
        if (readEverything) {
            entry.description = TextOf(description, size, sizeof description);
        }
        if (TextIs<Case::Exact>(description, size, sizeof description, standard->description)) {
            entry.verdict = CensusVerdict::CountedByDescription;
        }
        if (entry.verdict != CensusVerdict::CountedByDescription || readEverything) {
            JudgeDriver(set.get(), deviceData, *standard, description, kDescriptionBytes,
                        visitor.readEverything, entry);
        }
        // Only a device that counts can be left out; with every device counted, nothing more is
        // read.
        if (readEverything ||
            (visitor.scope == CensusScope::ExternalOnly && IsCounted(entry.verdict))) {
            LocateContainer(set.get(), deviceData, readEverything, entry);
        }
        Visit(visitor, entry);
    }
    return 0;
}
