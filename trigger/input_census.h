// Census of present HID mice and keyboards through SetupAPI, and the DeviceKind to interface
// class table. A census allocates nothing on the heap.
#pragma once

#include "platform/windows_base.h"

#include <cstddef>
#include <cstdint>

// 0 keyboard, 1 mouse, 2 HID, 3 USB hub, 4 USB device; any other value means keyboard.
using DeviceKind = std::int32_t;
constexpr DeviceKind kKeyboardKind = 0;
constexpr DeviceKind kMouseKind = 1;
constexpr DeviceKind kHidKind = 2;
constexpr DeviceKind kUsbHubKind = 3;
constexpr DeviceKind kUsbDeviceKind = 4;

GUID GetDeviceInterfaceGuid(DeviceKind kind);

// Which devices a census counts: all of them, or only those outside the machine's own container
// (HingeflowExternalDevicesOnly).
enum class CensusScope : std::uint8_t { AllDevices, ExternalOnly };

// Present interfaces of the kind's class whose device is a standard HID mouse (kind 1) or
// keyboard (kind 0): described exactly as Windows describes one in English, or, in any display
// language, installed by Windows' own driver for it. 0 for every other kind, without a platform
// call. External only, a device Windows places in the machine's container is left out; one whose
// container cannot be told counts as it would otherwise.
std::int32_t CountInputDevices(DeviceKind kind, CensusScope scope = CensusScope::AllDevices);

// --- The walk behind the count, for callers that want each interface and why it counts -------

enum class CensusVerdict : std::uint8_t {
    CountedByDescription, // described exactly as Windows describes the standard device in English
    CountedAsStandardDriver, // installed by Windows' own driver for it: the reserved ID, the in-box
                             // INF
    VendorDriver,            // the reserved ID through another INF, or another HID ID
    NotHid,                  // a driver matched through an ID that is not a HID one
    Unreadable,              // `failedStep` could not be read
};

// The reads of one interface, in the order the walk makes them.
enum class CensusStep : std::uint8_t {
    None,
    Enumeration,
    InterfaceDetail,
    Description,
    MatchingDeviceId,
    InfName,
    InLocalMachineContainer,
    ContainerId,
};

// Where Windows places the device.
enum class CensusContainer : std::uint8_t {
    NotRead,  // the walk stopped before the device, or the count did not need to know
    Attached, // a container of its own
    BuiltIn,  // the machine's own container
    Unknown,  // neither property could be read with its type and size
};

// A text the walk read, in whole code units up to its NUL; null when not read.
struct CensusText {
    const WCHAR* units = nullptr;
    std::size_t length = 0;
};

struct CensusEntry {
    DeviceKind kind = kKeyboardKind;
    DWORD memberIndex = 0;
    CensusVerdict verdict = CensusVerdict::Unreadable;
    CensusStep failedStep = CensusStep::None;
    // The Windows error of the failed step; ERROR_INVALID_DATA for a property of another type,
    // ERROR_INSUFFICIENT_BUFFER for a detail larger than the walk's buffer.
    DWORD error = 0;
    // Given only to a visitor that reads everything; valid during the visit alone.
    CensusText description;
    CensusText matchingDeviceId;
    CensusText infName;
    CensusContainer container = CensusContainer::NotRead;
    // For an Unknown container: the property that left it unknown and its error.
    CensusStep containerStep = CensusStep::None;
    DWORD containerError = 0;
    // Each container property as read, when it was read with its type and size.
    bool inLocalMachineContainerRead = false;
    bool inLocalMachineContainer = false;
    bool containerIdRead = false;
    GUID containerId{};
};

constexpr bool IsCounted(CensusVerdict verdict) {
    return verdict == CensusVerdict::CountedByDescription ||
           verdict == CensusVerdict::CountedAsStandardDriver;
}

constexpr bool IsCounted(CensusVerdict verdict, CensusContainer container, CensusScope scope) {
    return IsCounted(verdict) &&
           (scope == CensusScope::AllDevices || container != CensusContainer::BuiltIn);
}

// Room for the two driver properties beside the description, which the walk itself keeps in its
// frame; as large as that, so that a property reads, or fails, as it does in a count.
struct CensusPropertyBuffers {
    WCHAR matchingDeviceId[1024];
    WCHAR infName[1024];
};

// Called once per interface the walk looks at, failures included. It must not throw.
using CensusVisit = void (*)(void* context, const CensusEntry& entry) noexcept;

struct CensusVisitor {
    CensusVisit visit = nullptr;
    void* context = nullptr;
    // Null for a count, which reads only what its verdict needs. Given, every property of
    // every interface is read into it and the entry's texts and container are filled.
    CensusPropertyBuffers* readEverything = nullptr;
    // For a count: external only, the container of each counted device is read as well.
    CensusScope scope = CensusScope::AllDevices;
};

// One walk over the present interfaces of the kind's class (kinds 0 and 1 only), with the same
// verdict for each interface whichever visitor it serves. Returns 0, or the Windows error that
// kept the walk from starting (ERROR_INVALID_PARAMETER for another kind, without a platform
// call).
DWORD WalkInputDevices(DeviceKind kind, const CensusVisitor& visitor);
