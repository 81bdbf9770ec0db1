// What a run is doing, in words, and how long it still takes. The module's
// pauses are known in advance, phase by phase; the time the images take
// follows from their sizes and the rate measured while they stream.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace fwupgrade {

// Seconds of pauses the module asks for in each phase of a whole run, the
// phases as PhaseTimes tells them apart; a test holds them to the module.
double PhasePauseSeconds(size_t phase);
// The seconds a phase takes in all with pauses scaled by `pauseScale`.
double ExpectedPhaseSeconds(size_t phase, double pauseScale);

class RunEstimate {
public:
    // imageBytes: the size of every package file present, by name.
    // pauseScale: how much of each pause passes in real time (1, or 1/N
    // while the clock of a virtual card runs N times faster).
    RunEstimate(std::map<std::string, uint64_t> imageBytes, double pauseScale = 1.0);

    // A progress value, `seconds` after the run started.
    void Progress(int percent, double seconds);
    // Seconds the run still takes, as seen `seconds` after its start.
    double SecondsLeft(double seconds) const;
    // Bytes per second of the images so far; nullopt before enough streamed.
    std::optional<double> BytesPerSecond(double seconds) const;

private:
    uint64_t BytesDone(int percent) const;
    double PhaseSeconds(size_t phase) const;
    double ImagesSecondsLeft(double seconds) const;

    std::map<std::string, uint64_t> imageBytes_;
    uint64_t totalImageBytes_ = 0;
    double pauseScale_;
    int percent_ = 0;
    size_t phase_ = 0;
    double phaseStarted_ = 0;
    double imagesStarted_ = -1;
    bool done_ = false;
};

// "1:05" / "12:40" / "1:02:03".
std::string ClockText(double seconds);
// "310 KB/s"
std::string RateText(double bytesPerSecond);

}  // namespace fwupgrade
