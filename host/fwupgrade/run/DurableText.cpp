#include "host/fwupgrade/run/DurableText.h"

#include <cstdint>
#include <span>

#include "platform/Platform.h"
#include "upgrade/backup/BackupSafeFile.h"

namespace fwupgrade {

bool WriteTextDurably(const std::string& path, const std::string& text, std::string& error) {
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return upgrade::WriteFileReplacing(platform::Utf8ToWide(path), bytes, error);
}

}  // namespace fwupgrade
