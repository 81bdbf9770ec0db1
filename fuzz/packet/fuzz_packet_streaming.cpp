// Any bytes from the port on the streaming receive path: split into reads,
// stepped through the read-ahead buffer and parsed by CPacket, which must
// keep to its buffers and to the 64 block-written addresses.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>

#include "packet/Codec.h"
#include "packet/Packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    packet::CPacket pkt;
    packet::codec::ForEachStreamingFrame(std::span<const uint8_t>(data, size), [&](std::span<const uint8_t> frame) {
        pkt.ParseStreamingFrame(frame.data(), static_cast<uint32_t>(frame.size()));
    });
    if (pkt.BlockWrittenCount() > packet::CPacket::kBlockWrittenCapacity) {
        std::abort();
    }
    // The same bytes through the read-ahead buffer, in reads of up to 1024.
    packet::codec::ReadAhead ahead;
    uint8_t step[packet::CPacket::kResponseBufferSize];
    size_t at = 0;
    while (at < size) {
        const size_t chunk = size - at < packet::codec::ReadAhead::kCapacity ? size - at : packet::codec::ReadAhead::kCapacity;
        std::copy(data + at, data + at + chunk, ahead.FillTarget());
        ahead.Filled(static_cast<uint32_t>(chunk));
        at += chunk;
        size_t moved = 0;
        while (!ahead.Empty()) {
            const size_t n = ahead.Step(step);
            if (n == 0 || n > chunk) {
                std::abort();
            }
            moved += n;
        }
        if (moved != chunk) {
            std::abort();
        }
    }
    return 0;
}
