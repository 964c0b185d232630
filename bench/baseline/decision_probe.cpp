// One positive decision as the service takes it: the real presence check and the real switch,
// timed inside the process. Prints the median microseconds per decision.
#include "bench/wine/timing.h"
#include "trigger/presence_check.h"
#include "trigger/slate_mode.h"

int wmain(int argc, wchar_t** argv) {
    return timing::MedianPerRun(argc, argv, "decision_us",
                                [] { return IsExternalInputAttached() && SetTabletMode(1, true); });
}
