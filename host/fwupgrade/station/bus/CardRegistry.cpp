#include "host/fwupgrade/station/bus/CardRegistry.h"

namespace fwupgrade::station {

CardNeed NeedOf(packet::UsbIdentity identity) {
    if (identity == packet::kCardFirmwareIdentity) return CardNeed::Upgrade;
    if (identity == packet::kCardBootDownloaderIdentity || identity == packet::kCardProgrammerIdentity)
        return CardNeed::Rescue;
    return CardNeed::NotSupported;
}

Arrival CardRegistry::Appeared(const std::string& port, packet::UsbIdentity identity) {
    const auto known = ports_.find(port);
    if (known != ports_.end()) {
        known->second.present = true;
        const PortState state = known->second.state;
        return state == PortState::Running || state == PortState::Queued ? Arrival::SameRun : Arrival::AlreadyKnown;
    }
    const CardNeed need = NeedOf(identity);
    if (need == CardNeed::NotSupported) {
        ports_[port] = Entry{PortState::Ignored, need};
        return Arrival::NotSupported;
    }
    ports_[port] = Entry{PortState::Queued, need};
    return Arrival::NewCard;
}

bool CardRegistry::Left(const std::string& port) {
    const auto known = ports_.find(port);
    if (known == ports_.end()) return false;
    if (known->second.state == PortState::Running) {
        known->second.present = false;
        return false;
    }
    // A queued card that leaves is taken out of the queue by the scheduler.
    ports_.erase(known);
    return true;
}

void CardRegistry::Started(const std::string& port) { ports_[port].state = PortState::Running; }

bool CardRegistry::Finished(const std::string& port) {
    const auto known = ports_.find(port);
    if (known == ports_.end()) return true;
    if (!known->second.present) {
        ports_.erase(known);
        return true;
    }
    known->second.state = PortState::Finished;
    return false;
}

PortState CardRegistry::StateOf(const std::string& port) const {
    const auto known = ports_.find(port);
    return known == ports_.end() ? PortState::Ignored : known->second.state;
}

CardNeed CardRegistry::NeedAt(const std::string& port) const {
    const auto known = ports_.find(port);
    return known == ports_.end() ? CardNeed::NotSupported : known->second.need;
}

}  // namespace fwupgrade::station
