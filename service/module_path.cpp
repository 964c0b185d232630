#include "service/module_path.h"

#include "platform/process.h"

#include <cwchar>
#include <new>
#include <vector>

namespace {

// GetModuleFileNameW cannot report the length it needs, so the buffer grows from MAX_PATH until
// the path fits, up to the longest path Windows hands out (extended-length) and its terminator:
// a path cut to the buffer would register a service that cannot start.
constexpr DWORD kFirstModulePathBuffer = MAX_PATH;
constexpr DWORD kLongestModulePath = 32768;

} // namespace

bool ReadModulePath(std::wstring& path) {
    try {
        std::vector<WCHAR> buffer(kFirstModulePathBuffer);
        for (;;) {
            const DWORD size = static_cast<DWORD>(buffer.size());
            const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
            if (length == 0) {
                return false;
            }
            if (length < size) {
                path.assign(buffer.data(), std::wcslen(buffer.data()));
                return true;
            }
            if (size >= kLongestModulePath) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return false;
            }
            buffer.resize(size * 2 < kLongestModulePath ? size * 2 : kLongestModulePath);
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

std::wstring ProgramOfImagePath(const std::wstring& imagePath) {
    if (imagePath.empty() || imagePath[0] != L'"') {
        return imagePath;
    }
    const std::wstring::size_type close = imagePath.find(L'"', 1);
    return imagePath.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
}
