// Writes the package to a card that runs the flash programmer: the security
// mode, the partition table (with the override when the card asks for it),
// the boot loaders and the images, in the order the card must receive them.
#pragma once

#include <cstdint>
#include <string>

#include "packet/Packet.h"

namespace upgrade {

using packet::CPacket;
class BackupKeeper;
class ImageSet;
class RunReporter;
struct RunData;

class ImageWriter {
public:
    ImageWriter(const ImageSet& images, RunData& data, BackupKeeper& keeper, RunReporter& reporter)
        : images_(images), data_(data), keeper_(keeper), reporter_(reporter) {}

    // The whole flashing phase; cefs.mbn too when the run writes every image.
    [[nodiscard]] bool FlashImages(CPacket& packet);
    // The partition table; on the card's request once more with the
    // override, which makes the run a full download.
    [[nodiscard]] bool WritePartitionTable(CPacket& packet);

    [[nodiscard]] bool DownloadPartitionTable(CPacket& packet);
    [[nodiscard]] bool DownloadSecondbootloaderheader(CPacket& packet);
    [[nodiscard]] bool DownloadSecondbootloader(CPacket& packet);
    [[nodiscard]] bool DownloadAppsbootloader(CPacket& packet);
    [[nodiscard]] bool WindowsDownloadwithHeaderHS(CPacket& packet, const std::u16string& headerPath,
                                                   const std::u16string& imagePath, uint8_t imageType, int fromPercent,
                                                   int toPercent);
    [[nodiscard]] bool WindowsDownloadHS(CPacket& packet, const std::u16string& imagePath, uint8_t imageType,
                                         int fromPercent, int toPercent);
    [[nodiscard]] bool EraseSector(CPacket& packet, const std::string& partitionName);

private:
    const ImageSet& images_;
    RunData& data_;
    BackupKeeper& keeper_;
    RunReporter& reporter_;
};

}  // namespace upgrade
