// The Windows headers, made safe to use beside platform/Platform.h.
//
// <windows.h> maps many API names to their A/W variants with macros
// (LoadLibrary, RegCreateKey, CreateDirectory, ...). Those names are also the
// names of the platform functions, so the macros are removed here and every
// Windows call in this folder names its W variant explicitly.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#undef LoadLibrary
#undef GetModuleFileName
#undef RegCreateKey
#undef RegOpenKey
#undef RegDeleteKey
#undef RegEnumKey
#undef CreateDirectory
#undef ReplaceFile
#undef BuildCommDCB

#include <string>

#include "platform/Platform.h"

namespace platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

inline const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline std::u16string FromWide(const wchar_t* text, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

}  // namespace platform::win32
