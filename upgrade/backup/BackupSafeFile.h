// Writing a backup file so that an earlier backup survives a failed write.
//
// The new content goes to a temporary file beside the target, is forced to
// the disk and only then renamed over the target in one step; the folder is
// synced after the rename. A crash, a power cut, a full
// disk or a read-only folder during the write leaves the old file whole; the
// temporary file of a failed write is removed.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/Platform.h"

namespace upgrade {

// The temporary file used while replacing target (same folder).
std::u16string ReplacementFileName(const std::u16string& target);

class ReplacingFileWriter {
public:
    explicit ReplacingFileWriter(std::u16string target);
    ~ReplacingFileWriter();   // abandons an uncommitted write
    ReplacingFileWriter(const ReplacingFileWriter&) = delete;
    ReplacingFileWriter& operator=(const ReplacingFileWriter&) = delete;

    // Creates the temporary file; false when it cannot be created.
    [[nodiscard]] bool Open();
    platform::File& File() { return file_; }
    // Writes all bytes; false on a short write.
    [[nodiscard]] bool WriteAll(std::span<const uint8_t> data);
    // Flushes, closes, renames over the target and syncs its folder. When
    // the write fails the temporary file is removed and the target left as it
    // was; when only the folder sync fails the new content is in place but
    // may not survive a power cut, and the commit fails too.
    [[nodiscard]] bool Commit();
    // Closes and removes the temporary file; the target is untouched.
    void Abandon();

    // What went wrong, for the trace ("" when nothing did).
    const std::string& Error() const { return error_; }

private:
    std::u16string target_;
    std::u16string temporary_;
    platform::File file_;
    bool open_ = false;
    std::string error_;
};

// The whole content at once; the error text is left in error on failure.
[[nodiscard]] bool WriteFileReplacing(const std::u16string& target, std::span<const uint8_t> data, std::string& error);

}  // namespace upgrade
