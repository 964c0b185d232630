// Files (kernel32), and the C run-time stream the log writes through.
#pragma once

#include "platform/windows_base.h"

#include <cstdio>

// What separates a path's folders: either slash on Windows; in the simulator, whose files are
// the host's, the host's one.
#ifdef _WIN32
constexpr const char* kPathSeparators = "\\/";
#else
constexpr const char* kPathSeparators = "/";
#endif

#ifndef _WIN32
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
DWORD GetFileType(HANDLE hFile);
BOOL GetFileInformationByHandleEx(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                  LPVOID lpFileInformation, DWORD dwBufferSize);
DWORD GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath, DWORD cchFilePath, DWORD dwFlags);
#endif

// Takes over `file`, opened for appending, as a text-mode stream that writes at the end of the
// file (LF becomes CR LF on Windows); fclose closes the handle. nullptr when no stream can be
// made, the handle then closed.
std::FILE* OpenLogStream(HANDLE file);
