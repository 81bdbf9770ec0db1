// Progress percentages reported while one image streams: the image owns the
// range [from, to] and each raw block its share of it.
#pragma once

#include <cstdint>

namespace upgrade {

class StreamProgress {
public:
    StreamProgress(int fromPercent, int toPercent, uint32_t blockCount);

    // Starting value of block i, before its first send.
    int BlockStart(uint32_t block) const;
    // The low value handed to one acknowledgement wait of a block whose
    // running value is current; advances current for the next resend. A
    // block resent many times never reports beyond the image's own range.
    int NextAckLow(int& current) const;
    // What an acknowledgement with this low value reports.
    static int AckReport(int low) { return low + 1; }

    int StepA() const { return a_; }
    int StepB() const { return b_; }

private:
    int from_;
    int to_;
    int range_;
    uint32_t blocks_;
    int a_ = 0;
    int b_ = 0;
};

}  // namespace upgrade
