// The order the cards' runs start in: the cards in the order they appeared,
// at most `maxParallel` of them running at once; the others wait.
#pragma once

#include <deque>
#include <set>
#include <string>
#include <vector>

namespace fwupgrade::station {

class RunQueue {
public:
    explicit RunQueue(size_t maxParallel) : maxParallel_(maxParallel == 0 ? 1 : maxParallel) {}

    void Add(const std::string& port);
    // Takes a waiting card out; false when it is not waiting.
    bool Remove(const std::string& port);
    // The cards to start now; they count as running from here.
    std::vector<std::string> TakeReady();
    void Done(const std::string& port);
    // No card starts any more (the first Ctrl-C); the waiting ones are dropped.
    std::vector<std::string> StopTaking();

    bool Taking() const { return taking_; }
    bool IsWaiting(const std::string& port) const;
    size_t RunningCount() const { return running_.size(); }
    size_t WaitingCount() const { return waiting_.size(); }

private:
    size_t maxParallel_;
    bool taking_ = true;
    std::deque<std::string> waiting_;
    std::set<std::string> running_;
};

}  // namespace fwupgrade::station
