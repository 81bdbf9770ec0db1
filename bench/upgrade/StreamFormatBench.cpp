// Throughput of the raw-block work done on the host for every block sent:
// the checksum, the data-block frame and the partition header block.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "upgrade/flashing/StreamFormat.h"

namespace {

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = 12345;
    for (uint8_t& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = uint8_t(state >> 24);
    }
    return bytes;
}

void BM_BlockChecksum(benchmark::State& state) {
    const std::vector<uint8_t> block = Pattern(size_t(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(upgrade::BlockChecksum(block));
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_BlockChecksum)->Arg(upgrade::kRawBlockSize)->Arg(upgrade::kRawBlockSize - 1);

void BM_BuildDataBlock(benchmark::State& state) {
    const std::vector<uint8_t> block = Pattern(upgrade::kRawBlockSize);
    std::vector<uint8_t> frame(upgrade::kRawBlockFrameSize);
    for (auto _ : state) {
        const uint32_t sum = upgrade::BlockChecksum(block);
        benchmark::DoNotOptimize(upgrade::BuildDataBlock(0x21000, block, sum, frame));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * upgrade::kRawBlockSize);
}
BENCHMARK(BM_BuildDataBlock);

void BM_BuildPartitionHeaderBlock(benchmark::State& state) {
    const std::vector<uint8_t> table = Pattern(4096);
    std::vector<uint8_t> out(upgrade::kPartitionHeaderBlockSize);
    for (auto _ : state) {
        upgrade::BuildPartitionHeaderBlock(0x14, table, out);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * upgrade::kPartitionHeaderBlockSize);
}
BENCHMARK(BM_BuildPartitionHeaderBlock);

}  // namespace

BENCHMARK_MAIN();
