// Counts every use of the global operator new, to show that a census allocates nothing.
#include "trigger/input_census.h"

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
    sim::SetJournalEnabled(false);
    std::int32_t count = 0;
    EXPECT_EQ(AllocationsDuring([&count] { count = CountInputDevices(kMouseKind); }), 0);
    sim::SetJournalEnabled(true);
    EXPECT_EQ(count, 500);
    EXPECT_EQ(sim::OpenHandleCount(), 0);
}

} // namespace
