#include "host/fwupgrade/report/RunFindings.h"

#include <algorithm>

#include "host/fwupgrade/report/EventWords.h"

namespace fwupgrade {

namespace {

constexpr const char* kNotTriedItems = " NV items were not written back: the restore stopped before them.";

std::string WifiSentence(int32_t reason) {
    switch (reason) {
        case FWUP_LOSS_NOT_SAVED:
            return "The Wi-Fi address could not be read before the flash, so it was not written back: check it and "
                   "write it again.";
        case FWUP_LOSS_UNSUPPORTED:
            return "The card's software cannot report its Wi-Fi address, so it was not saved or written back.";
        case FWUP_LOSS_NOT_TRIED: return "The Wi-Fi address was not written back: the restore stopped before it.";
        default: return "The Wi-Fi address could not be written back to the card.";
    }
}

}  // namespace

std::string LossSentence(const CardLoss& loss) {
    switch (loss.kind) {
        case FWUP_LOSS_NV_ITEM:
            if (loss.reason == FWUP_LOSS_KEPT_BY_CARD) return {};
            if (loss.reason == FWUP_LOSS_NOT_TRIED)
                return "NV item " + std::to_string(loss.nvItem) + " was not written back: the restore stopped before it.";
            return "NV item " + std::to_string(loss.nvItem) + " was not written back: the card refused it (" +
                   NvLossWords(loss) + ").";
        case FWUP_LOSS_WIFI_ADDRESS: return WifiSentence(loss.reason);
        default:
            if (loss.reason == FWUP_LOSS_NOT_TRIED)
                return "The lock file " + loss.lockFile + " was not written back: the restore stopped before it.";
            return "The lock file " + loss.lockFile + " could not be restored to the card; the kept backup holds it.";
    }
}

void FindingsTracker::AddLoss(const std::string& text) {
    auto& losses = findings_.losses;
    if (!text.empty() && std::find(losses.begin(), losses.end(), text) == losses.end()) losses.push_back(text);
}

void FindingsTracker::OnStep(int32_t step) {
    findings_.step = step;
    if (step == FWUP_STEP_RESET) findings_.resetReached = true;
}

void FindingsTracker::OnLoss(const CardLoss& loss) {
    if (loss.kind != FWUP_LOSS_NV_ITEM || loss.reason != FWUP_LOSS_NOT_TRIED) {
        AddLoss(LossSentence(loss));
        return;
    }
    // Items the restore never reached are counted in one sentence.
    auto& losses = findings_.losses;
    const std::string before = std::to_string(notTriedItems_) + kNotTriedItems;
    const auto at = std::find(losses.begin(), losses.end(), before);
    const std::string now = std::to_string(++notTriedItems_) + kNotTriedItems;
    if (at == losses.end()) {
        losses.push_back(now);
    } else {
        *at = now;
    }
}

void FindingsTracker::OnOutcome(const CardOutcome& outcome) {
    findings_.softwareVersion = outcome.softwareVersion;
    findings_.cardEsn = outcome.esnKnown ? outcome.esn : 0;
}

}  // namespace fwupgrade
