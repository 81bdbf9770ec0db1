// Command line of the cardsim program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/card/Card.h"
#include "sim/frontends/PackageMaker.h"
#include "sim/frontends/PtyFrontEnd.h"

namespace sim {

struct CardsimOptions {
    bool makePackage = false;
    std::string packageOut;
    PackageOptions package;

    FrontEndOptions frontEnd;
    std::string transcript;
    std::string profile;
    std::string scenario;
    std::vector<std::string> faults;
    CardTiming timing;
    std::string versionText;
    bool shortVersion = false;
    bool otherVersion = false;
    std::string spc;
    bool startInAtMode = false;
    bool diagAfterReset = false;
};

// Parses the arguments. Returns -1 when the program should go on, else the
// exit code (0 after --help, 2 after a usage error; the text is printed).
int ParseCardsimOptions(int argc, char** argv, CardsimOptions& options);

// Builds the card the options describe; false with a reason when the profile
// or scenario cannot be read.
bool BuildCard(const CardsimOptions& options, CardData& data, FaultPlan& faults, std::string& error);

}  // namespace sim
