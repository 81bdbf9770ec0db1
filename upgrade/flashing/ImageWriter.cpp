// The flashing phase: the security mode, the partition table (with the
// override when the card asks for it) and then one table of image writes,
// in the order the card must receive them.
#include "upgrade/flashing/ImageWriter.h"

#include "platform/Trace.h"
#include "upgrade/backup/BackupKeeper.h"
#include "upgrade/flashing/ImageSet.h"
#include "upgrade/run/RunData.h"
#include "upgrade/run/ProgressAnchors.h"

namespace upgrade {
namespace {

constexpr const char16_t* kRun = u"CFWUpgradeDataCDMA7627Module::FirmWareUpgrade";

enum class When { Always, WithUserdata, WithoutUserdata, WithSplash, FullDownload };
enum class How { SecondBootHeader, SecondBoot, AppsBoot, WithHeader, Image, Erase };

using FileMember = std::u16string DownloadFileList::*;

struct ImageWrite {
    When when;
    const char16_t* trace;
    How how;
    FileMember header;   // WithHeader only
    FileMember image;    // WithHeader and Image
    uint8_t type;
    int fromPercent;
    int toPercent;
    const char* erased;  // Erase only
};

constexpr ImageWrite kImageWrites[] = {
    {When::Always, u"Function: DownloadSecondbootloaderheader(pPacket)", How::SecondBootHeader, nullptr, nullptr, 0, 0,
     0, nullptr},
    {When::Always, u"Function: DownloadSecondbootloader(pPacket)", How::SecondBoot, nullptr, nullptr, 0, 0, 0, nullptr},
    {When::Always,
     u"Function: WindowsDownloadwithHeaderHS(pPacket, m_DownloadFileList.strOemsblhdFilePath, "
     u"m_DownloadFileList.strOemsblFilePath,0x04, DLQSBL, DLOEM)",
     How::WithHeader, &DownloadFileList::strOemsblhdFilePath, &DownloadFileList::strOemsblFilePath, 0x04, DLQSBL, DLOEM,
     nullptr},
    {When::Always,
     u"Function: WindowsDownloadwithHeaderHS(pPacket, m_DownloadFileList.strAmsshdFilePath, "
     u"m_DownloadFileList.strAmssFilePath, 0x05, DLOEM, DLAMSS)",
     How::WithHeader, &DownloadFileList::strAmsshdFilePath, &DownloadFileList::strAmssFilePath, 0x05, DLOEM, DLAMSS,
     nullptr},
    {When::Always, u"Function: DownloadAppsbootloader(pPacket)", How::AppsBoot, nullptr, nullptr, 0, 0, 0, nullptr},
    {When::Always, u"Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strBootFilePath, 0x14, DLAPPSBOOT, DLBOOTIMG)",
     How::Image, nullptr, &DownloadFileList::strBootFilePath, 0x14, DLAPPSBOOT, DLBOOTIMG, nullptr},
    {When::Always, u"Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strSystemPath, 0x15, DLBOOTIMG, DLSYSTEMIMG)",
     How::Image, nullptr, &DownloadFileList::strSystemPath, 0x15, DLBOOTIMG, DLSYSTEMIMG, nullptr},
    {When::WithUserdata,
     u"Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strUserdataFilePath, 0x16, DLSYSTEMIMG, DLUSERDATA)",
     How::Image, nullptr, &DownloadFileList::strUserdataFilePath, 0x16, DLSYSTEMIMG, DLUSERDATA, nullptr},
    {When::WithoutUserdata, u"Function: EraseSector userdata.img", How::Erase, nullptr, nullptr, 0, 0, 0,
     "userdata.img"},
    {When::Always, u"Function: EraseSector misc.img", How::Erase, nullptr, nullptr, 0, 0, 0, "misc.img"},
    {When::Always, u"Function: EraseSector cache.img", How::Erase, nullptr, nullptr, 0, 0, 0, "cache.img"},
    {When::WithSplash,
     u"Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strSplashFilePath, 0x18, DLUSERDATA, DLSPLASH)",
     How::Image, nullptr, &DownloadFileList::strSplashFilePath, 0x18, DLUSERDATA, DLSPLASH, nullptr},
    {When::Always,
     u"Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strRecoveryFilePath, 0x17, DLSPLASH, DLRECOVERY)",
     How::Image, nullptr, &DownloadFileList::strRecoveryFilePath, 0x17, DLSPLASH, DLRECOVERY, nullptr},
    // cefs.mbn wipes the card's NV items, Wi-Fi address and EFS files.
    {When::FullDownload,
     u"Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strCefs_appsFilePath, 0x09, DLRECOVERY, DLCEFS)",
     How::Image, nullptr, &DownloadFileList::strCefsFilePath, 0x09, DLRECOVERY, DLCEFS, nullptr},
};

bool Applies(When when, const ImageSet& images, bool fullDownload) {
    switch (when) {
        case When::Always: return true;
        case When::WithUserdata: return images.HasUserdata();
        case When::WithoutUserdata: return !images.HasUserdata();
        case When::WithSplash: return images.HasSplash();
        case When::FullDownload: return fullDownload;
    }
    return false;
}

bool RunImageWrite(ImageWriter& writer, const DownloadFileList& files, CPacket& packet, const ImageWrite& write) {
    switch (write.how) {
        case How::SecondBootHeader: return writer.DownloadSecondbootloaderheader(packet);
        case How::SecondBoot: return writer.DownloadSecondbootloader(packet);
        case How::AppsBoot: return writer.DownloadAppsbootloader(packet);
        case How::WithHeader:
            return writer.WindowsDownloadwithHeaderHS(packet, files.*write.header, files.*write.image, write.type,
                                                      write.fromPercent, write.toPercent);
        case How::Image:
            return writer.WindowsDownloadHS(packet, files.*write.image, write.type, write.fromPercent, write.toPercent);
        case How::Erase: return writer.EraseSector(packet, write.erased);
    }
    return false;
}

}  // namespace

bool ImageWriter::FlashImages(CPacket& packet) {
    if (!packet.SecurityMode()) return false;
    if (!WritePartitionTable(packet)) return false;

    for (const ImageWrite& write : kImageWrites) {
        if (!Applies(write.when, images_, data_.fullDownload)) continue;
        if (write.when == When::FullDownload) {
            keeper_.Record().cefsWriting = true;
            (void)keeper_.SaveRecord();   // traced; the record already says the card left its firmware
        }
        FW_TRACE(kRun, write.trace);
        if (!RunImageWrite(*this, images_.DownloadFiles(), packet, write)) return false;
    }
    return true;
}

bool ImageWriter::WritePartitionTable(CPacket& packet) {
    packet.SetPartitionOverride(false);
    FW_TRACE(kRun, u"Function: DownloadPartitionTable");
    bool tableWritten = DownloadPartitionTable(packet);
    if (!tableWritten && packet.PartitionOverride()) {
        FW_TRACE(kRun, u"Function: DownloadPartitionTable");
        data_.fullDownload = true;
        keeper_.RecordFullDownload(FullDownloadReason::Override);
        tableWritten = DownloadPartitionTable(packet);
    }
    if (!tableWritten) return false;
    // A table accepted only with the override byte is a new partition layout,
    // however it got through: the file system image and the write-back follow.
    if (packet.PartitionOverride()) {
        data_.fullDownload = true;
        keeper_.RecordFullDownload(FullDownloadReason::Override);
    }
    return true;
}

}  // namespace upgrade
