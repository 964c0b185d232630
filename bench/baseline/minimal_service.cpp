// The least an own-process service can be: it registers its handler, reports RUNNING and
// handles stop. The yardstick for hingeflow's start-up time, idle CPU and memory.
// With HF_SAME_IMPORTS it also imports USER32 and SETUPAPI, as hingeflow must, without calling
// them: that variant shows what loading Windows' own DLLs costs before any code of ours runs.
#include <windows.h>
#ifdef HF_SAME_IMPORTS
#include <setupapi.h>

void* volatile g_imports[] = {reinterpret_cast<void*>(&RegisterDeviceNotificationW),
                              reinterpret_cast<void*>(&SetupDiDestroyDeviceInfoList)};
#endif

namespace {

wchar_t g_name[] = L"HfBenchMinimal";
SERVICE_STATUS_HANDLE g_handle = nullptr;
SERVICE_STATUS g_status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, SERVICE_ACCEPT_STOP,
                           NO_ERROR, 0, 0, 0};

void Report(DWORD state) {
    g_status.dwCurrentState = state;
    SetServiceStatus(g_handle, &g_status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOPPED);
    }
    return NO_ERROR;
}

void WINAPI Main(DWORD, LPWSTR*) {
    g_handle = RegisterServiceCtrlHandlerExW(g_name, Handler, nullptr);
    if (g_handle != nullptr) {
        Report(SERVICE_RUNNING);
    }
}

} // namespace

int wmain() {
    SERVICE_TABLE_ENTRYW table[] = {{g_name, Main}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
