#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/base/progress_sink.h"

// Median wall time in milliseconds of `repetitions` runs of `work`.
double medianMs(int repetitions, const std::function<void()>& work);

// Deterministic pseudo-random numbers, so every run measures the same input.
class Generator {
public:
    explicit Generator(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return uint32_t(state >> 16);
    }
    uint32_t below(uint32_t bound) { return next() % bound; }

private:
    uint64_t state;
};

// A plain linear congruential sequence: the save benchmarks' corpora are made from it, so their
// figures stay comparable from run to run.
struct Random {
    uint64_t state;
    uint32_t next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t(state >> 33);
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

// Names like a client's data folder: a few directory levels, about 45 bytes, most with Korean
// parts (code page 949 bytes); `index` keeps them apart.
std::string makeEntryName(uint32_t index, Generator& random);

std::vector<uint8_t> deflateAll(const std::vector<uint8_t>& data, int level);
// Bytes allocated and not yet freed right now, large mapped blocks included (glibc); 0 where it
// cannot be told.
size_t heapInUse();

// Progress and messages that go nowhere: the benchmarks time the work, not its reporting.
class NullSink : public ProgressSink {
public:
    void reportStatus(const char16_t*) override {}
    void reportProgress(uint32_t, bool) override {}
};


