// Simulator face only: SIDs and access lists as advapi32 reads them. Each call does what its
// documentation says, and with input it calls malformed what Windows does: a SID of another
// revision or with more than 15 sub-authorities is invalid; an access list of an unknown
// revision, or whose entries do not fit its size, is invalid, and no entry is handed out beyond
// that size. Memory is read byte by byte, so that nothing here assumes alignment.
#include "platform/process.h"
#include "platform/security.h"
#include "platform/sim/core.h"

#include <cctype>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

constexpr std::size_t kSidFixedPart = 8; // revision, count, identifier authority
constexpr std::size_t kAceHeader = sizeof(ACE_HEADER);
// Entry types that carry a SID right after the mask, and those that carry object types before
// it, which only the directory-service revision of an access list may hold.
constexpr BYTE kLastSidAceType = 0x3;
constexpr BYTE kFirstObjectAceType = 0x5;
constexpr BYTE kLastObjectAceType = 0x8;

template <typename Result> Result Fail(DWORD code, Result result) {
    SetLastError(code);
    return result;
}

const BYTE* At(const void* memory) {
    return static_cast<const BYTE*>(memory);
}

WORD Word(const BYTE* at) {
    return static_cast<WORD>(at[0] | (at[1] << 8));
}

DWORD Dword(const BYTE* at) {
    DWORD value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | at[i];
    }
    return value;
}

bool ValidSid(const void* sid) {
    return sid != nullptr && At(sid)[0] == SID_REVISION && At(sid)[1] <= SID_MAX_SUB_AUTHORITIES;
}

std::size_t SidLength(const void* sid) {
    return kSidFixedPart + 4 * static_cast<std::size_t>(At(sid)[1]);
}

// The SIDs IsWellKnownSid knows here.
const std::map<int, std::string>& WellKnown() {
    static const auto* known = new std::map<int, std::string>{
        {WinWorldSid, "S-1-1-0"},
        {WinCreatorOwnerSid, "S-1-3-0"},
        {WinAuthenticatedUserSid, "S-1-5-11"},
        {WinLocalSystemSid, "S-1-5-18"},
        {WinBuiltinAdministratorsSid, "S-1-5-32-544"},
        {WinBuiltinUsersSid, "S-1-5-32-545"},
    };
    return *known;
}

// The offset of each entry that lies wholly within the list, or nullopt when one does not.
std::optional<std::vector<std::size_t>> Entries(const BYTE* acl) {
    const std::size_t size = Word(acl + 2);
    const std::size_t count = Word(acl + 4);
    std::vector<std::size_t> entries;
    std::size_t at = sizeof(ACL);
    for (std::size_t i = 0; i < count; ++i) {
        if (at + kAceHeader > size) {
            return std::nullopt;
        }
        const std::size_t aceSize = Word(acl + at + 2);
        if (aceSize < kAceHeader || aceSize % 2 != 0 || at + aceSize > size) {
            return std::nullopt;
        }
        entries.push_back(at);
        at += aceSize;
    }
    return entries;
}

} // namespace

namespace sim::core {

std::optional<std::vector<BYTE>> ParseSid(const std::string& text) {
    static const std::map<std::string, std::string> kAliases = {
        {"SY", "S-1-5-18"}, {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"}, {"WD", "S-1-1-0"},
        {"AU", "S-1-5-11"}, {"CO", "S-1-3-0"},      {"OW", "S-1-3-4"}};
    const auto alias = kAliases.find(text);
    const std::string full = alias != kAliases.end() ? alias->second : text;
    if (full.compare(0, 4, "S-1-") != 0) {
        return std::nullopt;
    }
    std::vector<unsigned long long> parts;
    std::size_t at = 4;
    while (at <= full.size()) {
        const bool hex = parts.empty() && full.compare(at, 2, "0x") == 0;
        const char* digits = full.c_str() + at + (hex ? 2 : 0);
        char* end = nullptr;
        const unsigned long long part = std::strtoull(digits, &end, hex ? 16 : 10);
        const bool digit = hex ? std::isxdigit(static_cast<unsigned char>(*digits)) != 0
                               : std::isdigit(static_cast<unsigned char>(*digits)) != 0;
        if (!digit || (*end != '-' && *end != '\0') ||
            part > (parts.empty() ? 0xFFFFFFFFFFFFull : 0xFFFFFFFFull)) {
            return std::nullopt;
        }
        parts.push_back(part);
        at = static_cast<std::size_t>(end - full.c_str()) + 1;
    }
    if (parts.empty() || parts.size() > 1 + SID_MAX_SUB_AUTHORITIES) {
        return std::nullopt;
    }
    Bytes sid = {SID_REVISION, static_cast<BYTE>(parts.size() - 1)};
    for (int shift = 40; shift >= 0; shift -= 8) {
        sid.push_back(static_cast<BYTE>(parts[0] >> shift));
    }
    for (std::size_t i = 1; i < parts.size(); ++i) {
        for (int shift = 0; shift < 32; shift += 8) {
            sid.push_back(static_cast<BYTE>(parts[i] >> shift));
        }
    }
    return sid;
}

} // namespace sim::core

// --- SIDs ---------------------------------------------------------------------------------

BOOL IsValidSid(PSID pSid) {
    sim::core::Enter("IsValidSid", 0, "%s", pSid == nullptr ? "(null)" : "sid");
    return ValidSid(pSid) ? TRUE : FALSE;
}

// Documented as undefined for an invalid SID; here, the length its count gives.
DWORD GetLengthSid(PSID pSid) {
    sim::core::Enter("GetLengthSid", 0, "%s", pSid == nullptr ? "(null)" : "sid");
    return pSid == nullptr ? 0 : static_cast<DWORD>(SidLength(pSid));
}

BOOL EqualSid(PSID pSid1, PSID pSid2) {
    sim::core::Enter("EqualSid", 0, "%s", "sids");
    if (!ValidSid(pSid1) || !ValidSid(pSid2)) {
        return Fail(ERROR_INVALID_SID, FALSE);
    }
    SetLastError(ERROR_SUCCESS);
    return SidLength(pSid1) == SidLength(pSid2) && std::memcmp(pSid1, pSid2, SidLength(pSid1)) == 0
               ? TRUE
               : FALSE;
}

BOOL IsWellKnownSid(PSID pSid, WELL_KNOWN_SID_TYPE WellKnownSidType) {
    sim::core::Enter("IsWellKnownSid", 0, "%d", static_cast<int>(WellKnownSidType));
    const auto known = WellKnown().find(WellKnownSidType);
    if (!ValidSid(pSid) || known == WellKnown().end()) {
        return FALSE;
    }
    const Bytes sid = *sim::core::ParseSid(known->second);
    return SidLength(pSid) == sid.size() && std::memcmp(pSid, sid.data(), sid.size()) == 0 ? TRUE
                                                                                           : FALSE;
}

// Windows writes an identifier authority of 2^32 or more in hexadecimal.
BOOL ConvertSidToStringSidA(PSID Sid, LPSTR* StringSid) {
    if (const DWORD fault = sim::core::Enter("ConvertSidToStringSidA", ERROR_NOT_ENOUGH_MEMORY,
                                             "%s", Sid == nullptr ? "(null)" : "sid")) {
        return Fail(fault, FALSE);
    }
    if (StringSid == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (!ValidSid(Sid)) {
        return Fail(ERROR_INVALID_SID, FALSE);
    }
    const BYTE* sid = At(Sid);
    unsigned long long authority = 0;
    for (int i = 2; i < 8; ++i) {
        authority = (authority << 8) | sid[i];
    }
    char part[32];
    if (authority >= (1ull << 32)) {
        std::snprintf(part, sizeof part, "S-1-0x%012llX", authority);
    } else {
        std::snprintf(part, sizeof part, "S-1-%llu", authority);
    }
    std::string text = part;
    for (int i = 0; i < sid[1]; ++i) {
        std::snprintf(part, sizeof part, "-%" PRIu32,
                      Dword(sid + kSidFixedPart + std::size_t{4} * i));
        text += part;
    }
    *StringSid = static_cast<LPSTR>(
        sim::core::HoldLocalMemory(Bytes(text.c_str(), text.c_str() + text.size() + 1)));
    return TRUE;
}

BOOL ConvertStringSidToSidA(LPCSTR StringSid, PSID* Sid) {
    if (const DWORD fault = sim::core::Enter("ConvertStringSidToSidA", ERROR_NOT_ENOUGH_MEMORY,
                                             "%s", StringSid == nullptr ? "(null)" : StringSid)) {
        return Fail(fault, FALSE);
    }
    if (StringSid == nullptr || Sid == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    std::optional<Bytes> sid = sim::core::ParseSid(StringSid);
    if (!sid) {
        return Fail(ERROR_INVALID_SID, FALSE);
    }
    *Sid = sim::core::HoldLocalMemory(std::move(*sid));
    return TRUE;
}

// --- Access lists -------------------------------------------------------------------------

BOOL IsValidAcl(PACL pAcl) {
    sim::core::Enter("IsValidAcl", 0, "%s", pAcl == nullptr ? "(null)" : "acl");
    if (pAcl == nullptr) {
        return FALSE;
    }
    const BYTE* acl = At(pAcl);
    const std::size_t size = Word(acl + 2);
    if (acl[0] < ACL_REVISION || acl[0] > ACL_REVISION_DS || size < sizeof(ACL) || size % 2 != 0) {
        return FALSE;
    }
    const std::optional<std::vector<std::size_t>> entries = Entries(acl);
    if (!entries) {
        return FALSE;
    }
    for (const std::size_t at : *entries) {
        const BYTE type = acl[at];
        const std::size_t aceSize = Word(acl + at + 2);
        if (type <= kLastSidAceType) {
            const BYTE* sid = acl + at + offsetof(ACCESS_ALLOWED_ACE, SidStart);
            if (aceSize % 4 != 0 ||
                aceSize < offsetof(ACCESS_ALLOWED_ACE, SidStart) + kSidFixedPart ||
                !ValidSid(sid) ||
                aceSize < offsetof(ACCESS_ALLOWED_ACE, SidStart) + SidLength(sid)) {
                return FALSE;
            }
        } else if (type >= kFirstObjectAceType && type <= kLastObjectAceType &&
                   acl[0] < ACL_REVISION_DS) {
            return FALSE;
        }
    }
    return TRUE;
}

BOOL GetAclInformation(PACL pAcl, LPVOID pAclInformation, DWORD nAclInformationLength,
                       ACL_INFORMATION_CLASS dwAclInformationClass) {
    sim::core::Enter("GetAclInformation", 0, "%d, %u", static_cast<int>(dwAclInformationClass),
                     nAclInformationLength);
    if (pAcl == nullptr || pAclInformation == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    const BYTE* acl = At(pAcl);
    if (dwAclInformationClass == AclRevisionInformation) {
        if (nAclInformationLength < sizeof(ACL_REVISION_INFORMATION)) {
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        }
        const ACL_REVISION_INFORMATION revision = {acl[0]};
        std::memcpy(pAclInformation, &revision, sizeof revision);
        return TRUE;
    }
    if (dwAclInformationClass != AclSizeInformation) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    // Too small a record is a bad parameter, not a buffer to grow: the size is fixed.
    if (nAclInformationLength < sizeof(ACL_SIZE_INFORMATION)) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    const std::optional<std::vector<std::size_t>> entries = Entries(acl);
    if (!entries) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    const std::size_t used =
        entries->empty() ? sizeof(ACL) : entries->back() + Word(acl + entries->back() + 2);
    const ACL_SIZE_INFORMATION size = {static_cast<DWORD>(entries->size()),
                                       static_cast<DWORD>(used),
                                       static_cast<DWORD>(Word(acl + 2) - used)};
    std::memcpy(pAclInformation, &size, sizeof size);
    return TRUE;
}

BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce) {
    sim::core::Enter("GetAce", 0, "%u", dwAceIndex);
    if (pAcl == nullptr || pAce == nullptr || dwAceIndex >= Word(At(pAcl) + 4)) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    const BYTE* acl = At(pAcl);
    const std::size_t size = Word(acl + 2);
    std::size_t at = sizeof(ACL);
    for (DWORD i = 0; i < dwAceIndex && at + kAceHeader <= size; ++i) {
        at += Word(acl + at + 2);
    }
    if (at + kAceHeader > size) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    *pAce = static_cast<BYTE*>(static_cast<void*>(pAcl)) + at;
    return TRUE;
}
