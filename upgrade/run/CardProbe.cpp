// Finding which state a card is in from the answers it gives.
#include "upgrade/run/CardProbe.h"

#include <vector>

#include "packet/Codec.h"
#include "platform/Trace.h"
#include "upgrade/flashing/StreamFormat.h"
#include "upgrade/run/CardPort.h"
#include "upgrade/run/RunData.h"
#include "upgrade/run/RunReporter.h"
#include "upgrade/run/UpgradeInternal.h"

namespace upgrade {
namespace {

constexpr const char16_t* kProbe = u"CFWUpgradeDataCDMA7627Module::ProbeCardState";

constexpr uint8_t kHelloAnswer = 0x02;
// A programmer killed in the middle of a raw data block still counts bytes
// towards it and answers nothing until the block is complete. Flag bytes
// complete it (its checksum fails, so nothing is kept), and a flag that
// arrives between blocks ends the raw transfer.
constexpr uint32_t kRawFlushBytes = kRawBlockFrameSize + 64;

}  // namespace

const char* CardStateText(CardState state) {
    switch (state) {
        case CardState::Absent: return "not on its port";
        case CardState::Silent: return "on its port but not answering";
        case CardState::Firmware: return "in its firmware";
        case CardState::BootDownloader: return "in its boot downloader";
        case CardState::FlashProgrammer: return "in the flash programmer";
    }
    return "unknown";
}

CardState CardProbe::ProbeCardState(CPacket& packet, int32_t port) {
    FW_TRACE(kProbe, u"Probe the state of the card on port %d", port);
    if (!port_.InitPort(packet, port) && !port_.InitPort(packet, port)) {
        data_.lastCardState = CardState::Absent;
    } else {
        data_.lastCardState = StateFromAnswers(packet);
        if (data_.lastCardState == CardState::Silent) {
            FW_TRACE(kProbe, u"No answer: complete a raw data block the card may still wait for");
            const std::vector<uint8_t> flags(kRawFlushBytes, packet::codec::kFlag);
            packet.Purge(platform::kPurgeAll);
            packet.Write(flags.data(), static_cast<uint32_t>(flags.size()));
            platform::Sleep(500);
            packet.Purge(platform::kPurgeAll);
            // Only the programmer waits in a raw block: its hello is the one probe left.
            if (packet.Hello() && packet.Response().code() == kHelloAnswer) data_.lastCardState = CardState::FlashProgrammer;
        }
    }
    FW_TRACE(kProbe, u"The card is %s", platform::Utf8ToWide(CardStateText(data_.lastCardState)).c_str());
    reporter_.NoteCardState(data_.lastCardState);
    return data_.lastCardState;
}

CardState CardProbe::StateFromAnswers(CPacket& packet) {
    if (packet.DoNoop()) return CardState::BootDownloader;
    if (packet.Hello() && packet.Response().code() == kHelloAnswer) return CardState::FlashProgrammer;
    if (packet.CommunicateWithMobile() && ReadCardEsn(packet, data_.cardEsn)) return CardState::Firmware;
    return CardState::Silent;
}

}  // namespace upgrade
