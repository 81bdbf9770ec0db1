// The host's module manager as a library (identifier 256, instance 1): it
// delivers a ModuleRoute (message 1025) to the module attached under the
// target identifier and instance and leaves that call's result in the
// 4-byte result buffer. Modules are attached in-process.
#include <cstring>
#include <map>
#include <mutex>

#include "host/kit/HostKit.h"
#include "module/ModuleRoute.h"

#define HOSTMANAGER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex g_mutex;
std::map<std::pair<int32_t, int32_t>, module::CHolModuleInterface*>& Attached() {
    static auto* const table = new std::map<std::pair<int32_t, int32_t>, module::CHolModuleInterface*>();
    return *table;
}

class ModuleManager final : public hostkit::HostModule {
public:
    ModuleManager() : HostModule(256, 1, u"Host module manager") {}

    int32_t HandleMessage(int32_t message, int32_t inLength, void* inBuffer, int32_t, void*, int32_t resultLength,
                          void* resultBuffer) override {
        if (message != 1025) {
            return module::kUnknownMessage;
        }
        if (inBuffer == nullptr || inLength != static_cast<int32_t>(module::kModuleRouteSize) ||
            resultBuffer == nullptr || resultLength < 4) {
            return module::kBadLength;
        }
        const module::ModuleRoute route = module::DecodeModuleRoute(static_cast<const uint8_t*>(inBuffer));
        module::CHolModuleInterface* target = nullptr;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            const auto found = Attached().find({route.targetId, route.targetInstance});
            if (found != Attached().end()) {
                target = found->second;
            }
        }
        if (target == nullptr) {
            return module::kUnknownMessage;
        }
        const int32_t result = target->HandleMessage(route.message, route.inLength, route.inBuffer, route.outLength,
                                                     route.outBuffer, route.resultLength, route.resultBuffer);
        std::memcpy(resultBuffer, &result, 4);
        return module::kMessageHandled;
    }
};

}  // namespace

HOSTMANAGER_EXPORT module::CHolModuleInterface* GetModule() {
    static ModuleManager* const manager = new ModuleManager();
    return manager;
}

HOSTMANAGER_EXPORT int HostManagerAttach(int32_t id, int32_t instance, module::CHolModuleInterface* module) {
    if (module == nullptr) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    Attached()[{id, instance}] = module;
    return 0;
}

HOSTMANAGER_EXPORT int HostManagerDetach(int32_t id, int32_t instance) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Attached().erase({id, instance}) == 1 ? 0 : -1;
}
