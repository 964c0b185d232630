// Simulator face only: test controls of what Windows keeps beside the host's files (owners and
// access lists), of the process's token and of the mitigation policies the process may set.
#pragma once

#include "platform/sim/types.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// --- Files --------------------------------------------------------------------------------
// The simulated files are the host's own, by host path; a host symbolic link stands for a
// reparse point (a link, or a junction when it leads to a folder). The sharing modes of the
// handles that CreateFileA and NtCreateFile open are kept as Windows keeps them; the host's own
// calls (std::filesystem, ofstream) are not held to them.
//
// The owner and access list of the folder or file at `path` (a link at its end is not
// followed), in SDDL: "O:BAD:P(A;OICI;FA;;;SY)(A;CI;DC;;;BU)". Understood: O: and D: (flags P
// and AI, or NO_ACCESS_CONTROL for a null access list); ACE types A, D, XA and OA (without
// object types); flags OI, CI, NP, IO, ID; rights in hex or as two-letter codes; SIDs as S-1-...
// or the aliases SY, BA, BU, WD, AU, CO, OW. Held until Reset, for the file itself: its hard
// links share it. Ends the test program on text it does not understand.
void SetFileSecurity(const std::string& path, const std::string& sddl);
// A descriptor as a file system might hand it out, well formed or not: the owner's and the
// access list's bytes as given, nullopt for none (no owner; a null access list). Each part is
// kept at least as long as its own header says, padded with zeros, so that a reader that stays
// within what a valid header claims stays within the descriptor.
void SetRawFileSecurity(const std::string& path, std::optional<std::vector<BYTE>> owner,
                        std::optional<std::vector<BYTE>> dacl);
// What every other file and folder reports: the package's log folder, owned by SYSTEM.
constexpr const char* kDefaultFileSecurity =
    "O:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// Called with the path at each CreateFileA, outside the simulator's lock, before the path is
// looked at: the place to change the files under a caller between two of its calls.
void SetCreateFileHook(std::function<void(const std::string& path)> hook);

// --- The process --------------------------------------------------------------------------
// The user of the process's token, as S-1-... or an alias; SYSTEM until set, as for the service.
void SetProcessUser(const std::string& sid);

// What kernel32 offers: SetProcessMitigationPolicy came with Windows 8, its redirection trust
// policy with Windows 11 22H2.
enum class MitigationPolicies { Missing, WithoutRedirectionTrust, WithRedirectionTrust };
void SetMitigationPolicies(MitigationPolicies offered); // WithRedirectionTrust until set
// The flags of the redirection trust policy the process set; empty while it set none.
std::optional<DWORD> RedirectionTrustPolicy();

} // namespace sim
