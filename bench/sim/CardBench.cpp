#include <benchmark/benchmark.h>

#include <string>

#include "packet/ByteOrder.h"
#include "tests/support/TestClocks.h"
#include "sim/card/Card.h"
#include "sim/card/Hdlc.h"
#include "sim/frontends/ProgrammerStandIn.h"

namespace {

using sim::Bytes;

void Drain(sim::Card& card) {
    uint8_t buffer[4096];
    while (card.Read(buffer, sizeof buffer) != 0) {
    }
}

void Send(sim::Card& card, const Bytes& body, bool lead) {
    card.Receive(sim::BuildFrame(body, lead));
    Drain(card);
}

// A card with a greeted programmer and an accepted partition table.
void ToProgrammer(sim::Card& card, platform::RecordingClock& clock) {
    Send(card, {0x3A}, false);
    clock.Advance(5000);
    const Bytes image = sim::ProgrammerStandIn();
    for (size_t offset = 0; offset < image.size(); offset += 1017) {
        const size_t n = std::min<size_t>(1017, image.size() - offset);
        Bytes body{0x0F};
        packet::bytes::AppendBe32(body, static_cast<uint32_t>(0x00500000 + offset));
        packet::bytes::AppendBe16(body, static_cast<uint16_t>(n));
        body.insert(body.end(), image.begin() + offset, image.begin() + offset + n);
        Send(card, body, true);
    }
    Send(card, {0x05, 0x00, 0x50, 0x00, 0x00}, true);
    clock.Advance(5000);
    const std::string helloText = std::string("\x01QCOM fast download protocol host") + "\x02\x02\x03";
    const Bytes hello(helloText.begin(), helloText.end());
    Send(card, hello, true);
    Send(card, {0x17, 0x01}, true);
    Bytes table{0x19, 0x00};
    const Bytes current = card.Data().partitionTable;
    table.insert(table.end(), current.begin(), current.end());
    Send(card, table, true);
}

// One 8-block image per iteration: announcement, header block, data blocks.
void BM_RawImageIntake(benchmark::State& state) {
    platform::RecordingClock clock;
    platform::SetClock(&clock);
    sim::Card card;
    ToProgrammer(card, clock);
    constexpr uint32_t kBlocks = 8;
    const uint32_t size = kBlocks * sim::kRawBlockSize;
    Bytes header(sim::kPartitionHeaderBlockSize, 0);
    header[0] = 0x14;
    uint32_t headerSum = 0x14;
    sim::Bytes sumBytes;
    packet::bytes::AppendLe32(sumBytes, headerSum);
    std::copy(sumBytes.begin(), sumBytes.end(), header.begin() + sim::kRawBlockSize);
    std::vector<Bytes> blocks;
    for (uint32_t i = 0; i < kBlocks; ++i) {
        Bytes block;
        packet::bytes::AppendLe32(block, i * sim::kRawBlockSize);
        block.resize(4 + sim::kRawBlockSize, static_cast<uint8_t>(i));
        uint32_t sum = 0;
        for (size_t k = 4; k < block.size(); k += 4) sum += packet::bytes::ReadLe32(block, k);
        packet::bytes::AppendLe32(block, sum);
        blocks.push_back(std::move(block));
    }
    Bytes announce{0x1D, 0x00, 0x60, 0x00, 0x00};
    packet::bytes::AppendBe32(announce, size);
    announce.push_back(0x02);
    for (auto _ : state) {
        Send(card, announce, true);
        card.Receive(header);
        Drain(card);
        for (const auto& block : blocks) {
            card.Receive(block);
            Drain(card);
        }
    }
    if (!card.Violations().empty()) state.SkipWithError(card.Violations().front().text.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (size + sim::kPartitionHeaderBlockSize));
    platform::SetClock(nullptr);
}
BENCHMARK(BM_RawImageIntake)->Unit(benchmark::kMillisecond);

// NV item reads: the framed diagnostic path.
void BM_NvItemRead(benchmark::State& state) {
    platform::RecordingClock clock;
    platform::SetClock(&clock);
    sim::Card card;
    Bytes request{0x26, 22, 0};
    request.resize(133, 0);
    const Bytes frame = sim::BuildFrame(request, false);
    for (auto _ : state) {
        card.Receive(frame);
        Drain(card);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    platform::SetClock(nullptr);
}
BENCHMARK(BM_NvItemRead);

}  // namespace
