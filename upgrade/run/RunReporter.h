// What an operation tells the host and a front-end as it goes: progress,
// the step it enters (and whether it is asked to stop there), the first
// reason it notes for a failure, the card's last known state, the data that
// did not go back, and its outcome.
#pragma once

#include <cstdint>
#include <string>

#include "upgrade/run/CardState.h"
#include "upgrade/run/RunEvents.h"
#include "upgrade/run/RunResult.h"

namespace packet {
class CPacket;
}

namespace upgrade {

class BackupKeeper;
struct BackupPhaseState;
struct BackupRecord;
struct RunData;

class RunReporter {
public:
    explicit RunReporter(ProgressReporter progress) : progress_(std::move(progress)) {}

    // The sink (none by default) and the stop request of the operations
    // that follow; neither changes the trace.
    void SetEventSink(RunEventSink* sink) { events_ = sink; }
    void SetCancelCheck(CancelCheck check) { cancel_ = std::move(check); }

    void ShowRatio(int percent);
    // A new operation: no step, reason or card state known yet.
    void Start();
    // The step being entered; false when the front-end asked to stop.
    [[nodiscard]] bool EnterStep(RunStep step);
    // The first reason noted in an operation is the one it reports.
    void NoteFailure(FailureReason reason);
    // A failure that turned out explained: the next noted reason counts.
    void ForgetFailure() { failure_ = FailureReason::None; }
    void NoteCardState(CardState state);
    // The reason of a failure nothing noted: the card's silence or its answer.
    void NoteCardFailure(const packet::CPacket* packet);
    // The card's ESN (and its version, "" when unread) has just been read.
    void ReportCardIdentified(uint32_t esn, const std::string& softwareVersion);
    // The backup goes on without the Wi-Fi address.
    void ReportWifiNotSaved(LossReason reason);
    // Everything the last restore did not give back.
    void ReportLosses(const BackupRecord& record, const BackupPhaseState& saved);
    void ReportOutcome(int32_t result, const std::u16string& packageFolder, const BackupKeeper& keeper,
                       const RunData& data);

private:
    ProgressReporter progress_;
    RunEventSink* events_ = nullptr;
    CancelCheck cancel_;
    RunStep step_ = RunStep::Prepare;
    FailureReason failure_ = FailureReason::None;
    bool stateKnown_ = false;
    CardState knownState_ = CardState::Absent;
};

}  // namespace upgrade
