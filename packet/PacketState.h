// The private state behind CPacket: the command and answer records, the
// fixed request and response buffers, the read-ahead buffer of the streaming
// receive path and the error texts. Shared by the files of this folder only.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "packet/ByteOrder.h"
#include "packet/Codec.h"
#include "packet/Packet.h"

namespace packet {

// The command to send. Each command sets every field its builder reads.
struct RequestRecord {
    uint8_t command = 0;
    // diagnostic
    uint8_t subsystem = 0;
    uint16_t value16 = 0;          // NV item, mode, or subsystem command code
    uint8_t nvData[128] = {};
    uint16_t nvStatus = 0;
    uint8_t mac[6] = {};
    uint8_t subsystemStatus = 0;
    uint8_t fsOperation = 0;       // command 0x59
    uint8_t fsValue = 0;
    // download mode and streaming
    uint8_t parameter = 0;         // security mode or image type
    uint32_t address = 0;
    uint32_t length = 0;
    uint8_t data[CPacket::kPayloadSize] = {};
};

struct PacketState {
    RequestRecord request;
    ResponseRecord response;
    PacketMode mode = PacketMode::Diag;

    // The unescaped request body (Raw mode: placed by the caller) and the
    // finished frame that goes to the port.
    uint8_t requestBuffer[CPacket::kRequestBufferSize] = {};
    uint32_t requestLength = 0;
    bool requestOverflow = false;
    uint8_t frame[CPacket::kRequestBufferSize] = {};
    uint32_t frameLength = 0;

    // First the bytes read, after decoding the decoded answer with its FCS.
    uint8_t responseBuffer[CPacket::kResponseBufferSize] = {};
    uint16_t responseLength = 0;
    uint16_t rawReceivedLength = 0;
    uint32_t decodedLength = 0;

    std::string errorText;
    std::string composedText;

    uint8_t payload[CPacket::kPayloadSize] = {};
    uint32_t payloadLength = 0;

    codec::ReadAhead readAhead;
    uint32_t lastStepLength = 0;

    // streaming state
    bool partitionOverride = false;
    uint32_t announceSize = 0;
    uint32_t announceMode = 0;
    uint32_t blockWritten[CPacket::kBlockWrittenCapacity] = {};
    uint8_t blockWrittenCount = 0;

    // an EFS2 answer, unescaped; zero beyond its end
    uint8_t efsWork[CPacket::kRequestBufferSize] = {};
    uint32_t efsLength = 0;

    // decoded answers that do not fit the plain response bytes
    SoftwareVersionRecord version = {};
    ParamRecord param = {};

    // Length of the decoded answer without its two FCS bytes.
    size_t BodyLength() const { return decodedLength >= 2 ? decodedLength - 2 : 0; }
    // The decoded answer with its FCS.
    std::span<const uint8_t> AnswerBytes() const {
        return {responseBuffer, decodedLength < CPacket::kResponseBufferSize ? decodedLength
                                                                             : CPacket::kResponseBufferSize};
    }
    // Byte i of the decoded answer; 0 beyond its end.
    uint8_t Answer(size_t i) const { return bytes::ReadU8(AnswerBytes(), i); }
};

// Appends fields to the request body; a body that would not fit the request
// buffer marks the request as refused instead of writing past the buffer.
class BodyWriter {
public:
    explicit BodyWriter(PacketState& s) : s_(s) {}
    void U8(uint8_t v) { Bytes(&v, 1); }
    void Le16(uint16_t v) { Field<2>(bytes::StoreLe16, v); }
    void Be16(uint16_t v) { Field<2>(bytes::StoreBe16, v); }
    void Le32(uint32_t v) { Field<4>(bytes::StoreLe32, v); }
    void Be32(uint32_t v) { Field<4>(bytes::StoreBe32, v); }
    void Bytes(const uint8_t* data, size_t n) {
        if (n > CPacket::kRequestBufferSize - s_.requestLength) {
            s_.requestOverflow = true;
            return;
        }
        if (n != 0) {
            std::memcpy(s_.requestBuffer + s_.requestLength, data, n);
        }
        s_.requestLength += static_cast<uint32_t>(n);
    }

private:
    template <size_t width, class Value>
    void Field(void (*store)(uint8_t*, Value), Value v) {
        uint8_t b[width];
        store(b, v);
        Bytes(b, width);
    }

    PacketState& s_;
};

// Request-body builders and answer parsers of each command set.
void BuildDiagRequest(PacketState& s);
void BuildDownloadRequest(PacketState& s);
void BuildStreamingRequest(PacketState& s);
bool ParseDiagResponse(PacketState& s);
bool ParseDownloadResponse(PacketState& s);
bool ParseStreamingResponse(PacketState& s);

// Diagnostic command codes more than one file of this folder sends or checks.
inline constexpr uint8_t kNvItemRead = 0x26;
inline constexpr uint8_t kNvItemWrite = 0x27;
inline constexpr uint8_t kSubsystemCommand = 0x4B;
inline constexpr uint8_t kFileSystemOperation = 0x59;

// Texts shared between the files of this folder.
inline constexpr const char* kTextCannotSend = "Port Cannot Send desired data to the Phone";
inline constexpr const char* kTextCannotReceive = "Port Cannot Receive Desired Data from the Phone";
inline constexpr const char* kTextTooLarge = "The Received Data from the Phone is Too Large";
// An answer that ends before a field its command reads.
inline constexpr const char* kTextTooShort = "The Received Data from the Phone is Too Short";
inline constexpr const char* kTextNoEndFlag = "the Received Data is Wrong without End Flag(0x7e)";
inline constexpr const char* kTextWrongCrc = "the Received Data is Wrong with Wrong CRC Checksum";
inline constexpr const char* kTextStreamingCrc = "the Received Data is Wrong with CRC Checksum";
// A request whose frame would not fit the request buffer is not sent.
inline constexpr const char* kTextRequestTooLarge = "The Request Data to the Phone is Too Large";

}  // namespace packet
