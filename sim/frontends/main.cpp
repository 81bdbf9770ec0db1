// cardsim: the virtual data card on a pseudo-terminal, and the package maker.
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>

#include "sim/card/Card.h"
#include "sim/frontends/CardsimOptions.h"
#include "sim/frontends/PackageMaker.h"
#include "sim/frontends/PtyFrontEnd.h"

namespace {

volatile std::sig_atomic_t gStop = 0;
volatile std::sig_atomic_t gDumpState = 0;

void OnStop(int) { gStop = 1; }
void OnDump(int) { gDumpState = 1; }

}  // namespace

int main(int argc, char** argv) {
    sim::CardsimOptions options;
    const int parsed = sim::ParseCardsimOptions(argc, argv, options);
    if (parsed >= 0) return parsed;

    if (options.makePackage) {
        std::string error;
        if (!sim::MakePackage(options.packageOut, options.package, error)) {
            std::fprintf(stderr, "cardsim: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }

    sim::CardData data;
    sim::FaultPlan faults;
    std::string error;
    if (!sim::BuildCard(options, data, faults, error)) {
        std::fprintf(stderr, "cardsim: %s\n", error.c_str());
        return 2;
    }
    sim::Card card(std::move(data), options.timing, std::move(faults));
    std::unique_ptr<std::ofstream> transcript;
    if (!options.transcript.empty()) {
        transcript = std::make_unique<std::ofstream>(options.transcript, std::ios::trunc);
        if (!*transcript) {
            std::fprintf(stderr, "cardsim: cannot write %s\n", options.transcript.c_str());
            return 1;
        }
        card.SetTranscript([&transcript](const std::string& line) { *transcript << line << '\n' << std::flush; });
    }

    struct sigaction stop {};
    stop.sa_handler = OnStop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    struct sigaction dump {};
    dump.sa_handler = OnDump;
    sigaction(SIGUSR1, &dump, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    sim::PtyFrontEnd frontEnd(card, options.frontEnd);
    return frontEnd.Run(gStop, gDumpState);
}
