// Times service start-up as the SCM sees it: from StartServiceW (the request that `net start`
// makes) to the slate-mode value being written and to SERVICE_RUNNING. The services are
// started in turn, run after run, so that each figure and its baseline share the same moments.
//   start_timer RUNS NAME[:slate] ...   (":slate": also wait for ConvertibleSlateMode = 1)
#include "bench/wine/timing.h"

#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr const char* kSlateKey = "System\\CurrentControlSet\\Control\\PriorityControl";
constexpr const char* kSlateValue = "ConvertibleSlateMode";
constexpr double kTimeoutUs = 20e6;

struct Target {
    std::wstring name;
    bool watchSlate;
    std::vector<double> slateMs;
    std::vector<double> runningMs;
};

DWORD State(SC_HANDLE service) {
    SERVICE_STATUS status{};
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

bool WaitForState(SC_HANDLE service, DWORD state) {
    const double start = timing::NowMicros();
    while (State(service) != state) {
        if (timing::NowMicros() - start > kTimeoutUs) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

DWORD ReadSlate(HKEY key) {
    DWORD value = 0xFFFFFFFFu;
    DWORD size = sizeof value;
    RegQueryValueExA(key, kSlateValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    return value;
}

bool TimeOneStart(SC_HANDLE scm, HKEY slate, HANDLE changed, Target& target) {
    SC_HANDLE service = OpenServiceW(scm, target.name.c_str(), SERVICE_ALL_ACCESS);
    if (service == nullptr) {
        std::printf("cannot open %ls: %lu\n", target.name.c_str(), GetLastError());
        return false;
    }
    const DWORD tablet = 0;
    RegSetValueExA(slate, kSlateValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&tablet),
                   sizeof tablet);
    ResetEvent(changed);
    RegNotifyChangeKeyValue(slate, FALSE, REG_NOTIFY_CHANGE_LAST_SET, changed, TRUE);

    const double start = timing::NowMicros();
    if (!StartServiceW(service, 0, nullptr)) {
        std::printf("cannot start %ls: %lu\n", target.name.c_str(), GetLastError());
        CloseServiceHandle(service);
        return false;
    }
    double slateAt = target.watchSlate ? -1 : 0;
    double runningAt = -1;
    // The change event answers at once; the status is asked every millisecond.
    while ((slateAt < 0 || runningAt < 0) && timing::NowMicros() - start < kTimeoutUs) {
        if (WaitForSingleObject(changed, 1) == WAIT_OBJECT_0) {
            const double now = timing::NowMicros();
            if (slateAt < 0 && ReadSlate(slate) == 1) {
                slateAt = now;
            } else {
                RegNotifyChangeKeyValue(slate, FALSE, REG_NOTIFY_CHANGE_LAST_SET, changed, TRUE);
            }
        }
        if (runningAt < 0 && State(service) == SERVICE_RUNNING) {
            runningAt = timing::NowMicros();
        }
    }
    SERVICE_STATUS status{};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    const bool stopped = WaitForState(service, SERVICE_STOPPED);
    CloseServiceHandle(service);
    if (slateAt < 0 || runningAt < 0 || !stopped) {
        std::printf("%ls did not start and stop in time\n", target.name.c_str());
        return false;
    }
    if (target.watchSlate) {
        target.slateMs.push_back((slateAt - start) / 1000);
    }
    target.runningMs.push_back((runningAt - start) / 1000);
    // Let the stopped process leave before the next start, as a fresh boot would find it.
    Sleep(300);
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::printf("usage: start_timer RUNS NAME[:slate] ...\n");
        return 2;
    }
    const int runs = _wtoi(argv[1]);
    std::vector<Target> targets;
    for (int i = 2; i < argc; ++i) {
        std::wstring name = argv[i];
        const std::size_t colon = name.find(L':');
        const bool watch = colon != std::wstring::npos;
        targets.push_back(Target{watch ? name.substr(0, colon) : name, watch, {}, {}});
    }
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    HKEY slate = nullptr;
    if (scm == nullptr || RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSlateKey, 0,
                                        KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_NOTIFY,
                                        &slate) != ERROR_SUCCESS) {
        std::printf("cannot open the SCM or the slate-mode key\n");
        return 2;
    }
    HANDLE changed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (int run = 0; run < runs; ++run) {
        for (Target& target : targets) {
            if (!TimeOneStart(scm, slate, changed, target)) {
                return 1;
            }
        }
    }
    for (const Target& target : targets) {
        if (target.watchSlate) {
            std::printf("%ls slate_written_ms %.1f\n", target.name.c_str(),
                        timing::Median(target.slateMs));
        }
        std::printf("%ls running_ms %.1f\n", target.name.c_str(),
                    timing::Median(target.runningMs));
    }
    CloseHandle(changed);
    RegCloseKey(slate);
    CloseServiceHandle(scm);
    return 0;
}
