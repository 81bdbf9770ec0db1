// A small text file the program keeps beside a run (a run folder's mark, a
// station port's firmware pin): written to a temporary name, synced, renamed
// over, and its folder synced, so a power cut leaves the old text or the new.
#pragma once

#include <string>

namespace fwupgrade {

// False with the reason in error when any of those steps fails.
[[nodiscard]] bool WriteTextDurably(const std::string& path, const std::string& text, std::string& error);

}  // namespace fwupgrade
