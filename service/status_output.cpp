// `status` in plain words and as one JSON object. Both say the same things in the same words;
// the JSON adds stable codes beside them for scripts. Only printable ASCII is ever printed.
#include "service/status.h"

#include "platform/console.h"
#include "service/module_path.h"
#include "trigger/presence_check.h"

#include <cstdint>
#include <optional>
#include <string>

#ifndef HINGEFLOW_VERSION
#define HINGEFLOW_VERSION "unknown"
#endif

namespace {

// --- ASCII rendering ------------------------------------------------------------------------

enum class Quoting { Json, Text };

void AppendUnit(std::string& out, std::uint32_t unit) {
    static const char kHex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(kHex[(unit >> shift) & 0xF]);
    }
}

// Code units as they come: a lone surrogate is shown as itself, never dropped or replaced, so
// that what Windows stored can be told exactly. A unit beyond 16 bits (a 32-bit wchar_t) is
// shown as the UTF-16 pair that encodes it.
void AppendEscaped(std::string& out, std::uint32_t unit, Quoting quoting) {
    if (quoting == Quoting::Json) {
        switch (unit) {
        case '"':
            out += "\\\"";
            return;
        case '\\':
            out += "\\\\";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        default:
            break;
        }
    }
    if (unit >= 0x20 && unit < 0x7F) {
        out.push_back(static_cast<char>(unit));
    } else if (unit > 0xFFFF && unit <= 0x10FFFF) {
        AppendUnit(out, 0xD800 + ((unit - 0x10000) >> 10));
        AppendUnit(out, 0xDC00 + ((unit - 0x10000) & 0x3FF));
    } else {
        AppendUnit(out, unit > 0xFFFF ? 0xFFFD : unit);
    }
}

std::string Ascii(const std::wstring& text, Quoting quoting = Quoting::Text) {
    std::string out;
    for (const wchar_t unit : text) {
        AppendEscaped(out, static_cast<std::uint32_t>(unit), quoting);
    }
    return out;
}

// Registry text is in the ANSI code page, which this process never asks about: bytes above 127
// are shown as they are, one \u00XX each.
std::string Ascii(const std::string& text, Quoting quoting = Quoting::Text) {
    std::string out;
    for (const char byte : text) {
        AppendEscaped(out, static_cast<unsigned char>(byte), quoting);
    }
    return out;
}

std::string Quoted(const std::wstring& text) {
    return "\"" + Ascii(text) + "\"";
}

std::string Quoted(const std::string& text) {
    return "\"" + Ascii(text) + "\"";
}

std::string WithError(const std::string& what, DWORD error) {
    return error == 0 ? what : what + " (error " + std::to_string(error) + ")";
}

std::string Words(const StatusProblem& problem) {
    return WithError(problem.what, problem.error);
}

// --- Words ------------------------------------------------------------------------------------

std::string TypeName(DWORD type) {
    const char* name = RegistryTypeName(type);
    return name != nullptr ? name : "type " + std::to_string(type);
}

const char* SourceName(SettingSource source) {
    switch (source) {
    case SettingSource::Policy:
        return "policy";
    case SettingSource::Configuration:
        return "configuration";
    default:
        return "default";
    }
}

std::string PolicyKeyWords(LSTATUS status) {
    if (status == ERROR_SUCCESS) {
        return "present: a value set there wins over the same value here";
    }
    if (status == ERROR_FILE_NOT_FOUND) {
        return "absent";
    }
    return WithError("it cannot be opened", static_cast<DWORD>(status)) + ", so it is passed over";
}

std::string StateName(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED:
        return "stopped";
    case SERVICE_START_PENDING:
        return "starting";
    case SERVICE_STOP_PENDING:
        return "stopping";
    case SERVICE_RUNNING:
        return "running";
    case SERVICE_CONTINUE_PENDING:
        return "continuing";
    case SERVICE_PAUSE_PENDING:
        return "pausing";
    case SERVICE_PAUSED:
        return "paused";
    default:
        return "state " + std::to_string(state);
    }
}

std::string StartTypeName(DWORD startType) {
    switch (startType) {
    case SERVICE_BOOT_START:
        return "boot";
    case SERVICE_SYSTEM_START:
        return "system";
    case SERVICE_AUTO_START:
        return "automatic";
    case SERVICE_DEMAND_START:
        return "manual";
    case SERVICE_DISABLED:
        return "disabled";
    default:
        return "start type " + std::to_string(startType);
    }
}

wchar_t FoldAscii(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Paths are compared as Windows compares file names, without regard to (ASCII) case.
bool ImageIsExecutable(const std::wstring& imagePath, const std::wstring& executable) {
    const std::wstring program = ProgramOfImagePath(imagePath);
    if (program.size() != executable.size() || executable.empty()) {
        return false;
    }
    for (std::size_t i = 0; i < program.size(); ++i) {
        if (FoldAscii(program[i]) != FoldAscii(executable[i])) {
            return false;
        }
    }
    return true;
}

bool SlateModeReadable(const SlateModeReading& reading) {
    return reading.failure == SlateModeReading::Failure::None;
}

std::string SlateModeMeaning(DWORD value) {
    switch (value) {
    case 0:
        return "tablet mode";
    case 1:
        return "laptop mode";
    case 10:
        return "the passing value of a forced switch to laptop mode";
    default:
        return "not a value hingeflow writes";
    }
}

std::string SlateModeProblem(const SlateModeReading& reading) {
    switch (reading.failure) {
    case SlateModeReading::Failure::OpenKey:
        return WithError(reading.status == ERROR_FILE_NOT_FOUND ? "its key does not exist"
                                                                : "its key cannot be opened",
                         static_cast<DWORD>(reading.status));
    case SlateModeReading::Failure::QueryValue:
        if (reading.status == ERROR_MORE_DATA) {
            return WithError("it is stored in more than 4 bytes", ERROR_MORE_DATA);
        }
        return WithError(reading.status == ERROR_FILE_NOT_FOUND ? "the value does not exist"
                                                                : "it cannot be read",
                         static_cast<DWORD>(reading.status));
    case SlateModeReading::Failure::WrongType:
        return "it is " + TypeName(reading.type) + ", not REG_DWORD";
    default:
        return std::string();
    }
}

// Why a configuration value gives its reader's neutral result; empty when it does not.
std::string ConfigProblemWords(const ConfigProblem& problem, DWORD expectedType) {
    const DWORD status = static_cast<DWORD>(problem.status);
    switch (problem.failure) {
    case ConfigFailure::OpenKey:
        return WithError("the configuration key cannot be opened", status);
    case ConfigFailure::QueryValue:
        return WithError(status == ERROR_FILE_NOT_FOUND ? "absent" : "it cannot be queried",
                         status);
    case ConfigFailure::WrongType:
        return "it is " + TypeName(problem.storedType) + ", not " + TypeName(expectedType);
    case ConfigFailure::QueryData:
        if (status == ERROR_MORE_DATA) {
            return WithError(expectedType == REG_SZ ? "it is longer than 2047 characters"
                                                    : "it is stored in more than 4 bytes",
                             status);
        }
        return WithError("it cannot be read", status);
    default:
        return std::string();
    }
}

struct Decision {
    Trigger trigger = Trigger::Combined;
    bool externalOnly = false;
    std::int32_t builtInKeyboards = 0;
    std::int32_t mice = 0;
    std::int32_t keyboards = 0;
    bool externalInput = false;
};

Decision Decide(const StatusFacts& facts) {
    Decision decision;
    decision.trigger = SelectTrigger(LowerCaseTriggerDevice(facts.triggerDevice.text));
    decision.externalOnly = ExternalDevicesOnlyFrom(facts.externalDevicesOnly);
    decision.builtInKeyboards =
        decision.externalOnly ? 0 : BuiltInKeyboardNumberFrom(facts.builtInKeyboardNumber.value);
    const CensusScope scope =
        decision.externalOnly ? CensusScope::ExternalOnly : CensusScope::AllDevices;
    for (const DeviceFacts& device : facts.devices) {
        if (IsCounted(device.verdict, device.container, scope)) {
            ++(device.kind == kMouseKind ? decision.mice : decision.keyboards);
        }
    }
    decision.externalInput = ShowsExternalInput(decision.trigger, decision.mice, decision.keyboards,
                                                decision.builtInKeyboards);
    return decision;
}

const char* TriggerCode(Trigger trigger) {
    switch (trigger) {
    case Trigger::Mouse:
        return "mouse";
    case Trigger::Keyboard:
        return "keyboard";
    default:
        return "combined";
    }
}

std::string TriggerRule(const Decision& decision) {
    std::string keyboards = decision.externalOnly
                                ? std::string("at least 1 counted keyboard")
                                : "more counted keyboards than the " +
                                      std::to_string(decision.builtInKeyboards) + " built in";
    switch (decision.trigger) {
    case Trigger::Mouse:
        return "at least 1 counted mouse";
    case Trigger::Keyboard:
        return keyboards;
    default:
        return "at least 1 counted mouse and " + keyboards;
    }
}

const char* KindName(DeviceKind kind) {
    return kind == kMouseKind ? "mouse" : "keyboard";
}

const char* VerdictCode(CensusVerdict verdict) {
    switch (verdict) {
    case CensusVerdict::CountedByDescription:
        return "englishDescription";
    case CensusVerdict::CountedAsStandardDriver:
        return "standardDriver";
    case CensusVerdict::VendorDriver:
        return "vendorDriver";
    case CensusVerdict::NotHid:
        return "notHid";
    default:
        return "unreadable";
    }
}

// Each read of the walk as JSON names it and as the plain words say it.
struct StepNames {
    const char* code;
    const char* words;
};

StepNames NamesOf(CensusStep step) {
    switch (step) {
    case CensusStep::Enumeration:
        return {"interface", "interface"};
    case CensusStep::InterfaceDetail:
        return {"interfaceDetail", "interface detail"};
    case CensusStep::Description:
        return {"description", "description"};
    case CensusStep::MatchingDeviceId:
        return {"matchingDeviceId", "matching device ID"};
    case CensusStep::InfName:
        return {"infName", "INF name"};
    case CensusStep::InLocalMachineContainer:
        return {"inLocalMachineContainer", "DEVPKEY_Device_InLocalMachineContainer"};
    case CensusStep::ContainerId:
        return {"containerId", "DEVPKEY_Device_ContainerId"};
    default:
        return {"none", "data"};
    }
}

std::string DeviceReason(const DeviceFacts& device) {
    const std::string standard = std::string("standard HID ") + KindName(device.kind);
    switch (device.verdict) {
    case CensusVerdict::CountedByDescription:
        return "counted: described as Windows describes the " + standard + " in English";
    case CensusVerdict::CountedAsStandardDriver:
        return "counted: Windows installed its own " + standard + " driver (any display language)";
    case CensusVerdict::VendorDriver:
        return "not counted: a vendor's driver, not Windows' own " + standard + " driver";
    case CensusVerdict::NotHid:
        return "not counted: not a HID device";
    default:
        break;
    }
    const std::string step = NamesOf(device.failedStep).words;
    if (device.failedStep != CensusStep::MatchingDeviceId &&
        device.failedStep != CensusStep::InfName) {
        return WithError("not counted: its " + step + " cannot be read", device.error);
    }
    // Both rules were tried: the description first, then what installed the driver.
    return WithError("not counted: not described as the " + standard + " in English, and its " +
                         step +
                         (device.error == ERROR_NOT_FOUND ? " is not set" : " cannot be read"),
                     device.error);
}

const char* ContainerCode(CensusContainer container) {
    switch (container) {
    case CensusContainer::Attached:
        return "attached";
    case CensusContainer::BuiltIn:
        return "builtIn";
    default:
        return "unknown";
    }
}

std::string ContainerWords(const DeviceFacts& device) {
    switch (device.container) {
    case CensusContainer::Attached:
        return "attached (its own container)";
    case CensusContainer::BuiltIn:
        return "built in (this machine's container)";
    default:
        return std::string("unknown: ") + NamesOf(device.containerStep).words + ", error " +
               std::to_string(device.containerError);
    }
}

bool CountedExternalOnly(const DeviceFacts& device) {
    return IsCounted(device.verdict, device.container, CensusScope::ExternalOnly);
}

// As Windows writes a GUID, in lower case: {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}.
std::string GuidText(const GUID& guid) {
    static const char kHex[] = "0123456789abcdef";
    std::string text = "{";
    const auto append = [&](std::uint32_t value, int digits) {
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
            text.push_back(kHex[(value >> shift) & 0xF]);
        }
    };
    append(static_cast<std::uint32_t>(guid.Data1), 8);
    text.push_back('-');
    append(guid.Data2, 4);
    text.push_back('-');
    append(guid.Data3, 4);
    for (int i = 0; i < 8; ++i) {
        if (i == 0 || i == 2) {
            text.push_back('-');
        }
        append(guid.Data4[i], 2);
    }
    return text + "}";
}

// --- Plain words ----------------------------------------------------------------------------

std::string Counted(std::int32_t count, const std::string& one, const std::string& many = "") {
    return std::to_string(count) + " " + (count == 1 ? one : many.empty() ? one + "s" : many);
}

void Line(std::string& out, const std::string& text) {
    out += text;
    out += '\n';
}

// One value's line, named with where it came from, and a policy value passed over with why.
void SettingLines(std::string& out, const char* name, const SettingOrigin& origin,
                  DWORD expectedType, const std::string& reading) {
    Line(out, std::string("  ") + name + " (" + SourceName(origin.source) + "): " + reading);
    if (origin.policyRefusal.failure != ConfigFailure::None) {
        Line(out,
             "    policy value refused: " + PolicyRefusalWords(origin.policyRefusal, expectedType));
    }
}

std::string DeviceHeading(const DeviceFacts& device) {
    std::string line =
        std::string("  ") + KindName(device.kind) + " " + std::to_string(device.memberIndex) + ":";
    if (device.description) {
        line += " " + Quoted(*device.description);
    }
    if (device.matchingDeviceId) {
        line += ", matching device ID " + Ascii(*device.matchingDeviceId);
    }
    if (device.infName) {
        line += ", INF " + Ascii(*device.infName);
    }
    return line;
}

void ServiceText(std::string& out, const StatusFacts& facts) {
    const ServiceFacts& service = facts.service;
    const std::string heading = "Service " + Ascii(service.name) + ": ";
    if (service.problem.Exists()) {
        Line(out, heading + "cannot be read: " + Words(service.problem));
        return;
    }
    if (!service.installed) {
        Line(out, heading + "not installed");
        return;
    }
    Line(out, heading + "installed, " +
                  (service.stateKnown ? StateName(service.state) : Words(service.stateProblem)));
    if (!service.configKnown) {
        Line(out, "  " + Words(service.configProblem));
        return;
    }
    Line(out, "  start type: " + StartTypeName(service.startType));
    Line(out, "  image path: " + Ascii(service.imagePath));
    if (!facts.executableProblem.Exists() &&
        !ImageIsExecutable(service.imagePath, facts.executable)) {
        Line(out, "  the image path is not this executable");
    }
}

std::string StatusTextOf(const StatusFacts& facts) {
    std::string out;
    Line(out, std::string("hingeflow ") + HINGEFLOW_VERSION + ", " +
                  (facts.executableProblem.Exists() ? Words(facts.executableProblem)
                                                    : Ascii(facts.executable)));
    Line(out, "");
    ServiceText(out, facts);
    Line(out, "");

    const SlateModeReading& slate = facts.slateMode;
    Line(out, SlateModeReadable(slate)
                  ? "Slate mode: ConvertibleSlateMode is " + std::to_string(slate.value) + ", " +
                        SlateModeMeaning(slate.value)
                  : "Slate mode: ConvertibleSlateMode cannot be read: " + SlateModeProblem(slate));
    Line(out, "");

    const Decision decision = Decide(facts);
    Line(out, "Configuration (HKEY_CURRENT_CONFIG\\System\\CurrentControlSet):");
    Line(out, std::string("  policy ") + kPolicyKeyName + ": " +
                  PolicyKeyWords(facts.triggerDevice.origin.policyKeyStatus));
    const std::string triggerProblem = ConfigProblemWords(facts.triggerDevice.problem, REG_SZ);
    SettingLines(out, kTriggerDeviceValue, facts.triggerDevice.origin, REG_SZ,
                 (triggerProblem.empty() ? Quoted(facts.triggerDevice.text) + ","
                                         : triggerProblem + ", so") +
                     " the " + TriggerCode(decision.trigger) + " trigger");
    const std::string numberProblem =
        ConfigProblemWords(facts.builtInKeyboardNumber.problem, REG_DWORD);
    const std::string builtIn = Counted(decision.builtInKeyboards, "built-in keyboard");
    std::string number = builtIn;
    if (decision.externalOnly) {
        number = "not used: external devices only";
    } else if (!numberProblem.empty()) {
        number = numberProblem + ", so " + builtIn;
    } else if (static_cast<DWORD>(decision.builtInKeyboards) != facts.builtInKeyboardNumber.value) {
        number = std::to_string(facts.builtInKeyboardNumber.value) + ", taken as " + builtIn;
    }
    SettingLines(out, kBuiltInKeyboardNumberValue, facts.builtInKeyboardNumber.origin, REG_DWORD,
                 number);
    const std::string modeProblem =
        ConfigProblemWords(facts.externalDevicesOnly.problem, REG_DWORD);
    SettingLines(out, kExternalDevicesOnlyValue, facts.externalDevicesOnly.origin, REG_DWORD,
                 !modeProblem.empty() ? modeProblem + ", so all devices count"
                                      : std::to_string(facts.externalDevicesOnly.value) +
                                            (decision.externalOnly ? ", external devices only"
                                                                   : ", so all devices count"));
    const std::string logProblem = ConfigProblemWords(facts.logPath.problem, REG_SZ);
    SettingLines(out, kLogPathValue, facts.logPath.origin, REG_SZ,
                 !logProblem.empty() ? logProblem + ", so no log"
                 : facts.log.wouldLog
                     ? Quoted(facts.logPath.text) + ", where the service would log"
                     : Quoted(facts.logPath.text) +
                           ", where the service would not log: " + facts.log.reason);
    Line(out, "");

    Line(out, "Devices:");
    for (const DeviceFacts& device : facts.devices) {
        Line(out, DeviceHeading(device));
        Line(out, "    " + DeviceReason(device));
        if (device.container != CensusContainer::NotRead) {
            Line(out, "    container: " + ContainerWords(device));
        }
        Line(out, std::string("    with external devices only: ") +
                      (CountedExternalOnly(device) ? "counted" : "not counted") +
                      "; without: " + (IsCounted(device.verdict) ? "counted" : "not counted"));
    }
    for (const auto& [kind, listing] : {std::make_pair(kKeyboardKind, &facts.keyboardListing),
                                        std::make_pair(kMouseKind, &facts.mouseListing)}) {
        if (listing->Exists()) {
            Line(out, std::string("  ") + KindName(kind) + ": " + Words(*listing));
        }
    }
    if (facts.devices.empty()) {
        Line(out, "  no keyboard or mouse interface is present");
    }
    Line(out, "");

    Line(out, std::string("Decision, under the ") + TriggerCode(decision.trigger) + " trigger" +
                  (decision.externalOnly ? ", external devices only" : "") +
                  ": external input is " + TriggerRule(decision));
    Line(out, "  counted now: " + Counted(decision.mice, "mouse", "mice") + ", " +
                  Counted(decision.keyboards, "keyboard"));
    Line(out, std::string("  external input: ") + (decision.externalInput ? "yes" : "no"));
    Line(out, std::string(
                  "  an arrival (USB device, keyboard or mouse), or a resume from sleep, would ") +
                  (decision.externalInput ? "switch to laptop mode" : "change nothing"));
    Line(out, std::string("  a removal (USB device, keyboard or mouse) would ") +
                  (decision.externalInput ? "change nothing" : "switch to tablet mode"));
    if (!SlateModeReadable(slate)) {
        Line(out, "  but a switch would fail while ConvertibleSlateMode cannot be read");
    }
    return out;
}

// --- JSON -------------------------------------------------------------------------------------

std::string Json(const std::wstring& text) {
    return "\"" + Ascii(text, Quoting::Json) + "\"";
}

std::string Json(const std::string& text) {
    return "\"" + Ascii(text, Quoting::Json) + "\"";
}

std::string Json(bool value) {
    return value ? "true" : "false";
}

std::string Json(DWORD value) {
    return std::to_string(value);
}

std::string JsonOr(bool present, const std::string& json) {
    return present ? json : "null";
}

std::string Json(const std::optional<std::wstring>& text) {
    return text ? Json(*text) : "null";
}

// Objects and arrays with two-space indentation; keys are ASCII literals.
class JsonWriter {
public:
    JsonWriter& Begin(const char* key, char bracket) {
        Prefix(key);
        out += bracket;
        ++depth;
        empty = true;
        return *this;
    }
    JsonWriter& End(char bracket) {
        --depth;
        if (!empty) {
            NewLine();
        }
        out += bracket;
        empty = false;
        return *this;
    }
    JsonWriter& Field(const char* key, const std::string& json) {
        Prefix(key);
        out += json;
        empty = false;
        return *this;
    }
    // What could not be read, in the words of the plain output, and its Windows error alone;
    // both null when all was read.
    JsonWriter& Problem(const std::string& words, DWORD error) {
        Field("problem", JsonOr(!words.empty(), Json(words)));
        return Field("error", JsonOr(!words.empty() && error != 0, Json(error)));
    }
    std::string Text() const { return out + "\n"; }

private:
    void Prefix(const char* key) {
        if (!empty) {
            out += ',';
        }
        if (depth > 0) {
            NewLine();
        }
        if (key != nullptr) {
            out += "\"";
            out += key;
            out += "\": ";
        }
    }
    void NewLine() {
        out += '\n';
        out.append(static_cast<std::size_t>(depth) * 2, ' ');
    }

    std::string out;
    int depth = 0;
    bool empty = true;
};

void ServiceJson(JsonWriter& json, const StatusFacts& facts) {
    const ServiceFacts& service = facts.service;
    const bool known = !service.problem.Exists();
    const bool config = known && service.configKnown;
    json.Begin("service", '{')
        .Field("name", Json(service.name))
        .Field("installed", JsonOr(known, Json(service.installed)))
        .Field("state", JsonOr(service.stateKnown, Json(StateName(service.state))))
        .Field("startType", JsonOr(config, Json(StartTypeName(service.startType))))
        .Field("imagePath", JsonOr(config, Json(service.imagePath)))
        .Field("imageIsThisExecutable",
               JsonOr(config && !facts.executableProblem.Exists(),
                      Json(ImageIsExecutable(service.imagePath, facts.executable))));
    const StatusProblem& problem = service.problem.Exists()        ? service.problem
                                   : service.stateProblem.Exists() ? service.stateProblem
                                                                   : service.configProblem;
    json.Problem(problem.Exists() ? Words(problem) : std::string(), problem.error).End('}');
}

// `derivedKey`, when given, is what the service makes of the value. The object is left open for
// the caller's own fields.
JsonWriter& ConfigJson(JsonWriter& json, const char* name, const std::string& value,
                       const ConfigProblem& problem, const SettingOrigin& origin,
                       DWORD expectedType, const char* derivedKey, const std::string& derived) {
    json.Begin(name, '{')
        .Field("value", value)
        .Field("readable", Json(problem.failure == ConfigFailure::None))
        .Problem(ConfigProblemWords(problem, expectedType),
                 problem.failure == ConfigFailure::WrongType ? 0
                                                             : static_cast<DWORD>(problem.status));
    if (derivedKey != nullptr) {
        json.Field(derivedKey, derived);
    }
    const ConfigProblem& refusal = origin.policyRefusal;
    const bool refused = refusal.failure != ConfigFailure::None;
    return json.Field("source", Json(std::string(SourceName(origin.source))))
        .Field("policyRefused", JsonOr(refused, Json(PolicyRefusalWords(refusal, expectedType))))
        .Field("policyError", JsonOr(refused && refusal.failure != ConfigFailure::WrongType,
                                     Json(static_cast<DWORD>(refusal.status))));
}

void DeviceJson(JsonWriter& json, const DeviceFacts& device) {
    json.Begin(nullptr, '{')
        .Field("class", Json(std::string(KindName(device.kind))))
        .Field("index", Json(device.memberIndex))
        .Field("description", Json(device.description))
        .Field("matchingDeviceId", Json(device.matchingDeviceId))
        .Field("infName", Json(device.infName))
        .Field("counted", Json(IsCounted(device.verdict)))
        .Field("verdict", Json(std::string(VerdictCode(device.verdict))))
        .Field("unreadable", device.verdict == CensusVerdict::Unreadable
                                 ? Json(std::string(NamesOf(device.failedStep).code))
                                 : "null")
        .Field("error", JsonOr(device.verdict == CensusVerdict::Unreadable && device.error != 0,
                               Json(device.error)))
        .Field("reason", Json(DeviceReason(device)))
        .Field("inLocalMachineContainer",
               device.inLocalMachineContainer ? Json(*device.inLocalMachineContainer) : "null")
        .Field("containerId", device.containerId ? Json(GuidText(*device.containerId)) : "null")
        .Field("container", JsonOr(device.container != CensusContainer::NotRead,
                                   Json(std::string(ContainerCode(device.container)))))
        .Field("containerReason",
               JsonOr(device.container != CensusContainer::NotRead, Json(ContainerWords(device))))
        .Field("countedExternalOnly", Json(CountedExternalOnly(device)))
        .End('}');
}

std::string StatusJsonOf(const StatusFacts& facts) {
    JsonWriter json;
    json.Begin(nullptr, '{')
        .Field("version", Json(std::string(HINGEFLOW_VERSION)))
        .Field("executable", JsonOr(!facts.executableProblem.Exists(), Json(facts.executable)));
    ServiceJson(json, facts);

    const SlateModeReading& slate = facts.slateMode;
    const bool readable = SlateModeReadable(slate);
    json.Begin("slateMode", '{')
        .Field("value", JsonOr(readable, Json(slate.value)))
        .Field("meaning", JsonOr(readable, Json(SlateModeMeaning(slate.value))))
        .Problem(SlateModeProblem(slate), slate.failure == SlateModeReading::Failure::WrongType
                                              ? 0
                                              : static_cast<DWORD>(slate.status))
        .End('}');

    const Decision decision = Decide(facts);
    json.Begin("configuration", '{');
    ConfigJson(json, kTriggerDeviceValue, Json(facts.triggerDevice.text),
               facts.triggerDevice.problem, facts.triggerDevice.origin, REG_SZ, "trigger",
               Json(std::string(TriggerCode(decision.trigger))))
        .End('}');
    ConfigJson(
        json, kBuiltInKeyboardNumberValue, Json(facts.builtInKeyboardNumber.value),
        facts.builtInKeyboardNumber.problem, facts.builtInKeyboardNumber.origin, REG_DWORD,
        "builtInKeyboards",
        Json(static_cast<DWORD>(BuiltInKeyboardNumberFrom(facts.builtInKeyboardNumber.value))))
        .Field("used", Json(!decision.externalOnly))
        .End('}');
    ConfigJson(json, kExternalDevicesOnlyValue, Json(facts.externalDevicesOnly.value),
               facts.externalDevicesOnly.problem, facts.externalDevicesOnly.origin, REG_DWORD,
               "externalDevicesOnly", Json(decision.externalOnly))
        .End('}');
    ConfigJson(json, kLogPathValue, Json(facts.logPath.text), facts.logPath.problem,
               facts.logPath.origin, REG_SZ, nullptr, std::string())
        .End('}');
    json.Field("policyKey", Json(std::string(kPolicyKeyName)));
    json.End('}');

    json.Begin("log", '{')
        .Field("path", Json(facts.logPath.text))
        .Field("wouldLog", Json(facts.log.wouldLog))
        .Field("reason", JsonOr(!facts.log.wouldLog, Json(facts.log.reason)))
        .End('}');

    json.Begin("devices", '[');
    for (const DeviceFacts& device : facts.devices) {
        DeviceJson(json, device);
    }
    json.End(']');
    json.Begin("deviceListing", '{');
    for (const auto& [name, listing] : {std::make_pair("keyboard", &facts.keyboardListing),
                                        std::make_pair("mouse", &facts.mouseListing)}) {
        json.Begin(name, '{')
            .Problem(listing->Exists() ? Words(*listing) : std::string(), listing->error)
            .End('}');
    }
    json.End('}');

    json.Begin("decision", '{')
        .Field("trigger", Json(std::string(TriggerCode(decision.trigger))))
        .Field("builtInKeyboards", Json(static_cast<DWORD>(decision.builtInKeyboards)))
        .Field("externalDevicesOnly", Json(decision.externalOnly))
        .Field("mice", Json(static_cast<DWORD>(decision.mice)))
        .Field("keyboards", Json(static_cast<DWORD>(decision.keyboards)))
        .Field("externalInput", Json(decision.externalInput))
        .Field("arrival", Json(std::string(decision.externalInput ? "laptop mode" : "no change")))
        .Field("removal", Json(std::string(decision.externalInput ? "no change" : "tablet mode")))
        .End('}');
    return json.End('}').Text();
}

// Printed line by line: a console takes a line at a time, and the simulator's capture too.
void Print(const std::string& text) {
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::wstring line(text.begin() + static_cast<std::ptrdiff_t>(start),
                                text.begin() + static_cast<std::ptrdiff_t>(end));
        ConsolePrintf(L"%ls", line.c_str());
        start = end;
    }
}

} // namespace

std::string StatusText(const StatusFacts& facts) {
    return StatusTextOf(facts);
}

std::string StatusJson(const StatusFacts& facts) {
    return StatusJsonOf(facts);
}

int RunStatus(const std::wstring& serviceName, bool json) {
    const StatusFacts facts = GatherStatusFacts(serviceName);
    Print(json ? StatusJson(facts) : StatusText(facts));
    return 0;
}
