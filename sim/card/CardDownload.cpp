// The boot downloader: no-op, parameters, memory writes into the RAM window
// and the jump into the flash programmer.
#include "sim/card/Card.h"
#include "packet/ByteOrder.h"

namespace sim {
namespace {

using namespace packet::bytes;

constexpr uint16_t kNakBadAddress = 2;
constexpr uint16_t kNakBadLength = 3;
constexpr uint16_t kNakTooShort = 4;
constexpr uint16_t kNakTooLong = 5;
constexpr uint16_t kNakUnknownCommand = 6;
constexpr uint16_t kNakFailed = 7;
constexpr uint32_t kMaxWrite = 1024;

}  // namespace

void Card::Nak(uint16_t reason) {
    Bytes answer{0x03};
    AppendBe16(answer, reason);
    SendFrame(answer, true);
}

bool Card::ProgrammerInRam() const {
    if (ram_.size() < 40) return false;
    for (size_t i = 0; i < 40; ++i) {
        if (!ramWritten_[i]) return false;
    }
    return ReadLe32(ram_, 8) == kProgrammerEntry && ReadLe32(ram_, 12) == kProgrammerEntry;
}

bool Card::ProgrammerHasHoles() const {
    for (uint32_t i = 0; i < programmerBytes_; ++i) {
        if (!ramWritten_[i]) return true;
    }
    return false;
}

void Card::HandleDownload(const Bytes& body, bool leadingFlag) {
    const uint8_t code = body[0];
    auto lengthIs = [&](size_t expected) {
        if (body.size() == expected) return true;
        Violate("download command 0x" + ToHex(&code, 1) + " with length " + std::to_string(body.size()) +
                ", expected " + std::to_string(expected));
        Nak(body.size() < expected ? kNakTooShort : kNakTooLong);
        return false;
    };
    switch (code) {
        case 0x0C:
            // The status probe is no download command; the downloader refuses it.
            if (leadingFlag || body.size() != 1) Violate("status probe framed as a download command");
            Nak(kNakUnknownCommand);
            return;
        case 0x06:
            if (!lengthIs(1)) return;
            SendFrame(Bytes{0x02}, true);
            return;
        case 0x07: {
            if (!lengthIs(1)) return;
            Bytes answer{0x08, 0x08, 0x02};
            AppendLe32(answer, kMaxWrite);
            answer.push_back(0x4F);   // model
            answer.push_back(0x06);   // flash size code: 8 MiB
            answer.push_back(0x0B);   // device type
            SendFrame(answer, true);
            return;
        }
        case 0x0F: {
            if (body.size() < 7) {
                lengthIs(7);
                return;
            }
            const uint32_t address = ReadBe32(body, 1);
            const uint16_t length = ReadBe16(body, 5);
            if (!lengthIs(7u + length)) return;
            if (length > kMaxWrite) {
                Violate("memory write longer than the downloader's maximum");
                Nak(kNakBadLength);
                return;
            }
            if (address < kRamBase || static_cast<uint64_t>(address) + length > static_cast<uint64_t>(kRamBase) + kRamSize) {
                Violate("memory write outside the RAM window");
                Nak(kNakBadAddress);
                return;
            }
            const uint32_t at = address - kRamBase;
            for (uint32_t i = 0; i < length; ++i) {
                ram_[at + i] = body[7 + i];
                ramWritten_[at + i] = true;
            }
            if (at + length > programmerBytes_) programmerBytes_ = at + length;
            SendFrame(Bytes{0x02}, true);
            return;
        }
        case 0x05: {
            if (!lengthIs(5)) return;
            const uint32_t target = ReadBe32(body, 1);
            if (target != kRamBase) {
                Violate("execution started at an address other than the programmer's");
                Nak(kNakBadAddress);
                return;
            }
            if (!ProgrammerInRam()) {
                Violate("execution started without a programmer image in RAM");
                Nak(kNakFailed);
                return;
            }
            if (ProgrammerHasHoles()) {
                // Parts of the image were never written: the programmer would crash.
                Violate("execution started with parts of the programmer image missing");
                Nak(kNakFailed);
                return;
            }
            SendFrame(Bytes{0x02}, true);
            ScheduleModeChange(CardMode::FlashProgrammer, false);
            return;
        }
        default:
            Violate("unknown download command 0x" + ToHex(&code, 1));
            Nak(kNakUnknownCommand);
            return;
    }
}

}  // namespace sim
