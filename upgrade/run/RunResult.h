// What an operation answers, and the two calls a host hands it: where
// progress goes and whether to stop.
#pragma once

#include <cstdint>
#include <functional>

namespace upgrade {

// Result codes of a run.
constexpr int32_t kUpgradeOk = 0;
constexpr int32_t kPackageRejected = -13313;   // 0xFFFFCBFF
constexpr int32_t kUpgradeFailed = -13314;     // 0xFFFFCBFE

// Progress percentages (0-100) go to the host's display module.
using ProgressReporter = std::function<void(int percent)>;
// Asked at the start of each step: true stops the operation there.
using CancelCheck = std::function<bool()>;

}  // namespace upgrade
