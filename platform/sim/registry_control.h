// Simulator face only: test controls of the simulated registry. Key paths are relative to the
// hive, with single backslashes; key and value names compare case-insensitively.
#pragma once

#include "platform/sim/types.h"

#include <optional>
#include <string>
#include <vector>

namespace sim {

struct RegistryValue {
    DWORD type;
    std::vector<BYTE> data; // raw bytes, any size
};

// Creating a value creates its key (and the keys above it).
void CreateRegistryKey(HKEY hive, const std::string& keyPath);
void SetRegistryValue(HKEY hive, const std::string& keyPath, const std::string& valueName,
                      DWORD type, const std::vector<BYTE>& data);
void SetRegistryDword(HKEY hive, const std::string& keyPath, const std::string& valueName,
                      DWORD value);
// REG_SZ with its terminating zero, as RegSetValueExA would store it.
void SetRegistryString(HKEY hive, const std::string& keyPath, const std::string& valueName,
                       const std::string& text);
void DeleteRegistryValue(HKEY hive, const std::string& keyPath, const std::string& valueName);
// Handles still open on a deleted key fail with ERROR_KEY_DELETED, as on Windows.
void DeleteRegistryKey(HKEY hive, const std::string& keyPath);
bool RegistryKeyExists(HKEY hive, const std::string& keyPath);

std::optional<RegistryValue> GetRegistryValue(HKEY hive, const std::string& keyPath,
                                              const std::string& valueName);
// The value when it is a REG_DWORD of exactly 4 bytes.
std::optional<DWORD> GetRegistryDword(HKEY hive, const std::string& keyPath,
                                      const std::string& valueName);

// The access rights RegOpenKeyExA may grant on this key; asking for more gives
// ERROR_ACCESS_DENIED. Every key allows everything until a test says otherwise.
void SetKeyAccess(HKEY hive, const std::string& keyPath, REGSAM allowed);

// The REG_DWORD data of each RegSetValueExA call on this value name, in call order, taken from
// the journal (failed writes included, since the journal records calls).
std::vector<DWORD> DwordWritesTo(const std::string& valueName);

} // namespace sim
