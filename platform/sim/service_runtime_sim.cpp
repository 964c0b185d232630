// Simulator face only: placeholder until this area is simulated.
#include "platform/sim/core.h"

namespace sim::core {
void ResetServiceRuntime() {}
} // namespace sim::core
