// The firmware-upgrade module object the host obtains with GetModule.
// Virtual slots 0-10 come from CVmoduleBase; FWUpgrade adds
// 11 CheckPidVid and 12 FirmWareUpgrade.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "module/ModuleInterface.h"
#include "module/UpgradeRequest.h"
#include "upgrade/run/UpgradeModule.h"

namespace module {

constexpr int32_t kUpgradeModuleId = 268;
constexpr int32_t kUpgradeModuleInstance = 80;
extern const char16_t kUpgradeModuleName[];   // u"CDMADataCardW326 FWUpgrade Module"

constexpr int32_t kIdentityMessage = 1026;   // 0x402

// Progress goes to the host's display module as three int32: 3, 4, percent.
constexpr int32_t kDisplayModuleId = 260;
constexpr int32_t kDisplayInstance = 1;
constexpr int32_t kProgressMessage = 1028;   // 0x404

class FWUpgrade : public CVmoduleBase {
public:
    using CVmoduleBase::CVmoduleBase;
    // Sets *answer to 1 when the identity (its four bytes in memory order)
    // is a supported vendor/product pair; never clears it. Returns 0.
    virtual int32_t CheckPidVid(uint32_t identity, uint8_t* answer) = 0;
    // One upgrade run: 0, -13313 (package rejected) or -13314 (failed later).
    virtual int32_t FirmWareUpgrade(const UpgradeRequest& request, int32_t* output) = 0;

protected:
    ~FWUpgrade() = default;
};

class CFWUpgradeDataCDMA7627Module final : public FWUpgrade {
public:
    CFWUpgradeDataCDMA7627Module();
    ~CFWUpgradeDataCDMA7627Module() = default;
    FW_MODULE_DELETE_THIS(CFWUpgradeDataCDMA7627Module)

    int32_t HandleMessage(int32_t message, int32_t inLength, void* inBuffer, int32_t outLength, void* outBuffer,
                          int32_t resultLength, void* resultBuffer) override;
    int32_t CheckPidVid(uint32_t identity, uint8_t* answer) override;
    int32_t FirmWareUpgrade(const UpgradeRequest& request, int32_t* output) override;

    // Reports a percentage to the display module; true when it was taken.
    bool ShowRatio(int32_t percent);

    upgrade::UpgradeModule& Upgrade() { return m_Upgrade; }

private:
    int32_t HandleUpgrade(int32_t inLength, void* inBuffer, int32_t outLength, void* outBuffer, int32_t resultLength,
                          void* resultBuffer);
    int32_t HandleIdentity(int32_t inLength, void* inBuffer, int32_t outLength, void* outBuffer,
                           int32_t resultLength, void* resultBuffer);

    std::vector<std::array<uint8_t, 4>> m_PidVidList;
    upgrade::UpgradeModule m_Upgrade;
};

// The process-wide module object (created on first call, never deleted);
// the same object the exported GetModule returns.
CHolModuleInterface* GetModuleObject();

}  // namespace module

// The one export of the library.
extern "C"
#if defined(_WIN32)
    __declspec(dllexport)
#else
    __attribute__((visibility("default")))
#endif
    module::CHolModuleInterface* GetModule();
