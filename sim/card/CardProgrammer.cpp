// The flash programmer: hello, security mode, partition table, images opened
// and written with framed packets, and the raw transfer (size announcement,
// partition header block, checksummed data blocks, erase by empty image).
#include <algorithm>
#include <cstring>

#include "sim/card/Card.h"
#include "packet/ByteOrder.h"

namespace sim {
namespace {

using namespace packet::bytes;

constexpr char kHostMagic[] = "QCOM fast download protocol host";
constexpr char kTargetMagic[] = "QCOM fast download protocol targ";
constexpr uint32_t kMaxBlock = 1024;

constexpr uint32_t kErrAddress = 2;
constexpr uint32_t kErrLength = 3;
constexpr uint32_t kErrInvalidCommand = 5;
constexpr uint32_t kErrOutOfSequence = 15;
constexpr uint32_t kErrIncompatible = 17;
constexpr uint32_t kErrOutOfSpace = 18;

struct ImageType {
    uint8_t type;
    const char* name;
    const char* header;   // partition that keeps the header payload, or nullptr when none is sent
};

constexpr ImageType kImageTypes[] = {
    {0x02, "qcsblhd_cfgdata.mbn", nullptr}, {0x03, "qcsbl.mbn", nullptr},
    {0x04, "oemsbl.mbn", "oemsblhd.mbn"},   {0x05, "amss.mbn", "amsshd.mbn"},
    {0x09, "cefs.mbn", nullptr},            {0x0A, "appsboot.mbn", "appsboothd.mbn"},
};

const ImageType* FindImageType(uint8_t type) {
    for (const auto& entry : kImageTypes) {
        if (entry.type == type) return &entry;
    }
    return nullptr;
}

bool TypeCarriesPayload(uint8_t type) {
    return (type >= 4 && type <= 8) || type == 10 || (type >= 12 && type <= 18);
}
bool TypeWithoutPayload(uint8_t type) {
    return type == 1 || type == 2 || type == 3 || type == 9 || type == 11 || type == 20 || type == 21;
}

const char* PartitionName(uint8_t code) {
    switch (code) {
        case 0x03: return "oemsbl.mbn";
        case 0x04: return "amss.mbn";
        case 0x05: return "appsboot.mbn";
        case 0x08: return "cefs.mbn";
        case 0x13: return "boot.img";
        case 0x14: return "system.img";
        case 0x15: return "recovery.img";
        case 0x16: return "userdata.img";
        case 0x17: return "misc.img";
        case 0x18: return "cache.img";
        case 0x19: return "splash.img";
        default: return nullptr;
    }
}

uint32_t BlockSum(const Bytes& bytes, size_t at, size_t n) {
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 4 <= n; i += 4) sum += ReadLe32(bytes, at + i);
    const size_t rest = n - i;
    if (rest != 0) {
        uint32_t value = 0;
        for (size_t k = 0; k < rest; ++k) value |= static_cast<uint32_t>(bytes[at + i + k]) << (8 * k);
        if (bytes[at + n - 1] & 0x80) value |= 0xFFFFFFFFu << (8 * rest);
        sum += value;
    }
    return sum;
}

}  // namespace

void Card::ProgrammerError(uint32_t reason, const std::string& text) {
    Bytes answer{0x0D};
    AppendLe32(answer, reason);
    answer.insert(answer.end(), text.begin(), text.end());
    SendFrame(answer, true);
}

void Card::StatusReport(uint8_t a, uint8_t b) { SendFrame(Bytes{0x1E, a, b, 0, 0}, true); }

void Card::HandleProgrammer(const Bytes& body) {
    const uint8_t code = body[0];
    auto lengthIs = [&](size_t expected) {
        if (body.size() == expected) return true;
        Violate("streaming command 0x" + ToHex(&code, 1) + " with length " + std::to_string(body.size()) +
                ", expected " + std::to_string(expected));
        ProgrammerError(kErrLength, "Invalid length");
        return false;
    };
    auto outOfSequence = [&](const std::string& why) {
        Violate("streaming command 0x" + ToHex(&code, 1) + " out of sequence: " + why);
        ProgrammerError(kErrOutOfSequence, "Command out of sequence");
    };
    if (code == 0x0C && body.size() == 1) {
        // The status probe is no streaming command.
        ProgrammerError(kErrInvalidCommand, "Invalid Command");
        return;
    }
    if (code != 0x01 && !helloDone_) {
        outOfSequence("no hello yet");
        return;
    }
    switch (code) {
        case 0x01: {
            if (!lengthIs(36)) return;
            if (std::memcmp(body.data() + 1, kHostMagic, 32) != 0) {
                Violate("hello with a wrong magic text");
                return;
            }
            if (body[33] < 2 || body[34] > 2) {
                Violate("hello with an incompatible protocol version");
                ProgrammerError(kErrIncompatible, "Incompatible feature bits");
                return;
            }
            helloDone_ = true;
            // Reserved first: GCC 12 at -O2 warns falsely of an out-of-bounds
            // copy when a one-byte vector grows by the insert.
            Bytes answer;
            answer.reserve(64);
            answer.push_back(0x02);
            answer.insert(answer.end(), kTargetMagic, kTargetMagic + 32);
            answer.push_back(0x02);
            answer.push_back(0x02);
            AppendLe32(answer, kMaxBlock);
            AppendLe32(answer, 0);
            const char flashId[] = "MSM7627N";
            answer.push_back(8);
            answer.insert(answer.end(), flashId, flashId + 8);
            AppendLe16(answer, 1);
            AppendLe16(answer, 0);
            answer.push_back(body[35]);
            SendFrame(answer, true);
            return;
        }
        case 0x09:
            if (!lengthIs(2)) return;
            SendFrame(Bytes{0x0A, body[1]}, true);
            return;
        case 0x17:
            if (!lengthIs(2)) return;
            if (body[1] != 0x01) Violate("security mode other than 1");
            securityDone_ = true;
            SendFrame(Bytes{0x18}, true);
            return;
        case 0x19: {
            if (!securityDone_) {
                outOfSequence("no security mode yet");
                return;
            }
            if (body.size() < 3) {
                lengthIs(3);
                return;
            }
            if (body[1] > 1) Violate("partition table override byte other than 0 or 1");
            const Bytes table(body.begin() + 2, body.end());
            uint8_t status = 0;
            if (table == data_.partitionTable) {
                tableAccepted_ = true;
            } else if (body[1] == 1) {
                data_.partitionTable = table;
                partitionTableChanged_ = true;
                tableAccepted_ = true;
            } else {
                status = 1;
                tableAccepted_ = false;
            }
            SendFrame(Bytes{0x1A, status}, true);
            return;
        }
        case 0x1B: {
            if (!tableAccepted_) {
                outOfSequence("no accepted partition table");
                return;
            }
            if (body.size() < 2) {
                lengthIs(2);
                return;
            }
            const uint8_t type = body[1];
            if (TypeWithoutPayload(type) && body.size() != 2) {
                lengthIs(2);
                return;
            }
            if (TypeCarriesPayload(type) && body.size() == 2) Violate("image opened without its header payload");
            if (!TypeCarriesPayload(type) && !TypeWithoutPayload(type)) {
                Violate("open of an unknown image type");
                ProgrammerError(kErrInvalidCommand, "Invalid Command");
                return;
            }
            if (openType_) Violate("image opened while another one is open");
            openType_ = type;
            streamImage_.clear();
            streamWritten_ = false;
            const ImageType* known = FindImageType(type);
            if (known && known->header) data_.partitions[known->header].content.assign(body.begin() + 2, body.end());
            SendFrame(Bytes{0x1C, 0x00}, true);
            return;
        }
        case 0x07: {
            if (!openType_) {
                outOfSequence("no open image");
                return;
            }
            if (body.size() < 6) {
                lengthIs(6);
                return;
            }
            const uint32_t address = ReadLe32(body, 1);
            const size_t length = body.size() - 5;
            if (length > kMaxBlock) {
                Violate("stream write longer than the programmer's block");
                ProgrammerError(kErrLength, "Invalid length");
                return;
            }
            if (static_cast<uint64_t>(address) + length > kFlashCapacity) {
                Violate("stream write beyond the flash");
                ProgrammerError(kErrAddress, "Invalid destination address");
                return;
            }
            if (!streamWritten_) {
                // The first packet overwrites the old image: it is gone from here on.
                const ImageType* known = FindImageType(*openType_);
                Partition& target = data_.partitions[known ? known->name : "image_type_" + std::to_string(*openType_)];
                target.content.clear();
                target.incomplete = true;
            }
            if (streamImage_.size() < address + length) streamImage_.resize(address + length, 0);
            std::copy(body.begin() + 5, body.end(), streamImage_.begin() + address);
            streamWritten_ = true;
            Bytes answer{0x08};
            AppendLe32(answer, address);
            SendFrame(answer, true);
            return;
        }
        case 0x15: {
            if (!lengthIs(1)) return;
            if (!openType_) {
                outOfSequence("no open image");
                return;
            }
            if (streamWritten_) {
                const ImageType* known = FindImageType(*openType_);
                CommitImage(known ? known->name : "image_type_" + std::to_string(*openType_), streamImage_);
            }
            openType_.reset();
            streamImage_.clear();
            streamWritten_ = false;
            SendFrame(Bytes{0x16}, true);
            return;
        }
        case 0x0B: {
            if (!lengthIs(1)) return;
            if (openType_) Violate("reset with an image still open");
            SendFrame(Bytes{0x0C}, true);
            std::string broken;
            for (const auto& name : BootPartitions()) {
                auto found = data_.partitions.find(name);
                if (found == data_.partitions.end() || found->second.content.empty() || found->second.incomplete) {
                    broken += (broken.empty() ? "" : ", ") + name;
                }
            }
            if (!broken.empty()) {
                // The card cannot start: it leaves the bus and never comes back.
                Violate("reset with an unbootable flash (" + broken + "): the card is bricked");
                bricked_ = true;
            }
            ScheduleModeChange(data_.atModeAfterReset ? CardMode::AtCommand : CardMode::Diagnostic, true);
            return;
        }
        case 0x1D: HandleAnnounce(body); return;
        default:
            Violate("unknown streaming command 0x" + ToHex(&code, 1));
            ProgrammerError(kErrInvalidCommand, "Invalid Command");
            return;
    }
}

void Card::HandleAnnounce(const Bytes& body) {
    if (!tableAccepted_) {
        Violate("size announcement out of sequence: no accepted partition table");
        ProgrammerError(kErrOutOfSequence, "Command out of sequence");
        return;
    }
    if (body.size() != 10) {
        Violate("size announcement with length " + std::to_string(body.size()) + ", expected 10");
        ProgrammerError(kErrLength, "Invalid length");
        return;
    }
    if (body[1] != 0x00 || body[2] != 0x60 || body[3] != 0x00 || body[4] != 0x00) {
        Violate("size announcement without its fixed bytes 00 60 00 00");
    }
    if (body[9] != 2) Violate("size announcement with a mode other than 2");
    if (ReadBe32(body, 5) > kFlashCapacity) {
        Violate("size announcement larger than the flash");
        ProgrammerError(kErrOutOfSpace, "Out of space");
        return;
    }
    rawSize_ = ReadBe32(body, 5);
    rawStage_ = RawStage::HeaderBlock;
    rawIn_.clear();
    StatusReport(1, 0);
}

void Card::ReceiveRawByte(uint8_t byte) {
    if (rawIn_.empty() && byte == kFlag) {
        // A frame instead of the awaited raw unit: the host gave up the transfer.
        Violate(rawStage_ == RawStage::HeaderBlock ? "framed request while a partition header block was due"
                                                   : "framed request while raw data blocks were due");
        rawStage_ = RawStage::None;
        ReceiveByte(byte);
        return;
    }
    rawIn_.push_back(byte);
    if (rawStage_ == RawStage::HeaderBlock) {
        if (rawIn_.size() == kPartitionHeaderBlockSize) FinishHeaderBlock();
        return;
    }
    if (rawIn_.size() < 4) return;
    const uint32_t offset = ReadLe32(rawIn_, 0);
    if (offset >= rawSize_ || offset % kRawBlockSize != 0) {
        Violate("raw data block with offset " + std::to_string(offset) + " outside the announced image");
        rawIn_.clear();
        StatusReport(0, 0);
        return;
    }
    const size_t n = std::min<uint32_t>(kRawBlockSize, rawSize_ - offset);
    if (rawIn_.size() == n + 8) FinishDataBlock();
}

void Card::FinishHeaderBlock() {
    Log('<', rawIn_.data(), rawIn_.size());
    shaping_.clear();
    const uint32_t sum = BlockSum(rawIn_, 0, kRawBlockSize);
    const uint32_t received = ReadLe32(rawIn_, kRawBlockSize);
    const char* name = PartitionName(rawIn_[0]);
    if (sum != received || name == nullptr) {
        Violate(sum != received ? "partition header block with a bad checksum"
                                : "partition header block with an unknown partition code");
        ++rawBlocksRejected_;
        rawIn_.clear();
        StatusReport(0, 0);
        return;
    }
    if (openType_) {
        const ImageType* known = FindImageType(*openType_);
        if (known && known->name != std::string(name)) {
            Violate(std::string("partition header block for ") + name + " while " + known->name + " is open");
        }
    }
    data_.partitions["partition_vek.mbn"].content.assign(rawIn_.begin() + 1, rawIn_.begin() + kRawBlockSize);
    rawImage_ = name;
    rawIn_.clear();
    StatusReport(0, 1);
    StatusReport(1, 0);
    if (rawSize_ == 0) {
        Partition& partition = data_.partitions[rawImage_];
        partition.content.clear();
        partition.erased = true;
        rawStage_ = RawStage::None;
        return;
    }
    rawStage_ = RawStage::DataBlocks;
    Partition& target = data_.partitions[rawImage_];
    target.content.clear();
    target.erased = false;
    target.incomplete = true;
    rawContent_.assign(rawSize_, 0);
    rawBlocksDone_.clear();
}

void Card::FinishDataBlock() {
    Log('<', rawIn_.data(), rawIn_.size());
    shaping_.clear();
    const uint32_t offset = ReadLe32(rawIn_, 0);
    const size_t n = rawIn_.size() - 8;
    const uint32_t sum = BlockSum(rawIn_, 4, n);
    bool good = sum == ReadLe32(rawIn_, 4 + n);
    if (!good) Violate("raw data block at offset " + std::to_string(offset) + " with a bad checksum");
    const uint32_t index = offset / kRawBlockSize;
    bool answered = true;
    for (auto& rule : faults_.rules) {
        const bool blockRule = rule.kind == FaultKind::BadBlock || rule.kind == FaultKind::BlockUnanswered;
        if (!blockRule || static_cast<int64_t>(index) != rule.value) continue;
        if (!rule.image.empty() && rule.image != rawImage_) continue;
        if (!FaultHits(rule)) continue;
        good = false;
        answered = answered && rule.kind != FaultKind::BlockUnanswered;
    }
    if (!answered) {
        ++rawBlocksRejected_;
        rawIn_.clear();
        return;
    }
    if (!good) {
        ++rawBlocksRejected_;
        rawIn_.clear();
        StatusReport(0, 0);
        return;
    }
    std::copy(rawIn_.begin() + 4, rawIn_.begin() + 4 + static_cast<std::ptrdiff_t>(n), rawContent_.begin() + offset);
    rawBlocksDone_.insert(offset);
    ++rawBlocksAccepted_;
    rawIn_.clear();
    Bytes answer{0x08};
    AppendLe32(answer, offset);
    SendFrame(answer, true);
    const size_t blocks = (rawSize_ + kRawBlockSize - 1) / kRawBlockSize;
    if (rawBlocksDone_.size() == blocks) {
        rawStage_ = RawStage::None;
        CommitImage(rawImage_, std::move(rawContent_));
        rawContent_.clear();
    }
}

void Card::CommitImage(const std::string& name, Bytes content) {
    Partition& partition = data_.partitions[name];
    partition.content = std::move(content);
    partition.erased = false;
    partition.incomplete = false;
    if (name == "cefs.mbn") WipeUserData();
}

}  // namespace sim
