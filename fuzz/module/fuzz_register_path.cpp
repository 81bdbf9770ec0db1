// Any bytes as the "Path" value of a module in the host's register (the
// value the module reads to find the host's module manager). A value too long
// for the register's limit is refused; any other is read as exactly its
// UTF-16 units, an odd trailing byte dropped, and nothing is loaded.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/common/FuzzInput.h"
#include "fuzz/common/Sandbox.h"
#include "module/Register.h"
#include "platform/Platform.h"

namespace {

void Require(bool property) {
    if (!property) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Sandbox::Get();
    fuzz::FuzzInput in(data, size);
    const int32_t id = 256 + in.U8() % 4;
    const int32_t instance = 1 + in.U8() % 2;
    const bool alias = in.Bit();
    const auto value = in.Rest();
    if (value.size() > 4096) return 0;

    const std::u16string keyPath = std::u16string(module::kHostBaseKey) + u"\\" + module::KeyName(id) + u"\\" +
                                   module::KeyName(instance);
    platform::RegistryKey key = platform::RegCreateKey(nullptr, keyPath);
    Require(key != nullptr);
    // The value's bytes exactly, whatever their count.
    std::u16string units((value.size() + 1) / 2, u'\0');
    if (!value.empty()) std::memcpy(units.data(), value.data(), value.size());
    Require(platform::RegSetString(key, u"Path", units.data(), static_cast<uint32_t>(value.size())));
    platform::RegCloseKey(key);

    module::DualString path;
    const int32_t result = !alias ? module::GetRegister().ReadModulePath(id, instance, &path)
                                    : module::GetRegister().ReadModulePathAlias(id, instance, &path);
    if (value.size() > module::kMaxPathUnits * sizeof(char16_t)) {
        Require(result == module::kPathTooLong);
        return 0;
    }
    Require(result == module::kRegistryOk);
    const std::u16string expected(units.data(), value.size() / 2);
    Require(path.Text() == expected);
    return 0;
}
