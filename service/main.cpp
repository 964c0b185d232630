// The executable. RedirectionGuard is on before anything else; the log is decided by the roles
// that write it (service/entry.cpp).
#include "service/entry.h"
#include "service/redirection_guard.h"

#include <string>
#include <vector>

namespace {
[[maybe_unused]] const bool g_redirectionGuarded = (EnableRedirectionGuard(), true);
} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    return HingeflowEntry(argc, argv);
}
#else
// Only the ASCII role words are ever compared, and no other byte can widen into one of them,
// so each byte is widened as it stands rather than through a locale this process never sets.
int main(int argc, char** argv) try {
    std::vector<std::wstring> wide;
    wide.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        std::wstring arg;
        for (const char* p = argv[i]; *p != 0; ++p) {
            arg.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
        }
        wide.push_back(std::move(arg));
    }
    std::vector<wchar_t*> pointers;
    pointers.reserve(wide.size() + 1);
    for (std::wstring& arg : wide) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    return HingeflowEntry(argc, pointers.data());
} catch (...) {
    return -1;
}
#endif
