// The requests a clean run sends, each with the phase and step it belongs
// to and its place among the requests of its mode and code: what a fault
// rule needs to hit exactly that request.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/card/Card.h"
#include "tests/matrix/TraceSteps.h"

namespace matrix {

struct Request {
    Phase phase = Phase::Identify;
    std::string step;
    uint32_t stepOccurrence = 0;   // the how-many-th time this step line was traced
    std::string mode;
    int command = 0;
    uint32_t occurrence = 0;       // among the requests of this mode and code, from 1
};

// Watches a card's transcript and the trace together.
class RequestLog {
public:
    explicit RequestLog(const TraceSteps& steps) : steps_(steps) {}
    void Attach(sim::Card& card);
    void CountStep(const std::string& step) { ++stepCount_[step]; }
    const std::vector<Request>& Requests() const { return requests_; }
    std::vector<Request> InPhase(Phase phase) const;

private:
    void Take(const std::string& line);

    const TraceSteps& steps_;
    std::vector<Request> requests_;
    std::map<std::string, uint32_t> counts_;
    std::map<std::string, uint32_t> stepCount_;
};

}  // namespace matrix
