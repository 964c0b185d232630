// The running executable's own path, which install registers and status compares with, and the
// program a registered image path starts.
#pragma once

#include <string>

// The whole path, up to its first null character; false with the Windows error code set when
// it cannot be read.
bool ReadModulePath(std::wstring& path);

// The program an SCM image path starts: its quoted part, or the whole of an unquoted one.
std::wstring ProgramOfImagePath(const std::wstring& imagePath);
