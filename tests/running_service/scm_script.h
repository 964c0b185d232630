// Shorthand for the controls a test's played SCM delivers.
#pragma once

#include "platform/sim/service_runtime_control.h"

#include <functional>
#include <utility>

inline sim::ServiceControl Control(DWORD code, DWORD eventType = 0, LPVOID eventData = nullptr,
                                   std::function<void()> beforeDelivery = nullptr) {
    sim::ServiceControl control;
    control.control = code;
    control.eventType = eventType;
    control.eventData = eventData;
    control.beforeDelivery = std::move(beforeDelivery);
    return control;
}
