// Why a folder cannot take a copy of the card's backup. When a run stops
// because a copy could not be written, the folder is tried again with a
// file of the backup's size, synced and removed, and the error the system
// gave is told as a reason a person can act on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace fwupgrade {

enum class WriteFailure { FullDisk, ReadOnly, Permission, Missing, Other };

struct WriteProblem {
    std::string folder;
    WriteFailure failure = WriteFailure::Other;
    int error = 0;   // the errno the system gave
};

// The failure an errno value stands for.
WriteFailure WriteFailureOf(int error);
// "full-disk", "read-only", "permission", "missing", "other": for --json.
std::string WriteFailureName(WriteFailure failure);
// "the disk is full"
std::string WriteProblemWords(const WriteProblem& problem);
// "the disk is full (No space left on device, errno 28)"
std::string WriteProblemDetail(const WriteProblem& problem);

// Writes `bytes` bytes into a new file in `folder` (or the nearest folder
// above it that exists), syncs and removes it. Nothing when that works.
std::optional<WriteProblem> ProbeFolderWrite(const std::string& folder, uint64_t bytes);

}  // namespace fwupgrade
