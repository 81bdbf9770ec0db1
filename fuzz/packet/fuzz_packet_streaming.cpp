// Any bytes from the port on the streaming receive path. The split hands on
// flag-free frames in order, each lying between an opening and a closing
// flag; the read-ahead buffer hands a read on unchanged, each step ending at
// a closing flag or at the end of the read; and CPacket keeps to its buffers
// and to the 64 block-written places.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "packet/Codec.h"
#include "packet/Packet.h"

namespace {

void Require(bool property) {
    if (!property) std::abort();
}

void CheckSplit(std::span<const uint8_t> bytes, packet::CPacket& pkt) {
    const uint8_t* previousEnd = bytes.data();
    size_t calls = 0;
    const size_t frames = packet::codec::ForEachStreamingFrame(bytes, [&](std::span<const uint8_t> frame) {
        ++calls;
        Require(std::find(frame.begin(), frame.end(), packet::codec::kFlag) == frame.end());
        Require(frame.data() >= previousEnd && frame.data() + frame.size() < bytes.data() + bytes.size());
        Require(frame.data()[frame.size()] == packet::codec::kFlag);   // closed by a flag
        previousEnd = frame.data() + frame.size() + 1;
        (void)pkt.ParseStreamingFrame(frame.data(), static_cast<uint32_t>(frame.size()));   // any frame may fail
    });
    Require(frames == calls);
    Require(pkt.BlockWrittenCount() <= packet::CPacket::kBlockWrittenCapacity);
}

void CheckReadAhead(std::span<const uint8_t> bytes) {
    packet::codec::ReadAhead ahead;
    uint8_t step[packet::CPacket::kResponseBufferSize];
    for (size_t at = 0; at < bytes.size();) {
        const size_t chunk = std::min(bytes.size() - at, packet::codec::ReadAhead::kCapacity);
        std::copy_n(bytes.data() + at, chunk, ahead.FillTarget());
        ahead.Filled(static_cast<uint32_t>(chunk));
        // The steps hand on the read's bytes in order, no more and no fewer.
        const uint8_t* const read = bytes.data() + at;
        size_t handed = 0;
        while (!ahead.Empty()) {
            const size_t n = ahead.Step(step);
            Require(n != 0 && n <= chunk - handed);
            Require(std::equal(step, step + n, read + handed));
            handed += n;
            // A step ends at a closing flag unless the read ran out; a flag
            // that opens a frame is never handed on alone.
            Require(ahead.Empty() || (n > 1 && step[n - 1] == packet::codec::kFlag));
        }
        Require(handed == chunk);
        at += chunk;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    packet::CPacket pkt;
    const std::span<const uint8_t> bytes(data, size);
    CheckSplit(bytes, pkt);
    CheckReadAhead(bytes);
    return 0;
}
