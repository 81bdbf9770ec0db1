#include "module/Register.h"

#include <vector>

namespace module {

const char16_t kHostBaseKey[] = u"Software\\vek\\vek Quillane";

namespace {

// Closes a key when it goes out of scope.
class KeyHolder {
public:
    explicit KeyHolder(platform::RegistryKey key) : key_(key) {}
    ~KeyHolder() {
        if (key_ != nullptr) {
            platform::RegCloseKey(key_);
        }
    }
    KeyHolder(const KeyHolder&) = delete;
    KeyHolder& operator=(const KeyHolder&) = delete;
    platform::RegistryKey get() const { return key_; }

private:
    platform::RegistryKey key_;
};

bool WriteText(platform::RegistryKey key, const char16_t* name, const std::u16string& text) {
    return platform::RegSetString(key, name, text.data(), static_cast<uint32_t>(text.size() * sizeof(char16_t)));
}

}  // namespace

std::u16string KeyName(int32_t number) { return DualString::FromInteger(number).Text(); }

CWin32Register::CWin32Register() : m_hBaseKey(platform::RegCreateKey(nullptr, kHostBaseKey)) {}

CWin32Register::~CWin32Register() {
    if (m_hBaseKey != nullptr) {
        platform::RegCloseKey(m_hBaseKey);
    }
}

int32_t CWin32Register::CreateModuleKey(int32_t id) {
    if (m_hBaseKey == nullptr) {
        return kBaseKeyNotOpen;
    }
    KeyHolder key(platform::RegCreateKey(m_hBaseKey, KeyName(id)));
    return key.get() != nullptr ? kRegistryOk : kKeyFailed;
}

int32_t CWin32Register::RegisterModulePathAlias(int32_t id, int32_t instance) {
    return RegisterModulePath(id, instance);
}

int32_t CWin32Register::RegisterModuleEntry(int32_t id, int32_t instance, DualString name, ModuleVersion version) {
    if (m_hBaseKey == nullptr) {
        return kKeyFailed;
    }
    {
        KeyHolder idKey(platform::RegCreateKey(m_hBaseKey, KeyName(id)));
        if (idKey.get() == nullptr) {
            return kKeyFailed;
        }
    }
    KeyHolder key(platform::RegCreateKey(m_hBaseKey, KeyName(id) + u"\\" + KeyName(instance)));
    if (key.get() == nullptr) {
        return kKeyFailed;
    }
    if (const int32_t result = WritePath(key.get()); result != kRegistryOk) {
        return result;
    }
    if (!WriteText(key.get(), u"Description", name.Text())) {
        return kValueWriteFailed;
    }
    const DualString versionText = VersionText(version.major, version.minor, version.build, version.revision);
    if (!WriteText(key.get(), u"Version", versionText.Text())) {
        return kValueWriteFailed;
    }
    return kRegistryOk;
}

int32_t CWin32Register::RegisterModulePath(int32_t id, int32_t instance) {
    if (m_hBaseKey == nullptr) {
        return kBaseKeyNotOpen;
    }
    KeyHolder key(platform::RegCreateKey(m_hBaseKey, KeyName(id) + u"\\" + KeyName(instance)));
    if (key.get() == nullptr) {
        return kKeyFailed;
    }
    return WritePath(key.get());
}

int32_t CWin32Register::WritePath(platform::RegistryKey key) {
    // The full name is written even beyond 256 units: a cut path would name
    // another file. ReadModulePath then refuses it with -9.
    const std::u16string path = platform::GetModuleFileName(m_hModuleInstance);
    return WriteText(key, u"Path", path) ? kRegistryOk : kValueWriteFailed;
}

int32_t CWin32Register::DeleteModuleKey(int32_t id) {
    if (m_hBaseKey == nullptr) {
        return kBaseKeyNotOpen;
    }
    return platform::RegDeleteKey(m_hBaseKey, KeyName(id)) ? kRegistryOk : kKeyFailed;
}

int32_t CWin32Register::UnregisterModuleAlias(int32_t id, int32_t instance) {
    return UnregisterModuleEntry(id, instance);
}

int32_t CWin32Register::UnregisterModuleEntry(int32_t id, int32_t instance) {
    if (m_hBaseKey == nullptr) {
        return kKeyFailed;
    }
    std::u16string remaining;
    {
        KeyHolder idKey(platform::RegCreateKey(m_hBaseKey, KeyName(id)));
        if (idKey.get() == nullptr) {
            return kKeyFailed;
        }
        // A missing instance key is not an error: the aim is that it is gone.
        (void)platform::RegDeleteKey(idKey.get(), KeyName(instance));
        if (platform::RegEnumKey(idKey.get(), 0, remaining)) {
            return kRegistryOk;
        }
    }
    return DeleteModuleKey(id);
}

int32_t CWin32Register::ReadModulePathAlias(int32_t id, int32_t instance, DualString* path) {
    return ReadModulePath(id, instance, path);
}

int32_t CWin32Register::ReadModulePath(int32_t id, int32_t instance, DualString* path) {
    if (path == nullptr) {
        return kNullArgument;
    }
    if (m_hBaseKey == nullptr) {
        return kBaseKeyNotOpen;
    }
    KeyHolder key(platform::RegOpenKey(m_hBaseKey, KeyName(id) + u"\\" + KeyName(instance)));
    if (key.get() == nullptr) {
        return kKeyFailed;
    }
    return ReadPathOf(key.get(), path);
}

int32_t CWin32Register::ReadPathOf(platform::RegistryKey key, DualString* path) {
    uint32_t bytes = 0;
    if (!platform::RegQueryValueSize(key, u"Path", bytes)) {
        return kPathMissing;
    }
    if (bytes > kMaxPathUnits * sizeof(char16_t)) {
        return kPathTooLong;
    }
    std::vector<char16_t> units(kMaxPathUnits + 1, u'\0');
    if (!platform::RegQueryString(key, u"Path", units.data(), bytes)) {
        return kPathMissing;
    }
    *path = DualString(units.data(), static_cast<int32_t>(bytes / sizeof(char16_t)));
    return kRegistryOk;
}

int32_t CWin32Register::LoadModuleByIndex(uint32_t keyIndex, uint32_t subkeyIndex, platform::LibraryHandle* library) {
    if (library == nullptr) {
        return kNullArgument;
    }
    if (m_hBaseKey == nullptr) {
        return kBaseKeyNotOpen;
    }
    std::u16string idName;
    if (!platform::RegEnumKey(m_hBaseKey, keyIndex, idName) || idName.size() > 255) {
        return kNoSuchSubkey;
    }
    KeyHolder idKey(platform::RegOpenKey(m_hBaseKey, idName));
    if (idKey.get() == nullptr) {
        return kKeyFailed;
    }
    std::u16string instanceName;
    if (!platform::RegEnumKey(idKey.get(), subkeyIndex, instanceName) || instanceName.size() > 255) {
        return kNoSuchSubkey;
    }
    KeyHolder key(platform::RegOpenKey(idKey.get(), instanceName));
    if (key.get() == nullptr) {
        return kKeyFailed;
    }
    DualString path;
    if (const int32_t result = ReadPathOf(key.get(), &path); result != kRegistryOk) {
        return result;
    }
    *library = platform::LoadLibrary(path.Text());
    return *library != nullptr ? kRegistryOk : kLibraryNotLoaded;
}

int32_t CWin32Register::LoadModuleLibrary(int32_t id, int32_t instance, platform::LibraryHandle* library) {
    if (library == nullptr) {
        return kNullArgument;
    }
    DualString path;
    if (const int32_t result = ReadModulePath(id, instance, &path); result != kRegistryOk) {
        return result;
    }
    *library = platform::LoadLibrary(path.Text());
    return *library != nullptr ? kRegistryOk : kLibraryNotLoaded;
}

int32_t CWin32Register::LoadModuleLibraryAlias(int32_t id, int32_t instance, platform::LibraryHandle* library) {
    return LoadModuleLibrary(id, instance, library);
}

CWin32Register& GetRegister() {
    static CWin32Register* const instance = new CWin32Register();
    return *instance;
}

}  // namespace module

