// The same platform calls as one positive decision, written inline (bare_decision.h), timed
// the same way as decision_probe.
#include "bench/baseline/bare_decision.h"
#include "bench/wine/timing.h"

int wmain(int argc, wchar_t** argv) {
    return timing::MedianPerRun(argc, argv, "bare_us", [] { return bare::Decision(); });
}
