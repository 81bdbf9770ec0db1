// The module-manager agent: finds the host's module manager in the register
// (identifier 256, instance 1), loads it on the first message and hands it
// every message addressed to another host module. Slots 0-2, 4 and 5 are the
// same sending in other argument packagings; they all end in slot 3.
#pragma once

#include <cstdint>

#include "module/ModuleInterface.h"
#include "module/ModuleRoute.h"
#include "platform/Platform.h"

namespace module {

constexpr int32_t kManagerModuleId = 256;
constexpr int32_t kManagerInstance = 1;
constexpr int32_t kRouteMessage = 1025;   // 0x401: "deliver this ModuleRoute"

struct ModuleAddress {
    int32_t id;
    int32_t instance;
    int32_t message;
};

struct ModuleBuffers {
    int32_t inLength;
    void* inBuffer;
    int32_t outLength;
    void* outBuffer;
    int32_t resultLength;
    void* resultBuffer;
};

struct ModuleIdentity {
    int32_t id;
    int32_t instance;
};

class CModuleManagerAgentInterface {
public:
    virtual int32_t SendMessageTo(ModuleAddress address, ModuleBuffers buffers) = 0;
    virtual int32_t SendMessageTo(ModuleIdentity module, int32_t message, int32_t inLength, void* inBuffer,
                                  int32_t outLength, void* outBuffer, int32_t resultLength, void* resultBuffer) = 0;
    virtual int32_t SendMessageTo(int32_t id, int32_t instance, int32_t message, int32_t inLength, void* inBuffer,
                                  int32_t outLength, void* outBuffer, int32_t resultLength, void* resultBuffer) = 0;
    virtual int32_t SendModuleMessage(int32_t id, int32_t instance, int32_t message, void* inBuffer,
                                      int32_t inLength, void* outBuffer, int32_t outLength, void* resultBuffer,
                                      int32_t resultLength) = 0;
    virtual int32_t SendResultOnly(int32_t id, int32_t instance, int32_t message, int32_t resultLength,
                                   void* resultBuffer) = 0;
    virtual int32_t SendResultOnly(int32_t id, int32_t instance, int32_t message, void* resultBuffer,
                                   int32_t resultLength) = 0;
    virtual CHolModuleInterface* ManagerModule() = 0;

protected:
    ~CModuleManagerAgentInterface() = default;   // process-wide, never deleted through the base
};

class CWin32ModuleManagerAgent final : public CModuleManagerAgentInterface {
public:
    CWin32ModuleManagerAgent() = default;
    CWin32ModuleManagerAgent(const CWin32ModuleManagerAgent&) = delete;
    CWin32ModuleManagerAgent& operator=(const CWin32ModuleManagerAgent&) = delete;
    ~CWin32ModuleManagerAgent() = default;

    int32_t SendMessageTo(ModuleAddress address, ModuleBuffers buffers) override;
    int32_t SendMessageTo(ModuleIdentity module, int32_t message, int32_t inLength, void* inBuffer, int32_t outLength,
                          void* outBuffer, int32_t resultLength, void* resultBuffer) override;
    int32_t SendMessageTo(int32_t id, int32_t instance, int32_t message, int32_t inLength, void* inBuffer,
                          int32_t outLength, void* outBuffer, int32_t resultLength, void* resultBuffer) override;
    // -14: target below 256; -15: instance not above 0; a connection error
    // unchanged; the manager's non-zero answer; else the routed result.
    int32_t SendModuleMessage(int32_t id, int32_t instance, int32_t message, void* inBuffer, int32_t inLength,
                              void* outBuffer, int32_t outLength, void* resultBuffer, int32_t resultLength) override;
    int32_t SendResultOnly(int32_t id, int32_t instance, int32_t message, int32_t resultLength,
                           void* resultBuffer) override;
    int32_t SendResultOnly(int32_t id, int32_t instance, int32_t message, void* resultBuffer,
                           int32_t resultLength) override;
    CHolModuleInterface* ManagerModule() override { return m_pManagerModule; }

private:
    int32_t Connect();

    platform::LibraryHandle m_hManagerLibrary = nullptr;
    CHolModuleInterface* m_pManagerModule = nullptr;
};

// The process-wide agent, created on first use, never deleted.
CWin32ModuleManagerAgent& GetModuleManagerAgent();

}  // namespace module
