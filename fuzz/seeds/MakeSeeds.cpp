// Records a whole upgrade run against the virtual card, in process on
// virtual time, and writes what it saw as seed inputs for the fuzz targets:
// the card's answers in each mode (filed under the request they answered),
// the host's requests in each mode, and the files the run left behind
// (channel.nvm, the backup record, the lock backup). Usage:
//   fwup_make_seeds <fuzz folder>      (writes <area>/corpus/<target>/)
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "fuzz/common/VirtualTime.h"
#include "fuzz/packet/AnswerCommands.h"
#include "platform/Platform.h"
#include "platform/Trace.h"
#include "sim/card/Hdlc.h"
#include "sim/frontends/InProcessPort.h"
#include "sim/frontends/PackageMaker.h"
#include "upgrade/backup/BackupRecord.h"
#include "upgrade/run/UpgradeModule.h"
#include "upgrade/backup/NvBackupTable.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr int32_t kPort = 7;
constexpr size_t kLargestSeed = 4096;

struct Line {
    std::string mode;
    char direction = 0;
    Bytes bytes;
};

class SeedWriter {
public:
    explicit SeedWriter(fs::path root) : root_(std::move(root)) {}
    // Writes one seed, named by its content; duplicates collapse.
    void Write(const std::string& area, const std::string& target, const Bytes& seed) {
        if (seed.size() > kLargestSeed && target != "fuzz_nv_table") return;
        const fs::path folder = root_ / area / "corpus" / target;
        fs::create_directories(folder);
        const fs::path file = folder / ("run-" + Name(seed));
        if (written_.insert(file.string()).second) {
            std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(seed.data()),
                                                        static_cast<std::streamsize>(seed.size()));
        }
    }
    size_t Count() const { return written_.size(); }

private:
    static std::string Name(const Bytes& seed) {
        uint64_t h = 1469598103934665603ull;   // FNV-1a
        for (uint8_t b : seed) h = (h ^ b) * 1099511628211ull;
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
        return text;
    }
    fs::path root_;
    std::set<std::string> written_;
};

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The unescaped body of a frame as it went over the wire (no flags, no FCS).
Bytes BodyOf(const Bytes& wire) {
    Bytes inner;
    for (uint8_t b : wire) {
        if (b != sim::kFlag) inner.push_back(b);
    }
    Bytes plain = sim::Unescape(inner);
    if (plain.size() >= 2) plain.resize(plain.size() - 2);
    return plain;
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The card's answers, each filed under the request before it.
void AnswerSeeds(const std::vector<Line>& lines, SeedWriter& out) {
    const Line* request = nullptr;
    for (const Line& line : lines) {
        if (line.direction == '<') {
            request = &line;
            continue;
        }
        if (request == nullptr || request->mode != line.mode) continue;
        const Bytes body = BodyOf(request->bytes);
        if (line.mode == "diag") {
            if (const int efs = fuzz::FindRequest(fuzz::kEfsRequests, body); efs >= 0) {
                // The read's count and room come before the answer.
                out.Write("packet", "fuzz_efs_answers", Join({{static_cast<uint8_t>(efs), 0x00, 0x04, 0x00, 0x04}, line.bytes}));
            } else if (const int diag = fuzz::FindRequest(fuzz::kDiagRequests, body); diag >= 0) {
                out.Write("packet", "fuzz_diag_answers", Join({{static_cast<uint8_t>(diag)}, line.bytes}));
            }
        } else if (line.mode == "download") {
            if (const int i = fuzz::FindRequest(fuzz::kDownloadRequests, body); i >= 0) {
                out.Write("packet", "fuzz_download_answers", Join({{static_cast<uint8_t>(i)}, line.bytes}));
            }
        } else if (line.mode == "programmer") {
            const Bytes answered = body.empty() ? Bytes{0x1D} : body;   // raw blocks answer for the announcement
            if (const int i = fuzz::FindRequest(fuzz::kStreamingRequests, answered); i >= 0) {
                out.Write("packet", "fuzz_streaming_answers", Join({{static_cast<uint8_t>(i)}, line.bytes}));
            } else {
                out.Write("packet", "fuzz_streaming_answers", Join({{8}, line.bytes}));
            }
            out.Write("packet", "fuzz_packet_streaming", line.bytes);
        }
        out.Write("packet", "fuzz_packet_decode", Join({{line.mode == "diag" ? uint8_t{0} : uint8_t{1}}, line.bytes}));
        request = nullptr;
    }
}

// The host's requests, as the card in that mode received them, in pieces of
// at most 127 bytes (a larger piece would also move the card's clock on).
void RequestSeeds(const std::vector<Line>& lines, SeedWriter& out) {
    static const std::map<std::string, uint8_t> kTemplate = {{"at", 0}, {"diag", 1}, {"download", 2}, {"programmer", 3}};
    for (const Line& line : lines) {
        const auto mode = kTemplate.find(line.mode);
        if (line.direction != '<' || mode == kTemplate.end() || line.bytes.size() > kLargestSeed) continue;
        Bytes seed{mode->second};
        for (size_t at = 0; at < line.bytes.size(); at += 127) {
            const size_t n = std::min<size_t>(127, line.bytes.size() - at);
            seed.push_back(static_cast<uint8_t>(n));
            seed.insert(seed.end(), line.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        line.bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
        }
        out.Write("sim", "fuzz_card_requests", seed);
    }
}

// The files the run left: channel.nvm (its used records), the backup record,
// and the lock backup with the list the record gives it.
void FileSeeds(const fs::path& package, SeedWriter& out) {
    const Bytes table = ReadFile(package / "channel.nvm");
    std::vector<upgrade::nvtable::NvRecord> records;
    if (upgrade::nvtable::DecodeTable(table, records)) {
        const size_t used = (records.size() + 1) * upgrade::nvtable::kRecordSize;
        out.Write("upgrade", "fuzz_nv_table", Join({{0x00}, Bytes(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(used))}));
    }
    const Bytes recordText = ReadFile(package / "backup-record.txt");
    out.Write("upgrade", "fuzz_backup_record", recordText);
    upgrade::BackupRecord record;
    std::string error;
    if (!upgrade::ParseBackupRecord(recordText, record, error) || !record.lockFilesSaved) return;
    const Bytes lock = ReadFile(platform::WideToUtf8(record.lockFile));
    Bytes seed{static_cast<uint8_t>(record.lockFiles.size())};
    for (size_t i = 0; i < record.lockFiles.size(); ++i) {
        // Names from the target's alphabet, one per file.
        seed.insert(seed.end(), {1, static_cast<uint8_t>(i % 2), static_cast<uint8_t>(record.lockFiles[i].size),
                                 static_cast<uint8_t>(record.lockFiles[i].size >> 8)});
    }
    seed.insert(seed.end(), lock.begin(), lock.end());
    out.Write("upgrade", "fuzz_lock_restore", seed);
}

// Inputs for the targets whose bytes do not cross the wire: the package the
// run flashed, the module manager's path as a host registers it, and the
// host's messages as a host sends them.
void HostSeeds(SeedWriter& out) {
    // Every package file present with a small size (entry 11 of the target's
    // size table), then without the optional images.
    out.Write("upgrade", "fuzz_package_check", Join({{0}, Bytes(16, 11)}));
    Bytes optional(16, 11);
    optional[12] = optional[13] = 0x80;
    out.Write("upgrade", "fuzz_package_check", Join({{0}, optional}));

    const std::string path = "/usr/lib/fwupgrade/libHostManager.so";
    Bytes value{0, 0, 0};
    for (char c : path) value.insert(value.end(), {static_cast<uint8_t>(c), 0});
    out.Write("module", "fuzz_register_values", value);

    // Message 1025 with a request of the right size, four-byte output and
    // result, port 7 and the complete package; then the identity message
    // with the card's vendor and product.
    out.Write("module", "fuzz_handle_message", Join({{3, 6}, Bytes(80, 0), {3, 0, 0, 0, 0, 3, 0, 0, 0, 0, 7, 1, 0x40, 0}}));
    out.Write("module", "fuzz_handle_message", Join({{4, 3, 0x2E, 0x1A, 0x00, 0x81, 3, 0, 0, 0, 0, 3, 0, 0, 0, 0}}));
    out.Write("module", "fuzz_handle_message", Join({{0, 0, 0, 3, 0, 0, 0, 0}}));
}

std::vector<Line> ParseTranscript(const std::vector<std::string>& text) {
    std::vector<Line> lines;
    for (const std::string& t : text) {
        std::istringstream in(t);
        std::string tick, mode, direction, hex;
        in >> tick >> mode >> direction >> hex;
        const auto bytes = sim::FromHex(hex);
        if (!bytes || direction.size() != 1) continue;
        lines.push_back({mode, direction[0], *bytes});
    }
    return lines;
}

// The run's trace, kept to explain a failed recording.
std::vector<std::string>& TraceLines() {
    static std::vector<std::string> lines;
    return lines;
}

void KeepTrace(const char16_t*, int, const char16_t* function, const char16_t* message) {
    TraceLines().push_back(platform::WideToUtf8(function) + ": " + platform::WideToUtf8(message));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fwup_make_seeds <fuzz folder>\n");
        return 2;
    }
    const fs::path root = fs::absolute(argv[1]);
    const fs::path work = fs::temp_directory_path() / ("fwup-seeds-" + std::to_string(::getpid()));
    fs::create_directories(work / "package");
    setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    fs::current_path(work);
    fuzz::InstallVirtualTime();

    std::string error;
    if (!sim::MakePackage((work / "package").string(), sim::PackageOptions{}, error)) {
        std::fprintf(stderr, "package: %s\n", error.c_str());
        return 1;
    }
    // The new firmware comes up on its AT-command port, so the run passes
    // through every mode of the card.
    auto card = sim::MakeCard(sim::DefaultCardData());
    std::vector<std::string> transcript;
    card->SetTranscript([&](const std::string& line) { transcript.push_back(line); });
    sim::InProcessPortOpener opener;
    opener.Attach(kPort, card);
    platform::SetComPortOpener(&opener);
    if (!upgrade::UpgradeModule::ExtractProgrammer()) {
        std::fprintf(stderr, "cannot extract the programmer\n");
        return 1;
    }
    platform::SetTraceSink(KeepTrace);
    upgrade::UpgradeModule module;
    const int32_t result = module.FirmWareUpgrade(kPort, platform::Utf8ToWide((work / "package").string()));
    if (result != 0) {
        for (const std::string& line : TraceLines()) std::fprintf(stderr, "%s\n", line.c_str());
        std::fprintf(stderr, "the recorded run failed: %d\n", static_cast<int>(result));
        return 1;
    }
    const std::vector<Line> lines = ParseTranscript(transcript);
    SeedWriter out(root);
    AnswerSeeds(lines, out);
    RequestSeeds(lines, out);
    FileSeeds(work / "package", out);
    HostSeeds(out);
    platform::SetComPortOpener(nullptr);
    fs::current_path(root);
    fs::remove_all(work);
    std::printf("%zu transcript lines, %zu seeds written below %s\n", lines.size(), out.Count(), root.c_str());
    return 0;
}
