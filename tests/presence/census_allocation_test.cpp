// Counts every use of the global operator new, to show that a census allocates nothing.
#include "trigger/input_census.h"

#include "platform/sim/control.h"
#include "platform/sim/setupapi_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> g_counting{false};
std::atomic<int> g_allocations{0};
} // namespace

void* operator new(std::size_t size) {
    g_allocations += g_counting ? 1 : 0;
    if (void* p = std::malloc(size != 0 ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

template <typename Run> int AllocationsDuring(Run run) {
    g_allocations = 0;
    g_counting = true;
    run();
    g_counting = false;
    return g_allocations;
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
