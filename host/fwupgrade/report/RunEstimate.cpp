#include "host/fwupgrade/report/RunEstimate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host/fwupgrade/report/PhaseTimes.h"
#include "upgrade/run/ProgressAnchors.h"

namespace fwupgrade {

namespace {

// Where each phase's time goes: the pauses the module asks for (a test runs
// a whole upgrade on the recording clock and holds this column to it), the
// time the card itself takes to restart and answer (measured with the
// virtual card at its real-time defaults: 1.5 s off the bus at each restart),
// and the host's own share. The images phase is timed by its bytes instead.
struct PhaseTime {
    double pauses;
    double card;
    double host;
};
constexpr PhaseTime kPhaseTimes[kPhaseCount] = {
    {0.0, 0.1, 0.0},      // prepare
    {4.67, 3.67, 0.06},   // backup: hundreds of NV items read one by one
    {16.03, 2.2, 0.07},   // switch: the restart into the boot downloader, the programmer loaded and started
    {0.25, 0.0, 0.0},     // images
    {7.13, 0.01, 0.06},   // reset: the restart into the new firmware
    {14.41, 3.0, 0.03},   // restore
};

// Until the images have streamed for a while: a rate a USB card keeps.
constexpr double kAssumedBytesPerSecond = 1.0e6;
constexpr double kRateAfterSeconds = 1.0;

}  // namespace

double PhasePauseSeconds(size_t phase) { return phase < kPhaseCount ? kPhaseTimes[phase].pauses : 0.0; }

double ExpectedPhaseSeconds(size_t phase, double pauseScale) {
    if (phase >= kPhaseCount) return 0.0;
    const PhaseTime& time = kPhaseTimes[phase];
    return (time.pauses + time.card) * pauseScale + time.host;
}

RunEstimate::RunEstimate(std::map<std::string, uint64_t> imageBytes, double pauseScale)
    : imageBytes_(std::move(imageBytes)), pauseScale_(pauseScale) {
    for (const upgrade::ImageRange& range : upgrade::kImageRanges)
        if (const auto found = imageBytes_.find(range.file); found != imageBytes_.end()) totalImageBytes_ += found->second;
}

void RunEstimate::Progress(int percent, double seconds) {
    done_ = done_ || percent >= 100;
    if (percent <= percent_ || percent >= 100) return;
    percent_ = percent;
    const size_t phase = PhaseOf(percent);
    if (phase == phase_) return;
    phase_ = phase;
    phaseStarted_ = seconds;
    if (phase == kImagesPhase) imagesStarted_ = seconds;
}

uint64_t RunEstimate::BytesDone(int percent) const {
    uint64_t done = 0;
    for (const upgrade::ImageRange& range : upgrade::kImageRanges) {
        const auto found = imageBytes_.find(range.file);
        if (found == imageBytes_.end() || percent <= range.fromPercent) continue;
        if (percent >= range.toPercent) {
            done += found->second;
        } else {
            done += found->second * static_cast<uint64_t>(percent - range.fromPercent) /
                    static_cast<uint64_t>(range.toPercent - range.fromPercent);
        }
    }
    return done;
}

std::optional<double> RunEstimate::BytesPerSecond(double seconds) const {
    if (imagesStarted_ < 0 || phase_ != kImagesPhase) return std::nullopt;
    const double streaming = seconds - imagesStarted_;
    const uint64_t done = BytesDone(percent_);
    if (streaming < kRateAfterSeconds || done == 0) return std::nullopt;
    return static_cast<double>(done) / streaming;
}

// The images' own pauses are part of the rate once it is measured.
double RunEstimate::ImagesSecondsLeft(double seconds) const {
    const double left = static_cast<double>(totalImageBytes_ - std::min(totalImageBytes_, BytesDone(percent_)));
    if (const auto rate = BytesPerSecond(seconds)) return left / *rate;
    const double expected = PhaseSeconds(kImagesPhase);
    if (phase_ == kImagesPhase) return std::max(0.0, expected - (seconds - phaseStarted_)) + left / kAssumedBytesPerSecond;
    return expected + left / kAssumedBytesPerSecond;
}

double RunEstimate::PhaseSeconds(size_t phase) const { return ExpectedPhaseSeconds(phase, pauseScale_); }

double RunEstimate::SecondsLeft(double seconds) const {
    if (done_) return 0;
    double left = 0;
    for (size_t phase = phase_; phase < kPhaseCount; ++phase) {
        if (phase == kImagesPhase) {
            left += ImagesSecondsLeft(seconds);
            continue;
        }
        const double expected = PhaseSeconds(phase);
        left += phase == phase_ ? std::max(0.0, expected - (seconds - phaseStarted_)) : expected;
    }
    return left;
}

std::string ClockText(double seconds) {
    const long total = std::lround(std::max(0.0, seconds));
    char text[24];
    if (total >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

std::string RateText(double bytesPerSecond) {
    char text[24];
    if (bytesPerSecond >= 1.0e6) std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / 1.0e6);
    else std::snprintf(text, sizeof text, "%.0f KB/s", bytesPerSecond / 1.0e3);
    return text;
}

}  // namespace fwupgrade
