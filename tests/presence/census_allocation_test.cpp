// Counts every use of the global operator new, to show that a census allocates nothing.
#include "trigger/input_census.h"

#include "platform/device_properties.h"
#include "platform/sim/control.h"
#include "platform/sim/setupapi_control.h"
#include "tests/support/counting_new.h"

#include <gtest/gtest.h>

namespace {

template <typename Run> long AllocationsDuring(Run run) {
    counting_new::Start();
    run();
    return counting_new::Stop();
}

TEST(CensusAllocation, CensusOverAThousandInterfacesAllocatesNothing) {
    ASSERT_EQ(AllocationsDuring([] { ::operator delete(::operator new(16)); }), 1);
    sim::Reset();
    for (int i = 0; i < 1000; ++i) {
        sim::AddHidMouse(i % 2 == 0 ? L"HID-compliant mouse" : L"PS/2 Compatible Mouse");
    }
    // External only, every other counted mouse is built in, and half of those are known only
    // by their ContainerId.
    for (int id = 1; id <= 1000; id += 2) {
        sim::PlaceInContainer(id, (id / 2) % 2 == 0 ? device_property::kMachineContainer
                                                    : GUID{0x1234, 0, 0, {}});
        if (id % 4 == 1) {
            sim::SetDeviceProperty(id, device_property::kInLocalMachineContainer,
                                   DEVPROP_TYPE_EMPTY, {});
        }
    }
    sim::SetJournalEnabled(false);
    std::int32_t count = 0;
    std::int32_t external = 0;
    EXPECT_EQ(AllocationsDuring([&] {
                  count = CountInputDevices(kMouseKind);
                  external = CountInputDevices(kMouseKind, CensusScope::ExternalOnly);
              }),
              0);
    sim::SetJournalEnabled(true);
    EXPECT_EQ(count, 500);
    EXPECT_EQ(external, 250);
    EXPECT_EQ(sim::OpenHandleCount(), 0);
}

} // namespace
