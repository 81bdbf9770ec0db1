// A run stopped at some point, and what a user does next: the card, which
// outlives the host, is taken up in the state it was in, and the retry (a
// card in its firmware) or the rescue (a card in its boot downloader or the
// programmer) must end with the card flashed and holding its own data, a
// record with nothing pending, and a kept backup that holds the data.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "packet/Packet.h"
#include "tests/backup/CardRunFixture.h"
#include "upgrade/run/UpgradeModule.h"

namespace backup_test {

class RecoveryFixture : public CardRunFixture {
protected:
    // The card as the host left it at the stop: its data, mode and firmware.
    std::string CardState() const { return card_->StateJson().dump(); }
    void ResumeCard(const std::string& state) {
        const nlohmann::json json = nlohmann::json::parse(state);
        Plug(sim::CardDataFromJson(json));
        sim::CardMode mode = sim::CardMode::Diagnostic;
        for (sim::CardMode each : {sim::CardMode::AtCommand, sim::CardMode::Diagnostic, sim::CardMode::BootDownloader,
                                   sim::CardMode::FlashProgrammer})
            if (json.at("mode").get<std::string>() == sim::ModeName(each)) mode = each;
        card_->ResumeIn(mode, json.at("new_firmware").get<bool>());
    }

    // The retry or the rescue, as the state of the card calls for; its
    // result, and "retry" or "rescue" in how.
    int32_t NextRun(std::string& how) {
        upgrade::UpgradeModule prober;
        packet::CPacket packet;
        const upgrade::CardState state = prober.ProbeCardState(packet, kPort);
        if (packet.IsOpen()) packet.Close();
        upgrade::UpgradeModule module;
        session_->Log().Clear();
        if (state == upgrade::CardState::Firmware) {
            how = "retry";
            return module.FirmWareUpgrade(kPort, platform::Utf8ToWide(Package()));
        }
        how = "rescue";
        return module.RescueCard(kPort, platform::Utf8ToWide(Package()), u"");
    }

    // What is wrong after the next run; empty when the card's data is safe.
    // A card that was running the new firmware before it may be left in the
    // programmer: a retry on a card that needs no full download ends there.
    std::vector<std::string> RecoveryProblems(bool newFirmwareBefore = false) const {
        std::vector<std::string> problems;
        const sim::CardData& now = card_->Data();
        if (!card_->RunningNewFirmware() && !newFirmwareBefore)
            problems.push_back("the card is not running the new firmware");
        for (const std::string& problem : sim::CheckFlashAgainstPackage(now, Package(), true).problems)
            problems.push_back("flash: " + problem);
        if (now.wifi != expected_.wifi) problems.push_back("the card lost its Wi-Fi address");
        if (now.efsFiles != expected_.efsFiles) problems.push_back("the card lost its lock files");
        for (const auto& [item, nv] : expected_.nv)
            if (!nv.inactive && now.nv.at(item).data != nv.data) problems.push_back("NV item " + std::to_string(item));
        if (card_->LockAccessEnabled()) problems.push_back("lock-file access is left on");
        upgrade::BackupRecord record;
        std::string error;
        if (upgrade::ReadBackupRecord(RecordPath(), record, error) != upgrade::RecordRead::Read)
            problems.push_back("the record does not read: " + error);
        else if (record.RestorePending())
            problems.push_back("a restore is still pending");
        if (!KeptBackupHoldsTheData()) problems.push_back("no whole kept backup holds the card's data");
        return problems;
    }

    // A kept backup (not a read of a wiped card) whose files match the
    // digests of the first whole run's backup.
    bool KeptBackupHoldsTheData() const {
        for (const upgrade::KeptBackup& kept : upgrade::ListKeptBackups(original_.esn)) {
            std::string error;
            if (kept.record.readWhilePending.empty() && kept.record.nvSha256 == ownNvSha256_ &&
                kept.record.lockSha256 == ownLockSha256_ && kept.record.wifi == original_.wifi &&
                upgrade::BackupFilesMatch(kept.record, error))
                return true;
        }
        return false;
    }

    // Takes the digests of the card's own data from a whole run's record.
    void NoteOwnData() {
        const upgrade::BackupRecord record = Record();
        ownNvSha256_ = record.nvSha256;
        ownLockSha256_ = record.lockSha256;
    }

    std::string ownNvSha256_;
    std::string ownLockSha256_;
};

}  // namespace backup_test
