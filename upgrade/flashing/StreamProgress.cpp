#include "upgrade/flashing/StreamProgress.h"

namespace upgrade {

StreamProgress::StreamProgress(int fromPercent, int toPercent, uint32_t blockCount)
    : from_(fromPercent), to_(toPercent), range_(toPercent - fromPercent), blocks_(blockCount) {
    if (blocks_ != 0) {
        a_ = int((int64_t(3) * range_ / 10) / int64_t(blocks_));
        b_ = int((int64_t(7) * range_ / 10) / int64_t(blocks_));
    }
}

int StreamProgress::BlockStart(uint32_t block) const {
    if (blocks_ == 0) return from_;
    const int share = int((int64_t(block) * range_) / int64_t(blocks_));
    return from_ + share + (a_ == 0 ? 1 : a_);
}

int StreamProgress::NextAckLow(int& current) const {
    int low = current - 1;
    if (b_ > 0) {
        low = current;
        current += b_;
    }
    return low < to_ ? low : to_ - 1;
}

}  // namespace upgrade
