// The executable's entry: the role comes from the first argument alone.
#include "service/entry.h"

#include "config/diagnostic_log.h"
#include "platform/console.h"
#include "platform/process.h"
#include "trigger/hingeflow_service.h"
#include "trigger/slate_mode.h"

#include <cwchar>

namespace {

int RunRole(int argc, wchar_t** argv) {
    HingeflowService service;
    if (argc <= 1) {
        // Before the SCM is contacted, so that a start by hand also leaves laptop mode on.
        InitializeConvertibleSlateMode();
        ServiceBase::Run(service);
        return 0;
    }
    const wchar_t* command = argv[1] != nullptr ? argv[1] : L"";
    if (std::wcscmp(command, L"install") == 0) {
        ConsolePrintf(L"Installing service\n");
        if (!service.InstallService()) {
            ConsolePrintf(L"Couldn't install service: %d\n", static_cast<int>(GetLastError()));
            return -1;
        }
        ConsolePrintf(L"Service installed\n");
        LogVerbose("service installed");
        return 0;
    }
    if (std::wcscmp(command, L"uninstall") == 0) {
        ConsolePrintf(L"Uninstalling service\n");
        if (!service.UninstallService()) {
            ConsolePrintf(L"Couldn't uninstall service: %d\n", static_cast<int>(GetLastError()));
            return -1;
        }
        ConsolePrintf(L"Service uninstalled\n");
        LogVerbose("service uninstalled");
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
