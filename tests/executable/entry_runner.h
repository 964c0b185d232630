// Runs the executable's entry as the command line would, and the service record installation
// leaves behind.
#pragma once

#include "platform/sim/console_control.h"
#include "platform/sim/scm_database_control.h"
#include "service/entry.h"

#include <string>
#include <vector>

// The arguments after the program name.
inline int RunEntry(std::vector<std::wstring> args) {
    std::wstring program = L"hingeflow.exe";
    std::vector<wchar_t*> argv{program.data()};
    for (std::wstring& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return HingeflowEntry(static_cast<int>(args.size() + 1), argv.data());
}

inline const wchar_t* const kServiceName = L"HingeflowService";

// The registration an earlier "install" would have left.
inline sim::ScmServiceConfig InstalledHingeflow() {
    sim::ScmServiceConfig config;
    config.name = kServiceName;
    config.displayName = L"hingeflow tirgger service";
    config.startType = SERVICE_AUTO_START;
    config.binaryPathName = L"\"C:\\Program Files\\hingeflow\\hingeflow.exe\"";
    return config;
}
