// Security of files and of the process: descriptors, their access lists and SIDs (advapi32),
// and the process's token.
#pragma once

#include "platform/windows_base.h"

#ifdef _WIN32
#include <aclapi.h>
#include <sddl.h>
#else
DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo,
                      PSID* ppsidOwner, PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                      PSECURITY_DESCRIPTOR* ppSecurityDescriptor);
HLOCAL LocalFree(HLOCAL hMem);
HANDLE GetCurrentProcess();
BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, HANDLE* TokenHandle);
BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                         LPVOID TokenInformation, DWORD TokenInformationLength,
                         PDWORD ReturnLength);

BOOL IsValidSid(PSID pSid);
DWORD GetLengthSid(PSID pSid);
BOOL EqualSid(PSID pSid1, PSID pSid2);
BOOL IsWellKnownSid(PSID pSid, WELL_KNOWN_SID_TYPE WellKnownSidType);
// The string is LocalAlloc'ed: LocalFree it.
BOOL ConvertSidToStringSidA(PSID Sid, LPSTR* StringSid);
// The SID is LocalAlloc'ed: LocalFree it.
BOOL ConvertStringSidToSidA(LPCSTR StringSid, PSID* Sid);

BOOL IsValidAcl(PACL pAcl);
BOOL GetAclInformation(PACL pAcl, LPVOID pAclInformation, DWORD nAclInformationLength,
                       ACL_INFORMATION_CLASS dwAclInformationClass);
BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce);
#endif
