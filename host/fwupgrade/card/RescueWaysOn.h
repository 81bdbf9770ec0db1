// What a user can do when a rescue or restore was refused before anything
// was written to the card: take one of its kept backups, or (a rescue) go
// without its data. The command that was just refused is never among them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace fwupgrade {

struct RefusedCommand {
    std::string command;      // the rescue or restore naming the card (and package), without --from
    std::string from;         // the --from that was refused ("" when none was given)
    bool offerWithoutData = true;   // false after a refused --without-data, and for a restore
};

// Each way on as a full command: one per kept backup folder (newest first),
// then the rescue without the card's data.
std::vector<std::string> WaysOn(const RefusedCommand& refused, const std::vector<std::string>& keptFolders);

// The ESN of the card last run on `device` (its label or its stable path),
// from the history; nullopt when no entry there names one.
std::optional<uint32_t> LastEsnOnDevice(const std::vector<nlohmann::json>& history, const std::string& device,
                                        const std::string& stableDevice);

// The card's kept backups a rescue may restore, newest first; never a read
// taken while a restore was pending.
std::vector<std::string> RescuableBackupsOf(uint32_t esn);

// The ways on for the card: its backups found by `cardEsn`, else by the
// last run in the user's history on its device or USB port.
std::vector<std::string> WaysOnFor(const RefusedCommand& refused, std::optional<uint32_t> cardEsn,
                                   const std::string& device, const std::string& stableDevice);

// "The backup in F belongs to the card with ESN A; this card has ESN B." ("" when F holds no record).
std::string OtherCardWords(const std::string& from, uint32_t cardEsn);

}  // namespace fwupgrade
