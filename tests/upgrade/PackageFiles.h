// Writes a package folder of small, valid files for the package-check tests.
#pragma once

#include <string>
#include <vector>

#include "tests/support/TempFolder.h"

namespace upgrade_test {

using test_support::TempFolder;

inline const std::vector<std::string>& RequiredPackageFiles() {
    static const std::vector<std::string> names = {
        "partition.mbn", "qcsblhd_cfgdata.mbn", "qcsbl.mbn",         "oemsblhd.mbn", "oemsbl.mbn",
        "amsshd.mbn",    "amss.mbn",            "appsboothd.mbn",    "appsboot.mbn", "partition_vek.mbn",
        "system.img",    "boot.img",            "recovery.img",      "cefs.mbn",
    };
    return names;
}

inline void WriteSmallPackage(const TempFolder& folder, bool withOptional = true) {
    uint8_t seed = 1;
    for (const std::string& name : RequiredPackageFiles()) folder.WritePattern(name, 64, seed++);
    if (withOptional) {
        folder.WritePattern("userdata.img", 64, seed++);
        folder.WritePattern("splash.img", 64, seed++);
    }
}

}  // namespace upgrade_test
