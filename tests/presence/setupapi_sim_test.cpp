// The simulated SetupAPI holds the census to Windows' rules, so those rules are checked here.
#include "platform/setup_api.h"

#include "platform/process.h"
#include "platform/sim/setupapi_control.h"
#include "tests/support/sim_test.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr BYTE kSentinel = 0xCD;
constexpr DWORD kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
const GUID kMouse = interface_class::kMouse;
constexpr DWORD kInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;

bool Untouched(const std::vector<BYTE>& buffer, std::size_t from) {
    return std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(from), buffer.end(),
                       [](BYTE b) { return b == kSentinel; });
}

int Enumerated(HDEVINFO set) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    DWORD index = 0;
    while (SetupDiEnumDeviceInterfaces(set, nullptr, &kMouse, index, &data)) {
        ++index;
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    return static_cast<int>(index);
}

class SetupApiSimTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        sim::SetDevicePath(sim::AddHidMouse(L"abc"), path_);
        set_ = SetupDiGetClassDevsW(&kMouse, nullptr, nullptr, kInterfaces);
        iface_.cbSize = sizeof iface_;
        ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set_, nullptr, &kMouse, 0, &iface_));
    }
    void TearDown() override {
        SetupDiDestroyDeviceInfoList(set_);
        SimTest::TearDown();
    }
    const std::wstring path_ = L"\\\\?\\hid#mouse";
    HDEVINFO set_ = INVALID_HANDLE_VALUE;
    SP_DEVICE_INTERFACE_DATA iface_{};
};

TEST_F(SetupApiSimTest, DetailFollowsTheSizeProtocol) {
    const DWORD needed = kPathOffset + static_cast<DWORD>((path_.size() + 1) * sizeof(WCHAR));
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set_, &iface_, nullptr, 0, &required, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, needed);

    std::vector<BYTE> buffer(needed + 16, kSentinel);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    SP_DEVINFO_DATA device{};
    const struct {
        const char* name;
        DWORD cbSize, size, deviceCbSize, error;
    } refusals[] = {
        {"head size wrong", sizeof *detail + 1, needed, sizeof device, ERROR_INVALID_USER_BUFFER},
        {"below the minimum", sizeof *detail, kPathOffset + 1, sizeof device,
         ERROR_INVALID_USER_BUFFER},
        {"device record size wrong", sizeof *detail, needed, 1, ERROR_INVALID_USER_BUFFER},
        {"one byte short", sizeof *detail, needed - 1, sizeof device, ERROR_INSUFFICIENT_BUFFER},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.name);
        detail->cbSize = r.cbSize;
        device.cbSize = r.deviceCbSize;
        EXPECT_FALSE(
            SetupDiGetDeviceInterfaceDetailW(set_, &iface_, detail, r.size, nullptr, &device));
        EXPECT_EQ(GetLastError(), r.error);
        EXPECT_TRUE(Untouched(buffer, kPathOffset));
    }

    detail->cbSize = sizeof *detail;
    device = SP_DEVINFO_DATA{};
    device.cbSize = sizeof device;
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(set_, &iface_, detail, needed, nullptr, &device));
    EXPECT_EQ(std::wstring(detail->DevicePath), path_);
    EXPECT_TRUE(Untouched(buffer, needed));
    EXPECT_NE(device.Reserved, 0u);
}

TEST_F(SetupApiSimTest, PropertyReportsItsSizeAndLeavesAShortBufferUntouched) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set_, &iface_, nullptr, 0, &size, &device);
    const DWORD needed = 4 * sizeof(WCHAR);
    std::vector<BYTE> buffer(needed + 8, kSentinel);

    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set_, &device, SPDRP_DEVICEDESC, nullptr,
                                                   buffer.data(), needed - 1, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, needed);
    EXPECT_TRUE(Untouched(buffer, 0));

    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set_, &device, SPDRP_DEVICEDESC, nullptr,
                                                  buffer.data(), needed, &size));
    EXPECT_EQ(std::wstring(reinterpret_cast<const WCHAR*>(buffer.data())), L"abc");
    EXPECT_TRUE(Untouched(buffer, needed));
}

TEST_F(SetupApiSimTest, SetsAreSnapshotsFromAFixedPool) {
    const int absent = sim::AddHidMouse(L"m", /*present=*/false);
    const HDEVINFO all = SetupDiGetClassDevsW(&kMouse, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
    sim::SetDevicePresent(absent, true);
    sim::AddHidMouse();
    const HDEVINFO later = SetupDiGetClassDevsW(&kMouse, nullptr, nullptr, kInterfaces);
    EXPECT_EQ(Enumerated(set_), 1);
    EXPECT_EQ(Enumerated(all), 2);
    EXPECT_EQ(Enumerated(later), 3);
    SetupDiDestroyDeviceInfoList(all);
    SetupDiDestroyDeviceInfoList(later);

    std::vector<HDEVINFO> sets(sim::kDeviceInfoSetPoolSize - 1);
    for (HDEVINFO& set : sets) {
        set = SetupDiGetClassDevsW(&kMouse, nullptr, nullptr, kInterfaces);
    }
    EXPECT_NE(sets.back(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetupDiGetClassDevsW(&kMouse, nullptr, nullptr, kInterfaces), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    for (HDEVINFO set : sets) {
        SetupDiDestroyDeviceInfoList(set);
    }
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(sets.front()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

} // namespace
