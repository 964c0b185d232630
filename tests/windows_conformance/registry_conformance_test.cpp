// How the registry answers the calls hingeflow makes: RegOpenKeyExA, RegQueryValueExA with and
// without a buffer, RegSetValueExA and RegCloseKey, on the configuration key and on a key
// opened as the slate-mode switch opens its own; and the wide calls with which installation
// adds and removes the event source.
#include "tests/windows_conformance/platform_seed.h"

#include "platform/process.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const HKEY kConfigHive = HKEY_CURRENT_CONFIG;
constexpr const char* kConfigKey = "System\\CurrentControlSet";
constexpr const char* kSwitchKey = "System\\CurrentControlSet\\Control\\PriorityControl";
// Never ConvertibleSlateMode itself: on a real machine these cases must not touch it.
constexpr const char* kSwitchValue = "HfConformanceSlate";
constexpr DWORD kQueryAndSet = KEY_QUERY_VALUE | KEY_SET_VALUE;
constexpr DWORD kUntouched = 0xdeadbeef;

struct QueryResult {
    LSTATUS status = -1;
    DWORD type = kUntouched;
    DWORD size = kUntouched;
    std::vector<BYTE> data;
};

class RegistryConformance : public ::testing::Test {
protected:
    void SetUp() override {
        seed::ResetPlatform();
        seed::CreateRegistryKey(kConfigHive, kConfigKey);
        seed::CreateRegistryKey(HKEY_LOCAL_MACHINE, kSwitchKey);
    }
    void TearDown() override {
        for (const std::string& name : seeded_) {
            seed::RemoveRegistryValue(kConfigHive, kConfigKey, name);
        }
        seed::RemoveRegistryValue(HKEY_LOCAL_MACHINE, kSwitchKey, kSwitchValue);
    }

    void Seed(const std::string& name, DWORD type, const std::vector<BYTE>& data) {
        seeded_.push_back(name);
        seed::RegistryValue(kConfigHive, kConfigKey, name, type, data);
    }

    // The configuration readers' first query: type and size, no buffer.
    static QueryResult QuerySize(const std::string& name) {
        QueryResult result;
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(kConfigHive, kConfigKey, 0, KEY_READ, &key), ERROR_SUCCESS);
        result.size = 0;
        result.status =
            RegQueryValueExA(key, name.c_str(), nullptr, &result.type, nullptr, &result.size);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        return result;
    }

    // The second query: the data into a buffer of `capacity` bytes, each preset to 0xcc.
    static QueryResult QueryData(const std::string& name, DWORD capacity) {
        QueryResult result;
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(kConfigHive, kConfigKey, 0, KEY_READ, &key), ERROR_SUCCESS);
        result.data.assign(capacity + 1, 0xcc); // one byte past the buffer, to see overruns
        result.size = capacity;
        result.status =
            RegQueryValueExA(key, name.c_str(), nullptr, nullptr, result.data.data(), &result.size);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        EXPECT_EQ(result.data.back(), 0xcc) << "wrote past the buffer it was given";
        result.data.pop_back();
        return result;
    }

    std::vector<std::string> seeded_;
};

// Every Windows has the configuration key, whether or not any value was ever stored in it, so a
// reader with nothing stored meets a missing value rather than a missing key.
TEST(RegistryConformanceUnseeded, ConfigurationKeyAlwaysExists) {
    seed::ResetPlatform();
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyExA(kConfigHive, kConfigKey, 0, KEY_READ, &key);
    EXPECT_EQ(status, ERROR_SUCCESS);
    if (status == ERROR_SUCCESS) {
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
}

TEST_F(RegistryConformance, SizeQueryReportsTypeAndStoredSize) {
    struct Row {
        const char* name;
        DWORD type;
        std::vector<BYTE> data;
    };
    const std::vector<Row> rows = {
        {"HfConfDword", REG_DWORD, DwordBytes(7)},
        {"HfConfDwordTwoBytes", REG_DWORD, {0x01, 0x02}},
        {"HfConfDwordEightBytes", REG_DWORD, {1, 0, 0, 0, 0, 0, 0, 0}},
        {"HfConfText", REG_SZ, TextWithTerminator("mouse")},
        {"HfConfEmptyText", REG_SZ, TextWithTerminator("")},
        {"HfConfExpand", REG_EXPAND_SZ, TextWithTerminator("%SystemRoot%")},
        {"HfConfBinary", REG_BINARY, {1, 2, 3}},
        {"HfConfLongest", REG_SZ, TextWithTerminator(std::string(2047, 'x'))},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Seed(row.name, row.type, row.data);
        const QueryResult result = QuerySize(row.name);
        EXPECT_EQ(result.status, ERROR_SUCCESS);
        EXPECT_EQ(result.type, row.type);
        EXPECT_EQ(result.size, row.data.size());
    }
}

TEST_F(RegistryConformance, MissingValueIsFileNotFound) {
    EXPECT_EQ(QuerySize("HfConfNeverStored").status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(QueryData("HfConfNeverStored", 4).status, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryConformance, ValueNamesIgnoreLetterCase) {
    Seed("HfConfMixedCase", REG_DWORD, DwordBytes(3));
    EXPECT_EQ(QuerySize("hfconfmixedcase").status, ERROR_SUCCESS);
    EXPECT_EQ(QuerySize("HFCONFMIXEDCASE").status, ERROR_SUCCESS);
}

TEST_F(RegistryConformance, DataQueryFillsTheBufferWithoutTypePointer) {
    Seed("HfConfAllBits", REG_DWORD, DwordBytes(0xffffffffu));
    const QueryResult result = QueryData("HfConfAllBits", 4);
    EXPECT_EQ(result.status, ERROR_SUCCESS);
    EXPECT_EQ(result.size, 4u);
    EXPECT_EQ(result.data, DwordBytes(0xffffffffu));
}

TEST_F(RegistryConformance, ShortDwordFillsOnlyItsOwnBytes) {
    Seed("HfConfDwordTwoBytes", REG_DWORD, {0x01, 0x02});
    const QueryResult result = QueryData("HfConfDwordTwoBytes", 4);
    EXPECT_EQ(result.status, ERROR_SUCCESS);
    EXPECT_EQ(result.size, 2u);
    EXPECT_EQ(result.data[0], 0x01);
    EXPECT_EQ(result.data[1], 0x02);
}

TEST_F(RegistryConformance, TooSmallBufferIsMoreDataWithTheRequiredSize) {
    Seed("HfConfDwordEightBytes", REG_DWORD, {1, 0, 0, 0, 0, 0, 0, 0});
    Seed("HfConfText", REG_SZ, TextWithTerminator("keyboard"));
    // The buffer's content after ERROR_MORE_DATA is undefined on Windows: not looked at.
    QueryResult result = QueryData("HfConfDwordEightBytes", 4);
    EXPECT_EQ(result.status, ERROR_MORE_DATA);
    EXPECT_EQ(result.size, 8u);
    result = QueryData("HfConfText", 4);
    EXPECT_EQ(result.status, ERROR_MORE_DATA);
    EXPECT_EQ(result.size, 9u);
}

TEST_F(RegistryConformance, TextKeepsEmbeddedZeroes) {
    const std::vector<BYTE> data = {'a', 'b', 0, 'c', 'd', 0};
    Seed("HfConfEmbeddedZero", REG_SZ, data);
    const QueryResult result = QueryData("HfConfEmbeddedZero", 2048);
    EXPECT_EQ(result.status, ERROR_SUCCESS);
    EXPECT_EQ(result.size, data.size());
    EXPECT_EQ(std::vector<BYTE>(result.data.begin(), result.data.begin() + 6), data);
}

// Windows reports and returns exactly the stored bytes.
TEST_F(RegistryConformance, TextWithoutTerminatorKeepsItsSizeExceptUnderWine) {
    Seed("HfConfNoTerminator", REG_SZ, Bytes("abc"));
    const DWORD size = QuerySize("HfConfNoTerminator").size;
    SKIP_WHERE_WINE_DIFFERS(size == 4, "it appends a terminator to the text and counts it");
    EXPECT_EQ(size, 3u);
    QueryResult result = QueryData("HfConfNoTerminator", 3);
    EXPECT_EQ(result.status, ERROR_SUCCESS);
    result = QueryData("HfConfNoTerminator", 2048);
    EXPECT_EQ(result.status, ERROR_SUCCESS);
    EXPECT_EQ(result.size, 3u);
    EXPECT_EQ(std::memcmp(result.data.data(), "abc", 3), 0);
}

TEST_F(RegistryConformance, ExpandableTextIsNotExpanded) {
    Seed("HfConfExpand", REG_EXPAND_SZ, TextWithTerminator("%SystemRoot%"));
    const QueryResult result = QueryData("HfConfExpand", 2048);
    EXPECT_EQ(result.status, ERROR_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<const char*>(result.data.data()), "%SystemRoot%");
}

TEST_F(RegistryConformance, KeyOpenedForReadingRefusesWrites) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(kConfigHive, kConfigKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExA(key, "HfConfWritten", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&one), sizeof one),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(QuerySize("HfConfWritten").status, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryConformance, MissingKeyCannotBeOpened) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\HfNoSuchKey",
                            0, kQueryAndSet, &key),
              ERROR_FILE_NOT_FOUND);
}

// Policy is read as KEY_READ in the 64-bit view: a key that policy never made is
// ERROR_FILE_NOT_FOUND, and one that it made reads like any other.
TEST_F(RegistryConformance, PolicyKeyOpensInThe64BitViewOnceMade) {
    constexpr const char* kPolicyKey = "SOFTWARE\\Policies\\HingeflowConformance";
    constexpr REGSAM kPolicyAccess = KEY_READ | KEY_WOW64_64KEY;
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPolicyKey, 0, kPolicyAccess, &key),
              ERROR_FILE_NOT_FOUND);
    seed::RegistryValue(HKEY_LOCAL_MACHINE, kPolicyKey, "HfPolicy", REG_SZ,
                        TextWithTerminator("mouse"));
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPolicyKey, 0, kPolicyAccess, &key), ERROR_SUCCESS);
    DWORD type = kUntouched;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "HfPolicy", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    seed::RemoveRegistryKey(HKEY_LOCAL_MACHINE, kPolicyKey);
}

TEST_F(RegistryConformance, WriteReplacesValueTypeAndSize) {
    seed::RegistryValue(HKEY_LOCAL_MACHINE, kSwitchKey, kSwitchValue, REG_SZ,
                        TextWithTerminator("1"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSwitchKey, 0, kQueryAndSet, &key), ERROR_SUCCESS);
    for (const DWORD value : {DWORD{10}, DWORD{1}, DWORD{0}}) {
        SCOPED_TRACE(value);
        EXPECT_EQ(RegSetValueExA(key, kSwitchValue, 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&value), sizeof value),
                  ERROR_SUCCESS);
        DWORD type = kUntouched;
        DWORD data = kUntouched;
        DWORD size = sizeof data;
        EXPECT_EQ(RegQueryValueExA(key, kSwitchValue, nullptr, &type,
                                   reinterpret_cast<BYTE*>(&data), &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(size, 4u);
        EXPECT_EQ(data, value);
    }
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

// The event source's key: made with the keys above it, written, then removed with everything
// under it; removing it again finds nothing.
TEST(RegistryWideConformance, KeyIsCreatedWrittenAndDeletedAsATree) {
    seed::ResetPlatform();
    const wchar_t* source = L"SOFTWARE\\HingeflowConformance\\Source";
    seed::RemoveRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\HingeflowConformance\\Source\\Child");
    seed::RemoveRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\HingeflowConformance\\Source");
    seed::RemoveRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\HingeflowConformance");
    HKEY key = nullptr;
    DWORD disposition = kUntouched;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, source, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    const std::wstring file = L"C:\\hingeflow.exe";
    EXPECT_EQ(RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>(file.c_str()),
                             static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    seed::CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\HingeflowConformance\\Source\\Child");
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, source, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, source), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\HingeflowConformance\\Source", 0,
                            KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, source), ERROR_FILE_NOT_FOUND);
    seed::RemoveRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\HingeflowConformance");
}

} // namespace
