// Any bytes as the values the module reads from outside: the "Path" value of
// a module in the host's register (where it finds the host's module manager)
// and the clock-scale setting. A path too long for the register's limit is
// refused; any other is read as exactly its UTF-16 units, an odd trailing
// byte dropped, and nothing is loaded. A clock scale is taken only from a
// plain decimal number from 2 to 1,000,000.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/common/FuzzInput.h"
#include "fuzz/common/Sandbox.h"
#include "module/Application.h"
#include "module/Register.h"
#include "platform/Platform.h"

namespace {

void Require(bool property) {
    if (!property) std::abort();
}

void CheckClockScale(std::span<const uint8_t> bytes) {
    // The setting is a C string: it ends at the first NUL.
    std::string text(bytes.begin(), bytes.end());
    text.resize(std::min(text.size(), text.find('\0')));
    const uint32_t scale = module::ClockScaleFromText(text.c_str());
    if (scale == 0) return;
    Require(scale >= 2 && scale <= 1000000);
    // The digits say the number (strtoul's leading blanks and plus aside).
    const size_t digits = text.find_first_of("0123456789");
    Require(digits != std::string::npos && text.find_first_not_of(" \t\n\v\f\r+", 0) == digits);
    Require(text.find_first_not_of("0123456789", digits) == std::string::npos);
    Require(std::stoull(text.substr(digits)) == scale);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Sandbox::Get();
    fuzz::FuzzInput in(data, size);
    if (size > 0 && data[0] == 0xFF) {
        CheckClockScale(std::span<const uint8_t>(data + 1, size - 1));
        return 0;
    }
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
