#include "Waveform.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace Tolvane::Editor {

bool Waveform::load(const std::string& path, double rowRate, std::string& error) {
    lows.clear();
    highs.clear();
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        error = path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels <= 0 || info.samplerate <= 0 || !(rowRate > 0.0)) {
        sf_close(file);
        error = path + ": no samples";
        return false;
    }
    double framesPerRow = info.samplerate / rowRate;
    size_t rowCount = size_t(std::ceil(double(info.frames) / framesPerRow));
    if (rowCount == 0) {
        sf_close(file);
        error = path + ": no samples";
        return false;
    }
    lows.assign(rowCount, 0.0f);
    highs.assign(rowCount, 0.0f);

    std::vector<float> buffer(size_t(4096) * size_t(info.channels));
    int64_t frame = 0;
    for (;;) {
        sf_count_t got = sf_readf_float(file, buffer.data(), 4096);
        if (got <= 0)
            break;
        for (sf_count_t f = 0; f < got; ++f, ++frame) {
            size_t row = std::min(size_t(double(frame) / framesPerRow), rowCount - 1);
            for (int c = 0; c < info.channels; ++c) {
                float v = buffer[size_t(f) * size_t(info.channels) + size_t(c)];
                lows[row] = std::min(lows[row], v);
                highs[row] = std::max(highs[row], v);
            }
        }
    }
    sf_close(file);
    return true;
}

} // namespace Tolvane::Editor
