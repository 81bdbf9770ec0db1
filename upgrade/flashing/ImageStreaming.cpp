// Streaming an image as raw blocks: the size announcement, the partition
// header block, then each block with its checksum until the card acknowledges
// it. A block is never skipped: an image with a block the card did not take
// fails.
#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "platform/Platform.h"
#include "platform/Trace.h"
#include "upgrade/flashing/ImageSet.h"
#include "upgrade/flashing/ImageWriter.h"
#include "upgrade/run/RunReporter.h"
#include "upgrade/flashing/StreamFormat.h"
#include "upgrade/flashing/StreamProgress.h"
#include "upgrade/run/UpgradeInternal.h"

namespace upgrade {
namespace {

constexpr const char16_t* kStream = u"CFWUpgradeDataCDMA7627Module::StreamImageFile";
constexpr const char16_t* kWithHeader = u"CFWUpgradeDataCDMA7627Module::WindowsDownloadwithHeaderHS";
// Stages of a status report: the card is ready for the image, or it checked a block.
constexpr uint8_t kReadyStage = 1;
constexpr uint8_t kCheckStage = 0;
constexpr uint8_t kCefsImageType = 0x09;

bool OpenMultiImageWithRetries(CPacket& packet, uint8_t imageType, const uint8_t* payload, uint32_t length) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) platform::Sleep(2000);
        if (packet.OpenMultiImage(imageType, payload, length)) return true;
    }
    return false;
}

bool SendPartitionHeaderBlockTwice(const DownloadFileList& files, std::string_view name, CPacket& packet) {
    if (SendPartitionHeaderBlock(files, name, packet)) return true;
    platform::Sleep(1000);
    return SendPartitionHeaderBlock(files, name, packet);
}

std::u16string Wide(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// Sends one block until the card acknowledges it; false when it never does.
bool SendBlockUntilTaken(RunReporter& reporter, CPacket& packet, const StreamProgress& progress, int start,
                         const std::vector<uint8_t>& frame, uint32_t frameLength, uint32_t offset,
                         std::string_view name) {
    int current = start;
    for (int resends = 0;; ++resends) {
        if (!SendDataBlock(packet, frame.data(), frameLength)) return false;
        const int low = progress.NextAckLow(current);
        switch (WaitBlockAck(reporter, packet, low)) {
            case AckWait::Acknowledged:
            case AckWait::EndedByReport:
                return true;
            case AckWait::TimedOut:
                FW_TRACE(kStream, u"%s: the block at offset %u was neither acknowledged nor reported",
                         Wide(name).c_str(), offset);
                return false;
            case AckWait::Resend:
                if (resends >= kMaxBlockResends) {
                    FW_TRACE(kStream, u"%s: the block at offset %u was refused %d times", Wide(name).c_str(),
                             offset, resends + 1);
                    return false;
                }
                break;
        }
    }
}

}  // namespace

StatusWait WaitStatusReport(CPacket& packet) {
    for (int poll = 0; poll < kStatusReportPolls; ++poll) {
        (void)packet.ReceiveStreamingStep();   // a bad frame is no report; the polls go on
        if (const std::optional<packet::StatusReport> report = packet.PendingStatusReport()) {
            if (report->stage == kReadyStage) {
                packet.TakeStatusReport();
                return StatusWait::Ready;
            }
            if (report->stage == kCheckStage) {
                packet.TakeStatusReport();
                return report->outcome != 0 ? StatusWait::CheckPassed : StatusWait::CheckFailed;
            }
            return StatusWait::None;
        }
        platform::Sleep(kPollPauseMs);
    }
    return StatusWait::None;
}

AckWait WaitBlockAck(RunReporter& reporter, CPacket& packet, int low) {
    for (int poll = 0; poll < kBlockAckPolls; ++poll) {
        (void)packet.ReceiveStreamingStep();   // a bad frame is no acknowledgement; the polls go on
        if (packet.LastStepLength() == 0) {
            platform::Sleep(kPollPauseMs);
            continue;
        }
        if (const std::optional<packet::StatusReport> report = packet.PendingStatusReport()) {
            // A report of another stage ends the wait and stays for the next one.
            if (report->stage != kCheckStage) return AckWait::EndedByReport;
            packet.TakeStatusReport();
            if (report->outcome == 0) return AckWait::Resend;
            platform::Sleep(kPollPauseMs);
            continue;
        }
        if (packet.BlockWrittenCount() >= 1) {
            reporter.ShowRatio(StreamProgress::AckReport(low));
            return AckWait::Acknowledged;
        }
        platform::Sleep(kPollPauseMs);
    }
    return AckWait::TimedOut;
}

bool SendDataBlock(CPacket& packet, const uint8_t* frame, uint32_t length) {
    packet.Purge(platform::kPurgeAll);
    if (packet.Write(frame, length) == length) return true;
    platform::Sleep(100);
    packet.Purge(platform::kPurgeAll);
    return packet.Write(frame, length) == length;
}

bool SendPartitionHeaderBlock(const DownloadFileList& files, std::string_view imageName, CPacket& packet) {
    platform::File vendor;
    if (!vendor.OpenRead(files.strVendorPartitionFilePath)) return false;
    std::vector<uint8_t> table(kPartitionHeaderFileBytes);
    const uint64_t length = vendor.Length();
    const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(length, kPartitionHeaderFileBytes));
    const uint32_t got = wanted == 0 ? 0 : vendor.Read(table.data(), wanted);
    vendor.Close();
    table.resize(got);

    std::vector<uint8_t> block(kPartitionHeaderBlockSize);
    BuildPartitionHeaderBlock(PartitionCode(imageName), table, block);
    packet.Purge(platform::kPurgeAll);
    if (packet.Write(block.data(), kPartitionHeaderBlockSize) != kPartitionHeaderBlockSize) {
        platform::Sleep(100);
        return false;
    }
    if (WaitStatusReport(packet) != StatusWait::CheckPassed) return false;
    return WaitStatusReport(packet) == StatusWait::Ready;
}

bool StreamImageFile(RunReporter& reporter, const DownloadFileList& files, CPacket& packet, const std::u16string& path,
                     int fromPercent, int toPercent, std::string_view imageName) {
    platform::File image;
    if (!image.OpenRead(path)) return false;
    const uint64_t length = image.Length();
    if (length > kLargestImageSize) {
        FW_TRACE(kStream, u"Refuse %s: %llu bytes, an image must stay under 2 GiB", path.c_str(),
                 static_cast<unsigned long long>(length));
        return false;
    }
    const uint32_t size = static_cast<uint32_t>(length);
    const uint32_t blocks = RawBlockCount(size);

    if (!packet.AnnounceImageSize(size, kAnnounceMode)) return false;
    if (WaitStatusReport(packet) != StatusWait::Ready) return false;
    if (!SendPartitionHeaderBlockTwice(files, imageName, packet)) return false;

    const StreamProgress progress(fromPercent, toPercent, blocks);
    std::vector<uint8_t> frame(kRawBlockFrameSize);
    for (uint32_t i = 0; i < blocks; ++i) {
        const uint32_t offset = i * kRawBlockSize;
        const uint32_t n = std::min(kRawBlockSize, size - offset);
        const int start = progress.BlockStart(i);
        uint8_t* data = frame.data() + 4;
        if (!image.Seek(offset) || image.Read(data, n) != n) {
            FW_TRACE(kStream, u"Cannot read %s at offset %u", path.c_str(), offset);
            return false;
        }
        const std::span<const uint8_t> bytes(data, n);
        const uint32_t frameLength = static_cast<uint32_t>(BuildDataBlock(offset, bytes, BlockChecksum(bytes), frame));
        if (!SendBlockUntilTaken(reporter, packet, progress, start, frame, frameLength, offset, imageName)) return false;
    }
    image.Close();

    if (IsCloselessName(imageName)) return true;
    return packet.CloseImage();
}

bool ImageWriter::WindowsDownloadwithHeaderHS(CPacket& packet, const std::u16string& headerPath,
                                                const std::u16string& imagePath, uint8_t imageType, int fromPercent,
                                                int toPercent) {
    platform::File header;
    if (!header.OpenRead(headerPath)) return false;
    const uint64_t length = header.Length();
    if (length == 0) return false;
    if (length > kCommandPayloadCapacity) {
        FW_TRACE(kWithHeader, u"Refuse %s: %llu bytes, more than the %u-byte command payload", headerPath.c_str(),
                 static_cast<unsigned long long>(length), unsigned(kCommandPayloadCapacity));
        return false;
    }
    std::vector<uint8_t> payload(static_cast<size_t>(length));
    const uint32_t got = header.Read(payload.data(), static_cast<uint32_t>(length));
    header.Close();
    if (got != length) return false;
    if (!OpenMultiImageWithRetries(packet, imageType, payload.data(), got)) return false;
    return StreamImageFile(reporter_, images_.DownloadFiles(), packet, imagePath, fromPercent, toPercent, ImageNameOfType(imageType));
}

bool ImageWriter::WindowsDownloadHS(CPacket& packet, const std::u16string& imagePath, uint8_t imageType,
                                      int fromPercent, int toPercent) {
    if (imageType == kCefsImageType && !OpenMultiImageWithRetries(packet, kCefsImageType, nullptr, 0)) return false;
    return StreamImageFile(reporter_, images_.DownloadFiles(), packet, imagePath, fromPercent, toPercent, ImageNameOfType(imageType));
}

bool ImageWriter::EraseSector(CPacket& packet, const std::string& partitionName) {
    if (!packet.AnnounceImageSize(0, kAnnounceMode)) return false;
    if (WaitStatusReport(packet) != StatusWait::Ready) return false;
    return SendPartitionHeaderBlockTwice(images_.DownloadFiles(), partitionName, packet);
}

}  // namespace upgrade
