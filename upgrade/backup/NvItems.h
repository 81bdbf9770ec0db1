// NV items the operations read and write themselves.
#pragma once

#include <cstddef>
#include <cstdint>

namespace upgrade {

// The factory test mode switch: 1 starts the card in download mode.
constexpr uint16_t kNvFtmModeItem = 453;
// The item the upgrade keeps and writes back; only its first bytes are kept.
constexpr uint16_t kNv22Item = 22;
constexpr size_t kNv22KeptBytes = 22;

}  // namespace upgrade
