// The executable's entry: the role comes from the first argument alone.
#include "service/entry.h"

#include "config/diagnostic_log.h"
#include "platform/console.h"
#include "platform/process.h"
#include "service/status.h"
#include "trigger/hingeflow_service.h"
#include "trigger/slate_mode.h"

#include <cwchar>

namespace {

constexpr const wchar_t* kUsage =
    L"Usage: hingeflow.exe [install | uninstall | status [--json] | help]\n"
    L"\n"
    L"  (no argument)  run as the service HingeflowService; the Service Control Manager starts\n"
    L"                 it so, and started by hand it switches to laptop mode and ends\n"
    L"  install        register HingeflowService to start automatically (administrator)\n"
    L"  uninstall      stop and remove HingeflowService (administrator)\n"
    L"  status         what hingeflow sees and would do now; changes nothing, needs no\n"
    L"                 administrator\n"
    L"  status --json  the same as one JSON object, for scripts\n"
    L"  help, /?, -h, --help\n"
    L"                 this text\n";

bool Is(const wchar_t* argument, const wchar_t* word) {
    return std::wcscmp(argument, word) == 0;
}

int RunRole(int argc, wchar_t** argv) {
    HingeflowService service;
    // Only the roles that log decide on the log: status and help change nothing, and a log file
    // they tried would be made, empty, by whoever asked.
    if (argc <= 1) {
        InitLog();
        // Before the SCM is contacted, so that a start by hand also leaves laptop mode on.
        InitializeConvertibleSlateMode();
        ServiceBase::Run(service);
        return 0;
    }
    const wchar_t* command = argv[1] != nullptr ? argv[1] : L"";
    if (Is(command, L"install")) {
        InitLog();
        ConsolePrintf(L"Installing service\n");
        if (!service.InstallService()) {
            ConsolePrintf(L"Couldn't install service: %d\n", static_cast<int>(GetLastError()));
            return -1;
        }
        ConsolePrintf(L"Service installed\n");
        LogVerbose("service installed");
        return 0;
    }
    if (Is(command, L"uninstall")) {
        InitLog();
        ConsolePrintf(L"Uninstalling service\n");
        if (!service.UninstallService()) {
            ConsolePrintf(L"Couldn't uninstall service: %d\n", static_cast<int>(GetLastError()));
            return -1;
        }
        ConsolePrintf(L"Service uninstalled\n");
        LogVerbose("service uninstalled");
        return 0;
    }
    if (Is(command, L"status")) {
        // Scripts read what follows, so an option mistyped is refused, not ignored.
        const wchar_t* option = argc > 2 && argv[2] != nullptr ? argv[2] : nullptr;
        if (argc <= 3 && (option == nullptr || Is(option, L"--json"))) {
            return RunStatus(service.ServiceName(), option != nullptr);
        }
    } else if (Is(command, L"help") || Is(command, L"/?") || Is(command, L"-h") ||
               Is(command, L"--help")) {
        ConsolePrintf(L"%ls", kUsage);
        return 0;
    }
    ConsolePrintf(L"Invalid argument\n");
    return -1;
}

} // namespace

int HingeflowEntry(int argc, wchar_t** argv) {
    try {
        return RunRole(argc, argv);
    } catch (...) {
        // Only running out of memory gets here; it must not end the process by terminate.
        return -1;
    }
}
