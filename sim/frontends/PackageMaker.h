// Makes firmware package folders for tests and demos, and checks a card's
// flash against a package after an upgrade.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/card/CardData.h"

namespace sim {

struct PackageOptions {
    uint32_t seed = 1;
    uint32_t systemSize = 300000;       // bytes of system.img (three raw blocks by default)
    uint32_t amssSize = 135168 + 100;
    uint32_t cefsSize = 140000;
    bool userdata = true;
    bool splash = true;
    // A partition.mbn that differs from the table a default card holds
    // (the programmer then asks for an override).
    bool newPartitionLayout = false;
    // The version the new firmware reports, carried in amss.mbn.
    std::string version = "LUM_Q7KV1.0.0B06";
};

// The file names of a package, required ones first.
const std::vector<std::string>& RequiredPackageFiles();

// Writes a package folder (created when missing), deterministic from the
// seed. Header files and partition.mbn are at most 1024 bytes. Returns false
// with a reason when a file cannot be written.
bool MakePackage(const std::string& folder, const PackageOptions& options, std::string& error);

struct FlashCheck {
    bool ok = true;
    std::vector<std::string> problems;   // one line per mismatching partition
};

// Compares the card's flash with the package: partition table, header files,
// every image byte for byte, the vendor partition block, erased userdata
// (when the package has none), misc and cache. cefs.mbn is compared only when
// `expectCefs` (a full download wrote it).
FlashCheck CheckFlashAgainstPackage(const CardData& card, const std::string& folder, bool expectCefs);

}  // namespace sim
