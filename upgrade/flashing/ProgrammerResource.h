// The flash programmer the library carries: resource "BIN", identifier 102.
// The build generates the definition of RegisterProgrammerResource from the
// programmer image; calling it makes the bytes reachable through
// platform::LoadOwnResource on systems without a resource section.
#pragma once

#include <cstdint>

namespace upgrade {

constexpr uint32_t kProgrammerResourceId = 102;
inline constexpr char16_t kProgrammerResourceType[] = u"BIN";

void RegisterProgrammerResource();

}  // namespace upgrade
