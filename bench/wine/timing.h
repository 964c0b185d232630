// Timing inside the process under Wine, through QueryPerformanceCounter.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace timing {

inline double NowMicros() {
    static const double ticksPerMicro = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1e6;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / ticksPerMicro;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// argv: [timed runs]. Each run is timed on its own and the median printed, so that a run the
// scheduler interrupted moves the figure no more than any other single run. Three unmeasured
// runs first load the DLLs and warm the caches.
template <typename Run> int MedianPerRun(int argc, wchar_t** argv, const char* label, Run run) {
    const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 100;
    for (int i = 0; i < 3; ++i) {
        if (!run()) {
            std::printf("%s: the decision was not positive\n", label);
            return 3;
        }
    }
    std::vector<double> perRun;
    for (int i = 0; i < runs; ++i) {
        const double start = NowMicros();
        run();
        perRun.push_back(NowMicros() - start);
    }
    std::printf("%s %.1f\n", label, Median(perRun));
    return 0;
}

} // namespace timing
