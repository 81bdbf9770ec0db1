// What "the card's data is safe" means: the card holds the NV items, Wi-Fi
// address and lock files it had before the first run, and a kept backup
// holds them too.
#pragma once

#include <string>
#include <vector>

#include "sim/card/CardData.h"

namespace matrix {

// A Q7k card has NV item 96 cleared by the upgrade itself: either value is its own.
void CheckCardHolds(const sim::CardData& now, const sim::CardData& before, bool q7k, std::vector<std::string>& problems);
void CheckKeptBackupHolds(const sim::CardData& before, bool q7k, std::vector<std::string>& problems);

}  // namespace matrix
