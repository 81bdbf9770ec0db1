// Wide paths to the UTF-8 byte strings POSIX calls take, and back.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace platform::posix {

inline std::string NativePath(const std::u16string& path) { return WideToUtf8(path); }
inline std::u16string WidePath(const std::string& path) { return Utf8ToWide(path); }

// Creates a folder and every missing parent; true when it exists afterwards.
bool MakeFolders(const std::string& path);

}  // namespace platform::posix
