// The card's bus presence, input splitting, answer queue and fault shaping.
// The protocol handlers live in CardDiag.cpp, CardDownload.cpp and
// CardProgrammer.cpp.
#include "sim/card/Card.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "packet/ByteOrder.h"
#include "platform/Platform.h"

namespace sim {
namespace {

bool Due(uint32_t now, uint32_t at) { return static_cast<int32_t>(now - at) >= 0; }

}  // namespace

const char* ModeName(CardMode mode) {
    switch (mode) {
        case CardMode::AtCommand: return "at";
        case CardMode::Diagnostic: return "diag";
        case CardMode::BootDownloader: return "download";
        case CardMode::FlashProgrammer: return "programmer";
    }
    return "?";
}

Card::Card(CardData data, CardTiming timing, FaultPlan faults)
    : data_(std::move(data)), timing_(timing), faults_(std::move(faults)) {
    EnterMode(data_.startInAtMode ? CardMode::AtCommand : CardMode::Diagnostic);
}

// ---------------------------------------------------------------- bus ----

void Card::Poll() {
    const uint32_t now = platform::TickCount();
    if (pending_ && Due(now, pending_->leaveAt)) {
        const PendingChange change = *pending_;
        pending_.reset();
        ++generation_;
        ++modeChanges_;
        present_ = false;
        output_.clear();
        newFirmware_ = change.newFirmware;
        EnterMode(change.target);
        uint32_t delay = timing_.reenumerationDelayMs;
        bool missing = false;
        for (auto& rule : faults_.rules) {
            if (rule.kind == FaultKind::SlowReenumeration && FaultHits(rule)) delay = static_cast<uint32_t>(rule.value);
            if (rule.kind == FaultKind::MissingReenumeration && FaultHits(rule)) missing = true;
            if (rule.kind == FaultKind::AnswerOnceAfterReset && change.newFirmware) identifyOnce_ = true;
        }
        if (change.newFirmware) {
            // The new firmware reports the version its image carries.
            auto amss = data_.partitions.find("amss.mbn");
            if (amss != data_.partitions.end()) {
                const std::string version = VersionInImage(amss->second.content);
                if (!version.empty()) data_.version = version;
            }
        }
        if (missing || bricked_) {
            presentAt_.reset();
        } else {
            // Timed from the moment it left, however late this poll comes.
            presentAt_ = change.leaveAt + delay;
        }
        if (transcript_) transcript_(std::to_string(now) + " " + ModeName(mode_) + " - left the bus");
    }
    if (!present_ && presentAt_ && Due(now, *presentAt_)) {
        present_ = true;
        presentAt_.reset();
        if (transcript_) transcript_(std::to_string(now) + " " + ModeName(mode_) + " - back on the bus");
    }
}

std::optional<uint32_t> Card::NextChangeIn() {
    Poll();
    const uint32_t now = platform::TickCount();
    std::optional<uint32_t> soonest;
    const auto consider = [&](uint32_t at) {
        const uint32_t in = Due(now, at) ? 0 : at - now;
        if (!soonest || in < *soonest) soonest = in;
    };
    if (pending_) consider(pending_->leaveAt);
    if (!present_ && presentAt_) consider(*presentAt_);
    if (!output_.empty()) consider(output_.front().readyAt);
    return soonest;
}

bool Card::Present() {
    Poll();
    return present_;
}

uint32_t Card::Generation() {
    Poll();
    return generation_;
}

CardMode Card::Mode() {
    Poll();
    return mode_;
}

void Card::AddFault(FaultRule rule) {
    shaping_.clear();
    faults_.rules.push_back(std::move(rule));
}

void Card::ClearFaults() {
    faults_.rules.clear();
    identifyOnce_ = false;
    silenced_ = false;
}

void Card::ResumeIn(CardMode mode, bool newFirmware) {
    pending_.reset();
    presentAt_.reset();
    present_ = true;
    newFirmware_ = newFirmware;
    EnterMode(mode);
}

void Card::ScheduleModeChange(CardMode target, bool newFirmware) {
    pending_ = PendingChange{target, newFirmware, lastAnswerAt_ + timing_.leaveDelayMs};
}

void Card::EnterMode(CardMode mode) {
    mode_ = mode;
    deframer_.Reset();
    frameLog_.clear();
    atLine_.clear();
    rawIn_.clear();
    rawStage_ = RawStage::None;
    offline_ = false;
    spcUnlocked_ = false;
    files_.clear();
    dirs_.clear();
    if (mode == CardMode::BootDownloader) {
        ram_.assign(kRamSize, 0);
        ramWritten_.assign(kRamSize, false);
        programmerBytes_ = 0;
    } else if (mode != CardMode::FlashProgrammer) {
        ram_.clear();
        ramWritten_.clear();
    }
    helloDone_ = false;
    securityDone_ = false;
    tableAccepted_ = false;
    openType_.reset();
    streamImage_.clear();
    streamWritten_ = false;
}

// ---------------------------------------------------------------- input ----

void Card::Receive(std::span<const uint8_t> bytes) {
    Poll();
    if (!present_ || pending_) return;
    size_t i = 0;
    while (i < bytes.size()) {
        if (rawStage_ != RawStage::None && !rawIn_.empty()) {
            // Bulk copy of a raw block in progress up to the end of the unit.
            size_t unit = kPartitionHeaderBlockSize;
            if (rawStage_ == RawStage::DataBlocks && rawIn_.size() >= 4) {
                const uint32_t offset = packet::bytes::LoadLe32(rawIn_.data());
                unit = offset < rawSize_ ? std::min<uint32_t>(kRawBlockSize, rawSize_ - offset) + 8 : 4;
            } else if (rawStage_ == RawStage::DataBlocks) {
                unit = 4;
            }
            if (rawIn_.size() + 1 < unit) {
                const size_t take = std::min(unit - rawIn_.size() - 1, bytes.size() - i);
                rawIn_.insert(rawIn_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i),
                              bytes.begin() + static_cast<std::ptrdiff_t>(i + take));
                i += take;
                if (i >= bytes.size()) break;
            }
        }
        ReceiveByte(bytes[i++]);
        if (pending_) break;
    }
}

void Card::ReceiveByte(uint8_t byte) {
    if (mode_ == CardMode::AtCommand) {
        ReceiveAtByte(byte);
        return;
    }
    if (rawStage_ != RawStage::None) {
        ReceiveRawByte(byte);
        return;
    }
    frameLog_.push_back(byte);
    // The firmware's port also takes AT commands between frames.
    if (mode_ == CardMode::Diagnostic && byte == '\r' && !deframer_.Pending().empty() && !deframer_.Empty()) {
        const auto& pending = deframer_.Pending();
        if (pending.size() >= 2 && std::toupper(pending[0]) == 'A' && std::toupper(pending[1]) == 'T' &&
            std::find(pending.begin(), pending.end(), kFlag) == pending.end()) {
            const std::string line(pending.begin(), pending.end());
            deframer_.Reset();
            frameLog_.clear();
            HandleAtLine(line);
            return;
        }
    }
    if (deframer_.Push(byte)) {
        Log('<', frameLog_.data(), frameLog_.size());
        frameLog_.clear();
        HandleFrame(deframer_.Take());
    } else if (deframer_.Empty()) {
        // Only flags so far: keep a single one for the transcript.
        frameLog_.assign(1, kFlag);
    }
}

void Card::ReceiveAtByte(uint8_t byte) {
    if (byte == kFlag) {
        // A binary frame on the AT port: the modem does not understand it.
        atLine_.push_back(static_cast<char>(byte));
        Log('<', reinterpret_cast<const uint8_t*>(atLine_.data()), atLine_.size());
        atLine_.clear();
        return;
    }
    if (byte == '\r') {
        const std::string line = atLine_;
        atLine_.clear();
        HandleAtLine(line);
        return;
    }
    if (byte == '\n') return;
    if (atLine_.size() < 512) atLine_.push_back(static_cast<char>(byte));
}

void Card::HandleAtLine(const std::string& line) {
    const std::string received = line + "\r";
    Log('<', reinterpret_cast<const uint8_t*>(received.data()), received.size());
    if (line.find_first_not_of(" \t") == std::string::npos) return;
    std::string upper = line;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    shaping_.clear();
    if (upper == "AT$QCDMG") {
        SendText(line + "\r\r\nOK\r\n");
        if (mode_ == CardMode::AtCommand) {
            mode_ = CardMode::Diagnostic;
            deframer_.Reset();
            frameLog_.clear();
        }
    } else if (upper == "AT" || upper == "ATE0" || upper == "ATE1" || upper == "ATZ") {
        SendText(line + "\r\r\nOK\r\n");
    } else {
        SendText(line + "\r\r\nERROR\r\n");
    }
}

void Card::HandleFrame(const RawFrame& frame) {
    const Bytes plain = Unescape(frame.escaped);
    const bool good = FcsIsGood(plain);
    Bytes body;
    if (plain.size() >= 2) body.assign(plain.begin(), plain.end() - 2);
    switch (mode_) {
        case CardMode::Diagnostic:
            if (frame.leadingFlag) Violate("diagnostic request with a leading flag");
            if (!good) {
                // The diagnostic task drops frames that fail their check.
                Violate("request with a bad frame check sequence");
                return;
            }
            break;
        case CardMode::BootDownloader:
        case CardMode::FlashProgrammer: {
            const bool probe = body.size() == 1 && body[0] == 0x0C;
            if (!frame.leadingFlag && !probe) Violate("request without its leading flag");
            if (!good) {
                Violate("request with a bad frame check sequence");
                shaping_.clear();
                if (mode_ == CardMode::BootDownloader) {
                    Nak(1);
                } else {
                    ProgrammerError(4, "Unexpected end of packet");
                }
                return;
            }
            break;
        }
        case CardMode::AtCommand:
            return;
    }
    if (body.empty()) {
        Violate("empty request");
        return;
    }
    Dispatch(body, frame.leadingFlag);
}

void Card::Dispatch(const Bytes& body, bool leadingFlag) {
    const int command = body[0];
    shaping_.clear();
    if (mode_ == CardMode::Diagnostic) requests_.push_back(DescribeRequest(body));
    if (silenced_) return;
    const bool nvRequest = (command == 0x26 || command == 0x27) && body.size() >= 3;
    const int nvItem = nvRequest ? packet::bytes::ReadLe16(body, 1) : -1;
    for (FaultRule* rule : MatchFaults(FaultKind::Silence, command)) {
        if (rule->item != -1 && rule->item != nvItem) continue;
        if (FaultHits(*rule)) return;
    }
    for (FaultKind kind : {FaultKind::Late, FaultKind::Corrupt, FaultKind::NoEndFlag, FaultKind::Split, FaultKind::ExtraFlags}) {
        for (FaultRule* rule : MatchFaults(kind, command)) {
            if (FaultHits(*rule)) shaping_.push_back(rule);
        }
    }
    for (FaultRule* rule : MatchFaults(FaultKind::Nak, command)) {
        if (!FaultHits(*rule)) continue;
        const int64_t value = rule->value;
        if (mode_ == CardMode::Diagnostic) {
            DiagError(static_cast<uint8_t>(rule->valueGiven ? value : 0x13), body);
        } else if (mode_ == CardMode::BootDownloader) {
            Nak(static_cast<uint16_t>(rule->valueGiven ? value : 7));
        } else {
            ProgrammerError(static_cast<uint32_t>(rule->valueGiven ? value : 7), "refused");
        }
        return;
    }
    switch (mode_) {
        case CardMode::Diagnostic: HandleDiag(body); break;
        case CardMode::BootDownloader: HandleDownload(body, leadingFlag); break;
        case CardMode::FlashProgrammer: HandleProgrammer(body); break;
        case CardMode::AtCommand: break;
    }
}

std::vector<FaultRule*> Card::MatchFaults(FaultKind kind, int command) {
    std::vector<FaultRule*> out;
    for (auto& rule : faults_.rules) {
        if (rule.kind != kind) continue;
        if (!rule.mode.empty() && rule.mode != ModeName(mode_)) continue;
        if (rule.command != -1 && rule.command != command) continue;
        out.push_back(&rule);
    }
    return out;
}

// ---------------------------------------------------------------- output ----

void Card::SendFrame(const Bytes& body, bool leadingFlag) {
    Bytes frame = BuildFrame(body, leadingFlag);
    uint32_t delay = 0;
    uint32_t splitDelay = 0;
    bool split = false;
    for (const FaultRule* rule : shaping_) {
        switch (rule->kind) {
            case FaultKind::Late: delay += static_cast<uint32_t>(rule->value); break;
            case FaultKind::Corrupt: {
                size_t index = rule->valueGiven ? static_cast<size_t>(rule->value) : (leadingFlag ? 1 : 0);
                if (index >= frame.size() - 1) index = frame.size() - 2;
                uint8_t flipped = static_cast<uint8_t>(frame[index] ^ 0x01);
                if (flipped == kFlag || flipped == kEscape) flipped = static_cast<uint8_t>(frame[index] ^ 0x03);
                frame[index] = flipped;
                break;
            }
            case FaultKind::NoEndFlag: frame.pop_back(); break;
            case FaultKind::ExtraFlags: {
                const size_t count = rule->valueGiven ? static_cast<size_t>(rule->value) : 1;
                frame.insert(frame.begin(), count, kFlag);
                frame.insert(frame.end(), count, kFlag);
                break;
            }
            case FaultKind::Split:
                split = true;
                splitDelay = rule->valueGiven ? static_cast<uint32_t>(rule->value) : 50;
                break;
            default: break;
        }
    }
    if (split && frame.size() >= 2) {
        const size_t half = frame.size() / 2;
        Queue(Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(half)), delay);
        Queue(Bytes(frame.begin() + static_cast<std::ptrdiff_t>(half), frame.end()), delay + splitDelay);
    } else {
        Queue(std::move(frame), delay);
    }
}

void Card::SendText(const std::string& text) { Queue(Bytes(text.begin(), text.end()), 0); }

void Card::Queue(Bytes bytes, uint32_t extraDelay) {
    const uint32_t now = platform::TickCount();
    uint32_t readyAt = now + timing_.answerDelayMs + extraDelay;
    if (!output_.empty() && !Due(readyAt, output_.back().readyAt)) readyAt = output_.back().readyAt;
    lastAnswerAt_ = readyAt;
    Log('>', bytes.data(), bytes.size());
    output_.push_back(Chunk{readyAt, std::move(bytes)});
}

size_t Card::Available() {
    Poll();
    const uint32_t now = platform::TickCount();
    size_t count = 0;
    for (const auto& chunk : output_) {
        if (!Due(now, chunk.readyAt)) break;
        count += chunk.bytes.size();
    }
    return count;
}

size_t Card::Read(uint8_t* buffer, size_t capacity) {
    Poll();
    const uint32_t now = platform::TickCount();
    size_t done = 0;
    while (done < capacity && !output_.empty() && Due(now, output_.front().readyAt)) {
        Bytes& front = output_.front().bytes;
        const size_t take = std::min(capacity - done, front.size());
        std::copy(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(take), buffer + done);
        done += take;
        if (take == front.size()) {
            output_.pop_front();
        } else {
            front.erase(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(take));
        }
    }
    return done;
}

void Card::Violate(const std::string& text) {
    const uint32_t now = platform::TickCount();
    violations_.push_back(Violation{now, ModeName(mode_), text});
    if (transcript_) transcript_(std::to_string(now) + " " + ModeName(mode_) + " ! " + text);
}

void Card::Log(char direction, const uint8_t* data, size_t size) {
    if (!transcript_) return;
    std::string line = std::to_string(platform::TickCount()) + " " + ModeName(mode_) + " " + direction + " ";
    line += ToHex(data, size);
    transcript_(line);
}

nlohmann::json Card::StateJson() {
    Poll();
    nlohmann::json out = CardDataToJson(data_);
    out["mode"] = ModeName(mode_);
    out["new_firmware"] = newFirmware_;
    out["present"] = present_;
    out["generation"] = generation_;
    out["mode_changes"] = modeChanges_;
    out["lock_access"] = lockAccess_;
    out["offline"] = offline_;
    out["spc_unlocked"] = spcUnlocked_;
    out["bricked"] = bricked_;
    out["partition_table_changed"] = partitionTableChanged_;
    out["raw_blocks_accepted"] = rawBlocksAccepted_;
    out["raw_blocks_rejected"] = rawBlocksRejected_;
    out["programmer_bytes_loaded"] = programmerBytes_;
    nlohmann::json violations = nlohmann::json::array();
    for (const auto& v : violations_) violations.push_back({{"tick", v.tick}, {"mode", v.mode}, {"text", v.text}});
    out["violations"] = violations;
    return out;
}

}  // namespace sim
