#pragma once

// The tune's outline along the rows: the lowest and highest sample of each
// row, over all channels, decoded once when the editor starts.

#include <string>
#include <vector>

namespace Tolvane::Editor {

class Waveform {
public:
    // Decodes the tune (any format the audio decoder reads) at rowRate rows
    // a second. Returns false with the reason in error; the outline is then
    // empty.
    bool load(const std::string& path, double rowRate, std::string& error);

    int rows() const { return int(lows.size()); }
    // Between -1 and 1; 0 for a row outside the tune.
    float low(int row) const { return row >= 0 && row < rows() ? lows[size_t(row)] : 0.0f; }
    float high(int row) const { return row >= 0 && row < rows() ? highs[size_t(row)] : 0.0f; }

private:
    std::vector<float> lows;
    std::vector<float> highs;
};

} // namespace Tolvane::Editor
