#include "host/fwupgrade/plugin/PluginHost.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/fwupgrade/plugin/HostModules.h"
#include "host/fwupgrade/plugin/PluginOperations.h"
#include "host/fwupgrade/card/SerialScan.h"
#include "host/fwupgrade/run/Workers.h"
#include "module/ModuleInterface.h"
#include "host/kit/HostKit.h"
#include "module/UpgradeRequest.h"
#include "platform/Platform.h"

#ifndef FWUPGRADE_RELATIVE_LIBDIR
#define FWUPGRADE_RELATIVE_LIBDIR "lib"
#endif
#ifndef FWUPGRADE_INSTALL_LIBDIR
#define FWUPGRADE_INSTALL_LIBDIR ""
#endif
#ifndef FWUPGRADE_PLUGIN_NAME
#define FWUPGRADE_PLUGIN_NAME "libFWUpgradeDataCDMAW326.so"
#endif
#ifndef FWUPGRADE_MANAGER_NAME
#define FWUPGRADE_MANAGER_NAME "libfw_hostmanager.so"
#endif

namespace fwupgrade {

namespace {

constexpr int32_t kManagerId = 256;
constexpr int32_t kManagerInstance = 1;
constexpr int32_t kPluginId = 268;
constexpr int32_t kPluginInstance = 80;
constexpr int32_t kIdentityMessage = 1026;

using hostkit::AttachFunction;
using hostkit::DetachFunction;
using hostkit::GetModuleFunction;

bool IsFile(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string KeyPath(int32_t id, int32_t instance) {
    return "Software\\vek\\vek Quillane\\" + std::to_string(id) + "\\" + std::to_string(instance);
}

// The "Path" value of a module in the register; empty when there is none.
std::string RegisteredPath(int32_t id, int32_t instance) {
    platform::RegistryKey key = platform::RegOpenKey(nullptr, platform::Utf8ToWide(KeyPath(id, instance)));
    if (key == nullptr) return {};
    std::string path;
    uint32_t size = 0;
    if (platform::RegQueryValueSize(key, u"Path", size) && size > 0 && size <= 4096) {
        std::u16string text(size / 2, u'\0');
        uint32_t read = size;
        if (platform::RegQueryString(key, u"Path", text.data(), read)) {
            text.resize(read / 2);
            while (!text.empty() && text.back() == u'\0') text.pop_back();
            path = platform::WideToUtf8(text);
        }
    }
    platform::RegCloseKey(key);
    return path;
}

std::string ExecutableFolder() {
    const std::string self = SelfExecutable();
    const size_t slash = self.rfind('/');
    return slash == std::string::npos ? std::string(".") : self.substr(0, slash);
}

std::string FindLibrary(const char* name, const char* envName, const std::string& buildPath, const char* installDir) {
    if (const char* env = std::getenv(envName); env != nullptr && *env != '\0') return env;
    const std::string folder = ExecutableFolder();
    std::vector<std::string> candidates = {folder + "/" + name, folder + "/../" FWUPGRADE_RELATIVE_LIBDIR "/" + name,
                                           folder + "/../lib/" + name};
    if (installDir != nullptr && *installDir != '\0') candidates.push_back(std::string(installDir) + "/" + name);
    if (!buildPath.empty()) candidates.push_back(buildPath);
    for (const auto& candidate : candidates)
        if (IsFile(candidate)) return candidate;
    return candidates.back();
}

}  // namespace


std::string DefaultPluginPath() {
    return FindLibrary(FWUPGRADE_PLUGIN_NAME, "FWUPGRADE_PLUGIN", hostkit::DefaultPluginPath(), FWUPGRADE_INSTALL_LIBDIR);
}

std::string DefaultManagerPath() {
    return FindLibrary(FWUPGRADE_MANAGER_NAME, "FWUPGRADE_MANAGER", hostkit::DefaultManagerPath(), FWUPGRADE_INSTALL_LIBDIR);
}

bool RegisterManager(const std::string& requested, std::string& chosen, std::string& error) {
    const std::string registered = RegisteredPath(kManagerId, kManagerInstance);
    if (!requested.empty()) {
        chosen = requested;
    } else if (std::getenv("FWUPGRADE_MANAGER") == nullptr && IsFile(registered)) {
        chosen = registered;
    } else {
        chosen = DefaultManagerPath();
    }
    if (!IsFile(chosen)) {
        error = "the module manager library " + chosen + " does not exist";
        return false;
    }
    if (registered == chosen) return true;
    // Another process may be registering the same library at this moment.
    if (!hostkit::RegisterLibraryPath(kManagerId, kManagerInstance, chosen) &&
        RegisteredPath(kManagerId, kManagerInstance) != chosen) {
        error = "cannot register the module manager in the register of host modules";
        return false;
    }
    return true;
}

struct PluginHost::State {
    PluginHostOptions options;
    std::string pluginPath;
    std::string managerPath;
    void* manager = nullptr;
    void* plugin = nullptr;
    DetachFunction detach = nullptr;
    module::CHolModuleInterface* module = nullptr;
    std::unique_ptr<LogModule> log;
    std::unique_ptr<DisplayModule> display;
};

PluginHost::PluginHost(PluginHostOptions options) : state_(std::make_unique<State>()) {
    state_->options = std::move(options);
}

PluginHost::~PluginHost() {
    // The libraries stay loaded for the life of the process, as in the host;
    // the modules of this object are taken off the manager.
    if (state_->detach != nullptr) {
        state_->detach(266, 1);
        state_->detach(260, 1);
    }
}

const std::string& PluginHost::PluginPath() const { return state_->pluginPath; }
const std::string& PluginHost::ManagerPath() const { return state_->managerPath; }

bool PluginHost::Load(std::string& error) {
    State& s = *state_;
    if (!RegisterManager(s.options.managerPath, s.managerPath, error)) return false;
    s.manager = ::dlopen(s.managerPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (s.manager == nullptr) {
        error = std::string("cannot load the module manager: ") + ::dlerror();
        return false;
    }
    auto attach = reinterpret_cast<AttachFunction>(::dlsym(s.manager, "HostManagerAttach"));
    s.detach = reinterpret_cast<DetachFunction>(::dlsym(s.manager, "HostManagerDetach"));
    if (attach == nullptr) {
        error = "the module manager " + s.managerPath + " has no HostManagerAttach";
        return false;
    }
    s.log = std::make_unique<LogModule>(s.options.onTrace);
    s.display = std::make_unique<DisplayModule>(s.options.onProgress);
    if (attach(266, 1, s.log.get()) != 0 || attach(260, 1, s.display.get()) != 0) {
        error = "the module manager refused the log or display module";
        return false;
    }

    // The plug-in: as asked, else as registered, else next to the program.
    const std::string registeredPlugin = RegisteredPath(kPluginId, kPluginInstance);
    if (!s.options.pluginPath.empty()) {
        s.pluginPath = s.options.pluginPath;
    } else if (std::getenv("FWUPGRADE_PLUGIN") == nullptr && IsFile(registeredPlugin)) {
        s.pluginPath = registeredPlugin;
    } else {
        s.pluginPath = DefaultPluginPath();
    }
    s.plugin = ::dlopen(s.pluginPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (s.plugin == nullptr) {
        error = std::string("cannot load the plug-in: ") + ::dlerror();
        return false;
    }
    auto getModule = reinterpret_cast<GetModuleFunction>(::dlsym(s.plugin, "GetModule"));
    if (getModule == nullptr) {
        error = "the plug-in " + s.pluginPath + " does not export GetModule";
        return false;
    }
    s.module = getModule();
    if (s.module == nullptr) {
        error = "the plug-in's GetModule returned no module";
        return false;
    }
    return true;
}

int32_t PluginHost::Upgrade(int32_t port, const std::string& folder, bool& handled) {
    handled = false;
    if (state_->module == nullptr) return -1;
    // The request as the host lays it out; the folder text outlives the call.
    const std::u16string text = platform::Utf8ToWide(folder);
    std::vector<uint8_t> request(hostkit::UpgradeRequestSize() + 8);
    uint8_t* bytes = request.data() + (8 - reinterpret_cast<uintptr_t>(request.data()) % 8) % 8;
    hostkit::BuildUpgradeRequest(bytes, port, text.c_str(), static_cast<int32_t>(text.size()));
    int32_t output = 0;
    int32_t result = -1;
    const int32_t answer = state_->module->HandleMessage(
        module::kUpgradeMessage, static_cast<int32_t>(hostkit::UpgradeRequestSize()), bytes, 4, &output, 4, &result);
    handled = answer == module::kMessageHandled;
    return handled ? result : answer;
}

const FwupCardOperationTable* PluginHost::CardOperations(std::string& error) const {
    return FindCardOperations(state_->plugin, state_->pluginPath, error);
}

bool PluginHost::Supports(uint16_t vendor, uint16_t product) {
    if (state_->module == nullptr) return false;
    uint32_t identity = IdentityForMessage(vendor, product);
    uint8_t answer = 0;
    uint8_t result = 0xFF;
    const int32_t handled = state_->module->HandleMessage(kIdentityMessage, 4, &identity, 1, &answer, 1, &result);
    return handled == module::kMessageHandled && answer == 1;
}

int32_t PluginHost::Register() { return state_->module ? state_->module->RegisterModule() : -1; }
int32_t PluginHost::Unregister() { return state_->module ? state_->module->UnregisterModule() : -1; }

}  // namespace fwupgrade
