// Whether the service would log to the configured path, and if not why: what `status` shows.
#pragma once

#include "config/config_values.h"

#include <string>

struct LogVerdict {
    bool wouldLog = false;
    std::string reason; // empty when it would log
};

// Read-only: the log's own check, which creates, writes and opens nothing for writing. It runs
// with the rights of whoever runs `status`, and counts the folder's owner by them as the service
// counts it by its own account.
LogVerdict WouldLogTo(const ConfigText& logPath);
