#include "Resampler.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace Tolvane {

namespace {

constexpr int PHASES = 256;
constexpr double ZERO_CROSSINGS = 24.0;
constexpr double PASS_BAND = 0.95;
constexpr double KAISER_BETA = 9.0;

// Zeroth-order modified Bessel function of the first kind.
double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-12)
            break;
    }
    return sum;
}

} // namespace

void Resampler::configure(int inRate, int outRate) {
    const int64_t divisor = std::gcd(static_cast<int64_t>(inRate), static_cast<int64_t>(outRate));
    up = outRate / divisor;
    down = inRate / divisor;
    if (up == down)
        return;
    const double cutoff = std::min(1.0, static_cast<double>(outRate) / inRate) * PASS_BAND;
    halfWidth = static_cast<int>(std::ceil(ZERO_CROSSINGS / cutoff));
    const int taps = 2 * halfWidth;
    // Row p holds the weights of input frames i0 - halfWidth + 1 ...
    // i0 + halfWidth for an output at i0 + p / PHASES.
    table.assign(static_cast<size_t>(PHASES + 1) * taps, 0.0f);
    const double beta = besselI0(KAISER_BETA);
    for (int p = 0; p <= PHASES; ++p) {
        double sum = 0.0;
        std::vector<double> row(taps);
        for (int k = 0; k < taps; ++k) {
            const double t = static_cast<double>(p) / PHASES - (k - halfWidth + 1);
            const double x = cutoff * t * M_PI;
            const double sinc = std::fabs(x) < 1e-12 ? 1.0 : std::sin(x) / x;
            const double r = t / halfWidth;
            const double window =
                std::fabs(r) >= 1.0 ? 0.0 : besselI0(KAISER_BETA * std::sqrt(1.0 - r * r)) / beta;
            row[k] = sinc * window;
            sum += row[k];
        }
        for (int k = 0; k < taps; ++k)
            table[static_cast<size_t>(p) * taps + k] = static_cast<float>(row[k] / sum);
    }
}

int64_t Resampler::restart(int64_t first) {
    next = first;
    finished = false;
    history.clear();
    if (up == down) {
        historyStart = first;
    } else {
        historyStart = std::max<int64_t>(0, first * down / up - halfWidth + 1);
    }
    inputEnd = historyStart;
    return historyStart;
}

void Resampler::put(const float* frames, size_t count) {
    history.insert(history.end(), frames, frames + count * 2);
    inputEnd += static_cast<int64_t>(count);
}

void Resampler::interpolate(std::vector<float>& out) const {
    const int taps = 2 * halfWidth;
    const int64_t position = next * down;
    const int64_t center = position / up;
    const double phase = static_cast<double>(position % up) / up * PHASES;
    const int row = static_cast<int>(phase);
    const float blend = static_cast<float>(phase - row);
    const float* a = &table[static_cast<size_t>(row) * taps];
    const float* b = row < PHASES ? a + taps : a;
    float left = 0.0f;
    float right = 0.0f;
    const int64_t first = center - halfWidth + 1;
    for (int k = 0; k < taps; ++k) {
        const int64_t j = first + k;
        if (j < historyStart || j >= inputEnd)
            continue;
        const float weight = a[k] + (b[k] - a[k]) * blend;
        const size_t at = static_cast<size_t>(j - historyStart) * 2;
        left += weight * history[at];
        right += weight * history[at + 1];
    }
    out.push_back(left);
    out.push_back(right);
}

void Resampler::get(std::vector<float>& out) {
    if (up == down) {
        out.insert(out.end(), history.begin(), history.end());
        history.clear();
        historyStart = inputEnd;
        next = inputEnd;
        return;
    }
    for (;; ++next) {
        const int64_t position = next * down;
        const int64_t center = position / up;
        if (finished ? position >= inputEnd * up : center + halfWidth >= inputEnd)
            break;
        interpolate(out);
    }
    // Drop the input no later output reaches back to.
    const int64_t keep = std::max<int64_t>(historyStart, next * down / up - halfWidth + 1);
    const int64_t drop = std::min(keep, inputEnd) - historyStart;
    if (drop > 4096) {
        history.erase(history.begin(), history.begin() + drop * 2);
        historyStart += drop;
    }
}

} // namespace Tolvane
