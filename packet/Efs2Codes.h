// The EFS2 file commands of the card's diagnostic port (subsystem 0x13 of
// command 0x4B), shared by the host that asks and the card that answers.
#pragma once

#include <cstdint>

namespace packet::efs2 {

inline constexpr uint8_t kSubsystem = 0x13;
inline constexpr uint16_t kOpen = 0x0002;
inline constexpr uint16_t kClose = 0x0003;
inline constexpr uint16_t kRead = 0x0004;
inline constexpr uint16_t kWrite = 0x0005;
inline constexpr uint16_t kOpenDir = 0x000B;
inline constexpr uint16_t kReadDir = 0x000C;
inline constexpr uint16_t kCloseDir = 0x000D;
inline constexpr uint16_t kFstat = 0x0011;

}  // namespace packet::efs2
