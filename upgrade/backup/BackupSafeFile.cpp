#include "upgrade/backup/BackupSafeFile.h"

#include <algorithm>
#include <utility>

namespace upgrade {

namespace {

constexpr uint32_t kWriteChunk = 1u << 20;

}  // namespace

std::u16string ReplacementFileName(const std::u16string& target) { return target + u".new"; }

ReplacingFileWriter::ReplacingFileWriter(std::u16string target)
    : target_(std::move(target)), temporary_(ReplacementFileName(target_)) {}

ReplacingFileWriter::~ReplacingFileWriter() { Abandon(); }

bool ReplacingFileWriter::Open() {
    Abandon();
    error_.clear();
    if (!file_.CreateWrite(temporary_)) {
        error_ = "cannot create " + platform::WideToUtf8(temporary_);
        return false;
    }
    open_ = true;
    return true;
}

bool ReplacingFileWriter::WriteAll(std::span<const uint8_t> data) {
    if (!open_) {
        error_ = "the file is not open";
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        const uint32_t count = static_cast<uint32_t>(std::min<size_t>(kWriteChunk, data.size() - done));
        const uint32_t written = file_.Write(data.data() + done, count);
        done += written;
        if (written != count) {
            error_ = "cannot write " + platform::WideToUtf8(temporary_) + " (disk full or not writable)";
            return false;
        }
    }
    return true;
}

bool ReplacingFileWriter::Commit() {
    if (!open_) {
        if (error_.empty()) {
            error_ = "the file is not open";
        }
        return false;
    }
    if (!file_.Flush()) {
        error_ = "cannot flush " + platform::WideToUtf8(temporary_);
        Abandon();
        return false;
    }
    file_.Close();
    open_ = false;
    if (!platform::ReplaceFile(temporary_, target_)) {
        error_ = "cannot replace " + platform::WideToUtf8(target_);
        (void)platform::RemoveFile(temporary_);   // a leftover is overwritten by the next write
        return false;
    }
    // The rename itself must survive a power cut too: until the folder is
    // synced, the disk may still hold the old file under the name.
    if (!platform::SyncFolder(platform::RemoveFileSpec(target_))) {
        error_ = "cannot sync the folder of " + platform::WideToUtf8(target_);
        return false;
    }
    return true;
}

void ReplacingFileWriter::Abandon() {
    if (!open_) {
        return;
    }
    file_.Close();
    open_ = false;
    (void)platform::RemoveFile(temporary_);   // a leftover is overwritten by the next write
}

bool WriteFileReplacing(const std::u16string& target, std::span<const uint8_t> data, std::string& error) {
    ReplacingFileWriter writer(target);
    const bool ok = writer.Open() && writer.WriteAll(data) && writer.Commit();
    error = writer.Error();
    return ok;
}

}  // namespace upgrade
