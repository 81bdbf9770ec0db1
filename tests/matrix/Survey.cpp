#include "tests/matrix/Survey.h"

#include <sstream>

namespace matrix {
namespace {

// The request code of a framed request as the transcript shows it (escaped
// hex); -1 for AT lines and raw data units.
int FramedCommand(const std::string& mode, const std::string& hex) {
    if (hex.size() < 4 || hex.compare(hex.size() - 2, 2, "7e") != 0) return -1;
    size_t at = 0;
    const bool leadingFlag = hex.compare(0, 2, "7e") == 0;
    if (mode != "diag" && !leadingFlag) return -1;
    while (hex.compare(at, 2, "7e") == 0) at += 2;
    if (at + 2 > hex.size()) return -1;
    int code = std::stoi(hex.substr(at, 2), nullptr, 16);
    if (code == 0x7D && at + 4 <= hex.size()) code = std::stoi(hex.substr(at + 2, 2), nullptr, 16) ^ 0x20;
    return code;
}

}  // namespace

void RequestLog::Attach(sim::Card& card) {
    card.SetTranscript([this](const std::string& line) { Take(line); });
}

void RequestLog::Take(const std::string& line) {
    std::istringstream in(line);
    std::string tick, mode, direction, hex;
    in >> tick >> mode >> direction >> hex;
    if (direction != "<" || mode == "at") return;
    const int command = FramedCommand(mode, hex);
    if (command < 0) return;
    const uint32_t occurrence = ++counts_[mode + "/" + std::to_string(command)];
    requests_.push_back({steps_.CurrentPhase(), steps_.Step(), stepCount_[steps_.Step()], mode, command, occurrence});
}

std::vector<Request> RequestLog::InPhase(Phase phase) const {
    std::vector<Request> out;
    for (const Request& request : requests_)
        if (request.phase == phase) out.push_back(request);
    return out;
}

}  // namespace matrix
