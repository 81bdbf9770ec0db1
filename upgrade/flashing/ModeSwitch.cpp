// Identifying the card and taking it from its firmware into the boot
// downloader. Most steps only trace a failure: a card already in download
// mode does not answer the diagnostic ones, and the parameter request after
// the reopen decides.
#include "upgrade/flashing/ModeSwitch.h"

#include <cstring>
#include <string_view>

#include "platform/Platform.h"
#include "platform/Trace.h"
#include "upgrade/run/CardPort.h"
#include "upgrade/run/RunData.h"
#include "upgrade/backup/NvItems.h"
#include "upgrade/flashing/PhoneType.h"

namespace upgrade {
namespace {

constexpr const char16_t* kSwitch = u"CFWUpgradeDataCDMA7627Module::SwitchToDownload";
constexpr const char16_t* kPhoneType = u"CFWUpgradeDataCDMA7627Module::SelectPhoneType";
// The boot downloader answers a parameter request with its parameters.
constexpr uint8_t kParamsAnswer = 0x08;

constexpr uint16_t kNvQ7kItem = 96;
constexpr size_t kNvItemSize = 128;

// The version text of the answer, at most 30 characters, never past its field.
std::string_view VersionText(const packet::SoftwareVersionRecord& record) {
    const size_t field = sizeof(record.version) - 1;
    const void* end = std::memchr(record.version, 0, field);
    return std::string_view(record.version, end ? static_cast<const char*>(end) - record.version : field);
}

}  // namespace

bool ModeSwitch::SwitchToDownload(CPacket& packet) {
    const int32_t port = packet.PortNumber();
    FW_TRACE(kSwitch, u"Current Port is %d.......", port);
    PrepareCardForSwitch(packet);

    FW_TRACE(kSwitch, u"Function: SwitchDownloader");
    if (!packet.SwitchDownloader()) FW_TRACE(kSwitch, u"Execute SwitchDownloader function fail");
    platform::Sleep(5000);   // the card restarts into the boot downloader

    FW_TRACE(kSwitch, u"Current Port is %d.......", port);
    if (!port_.ReOpenCOMPort(packet)) FW_TRACE(kSwitch, u"Execute ReOpenCOMPort function fail");

    FW_TRACE(kSwitch, u"Current Port is %d.......", port);
    return ConfirmDownloader(packet);
}

// Wakes the port and takes the card offline into factory test mode, which
// the switch to the boot downloader wants; each step is tried, none decides.
void ModeSwitch::PrepareCardForSwitch(CPacket& packet) {
    FW_TRACE(kSwitch, u"Execute InitPort function");
    if (!port_.InitPort(packet)) {
        FW_TRACE(kSwitch, u"Execute InitPort2 function");
        if (!port_.InitPort(packet)) FW_TRACE(kSwitch, u"Execute InitPort2 function fail");
    }
    FW_TRACE(kSwitch, u"Execute TouchPort function");
    if (!packet.TouchPort()) {
        FW_TRACE(kSwitch, u"Execute TouchPort2 function");
        if (!packet.TouchPort()) FW_TRACE(kSwitch, u"Execute TouchPort2 function fail");
    }
    FW_TRACE(kSwitch, u"Execute SendSpc function");
    if (!packet.SendSpc()) FW_TRACE(kSwitch, u"Execute SendSpc function fail");
    platform::Sleep(50);
    FW_TRACE(kSwitch, u"Execute EnterOfflineMode function");
    if (!packet.EnterOfflineMode()) FW_TRACE(kSwitch, u"Execute EnterOfflineMode function fail");
    platform::Sleep(50);

    uint8_t ftm[128] = {};
    ftm[0] = data_.ftmMode;
    uint16_t status = 0;
    (void)packet.NvItemWrite(kNvFtmModeItem, ftm, status);   // the switch that follows shows whether it took
    platform::Sleep(2000);
    platform::Sleep(50);
}

// Whether the card answers as its boot downloader; one still in its
// firmware is asked once more to switch.
bool ModeSwitch::ConfirmDownloader(CPacket& packet) {
    packet::ParamRecord params{};
    FW_TRACE(kSwitch, u"Function: ParamRequest");
    // A card still in its firmware answers the request with an error frame;
    // only the downloader's parameter answer shows that the switch happened.
    if (packet.ParamRequest(params) && params.responseCode == kParamsAnswer) return true;

    FW_TRACE(kSwitch, u"Function: ParamRequest fail");
    platform::Sleep(200);
    if (packet.CommunicateWithMobile()) {
        // Still in its firmware: ask once more for the boot downloader.
        FW_TRACE(kSwitch, u"Function: CommunicateWithMobile");
        if (!packet.SwitchDownloader()) FW_TRACE(kSwitch, u"Function: SwitchDownloader fail");
        platform::Sleep(5000);
        // The card came back on the bus as a new device: the old port is dead.
        (void)port_.InitPort(packet);   // the no-operation below tells whether the card is reached
        FW_TRACE(kSwitch, u"Function: TouchPort fail");
        (void)packet.TouchPort();   // only wakes the port: the no-operation decides
        FW_TRACE(kSwitch, u"Function: DoNoop fail");
        return packet.DoNoop();
    }
    FW_TRACE(kSwitch, u"Function: DoNoop fail");
    if (packet.DoNoop()) return true;
    platform::Sleep(500);
    return false;
}

bool ModeSwitch::SelectPhoneType(CPacket& packet) {
    packet::SoftwareVersionRecord record{};
    bool read = false;
    for (int attempt = 0; attempt < 3 && !read; ++attempt) {
        FW_TRACE(kPhoneType, u"Function: pPacket->GetSoftwareVersion");
        read = packet.GetSoftwareVersion(record);
        if (!read) platform::Sleep(500);
    }
    if (!read) return false;

    const std::string_view version = VersionText(record);
    data_.softwareVersion = std::string(version);
    FW_TRACE(kPhoneType, u"%s", platform::AnsiToWide(std::string(version)).c_str());
    const int markers = CountQ7kMarkers(version);
    for (int i = 0; i < markers; ++i) {
        data_.isQ7 = true;
        FW_TRACE(kPhoneType, u"Execute  bIsQ7 = true;");
    }
    FW_TRACE(kPhoneType, u"Execute  GetSoftwareVersion bResult = true");
    return true;
}

bool ModeSwitch::DealQ7K(CPacket& packet) {
    uint8_t zeros[kNvItemSize] = {};
    for (int attempt = 0; attempt < 10; ++attempt) {
        uint16_t status = 0;
        if (packet.NvItemWrite(kNvQ7kItem, zeros, status)) return true;
        platform::Sleep(200);
    }
    return false;
}

}  // namespace upgrade
