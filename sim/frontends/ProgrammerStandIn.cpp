#include "sim/frontends/ProgrammerStandIn.h"

#include <cstddef>

namespace sim {

std::vector<uint8_t> ProgrammerStandIn() {
    std::vector<uint8_t> image(kProgrammerImageSize);
    const uint32_t header[10] = {0x00000005, 0x00000003, 0x00500028, 0x00500028, kProgrammerImageSize - 40,
                                 kProgrammerImageSize - 40 - 256 - 1202, 0x00500028 + kProgrammerImageSize - 40 - 256 - 1202,
                                 256, 0x00500028 + kProgrammerImageSize - 40 - 1202, 1202};
    for (int w = 0; w < 10; ++w) {
        for (int b = 0; b < 4; ++b) image[w * 4 + b] = static_cast<uint8_t>(header[w] >> (8 * b));
    }
    uint32_t state = 0x7627;
    for (std::size_t i = 40; i < image.size(); ++i) {
        state = state * 1103515245u + 12345u;
        image[i] = static_cast<uint8_t>(state >> 16);
    }
    return image;
}

}  // namespace sim
