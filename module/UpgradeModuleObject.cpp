#include "module/UpgradeModuleObject.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "module/LogRecord.h"
#include "module/ModuleManagerAgent.h"
#include "packet/CardIdentity.h"

namespace module {

const char16_t kUpgradeModuleName[] = u"CDMADataCardW326 FWUpgrade Module";

namespace {

CHolModuleInterface* g_module = nullptr;

// The card in its firmware as message 1026 carries it: vendor, then
// product, each most significant byte first.
constexpr std::array<uint8_t, 4> kSupportedIdentity = {
    static_cast<uint8_t>(packet::kCardFirmwareIdentity.vendor >> 8),
    static_cast<uint8_t>(packet::kCardFirmwareIdentity.vendor & 0xFF),
    static_cast<uint8_t>(packet::kCardFirmwareIdentity.product >> 8),
    static_cast<uint8_t>(packet::kCardFirmwareIdentity.product & 0xFF)};

}  // namespace

CFWUpgradeDataCDMA7627Module::CFWUpgradeDataCDMA7627Module()
    : FWUpgrade(kUpgradeModuleId, kUpgradeModuleInstance, DualString(kUpgradeModuleName), ModuleVersion{0, 0, 1, 0}),
      m_PidVidList{kSupportedIdentity},
      m_Upgrade([this](int percent) { ShowRatio(percent); }) {}

int32_t CFWUpgradeDataCDMA7627Module::HandleMessage(int32_t message, int32_t inLength, void* inBuffer,
                                                    int32_t outLength, void* outBuffer, int32_t resultLength,
                                                    void* resultBuffer) {
    switch (message) {
        case kUpgradeMessage:
            return HandleUpgrade(inLength, inBuffer, outLength, outBuffer, resultLength, resultBuffer);
        case kIdentityMessage:
            return HandleIdentity(inLength, inBuffer, outLength, outBuffer, resultLength, resultBuffer);
        default:
            return CVmoduleBase::HandleMessage(message, inLength, inBuffer, outLength, outBuffer, resultLength,
                                              resultBuffer);
    }
}

// Every buffer is checked before anything runs; the output and the result
// are stored with at most their 4 bytes, never more than the caller has.
int32_t CFWUpgradeDataCDMA7627Module::HandleUpgrade(int32_t inLength, void* inBuffer, int32_t outLength,
                                                    void* outBuffer, int32_t resultLength, void* resultBuffer) {
    if (inLength != static_cast<int32_t>(kUpgradeRequestSize) || inBuffer == nullptr ||
        !BufferUsable(outLength, outBuffer) || !BufferUsable(resultLength, resultBuffer)) {
        return kBadLength;
    }
    const UpgradeRequest request = CopyUpgradeRequest(static_cast<const uint8_t*>(inBuffer));
    int32_t output = 0;
    const int32_t result = FirmWareUpgrade(request, &output);
    if (outLength > 0) {
        std::memcpy(outBuffer, &output, std::min<size_t>(static_cast<size_t>(outLength), sizeof output));
    }
    StoreResult(result, resultLength, resultBuffer);
    return kMessageHandled;
}

int32_t CFWUpgradeDataCDMA7627Module::HandleIdentity(int32_t inLength, void* inBuffer, int32_t outLength,
                                                     void* outBuffer, int32_t resultLength, void* resultBuffer) {
    // The answer byte is read from and written back to the output buffer, so
    // it must hold at least that byte; further bytes are left alone.
    if (inLength != 4 || inBuffer == nullptr || outLength < 1 || outBuffer == nullptr ||
        !BufferUsable(resultLength, resultBuffer)) {
        return kBadLength;
    }
    uint32_t identity;
    std::memcpy(&identity, inBuffer, sizeof identity);
    uint8_t answer = *static_cast<uint8_t*>(outBuffer);
    const int32_t checked = CheckPidVid(identity, &answer);
    if (resultLength > 0) {
        *static_cast<uint8_t*>(resultBuffer) = static_cast<uint8_t>(checked & 0xFF);
    }
    *static_cast<uint8_t*>(outBuffer) = answer;
    return kMessageHandled;
}

int32_t CFWUpgradeDataCDMA7627Module::CheckPidVid(uint32_t identity, uint8_t* answer) {
    uint8_t bytes[4];
    std::memcpy(bytes, &identity, sizeof bytes);   // memory order
    for (const auto& entry : m_PidVidList) {
        if (std::memcmp(entry.data(), bytes, entry.size()) == 0 && answer != nullptr) {
            *answer = 1;
        }
    }
    return 0;
}

int32_t CFWUpgradeDataCDMA7627Module::FirmWareUpgrade(const UpgradeRequest& request, int32_t* /*output*/) {
    return m_Upgrade.FirmWareUpgrade(request.port, request.packageFolder.Text());
}

bool CFWUpgradeDataCDMA7627Module::ShowRatio(int32_t percent) {
    int32_t report[3] = {3, 4, percent};
    int32_t result = 0;
    const int32_t sent = GetModuleManagerAgent().SendModuleMessage(kDisplayModuleId, kDisplayInstance,
                                                                   kProgressMessage, report, sizeof report, nullptr,
                                                                   0, &result, sizeof result);
    return sent == 0 && result == 0;
}

CHolModuleInterface* GetModuleObject() {
    if (g_module == nullptr) {
        // The module boundary owns the trace sink; install it before the first step.
        InstallTraceSink();
        g_module = new (std::nothrow) CFWUpgradeDataCDMA7627Module();
    }
    return g_module;
}

}  // namespace module

extern "C" module::CHolModuleInterface* GetModule() { return module::GetModuleObject(); }
