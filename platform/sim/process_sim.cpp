// Simulator face only: GetModuleFileNameW for the running executable, with the documented
// truncation: a buffer too small for the path and its terminator receives nSize - 1 characters
// and a terminator, and the call returns nSize with ERROR_INSUFFICIENT_BUFFER. kernel32's
// exports as GetProcAddress finds them, and the mitigation policy the process sets.
#include "platform/process.h"
#include "platform/sim/core.h"
#include "platform/sim/scm_database_control.h"
#include "platform/sim/security_control.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

namespace {

std::wstring& ModulePath() {
    static std::wstring* path = new std::wstring(sim::kDefaultModuleFileName);
    return *path;
}

} // namespace

namespace sim {
void SetModuleFileName(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    ModulePath() = path;
}
} // namespace sim

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    if (const DWORD fault = sim::core::Enter("GetModuleFileNameW", ERROR_ACCESS_DENIED, "%s, %u",
                                             hModule == nullptr ? "(null)" : "module",
                                             static_cast<unsigned>(nSize))) {
        SetLastError(fault);
        return 0;
    }
    if (hModule != nullptr) {
        SetLastError(ERROR_INVALID_HANDLE); // only the executable itself is simulated
        return 0;
    }
    if (nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const std::wstring& path = ModulePath();
    if (path.size() < nSize) {
        std::copy(path.begin(), path.end(), lpFilename);
        lpFilename[path.size()] = 0;
        return static_cast<DWORD>(path.size());
    }
    std::copy_n(path.begin(), nSize - 1, lpFilename);
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
}

// --- Modules and mitigation policies ------------------------------------------------------

namespace {

const HMODULE kKernel32 = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x7ff10000u));
const HMODULE kExecutable = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x140000000u));

struct Mitigations {
    sim::MitigationPolicies offered = sim::MitigationPolicies::WithRedirectionTrust;
    std::optional<DWORD> redirectionTrust;
};

Mitigations& TheMitigations() {
    static Mitigations* mitigations = new Mitigations(); // never destroyed: see core.cpp
    return *mitigations;
}

bool IsKernel32(const std::wstring& name) {
    std::wstring folded;
    for (wchar_t c : name) {
        folded.push_back(c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c);
    }
    return folded == L"kernel32.dll" || folded == L"kernel32";
}

// Reached only through GetProcAddress, as hingeflow reaches the real one.
BOOL WINAPI SimSetProcessMitigationPolicy(PROCESS_MITIGATION_POLICY MitigationPolicy,
                                          PVOID lpBuffer, SIZE_T dwLength) {
    if (const DWORD fault =
            sim::core::Enter("SetProcessMitigationPolicy", ERROR_INVALID_PARAMETER, "%d, %zu",
                             static_cast<int>(MitigationPolicy), dwLength)) {
        SetLastError(fault);
        return FALSE;
    }
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    Mitigations& m = TheMitigations();
    // A Windows that predates a policy rejects it as an invalid parameter.
    if (MitigationPolicy != ProcessRedirectionTrustPolicy ||
        m.offered != sim::MitigationPolicies::WithRedirectionTrust || lpBuffer == nullptr ||
        dwLength != sizeof(DWORD)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD flags = 0;
    std::memcpy(&flags, lpBuffer, sizeof flags);
    m.redirectionTrust = flags;
    return TRUE;
}

} // namespace

namespace sim {
void SetMitigationPolicies(MitigationPolicies offered) {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    TheMitigations().offered = offered;
}

std::optional<DWORD> RedirectionTrustPolicy() {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    return TheMitigations().redirectionTrust;
}

namespace core {
void ResetProcess() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    TheMitigations() = Mitigations();
}
} // namespace core
} // namespace sim

HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
    if (const DWORD fault = sim::core::Enter("GetModuleHandleW", ERROR_MOD_NOT_FOUND, "%s",
                                             sim::core::Narrow(lpModuleName).c_str())) {
        SetLastError(fault);
        return nullptr;
    }
    if (lpModuleName == nullptr) {
        return kExecutable;
    }
    if (!IsKernel32(lpModuleName)) {
        SetLastError(ERROR_MOD_NOT_FOUND); // no other module is loaded in the simulated process
        return nullptr;
    }
    return kKernel32;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (const DWORD fault = sim::core::Enter("GetProcAddress", ERROR_PROC_NOT_FOUND, "%s",
                                             lpProcName == nullptr ? "(null)" : lpProcName)) {
        SetLastError(fault);
        return nullptr;
    }
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    if (hModule != kKernel32 || lpProcName == nullptr ||
        std::strcmp(lpProcName, "SetProcessMitigationPolicy") != 0 ||
        TheMitigations().offered == sim::MitigationPolicies::Missing) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    // Function pointers convert through void (*)() without a cast-function-type warning.
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SimSetProcessMitigationPolicy));
}
