// Base fixture for every test that runs over the simulator: a clean platform before each test,
// and nothing left open after it.
#pragma once

#include "platform/sim/control.h"

#include <gtest/gtest.h>

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override {
        EXPECT_EQ(sim::OpenHandleCount(), 0)
            << "a key, set, SCM handle, notification, file or descriptor was left open";
    }
};
