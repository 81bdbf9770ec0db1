#include "host/fwupgrade/card/WriteProbe.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/Platform.h"

namespace fwupgrade {

namespace {

std::u16string Wide(const std::string& text) { return platform::Utf8ToWide(text); }

// The folder itself when it exists, else the nearest one above it: a
// folder that is still to be made is made there.
std::string ExistingFolder(std::string folder) {
    while (!folder.empty() && !platform::PathExists(Wide(folder))) {
        const size_t slash = folder.find_last_of('/');
        if (slash == std::string::npos) return ".";
        folder = slash == 0 ? "/" : folder.substr(0, slash);
    }
    return folder;
}

// A write that stops short without an error is a full disk.
int ErrorOrFull() { return errno != 0 ? errno : ENOSPC; }

int WriteAndSync(const std::u16string& path, uint64_t bytes) {
    errno = 0;
    const std::unique_ptr<platform::FileHandle> file = platform::GetFileSystem().CreateWrite(path);
    if (!file) return ErrorOrFull();
    const std::vector<uint8_t> block(64 * 1024, 0x5A);
    for (uint64_t left = bytes; left > 0;) {
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(left, block.size()));
        errno = 0;
        if (file->Write(block.data(), count) != count) return ErrorOrFull();
        left -= count;
    }
    errno = 0;
    return file->Flush() ? 0 : ErrorOrFull();
}

}  // namespace

WriteFailure WriteFailureOf(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return WriteFailure::FullDisk;
        case EROFS: return WriteFailure::ReadOnly;
        case EACCES:
        case EPERM: return WriteFailure::Permission;
        case ENOENT:
        case ENOTDIR: return WriteFailure::Missing;
        default: return WriteFailure::Other;
    }
}

std::string WriteFailureName(WriteFailure failure) {
    switch (failure) {
        case WriteFailure::FullDisk: return "full-disk";
        case WriteFailure::ReadOnly: return "read-only";
        case WriteFailure::Permission: return "permission";
        case WriteFailure::Missing: return "missing";
        case WriteFailure::Other: break;
    }
    return "other";
}

std::string WriteProblemWords(const WriteProblem& problem) {
    switch (problem.failure) {
        case WriteFailure::FullDisk: return "the disk is full";
        case WriteFailure::ReadOnly: return "the folder is on a read-only file system";
        case WriteFailure::Permission: return "no permission to write there";
        case WriteFailure::Missing: return "the folder does not exist";
        case WriteFailure::Other: break;
    }
    return "it cannot be written";
}

std::string WriteProblemDetail(const WriteProblem& problem) {
    if (problem.error == 0) return WriteProblemWords(problem);
    return WriteProblemWords(problem) + " (" + std::strerror(problem.error) + ", errno " + std::to_string(problem.error) +
           ")";
}

std::optional<WriteProblem> ProbeFolderWrite(const std::string& folder, uint64_t bytes) {
    const std::string existing = ExistingFolder(folder);
    const std::u16string probe = Wide(existing + "/.fwupgrade-write-check-" + std::to_string(::getpid()));
    const int error = WriteAndSync(probe, bytes);
    (void)platform::GetFileSystem().RemoveFile(probe);
    if (error == 0) return std::nullopt;
    return WriteProblem{folder, WriteFailureOf(error), error};
}

}  // namespace fwupgrade
