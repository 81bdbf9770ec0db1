// A small scripted card for the backup tests: it sits behind the port opener,
// answers the diagnostic, NV, Wi-Fi, EFS2 and lock-switch requests the backup
// and restore make, keeps a log of what it was asked, and misbehaves on cue
// (silence, refusals, failing fstat, short reads) so every branch can be hit.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace backup_test {

using Bytes = std::vector<uint8_t>;

class ScriptedCard {
public:
    // ---- what the card holds
    std::map<uint16_t, std::array<uint8_t, 128>> nv;
    std::set<uint16_t> inactive;   // reads and writes answer status 5
    std::set<uint16_t> readOnly;   // writes answer status 7
    std::map<uint16_t, uint16_t> readStatus;   // reads answer this status
    std::array<uint8_t, 6> wifi{};
    std::set<std::string> dirs;                // "vek", "vek/sub"
    std::map<std::string, Bytes> files;        // "vek/a"
    bool listDotEntries = false;               // readdir gives "." and ".." as directories
    bool endlessListing = false;               // readdir never reaches the end of a directory
    bool lockAccess = false;                   // the lock-file switch
    uint32_t esn = 0x8012A5C3;
    bool esnSilent = false;                    // the ESN request goes unanswered

    // ---- misbehaviour
    std::map<uint16_t, int> silentNvReads;     // item -> requests left unanswered
    std::map<uint16_t, int> silentNvWrites;
    std::deque<int> wifiReads;                 // per read: 1 answer, 0 refuse, -1 silent, -2 unknown command (then 1)
    std::deque<int> wifiWrites;                // per write: same
    int spcRefusals = 0;                       // SPC requests answered "not accepted"
    bool lockSwitchFails = false;
    std::set<std::string> fstatFails;
    std::map<std::string, uint32_t> shortReads;   // path -> bytes returned at most per read
    std::set<std::string> openDirFails;
    std::set<std::string> writeFails;

    // ---- what the card saw, in order ("nvread 77", "efsopen vek/a r", ...)
    std::vector<std::string> log;

    // Installs this card as the port behind every COM number.
    void Install();
    static void Uninstall();

    // Port side (used by the opener's port object).
    void Receive(const uint8_t* data, uint32_t count);
    uint32_t Pending() const { return static_cast<uint32_t>(out_.size()); }
    uint32_t Take(uint8_t* buffer, uint32_t count);
    void Purge() { out_.clear(); }

    size_t Count(const std::string& prefix) const;

private:
    void Handle(const Bytes& body);
    void Answer(const Bytes& body);
    void HandleNv(const Bytes& body);
    void HandleWifi(const Bytes& body);
    void HandleEfs(const Bytes& body);
    std::vector<std::pair<std::string, uint32_t>> Children(const std::string& dir) const;

    Bytes in_;
    std::deque<uint8_t> out_;
    std::map<uint32_t, std::string> openFiles_;
    std::map<uint32_t, std::string> openDirs_;
    uint32_t nextHandle_ = 1;
};

}  // namespace backup_test
