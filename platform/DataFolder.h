// The per-user data folder a caller chose instead of the usual one; shared
// by the backends' UserDataFolder.
#pragma once

#include <string>

namespace platform {

// "" when none was chosen.
const std::u16string& ChosenUserDataFolder();

}  // namespace platform
