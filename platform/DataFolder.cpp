#include "platform/DataFolder.h"

#include "platform/Platform.h"

namespace platform {
namespace {

std::u16string& Chosen() {
    static std::u16string folder;
    return folder;
}

}  // namespace

const std::u16string& ChosenUserDataFolder() { return Chosen(); }

void SetUserDataFolder(const std::u16string& folder) { Chosen() = folder; }

}  // namespace platform
