#include "host/fwupgrade/plugin/PluginOperations.h"

#include <dlfcn.h>

#include <cstdlib>

namespace fwupgrade {

namespace {

// "1-1.2:1.N": the USB port and the interface number.
void SplitPin(const std::string& pin, std::string& usbPort, int32_t& interfaceNumber) {
    usbPort = pin;
    interfaceNumber = -1;
    const size_t colon = pin.find(':');
    if (colon == std::string::npos) return;
    usbPort = pin.substr(0, colon);
    const size_t dot = pin.find('.', colon);
    if (dot != std::string::npos) interfaceNumber = std::atoi(pin.c_str() + dot + 1);
}

std::string Text(const char* text) { return text == nullptr ? std::string() : std::string(text); }

}  // namespace

const FwupCardOperationTable* FindCardOperations(void* library, const std::string& pluginPath, std::string& error) {
    auto find = library == nullptr ? nullptr
                                   : reinterpret_cast<FwupCardOperationsFunction>(::dlsym(library, "FwupCardOperations"));
    if (find == nullptr) {
        error = "the plug-in " + pluginPath +
                " has no card operations (no FwupCardOperations): it is older than this fwupgrade";
        return nullptr;
    }
    const FwupCardOperationTable* table = find(FWUP_CARD_OPERATIONS_VERSION);
    if (table == nullptr || table->version != FWUP_CARD_OPERATIONS_VERSION) {
        error = "the plug-in " + pluginPath + " does not offer version " +
                std::to_string(FWUP_CARD_OPERATIONS_VERSION) +
                " of the card operations, the one this fwupgrade speaks: plug-in and fwupgrade do not match";
        return nullptr;
    }
    return table;
}

PluginOperations::PluginOperations(const FwupCardOperationTable& table, CardTarget target)
    : table_(table), target_(std::move(target)) {
    if (!target_.usbPin.empty()) SplitPin(target_.usbPin, usbPort_, usbInterface_);
}

FwupOptions PluginOperations::Options() {
    FwupOptions options{};
    options.port = target_.port;
    options.usbPort = usbPort_.empty() ? nullptr : usbPort_.c_str();
    options.usbInterface = usbInterface_;
    options.onEvent = &OnEvent;
    if (stopAsked_) options.cancelRequested = &StopAsked;
    options.context = this;
    return options;
}

void PluginOperations::Clear() {
    steps_.clear();
    losses_.clear();
    outcome_ = CardOutcome{};
}

void PluginOperations::OnEvent(const FwupEvent* event, void* context) {
    auto* self = static_cast<PluginOperations*>(context);
    switch (event->kind) {
        case FWUP_EVENT_STEP:
            self->steps_.push_back(event->step);
            if (self->onStep_) self->onStep_(event->step);
            break;
        case FWUP_EVENT_CARD:
            if (self->onCard_) self->onCard_(event->card.esn, Text(event->card.softwareVersion));
            break;
        case FWUP_EVENT_LOSS:
            self->losses_.push_back(
                {event->loss.kind, event->loss.reason, event->loss.nvItem, event->loss.nvStatus, Text(event->loss.lockFile)});
            break;
        case FWUP_EVENT_OUTCOME: {
            const FwupOutcome& o = event->outcome;
            CardOutcome& out = self->outcome_;
            out.reported = true;
            out.result = o.result;
            out.failedStep = o.failedStep;
            out.reason = o.reason;
            out.cardState = o.cardState;
            out.keptBackup = Text(o.keptBackup);
            out.keptReadNow = Text(o.keptReadNow);
            out.esnKnown = o.esnKnown != 0;
            out.esn = o.esn;
            out.softwareVersion = Text(o.softwareVersion);
            out.nvItemsRestored = o.nvItemsRestored;
            out.recovery = o.recovery;
            out.recoveryPackage = Text(o.recoveryPackage);
            out.recoveryFrom = Text(o.recoveryFrom);
            break;
        }
        default: break;   // a kind of a later version
    }
}

int PluginOperations::StopAsked(void* context) {
    return static_cast<PluginOperations*>(context)->stopAsked_() ? 1 : 0;
}

int32_t PluginOperations::Probe(uint32_t& esn) {
    Clear();
    const FwupOptions options = Options();
    int32_t state = FWUP_CARD_UNKNOWN;
    esn = 0;
    if (table_.probe(&options, &state, &esn) != 0) return FWUP_CARD_UNKNOWN;
    return state;
}

int32_t PluginOperations::Upgrade(const std::string& packageFolder) {
    Clear();
    const FwupOptions options = Options();
    return table_.upgrade(&options, packageFolder.c_str());
}

int32_t PluginOperations::Backup(const std::string& folder) {
    Clear();
    const FwupOptions options = Options();
    return table_.backup(&options, folder.c_str());
}

int32_t PluginOperations::Restore(const std::string& keptFolder, bool force) {
    Clear();
    const FwupOptions options = Options();
    return table_.restore(&options, keptFolder.c_str(), force ? 1 : 0);
}

int32_t PluginOperations::Rescue(const std::string& packageFolder, const std::string& fromFolder) {
    Clear();
    const FwupOptions options = Options();
    return table_.rescue(&options, packageFolder.c_str(), fromFolder.empty() ? nullptr : fromFolder.c_str());
}

int32_t PluginOperations::RescueWithoutData(const std::string& packageFolder) {
    Clear();
    const FwupOptions options = Options();
    return table_.rescueWithoutData(&options, packageFolder.c_str());
}

}  // namespace fwupgrade
