// One upgrade run: the package check, the switch through the boot downloader
// to the flash programmer, the partition table and images, and, when the
// layout was replaced or the card is a Q7k variant, the reset and write-back.
#include <cstring>

#include "platform/Platform.h"
#include "platform/Trace.h"
#include "upgrade/FWUpgradeDataCDMAW326Module.h"

namespace upgrade {
namespace {

constexpr const char16_t* kRun = u"CFWUpgradeDataCDMA7627Module::FirmWareUpgrade";

constexpr uint16_t kNvFtmModeItem = 453;   // NV_FTM_MODE_I
constexpr uint16_t kNv22Item = 22;
constexpr uint16_t kNvQ7kItem = 96;
constexpr size_t kNvItemSize = 128;
constexpr size_t kNv22SaveSize = 50;
constexpr size_t kNv22KeptBytes = 22;

// Progress anchors of the image writes.
constexpr int DLQSBL = 13;
constexpr int DLOEM = 14;
constexpr int DLAMSS = 25;
constexpr int DLAPPSBOOT = 26;
constexpr int DLBOOTIMG = 28;
constexpr int DLSYSTEMIMG = 90;
constexpr int DLUSERDATA = 94;
constexpr int DLSPLASH = 95;
constexpr int DLRECOVERY = 96;
constexpr int DLCEFS = 97;

}  // namespace

void UpgradeModule::DealError(std::unique_ptr<CPacket>& packet) {
    FW_TRACE(u"CFWUpgradeDataCDMA7627Module::DealError", u"Function: DealError");
    if (packet) {
        if (packet->IsOpen()) packet->Close();
        packet.reset();
    }
}

bool UpgradeModule::DealQ7K(CPacket& packet) {
    uint8_t zeros[kNvItemSize] = {};
    for (int attempt = 0; attempt < 10; ++attempt) {
        uint16_t status = 0;
        if (packet.NvItemWrite(kNvQ7kItem, zeros, status)) return true;
        platform::Sleep(200);
    }
    return false;
}

int32_t UpgradeModule::FirmWareUpgrade(int32_t port, const std::u16string& packageFolder) {
    FW_TRACE(kRun, u"*****************FWUpgrade_DataCard_CDMA_W326.dll by qrix V1.00.01 20120112********************");
    ShowRatio(0);
    FW_TRACE(kRun, u"Function: ShowRatio 0");

    std::unique_ptr<CPacket> packet = std::make_unique<CPacket>();
    bFullDownload = 0;
    m_Backup = BackupPhaseState{};
    FW_TRACE(kRun, u"Current Port is %d.......", port);
    ShowRatio(1);
    FW_TRACE(kRun, u"Function: ShowRatio 1");

    auto fail = [&]() {
        DealError(packet);
        return kUpgradeFailed;
    };

    FW_TRACE(kRun, u"Function: Initialize");
    if (!Initialize(packageFolder)) {
        packet.reset();
        return kPackageRejected;
    }

    FW_TRACE(kRun, u"Function: InitPort");
    if (!InitPort(*packet, port)) {
        FW_TRACE(kRun, u"Function: InitPort2");
        if (!InitPort(*packet, port)) return fail();
    }
    FW_TRACE(kRun, u"Function: TouchPort");
    if (!packet->TouchPort()) {
        FW_TRACE(kRun, u"Function: TouchPort2");
        if (!packet->TouchPort()) return fail();
    }

    ShowRatio(3);
    FW_TRACE(kRun, u"Function: ShowRatio 3");
    uint8_t nv22[kNvItemSize] = {};

    FW_TRACE(kRun, u"Function: SelectArmprgAccordingToPidVid");
    if (!SelectArmprgAccordingToPidVid(packageFolder)) return fail();

    bIsQ7 = 0;
    FW_TRACE(kRun, u"Execute SelectPhoneType function");
    if (!SelectPhoneType(*packet)) FW_TRACE(kRun, u"Execute SelectPhoneType function fail");
    if (bIsQ7) {
        FW_TRACE(kRun, u"Execute DealQ7K function");
        if (!DealQ7K(*packet)) FW_TRACE(kRun, u"Execute DealQ7K function fail");
        bFullDownload = 1;
    }

    m_bNv22Read = 0;
    uint8_t ftm[kNvItemSize] = {};
    uint8_t nv22Save[kNv22SaveSize] = {};
    for (int attempt = 0; attempt < 5 && !m_bNv22Read; ++attempt) {
        uint16_t status = 0;
        FW_TRACE(kRun, u"Function: pPacket->NvItemRead(NV_FTM_MODE_I,item_ftm, sta)");
        if (!packet->NvItemRead(kNvFtmModeItem, ftm, status)) continue;
        m_byFtmMode = ftm[0];
        if (!packet->NvItemRead(kNv22Item, nv22, status)) {
            packet->TouchPort();
            continue;
        }
        FW_TRACE(kRun, u"Function: pPacket->NvItemRead(22, item_data, status)");
        std::memcpy(nv22Save, nv22, kNv22KeptBytes);
        m_bNv22Read = 1;
    }
    if (!m_bNv22Read) return fail();

    platform::Sleep(1000);

    if (!RunBackupPhase(*packet, packageFolder)) return fail();

    ShowRatio(6);
    FW_TRACE(kRun, u"Function: SwitchToDownload");
    if (!SwitchToDownload(*packet, port)) return fail();

    ShowRatio(7);
    FW_TRACE(kRun, u"Function: DownloadArmPrg");
    if (!DownloadArmPrg(*packet)) return fail();

    ShowRatio(8);
    FW_TRACE(kRun, u"Function: ShowRatio 8");
    platform::Sleep(2000);

    FW_TRACE(kRun, u"Function: GoToFlashPrg");
    if (!GoToFlashPrg(*packet, port)) return fail();
    ShowRatio(10);
    FW_TRACE(kRun, u"Function: ShowRatio 10");

    if (!packet->SecurityMode()) return fail();

    packet->SetPartitionOverride(false);
    FW_TRACE(kRun, u"Function: DownloadPartitionTable");
    bool tableWritten = DownloadPartitionTable(*packet);
    if (!tableWritten && packet->PartitionOverride()) {
        FW_TRACE(kRun, u"Function: DownloadPartitionTable");
        bFullDownload = 1;
        tableWritten = DownloadPartitionTable(*packet);
    }
    if (!tableWritten) return fail();
    // A table accepted only with the override byte is a new partition layout,
    // however it got through: the file system image and the write-back follow.
    if (packet->PartitionOverride()) bFullDownload = 1;

    const DownloadFileList& files = m_DownloadFileList;
    FW_TRACE(kRun, u"Function: DownloadSecondbootloaderheader(pPacket)");
    if (!DownloadSecondbootloaderheader(*packet)) return fail();
    FW_TRACE(kRun, u"Function: DownloadSecondbootloader(pPacket)");
    if (!DownloadSecondbootloader(*packet)) return fail();
    FW_TRACE(kRun,
             u"Function: WindowsDownloadwithHeaderHS(pPacket, m_DownloadFileList.strOemsblhdFilePath, "
             u"m_DownloadFileList.strOemsblFilePath,0x04, DLQSBL, DLOEM)");
    if (!WindowsDownloadwithHeaderHS(*packet, files.strOemsblhdFilePath, files.strOemsblFilePath, 0x04, DLQSBL, DLOEM))
        return fail();
    FW_TRACE(kRun,
             u"Function: WindowsDownloadwithHeaderHS(pPacket, m_DownloadFileList.strAmsshdFilePath, "
             u"m_DownloadFileList.strAmssFilePath, 0x05, DLOEM, DLAMSS)");
    if (!WindowsDownloadwithHeaderHS(*packet, files.strAmsshdFilePath, files.strAmssFilePath, 0x05, DLOEM, DLAMSS))
        return fail();
    FW_TRACE(kRun, u"Function: DownloadAppsbootloader(pPacket)");
    if (!DownloadAppsbootloader(*packet)) return fail();
    FW_TRACE(kRun,
             u"Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strBootFilePath, 0x14, DLAPPSBOOT, DLBOOTIMG)");
    if (!WindowsDownloadHS(*packet, files.strBootFilePath, 0x14, DLAPPSBOOT, DLBOOTIMG)) return fail();
    FW_TRACE(kRun,
             u"Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strSystemPath, 0x15, DLBOOTIMG, DLSYSTEMIMG)");
    if (!WindowsDownloadHS(*packet, files.strSystemPath, 0x15, DLBOOTIMG, DLSYSTEMIMG)) return fail();
    if (m_bHasUserdata) {
        FW_TRACE(kRun, u"Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strUserdataFilePath, 0x16, "
                       u"DLSYSTEMIMG, DLUSERDATA)");
        if (!WindowsDownloadHS(*packet, files.strUserdataFilePath, 0x16, DLSYSTEMIMG, DLUSERDATA)) return fail();
    } else {
        FW_TRACE(kRun, u"Function: EraseSector userdata.img");
        if (!EraseSector(*packet, "userdata.img")) return fail();
    }
    FW_TRACE(kRun, u"Function: EraseSector misc.img");
    if (!EraseSector(*packet, "misc.img")) return fail();
    FW_TRACE(kRun, u"Function: EraseSector cache.img");
    if (!EraseSector(*packet, "cache.img")) return fail();
    if (m_bHasSplash) {
        FW_TRACE(kRun, u"Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strSplashFilePath, 0x18, "
                       u"DLUSERDATA, DLSPLASH)");
        if (!WindowsDownloadHS(*packet, files.strSplashFilePath, 0x18, DLUSERDATA, DLSPLASH)) return fail();
    }
    FW_TRACE(kRun, u"Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strRecoveryFilePath, 0x17, DLSPLASH, "
                   u"DLRECOVERY)");
    if (!WindowsDownloadHS(*packet, files.strRecoveryFilePath, 0x17, DLSPLASH, DLRECOVERY)) return fail();

    if (bFullDownload) {
        FW_TRACE(kRun, u"Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strCefs_appsFilePath, 0x09, "
                       u"DLRECOVERY, DLCEFS)");
        if (!WindowsDownloadHS(*packet, files.strCefsFilePath, 0x09, DLRECOVERY, DLCEFS)) return fail();
        ShowRatio(98);
        FW_TRACE(kRun, u"Function: ShowRatio 98");
        FW_TRACE(kRun, u"Function: ResetMobileSDP");
        if (!ResetMobileSDP(*packet, port)) return fail();
        ShowRatio(99);
        FW_TRACE(kRun, u"Function: ShowRatio 99");

        if (!m_bNv22Read) return fail();
        for (int attempt = 0; attempt < 3; ++attempt) {
            std::memcpy(nv22, nv22Save, kNv22SaveSize);
            FW_TRACE(kRun, u"Function: NvItemWrite(22, item_data, status)");
            uint16_t status = 0;
            if (packet->NvItemWrite(kNv22Item, nv22, status)) break;
            platform::Sleep(200);
        }

        if (!RunRestorePhase(*packet)) return fail();
    }

    ShowRatio(100);
    FW_TRACE(kRun, u"Function: ShowRatio 100");
    DealError(packet);
    FW_TRACE(kRun, u"HOLFunctonSuccess--------W326-----------------------------------");
    return kUpgradeOk;
}

}  // namespace upgrade
