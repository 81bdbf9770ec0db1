// What the card holds: NV items, the Wi-Fi address, the EFS tree, the flash
// partitions and the partition table, plus the identity it reports. Loaded
// from and written to JSON (profile and state files).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace sim {

using Bytes = std::vector<uint8_t>;

struct NvItem {
    std::array<uint8_t, 128> data{};
    bool inactive = false;    // reads and writes answer status 5
    bool readOnly = false;    // writes answer status 7
};

// A flash partition; `erased` is set by an empty announcement, `incomplete`
// while an image is being written to it (the old content is gone).
struct Partition {
    Bytes content;
    bool erased = false;
    bool incomplete = false;
};

// Partitions the card cannot start without.
const std::vector<std::string>& BootPartitions();

// The software version a firmware image announces: the text behind
// "SWVER=" up to a NUL, or "" when it carries none.
std::string VersionInImage(const Bytes& image);
constexpr const char* kVersionTag = "SWVER=";

// Version texts of the two kinds of card: a Q7k build and one without the
// family marker.
constexpr const char* kQ7kVersion = "LUM_Q7KV1.0.0B05";
constexpr const char* kOtherVersion = "LUM_W326V1.0.0B05";

struct CardData {
    uint32_t esn = 0x8012A5C3;
    std::string version = kQ7kVersion;
    bool longVersionAnswer = true;    // 30-character layout (answer above 50 raw bytes)
    std::string spc = "000000";
    std::array<uint8_t, 6> wifi{0x00, 0x1E, 0x10, 0x3A, 0x5C, 0x7F};
    bool wifiSupported = true;
    bool startInAtMode = false;       // first power-up: the port speaks AT commands
    bool atModeAfterReset = true;     // the new firmware comes up in AT mode
    std::map<uint16_t, NvItem> nv;
    std::set<std::string> efsDirs;    // "vek", "vek/lock", ... (no leading slash)
    std::map<std::string, Bytes> efsFiles;
    Bytes partitionTable;
    std::map<std::string, Partition> partitions;   // by image name ("amss.mbn", "system.img", ...)
};

// The 90 NV items the upgrade saves, in the order it reads them.
const std::vector<uint16_t>& BackedUpNvItems();

// The partition table a fresh card and a default package carry.
Bytes DefaultPartitionTable();

// A card as it leaves the factory: every backed-up NV item with its own data
// (a few inactive, one read-only), a Wi-Fi address, lock files under "vek"
// in subfolders, the default partition table and an old firmware in flash.
CardData DefaultCardData();

// Normalises an EFS path: no leading or trailing '/', no empty parts.
std::string NormaliseEfsPath(const std::string& path);

// FNV-1a 64-bit digest, as 16 hex digits.
std::string Digest(const Bytes& bytes);
std::string ToHex(const uint8_t* data, size_t size);
std::optional<Bytes> FromHex(const std::string& text);

// Profile JSON -> card data. Missing fields keep the defaults of
// DefaultCardData(); throws std::runtime_error on a malformed field.
CardData CardDataFromJson(const nlohmann::json& profile);
// The full state (content in hex plus a digest per partition).
nlohmann::json CardDataToJson(const CardData& data);

}  // namespace sim
