// File system (kernel32): what can be learnt of a path without opening it.
#pragma once

#include "platform/windows_base.h"

#ifndef _WIN32
DWORD GetFileAttributesA(LPCSTR lpFileName);
#endif
