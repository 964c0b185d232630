// `hingeflow.exe status`: what the service sees and would do on this machine, read with the
// rights of a standard user. It writes nothing: no registry value, no log line, no control.
#pragma once

#include "config/config_values.h"
#include "service/log_verdict.h"
#include "trigger/input_census.h"
#include "trigger/slate_mode.h"

#include <optional>
#include <string>
#include <vector>

// Where a read stopped: the step, in words, and its Windows error (0 when none applies).
struct StatusProblem {
    std::string what;
    DWORD error = 0;
    bool Exists() const { return !what.empty(); }
};

struct ServiceFacts {
    std::wstring name;
    bool installed = false;
    StatusProblem problem; // the SCM or the service could not be asked; `installed` then unknown
    bool stateKnown = false;
    DWORD state = 0;
    StatusProblem stateProblem;
    bool configKnown = false;
    DWORD startType = 0;
    std::wstring imagePath;
    StatusProblem configProblem;
};

struct DeviceFacts {
    DeviceKind kind = kKeyboardKind;
    DWORD memberIndex = 0;
    CensusVerdict verdict = CensusVerdict::Unreadable;
    CensusStep failedStep = CensusStep::None;
    DWORD error = 0;
    // Empty for a text the walk stopped before.
    std::optional<std::wstring> description;
    std::optional<std::wstring> matchingDeviceId;
    std::optional<std::wstring> infName;
    CensusContainer container = CensusContainer::NotRead;
    CensusStep containerStep = CensusStep::None;
    DWORD containerError = 0;
    std::optional<bool> inLocalMachineContainer;
    std::optional<GUID> containerId;
};

struct StatusFacts {
    std::wstring executable;
    StatusProblem executableProblem;
    ServiceFacts service;
    SlateModeReading slateMode;
    SettingText triggerDevice;
    SettingNumber builtInKeyboardNumber;
    SettingText logPath;
    SettingNumber externalDevicesOnly;
    LogVerdict log;
    std::vector<DeviceFacts> devices;
    StatusProblem keyboardListing; // the class could not be listed at all
    StatusProblem mouseListing;
};

// Every read is made; a failure is recorded where it happened and the rest goes on.
StatusFacts GatherStatusFacts(const std::wstring& serviceName);

// Printable-ASCII renderings: everything else appears as \uXXXX (UTF-16 code units, lone
// surrogates included; registry text byte by byte), so that no console can change it.
std::string StatusText(const StatusFacts& facts);
std::string StatusJson(const StatusFacts& facts);

// Gathers and prints; 0 whatever could not be read.
int RunStatus(const std::wstring& serviceName, bool json);
