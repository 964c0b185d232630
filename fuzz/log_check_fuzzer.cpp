// The log's check over any descriptor the simulator can hand out: owners and access lists well
// formed or not, on the folder and on a log file already there, under either process user and
// with any failed call. Whatever comes, nothing is written where an untrusted owner or a null
// access list rules, and a refused path leaves no file made.
#include "config/log_file_check.h"
#include "fuzz/fuzz_support.h"
#include "platform/sim/control.h"
#include "platform/sim/security_control.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

const std::string& Folder() {
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/hingeflow-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return pattern;
    }();
    return folder;
}

// SYSTEM, Administrators, TrustedInstaller, a user's and Users'; the first three are trusted.
const Bytes kSids[] = {
    {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0},
    {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0},
    {1,    6,    0,    0,    0,    0,    0,    5,    80,   0,    0,
     0,    0xB5, 0x89, 0xFB, 0x38, 0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C,
     0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87},
    {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0xE9, 3, 0, 0},
    {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0},
};
constexpr std::size_t kTrustedSids = 3;
constexpr std::size_t kUserSid = 3;

Bytes Sid(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.PickValueInArray(kSids) : fuzz::Bytes(in, 80);
}

// An access list built of fuzzed entries, each with its own size or any size; or any bytes.
Bytes AccessList(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) {
        return fuzz::Bytes(in, 300);
    }
    static constexpr BYTE kTypes[] = {0x0, 0x1, 0x5, 0x9, 0xB};
    Bytes list = {in.ConsumeBool() ? BYTE{2} : BYTE{4}, 0, 0, 0, 0, 0, 0, 0};
    const int count = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
        const BYTE type =
            in.ConsumeBool() ? in.PickValueInArray(kTypes) : in.ConsumeIntegral<BYTE>();
        const DWORD mask = in.ConsumeIntegral<DWORD>();
        Bytes entry = {type,
                       in.ConsumeIntegral<BYTE>(),
                       0,
                       0,
                       BYTE(mask),
                       BYTE(mask >> 8),
                       BYTE(mask >> 16),
                       BYTE(mask >> 24)};
        if (type == 0x5 || type == 0xB) {
            const Bytes objects = fuzz::Bytes(in, 36);
            entry.insert(entry.end(), objects.begin(), objects.end());
        }
        const Bytes sid = Sid(in);
        entry.insert(entry.end(), sid.begin(), sid.end());
        const WORD size = in.ConsumeBool() ? WORD(entry.size()) : in.ConsumeIntegral<WORD>();
        entry[2] = BYTE(size);
        entry[3] = BYTE(size >> 8);
        list.insert(list.end(), entry.begin(), entry.end());
    }
    const WORD size = in.ConsumeBool() ? WORD(list.size()) : in.ConsumeIntegral<WORD>();
    list[2] = BYTE(size);
    list[3] = BYTE(size >> 8);
    list[4] = BYTE(count);
    return list;
}

// Sets what `path` hands out; gives the owner, or nullopt for none.
std::optional<Bytes> Descriptor(FuzzedDataProvider& in, const std::string& path, bool& nullDacl) {
    std::optional<Bytes> owner;
    if (in.ConsumeBool()) {
        owner = kSids[0];
        nullDacl = false;
        return owner; // the default: SYSTEM's
    }
    if (in.ConsumeBool()) {
        owner = Sid(in);
    }
    std::optional<Bytes> dacl;
    if (in.ConsumeBool()) {
        dacl = AccessList(in);
    }
    nullDacl = !dacl;
    sim::SetRawFileSecurity(path, owner, dacl);
    return owner;
}

// Whether a SID EqualSid could find among the trusted, whatever bytes follow it. A SID shorter
// than its count claims is held as the simulator holds it, made up with zeros.
bool MayBeTrusted(std::optional<Bytes> owner, bool userIsOwn) {
    if (owner) {
        const std::size_t claimed = 8 + 4 * std::size_t{owner->size() > 1 ? (*owner)[1] : BYTE{0}};
        owner->resize(std::max(owner->size(), claimed), 0);
    }
    for (std::size_t i = 0; owner && i < sizeof kSids / sizeof kSids[0]; ++i) {
        const bool trusted = i < kTrustedSids || (i == kUserSid && userIsOwn);
        if (trusted && owner->size() >= kSids[i].size() &&
            std::memcmp(owner->data(), kSids[i].data(), kSids[i].size()) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Iteration iteration;
    FuzzedDataProvider in(data, size);
    const std::string folder = Folder();
    const std::string file = folder + "/log.txt";
    const bool fileThere = in.ConsumeBool();
    if (fileThere) {
        std::FILE* made = std::fopen(file.c_str(), "w");
        fuzz::Check(made != nullptr, "the log file cannot be made");
        std::fclose(made);
    } else {
        unlink(file.c_str());
    }
    const bool userIsOwn = in.ConsumeBool();
    sim::SetProcessUser(userIsOwn ? "S-1-5-21-1-2-3-1001" : "SY");
    bool folderNullDacl = false;
    bool fileNullDacl = false;
    const std::optional<Bytes> folderOwner = Descriptor(in, folder, folderNullDacl);
    const std::optional<Bytes> fileOwner =
        fileThere ? Descriptor(in, file, fileNullDacl) : std::optional<Bytes>(kSids[0]);
    fuzz::ArmFaults(in);

    LogFileCheck check = CheckLogFile(file.c_str());
    LogFileCheck opened;
    std::FILE* stream = OpenLogFileSafely(file.c_str(), opened);
    // A failed open may say the file is missing, which the check alone takes as sound: the file's
    // own descriptor then counts only where no call failed.
    const bool faulted = sim::FaultsFired() != 0;
    for (const LogFileCheck* verdict : {&check, &opened}) {
        fuzz::Check(std::memchr(verdict->reason, 0, sizeof verdict->reason) != nullptr,
                    "a reason without its terminator");
        fuzz::Check((verdict->verdict == LogFileVerdict::Sound) == (verdict->reason[0] == '\0'),
                    "a verdict without a reason, or a reason for a sound path");
        fuzz::Check(verdict->verdict != LogFileVerdict::Sound ||
                        (MayBeTrusted(folderOwner, userIsOwn) && !folderNullDacl &&
                         (faulted || (MayBeTrusted(fileOwner, userIsOwn) && !fileNullDacl))),
                    "sound under an untrusted owner or a null access list");
    }
    fuzz::Check((stream != nullptr) == (opened.verdict == LogFileVerdict::Sound),
                "a stream without a sound verdict, or none with one");
    if (stream != nullptr) {
        std::fclose(stream);
    }
    // Without a failed call, a file is made only where the check passed the folder.
    struct stat status = {};
    fuzz::Check(faulted || opened.verdict == check.verdict, "the check and the opening disagree");
    fuzz::Check(faulted || fileThere || opened.verdict == LogFileVerdict::Sound ||
                    lstat(file.c_str(), &status) != 0,
                "a refused path left a file made");
    return 0;
}
