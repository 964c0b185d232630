// Simulator face only: GetModuleFileNameW for the running executable, with the documented
// truncation: a buffer too small for the path and its terminator receives nSize - 1 characters
// and a terminator, and the call returns nSize with ERROR_INSUFFICIENT_BUFFER.
#include "platform/process.h"
#include "platform/sim/core.h"
#include "platform/sim/scm_database_control.h"

#include <algorithm>
#include <mutex>

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
