#include "service/log_verdict.h"

#include "platform/file_system.h"
#include "platform/process.h"

LogVerdict WouldLogTo(const ConfigText& logPath) {
    LogVerdict verdict;
    const std::string& path = logPath.text;
    if (path.empty()) {
        verdict.reason = "no log path is configured";
        return verdict;
    }
    const std::string::size_type separator = path.find_last_of("\\/");
    if (separator == std::string::npos) {
        // A bare file name lands in the service's working folder, which always exists.
        verdict.wouldLog = true;
        return verdict;
    }
    // With its separator, so that the root of a drive is asked about as a folder.
    const std::string folder = path.substr(0, separator + 1);
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        verdict.reason = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                             ? "its folder does not exist, and the service never makes one"
                             : "its folder cannot be checked (error " + std::to_string(error) + ")";
        return verdict;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        verdict.reason = "its folder is a file";
        return verdict;
    }
    verdict.wouldLog = true;
    return verdict;
}
