// The interface every host module implements. The host calls these
// operations by their position in the virtual table, so the declaration
// order below is binding and must never change:
//   0 GetModuleId, 1 GetModuleInstance, 2 GetModuleName, 3 GetModuleVersion,
//   4 RegisterModule, 5 UnregisterModule, 6 HandleMessage, 7 destructor,
//   8 OnMessage1, 9 OnMessage2, 10 OnMessage3.
// Slot 7 is the deleting destructor as a Windows host compiled with
// Microsoft's compiler calls it: one table entry taking a flags word (bit 0:
// free the memory). A C++ virtual destructor would take two entries under
// the ABI of g++, clang and MinGW and move every later slot by one, so the
// interface declares that entry itself (DeleteThis) and keeps its own
// destructor protected and non-virtual. Final classes implement it with
// FW_MODULE_DELETE_THIS.
#pragma once

#include <cstdint>

#include "module/DualString.h"

namespace module {

// Four signed 32-bit numbers: major, minor, build, revision.
struct ModuleVersion {
    int32_t major = 0;
    int32_t minor = 0;
    int32_t build = 0;
    int32_t revision = 0;
};
static_assert(sizeof(ModuleVersion) == 16);

// Answers of HandleMessage.
constexpr int32_t kMessageHandled = 0;
constexpr int32_t kBadLength = -1;
constexpr int32_t kUnknownMessage = -2;
// The answer of an operation a module does not provide.
constexpr int32_t kNotProvided = -12289;   // 0xFFFFCFFF

// The generic messages every module understands.
constexpr int32_t kMessageQuery1 = 1;
constexpr int32_t kMessageExchange2 = 2;
constexpr int32_t kMessageQuery3 = 3;

class CHolModuleInterface {
public:
    virtual int32_t GetModuleId() = 0;
    virtual int32_t GetModuleInstance() = 0;
    virtual DualString GetModuleName() = 0;
    virtual const ModuleVersion* GetModuleVersion() = 0;
    virtual int32_t RegisterModule() = 0;
    virtual int32_t UnregisterModule() = 0;
    // message, in-length, in-buffer, out-length, out-buffer, result-length,
    // result-buffer. 0: handled; -1: a length does not fit; -2: unknown.
    virtual int32_t HandleMessage(int32_t message, int32_t inLength, void* inBuffer, int32_t outLength,
                                  void* outBuffer, int32_t resultLength, void* resultBuffer) = 0;
    // Destroys the object; frees its memory when bit 0 of flags is set.
    // Returns the object's address.
    virtual void* DeleteThis(unsigned int flags) = 0;
    virtual int32_t OnMessage1() = 0;
    virtual int32_t OnMessage2(int32_t* value) = 0;
    virtual int32_t OnMessage3() = 0;

protected:
    ~CHolModuleInterface() = default;
};

// Slot 7 of a final module class.
#define FW_MODULE_DELETE_THIS(Class)                          \
    void* DeleteThis(unsigned int flags) override {           \
        if ((flags & 1u) != 0) {                              \
            delete this;                                      \
        } else {                                              \
            this->~Class();                                   \
        }                                                     \
        return this;                                          \
    }

// The common part of a module: its identity, registration through the
// process-wide registry wrapper, and the generic messages 1, 2 and 3.
class CVmoduleBase : public CHolModuleInterface {
public:
    CVmoduleBase(int32_t id, int32_t instance, const DualString& name, ModuleVersion version);
    CVmoduleBase(const CVmoduleBase&) = delete;
    CVmoduleBase& operator=(const CVmoduleBase&) = delete;

    int32_t GetModuleId() override;
    int32_t GetModuleInstance() override;
    DualString GetModuleName() override;
    const ModuleVersion* GetModuleVersion() override;
    int32_t RegisterModule() override;
    int32_t UnregisterModule() override;
    // Messages 1, 2 and 3; every other message is unknown (-2).
    int32_t HandleMessage(int32_t message, int32_t inLength, void* inBuffer, int32_t outLength, void* outBuffer,
                          int32_t resultLength, void* resultBuffer) override;
    int32_t OnMessage1() override;
    int32_t OnMessage2(int32_t* value) override;
    int32_t OnMessage3() override;

protected:
    ~CVmoduleBase() = default;

    int32_t m_nModuleId;
    int32_t m_nModuleInstance;
    DualString m_strModuleName;
    ModuleVersion m_Version;
};

// True when a caller's (length, buffer) pair can be used: a non-zero length
// needs a buffer, and lengths are never negative.
inline bool BufferUsable(int32_t length, const void* buffer) {
    return length >= 0 && (length == 0 || buffer != nullptr);
}

// Stores a 32-bit value into a caller's result buffer: at most the four
// bytes of the value, however long the caller says the buffer is.
void StoreResult(int32_t value, int32_t resultLength, void* resultBuffer);

}  // namespace module
