// Host-side cost of streaming one image to the flash programmer of the
// virtual card, on virtual time: the raw block loop, its reads, checksums and
// waits, measured in image bytes per second of CPU.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "packet/Packet.h"
#include "platform/Platform.h"
#include "tests/support/TestClocks.h"
#include "sim/frontends/InProcessPort.h"
#include "sim/frontends/PackageMaker.h"
#include "upgrade/run/UpgradeModule.h"

namespace {

constexpr int32_t kPort = 5;

struct Bench {
    std::filesystem::path folder;
    platform::RecordingClock clock;
    sim::InProcessPortOpener opener;
    std::shared_ptr<sim::Card> card;
    upgrade::UpgradeModule module;
    std::unique_ptr<packet::CPacket> packet;

    explicit Bench(uint32_t systemSize) {
        folder = std::filesystem::temp_directory_path() / ("fwup-bench-" + std::to_string(std::random_device{}()));
        sim::PackageOptions options;
        options.systemSize = systemSize;
        std::string error;
        sim::MakePackage(folder.string(), options, error);
        platform::SetClock(&clock);
        platform::SetComPortOpener(&opener);
        if (!upgrade::UpgradeModule::ExtractProgrammer() || !module.Images().Initialize(platform::Utf8ToWide(folder.string())) ||
            !module.Images().SelectArmprgAccordingToPidVid(u"")) {
            throw std::runtime_error("the bench package does not load: " + error);
        }
    }
    ~Bench() {
        packet.reset();
        platform::SetComPortOpener(nullptr);
        platform::SetClock(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    // The programmer takes images only after a partition table.
    bool ReachProgrammer() {
        card = sim::MakeCard();
        opener.Attach(kPort, card);
        packet = std::make_unique<packet::CPacket>();
        return module.Port().InitPort(*packet, kPort) && module.Switch().SwitchToDownload(*packet) &&
               module.Programmer().DownloadArmPrg(*packet) && module.Programmer().GoToFlashPrg(*packet) && packet->SecurityMode() &&
               module.Writer().DownloadPartitionTable(*packet);
    }
};

void BM_StreamSystemImage(benchmark::State& state) {
    const uint32_t size = uint32_t(state.range(0));
    Bench bench(size);
    for (auto _ : state) {
        state.PauseTiming();
        if (!bench.ReachProgrammer()) {
            state.SkipWithError("the card did not reach its programmer");
            break;
        }
        state.ResumeTiming();
        if (!bench.module.Writer().WindowsDownloadHS(*bench.packet, bench.module.Images().DownloadFiles().strSystemPath, 0x15, 28,
                                            90)) {
            state.SkipWithError("system.img was not written");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * size);
}
BENCHMARK(BM_StreamSystemImage)->Arg(4 << 20)->Arg(32 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
