// CPacket: the protocol object of one upgrade run. It is the serial port too
// (public base CSerial) and speaks the diagnostic, download-mode, streaming
// download and EFS2 command sets over it. Every command resets the object,
// fills the request record, runs one transaction and leaves a readable
// sentence in ErrorText() when it fails. Success never clears that text.
//
// The public operations below are what the upgrade layer relies on; the
// records, buffers and parsers behind them belong to this folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "packet/Serial.h"

namespace packet {

enum class PacketMode : uint32_t { Diag = 0, Download = 1, Streaming = 2, Raw = 3 };

// Three NUL-terminated texts of a software-version answer (54 bytes).
struct SoftwareVersionRecord {
    char version[31];
    char second[13];
    char third[10];
};
static_assert(sizeof(SoftwareVersionRecord) == 54);

// Parameters of the boot downloader (answer 0x08 of a parameter request).
struct ParamRecord {
    uint8_t responseCode = 0;
    uint8_t protocolVersion = 0;
    uint8_t minimumVersion = 0;
    uint32_t maximumWriteSize = 0;
    uint8_t model = 0;
    uint8_t flashSizeCodeReceived = 0;
    uint32_t flashSizeBytes = 0;
    uint8_t deviceType = 0;
    uint8_t flashSizeCode = 0;
    char modelName[64] = {};
    char deviceName[128] = {};
};

// Buffers and records behind a CPacket; defined in packet/PacketState.h.
struct PacketState;
// How one command goes out; defined in packet/Command.h.
struct CommandSpec;

// The decoded answer: byte 0 is the response code; the streaming status
// report keeps its two bytes as record bytes 1 and 2.
struct ResponseRecord {
    static constexpr size_t kSize = 512;
    uint8_t bytes[kSize] = {};
    uint8_t& code() { return bytes[0]; }
    uint8_t code() const { return bytes[0]; }
};

// A streaming status report: the stage it reports and its outcome.
struct StatusReport {
    uint8_t stage = 0;
    uint8_t outcome = 0;
};

class CPacket : public CSerial {
public:
    static constexpr size_t kRequestBufferSize = 2048;
    static constexpr size_t kResponseBufferSize = 2050;
    static constexpr size_t kPayloadSize = 1024;
    static constexpr size_t kBlockWrittenCapacity = 64;
    // The service programming code SendSpc sends: six ASCII decimal digits.
    static constexpr char kDefaultServiceProgrammingCode[] = "000000";

    CPacket();
    virtual ~CPacket();
    CPacket(const CPacket&) = delete;
    CPacket& operator=(const CPacket&) = delete;

    // ---- state the module reads
    const std::string& ErrorText() const;
    [[nodiscard]] bool PartitionOverride() const;
    void SetPartitionOverride(bool value);
    const ResponseRecord& Response() const;
    // The status report the streaming receive steps keep until a wait takes it.
    [[nodiscard]] std::optional<StatusReport> PendingStatusReport() const;
    // Takes the pending status report: nothing of it stays in the answer record.
    void TakeStatusReport();
    // Block-written addresses decoded by the last receive step.
    uint8_t BlockWrittenCount() const;
    [[nodiscard]] uint32_t BlockWrittenAddress(uint8_t index) const;
    // Bytes the last ReceiveStreamingStep moved (0 when the port had none).
    [[nodiscard]] uint32_t LastStepLength() const;

    // ---- diagnostic commands
    [[nodiscard]] bool GetEsn(uint32_t& esn);
    [[nodiscard]] bool GetSoftwareVersion(SoftwareVersionRecord& record);
    [[nodiscard]] bool NvItemRead(uint16_t item, uint8_t data[128], uint16_t& status);
    [[nodiscard]] bool NvItemWrite(uint16_t item, const uint8_t data[128], uint16_t& status);
    [[nodiscard]] bool SendSpc();
    [[nodiscard]] bool EnterOfflineMode();
    [[nodiscard]] bool SwitchDownloader();
    // The card answered the last request with the error of a command it does not know.
    [[nodiscard]] bool AnsweredUnknownCommand() const;
    [[nodiscard]] int ReadWiFiAddress(uint8_t mac[6]);          // 1 read, 0 refused, -1 no answer
    [[nodiscard]] int WriteWiFiAddress(const uint8_t mac[6]);   // 1 written, 0 refused, -1 no answer
    [[nodiscard]] bool SwitchToDiagMode();
    [[nodiscard]] bool CommunicateWithMobile();

    // ---- download-mode commands
    [[nodiscard]] bool DoNoop();
    [[nodiscard]] bool ParamRequest(ParamRecord& record);
    [[nodiscard]] bool Go();
    [[nodiscard]] bool Write32(const uint8_t* data, uint32_t address, uint16_t length);
    [[nodiscard]] bool TouchPort();

    // ---- streaming download commands
    [[nodiscard]] bool Hello();
    [[nodiscard]] bool Nop();
    [[nodiscard]] bool Reset();
    [[nodiscard]] bool SecurityMode();
    [[nodiscard]] bool PartitionTable(const uint8_t* table, uint32_t length);
    [[nodiscard]] bool OpenMultiImage(uint8_t imageType, const uint8_t* payload, uint32_t length);
    [[nodiscard]] bool StreamWrite(const uint8_t* data, uint32_t address, uint32_t length);
    [[nodiscard]] bool CloseImage();
    [[nodiscard]] bool AnnounceImageSize(uint32_t imageSize, uint8_t mode);
    [[nodiscard]] bool ReceiveStreamingStep();

    // ---- EFS2 commands and the lock-file access switch
    [[nodiscard]] bool EfsOpenDir(const std::u16string& path, uint32_t& handle);
    // The last EFS answer refused a directory open because there is no such directory.
    [[nodiscard]] bool EfsDirectoryMissing() const;
    [[nodiscard]] bool EfsReadDir(uint32_t handle, uint32_t sequence, uint32_t& type, std::u16string& name);
    [[nodiscard]] bool EfsCloseDir(uint32_t handle);
    [[nodiscard]] bool EfsOpen(const std::u16string& path, bool forReading, uint32_t& descriptor);
    [[nodiscard]] bool EfsFstat(uint32_t descriptor, uint32_t& size);
    // Never copies more than bufferSize bytes into buffer.
    [[nodiscard]] bool EfsRead(uint32_t descriptor, uint32_t count, uint32_t offset, uint8_t* buffer, uint32_t bufferSize,
                 uint32_t& bytesRead);
    [[nodiscard]] bool EfsWrite(uint32_t descriptor, uint32_t offset, const uint8_t* data, uint32_t length);
    [[nodiscard]] bool EfsClose(uint32_t descriptor);
    [[nodiscard]] bool EnableDisableLockFileRW(uint8_t value);

    // ---- the transport (public for the operations of this folder and tests)
    void ResetCommand();
    [[nodiscard]] uint32_t BuildFrame();
    [[nodiscard]] bool SendPacket(uint8_t attempts, uint32_t timeoutMs);
    [[nodiscard]] bool ParseFrame();
    PacketMode Mode() const;
    void SetMode(PacketMode mode);
    // FCS of n bytes stored behind them, low byte first; returns n + 2.
    [[nodiscard]] static uint32_t AppendFcs(uint8_t* bytes, uint32_t n);
    // True when n is not 0 and the n bytes (ending in their FCS) check.
    [[nodiscard]] static bool CheckFcs(const uint8_t* bytes, uint16_t n);

    // ---- the streaming download receive path of its own
    [[nodiscard]] bool SendStreamingPacket(uint32_t timeoutMs);
    [[nodiscard]] bool ParseStreamingFrames();
    [[nodiscard]] bool ParseStreamingFrame(const uint8_t* bytes, uint32_t n);

    // ---- texts of the device's status codes and error responses
    static const char* DiagErrorText(uint8_t code);
    static const char* GetNvStatusText(uint16_t status);
    static const char* NakReasonText(uint16_t reason);
    static const char* StreamErrorText(uint32_t reason);
    static const char* FileSystemStatusText(uint8_t status);

    // The state shared by the files of this folder.
    using State = PacketState;

private:
    template <class Fill>
    [[nodiscard]] bool RunCommand(const CommandSpec& spec, Fill&& fill);
    [[nodiscard]] bool RunCommand(const CommandSpec& spec);
    void BeginCommand(const CommandSpec& spec);
    [[nodiscard]] bool FinishCommand(const CommandSpec& spec);
    [[nodiscard]] bool RunExchange(const CommandSpec& spec);
    [[nodiscard]] bool SendFrameOnly();
    // Bytes queued once the answer stopped growing over one pause, or when the time ran out.
    [[nodiscard]] uint32_t AwaitAnswer(uint32_t pauseMs, uint32_t timeoutMs);
    [[nodiscard]] bool SendEfs(const CommandSpec& spec);
    // Refuses a request whose data exceeds the payload: true when refused.
    [[nodiscard]] bool RefuseOversized(uint32_t length, const char* failurePrefix);
    void ComposeError(const std::string& prefix);

    std::unique_ptr<State> state_;
};

}  // namespace packet
