// Opening of the diagnostic log file: append, text mode (CR LF on Windows), and open to other
// readers and writers while we hold it.
#pragma once

#include <cstdio>

// Returns nullptr when the file cannot be opened; the caller closes with fclose.
std::FILE* OpenLogFileForAppend(const char* path);
