// What `status` reads, each with the least right that reads it: the SCM and the service for
// query, ConvertibleSlateMode for query alone, the configuration through the readers that
// explain instead of logging (policy first), the devices through the census's own walk.
#include "service/status.h"

#include "platform/process.h"
#include "platform/services.h"
#include "platform/unique_handle.h"
#include "service/module_path.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace {

// The documented upper bound of a service's configuration record with its strings.
constexpr DWORD kServiceConfigBytes = 8192;

StatusProblem Problem(const char* what, DWORD error) {
    return StatusProblem{what, error};
}

void ReadExecutable(StatusFacts& facts) {
    if (!ReadModulePath(facts.executable)) {
        facts.executableProblem =
            Problem("the path of this executable cannot be read", GetLastError());
    }
}

void ReadServiceConfig(SC_HANDLE service, ServiceFacts& facts) {
    // Aligned for the record at its head; grown once should the SCM ever ask for more.
    std::vector<std::uint64_t> buffer(kServiceConfigBytes / sizeof(std::uint64_t));
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
        DWORD needed = 0;
        if (QueryServiceConfigW(service, config, bytes, &needed)) {
            facts.configKnown = true;
            facts.startType = config->dwStartType;
            facts.imagePath = config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : L"";
            return;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER || needed <= bytes) {
            facts.configProblem = Problem("its configuration cannot be read", error);
            return;
        }
        buffer.resize(needed / sizeof(std::uint64_t) + 1);
    }
    facts.configProblem =
        Problem("its configuration cannot be read", static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

void ReadService(ServiceFacts& facts) {
    const UniqueScmHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        facts.problem = Problem("the service control manager cannot be opened", GetLastError());
        return;
    }
    const UniqueScmHandle service(OpenServiceW(manager.get(), facts.name.c_str(),
                                               SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
    if (!service) {
        const DWORD error = GetLastError();
        if (error != ERROR_SERVICE_DOES_NOT_EXIST) {
            facts.problem = Problem("the service cannot be opened", error);
        }
        return;
    }
    facts.installed = true;
    SERVICE_STATUS status{};
    if (QueryServiceStatus(service.get(), &status)) {
        facts.stateKnown = true;
        facts.state = status.dwCurrentState;
    } else {
        facts.stateProblem = Problem("its state cannot be read", GetLastError());
    }
    ReadServiceConfig(service.get(), facts);
}

struct Listing {
    std::vector<DeviceFacts>* devices;
    bool complete;
};

std::optional<std::wstring> Copy(const CensusText& text) {
    if (text.units == nullptr) {
        return std::nullopt;
    }
    return std::wstring(text.units, text.length);
}

// Copies what the walk hands over; the walk's own buffers are gone once it returns.
void ListDevice(void* context, const CensusEntry& entry) noexcept {
    auto* listing = static_cast<Listing*>(context);
    try {
        DeviceFacts device;
        device.kind = entry.kind;
        device.memberIndex = entry.memberIndex;
        device.verdict = entry.verdict;
        device.failedStep = entry.failedStep;
        device.error = entry.error;
        device.description = Copy(entry.description);
        device.matchingDeviceId = Copy(entry.matchingDeviceId);
        device.infName = Copy(entry.infName);
        device.container = entry.container;
        device.containerStep = entry.containerStep;
        device.containerError = entry.containerError;
        if (entry.inLocalMachineContainerRead) {
            device.inLocalMachineContainer = entry.inLocalMachineContainer;
        }
        if (entry.containerIdRead) {
            device.containerId = entry.containerId;
        }
        listing->devices->push_back(std::move(device));
    } catch (...) {
        listing->complete = false;
    }
}

StatusProblem ListDevices(DeviceKind kind, std::vector<DeviceFacts>& devices) {
    // Large for a stack frame, and this caller may allocate: the census itself stays lean.
    const auto buffers = std::make_unique<CensusPropertyBuffers>();
    Listing listing{&devices, true};
    const DWORD error = WalkInputDevices(kind, CensusVisitor{&ListDevice, &listing, buffers.get()});
    if (error != 0) {
        return Problem("the interfaces cannot be listed", error);
    }
    if (!listing.complete) {
        return Problem("the list is incomplete", static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    }
    return StatusProblem{};
}

} // namespace

StatusFacts GatherStatusFacts(const std::wstring& serviceName) {
    StatusFacts facts;
    ReadExecutable(facts);
    facts.service.name = serviceName;
    ReadService(facts.service);
    facts.slateMode = ReadConvertibleSlateMode();
    facts.triggerDevice = ExplainSettingString(kTriggerDeviceValue);
    facts.builtInKeyboardNumber = ExplainSettingDword(kBuiltInKeyboardNumberValue);
    facts.logPath = ExplainSettingString(kLogPathValue);
    facts.externalDevicesOnly = ExplainSettingDword(kExternalDevicesOnlyValue);
    facts.log = WouldLogTo(facts.logPath);
    facts.keyboardListing = ListDevices(kKeyboardKind, facts.devices);
    facts.mouseListing = ListDevices(kMouseKind, facts.devices);
    return facts;
}
