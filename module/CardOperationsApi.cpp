// The card operations export: each call runs the module object's own engine
// (the one message 1025 runs) with the caller's options, and hands the
// engine's events to the caller's sink as C structs.
#include "module/CardOperationsApi.h"

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>

#include "module/UpgradeModuleObject.h"
#include "packet/Packet.h"
#include "platform/Platform.h"
#if !defined(_WIN32)
#include "platform/posix/UsbSerial.h"
#endif

namespace module {
namespace {

constexpr int32_t kBadOptions = -1;

std::string Narrow(const std::u16string& text) { return platform::WideToUtf8(text); }
std::u16string Wide(const char* text) { return text == nullptr ? std::u16string() : platform::Utf8ToWide(text); }

int32_t StateValue(upgrade::CardState state) {
    switch (state) {
        case upgrade::CardState::Absent: return FWUP_CARD_ABSENT;
        case upgrade::CardState::Silent: return FWUP_CARD_SILENT;
        case upgrade::CardState::Firmware: return FWUP_CARD_FIRMWARE;
        case upgrade::CardState::BootDownloader: return FWUP_CARD_BOOT_DOWNLOADER;
        case upgrade::CardState::FlashProgrammer: return FWUP_CARD_FLASH_PROGRAMMER;
    }
    return FWUP_CARD_UNKNOWN;
}

FwupEvent BlankEvent(int32_t kind) {
    FwupEvent event{};
    event.kind = kind;
    event.loss.lockFile = "";
    event.outcome.keptBackup = event.outcome.keptReadNow = event.outcome.softwareVersion = "";
    event.outcome.recoveryPackage = event.outcome.recoveryFrom = "";
    event.card.softwareVersion = "";
    return event;
}

// The engine's events as the C structs of the export; every string lives
// until the caller's sink returns.
class EventBridge final : public upgrade::RunEventSink {
public:
    explicit EventBridge(const FwupOptions& options) : options_(options) {}

    void OnStep(upgrade::RunStep step) override {
        FwupEvent event = BlankEvent(FWUP_EVENT_STEP);
        event.step = static_cast<int32_t>(step);
        Send(event);
    }

    void OnProgress(int percent) override {
        FwupEvent event = BlankEvent(FWUP_EVENT_PROGRESS);
        event.percent = percent;
        Send(event);
    }

    void OnLoss(const upgrade::RunLoss& loss) override {
        FwupEvent event = BlankEvent(FWUP_EVENT_LOSS);
        const std::string lockFile = Narrow(loss.lockFile);
        event.loss.kind = static_cast<int32_t>(loss.kind);
        event.loss.reason = static_cast<int32_t>(loss.reason);
        event.loss.nvItem = loss.nvItem;
        event.loss.nvStatus = loss.nvStatus;
        event.loss.lockFile = lockFile.c_str();
        Send(event);
    }

    void OnOutcome(const upgrade::RunOutcome& outcome) override {
        FwupEvent event = BlankEvent(FWUP_EVENT_OUTCOME);
        FwupOutcome& out = event.outcome;
        const std::string kept = Narrow(outcome.keptBackup), readNow = Narrow(outcome.keptReadNow);
        const std::string package = Narrow(outcome.recoveryPackage), from = Narrow(outcome.recoveryFrom);
        out.result = outcome.result;
        out.failedStep = static_cast<int32_t>(outcome.failedStep);
        out.reason = static_cast<int32_t>(outcome.reason);
        out.cardState = outcome.cardStateKnown ? StateValue(outcome.cardState) : FWUP_CARD_UNKNOWN;
        out.keptBackup = kept.c_str();
        out.keptReadNow = readNow.c_str();
        out.esnKnown = outcome.esnKnown ? 1 : 0;
        out.esn = outcome.esn;
        out.softwareVersion = outcome.softwareVersion.c_str();
        out.nvItemsRestored = static_cast<uint32_t>(outcome.nvItemsRestored);
        out.recovery = static_cast<int32_t>(outcome.recovery);
        out.recoveryPackage = package.c_str();
        out.recoveryFrom = from.c_str();
        Send(event);
    }

    void OnCardIdentified(uint32_t esn, const std::string& softwareVersion) override {
        FwupEvent event = BlankEvent(FWUP_EVENT_CARD);
        event.card.esn = esn;
        event.card.softwareVersion = softwareVersion.c_str();
        Send(event);
    }

private:
    void Send(const FwupEvent& event) {
        if (options_.onEvent != nullptr) options_.onEvent(&event, options_.context);
    }

    const FwupOptions& options_;
};

std::mutex& OperationMutex() {
    static std::mutex mutex;
    return mutex;
}

// One call: the engine with the caller's sink, stop check, card pin and data
// folder for its duration, and none of them afterwards.
class Call {
public:
    explicit Call(const FwupOptions& options) : lock_(OperationMutex()), bridge_(options) {
        auto* object = static_cast<CFWUpgradeDataCDMA7627Module*>(GetModuleObject());
        engine_ = object == nullptr ? nullptr : &object->Upgrade();
        if (engine_ == nullptr) return;
        engine_->SetEventSink(&bridge_);
        if (options.cancelRequested != nullptr)
            engine_->SetCancelCheck([&options]() { return options.cancelRequested(options.context) != 0; });
        platform::SetUserDataFolder(Wide(options.dataFolder));
#if !defined(_WIN32)
        if (options.usbPort != nullptr && options.usbPort[0] != '\0')
            platform::posix::SetPinOverride(platform::posix::UsbPin{options.usbPort, options.usbInterface});
#endif
    }

    ~Call() {
        if (engine_ == nullptr) return;
        engine_->SetEventSink(nullptr);
        engine_->SetCancelCheck({});
        platform::SetUserDataFolder({});
#if !defined(_WIN32)
        platform::posix::SetPinOverride(std::nullopt);
#endif
    }

    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    upgrade::UpgradeModule* Engine() { return engine_; }

private:
    std::lock_guard<std::mutex> lock_;
    EventBridge bridge_;
    upgrade::UpgradeModule* engine_ = nullptr;
};

int32_t Probe(const FwupOptions* options, int32_t* state, uint32_t* esn) {
    if (options == nullptr || state == nullptr) return kBadOptions;
    Call call(*options);
    if (call.Engine() == nullptr) return kBadOptions;
    packet::CPacket packet;
    const upgrade::CardState found = call.Engine()->ProbeCardState(packet, options->port);
    if (packet.IsOpen()) packet.Close();
    *state = StateValue(found);
    if (esn != nullptr) *esn = found == upgrade::CardState::Firmware ? call.Engine()->CardEsn() : 0;
    return upgrade::kUpgradeOk;
}

int32_t Upgrade(const FwupOptions* options, const char* packageFolder) {
    if (options == nullptr || packageFolder == nullptr) return kBadOptions;
    Call call(*options);
    if (call.Engine() == nullptr) return kBadOptions;
    return call.Engine()->FirmWareUpgrade(options->port, Wide(packageFolder));
}

int32_t Backup(const FwupOptions* options, const char* folder) {
    if (options == nullptr || folder == nullptr) return kBadOptions;
    Call call(*options);
    if (call.Engine() == nullptr) return kBadOptions;
    return call.Engine()->BackupCard(options->port, Wide(folder)) ? upgrade::kUpgradeOk : upgrade::kUpgradeFailed;
}

int32_t Restore(const FwupOptions* options, const char* keptFolder, int32_t force) {
    if (options == nullptr || keptFolder == nullptr) return kBadOptions;
    Call call(*options);
    if (call.Engine() == nullptr) return kBadOptions;
    return call.Engine()->RestoreCard(options->port, Wide(keptFolder), force != 0) ? upgrade::kUpgradeOk
                                                                                    : upgrade::kUpgradeFailed;
}

int32_t Rescue(const FwupOptions* options, const char* packageFolder, const char* fromFolder) {
    if (options == nullptr || packageFolder == nullptr) return kBadOptions;
    Call call(*options);
    if (call.Engine() == nullptr) return kBadOptions;
    return call.Engine()->RescueCard(options->port, Wide(packageFolder), Wide(fromFolder));
}

int32_t RescueWithoutData(const FwupOptions* options, const char* packageFolder) {
    if (options == nullptr || packageFolder == nullptr) return kBadOptions;
    Call call(*options);
    if (call.Engine() == nullptr) return kBadOptions;
    return call.Engine()->RescueCard(options->port, Wide(packageFolder), u"", true);
}

constexpr FwupCardOperationTable kOperations = {FWUP_CARD_OPERATIONS_VERSION, &Probe, &Upgrade, &Backup, &Restore,
                                                &Rescue, &RescueWithoutData};
// A front-end of version 1 reads no further than the rescue.
constexpr FwupCardOperationTable kOperationsVersion1 = {1, &Probe, &Upgrade, &Backup, &Restore, &Rescue, nullptr};

// The version 1 layout: every function pointer in its place; version 2 appends one.
static_assert(offsetof(FwupCardOperationTable, probe) == sizeof(void*));
static_assert(offsetof(FwupCardOperationTable, rescue) == 5 * sizeof(void*));
static_assert(offsetof(FwupCardOperationTable, rescueWithoutData) == 6 * sizeof(void*));
static_assert(sizeof(FwupCardOperationTable) == 7 * sizeof(void*));

}  // namespace
}  // namespace module

extern "C" const FwupCardOperationTable* FwupCardOperations(uint32_t version) {
    if (version == FWUP_CARD_OPERATIONS_VERSION) return &module::kOperations;
    return version == 1 ? &module::kOperationsVersion1 : nullptr;
}
