// The firmware's diagnostic protocol: identity, NV items, mode changes,
// service programming code, Wi-Fi address, the EFS2 file commands and the
// lock-file access switch.
#include <algorithm>
#include <cstring>

#include "sim/card/Card.h"
#include "packet/ByteOrder.h"

namespace sim {
namespace {

using namespace packet::bytes;

constexpr uint8_t kBadCommand = 0x13;
constexpr uint8_t kBadParameters = 0x14;
constexpr uint8_t kBadLength = 0x15;

constexpr uint32_t kEnoent = 2;
constexpr uint32_t kEbadf = 9;
constexpr uint32_t kEacces = 13;
constexpr uint32_t kEisdir = 21;
constexpr uint32_t kEinval = 22;
constexpr uint32_t kEfbig = 27;

constexpr uint32_t kOpenCreate = 0x40;
constexpr uint32_t kOpenTruncate = 0x200;
constexpr uint32_t kMaxEfsTransfer = 1024;

bool IsLockPath(const std::string& path) { return path == "vek" || path.rfind("vek/", 0) == 0; }

std::string Parent(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

void Card::DiagError(uint8_t code, const Bytes& request) {
    Bytes answer;
    answer.reserve(1 + request.size());
    answer.push_back(code);
    for (uint8_t byte : request) answer.push_back(byte);
    SendFrame(answer, false);
}

void Card::HandleDiag(const Bytes& body) {
    const uint8_t code = body[0];
    auto lengthIs = [&](size_t expected) {
        if (body.size() == expected) return true;
        Violate("command 0x" + ToHex(&code, 1) + " with length " + std::to_string(body.size()) + ", expected " +
                std::to_string(expected));
        DiagError(kBadLength, body);
        return false;
    };
    switch (code) {
        case 0x01: {
            if (!lengthIs(1)) return;
            Bytes answer{0x01};
            AppendLe32(answer, data_.esn);
            SendFrame(answer, false);
            return;
        }
        case 0x0C: {
            // Status probe: any body is answered with the status record.
            Bytes answer{0x0C};
            AppendLe32(answer, data_.esn);
            answer.resize(answer.size() + 8, 0);
            SendFrame(answer, false);
            return;
        }
        case 0x26:
        case 0x27: HandleNv(body); return;
        case 0x29: {
            if (!lengthIs(3)) return;
            const uint16_t mode = ReadLe16(body, 1);
            if (mode == 1) offline_ = true;
            SendFrame(body, false);
            return;
        }
        case 0x38:
            if (!lengthIs(1)) return;
            SendVersion();
            if (identifyOnce_) silenced_ = true;
            return;
        case 0x3A:
            if (!lengthIs(1)) return;
            SendFrame(Bytes{0x3A}, false);
            ScheduleModeChange(CardMode::BootDownloader, false);
            return;
        case 0x41: {
            if (!lengthIs(7)) return;
            const std::string code(body.begin() + 1, body.end());
            if (code.find_first_not_of("0123456789") != std::string::npos) {
                Violate("service programming code is not six decimal digits");
                DiagError(kBadParameters, body);
                return;
            }
            bool refused = false;
            for (FaultRule* rule : MatchFaults(FaultKind::SpcRefused, 0x41)) refused = FaultHits(*rule) || refused;
            spcUnlocked_ = code == data_.spc && !refused;
            SendFrame(Bytes{0x41, static_cast<uint8_t>(spcUnlocked_ ? 1 : 0)}, false);
            return;
        }
        case 0x4B:
            if (body.size() >= 4 && body[1] == 0xD3) {
                HandleWifi(body);
            } else if (body.size() >= 4 && body[1] == 0x13) {
                HandleEfs(body);
            } else {
                Violate("unknown subsystem command");
                DiagError(kBadCommand, body);
            }
            return;
        case 0x59: HandleFsOperation(body); return;
        default:
            Violate("unknown diagnostic command 0x" + ToHex(&code, 1));
            DiagError(kBadCommand, body);
            return;
    }
}

void Card::SendVersion() {
    Bytes answer{0x38};
    const size_t width = data_.longVersionAnswer ? 30 : 22;
    for (size_t i = 0; i < width; ++i) answer.push_back(i < data_.version.size() ? static_cast<uint8_t>(data_.version[i]) : 0);
    const char date[12] = "Jan 12 2012";
    const char time[9] = "10:21:07";
    answer.insert(answer.end(), date, date + 12);
    answer.insert(answer.end(), time, time + 9);
    SendFrame(answer, false);
}

void Card::HandleNv(const Bytes& body) {
    if (body.size() != 133) {
        Violate("NV request with length " + std::to_string(body.size()) + ", expected 133");
        DiagError(kBadLength, body);
        return;
    }
    const bool write = body[0] == 0x27;
    const uint16_t item = ReadLe16(body, 1);
    if (ReadLe16(body, 131) != 0) Violate("NV request with a non-zero status field");
    Bytes answer(body.begin(), body.end());
    uint16_t status = 0;
    for (FaultRule* rule : MatchFaults(FaultKind::NvRefuse, body[0])) {
        if ((rule->item == -1 || rule->item == item) && FaultHits(*rule)) {
            status = static_cast<uint16_t>(rule->valueGiven ? rule->value : 4);
        }
    }
    auto found = data_.nv.find(item);
    if (status == 0) {
        if (found == data_.nv.end() || found->second.inactive) {
            status = 5;
        } else if (!write) {
            std::copy(found->second.data.begin(), found->second.data.end(), answer.begin() + 3);
        } else if (found->second.readOnly) {
            status = 7;
        } else {
            std::copy(body.begin() + 3, body.begin() + 131, found->second.data.begin());
        }
    }
    packet::bytes::StoreLe16(answer.data() + 131, status);
    SendFrame(answer, false);
}

void Card::HandleWifi(const Bytes& body) {
    if (body.size() != 11) {
        Violate("Wi-Fi request with length " + std::to_string(body.size()) + ", expected 11");
        DiagError(kBadLength, body);
        return;
    }
    bool unsupported = !data_.wifiSupported;
    for (FaultRule* rule : MatchFaults(FaultKind::WifiUnsupported, 0x4B)) unsupported = FaultHits(*rule) || unsupported;
    if (unsupported) {
        DiagError(kBadCommand, body);
        return;
    }
    uint8_t status = 0;
    for (FaultRule* rule : MatchFaults(FaultKind::WifiRefused, 0x4B)) {
        if (FaultHits(*rule)) status = static_cast<uint8_t>(rule->valueGiven ? rule->value : 1);
    }
    if (body[10] != 0) Violate("Wi-Fi request with a non-zero status field");
    const uint16_t command = ReadLe16(body, 2);
    Bytes answer(body.begin(), body.end());
    if (command == 0) {
        if (status == 0) {
            std::copy(data_.wifi.begin(), data_.wifi.end(), answer.begin() + 4);
        } else {
            std::fill(answer.begin() + 4, answer.begin() + 10, 0);
        }
        if (std::any_of(body.begin() + 4, body.begin() + 10, [](uint8_t b) { return b != 0; })) {
            Violate("Wi-Fi read with a non-zero address field");
        }
    } else if (command == 1) {
        if (status == 0) std::copy(body.begin() + 4, body.begin() + 10, data_.wifi.begin());
    } else {
        Violate("unknown Wi-Fi subsystem command");
        status = 1;
    }
    answer[10] = status;
    SendFrame(answer, false);
}

void Card::HandleFsOperation(const Bytes& body) {
    if (body.size() < 2) {
        DiagError(kBadLength, body);
        Violate("file-system operation without an operation byte");
        return;
    }
    if (body[1] != 0x0E) {
        Violate("unsupported file-system operation");
        SendFrame(Bytes{0x59, body[1], 10}, false);
        return;
    }
    if (body.size() != 3) {
        Violate("lock-file switch with length " + std::to_string(body.size()) + ", expected 3");
        DiagError(kBadLength, body);
        return;
    }
    if (body[2] > 1) {
        Violate("lock-file switch value other than 0 or 1");
        SendFrame(Bytes{0x59, 0x0E, 12}, false);
        return;
    }
    for (FaultRule* rule : MatchFaults(FaultKind::LockSwitchRefused, 0x59)) {
        if (!FaultHits(*rule)) continue;
        SendFrame(Bytes{0x59, 0x0E, static_cast<uint8_t>(rule->valueGiven ? rule->value : 1)}, false);
        return;
    }
    lockAccess_ = body[2] == 1;
    SendFrame(Bytes{0x59, 0x0E, 0}, false);
}

void Card::HandleEfs(const Bytes& body) {
    const uint16_t command = ReadLe16(body, 2);
    Bytes answer(body.begin(), body.begin() + 4);
    const std::string subject = EfsPathOf(body);
    int64_t failValue = 5;
    const uint32_t failErrno =
        EfsFaultHits(FaultKind::EfsFail, command, subject, failValue) ? static_cast<uint32_t>(failValue) : 0;
    auto lengthIs = [&](size_t expected) {
        if (body.size() == expected) return true;
        Violate("EFS2 command " + std::to_string(command) + " with length " + std::to_string(body.size()) +
                ", expected " + std::to_string(expected));
        DiagError(kBadLength, body);
        return false;
    };
    // A path field runs to a NUL that must be the last byte of the request.
    auto pathAt = [&](size_t at, std::string& path) {
        if (body.size() <= at || body.back() != 0 ||
            std::find(body.begin() + static_cast<std::ptrdiff_t>(at), body.end(), 0) != body.end() - 1) {
            Violate("EFS2 path is not one NUL-terminated text at the end of the request");
            return false;
        }
        path = NormaliseEfsPath(std::string(body.begin() + static_cast<std::ptrdiff_t>(at), body.end() - 1));
        return true;
    };
    auto isDir = [&](const std::string& path) { return path.empty() || data_.efsDirs.count(path) != 0; };

    switch (command) {
        case 0x0002: {   // open
            std::string path;
            if (body.size() < 13) {
                lengthIs(13);
                return;
            }
            const uint32_t flags = ReadLe32(body, 4);
            uint32_t error = 0;
            if (!pathAt(12, path)) {
                error = kEinval;
            } else if (failErrno != 0) {
                error = failErrno;
            } else if (IsLockPath(path) && !lockAccess_) {
                error = kEacces;
            } else if (isDir(path)) {
                error = kEisdir;
            } else if (data_.efsFiles.count(path) == 0) {
                if ((flags & kOpenCreate) == 0 || !isDir(Parent(path))) {
                    error = kEnoent;
                } else {
                    data_.efsFiles[path] = {};
                }
            } else if ((flags & kOpenTruncate) != 0 && (flags & 3) != 0) {
                data_.efsFiles[path].clear();
            }
            uint32_t fd = 0xFFFFFFFF;
            if (error == 0) {
                fd = nextFd_++;
                files_[fd] = OpenFile{path, (flags & 3) != 0};
            }
            AppendLe32(answer, fd);
            AppendLe32(answer, error);
            break;
        }
        case 0x0003: {   // close
            if (!lengthIs(8)) return;
            uint32_t error = failErrno;
            if (error == 0 && files_.erase(ReadLe32(body, 4)) == 0) error = kEbadf;
            AppendLe32(answer, error);
            break;
        }
        case 0x0004: {   // read
            if (!lengthIs(16)) return;
            const uint32_t fd = ReadLe32(body, 4);
            const uint32_t count = ReadLe32(body, 8);
            const uint32_t offset = ReadLe32(body, 12);
            uint32_t error = failErrno;
            auto file = files_.find(fd);
            if (error == 0 && file == files_.end()) error = kEbadf;
            if (error == 0 && count > kMaxEfsTransfer) {
                Violate("EFS2 read of more than 1024 bytes");
                error = kEinval;
            }
            Bytes data;
            if (error == 0) {
                const Bytes& content = data_.efsFiles[file->second.path];
                int64_t most = 0;
                const bool shortRead = EfsFaultHits(FaultKind::EfsShortRead, command, subject, most);
                if (offset < content.size()) {
                    size_t n = std::min<size_t>(count, content.size() - offset);
                    if (shortRead) n = std::min<size_t>(n, static_cast<size_t>(most));
                    data.assign(content.begin() + offset, content.begin() + static_cast<std::ptrdiff_t>(offset + n));
                }
            }
            AppendLe32(answer, fd);
            AppendLe32(answer, offset);
            AppendLe32(answer, error == 0 ? static_cast<uint32_t>(data.size()) : 0xFFFFFFFF);
            AppendLe32(answer, error);
            answer.insert(answer.end(), data.begin(), data.end());
            break;
        }
        case 0x0005: {   // write
            if (body.size() < 12) {
                lengthIs(12);
                return;
            }
            const uint32_t fd = ReadLe32(body, 4);
            const uint32_t offset = ReadLe32(body, 8);
            const size_t count = body.size() - 12;
            uint32_t error = failErrno;
            auto file = files_.find(fd);
            if (error == 0 && (file == files_.end() || !file->second.write)) error = kEbadf;
            if (error == 0 && count > kMaxEfsTransfer) {
                Violate("EFS2 write of more than 1024 bytes");
                error = kEinval;
            }
            if (error == 0 && static_cast<uint64_t>(offset) + count > kMaxEfsFileSize) error = kEfbig;
            if (error == 0) {
                Bytes& content = data_.efsFiles[file->second.path];
                if (content.size() < offset + count) content.resize(offset + count, 0);
                std::copy(body.begin() + 12, body.end(), content.begin() + offset);
            }
            AppendLe32(answer, fd);
            AppendLe32(answer, offset);
            AppendLe32(answer, error == 0 ? static_cast<uint32_t>(count) : 0xFFFFFFFF);
            AppendLe32(answer, error);
            break;
        }
        case 0x000B: {   // opendir
            std::string path;
            if (body.size() < 5) {
                lengthIs(5);
                return;
            }
            uint32_t error = 0;
            uint32_t handle = 0;
            if (!pathAt(4, path)) {
                error = kEinval;
            } else if (failErrno != 0) {
                error = failErrno;
            } else if (!isDir(path)) {
                error = kEnoent;
            } else {
                OpenDir dir;
                const std::string prefix = path.empty() ? std::string() : path + "/";
                for (const auto& d : data_.efsDirs) {
                    if (d.rfind(prefix, 0) == 0 && d.size() > prefix.size() && d.find('/', prefix.size()) == std::string::npos) {
                        dir.entries.push_back(DirEntry{d.substr(prefix.size()), true, 0});
                    }
                }
                for (const auto& [f, content] : data_.efsFiles) {
                    if (f.rfind(prefix, 0) == 0 && f.find('/', prefix.size()) == std::string::npos) {
                        dir.entries.push_back(DirEntry{f.substr(prefix.size()), false, static_cast<uint32_t>(content.size())});
                    }
                }
                std::sort(dir.entries.begin(), dir.entries.end(),
                          [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
                int64_t unused = 0;
                if (EfsFaultHits(FaultKind::EfsDotEntries, command, path, unused)) {
                    dir.entries.insert(dir.entries.begin(), {DirEntry{".", true, 0}, DirEntry{"..", true, 0}});
                }
                dir.path = path;
                handle = nextDir_++;
                dirs_[handle] = std::move(dir);
            }
            AppendLe32(answer, handle);
            AppendLe32(answer, error);
            break;
        }
        case 0x000C: {   // readdir
            if (!lengthIs(12)) return;
            const uint32_t handle = ReadLe32(body, 4);
            const uint32_t sequence = ReadLe32(body, 8);
            uint32_t error = failErrno;
            auto dir = dirs_.find(handle);
            if (error == 0 && dir == dirs_.end()) error = kEbadf;
            if (error == 0 && sequence == 0) {
                Violate("EFS2 readdir with sequence number 0");
                error = kEinval;
            }
            std::string name;
            uint32_t type = 0;
            uint32_t size = 0;
            int64_t unused = 0;
            if (error == 0 && sequence <= dir->second.entries.size()) {
                const DirEntry& entry = dir->second.entries[sequence - 1];
                name = entry.name;
                type = entry.directory ? 1 : 0;
                size = entry.size;
            } else if (error == 0 && EfsFaultHits(FaultKind::EfsEndlessListing, command, subject, unused)) {
                name = "f" + std::to_string(sequence);
            }
            AppendLe32(answer, handle);
            AppendLe32(answer, sequence);
            AppendLe32(answer, error);
            AppendLe32(answer, type);
            AppendLe32(answer, type == 1 ? 0040755 : 0100644);
            AppendLe32(answer, size);
            for (int i = 0; i < 3; ++i) AppendLe32(answer, 1325376000);
            answer.insert(answer.end(), name.begin(), name.end());
            answer.push_back(0);
            break;
        }
        case 0x000D: {   // closedir
            if (!lengthIs(8)) return;
            uint32_t error = failErrno;
            if (error == 0 && dirs_.erase(ReadLe32(body, 4)) == 0) error = kEbadf;
            AppendLe32(answer, error);
            break;
        }
        case 0x0011: {   // fstat
            if (!lengthIs(8)) return;
            uint32_t error = failErrno;
            auto file = files_.find(ReadLe32(body, 4));
            if (error == 0 && file == files_.end()) error = kEbadf;
            const uint32_t size = error == 0 ? static_cast<uint32_t>(data_.efsFiles[file->second.path].size()) : 0;
            AppendLe32(answer, error);
            AppendLe32(answer, 0100644);
            AppendLe32(answer, size);
            AppendLe32(answer, 1);
            for (int i = 0; i < 3; ++i) AppendLe32(answer, 1325376000);
            break;
        }
        default:
            Violate("unknown EFS2 command " + std::to_string(command));
            DiagError(kBadCommand, body);
            return;
    }
    SendFrame(answer, false);
}

void Card::WipeUserData() {
    for (auto& [item, nv] : data_.nv) {
        if (!nv.readOnly) nv.data.fill(0);
    }
    data_.wifi.fill(0);
    data_.efsFiles.clear();
}

}  // namespace sim
