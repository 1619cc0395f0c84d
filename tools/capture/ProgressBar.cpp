#include "ProgressBar.h"

#include <algorithm>
#include <cmath>

namespace Tolvane::Capture {

namespace {

constexpr int BAR_WIDTH = 30;
// The bar is redrawn at most this often.
constexpr std::chrono::milliseconds REDRAW_INTERVAL(100);

// Whole seconds as m:ss or h:mm:ss.
std::string clockText(double seconds) {
    const long total = std::lround(std::max(0.0, seconds));
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    }
    return text;
}

} // namespace

ProgressBar::ProgressBar(std::FILE* stream, int64_t total, bool live)
    : stream(stream), total(std::max<int64_t>(total, 1)), live(live), started(Clock::now()),
      lastDrawn(started) {}

std::string ProgressBar::line(int64_t done, int64_t total, double seconds) {
    const double fraction = total > 0 ? static_cast<double>(done) / total : 1.0;
    const int filled = static_cast<int>(fraction * BAR_WIDTH);
    std::string bar = "[" + std::string(static_cast<size_t>(filled), '#') +
                      std::string(static_cast<size_t>(BAR_WIDTH - filled), '.') + "]";
    char text[160];
    if (done > 0 && seconds > 0.0) {
        const double rate = done / seconds;
        std::snprintf(text, sizeof text, " %3d%%  %lld/%lld frames  %.1f frames/s  %s left",
                      static_cast<int>(fraction * 100.0), static_cast<long long>(done),
                      static_cast<long long>(total), rate,
                      clockText((total - done) / rate).c_str());
    } else {
        std::snprintf(text, sizeof text, " %3d%%  %lld/%lld frames",
                      static_cast<int>(fraction * 100.0), static_cast<long long>(done),
                      static_cast<long long>(total));
    }
    return bar + text;
}

void ProgressBar::update(int64_t frames) {
    done = frames;
    if (!live) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (now - lastDrawn < REDRAW_INTERVAL && done < total) {
        return;
    }
    lastDrawn = now;
    const std::string text =
        line(done, total, std::chrono::duration<double>(now - started).count());
    // Pad over a longer line drawn before.
    const size_t padding = lastLength > text.size() ? lastLength - text.size() : 0;
    std::fprintf(stream, "\r%s%s", text.c_str(), std::string(padding, ' ').c_str());
    std::fflush(stream);
    lastLength = text.size();
}

void ProgressBar::finish() {
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    clear();
    std::fprintf(stream, "captured %lld frames in %.1f s (%.1f frames/s)\n",
                 static_cast<long long>(done), seconds, seconds > 0.0 ? done / seconds : 0.0);
    std::fflush(stream);
}

} // namespace Tolvane::Capture

namespace Tolvane::Capture {

void ProgressBar::clear() {
    if (live && lastLength > 0) {
        std::fprintf(stream, "\r%s\r", std::string(lastLength, ' ').c_str());
        lastLength = 0;
    }
}

} // namespace Tolvane::Capture
