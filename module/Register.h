// The host's register of modules under HKEY_CURRENT_USER:
//   "Software\vek\vek Quillane" \ <identifier> \ <instance>
// with the values "Path", "Description" and "Version" (UTF-16, no NUL).
// The operations are called by slot, so their order is binding.
#pragma once

#include <cstdint>

#include "module/DualString.h"
#include "module/ModuleInterface.h"
#include "platform/Platform.h"

namespace module {

// Result codes of the registry wrapper and the agent.
constexpr int32_t kRegistryOk = 0;
constexpr int32_t kKeyFailed = -3;
constexpr int32_t kValueWriteFailed = -4;
constexpr int32_t kPathMissing = -8;
constexpr int32_t kPathTooLong = -9;
constexpr int32_t kNullArgument = -10;
constexpr int32_t kBaseKeyNotOpen = -11;
constexpr int32_t kLibraryNotLoaded = -12;
constexpr int32_t kNoGetModuleExport = -13;
constexpr int32_t kTargetIdTooLow = -14;
constexpr int32_t kTargetInstanceTooLow = -15;
constexpr int32_t kNoSuchSubkey = -11266;   // 0xFFFFD3FE

// The longest "Path" the register accepts, in UTF-16 units.
constexpr uint32_t kMaxPathUnits = 256;

extern const char16_t kHostBaseKey[];   // u"Software\\vek\\vek Quillane"

class CRegisterBase {
public:
    virtual int32_t CreateModuleKey(int32_t id) = 0;
    virtual int32_t RegisterModulePathAlias(int32_t id, int32_t instance) = 0;
    virtual int32_t RegisterModuleEntry(int32_t id, int32_t instance, DualString name, ModuleVersion version) = 0;
    virtual int32_t RegisterModulePath(int32_t id, int32_t instance) = 0;
    virtual int32_t DeleteModuleKey(int32_t id) = 0;
    virtual int32_t UnregisterModuleAlias(int32_t id, int32_t instance) = 0;
    virtual int32_t UnregisterModuleEntry(int32_t id, int32_t instance) = 0;
    virtual int32_t ReadModulePathAlias(int32_t id, int32_t instance, DualString* path) = 0;
    virtual int32_t ReadModulePath(int32_t id, int32_t instance, DualString* path) = 0;
    virtual int32_t LoadModuleByIndex(uint32_t keyIndex, uint32_t subkeyIndex, platform::LibraryHandle* library) = 0;
    virtual int32_t LoadModuleLibrary(int32_t id, int32_t instance, platform::LibraryHandle* library) = 0;
    virtual int32_t LoadModuleLibraryAlias(int32_t id, int32_t instance, platform::LibraryHandle* library) = 0;

protected:
    ~CRegisterBase() = default;   // process-wide, never deleted through the base
};

class CWin32Register final : public CRegisterBase {
public:
    // Opens (creates) the base key; on failure every operation answers -11 or -3.
    CWin32Register();
    CWin32Register(const CWin32Register&) = delete;
    CWin32Register& operator=(const CWin32Register&) = delete;
    ~CWin32Register();

    int32_t CreateModuleKey(int32_t id) override;
    int32_t RegisterModulePathAlias(int32_t id, int32_t instance) override;
    int32_t RegisterModuleEntry(int32_t id, int32_t instance, DualString name, ModuleVersion version) override;
    int32_t RegisterModulePath(int32_t id, int32_t instance) override;
    int32_t DeleteModuleKey(int32_t id) override;
    int32_t UnregisterModuleAlias(int32_t id, int32_t instance) override;
    int32_t UnregisterModuleEntry(int32_t id, int32_t instance) override;
    int32_t ReadModulePathAlias(int32_t id, int32_t instance, DualString* path) override;
    int32_t ReadModulePath(int32_t id, int32_t instance, DualString* path) override;
    int32_t LoadModuleByIndex(uint32_t keyIndex, uint32_t subkeyIndex, platform::LibraryHandle* library) override;
    int32_t LoadModuleLibrary(int32_t id, int32_t instance, platform::LibraryHandle* library) override;
    int32_t LoadModuleLibraryAlias(int32_t id, int32_t instance, platform::LibraryHandle* library) override;

    // The library whose file name registration writes as "Path".
    void SetModuleInstance(platform::LibraryHandle instance) { m_hModuleInstance = instance; }
    platform::LibraryHandle ModuleInstance() const { return m_hModuleInstance; }
    bool BaseKeyOpen() const { return m_hBaseKey != nullptr; }

private:
    int32_t WritePath(platform::RegistryKey key);
    int32_t ReadPathOf(platform::RegistryKey key, DualString* path);

    platform::LibraryHandle m_hModuleInstance = nullptr;
    platform::RegistryKey m_hBaseKey = nullptr;
};

// The process-wide registry wrapper, created on first use, never deleted.
CWin32Register& GetRegister();

// Decimal key name of a number.
std::u16string KeyName(int32_t number);

}  // namespace module
