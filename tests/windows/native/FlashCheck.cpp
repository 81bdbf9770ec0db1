// Checks, after the Windows plug-in has upgraded the virtual card, that the
// card's flash (from the state file cardsim writes when it stops) holds the
// package byte for byte.
//
//   flash_check <state.json> <package folder> <expect cefs: 0|1>
#include <cstdio>
#include <fstream>

#include <nlohmann/json.hpp>

#include "sim/card/CardData.h"
#include "sim/frontends/PackageMaker.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: flash_check <state.json> <package folder> <expect cefs: 0|1>\n");
        return 2;
    }
    std::ifstream stateFile(argv[1]);
    if (!stateFile) {
        std::fprintf(stderr, "flash_check: cannot read %s\n", argv[1]);
        return 2;
    }
    nlohmann::json state;
    try {
        stateFile >> state;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "flash_check: %s is not JSON: %s\n", argv[1], error.what());
        return 2;
    }
    // Only the flash is compared; the card's file system is left out of the
    // state read back.
    state.erase("efs");
    sim::CardData card = sim::CardDataFromJson(state);
    // The erase marks travel in the digest table of the state file.
    if (state.contains("partition_digests")) {
        for (const auto& [name, digest] : state["partition_digests"].items()) {
            if (digest.contains("erased")) card.partitions[name].erased = digest["erased"].get<bool>();
        }
    }
    const sim::FlashCheck check = sim::CheckFlashAgainstPackage(card, argv[2], argv[3][0] == '1');
    for (const std::string& problem : check.problems) std::printf("flash_check: %s\n", problem.c_str());
    std::printf("flash_check: %s\n", check.ok ? "the flash holds the package" : "the flash differs from the package");

    // The run went through the card's re-enumerations (download mode, the
    // programmer, the new firmware) on the same COM link, without protocol faults.
    const int modeChanges = state.value("mode_changes", 0);
    const bool newFirmware = state.value("new_firmware", false);
    const size_t violations = state.contains("violations") ? state["violations"].size() : 0;
    std::printf("flash_check: %d mode changes, new firmware %s, %zu protocol violations\n", modeChanges,
                newFirmware ? "running" : "not running", violations);
    if (violations > 0) std::printf("flash_check: %s\n", state["violations"].dump().c_str());
    return check.ok && modeChanges >= 3 && newFirmware && violations == 0 ? 0 : 1;
}
