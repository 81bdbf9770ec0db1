// Checks, after a failed upgrade and its retry under Wine, that the virtual
// card holds the NV items, Wi-Fi address and lock files it started with (a
// default Q7k card, whose item 96 the run clears before its backup).
//
//   data_check <state.json>
#include <cstdio>
#include <fstream>

#include <nlohmann/json.hpp>

#include "sim/card/CardData.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: data_check <state.json>\n");
        return 2;
    }
    std::ifstream stateFile(argv[1]);
    nlohmann::json state;
    try {
        stateFile >> state;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "data_check: %s is not JSON: %s\n", argv[1], error.what());
        return 2;
    }
    const sim::CardData now = sim::CardDataFromJson(state);
    sim::CardData before = sim::DefaultCardData();
    before.nv.at(96).data.fill(0);
    int problems = 0;
    for (const auto& [item, nv] : before.nv) {
        if (nv.inactive || now.nv.at(item).data == nv.data) continue;
        std::printf("data_check: NV item %u differs from the card's own\n", unsigned(item));
        ++problems;
    }
    if (now.wifi != before.wifi) {
        std::printf("data_check: the Wi-Fi address differs from the card's own\n");
        ++problems;
    }
    if (now.efsFiles != before.efsFiles) {
        std::printf("data_check: the lock files differ from the card's own\n");
        ++problems;
    }
    std::printf("data_check: %s\n", problems == 0 ? "the card holds its own data" : "the card lost data");
    return problems == 0 ? 0 : 1;
}
