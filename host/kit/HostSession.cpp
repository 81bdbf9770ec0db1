#include <dlfcn.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>

#include "host/kit/HostKit.h"
#include "platform/Platform.h"

namespace hostkit {

namespace {

std::string* g_root = nullptr;

void RemoveRoot() {
    if (g_root != nullptr) {
        std::error_code ignored;
        std::filesystem::remove_all(*g_root, ignored);
    }
}

}  // namespace

std::string DefaultManagerPath() { return FWUP_HOSTMANAGER_PATH; }
std::string DefaultPluginPath() { return FWUP_PLUGIN_PATH; }

const std::string& HostSession::RegistryRoot() {
    if (g_root == nullptr) {
        std::string pattern = (std::filesystem::temp_directory_path() / "fwup-registry-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            pattern.clear();
        }
        g_root = new std::string(pattern);
        ::setenv("FWUPGRADE_REGISTRY_ROOT", g_root->c_str(), 1);
        std::atexit(&RemoveRoot);
    }
    return *g_root;
}

HostSession::HostSession() { RegistryRoot(); }

HostSession::~HostSession() {
    if (detach_ != nullptr) {
        for (const auto& [id, instance] : attached_) {
            detach_(id, instance);
        }
    }
    // Libraries stay loaded: the plug-in's process-wide objects point into them.
}

bool RegisterLibraryPath(int32_t id, int32_t instance, const std::string& path) {
    const std::u16string keyPath = u"Software\\vek\\vek Quillane\\" + platform::Utf8ToWide(std::to_string(id)) +
                                   u"\\" + platform::Utf8ToWide(std::to_string(instance));
    platform::RegistryKey key = platform::RegCreateKey(nullptr, keyPath);
    if (key == nullptr) {
        return false;
    }
    const std::u16string wide = platform::Utf8ToWide(path);
    const bool written = platform::RegSetString(key, u"Path", wide.data(),
                                                static_cast<uint32_t>(wide.size() * sizeof(char16_t)));
    platform::RegCloseKey(key);
    return written;
}

bool HostSession::StartManager(const std::string& managerPath) {
    if (managerPath.empty() || !RegisterLibraryPath(256, 1, managerPath)) {
        return false;
    }
    manager_ = ::dlopen(managerPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (manager_ == nullptr) {
        return false;
    }
    attach_ = reinterpret_cast<AttachFunction>(::dlsym(manager_, "HostManagerAttach"));
    detach_ = reinterpret_cast<DetachFunction>(::dlsym(manager_, "HostManagerDetach"));
    if (attach_ == nullptr || detach_ == nullptr) {
        return false;
    }
    return Attach(&log_) && Attach(&display_);
}

bool HostSession::Attach(module::CHolModuleInterface* module) {
    if (attach_ == nullptr || module == nullptr) {
        return false;
    }
    const int32_t id = module->GetModuleId();
    const int32_t instance = module->GetModuleInstance();
    if (attach_(id, instance, module) != 0) {
        return false;
    }
    attached_.emplace_back(id, instance);
    return true;
}

void HostSession::Detach(int32_t id, int32_t instance) {
    if (detach_ != nullptr) {
        detach_(id, instance);
    }
    std::erase(attached_, std::make_pair(id, instance));
}

bool HostSession::LoadPlugin(const std::string& pluginPath) {
    if (pluginPath.empty()) {
        return false;
    }
    plugin_ = ::dlopen(pluginPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (plugin_ == nullptr) {
        return false;
    }
    const auto getModule = reinterpret_cast<GetModuleFunction>(::dlsym(plugin_, "GetModule"));
    module_ = getModule != nullptr ? getModule() : nullptr;
    return module_ != nullptr;
}

void HostSession::UseLinkedModule(GetModuleFunction getModule) { module_ = getModule(); }

UpgradeAnswer HostSession::RunUpgrade(int32_t port, const std::u16string& packageFolder) {
    UpgradeAnswer answer;
    if (module_ == nullptr) {
        answer.handled = module::kUnknownMessage;
        return answer;
    }
    std::vector<uint8_t> request(UpgradeRequestSize());
    BuildUpgradeRequest(request.data(), port, packageFolder.empty() ? nullptr : packageFolder.c_str(),
                        static_cast<int32_t>(packageFolder.size()));
    answer.handled = module_->HandleMessage(1025, static_cast<int32_t>(request.size()), request.data(), 4,
                                            &answer.output, 4, &answer.result);
    return answer;
}

int32_t HostSession::QueryIdentity(uint32_t identity, uint8_t& answer, uint8_t& result) {
    if (module_ == nullptr) {
        return module::kUnknownMessage;
    }
    return module_->HandleMessage(1026, 4, &identity, 1, &answer, 1, &result);
}

int32_t HostSession::Send(int32_t message, int32_t inLength, void* inBuffer, int32_t outLength, void* outBuffer,
                          int32_t resultLength, void* resultBuffer) {
    if (module_ == nullptr) {
        return module::kUnknownMessage;
    }
    return module_->HandleMessage(message, inLength, inBuffer, outLength, outBuffer, resultLength, resultBuffer);
}

}  // namespace hostkit
