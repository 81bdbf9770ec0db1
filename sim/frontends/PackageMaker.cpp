#include "sim/frontends/PackageMaker.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace sim {
namespace {

constexpr size_t kVendorBlockBytes = 135167;

class Random {
public:
    explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 0x2545F4914F6CDD1DULL) {}
    uint8_t Byte() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<uint8_t>(state_ >> 24);
    }
    Bytes Fill(size_t size) {
        Bytes out(size);
        for (auto& b : out) b = Byte();
        return out;
    }

private:
    uint64_t state_;
};

bool WriteFile(const std::filesystem::path& path, const Bytes& bytes, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        error = "cannot write " + path.string();
        return false;
    }
    return true;
}

bool ReadFile(const std::filesystem::path& path, Bytes& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace

const std::vector<std::string>& RequiredPackageFiles() {
    static const std::vector<std::string> files = {
        "partition.mbn", "qcsblhd_cfgdata.mbn", "qcsbl.mbn",         "oemsblhd.mbn", "oemsbl.mbn",
        "amsshd.mbn",    "amss.mbn",            "appsboothd.mbn",    "appsboot.mbn", "partition_vek.mbn",
        "system.img",    "boot.img",            "recovery.img",      "cefs.mbn"};
    return files;
}

bool MakePackage(const std::string& folder, const PackageOptions& options, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = "cannot create " + folder + ": " + ec.message();
        return false;
    }
    const std::filesystem::path dir(folder);
    Random random(options.seed);
    Bytes table = DefaultPartitionTable();
    if (options.newPartitionLayout) {
        // Same format, the last entry grown: a new layout.
        table[table.size() - 8] = static_cast<uint8_t>(table[table.size() - 8] + 1 + random.Byte() % 100);
    }
    // Header files start with an image header; the rest is seeded noise.
    auto header = [&](size_t size) {
        Bytes bytes = random.Fill(size);
        for (size_t i = 0; i < 8 && i < size; ++i) bytes[i] = static_cast<uint8_t>(0x10 + i);
        return bytes;
    };
    struct File {
        const char* name;
        Bytes content;
        bool present;
    };
    std::vector<File> files = {
        {"partition.mbn", table, true},
        {"qcsblhd_cfgdata.mbn", header(200), true},
        {"qcsbl.mbn", random.Fill(2500), true},
        {"oemsblhd.mbn", header(40), true},
        {"oemsbl.mbn", random.Fill(5000), true},
        {"amsshd.mbn", header(40), true},
        {"amss.mbn", random.Fill(options.amssSize), true},
        {"appsboothd.mbn", header(40), true},
        {"appsboot.mbn", random.Fill(3000), true},
        {"partition_vek.mbn", header(600), true},
        {"system.img", random.Fill(options.systemSize), true},
        {"boot.img", random.Fill(20000), true},
        {"recovery.img", random.Fill(15000), true},
        {"cefs.mbn", random.Fill(options.cefsSize), true},
        {"userdata.img", random.Fill(1000), options.userdata},
        {"splash.img", random.Fill(4000), options.splash},
    };
    // The firmware image names its version.
    Bytes& amss = std::find_if(files.begin(), files.end(), [](const File& f) { return std::string(f.name) == "amss.mbn"; })->content;
    const std::string tag = std::string(kVersionTag) + options.version;
    if (amss.size() >= 64 + tag.size() + 1) {
        std::copy(tag.begin(), tag.end(), amss.begin() + 64);
        amss[64 + tag.size()] = 0;
    }
    for (const auto& file : files) {
        const auto path = dir / file.name;
        if (!file.present) {
            std::filesystem::remove(path, ec);
            continue;
        }
        if (!WriteFile(path, file.content, error)) return false;
    }
    return true;
}

FlashCheck CheckFlashAgainstPackage(const CardData& card, const std::string& folder, bool expectCefs) {
    FlashCheck check;
    const std::filesystem::path dir(folder);
    auto problem = [&](const std::string& text) {
        check.ok = false;
        check.problems.push_back(text);
    };
    auto partition = [&](const std::string& name) -> const Partition* {
        auto found = card.partitions.find(name);
        return found == card.partitions.end() ? nullptr : &found->second;
    };
    auto same = [&](const std::string& file, const std::string& name) {
        Bytes expected;
        if (!ReadFile(dir / file, expected)) {
            problem(file + ": not in the package");
            return;
        }
        const Partition* actual = partition(name);
        if (actual == nullptr) {
            problem(name + ": never written");
        } else if (actual->content != expected) {
            problem(name + ": differs from " + file + " (" + std::to_string(actual->content.size()) + " bytes, expected " +
                    std::to_string(expected.size()) + ")");
        }
    };
    auto erased = [&](const std::string& name) {
        const Partition* actual = partition(name);
        if (actual == nullptr || !actual->erased || !actual->content.empty()) problem(name + ": not erased");
    };

    Bytes table;
    if (!ReadFile(dir / "partition.mbn", table)) {
        problem("partition.mbn: not in the package");
    } else if (table != card.partitionTable) {
        problem("partition table differs from partition.mbn");
    }
    for (const char* name : {"qcsblhd_cfgdata.mbn", "qcsbl.mbn", "oemsblhd.mbn", "oemsbl.mbn", "amsshd.mbn", "amss.mbn",
                             "appsboothd.mbn", "appsboot.mbn", "boot.img", "system.img", "recovery.img"}) {
        same(name, name);
    }
    Bytes vendor;
    if (ReadFile(dir / "partition_vek.mbn", vendor)) {
        vendor.resize(kVendorBlockBytes, 0);
        const Partition* actual = partition("partition_vek.mbn");
        if (actual == nullptr || actual->content != vendor) problem("partition_vek.mbn: header block differs");
    }
    if (std::filesystem::exists(dir / "userdata.img")) {
        same("userdata.img", "userdata.img");
    } else {
        erased("userdata.img");
    }
    erased("misc.img");
    erased("cache.img");
    if (std::filesystem::exists(dir / "splash.img")) same("splash.img", "splash.img");
    if (expectCefs) same("cefs.mbn", "cefs.mbn");
    return check;
}

}  // namespace sim
