// The plug-in's event values in the words this program shows: the steps
// (the same names for one card and for several), why an operation stopped,
// where the card is, and why a piece of its data did not go back.
#pragma once

#include <cstdint>
#include <string>

#include "host/fwupgrade/plugin/PluginOperations.h"

namespace fwupgrade {

// "saving the card's data", ...
std::string StepWords(int32_t step);
// "prepare", "backup", ...: the short names of --json and the history.
std::string StepName(int32_t step);
// "the card did not answer", ...
std::string ReasonWords(int32_t reason);
// "in its boot downloader", ...
std::string CardStateWords(int32_t state);
// "not active", "status 2", "not tried", ...
std::string NvLossWords(const CardLoss& loss);
// What the bar says the run does in `step` at `percent`: the step's words,
// and while the images stream, the image ("writing system.img").
std::string ActivityAt(int32_t step, int percent);

}  // namespace fwupgrade
