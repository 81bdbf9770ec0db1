#include <algorithm>
#include <cstring>

#include "module/ModuleInterface.h"
#include "module/Register.h"

namespace module {

CVmoduleBase::CVmoduleBase(int32_t id, int32_t instance, const DualString& name, ModuleVersion version)
    : m_nModuleId(id), m_nModuleInstance(instance), m_strModuleName(name), m_Version(version) {}

int32_t CVmoduleBase::GetModuleId() { return m_nModuleId; }

int32_t CVmoduleBase::GetModuleInstance() { return m_nModuleInstance; }

DualString CVmoduleBase::GetModuleName() { return m_strModuleName; }

const ModuleVersion* CVmoduleBase::GetModuleVersion() { return &m_Version; }

int32_t CVmoduleBase::RegisterModule() {
    return GetRegister().RegisterModuleEntry(m_nModuleId, m_nModuleInstance, m_strModuleName, m_Version);
}

int32_t CVmoduleBase::UnregisterModule() {
    return GetRegister().UnregisterModuleEntry(m_nModuleId, m_nModuleInstance);
}

int32_t CVmoduleBase::HandleMessage(int32_t message, int32_t inLength, void* inBuffer, int32_t outLength,
                                    void* outBuffer, int32_t resultLength, void* resultBuffer) {
    // Each message checks only the buffers it uses: the input buffer is never
    // read here, and a message outside the table touches nothing at all, so
    // whatever a caller passes with it answers "unknown", not "bad length".
    (void)inLength;
    (void)inBuffer;
    switch (message) {
        case kMessageQuery1:
        case kMessageQuery3:
            if (resultLength != 4 || resultBuffer == nullptr) {
                return kBadLength;
            }
            StoreResult(message == kMessageQuery1 ? OnMessage1() : OnMessage3(), resultLength, resultBuffer);
            return kMessageHandled;
        case kMessageExchange2: {
            if (outLength != 4 || outBuffer == nullptr || resultLength != 4 || resultBuffer == nullptr) {
                return kBadLength;
            }
            int32_t value;
            std::memcpy(&value, outBuffer, sizeof value);
            StoreResult(OnMessage2(&value), resultLength, resultBuffer);
            std::memcpy(outBuffer, &value, sizeof value);
            return kMessageHandled;
        }
        default:
            return kUnknownMessage;
    }
}

int32_t CVmoduleBase::OnMessage1() { return kNotProvided; }

int32_t CVmoduleBase::OnMessage2(int32_t* /*value*/) { return kNotProvided; }

int32_t CVmoduleBase::OnMessage3() { return kNotProvided; }

void StoreResult(int32_t value, int32_t resultLength, void* resultBuffer) {
    if (resultBuffer == nullptr || resultLength <= 0) {
        return;
    }
    const size_t count = std::min<size_t>(static_cast<size_t>(resultLength), sizeof value);
    std::memcpy(resultBuffer, &value, count);
}

}  // namespace module
