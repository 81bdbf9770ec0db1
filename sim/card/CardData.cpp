#include "sim/card/CardData.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace sim {

const std::vector<uint16_t>& BackedUpNvItems() {
    static const std::vector<uint16_t> items = {
        77,   0,    22,   88,   96,   141,  447,  453,  1631, 1632, 1633, 1634, 1635, 1642, 1643,
        1644, 1648, 1649, 1650, 1651, 1652, 1653, 1654, 1655, 1666, 1667, 1668, 1669, 1670, 1671,
        1672, 1687, 1689, 1690, 1691, 1692, 1693, 1694, 1695, 1698, 1699, 1720, 1721, 1722, 1723,
        1724, 1731, 1732, 1733, 1736, 1737, 1738, 1739, 1740, 1741, 1742, 1743, 1744, 1745, 1746,
        1747, 1748, 1749, 1750, 1751, 1766, 1767, 1768, 1769, 1770, 1771, 1772, 1773, 1776, 1777,
        1943, 3265, 3266, 4795, 4796, 4797, 4799, 4800, 4801, 4831, 4832, 4833, 4835, 836,  4837};
    return items;
}

const std::vector<std::string>& BootPartitions() {
    static const std::vector<std::string> names = {"qcsbl.mbn", "oemsbl.mbn", "amss.mbn", "appsboot.mbn", "boot.img",
                                                    "system.img"};
    return names;
}

std::string VersionInImage(const Bytes& image) {
    const std::string tag = kVersionTag;
    auto at = std::search(image.begin(), image.end(), tag.begin(), tag.end());
    if (at == image.end()) return {};
    at += static_cast<std::ptrdiff_t>(tag.size());
    std::string version;
    while (at != image.end() && *at != 0 && version.size() < 30) version.push_back(static_cast<char>(*at++));
    return version;
}

Bytes DefaultPartitionTable() {
    // A plausible table: magic words, a count and fixed-size entries.
    Bytes table = {0xAA, 0x73, 0xEE, 0x55, 0xDB, 0xBD, 0x5E, 0xE3, 0x03, 0x00, 0x00, 0x00};
    const char* names[] = {"0:QCSBL", "0:OEMSBL", "0:AMSS", "0:APPSBL", "0:APPS", "0:EFS2APPS", "0:BOOT", "0:SYSTEM"};
    uint32_t start = 0;
    for (const char* name : names) {
        Bytes entry(28, 0);
        for (size_t i = 0; name[i] != 0 && i < 16; ++i) entry[i] = static_cast<uint8_t>(name[i]);
        const uint32_t length = 0x40 + start % 0x100;
        for (int b = 0; b < 4; ++b) {
            entry[16 + b] = static_cast<uint8_t>(start >> (8 * b));
            entry[20 + b] = static_cast<uint8_t>(length >> (8 * b));
        }
        entry[24] = 0xFF;
        start += length;
        table.insert(table.end(), entry.begin(), entry.end());
    }
    return table;
}

CardData DefaultCardData() {
    CardData data;
    for (uint16_t item : BackedUpNvItems()) {
        NvItem nv;
        for (size_t i = 0; i < nv.data.size(); ++i) nv.data[i] = static_cast<uint8_t>(item * 7 + i * 13 + 1);
        data.nv[item] = nv;
    }
    data.nv[453].data.fill(0);         // FTM mode off
    data.nv[1720].inactive = true;
    data.nv[4799].inactive = true;
    data.nv[836].readOnly = true;
    data.efsDirs = {"vek", "vek/lock", "vek/lock/sub", "vek/state"};
    Bytes a(100), b(3000);
    for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>(0x41 + i % 26);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 31 + 7);
    data.efsFiles["vek/lock/lock_a"] = a;
    data.efsFiles["vek/lock/sub/lock_b"] = b;
    data.efsFiles["vek/state/empty"] = {};
    data.partitionTable = DefaultPartitionTable();
    for (const char* name : {"qcsblhd_cfgdata.mbn", "qcsbl.mbn", "oemsbl.mbn", "amss.mbn", "appsboot.mbn", "boot.img",
                             "system.img", "recovery.img", "cefs.mbn"}) {
        const std::string text = std::string("old firmware ") + name;
        data.partitions[name].content.assign(text.begin(), text.end());
    }
    return data;
}

std::string NormaliseEfsPath(const std::string& path) {
    std::string out;
    size_t i = 0;
    while (i < path.size()) {
        size_t next = path.find('/', i);
        if (next == std::string::npos) next = path.size();
        if (next > i) {
            if (!out.empty()) out += '/';
            out += path.substr(i, next - i);
        }
        i = next + 1;
    }
    return out;
}

std::string Digest(const Bytes& bytes) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string ToHex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0x0F];
    }
    return out;
}

std::optional<Bytes> FromHex(const std::string& text) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string digits;
    for (char c : text) {
        if (c != ' ' && c != ':' && c != '-') digits += c;
    }
    if (digits.size() % 2 != 0) return std::nullopt;
    Bytes out;
    for (size_t i = 0; i < digits.size(); i += 2) {
        const int hi = nibble(digits[i]);
        const int lo = nibble(digits[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return out;
}

namespace {

Bytes HexField(const nlohmann::json& value, const std::string& what) {
    if (!value.is_string()) throw std::runtime_error(what + ": expected a hex string");
    auto bytes = FromHex(value.get<std::string>());
    if (!bytes) throw std::runtime_error(what + ": not a hex string");
    return *bytes;
}

template <size_t N>
std::array<uint8_t, N> FixedHex(const nlohmann::json& value, const std::string& what, bool padShort) {
    Bytes bytes = HexField(value, what);
    if (bytes.size() > N || (!padShort && bytes.size() != N)) {
        throw std::runtime_error(what + ": wrong length");
    }
    std::array<uint8_t, N> out{};
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return out;
}

uint32_t NumberField(const nlohmann::json& value, const std::string& what) {
    if (value.is_number_unsigned()) return value.get<uint32_t>();
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        size_t used = 0;
        const unsigned long number = std::stoul(text, &used, 0);
        if (used != text.size()) throw std::runtime_error(what + ": not a number");
        return static_cast<uint32_t>(number);
    }
    throw std::runtime_error(what + ": expected a number");
}

}  // namespace

CardData CardDataFromJson(const nlohmann::json& profile) {
    CardData data = DefaultCardData();
    if (!profile.is_object()) throw std::runtime_error("profile: expected an object");
    if (profile.contains("esn")) data.esn = NumberField(profile["esn"], "esn");
    if (profile.contains("version")) data.version = profile["version"].get<std::string>();
    if (profile.contains("version_layout")) {
        const std::string layout = profile["version_layout"].get<std::string>();
        if (layout != "long" && layout != "short") throw std::runtime_error("version_layout: long or short");
        data.longVersionAnswer = layout == "long";
    }
    if (profile.contains("spc")) {
        data.spc = profile["spc"].get<std::string>();
        if (data.spc.size() != 6 || data.spc.find_first_not_of("0123456789") != std::string::npos) {
            throw std::runtime_error("spc: six decimal digits");
        }
    }
    if (profile.contains("wifi")) data.wifi = FixedHex<6>(profile["wifi"], "wifi", false);
    if (profile.contains("wifi_supported")) data.wifiSupported = profile["wifi_supported"].get<bool>();
    if (profile.contains("start_in_at_mode")) data.startInAtMode = profile["start_in_at_mode"].get<bool>();
    if (profile.contains("at_mode_after_reset")) data.atModeAfterReset = profile["at_mode_after_reset"].get<bool>();
    if (profile.contains("nv_items")) {
        data.nv.clear();
        for (const auto& entry : profile["nv_items"]) {
            const uint32_t item = NumberField(entry.at("item"), "nv item");
            if (item > 0xFFFF) throw std::runtime_error("nv item: above 65535");
            NvItem nv;
            if (entry.contains("data")) nv.data = FixedHex<128>(entry["data"], "nv data", true);
            nv.inactive = entry.value("inactive", false);
            nv.readOnly = entry.value("read_only", false);
            data.nv[static_cast<uint16_t>(item)] = nv;
        }
    }
    if (profile.contains("efs")) {
        const auto& efs = profile["efs"];
        data.efsDirs.clear();
        data.efsFiles.clear();
        for (const auto& dir : efs.value("dirs", nlohmann::json::array())) {
            data.efsDirs.insert(NormaliseEfsPath(dir.get<std::string>()));
        }
        const nlohmann::json files = efs.value("files", nlohmann::json::object());
        for (const auto& [path, content] : files.items()) {
            const std::string normal = NormaliseEfsPath(path);
            data.efsFiles[normal] = HexField(content, "efs file " + path);
            for (size_t slash = normal.find('/'); slash != std::string::npos; slash = normal.find('/', slash + 1)) {
                data.efsDirs.insert(normal.substr(0, slash));
            }
        }
    }
    if (profile.contains("partition_table")) data.partitionTable = HexField(profile["partition_table"], "partition_table");
    if (profile.contains("partitions")) {
        data.partitions.clear();
        for (const auto& [name, content] : profile["partitions"].items()) {
            data.partitions[name].content = HexField(content, "partition " + name);
        }
    }
    // A state file lists erased partitions with their digests.
    if (profile.contains("partition_digests") && profile["partition_digests"].is_object()) {
        for (const auto& [name, digest] : profile["partition_digests"].items()) {
            if (!digest.is_object()) continue;
            if (digest.value("erased", false)) data.partitions[name].erased = true;
            if (digest.value("incomplete", false)) data.partitions[name].incomplete = true;
        }
    }
    return data;
}

nlohmann::json CardDataToJson(const CardData& data) {
    nlohmann::json out;
    char esn[11];
    std::snprintf(esn, sizeof esn, "0x%08X", data.esn);
    out["esn"] = esn;
    out["version"] = data.version;
    out["version_layout"] = data.longVersionAnswer ? "long" : "short";
    out["spc"] = data.spc;
    out["wifi"] = ToHex(data.wifi.data(), data.wifi.size());
    out["wifi_supported"] = data.wifiSupported;
    out["start_in_at_mode"] = data.startInAtMode;
    out["at_mode_after_reset"] = data.atModeAfterReset;
    nlohmann::json items = nlohmann::json::array();
    for (const auto& [item, nv] : data.nv) {
        items.push_back({{"item", item},
                         {"data", ToHex(nv.data.data(), nv.data.size())},
                         {"inactive", nv.inactive},
                         {"read_only", nv.readOnly}});
    }
    out["nv_items"] = items;
    nlohmann::json files = nlohmann::json::object();
    for (const auto& [path, content] : data.efsFiles) files[path] = ToHex(content.data(), content.size());
    out["efs"] = {{"dirs", data.efsDirs}, {"files", files}};
    out["partition_table"] = ToHex(data.partitionTable.data(), data.partitionTable.size());
    nlohmann::json partitions = nlohmann::json::object();
    for (const auto& [name, partition] : data.partitions) {
        partitions[name] = {{"size", partition.content.size()},
                            {"digest", Digest(partition.content)},
                            {"erased", partition.erased},
                            {"incomplete", partition.incomplete}};
    }
    out["partition_digests"] = partitions;
    nlohmann::json contents = nlohmann::json::object();
    for (const auto& [name, partition] : data.partitions) {
        contents[name] = ToHex(partition.content.data(), partition.content.size());
    }
    out["partitions"] = contents;
    return out;
}

}  // namespace sim
