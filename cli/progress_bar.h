#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// The one-line progress display on standard error: bytes done of the total, rate, time left
// and the current status text. Draws nothing at all when it is not enabled.
class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : enabled(enabled) {}

    bool isEnabled() const { return enabled; }
    void begin();
    // Task totals; ignored while a fixed total is set.
    void setTotal(uint64_t total);
    void setDone(uint64_t done);
    void setStatus(std::u16string_view text);
    // A task ended: clears the line so that later output starts at the left margin.
    void end();
    // Clears the line whatever the mode.
    void clear();

    // Several tasks shown as one bar: `total` over all of them, and `base` bytes already
    // done by the earlier ones, added to every task's own count.
    void fixTotal(uint64_t total);
    void setBase(uint64_t newBase) { base = newBase; }

private:
    void draw(bool force);
    std::string render(int columns) const;

    bool enabled;
    bool totalKnown = false;
    bool totalFixed = false;
    uint64_t total = 0;
    uint64_t done = 0;
    uint64_t base = 0;
    std::u16string status;
    std::chrono::steady_clock::time_point startTime{};
    std::chrono::steady_clock::time_point lastDraw{};
    bool started = false;
    bool drawn = false;
};
