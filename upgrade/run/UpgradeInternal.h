// Helpers shared by the operation files of the upgrade module. Not part of
// the module's interface to the host.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "packet/Packet.h"

namespace upgrade {

class RunReporter;
struct DownloadFileList;

// ---- the card's identity
// GetEsn with up to three attempts.
[[nodiscard]] bool ReadCardEsn(packet::CPacket& packet, uint32_t& esn);

// ---- image set and programmer file
// Opens the file for reading and takes its length; false (with the check's
// trace lines) when it does not open or holds fewer than two bytes.
[[nodiscard]] bool ProbeFileSize(const std::u16string& path, uint64_t& size);
[[nodiscard]] std::u16string HostExecutableFolder();
// The programmer file of this load of the library: the one extraction wrote,
// else the name next to the host executable; empty when that path is too long.
[[nodiscard]] std::u16string ProgrammerPathForRun();
// Writes the programmer resource into the first folder that takes it.
[[nodiscard]] bool ExtractProgrammerTo(const std::vector<std::u16string>& folders, std::u16string& written);

// ---- image streaming
enum class StatusWait { Ready, CheckPassed, CheckFailed, None };
enum class AckWait {
    Acknowledged,    // a block-written answer came
    Resend,          // the card reported a bad checksum
    EndedByReport,   // a status report other than a check result ended the wait
    TimedOut,        // neither an answer nor a report within the polls
};

constexpr int kStatusReportPolls = 2000;
constexpr int kBlockAckPolls = 1000;
constexpr uint32_t kPollPauseMs = 10;
// A block the card keeps reporting as damaged is sent at most this many
// times more before the image fails.
constexpr int kMaxBlockResends = 10;

[[nodiscard]] StatusWait WaitStatusReport(packet::CPacket& packet);
[[nodiscard]] AckWait WaitBlockAck(RunReporter& reporter, packet::CPacket& packet, int low);
// Writes one raw frame with a purge before; one more full write after 100 ms
// when the first was short.
[[nodiscard]] bool SendDataBlock(packet::CPacket& packet, const uint8_t* frame, uint32_t length);
[[nodiscard]] bool SendPartitionHeaderBlock(const DownloadFileList& files, std::string_view imageName,
                                            packet::CPacket& packet);
[[nodiscard]] bool StreamImageFile(RunReporter& reporter, const DownloadFileList& files, packet::CPacket& packet,
                                   const std::u16string& path, int fromPercent, int toPercent, std::string_view imageName);

}  // namespace upgrade
