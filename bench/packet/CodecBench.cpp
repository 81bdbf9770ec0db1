#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "packet/Codec.h"

namespace {

using namespace packet::codec;

std::vector<uint8_t> RandomBody(size_t n) {
    std::mt19937 gen(1662);
    std::vector<uint8_t> body(n);
    for (uint8_t& b : body) {
        b = static_cast<uint8_t>(gen());
    }
    return body;
}

void BM_Fcs1024(benchmark::State& state) {
    const auto body = RandomBody(1024);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ComputeFcs(body));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_Fcs1024);

void BM_Escape1024(benchmark::State& state) {
    const auto body = RandomBody(1024);
    std::vector<uint8_t> out(2048);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Escape(body, out));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_Escape1024);

void BM_BuildFrame1024(benchmark::State& state) {
    const auto body = RandomBody(1024);
    std::vector<uint8_t> out(2048);
    for (auto _ : state) {
        benchmark::DoNotOptimize(BuildFrame(body, true, out));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_BuildFrame1024);

void BM_DecodeFrame1024(benchmark::State& state) {
    const auto body = RandomBody(1024);
    std::vector<uint8_t> frame(2048);
    frame.resize(BuildFrame(body, true, frame));
    std::vector<uint8_t> out(frame.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeAnswer(frame, true, out));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_DecodeFrame1024);

// A full read-ahead buffer of block-written answers, split and checked.
void BM_SplitStreamingAnswers(benchmark::State& state) {
    std::vector<uint8_t> stream;
    for (uint32_t i = 0; stream.size() < 1000; ++i) {
        const uint8_t body[5] = {0x08, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0x02, 0x00};
        uint8_t frame[16];
        const size_t n = BuildFrame(body, true, frame);
        stream.insert(stream.end(), frame, frame + n);
    }
    uint8_t plain[32];
    for (auto _ : state) {
        size_t good = 0;
        ForEachStreamingFrame(stream, [&](std::span<const uint8_t> f) {
            const UnescapeResult r = Unescape(f, plain);
            good += CheckFcs(std::span<const uint8_t>(plain, r.length)) ? 1 : 0;
        });
        benchmark::DoNotOptimize(good);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_SplitStreamingAnswers);

}  // namespace
