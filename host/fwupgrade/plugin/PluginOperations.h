// The loaded plug-in's card operations (probe, backup, restore, rescue), as
// this program calls them: the table of the interface version it speaks,
// the card it aims at, and the events of each call kept as values.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "module/CardOperationsApi.h"

namespace fwupgrade {

// The table of the version this program speaks, from the loaded plug-in
// library; null with a plain reason when the plug-in does not offer it.
const FwupCardOperationTable* FindCardOperations(void* library, const std::string& pluginPath, std::string& error);

struct CardLoss {
    int32_t kind = FWUP_LOSS_NV_ITEM;
    int32_t reason = FWUP_LOSS_NOT_TRIED;
    uint32_t nvItem = 0;
    uint32_t nvStatus = 0;
    std::string lockFile;
};

struct CardOutcome {
    bool reported = false;
    int32_t result = 0;
    int32_t failedStep = FWUP_STEP_PREPARE;
    int32_t reason = FWUP_REASON_NONE;
    int32_t cardState = FWUP_CARD_UNKNOWN;
    std::string keptBackup;
    std::string keptReadNow;
    bool esnKnown = false;
    uint32_t esn = 0;
    std::string softwareVersion;
    uint32_t nvItemsRestored = 0;
    int32_t recovery = FWUP_RECOVERY_NONE;
    std::string recoveryPackage;
    std::string recoveryFrom;
};

// The card an operation aims at: its COM port number and, when it is
// followed on a USB port, that port ("1-1.2" or "1-1.2:1.N").
struct CardTarget {
    int32_t port = 1;
    std::string usbPin;
};

class PluginOperations {
public:
    PluginOperations(const FwupCardOperationTable& table, CardTarget target);

    // Called for each step as the operation enters it. (Progress comes
    // through the display module, as message 1025's does.)
    void OnStep(std::function<void(int32_t step)> onStep) { onStep_ = std::move(onStep); }
    // The engine's cancellation check: asked at the start of each step, on
    // the operation's thread; true stops the operation there.
    void StopWhen(std::function<bool()> stopAsked) { stopAsked_ = std::move(stopAsked); }
    // Called once the operation has read the card's ESN (and its version, "" when unread).
    void OnCard(std::function<void(uint32_t esn, const std::string& version)> onCard) { onCard_ = std::move(onCard); }

    // The card's state (FwupCardState) and, in its firmware, its ESN.
    int32_t Probe(uint32_t& esn);
    int32_t Upgrade(const std::string& packageFolder);
    int32_t Backup(const std::string& folder);
    int32_t Restore(const std::string& keptFolder, bool force);
    int32_t Rescue(const std::string& packageFolder, const std::string& fromFolder);
    int32_t RescueWithoutData(const std::string& packageFolder);

    // The events of the last operation.
    const std::vector<int32_t>& Steps() const { return steps_; }
    const std::vector<CardLoss>& Losses() const { return losses_; }
    const CardOutcome& Outcome() const { return outcome_; }

private:
    FwupOptions Options();
    void Clear();
    static void OnEvent(const FwupEvent* event, void* context);
    static int StopAsked(void* context);

    const FwupCardOperationTable& table_;
    CardTarget target_;
    std::string usbPort_;
    int32_t usbInterface_ = -1;
    std::function<void(int32_t)> onStep_;
    std::function<bool()> stopAsked_;
    std::function<void(uint32_t, const std::string&)> onCard_;
    std::vector<int32_t> steps_;
    std::vector<CardLoss> losses_;
    CardOutcome outcome_;
};

}  // namespace fwupgrade
