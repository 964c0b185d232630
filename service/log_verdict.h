// Whether the service would log to the configured path, and if not why: what `status` shows.
#pragma once

#include "config/config_values.h"

#include <string>

struct LogVerdict {
    bool wouldLog = false;
    std::string reason; // empty when it would log
};

// Read-only: opens nothing, creates nothing. For now it knows only whether a path is set and
// whether its folder exists; the log's own safety check is to take its place, with its reasons.
LogVerdict WouldLogTo(const ConfigText& logPath);
