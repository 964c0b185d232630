// The configuration readers on values that `reg import` stored (config_values.reg) and on values
// written as a test goes.
#include "config/config_values.h"
#include "tests/windows/log_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Entries = std::vector<std::string>;

class ConfigValuesOnWine : public ::testing::Test {
protected:
    std::string Text(const char* name) { return ReadConfigString(kConfigKeyPath, name); }
    DWORD Number(const char* name) { return ReadConfigDword(kConfigKeyPath, name); }

    LogFile log_;
};

TEST_F(ConfigValuesOnWine, WellFormedValuesReadAsStoredWithoutLogging) {
    EXPECT_EQ(Text("HfSeedText"), "Keyboard");
    EXPECT_EQ(Text("HfSeedEmptyText"), "");
    EXPECT_EQ(Number("HfSeedAllBits"), 4294967295u);
    EXPECT_EQ(log_.Entries(), Entries{});
}

TEST_F(ConfigValuesOnWine, TextEndsAtItsFirstZeroOrWhereTheDataEnds) {
    EXPECT_EQ(Text("HfSeedNoTerminator"), "abc");
    EXPECT_EQ(Text("HfSeedEmbeddedZero"), "ab");
    EXPECT_EQ(log_.Entries(), Entries{});
}

TEST_F(ConfigValuesOnWine, ShortNumbersAreLittleEndianWithZeroHighBytes) {
    EXPECT_EQ(Number("HfSeedDwordTwoBytes"), 0x0201u);
    EXPECT_EQ(Number("HfSeedDwordOneByte"), 7u);
    EXPECT_EQ(Number("HfSeedDwordEmpty"), 0u);
    EXPECT_EQ(log_.Entries(), Entries{});
}

TEST_F(ConfigValuesOnWine, NumberLongerThanFourBytesIsRefused) {
    EXPECT_EQ(Number("HfSeedDwordEightBytes"), 0u);
    EXPECT_EQ(log_.Entries(), Entries{"E:query key(HfSeedDwordEightBytes) value failed: 234"});
}

TEST_F(ConfigValuesOnWine, OtherTypesAreRefusedWithOneError) {
    for (const char* name :
         {"HfSeedExpandText", "HfSeedMultiText", "HfSeedBinary", "HfSeedAllBits"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Text(name), "");
    }
    for (const char* name : {"HfSeedDwordAsText", "HfSeedQword", "HfSeedBinary"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Number(name), 0u);
    }
    EXPECT_EQ(log_.Entries(), Entries(7, "E:incorrect value type"));
}

TEST_F(ConfigValuesOnWine, MissingValueIsVerboseAndMissingKeyIsAnError) {
    EXPECT_EQ(Text("HfSeedNeverStored"), "");
    EXPECT_EQ(Number("HfSeedNeverStored"), 0u);
    EXPECT_EQ(ReadConfigString("System\\HingeflowNoSuchKey", "HfSeedText"), "");
    EXPECT_EQ(log_.Entries(), (Entries{"V:query value (HfSeedNeverStored) failed: 2",
                                       "V:query value (HfSeedNeverStored) failed: 2",
                                       "E:open key(System\\HingeflowNoSuchKey) failed: 2"}));
}

TEST_F(ConfigValuesOnWine, QuietReaderNeverLogs) {
    EXPECT_EQ(ReadConfigStringQuiet(kConfigKeyPath, "HfSeedText"), "Keyboard");
    for (const char* name : {"HfSeedNeverStored", "HfSeedExpandText", "HfSeedAllBits"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ReadConfigStringQuiet(kConfigKeyPath, name), "");
    }
    EXPECT_EQ(ReadConfigStringQuiet("System\\HingeflowNoSuchKey", "HfSeedText"), "");
    EXPECT_EQ(log_.Entries(), Entries{});
}

TEST_F(ConfigValuesOnWine, LongestTextIsWholeAndLongerIsRefused) {
    const std::string longest(2047, 'x');
    SetConfigText("HfTestLongest", longest);
    EXPECT_EQ(Text("HfTestLongest"), longest);
    SetConfigText("HfTestTooLong", std::string(2048, 'y'));
    EXPECT_EQ(Text("HfTestTooLong"), "");
    RemoveConfigValue("HfTestLongest");
    RemoveConfigValue("HfTestTooLong");
    EXPECT_EQ(log_.Entries(), Entries{"E:query key(HfTestTooLong) value failed: 234"});
}

TEST_F(ConfigValuesOnWine, ChangedValueIsSeenAtTheNextRead) {
    SetConfigText(kTriggerDeviceValue, "mouse");
    EXPECT_EQ(Text(kTriggerDeviceValue), "mouse");
    SetConfigText(kTriggerDeviceValue, "keyboard");
    EXPECT_EQ(Text(kTriggerDeviceValue), "keyboard");
    RemoveConfigValue(kTriggerDeviceValue);
}

} // namespace
