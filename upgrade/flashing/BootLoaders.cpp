// The partition table and the boot loaders: small files sent in framed
// commands, the loaders in writes of at most 1,024 bytes.
#include <algorithm>
#include <vector>

#include "platform/Platform.h"
#include "platform/Trace.h"
#include "upgrade/flashing/ImageSet.h"
#include "upgrade/flashing/ImageWriter.h"
#include "upgrade/flashing/StreamFormat.h"

namespace upgrade {
namespace {

// Reads a whole file that must hold at least one byte and fit one command
// payload; false (with a trace line when it is too long) otherwise.
bool ReadPayloadFile(const std::u16string& path, const char16_t* function, std::vector<uint8_t>& out) {
    platform::File file;
    if (!file.OpenRead(path)) return false;
    const uint64_t length = file.Length();
    if (length == 0) return false;
    if (length > kCommandPayloadCapacity) {
        FW_TRACE(function, u"Refuse %s: %llu bytes, more than the %u-byte command payload", path.c_str(),
                 static_cast<unsigned long long>(length), unsigned(kCommandPayloadCapacity));
        return false;
    }
    out.resize(static_cast<size_t>(length));
    return file.Read(out.data(), static_cast<uint32_t>(length)) == length;
}

// Writes an opened image in chunks at their byte offsets, then closes it.
bool WriteChunksAndClose(CPacket& packet, platform::File& file) {
    const uint64_t fileLength = file.Length();
    if (fileLength == 0 || fileLength > kLargestImageSize) return false;
    const uint32_t length = static_cast<uint32_t>(fileLength);
    std::vector<uint8_t> chunk(kBootLoaderChunk);
    uint32_t sent = 0;
    while (sent < length) {
        const uint32_t count = std::min(kBootLoaderChunk, length - sent);
        if (file.Read(chunk.data(), count) != count) return false;
        if (!packet.StreamWrite(chunk.data(), sent, count)) return false;
        sent += count;
    }
    file.Close();
    return packet.CloseImage();
}

bool DownloadLoaderWithoutPayload(CPacket& packet, const std::u16string& path, uint8_t imageType) {
    platform::File file;
    if (!file.OpenRead(path) || file.Length() == 0) return false;
    if (!packet.OpenMultiImage(imageType, nullptr, 0)) return false;
    return WriteChunksAndClose(packet, file);
}

}  // namespace

bool ImageWriter::DownloadSecondbootloaderheader(CPacket& packet) {
    return DownloadLoaderWithoutPayload(packet, images_.DownloadFiles().strQcsblhdCfgdataFilePath, 0x02);
}

bool ImageWriter::DownloadSecondbootloader(CPacket& packet) {
    return DownloadLoaderWithoutPayload(packet, images_.DownloadFiles().strQcsblFilePath, 0x03);
}

bool ImageWriter::DownloadAppsbootloader(CPacket& packet) {
    std::vector<uint8_t> header;
    if (!ReadPayloadFile(images_.DownloadFiles().strAppsboothdFilePath, u"CFWUpgradeDataCDMA7627Module::DownloadAppsbootloader",
                         header))
        return false;
    if (!packet.OpenMultiImage(0x0A, header.data(), static_cast<uint32_t>(header.size()))) return false;
    platform::File file;
    if (!file.OpenRead(images_.DownloadFiles().strAppsbootFilePath)) return false;
    return WriteChunksAndClose(packet, file);
}

bool ImageWriter::DownloadPartitionTable(CPacket& packet) {
    std::vector<uint8_t> table;
    if (!ReadPayloadFile(images_.DownloadFiles().strPartitionFilePath, u"CFWUpgradeDataCDMA7627Module::DownloadPartitionTable",
                         table))
        return false;
    return packet.PartitionTable(table.data(), static_cast<uint32_t>(table.size()));
}

}  // namespace upgrade
