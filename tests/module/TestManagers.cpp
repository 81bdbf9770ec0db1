// Stand-in module managers for the agent's failure paths. Built twice: with
// FWUP_WITH_GET_MODULE a manager that answers 0 and never writes the result
// slot; without it a library that has no GetModule export at all.
#include <cstdint>

#include "host/kit/HostKit.h"

#if defined(FWUP_WITH_GET_MODULE)
namespace {

class SilentManager final : public hostkit::HostModule {
public:
    SilentManager() : HostModule(256, 1, u"silent manager") {}
    int32_t HandleMessage(int32_t, int32_t, void*, int32_t, void*, int32_t, void*) override { return 0; }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) module::CHolModuleInterface* GetModule() {
    static SilentManager* const manager = new SilentManager();
    return manager;
}
#else
extern "C" __attribute__((visibility("default"))) int NotGetModule() { return 0; }
#endif
