// Any bytes from the port: the answer decoder must stay inside its buffers,
// and whatever it accepts must frame back to an answer it accepts again.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "packet/Codec.h"

using namespace packet::codec;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 2049) {
        return 0;
    }
    const bool flagExpected = (data[0] & 1) != 0;
    const std::span<const uint8_t> received(data + 1, size - 1);
    std::vector<uint8_t> out(received.size());
    const DecodeResult result = DecodeAnswer(received, flagExpected, out);
    if (result.length > out.size()) {
        std::abort();
    }
    if (result.status == DecodeStatus::Ok) {
        if (result.length < 2) {
            std::abort();
        }
        // Re-frame the decoded body and decode it once more: same bytes.
        const std::span<const uint8_t> body(out.data(), result.length - 2);
        std::vector<uint8_t> frame(2 * result.length + 4);
        frame.resize(BuildFrame(body, flagExpected, frame));
        std::vector<uint8_t> again(frame.size());
        const DecodeResult second = DecodeAnswer(frame, flagExpected, again);
        if (second.status != DecodeStatus::Ok || second.length != result.length ||
            !std::equal(again.begin(), again.begin() + static_cast<std::ptrdiff_t>(second.length), out.begin())) {
            std::abort();
        }
    }
    return 0;
}
