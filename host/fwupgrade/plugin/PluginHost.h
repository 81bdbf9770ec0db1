// The program as a host of the plug-in, done the way the host application
// does it: the module manager is registered in the register of modules
// (identifier 256, instance 1) and loaded from there, the program's own log
// module (266) and display module (260) are attached to it, and the plug-in
// library is loaded and asked for its module with GetModule. Everything the
// plug-in reports comes back through those two modules.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/fwupgrade/report/TraceLine.h"
#include "module/CardOperationsApi.h"

namespace fwupgrade {

struct PluginHostOptions {
    std::string pluginPath;    // empty: the register (268/80), then next to the program
    std::string managerPath;   // empty: the register (256/1), then next to the program
    std::function<void(const TraceEntry&)> onTrace;
    std::function<void(int percent)> onProgress;
};

class PluginHost {
public:
    explicit PluginHost(PluginHostOptions options);
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Registers and loads the manager, attaches the host modules, loads the
    // plug-in. False with a reason in `error`.
    bool Load(std::string& error);

    // Message 1025: one upgrade of the card on COM `port` from `folder`.
    // Returns the module's result code; `handled` tells whether the message
    // was understood at all.
    int32_t Upgrade(int32_t port, const std::string& folder, bool& handled);
    // The loaded plug-in's card operations of the version this program
    // speaks; null with the reason when it has none or another version.
    const FwupCardOperationTable* CardOperations(std::string& error) const;
    // Message 1026 with the identity; true when the module supports it.
    bool Supports(uint16_t vendor, uint16_t product);
    // The module's own RegisterModule / UnregisterModule.
    int32_t Register();
    int32_t Unregister();

    const std::string& PluginPath() const;
    const std::string& ManagerPath() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Makes sure the register names the module manager (the requested one, else
// the registered one when it exists, else the one next to the program);
// `chosen` is the library the register names afterwards.
bool RegisterManager(const std::string& requested, std::string& chosen, std::string& error);

// Where the libraries of the program were built or installed.
std::string DefaultPluginPath();
std::string DefaultManagerPath();

}  // namespace fwupgrade
