// One upgrade run, in its phases: preparation and identification, backup,
// mode switch and programmer, flashing, and, when the layout was replaced or
// the card is a Q7k variant, the reset and restore. Each phase takes the
// run's state explicitly, so another entry point can compose them.
#include <cstring>

#include "platform/Platform.h"
#include "platform/Trace.h"
#include "upgrade/run/UpgradeModule.h"
#include "upgrade/backup/NvItems.h"

namespace upgrade {
namespace {

constexpr const char16_t* kRun = u"CFWUpgradeDataCDMA7627Module::FirmWareUpgrade";
constexpr const char16_t* kRescue = u"CFWUpgradeDataCDMA7627Module::RescueCard";

constexpr uint16_t kNvQ7kItem = 96;
constexpr size_t kNvItemSize = 128;
constexpr size_t kNv22SaveSize = 50;

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

// The first open of the card's port, and a first request it must answer.
bool UpgradeModule::OpenCardPort(CPacket& packet, int32_t port) {
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

// The card's factory test mode, which the switch restores, and its item 22,
// which goes back after the reset: up to five tries.
bool UpgradeModule::ReadFtmModeAndNv22(UpgradeRun& run) {
    CPacket& packet = *run.packet;
    m_bNv22Read = 0;
    uint8_t ftm[kNvItemSize] = {};
    for (int attempt = 0; attempt < 5 && !m_bNv22Read; ++attempt) {
        uint16_t status = 0;
        FW_TRACE(kRun, u"Function: pPacket->NvItemRead(NV_FTM_MODE_I,item_ftm, sta)");
        if (!packet.NvItemRead(kNvFtmModeItem, ftm, status)) continue;
        m_byFtmMode = ftm[0];
        if (!packet.NvItemRead(kNv22Item, run.nv22, status)) {
            (void)packet.TouchPort();   // only wakes the port before the next try
            continue;
        }
        FW_TRACE(kRun, u"Function: pPacket->NvItemRead(22, item_data, status)");
        std::memset(run.nv22Save, 0, sizeof run.nv22Save);
        std::memcpy(run.nv22Save, run.nv22, kNv22KeptBytes);
        m_bNv22Read = 1;
    }
    return m_bNv22Read != 0;
}

int32_t UpgradeModule::PrepareAndIdentify(UpgradeRun& run) {
    CPacket& packet = *run.packet;
    FW_TRACE(kRun, u"Current Port is %d.......", run.port);
    ShowRatio(1);
    FW_TRACE(kRun, u"Function: ShowRatio 1");

    FW_TRACE(kRun, u"Function: Initialize");
    if (!Initialize(run.packageFolder)) return kPackageRejected;

    if (!OpenCardPort(packet, run.port)) {
        NoteCardFailure(&packet);
        return kUpgradeFailed;
    }
    NoteCardState(CardState::Firmware);

    ShowRatio(3);
    FW_TRACE(kRun, u"Function: ShowRatio 3");
    std::memset(run.nv22, 0, sizeof run.nv22);

    FW_TRACE(kRun, u"Function: SelectArmprgAccordingToPidVid");
    if (!SelectArmprgAccordingToPidVid(run.packageFolder)) {
        NoteFailure(FailureReason::Package);
        return kUpgradeFailed;
    }

    bIsQ7 = 0;
    FW_TRACE(kRun, u"Execute SelectPhoneType function");
    if (!SelectPhoneType(packet)) {
        // Without the version the run cannot tell a Q7k card, which must get
        // cefs.mbn and its data written back, from any other.
        FW_TRACE(kRun, u"Execute SelectPhoneType function fail");
        NoteCardFailure(&packet);
        return kUpgradeFailed;
    }
    if (bIsQ7) {
        FW_TRACE(kRun, u"Execute DealQ7K function");
        if (!DealQ7K(packet)) FW_TRACE(kRun, u"Execute DealQ7K function fail");
        bFullDownload = 1;
    }

    if (!ReadFtmModeAndNv22(run)) {
        NoteCardFailure(&packet);
        return kUpgradeFailed;
    }

    platform::Sleep(1000);
    return kUpgradeOk;
}

bool UpgradeModule::SwitchAndStartProgrammer(UpgradeRun& run) {
    // Written before anything is sent that takes the card out of its
    // firmware; a record that cannot say so stops the run while the card
    // is still unchanged.
    m_Record.leftFirmware = true;
    if (!SaveRecord()) {
        NoteFailure(FailureReason::FileSystem);
        return false;
    }

    return StartProgrammer(run, CardState::Firmware);
}

// An upgrade's trace names each progress anchor it passes; a card found
// outside its firmware is traced as the rescue it is.
bool UpgradeModule::StartProgrammer(UpgradeRun& run, CardState from) {
    const bool fromFirmware = from == CardState::Firmware;
    const char16_t* trace = fromFirmware ? kRun : kRescue;
    CPacket& packet = *run.packet;
    ShowRatio(6);
    if (fromFirmware) {
        FW_TRACE(kRun, u"Function: SwitchToDownload");
        if (!SwitchToDownload(packet)) return false;
        NoteCardState(CardState::BootDownloader);
    }
    if (from == CardState::FlashProgrammer) {
        if (!packet.Nop()) return false;
    } else {
        ShowRatio(7);
        FW_TRACE(trace, u"Function: DownloadArmPrg");
        if (!DownloadArmPrg(packet)) return false;
        ShowRatio(8);
        if (fromFirmware) FW_TRACE(kRun, u"Function: ShowRatio 8");
        platform::Sleep(2000);
        FW_TRACE(trace, u"Function: GoToFlashPrg");
        if (!GoToFlashPrg(packet)) return false;
    }
    NoteCardState(CardState::FlashProgrammer);
    ShowRatio(10);
    if (fromFirmware) FW_TRACE(kRun, u"Function: ShowRatio 10");
    return true;
}

bool UpgradeModule::ResetAndRestore(UpgradeRun& run) {
    CPacket& packet = *run.packet;
    if (!EnterStep(RunStep::Reset)) return false;
    ShowRatio(98);
    FW_TRACE(kRun, u"Function: ShowRatio 98");
    FW_TRACE(kRun, u"Function: ResetMobileSDP");
    if (!ResetMobileSDP(packet)) return false;
    NoteCardState(CardState::Firmware);
    if (!EnterStep(RunStep::Restore)) return false;
    ShowRatio(99);
    FW_TRACE(kRun, u"Function: ShowRatio 99");
    m_Record.versionAfter = m_strIdentifiedVersion;
    if (!run.plan.RestoresData()) {
        FW_TRACE(kRun, u"Nothing is restored: the rescue was asked to go without the card's data");
        return true;
    }

    if (!m_bNv22Read) return false;
    if (run.plan.WritesEveryImage() && m_LastCardState != CardState::Firmware && !RestoresOntoTheRightCard(packet))
        return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::memcpy(run.nv22, run.nv22Save, kNv22SaveSize);
        FW_TRACE(kRun, u"Function: NvItemWrite(22, item_data, status)");
        uint16_t status = 0;
        if (packet.NvItemWrite(kNv22Item, run.nv22, status)) break;
        platform::Sleep(200);
    }
    return RestoreAndReport(packet);
}

int32_t UpgradeModule::FirmWareUpgrade(int32_t port, const std::u16string& packageFolder) {
    StartEvents();
    const int32_t result = UpgradeSteps(RunPlan::Upgrade(), port, packageFolder);
    ReportOutcome(result, packageFolder);
    return result;
}

int32_t UpgradeModule::UpgradeSteps(const RunPlan& plan, int32_t port, const std::u16string& packageFolder) {
    if (!EnterStep(RunStep::Prepare)) return kUpgradeFailed;
    FW_TRACE(kRun, u"*****************FWUpgrade_DataCard_CDMA_W326.dll by qrix V1.00.01 20120112********************");
    ShowRatio(0);
    FW_TRACE(kRun, u"Function: ShowRatio 0");

    UpgradeRun run;
    run.plan = plan;
    run.port = port;
    run.packageFolder = packageFolder;
    run.packet = std::make_unique<CPacket>();
    bFullDownload = 0;
    ClearRunState();

    const int32_t prepared = PrepareAndIdentify(run);
    if (prepared == kPackageRejected) {
        run.packet.reset();
        return kPackageRejected;
    }
    auto fail = [&]() {
        NoteCardFailure(run.packet.get());
        DealError(run.packet);
        return kUpgradeFailed;
    };
    if (prepared != kUpgradeOk) return plan.MayFinishInterruptedRun() ? FinishInterruptedRun(run) : fail();

    if (!EnterStep(RunStep::Backup) || !RunBackupPhase(*run.packet, packageFolder, plan)) return fail();
    // Without item 22 in the pending backup, the item the card holds now goes back.
    if (m_bRestoringPending) (void)LoadNv22FromBackup(run);
    if (plan.WritesEveryImage() && !bFullDownload) {
        // A rescue writes every image with cefs and restores the data saved.
        bFullDownload = 1;
        RecordFullDownload(FullDownloadReason::Rescue);
    }
    if (!EnterStep(RunStep::Switch) || !SwitchAndStartProgrammer(run)) return fail();
    if (!EnterStep(RunStep::Images) || !FlashImages(run)) return fail();
    if (bFullDownload && !ResetAndRestore(run)) return fail();

    ShowRatio(100);
    FW_TRACE(kRun, u"Function: ShowRatio 100");
    DealError(run.packet);
    FW_TRACE(kRun, u"HOLFunctonSuccess--------W326-----------------------------------");
    return kUpgradeOk;
}

void UpgradeModule::ClearRunState() {
    m_Backup = BackupPhaseState{};
    m_NvRestore = NvRestoreOutcome{};
    m_LockRestore.clear();
    m_strSoftwareVersion.clear();
    m_strLockBackupPath = LockBackupFileName();
    m_strRecordPath.clear();
    m_Record = BackupRecord{};
    m_bRecordActive = false;
    m_bRestoringPending = false;
    m_strKeptBackup.clear();
}

}  // namespace upgrade
