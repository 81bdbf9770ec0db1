#include "host/fwupgrade/report/EventWords.h"

#include "upgrade/run/ProgressAnchors.h"

namespace fwupgrade {

namespace {

constexpr uint32_t kNvInactive = 5;
constexpr uint32_t kNvBadParameter = 6;
constexpr uint32_t kNvReadOnly = 7;

}  // namespace

std::string StepWords(int32_t step) {
    switch (step) {
        case FWUP_STEP_PREPARE: return "checking the package and identifying the card";
        case FWUP_STEP_BACKUP: return "saving the card's data";
        case FWUP_STEP_SWITCH: return "switching the card to its boot downloader and starting the flash programmer";
        case FWUP_STEP_IMAGES: return "writing the partition table and the images";
        case FWUP_STEP_RESET: return "restarting the card into its new firmware";
        case FWUP_STEP_RESTORE: return "writing the card's data back";
        default: return "an unknown step";
    }
}

std::string StepName(int32_t step) {
    switch (step) {
        case FWUP_STEP_PREPARE: return "prepare";
        case FWUP_STEP_BACKUP: return "backup";
        case FWUP_STEP_SWITCH: return "switch";
        case FWUP_STEP_IMAGES: return "images";
        case FWUP_STEP_RESET: return "reset";
        case FWUP_STEP_RESTORE: return "restore";
        default: return "unknown";
    }
}

std::string ReasonWords(int32_t reason) {
    switch (reason) {
        case FWUP_REASON_NONE: return "no failure";
        case FWUP_REASON_NO_ANSWER: return "the card did not answer";
        case FWUP_REASON_REFUSED: return "the card refused a request";
        case FWUP_REASON_PACKAGE: return "the package or the flash programmer is unusable";
        case FWUP_REASON_FILE_SYSTEM: return "a file on this computer could not be read or written";
        case FWUP_REASON_INTERRUPTED: return "the run was stopped";
        case FWUP_REASON_NO_BACKUP: return "there is no usable backup of the card's data";
        case FWUP_REASON_OTHER_CARD: return "the backup belongs to another card";
        case FWUP_REASON_CARD_STATE: return "the card is in a state this operation cannot start from";
        default: return "an unknown reason";
    }
}

std::string CardStateWords(int32_t state) {
    switch (state) {
        case FWUP_CARD_ABSENT: return "not on its port";
        case FWUP_CARD_SILENT: return "on its port but not answering";
        case FWUP_CARD_FIRMWARE: return "in its firmware";
        case FWUP_CARD_BOOT_DOWNLOADER: return "in its boot downloader";
        case FWUP_CARD_FLASH_PROGRAMMER: return "in the flash programmer";
        default: return "in an unknown state";
    }
}

std::string NvLossWords(const CardLoss& loss) {
    if (loss.reason == FWUP_LOSS_NOT_TRIED) return "not tried";
    switch (loss.nvStatus) {
        case kNvInactive: return "not active";
        case kNvBadParameter: return "bad parameter";
        case kNvReadOnly: return "read-only";
        default: return "status " + std::to_string(loss.nvStatus);
    }
}

std::string ActivityAt(int32_t step, int percent) {
    if (step != FWUP_STEP_IMAGES) return StepWords(step);
    for (const upgrade::ImageRange& range : upgrade::kImageRanges)
        if (percent >= range.fromPercent && percent < range.toPercent) return std::string("writing ") + range.file;
    return percent < upgrade::DLQSBL ? "writing the partition table and the boot loaders" : "writing the images";
}

}  // namespace fwupgrade
