#include "host/fwupgrade/station/RunQueue.h"

#include <algorithm>

namespace fwupgrade::station {

void RunQueue::Add(const std::string& port) {
    if (!taking_ || IsWaiting(port) || running_.count(port) != 0) return;
    waiting_.push_back(port);
}

bool RunQueue::Remove(const std::string& port) {
    const auto at = std::find(waiting_.begin(), waiting_.end(), port);
    if (at == waiting_.end()) return false;
    waiting_.erase(at);
    return true;
}

std::vector<std::string> RunQueue::TakeReady() {
    std::vector<std::string> ready;
    while (taking_ && !waiting_.empty() && running_.size() < maxParallel_) {
        ready.push_back(waiting_.front());
        running_.insert(waiting_.front());
        waiting_.pop_front();
    }
    return ready;
}

void RunQueue::Done(const std::string& port) { running_.erase(port); }

std::vector<std::string> RunQueue::StopTaking() {
    taking_ = false;
    std::vector<std::string> dropped(waiting_.begin(), waiting_.end());
    waiting_.clear();
    return dropped;
}

bool RunQueue::IsWaiting(const std::string& port) const {
    return std::find(waiting_.begin(), waiting_.end(), port) != waiting_.end();
}

}  // namespace fwupgrade::station
