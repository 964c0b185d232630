// The slate-mode switch and the start-up switch on a real ConvertibleSlateMode value.
#include "trigger/slate_mode.h"

#include "tests/windows/log_file.h"
#include "tests/windows_conformance/platform_seed.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using Entries = std::vector<std::string>;

struct Stored {
    DWORD type;
    std::vector<BYTE> data;
};

std::optional<Stored> ReadSlateMode() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    Stored stored{REG_NONE, std::vector<BYTE>(64)};
    DWORD size = static_cast<DWORD>(stored.data.size());
    const LSTATUS status =
        RegQueryValueExA(key, kSlateModeValue, nullptr, &stored.type, stored.data.data(), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        return std::nullopt;
    }
    stored.data.resize(size);
    return stored;
}

class SlateModeOnWine : public ::testing::Test {
protected:
    void SetUp() override { Store(0); }
    // The prefix is shared by every test: leave tablet mode, as the fixture made it.
    void TearDown() override {
        seed::CreateRegistryKey(HKEY_LOCAL_MACHINE, kSlateModeKeyPath);
        Store(0);
    }

    static void Store(DWORD value) {
        seed::RegistryValue(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, REG_DWORD,
                            DwordBytes(value));
    }
    static void ExpectStored(DWORD value) {
        const std::optional<Stored> stored = ReadSlateMode();
        ASSERT_TRUE(stored.has_value()) << "ConvertibleSlateMode is gone";
        EXPECT_EQ(stored->type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(stored->data, DwordBytes(value));
    }

    LogFile log_;
};

TEST_F(SlateModeOnWine, ForcedLaptopModeOverLaptopModePassesThroughTheTemporaryValue) {
    Store(1);
    EXPECT_TRUE(SetTabletMode(1, true));
    ExpectStored(1);
    EXPECT_EQ(log_.Entries(), Entries{"V:SetTabletMode, temperal value: 10"});
}

TEST_F(SlateModeOnWine, EverySwitchWritesItsModeOnce) {
    struct Row {
        DWORD stored;
        DWORD mode;
        bool force;
    };
    for (const Row& row :
         {Row{0, 1, true}, Row{10, 1, true}, Row{1, 1, false}, Row{1, 0, false}, Row{0, 0, true}}) {
        SCOPED_TRACE(testing::Message() << "stored " << row.stored << ", mode " << row.mode
                                        << ", force " << row.force);
        Store(row.stored);
        EXPECT_TRUE(SetTabletMode(row.mode, row.force));
        ExpectStored(row.mode);
    }
    EXPECT_EQ(log_.Entries(), Entries{});
}

TEST_F(SlateModeOnWine, OtherModesAreRejectedUntouched) {
    EXPECT_FALSE(SetTabletMode(2, true));
    EXPECT_FALSE(SetTabletMode(10, false));
    ExpectStored(0);
    EXPECT_EQ(log_.Entries(), Entries{});
}

TEST_F(SlateModeOnWine, StartUpForcesLaptopMode) {
    EXPECT_TRUE(InitializeConvertibleSlateMode());
    ExpectStored(1);
    EXPECT_TRUE(InitializeConvertibleSlateMode());
    ExpectStored(1);
    EXPECT_EQ(log_.Entries(), Entries(2, "V:InitializeConvertibleSlateMode: 1"));
}

TEST_F(SlateModeOnWine, MissingValueIsNeverCreated) {
    seed::RemoveRegistryValue(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue);
    EXPECT_FALSE(SetTabletMode(1, true));
    EXPECT_FALSE(InitializeConvertibleSlateMode());
    EXPECT_FALSE(ReadSlateMode().has_value());
    EXPECT_EQ(log_.Entries(), (Entries{"E:query ConvertibleSlateMode failed: 2",
                                       "E:query ConvertibleSlateMode failed: 2",
                                       "V:InitializeConvertibleSlateMode: 0"}));
}

TEST_F(SlateModeOnWine, ValueOfAnotherTypeIsLeftAlone) {
    // Fits the 4-byte buffer: refused by its type. Longer: refused by the query itself.
    seed::RegistryValue(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, REG_SZ,
                        TextWithTerminator("1"));
    EXPECT_FALSE(SetTabletMode(0, false));
    const std::vector<BYTE> eightBytes = {1, 0, 0, 0, 0, 0, 0, 0};
    seed::RegistryValue(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue, REG_BINARY,
                        eightBytes);
    EXPECT_FALSE(InitializeConvertibleSlateMode());
    const std::optional<Stored> stored = ReadSlateMode();
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(stored->data, eightBytes);
    EXPECT_EQ(log_.Entries(),
              (Entries{"E:incorrect value type", "E:query ConvertibleSlateMode failed: 234",
                       "V:InitializeConvertibleSlateMode: 0"}));
}

TEST_F(SlateModeOnWine, MissingKeyCannotBeOpened) {
    if (!seed::OnWine()) {
        GTEST_SKIP() << "would delete the machine's own PriorityControl key and its other values";
    }
    seed::RemoveRegistryValue(HKEY_LOCAL_MACHINE, kSlateModeKeyPath, kSlateModeValue);
    seed::RemoveRegistryKey(HKEY_LOCAL_MACHINE, kSlateModeKeyPath);
    EXPECT_FALSE(SetTabletMode(0, false));
    EXPECT_FALSE(InitializeConvertibleSlateMode());
    EXPECT_EQ(log_.Entries(), (Entries{"E:open key failed: 2", "E:open key failed: 2",
                                       "V:InitializeConvertibleSlateMode: 0"}));
}

} // namespace
