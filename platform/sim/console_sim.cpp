// Simulator face only: ConsolePrintf formats as wprintf does and keeps the text for tests
// instead of writing it to standard output.
#include "platform/console.h"
#include "platform/sim/console_control.h"
#include "platform/sim/core.h"

#include <cstdarg>
#include <cwchar>
#include <mutex>
#include <vector>

namespace {

std::wstring& Captured() {
    static std::wstring* text = new std::wstring(); // never destroyed: see core.cpp
    return *text;
}

// vswprintf reports a too-small buffer only as a failure, so grow until the text fits; a
// format error fails at every size and ends at the cap.
bool Format(const wchar_t* format, va_list args, std::wstring& out) {
    constexpr std::size_t kCap = std::size_t{1} << 20;
    for (std::size_t size = 256; size <= kCap; size *= 2) {
        std::vector<wchar_t> buffer(size);
        va_list copy;
        va_copy(copy, args);
        const int written = std::vswprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (written >= 0) {
            out.assign(buffer.data(), static_cast<std::size_t>(written));
            return true;
        }
    }
    return false;
}

} // namespace

namespace sim {

std::wstring ConsoleOutput() {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    return Captured();
}

void ClearConsoleOutput() {
    std::lock_guard<std::recursive_mutex> lock(core::Mutex());
    Captured().clear();
}

namespace core {
void ResetConsole() {
    ClearConsoleOutput();
}
} // namespace core

} // namespace sim

int ConsolePrintf(const wchar_t* format, ...) {
    std::wstring text;
    va_list args;
    va_start(args, format);
    const bool formatted = Format(format, args, text);
    va_end(args);
    std::lock_guard<std::recursive_mutex> lock(sim::core::Mutex());
    if (sim::core::Enter("ConsolePrintf", 0, "%s", sim::core::Narrow(text.c_str()).c_str()) != 0 ||
        !formatted) {
        return -1;
    }
    Captured() += text;
    return static_cast<int>(text.size());
}
