// Opening and probing the card's port, and finding the card again after each
// restart: the port is closed and reopened by the same number until it answers.
#include "upgrade/run/CardPort.h"

#include <algorithm>
#include <string>

#include "platform/Platform.h"
#include "platform/Trace.h"
#include "upgrade/run/RunData.h"
#include "upgrade/run/UpgradeInternal.h"

namespace upgrade {
namespace {

constexpr const char16_t* kRun = u"CFWUpgradeDataCDMA7627Module::FirmWareUpgrade";
constexpr const char16_t* kInitPort = u"CFWUpgradeDataCDMA7627Module::InitPort";
constexpr const char16_t* kReOpen = u"CFWUpgradeDataCDMA7627Module::ReOpenCOMPort";
constexpr const char16_t* kReset = u"CFWUpgradeDataCDMA7627Module::ResetMobileSDP";

constexpr uint16_t kNvItem1943 = 1943;

}  // namespace

bool ReadCardEsn(CPacket& packet, uint32_t& esn) {
    // The ESN names the card's backups: a lost answer is asked again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (packet.GetEsn(esn)) return true;
    }
    return false;
}

void CardPort::CloseForInitPort(CPacket& packet) {
    if (packet.IsOpen()) {
        FW_TRACE(kInitPort, u"Function: pPacket->Close()");
        packet.Close();
    }
    FW_TRACE(kInitPort, u"Function: pPacket->Open");
}

bool CardPort::InitPort(CPacket& packet, int32_t port) {
    CloseForInitPort(packet);
    return packet.Open(port);
}

bool CardPort::InitPort(CPacket& packet) {
    CloseForInitPort(packet);
    return packet.Reopen();
}

// The first open of the card's port, and a first request it must answer.
bool CardPort::OpenCardPort(CPacket& packet, int32_t port) {
    FW_TRACE(kRun, u"Function: InitPort");
    if (!InitPort(packet, port)) {
        FW_TRACE(kRun, u"Function: InitPort2");
        if (!InitPort(packet, port)) return false;
    }
    FW_TRACE(kRun, u"Function: TouchPort");
    if (!packet.TouchPort()) {
        FW_TRACE(kRun, u"Function: TouchPort2");
        if (!packet.TouchPort()) return false;
    }
    return true;
}

bool CardPort::ReOpenCOMPort(CPacket& packet) {
    FW_TRACE(kReOpen, u"Execute ReOpenCOMPort function");
    for (int pass = 0; pass < 5; ++pass) {
        FW_TRACE(kReOpen, u"Execute InitPort function fail");
        if (InitPort(packet)) {
            FW_TRACE(kReOpen, u"Execute TouchPort function fail");
            if (packet.TouchPort()) return true;
        }
        platform::Sleep(500);
    }
    return false;
}

bool CardPort::CheckPhoneInfo(CPacket& packet) {
    bool answered = false;
    for (int attempt = 0; attempt < 10 && !answered; ++attempt) answered = packet.CommunicateWithMobile();
    if (!answered) return false;
    platform::Sleep(1000);
    platform::Sleep(100);
    uint32_t esn = 0;
    if (!packet.GetEsn(esn)) return false;
    platform::Sleep(100);
    uint8_t item[128] = {};
    uint16_t status = 0;
    (void)packet.NvItemRead(kNvItem1943, item, status);   // only asked: its content and outcome are not used
    platform::Sleep(100);
    packet::SoftwareVersionRecord version{};
    if (!packet.GetSoftwareVersion(version)) return false;
    data_.identifiedVersion.assign(version.version, std::find(version.version, version.version + sizeof version.version, '\0'));
    return true;
}

bool CardPort::ResetMobileSDP(CPacket& packet) {
    FW_TRACE(kReset, u"Execute ResetSDP function");
    (void)packet.Reset();   // the card may reset before it answers; the port reopens below
    platform::Sleep(2000);

    auto openTwice = [&]() {
        FW_TRACE(kReset, u"Execute InitPort function");
        if (InitPort(packet)) return true;
        FW_TRACE(kReset, u"Execute InitPort2 function");
        if (InitPort(packet)) return true;
        FW_TRACE(kReset, u"Execute InitPort2 function fail");
        return false;
    };
    openTwice();

    // The card must be identified twice, at least a second apart, before it
    // counts as restarted with its new firmware.
    bool identified = false;
    for (int pass = 0; pass < 20 && !identified; ++pass) {
        openTwice();
        identified = CheckPhoneInfo(packet);
        platform::Sleep(1000);
    }
    if (!identified) return false;

    for (int pass = 0; pass < 60; ++pass) {
        platform::Sleep(1000);
        if (InitPort(packet)) {
            FW_TRACE(kReset, u"Execute CheckPhoneInfo function");
            if (CheckPhoneInfo(packet)) return true;
        }
    }
    return false;
}

}  // namespace upgrade
