// A transcript of everything a run does towards the card and the host, in
// the order it happens: ports opened and closed, line settings, purges,
// the bytes each way, the pauses asked of the clock, trace lines and
// progress values. Two runs that behave the same give the same text, however
// the code that made them is arranged.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "tests/support/TestClocks.h"

namespace upgrade_test {

class RunTranscript {
public:
    // Lines the host saw since the last event (trace lines, progress values),
    // pulled in before each event so they land where they happened.
    using HostLines = std::function<std::vector<std::string>()>;
    void SetHostLines(HostLines source) { hostLines_ = std::move(source); }

    void Event(const std::string& line);
    // Consecutive bytes in one direction make one entry, so the way a
    // stream was cut into reads and writes does not show.
    void Bytes(char direction, const uint8_t* data, uint32_t count);
    // Back-to-back equal pauses (polls) make one entry with a count.
    void Pause(uint32_t milliseconds);
    // Closes any open entry and returns the text.
    std::string Text();

private:
    void CloseOpenEntry();
    void PullHostLines();

    HostLines hostLines_;
    std::vector<std::string> lines_;
    char direction_ = 0;
    std::vector<uint8_t> pending_;
    uint32_t pause_ = 0;
    uint32_t pauseCount_ = 0;
};

// The recording clock, telling the transcript of every pause.
class TranscriptClock : public platform::RecordingClock {
public:
    explicit TranscriptClock(RunTranscript& transcript) : transcript_(transcript) {}
    void Sleep(uint32_t milliseconds) override;

private:
    RunTranscript& transcript_;
};

// Wraps another opener; every port it opens reports to the transcript.
class TranscriptOpener : public platform::ComPortOpener {
public:
    TranscriptOpener(platform::ComPortOpener& inner, RunTranscript& transcript)
        : inner_(inner), transcript_(transcript) {}
    std::unique_ptr<platform::ComPort> Open(const std::u16string& deviceName, int32_t portNumber) override;

private:
    platform::ComPortOpener& inner_;
    RunTranscript& transcript_;
};

}  // namespace upgrade_test
