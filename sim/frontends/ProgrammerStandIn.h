// A stand-in for the flash programmer image: the same size and header layout
// as the real one (ten little-endian words, the third and fourth naming the
// code address 0x00500028), deterministic filler after it. Enough for the
// card's boot downloader to accept it; it runs nothing.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

constexpr uint32_t kProgrammerImageSize = 177376;

std::vector<uint8_t> ProgrammerStandIn();

}  // namespace sim
