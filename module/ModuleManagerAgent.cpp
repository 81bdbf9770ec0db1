#include "module/ModuleManagerAgent.h"

#include "module/Register.h"

namespace module {

using GetModuleFunction = CHolModuleInterface* (*)();

int32_t CWin32ModuleManagerAgent::SendMessageTo(ModuleAddress address, ModuleBuffers buffers) {
    return SendMessageTo(ModuleIdentity{address.id, address.instance}, address.message, buffers.inLength,
                         buffers.inBuffer, buffers.outLength, buffers.outBuffer, buffers.resultLength,
                         buffers.resultBuffer);
}

int32_t CWin32ModuleManagerAgent::SendMessageTo(ModuleIdentity module, int32_t message, int32_t inLength,
                                                void* inBuffer, int32_t outLength, void* outBuffer,
                                                int32_t resultLength, void* resultBuffer) {
    return SendMessageTo(module.id, module.instance, message, inLength, inBuffer, outLength, outBuffer,
                         resultLength, resultBuffer);
}

int32_t CWin32ModuleManagerAgent::SendMessageTo(int32_t id, int32_t instance, int32_t message, int32_t inLength,
                                                void* inBuffer, int32_t outLength, void* outBuffer,
                                                int32_t resultLength, void* resultBuffer) {
    return SendModuleMessage(id, instance, message, inBuffer, inLength, outBuffer, outLength, resultBuffer,
                             resultLength);
}

int32_t CWin32ModuleManagerAgent::SendResultOnly(int32_t id, int32_t instance, int32_t message,
                                                 int32_t resultLength, void* resultBuffer) {
    return SendResultOnly(id, instance, message, resultBuffer, resultLength);
}

int32_t CWin32ModuleManagerAgent::SendResultOnly(int32_t id, int32_t instance, int32_t message, void* resultBuffer,
                                                 int32_t resultLength) {
    return SendModuleMessage(id, instance, message, nullptr, 0, nullptr, 0, resultBuffer, resultLength);
}

int32_t CWin32ModuleManagerAgent::SendModuleMessage(int32_t id, int32_t instance, int32_t message, void* inBuffer,
                                                    int32_t inLength, void* outBuffer, int32_t outLength,
                                                    void* resultBuffer, int32_t resultLength) {
    if (id <= 255) {
        return kTargetIdTooLow;
    }
    if (instance <= 0) {
        return kTargetInstanceTooLow;
    }
    if (const int32_t connected = Connect(); connected != kRegistryOk) {
        return connected;
    }
    ModuleRoute route;
    route.targetId = id;
    route.targetInstance = instance;
    route.message = message;
    route.inLength = inLength;
    route.inBuffer = inBuffer;
    route.outLength = outLength;
    route.outBuffer = outBuffer;
    route.resultLength = resultLength;
    route.resultBuffer = resultBuffer;
    uint8_t record[kModuleRouteSize];
    EncodeModuleRoute(route, record);

    // The result slot holds the target identifier until the manager
    // overwrites it. It lives on this call's stack so that a routed call
    // which itself sends a message cannot clobber it.
    int32_t resultSlot = id;
    const int32_t handled = m_pManagerModule->HandleMessage(kRouteMessage, static_cast<int32_t>(kModuleRouteSize),
                                                            record, 0, nullptr, 4, &resultSlot);
    return handled != 0 ? handled : resultSlot;
}

int32_t CWin32ModuleManagerAgent::Connect() {
    if (m_pManagerModule != nullptr) {
        return kRegistryOk;
    }
    if (m_hManagerLibrary == nullptr) {
        platform::LibraryHandle library = nullptr;
        if (const int32_t loaded = GetRegister().LoadModuleLibrary(kManagerModuleId, kManagerInstance, &library);
            loaded != kRegistryOk) {
            return loaded;
        }
        m_hManagerLibrary = library;   // stays loaded for the life of the process
    }
    const auto getModule =
        reinterpret_cast<GetModuleFunction>(platform::GetProcAddress(m_hManagerLibrary, "GetModule"));
    if (getModule == nullptr) {
        return kNoGetModuleExport;
    }
    // A manager that hands out no module object cannot route anything; it is
    // asked again on the next message instead of being called through null.
    m_pManagerModule = getModule();
    return m_pManagerModule != nullptr ? kRegistryOk : kNoGetModuleExport;
}

CWin32ModuleManagerAgent& GetModuleManagerAgent() {
    static CWin32ModuleManagerAgent* const agent = new CWin32ModuleManagerAgent();
    return *agent;
}

}  // namespace module
