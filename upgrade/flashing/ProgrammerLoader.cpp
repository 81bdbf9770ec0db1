// Copying the flash programmer into the card's RAM through the boot
// downloader, starting it and greeting it on the reopened port.
#include "upgrade/flashing/ProgrammerLoader.h"

#include <vector>

#include "platform/Platform.h"
#include "platform/Trace.h"
#include "upgrade/flashing/ImageSet.h"
#include "upgrade/run/CardPort.h"

namespace upgrade {
namespace {

constexpr const char16_t* kDownload = u"CFWUpgradeDataCDMA7627Module::DownloadArmPrg";
constexpr const char16_t* kGo = u"CFWUpgradeDataCDMA7627Module::GoToFlashPrg";

constexpr uint32_t kLoadAddress = 0x00500000;
// Largest data of one write, so that its request body stays within 1024 bytes.
constexpr uint32_t kWriteBlock = 1017;

}  // namespace

bool ProgrammerLoader::DownloadArmPrg(CPacket& packet) {
    platform::File file;
    if (images_.ArmprgPath().empty() || !file.OpenRead(images_.ArmprgPath())) {
        FW_TRACE(kDownload, u"Execute hReadFile.Open function fail");
        return false;
    }
    const uint32_t length = static_cast<uint32_t>(file.Length());
    std::vector<uint8_t> block(kWriteBlock);
    uint32_t offset = 0;
    bool last = false;
    while (!last) {
        const uint32_t remaining = length - offset;
        const uint32_t count = remaining > kWriteBlock ? kWriteBlock : remaining;
        last = remaining <= kWriteBlock;
        if (count != 0 && (!file.Seek(offset) || file.Read(block.data(), count) != count)) {
            FW_TRACE(kDownload, u"Execute hReadFile.Read function fail");
            return false;
        }
        if (!packet.Write32(block.data(), kLoadAddress + offset, static_cast<uint16_t>(count))) return false;
        offset += count;
    }
    return true;
}

bool ProgrammerLoader::GoToFlashPrg(CPacket& packet) {
    FW_TRACE(kGo, u"Current Port is %d.......", packet.PortNumber());
    FW_TRACE(kGo, u"Execute pPacket->Go function");
    if (!packet.Go()) FW_TRACE(kGo, u"Execute pPacket->Go function fail");
    platform::Sleep(5000);   // the card leaves the boot downloader; the programmer opens the port again
    if (!port_.ReOpenCOMPort(packet)) FW_TRACE(kGo, u"Execute ReOpenCOMPort function fail");

    FW_TRACE(kGo, u"Current Port is %d.......", packet.PortNumber());
    FW_TRACE(kGo, u"Execute pPacket->Hello function");
    bool greeted = packet.Hello();
    if (!greeted) {
        platform::Sleep(2000);
        FW_TRACE(kGo, u"Execute pPacket->DoNoop function");
        if (packet.DoNoop()) {
            // The boot downloader still runs: start the programmer once more.
            FW_TRACE(kGo, u"Execute pPacket->Go2 function");
            if (!packet.Go()) FW_TRACE(kGo, u"Execute pPacket->Go2 function fail");
            platform::Sleep(5000);
            // The programmer opens the port anew: the old one is dead.
            (void)port_.InitPort(packet);   // the hello below tells whether the programmer is reached
            FW_TRACE(kGo, u"Execute pPacket->TouchPort function");
            (void)packet.TouchPort();   // only wakes the port: Hello decides
            FW_TRACE(kGo, u"Execute pPacket->Hello function");
            if (!packet.Hello()) return false;
        } else {
            FW_TRACE(kGo, u"Execute pPacket->Hello function");
            if (!packet.Hello()) {
                platform::Sleep(500);
                return false;
            }
        }
    }
    FW_TRACE(kGo, u"Execute pPacket->Nop function");
    return packet.Nop();
}

}  // namespace upgrade
