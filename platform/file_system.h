// Files (kernel32, and ntdll's NtCreateFile for a name within a folder already held), and the C
// run-time stream the log writes through.
#pragma once

#include "platform/windows_base.h"

#include <cstdio>

#ifdef _WIN32
#include <winternl.h>
#endif

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
DWORD GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart);
DWORD GetLongPathNameA(LPCSTR lpszShortPath, LPSTR lpszLongPath, DWORD cchBuffer);
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
NTSTATUS NtCreateFile(HANDLE* FileHandle, ACCESS_MASK DesiredAccess,
                      POBJECT_ATTRIBUTES ObjectAttributes, PIO_STATUS_BLOCK IoStatusBlock,
                      LARGE_INTEGER* AllocationSize, ULONG FileAttributes, ULONG ShareAccess,
                      ULONG CreateDisposition, ULONG CreateOptions, PVOID EaBuffer, ULONG EaLength);
ULONG RtlNtStatusToDosError(NTSTATUS Status);
#endif

// Takes over `file`, opened for appending, as a text-mode stream that writes at the end of the
// file (LF becomes CR LF on Windows); fclose closes the handle. nullptr when no stream can be
// made, the handle then closed.
std::FILE* OpenLogStream(HANDLE file);
