// Any lock backup file and any list of lock files (paths and lengths) as a
// backup names them, restored to a virtual card. A backup that does not hold
// exactly the listed bytes changes nothing on the card; a restore that
// succeeds leaves every listed file on the card with exactly its slice of
// the backup.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "fuzz/common/FuzzInput.h"
#include "fuzz/common/Sandbox.h"
#include "fuzz/common/VirtualTime.h"
#include "packet/Packet.h"
#include "platform/Platform.h"
#include "sim/frontends/InProcessPort.h"
#include "upgrade/run/UpgradeModule.h"

namespace {

void Require(bool property) {
    if (!property) std::abort();
}

constexpr int32_t kPort = 3;

sim::CardData SmallCard() {
    sim::CardData data;
    data.efsDirs = {"vek", "vek/lock"};
    data.efsFiles["vek/lock/a"] = {1, 2, 3, 4};
    data.efsFiles["vek/lock/b"] = sim::Bytes(1500, 0x42);
    return data;
}

// The names are plain ASCII, so they widen and narrow unit by unit.
std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }
std::string Narrow(const std::u16string& ascii) { return std::string(ascii.begin(), ascii.end()); }

std::string NameOf(fuzz::FuzzInput& in) {
    std::string name;
    for (uint8_t c : in.Bytes(in.U8() % 6)) {
        name += static_cast<char>("ab/._0"[c % 6]);
    }
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InstallVirtualTime();
    static sim::InProcessPortOpener* const opener = new sim::InProcessPortOpener();
    platform::SetComPortOpener(opener);
    fuzz::FuzzInput in(data, size);

    std::vector<upgrade::LockFileEntry> list(in.U8() % 5);
    uint64_t listed = 0;
    for (upgrade::LockFileEntry& entry : list) {
        entry.path = Wide("/vek/lock/" + NameOf(in));
        entry.size = static_cast<int16_t>(in.Le16());
        listed += static_cast<uint64_t>(std::max(entry.size, 0));
    }
    const auto content = in.Rest();
    static const std::filesystem::path backup = fuzz::Sandbox::Get().Root() / "work" / "VEKLock_1";
    static const std::u16string backupPath = platform::Utf8ToWide(backup.string());
    std::ofstream(backup, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));

    auto card = sim::MakeCard(SmallCard());
    opener->Attach(kPort, card);
    const auto before = card->Data().efsFiles;
    bool restored = false;
    {
        upgrade::UpgradeModule module;
        module.Data().lockBackupPath = backupPath;
        packet::CPacket packet;
        if (!packet.Open(kPort)) std::abort();
        restored = module.Locks().RestoreLockFile(packet, list);
        packet.Close();
    }
    if (listed != content.size()) {
        Require(!restored && card->Data().efsFiles == before);
        return 0;
    }
    if (restored) {
        std::map<std::string, sim::Bytes> expected;
        size_t at = 0;
        for (const upgrade::LockFileEntry& entry : list) {
            const size_t n = static_cast<size_t>(std::max(entry.size, 0));
            expected[sim::NormaliseEfsPath(Narrow(entry.path))] =
                sim::Bytes(content.begin() + static_cast<std::ptrdiff_t>(at), content.begin() + static_cast<std::ptrdiff_t>(at + n));
            at += n;
        }
        for (const auto& [path, bytes] : expected) {
            const auto found = card->Data().efsFiles.find(path);
            Require(found != card->Data().efsFiles.end() && found->second == bytes);
        }
    }
    return 0;
}
