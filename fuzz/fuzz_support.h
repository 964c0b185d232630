// What every fuzzer shares: a clean simulator per input, nothing left open after it, and the
// fuzzed choices that several fuzzers make alike.
#pragma once

#include "platform/sim/control.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace fuzz {

// A leaked handle is a defect as real as a crash, so it ends the run the same way.
class Iteration {
public:
    Iteration() {
        sim::Reset();
        // Formatting every call into the journal would slow the fuzzer down for nothing.
        sim::SetJournalEnabled(false);
    }
    ~Iteration() {
        const int open = sim::OpenHandleCount();
        if (open != 0) {
            std::fprintf(stderr, "fuzz: %d handle(s) left open\n", open);
            std::abort();
        }
    }
    Iteration(const Iteration&) = delete;
    Iteration& operator=(const Iteration&) = delete;
};

inline void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz: %s\n", what);
        std::abort();
    }
}

// Mostly the codes the code under test tells apart, sometimes any number at all.
inline DWORD ErrorCode(FuzzedDataProvider& in) {
    static constexpr DWORD kCodes[] = {sim::kRepresentativeFault, ERROR_ACCESS_DENIED,
                                       ERROR_FILE_NOT_FOUND,      ERROR_MORE_DATA,
                                       ERROR_NO_MORE_ITEMS,       ERROR_INSUFFICIENT_BUFFER,
                                       ERROR_INVALID_DATA,        ERROR_NOT_ENOUGH_MEMORY};
    if (in.ConsumeBool()) {
        return in.ConsumeIntegral<DWORD>();
    }
    return in.PickValueInArray(kCodes);
}

// Up to two faults among the next platform calls, each with any code.
inline void ArmFaults(FuzzedDataProvider& in) {
    for (int i = 0; i < 2 && in.ConsumeBool(); ++i) {
        const int nth = in.ConsumeIntegralInRange(1, 64);
        sim::FailAnyCall(nth, ErrorCode(in));
    }
}

inline DWORD ValueType(FuzzedDataProvider& in) {
    static constexpr DWORD kTypes[] = {REG_SZ,    REG_DWORD,    REG_NONE,
                                       REG_BINARY, REG_EXPAND_SZ, REG_MULTI_SZ, REG_QWORD};
    return in.ConsumeBool() ? in.PickValueInArray(kTypes) : in.ConsumeIntegral<DWORD>();
}

// Any size up to 64 KiB from a short input: a fuzzed pattern repeated to a fuzzed length,
// then, when chosen, a terminating zero.
inline std::vector<BYTE> Bytes(FuzzedDataProvider& in, std::size_t maxSize) {
    const std::size_t size = in.ConsumeIntegralInRange<std::size_t>(0, maxSize);
    const std::vector<BYTE> pattern =
        in.ConsumeBytes<BYTE>(in.ConsumeIntegralInRange<std::size_t>(0, 64));
    const bool terminate = in.ConsumeBool();
    std::vector<BYTE> bytes(size, 0);
    for (std::size_t i = 0; i < size && !pattern.empty(); ++i) {
        bytes[i] = pattern[i % pattern.size()];
    }
    if (terminate) {
        bytes.push_back(0);
    }
    return bytes;
}

} // namespace fuzz
