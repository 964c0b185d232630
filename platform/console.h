// Console output of the run-time library. The install and uninstall roles print through this
// so that tests can read exactly what was printed; on Windows it is vwprintf.
#pragma once

// Same contract as wprintf: %ls for wide strings, %d for signed numbers.
int ConsolePrintf(const wchar_t* format, ...);
