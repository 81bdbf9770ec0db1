// The virtual data card, free of any transport: bytes from the host go in
// through Receive, bytes for the host queue up and are taken with Read. Its
// delays run on platform::TickCount, so a test with a recording clock drives
// a whole upgrade deterministically.
//
// States: AT-command port, normal firmware (diagnostic protocol), boot
// downloader (download-mode protocol), flash programmer (streaming download
// protocol with raw blocks), and the new firmware after the reset (the
// diagnostic protocol again, over what the flash now holds). Every mode change
// re-enumerates: the card leaves the bus (Generation() changes, pending
// output is lost) and comes back after the re-enumeration delay.
//
// Not thread-safe: one caller at a time.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "packet/RawBlocks.h"
#include "sim/card/CardData.h"
#include "sim/card/Faults.h"
#include "sim/card/Hdlc.h"

namespace sim {

enum class CardMode { AtCommand, Diagnostic, BootDownloader, FlashProgrammer };
const char* ModeName(CardMode mode);   // "at", "diag", "download", "programmer"

struct CardTiming {
    uint32_t answerDelayMs = 0;            // from a complete request to its answer
    uint32_t leaveDelayMs = 100;           // from the answer of a mode switch to leaving the bus
    uint32_t reenumerationDelayMs = 1500;  // off the bus before the port comes back
};

struct Violation {
    uint32_t tick = 0;
    std::string mode;
    std::string text;
};

// RAM window of the boot downloader and the programmer load address.
constexpr uint32_t kRamBase = 0x00500000;
constexpr uint32_t kRamSize = 0x00100000;
constexpr uint32_t kProgrammerEntry = 0x00500028;
// Raw transfer sizes.
using packet::kPartitionHeaderBlockSize;
using packet::kRawBlockSize;
// Capacities: the NAND behind the programmer and the largest EFS file.
constexpr uint32_t kFlashCapacity = 256u * 1024 * 1024;
constexpr uint32_t kMaxEfsFileSize = 4u * 1024 * 1024;

class Card {
public:
    explicit Card(CardData data = DefaultCardData(), CardTiming timing = {}, FaultPlan faults = {});

    // Bytes from the host. Ignored while the card is off the bus or restarting.
    void Receive(std::span<const uint8_t> bytes);
    // Bytes for the host that are due now.
    size_t Available();
    size_t Read(uint8_t* buffer, size_t capacity);

    // On the bus (its port can be opened).
    bool Present();
    // Changes each time the card leaves the bus; a port of an older
    // generation is dead.
    uint32_t Generation();
    CardMode Mode();
    // Milliseconds until the card's next change that no input causes: an
    // answer falling due, leaving the bus or coming back. None when nothing
    // is scheduled. A front end can sleep until then instead of polling.
    std::optional<uint32_t> NextChangeIn();
    bool RunningNewFirmware() const { return newFirmware_; }
    uint32_t ModeChanges() const { return modeChanges_; }

    const CardData& Data() const { return data_; }
    CardData& MutableData() { return data_; }
    const std::vector<Violation>& Violations() const { return violations_; }
    // The faults stop: the cause was found and removed.
    void ClearFaults();
    // One more fault from the next request on.
    void AddFault(FaultRule rule);
    // A card rebuilt from a saved state takes up the mode it was in (at a
    // moment between two requests), on the bus.
    void ResumeIn(CardMode mode, bool newFirmware);
    // Full state: mode, card data, partition digests, violations, counters.
    nlohmann::json StateJson();

    // Every request the firmware heard, answered or not, in order:
    // "nvread 77", "spc", "lock on", "efsopen vek/a r", "efsread vek/a 0 1024", ...
    const std::vector<std::string>& Requests() const { return requests_; }
    void ClearRequests() { requests_.clear(); }

    // One line per frame both ways: "<tick> <mode> <</> <hex>".
    void SetTranscript(std::function<void(const std::string&)> sink) { transcript_ = std::move(sink); }

    // Counters for checks after a run.
    uint32_t RawBlocksAccepted() const { return rawBlocksAccepted_; }
    uint32_t RawBlocksRejected() const { return rawBlocksRejected_; }
    uint32_t ProgrammerBytesLoaded() const { return programmerBytes_; }
    bool LockAccessEnabled() const { return lockAccess_; }
    bool Bricked() const { return bricked_; }

private:
    struct OpenFile {
        std::string path;
        bool write = false;
    };
    struct DirEntry {
        std::string name;
        bool directory = false;
        uint32_t size = 0;
    };
    struct OpenDir {
        std::string path;
        std::vector<DirEntry> entries;   // sorted by name when the directory is opened
    };
    enum class RawStage { None, HeaderBlock, DataBlocks };

    // Time and the bus.
    void Poll();
    void ScheduleModeChange(CardMode target, bool newFirmware);
    void EnterMode(CardMode mode);

    // Input.
    void ReceiveByte(uint8_t byte);
    void ReceiveAtByte(uint8_t byte);
    void ReceiveRawByte(uint8_t byte);
    void HandleFrame(const RawFrame& frame);
    void HandleAtLine(const std::string& line);
    void Dispatch(const Bytes& body, bool leadingFlag);

    // Output.
    void SendFrame(const Bytes& body, bool leadingFlag);
    void SendText(const std::string& text);
    void Queue(Bytes bytes, uint32_t extraDelay);
    void Violate(const std::string& text);
    void Log(char direction, const uint8_t* data, size_t size);
    std::vector<FaultRule*> MatchFaults(FaultKind kind, int command);
    std::vector<FaultRule*> MatchEfsFaults(FaultKind kind, int command, const std::string& path);
    bool EfsFaultHits(FaultKind kind, int command, const std::string& path, int64_t& value);
    std::string DescribeRequest(const Bytes& body) const;
    std::string EfsPathOf(const Bytes& body) const;

    // Diagnostic firmware.
    void HandleDiag(const Bytes& body);
    void DiagError(uint8_t code, const Bytes& request);
    void HandleNv(const Bytes& body);
    void HandleWifi(const Bytes& body);
    void HandleEfs(const Bytes& body);
    void HandleFsOperation(const Bytes& body);
    void SendVersion();
    void WipeUserData();

    // Boot downloader.
    void HandleDownload(const Bytes& body, bool leadingFlag);
    void Nak(uint16_t reason);
    bool ProgrammerInRam() const;
    bool ProgrammerHasHoles() const;

    // Flash programmer.
    void HandleProgrammer(const Bytes& body);
    void ProgrammerError(uint32_t reason, const std::string& text);
    void StatusReport(uint8_t a, uint8_t b);
    void HandleAnnounce(const Bytes& body);
    void FinishHeaderBlock();
    void FinishDataBlock();
    void CommitImage(const std::string& name, Bytes content);

    CardData data_;
    CardTiming timing_;
    FaultPlan faults_;
    std::function<void(const std::string&)> transcript_;
    std::vector<Violation> violations_;
    std::vector<std::string> requests_;

    CardMode mode_ = CardMode::Diagnostic;
    bool newFirmware_ = false;
    bool present_ = true;
    uint32_t generation_ = 1;
    uint32_t modeChanges_ = 0;
    std::optional<uint32_t> presentAt_;
    struct PendingChange {
        CardMode target;
        bool newFirmware;
        uint32_t leaveAt;
    };
    std::optional<PendingChange> pending_;
    bool silenced_ = false;           // answer-once-after-reset fault has struck
    bool identifyOnce_ = false;       // answer-once-after-reset fault armed
    bool bricked_ = false;            // reset into a flash it cannot start from

    struct Chunk {
        uint32_t readyAt;
        Bytes bytes;
    };
    std::deque<Chunk> output_;
    uint32_t lastAnswerAt_ = 0;

    Deframer deframer_;
    std::string atLine_;
    Bytes rawIn_;
    Bytes frameLog_;                  // received bytes of the frame being collected

    // Request being answered and the faults that apply to it.
    std::vector<FaultRule*> shaping_;   // late/corrupt/split/... rules hit by this request

    // Diagnostic state.
    bool offline_ = false;
    bool spcUnlocked_ = false;
    bool lockAccess_ = false;
    std::map<uint32_t, OpenFile> files_;
    uint32_t nextFd_ = 0;
    std::map<uint32_t, OpenDir> dirs_;
    uint32_t nextDir_ = 1;

    // Boot downloader state.
    Bytes ram_;
    std::vector<bool> ramWritten_;
    uint32_t programmerBytes_ = 0;

    // Programmer state.
    bool helloDone_ = false;
    bool securityDone_ = false;
    bool tableAccepted_ = false;
    std::optional<uint8_t> openType_;
    Bytes streamImage_;
    bool streamWritten_ = false;
    RawStage rawStage_ = RawStage::None;
    uint32_t rawSize_ = 0;
    std::string rawImage_;
    Bytes rawContent_;
    std::set<uint32_t> rawBlocksDone_;
    uint32_t rawBlocksAccepted_ = 0;
    uint32_t rawBlocksRejected_ = 0;
    bool partitionTableChanged_ = false;
};

}  // namespace sim
