// Package and programmer paths: a folder, the platform's separator and a
// file name, within the fixed capacity of one path. A path that does not fit
// is refused, never cut short.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace upgrade {

// Capacity of one package path, terminator included.
constexpr size_t kPathCapacity = 260;

// Joins folder, separator and file name into out. False (out untouched) when
// the result and its terminator would exceed the path capacity.
[[nodiscard]] bool JoinPackagePath(std::u16string_view folder, std::u16string_view fileName, std::u16string& out);

// Name of the programmer file written from the library's resource.
inline constexpr std::u16string_view kProgrammerFileName = u"armprgVEKMSM7627.bin";

}  // namespace upgrade
