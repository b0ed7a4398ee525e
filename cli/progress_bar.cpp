#include "cli/progress_bar.h"

#include <cstdio>

#include "cli/report.h"
#include "cli/console_io.h"
#include "cli/text.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(100);
constexpr int BAR_CELLS = 20;

std::string formatBytes(double bytes) {
    static const char* const UNITS[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 4) {
        bytes /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, UNITS[unit]);
    return text;
}

std::string formatSeconds(double seconds) {
    const auto whole = static_cast<unsigned long long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%llu:%02llu", whole / 60, whole % 60);
    }
    return text;
}

// East Asian characters take two cells; close enough for cutting a status text to the line.
int cellsOf(char16_t unit) { return unit >= 0x1100 && !(unit >= 0xD800 && unit <= 0xDFFF) ? 2 : 1; }

}  // namespace

void ProgressBar::begin() {
    if (!started) {
        startTime = Clock::now();
        started = true;
    }
    if (totalFixed) {
        draw(false);
        return;
    }
    totalKnown = false;
    total = 0;
    done = 0;
    draw(true);
}

void ProgressBar::setTotal(uint64_t newTotal) {
    if (totalFixed) return;
    total = newTotal;
    totalKnown = true;
    draw(true);
}

void ProgressBar::setDone(uint64_t newDone) {
    done = base + newDone;
    // The last step is always shown, however soon it follows the one before.
    draw(totalKnown && done >= total);
}

void ProgressBar::setStatus(std::u16string_view text) {
    // Told once an entry, shown a few times a second at most: kept as it comes.
    if (!enabled) return;
    status = text;
    draw(false);
}

void ProgressBar::fixTotal(uint64_t newTotal) {
    total = newTotal;
    totalKnown = true;
    totalFixed = true;
}

void ProgressBar::end() {
    // One bar over several tasks stays up between them; clear() takes it away at the end.
    if (!totalFixed) clear();
}

void ProgressBar::clear() {
    if (!enabled || !drawn) return;
    const int columns = terminalColumns();
    std::string blank = "\r";
    blank.append(size_t(columns > 1 ? columns - 1 : 1), ' ');
    blank += '\r';
    writeErr(blank);
    drawn = false;
}

void ProgressBar::draw(bool force) {
    if (!enabled) return;
    const auto now = Clock::now();
    if (!force && drawn && now - lastDraw < REDRAW_INTERVAL) return;
    lastDraw = now;
    drawn = true;
    std::string line = "\r";
    line += render(terminalColumns());
    writeErr(line);
}

std::string ProgressBar::render(int columns) const {
    const double elapsed = std::chrono::duration<double>(Clock::now() - startTime).count();
    std::string line;
    if (totalKnown) {
        const double fraction = total == 0 ? 1.0 : double(done > total ? total : done) / double(total);
        const int filled = int(fraction * BAR_CELLS);
        line += '[';
        line.append(size_t(filled), '#');
        line.append(size_t(BAR_CELLS - filled), '-');
        line += "] ";
        char percent[8];
        std::snprintf(percent, sizeof percent, "%3d%%", int(fraction * 100.0));
        line += percent;
        line += "  ";
        line += formatBytes(double(done));
        line += " / ";
        line += formatBytes(double(total));
        if (elapsed > 0.5 && done > 0) {
            const double rate = double(done) / elapsed;
            line += "  ";
            line += formatBytes(rate);
            line += "/s";
            if (total > done) {
                line += "  ";
                line += formatSeconds(double(total - done) / rate);
                line += " left";
            }
        }
    } else {
        line += "[working]  ";
        line += formatSeconds(elapsed);
    }
    line += "  ";

    // The status text (an entry name, usually) gets what is left of the line; its end matters most.
    const int room = columns - 1 - int(line.size());
    int used = 0;
    // A name may hold controls that would break the line or drive the terminal.
    const std::u16string text = utf8ToUtf16(escapeControls(utf16ToUtf8(status)));
    if (room > 3 && !text.empty()) {
        size_t start = text.size();
        while (start > 0 && used + cellsOf(text[start - 1]) <= room) {
            used += cellsOf(text[start - 1]);
            --start;
        }
        std::string shown;
        if (start > 0) {
            // Make room for the ellipsis and never split a surrogate pair.
            while (start < text.size() && used > room - 3) used -= cellsOf(text[start++]);
            if (start < text.size() && text[start] >= 0xDC00 && text[start] <= 0xDFFF) {
                used -= cellsOf(text[start++]);
            }
            shown = "...";
            used += 3;
        }
        line += shown;
        line += utf16ToUtf8(std::u16string_view(text).substr(start));
    }
    // Spaces cover whatever a longer previous line left behind.
    if (room > used) line += std::string(size_t(room - used), ' ');
    return line;
}
