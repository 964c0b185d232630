#include "service/redirection_guard.h"

#include "platform/process.h"

namespace {

// PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY's EnforceRedirectionTrust bit.
constexpr DWORD kEnforceRedirectionTrust = 0x1;

using SetProcessMitigationPolicyFunction = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);

} // namespace

void EnableRedirectionGuard() {
    // Looked up rather than imported, so that the executable still starts on Windows 7, which
    // lacks the function; a Windows that has it but predates this policy refuses the policy,
    // which is ignored.
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const FARPROC found =
        kernel32 != nullptr ? GetProcAddress(kernel32, "SetProcessMitigationPolicy") : nullptr;
    if (found == nullptr) {
        return;
    }
    const auto setPolicy =
        reinterpret_cast<SetProcessMitigationPolicyFunction>(reinterpret_cast<void (*)()>(found));
    DWORD flags = kEnforceRedirectionTrust;
    (void)setPolicy(ProcessRedirectionTrustPolicy, &flags, sizeof flags);
}
