#include "sim/frontends/InProcessPort.h"

#include <algorithm>
#include <cctype>

namespace sim {
namespace {

class InProcessPort : public platform::ComPort {
public:
    InProcessPort(std::shared_ptr<Card> card, std::shared_ptr<uint32_t> openGeneration)
        : card_(std::move(card)), openGeneration_(std::move(openGeneration)), generation_(card_->Generation()) {
        *openGeneration_ = generation_;
    }
    ~InProcessPort() override {
        if (*openGeneration_ == generation_) *openGeneration_ = 0;
    }

    bool SetLine(const platform::LineSettings& settings) override {
        settings_ = settings;
        return Alive();
    }
    bool IsVirtualCard() const override { return true; }
    bool SetupComm(uint32_t, uint32_t) override { return Alive(); }
    bool SetCommMask(uint32_t) override { return Alive(); }
    bool SetCommTimeouts(const platform::PortTimeouts&) override { return Alive(); }
    bool PurgeComm(uint32_t flags) override {
        if (!Alive()) return false;
        if (flags & platform::kPurgeRxClear) {
            uint8_t scratch[4096];
            while (card_->Read(scratch, sizeof scratch) != 0) {
            }
        }
        return true;
    }
    uint32_t QueuedInput() override { return Alive() ? static_cast<uint32_t>(card_->Available()) : 0; }
    uint32_t Read(uint8_t* buffer, uint32_t count) override {
        if (!Alive()) return 0;
        return static_cast<uint32_t>(card_->Read(buffer, count));
    }
    uint32_t Write(const uint8_t* data, uint32_t count) override {
        if (!Alive()) return 0;
        card_->Receive(std::span<const uint8_t>(data, count));
        return count;
    }

private:
    bool Alive() { return card_->Generation() == generation_ && card_->Present(); }

    std::shared_ptr<Card> card_;
    std::shared_ptr<uint32_t> openGeneration_;
    uint32_t generation_;
    platform::LineSettings settings_{115200, 8, 'n', 1};
};

}  // namespace

std::shared_ptr<Card> MakeCard(CardData data, CardTiming timing, FaultPlan faults) {
    return std::make_shared<Card>(std::move(data), timing, std::move(faults));
}

void InProcessPortOpener::Attach(int32_t portNumber, std::shared_ptr<Card> card) {
    slots_[portNumber] = Slot{std::move(card)};
}

void InProcessPortOpener::Detach(int32_t portNumber) { slots_.erase(portNumber); }

std::shared_ptr<Card> InProcessPortOpener::CardAt(int32_t portNumber) const {
    auto slot = slots_.find(portNumber);
    return slot == slots_.end() ? nullptr : slot->second.card;
}

std::unique_ptr<platform::ComPort> InProcessPortOpener::Open(const std::u16string&, int32_t portNumber) {
    ++openAttempts_;
    auto slot = slots_.find(portNumber);
    if (slot == slots_.end() || !slot->second.card->Present() ||
        *slot->second.openGeneration == slot->second.card->Generation()) {
        ++openFailures_;
        return nullptr;
    }
    return std::make_unique<InProcessPort>(slot->second.card, slot->second.openGeneration);
}

}  // namespace sim
