#include "service/log_verdict.h"

#include "config/log_file_check.h"
#include "platform/process.h"

LogVerdict WouldLogTo(const ConfigText& logPath) {
    LogVerdict verdict;
    if (logPath.text.empty()) {
        verdict.reason = "no log path is configured";
        return verdict;
    }
    const LogFileCheck check = CheckLogFile(logPath.text.c_str());
    verdict.wouldLog = check.verdict == LogFileVerdict::Sound;
    if (verdict.wouldLog) {
        return verdict;
    }
    // Only the folder's opening can fail so: the file's would be created.
    const bool folderMissing =
        check.verdict == LogFileVerdict::Unopened &&
        (check.error == ERROR_FILE_NOT_FOUND || check.error == ERROR_PATH_NOT_FOUND);
    verdict.reason = folderMissing ? "its folder does not exist, and the service never makes one"
                                   : std::string(check.reason);
    if (check.verdict == LogFileVerdict::Refused) {
        verdict.reason += "; the service refuses it with a warning event";
    }
    return verdict;
}
