#include "tests/backup/ScriptedCard.h"

#include <algorithm>

#include "tests/support/ReferenceFcs.h"

namespace backup_test {

namespace {

uint32_t U32(const Bytes& b, size_t at) {
    return at + 4 <= b.size() ? static_cast<uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (b[at + 3] << 24))
                              : 0;
}

void PutU32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
}

std::string Text(const Bytes& b, size_t at) {
    std::string text;
    for (size_t i = at; i < b.size() && b[i] != 0; ++i) {
        text.push_back(static_cast<char>(b[i]));
    }
    return text;
}

class CardPort : public platform::ComPort {
public:
    explicit CardPort(ScriptedCard& card) : card_(card) {}
    bool SetLine(const platform::LineSettings&) override { return true; }
    bool SetupComm(uint32_t, uint32_t) override { return true; }
    bool SetCommMask(uint32_t) override { return true; }
    bool SetCommTimeouts(const platform::PortTimeouts&) override { return true; }
    bool PurgeComm(uint32_t flags) override {
        if (flags & platform::kPurgeRxClear) {
            card_.Purge();
        }
        return true;
    }
    uint32_t QueuedInput() override { return card_.Pending(); }
    uint32_t Read(uint8_t* buffer, uint32_t count) override { return card_.Take(buffer, count); }
    uint32_t Write(const uint8_t* data, uint32_t count) override {
        card_.Receive(data, count);
        return count;
    }

private:
    ScriptedCard& card_;
};

class CardOpener : public platform::ComPortOpener {
public:
    ScriptedCard* card = nullptr;
    std::unique_ptr<platform::ComPort> Open(const std::u16string&, int32_t) override {
        return card ? std::make_unique<CardPort>(*card) : nullptr;
    }
};

CardOpener& Opener() {
    static CardOpener opener;
    return opener;
}

}  // namespace

void ScriptedCard::Install() {
    Opener().card = this;
    platform::SetComPortOpener(&Opener());
}

void ScriptedCard::Uninstall() {
    Opener().card = nullptr;
    platform::SetComPortOpener(nullptr);
}

uint32_t ScriptedCard::Take(uint8_t* buffer, uint32_t count) {
    uint32_t n = 0;
    while (n < count && !out_.empty()) {
        buffer[n++] = out_.front();
        out_.pop_front();
    }
    return n;
}

size_t ScriptedCard::Count(const std::string& prefix) const {
    return static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const std::string& line) {
        return line.compare(0, prefix.size(), prefix) == 0;
    }));
}

void ScriptedCard::Receive(const uint8_t* data, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (data[i] != 0x7E) {
            in_.push_back(data[i]);
            continue;
        }
        Bytes frame;
        for (size_t j = 0; j < in_.size(); ++j) {
            if (in_[j] == 0x7D && j + 1 < in_.size()) {
                frame.push_back(in_[++j] ^ 0x20);
            } else {
                frame.push_back(in_[j]);
            }
        }
        in_.clear();
        if (frame.size() < 3) {
            continue;
        }
        const uint16_t fcs = static_cast<uint16_t>(frame[frame.size() - 2] | (frame.back() << 8));
        frame.resize(frame.size() - 2);
        if (test_support::ReferenceFcs(frame) == fcs) {
            Handle(frame);
        }
    }
}

void ScriptedCard::Answer(const Bytes& body) {
    const Bytes wire = test_support::Frame(body, false);
    out_.insert(out_.end(), wire.begin(), wire.end());
}

void ScriptedCard::Handle(const Bytes& body) {
    switch (body[0]) {
    case 0x26:
    case 0x27:
        HandleNv(body);
        return;
    case 0x41: {
        const bool accepted = spcRefusals == 0;
        if (!accepted) {
            --spcRefusals;
        }
        log.push_back(accepted ? "spc" : "spc refused");
        Answer({0x41, static_cast<uint8_t>(accepted ? 1 : 0)});
        return;
    }
    case 0x01:
        if (esnSilent) return;
        Answer({0x01, static_cast<uint8_t>(esn), static_cast<uint8_t>(esn >> 8), static_cast<uint8_t>(esn >> 16),
                static_cast<uint8_t>(esn >> 24)});
        return;
    case 0x29:
        log.push_back("offline");
        Answer({0x29, body.size() > 1 ? body[1] : uint8_t{0}, 0});
        return;
    case 0x59: {
        const uint8_t value = body.size() > 2 ? body[2] : 0;
        log.push_back(std::string("lock ") + (value ? "on" : "off"));
        if (lockSwitchFails) {
            Answer({0x59, 0x0E, 1});
            return;
        }
        lockAccess = value != 0;
        Answer({0x59, 0x0E, 0});
        return;
    }
    case 0x4B:
        if (body.size() > 1 && body[1] == 0xD3) {
            HandleWifi(body);
            return;
        }
        if (body.size() > 3 && body[1] == 0x13) {
            HandleEfs(body);
            return;
        }
        break;
    default:
        break;
    }
    log.push_back("unknown");
    Answer({0x13, body[0]});
}

void ScriptedCard::HandleNv(const Bytes& body) {
    const bool write = body[0] == 0x27;
    const uint16_t item = static_cast<uint16_t>(body[1] | (body[2] << 8));
    log.push_back((write ? "nvwrite " : "nvread ") + std::to_string(item));
    int& silent = write ? silentNvWrites[item] : silentNvReads[item];
    if (silent > 0) {
        --silent;
        return;
    }
    uint16_t status = 0;
    Bytes answer(body.begin(), body.begin() + 3);
    std::array<uint8_t, 128> data{};
    if (inactive.count(item)) {
        status = 5;
    } else if (write && readOnly.count(item)) {
        status = 7;
    } else if (!write && readStatus.count(item)) {
        status = readStatus[item];
    } else if (write) {
        std::copy(body.begin() + 3, body.begin() + 131, data.begin());
        nv[item] = data;
    } else if (nv.count(item)) {
        data = nv[item];
    } else {
        status = 5;
    }
    answer.insert(answer.end(), data.begin(), data.end());
    answer.push_back(static_cast<uint8_t>(status & 0xFF));
    answer.push_back(static_cast<uint8_t>(status >> 8));
    Answer(answer);
}

void ScriptedCard::HandleWifi(const Bytes& body) {
    const bool write = body.size() > 3 && body[2] == 1;
    log.push_back(write ? "wifi write" : "wifi read");
    std::deque<int>& script = write ? wifiWrites : wifiReads;
    int behaviour = 1;
    if (!script.empty()) {
        behaviour = script.front();
        script.pop_front();
    }
    if (behaviour == -2) {
        Answer({0x13, 0x4B, 0xD3});
        return;
    }
    if (behaviour < 0) {
        return;
    }
    Bytes answer{0x4B, 0xD3, body[2], 0};
    if (write && behaviour == 1) {
        std::copy(body.begin() + 4, body.begin() + 10, wifi.begin());
    }
    answer.insert(answer.end(), wifi.begin(), wifi.end());
    answer.push_back(behaviour == 1 ? 0 : 1);
    Answer(answer);
}

std::vector<std::pair<std::string, uint32_t>> ScriptedCard::Children(const std::string& dir) const {
    std::vector<std::pair<std::string, uint32_t>> children;
    if (listDotEntries) {
        children.emplace_back(".", 1);
        children.emplace_back("..", 1);
    }
    const std::string prefix = dir + "/";
    auto direct = [&](const std::string& path) {
        return path.compare(0, prefix.size(), prefix) == 0 && path.find('/', prefix.size()) == std::string::npos;
    };
    for (const auto& [path, content] : files) {
        if (direct(path)) {
            children.emplace_back(path.substr(prefix.size()), 0);
        }
    }
    for (const std::string& path : dirs) {
        if (direct(path)) {
            children.emplace_back(path.substr(prefix.size()), 1);
        }
    }
    return children;
}

void ScriptedCard::HandleEfs(const Bytes& body) {
    const uint16_t command = static_cast<uint16_t>(body[2] | (body[3] << 8));
    Bytes answer(body.begin(), body.begin() + 4);
    switch (command) {
    case 0x02: {   // open
        const uint32_t flags = U32(body, 4);
        const std::string path = Text(body, 12);
        const bool reading = flags == 0;
        log.push_back("efsopen " + path + (reading ? " r" : " w"));
        uint32_t fd = 0xFFFFFFFF;
        uint32_t error = 0;
        if (reading && !files.count(path)) {
            error = 2;
        } else {
            if (!reading) {
                files[path].clear();
            }
            fd = nextHandle_++;
            openFiles_[fd] = path;
        }
        PutU32(answer, fd);
        PutU32(answer, error);
        break;
    }
    case 0x03:   // close
        log.push_back("efsclose " + openFiles_[U32(body, 4)]);
        openFiles_.erase(U32(body, 4));
        PutU32(answer, 0);
        break;
    case 0x11: {   // fstat
        const std::string path = openFiles_[U32(body, 4)];
        log.push_back("efsfstat " + path);
        const bool fails = fstatFails.count(path) != 0;
        PutU32(answer, fails ? 5 : 0);
        PutU32(answer, 0x81B6);
        PutU32(answer, fails ? 0 : static_cast<uint32_t>(files[path].size()));
        for (int i = 0; i < 4; ++i) {
            PutU32(answer, 0);
        }
        break;
    }
    case 0x04: {   // read
        const uint32_t fd = U32(body, 4);
        const uint32_t count = U32(body, 8);
        const uint32_t offset = U32(body, 12);
        const std::string path = openFiles_[fd];
        log.push_back("efsread " + path + " " + std::to_string(offset) + " " + std::to_string(count));
        const Bytes& content = files[path];
        uint32_t n = offset < content.size() ? std::min<uint32_t>(count, static_cast<uint32_t>(content.size()) - offset) : 0;
        if (shortReads.count(path)) {
            n = std::min(n, shortReads[path]);
        }
        PutU32(answer, fd);
        PutU32(answer, offset);
        PutU32(answer, n);
        PutU32(answer, 0);
        answer.insert(answer.end(), content.begin() + offset, content.begin() + offset + n);
        break;
    }
    case 0x05: {   // write
        const uint32_t fd = U32(body, 4);
        const uint32_t offset = U32(body, 8);
        const std::string path = openFiles_[fd];
        const uint32_t length = static_cast<uint32_t>(body.size() - 12);
        log.push_back("efswrite " + path + " " + std::to_string(offset) + " " + std::to_string(length));
        const bool fails = writeFails.count(path) != 0;
        if (!fails) {
            Bytes& content = files[path];
            if (content.size() < offset + length) {
                content.resize(offset + length);
            }
            std::copy(body.begin() + 12, body.end(), content.begin() + offset);
        }
        PutU32(answer, fd);
        PutU32(answer, offset);
        PutU32(answer, fails ? 0 : length);
        PutU32(answer, fails ? 28 : 0);
        break;
    }
    case 0x0B: {   // opendir
        const std::string path = Text(body, 4);
        log.push_back("efsopendir " + path);
        uint32_t handle = 0;
        if (dirs.count(path) && !openDirFails.count(path)) {
            handle = nextHandle_++;
            openDirs_[handle] = path;
        }
        PutU32(answer, handle);
        PutU32(answer, handle ? 0 : 2);
        break;
    }
    case 0x0C: {   // readdir
        const uint32_t handle = U32(body, 4);
        const uint32_t sequence = U32(body, 8);
        const auto children = Children(openDirs_[handle]);
        PutU32(answer, handle);
        PutU32(answer, sequence);
        PutU32(answer, 0);
        const bool exists = sequence >= 1 && sequence <= children.size();
        PutU32(answer, exists ? children[sequence - 1].second : 0);
        for (int i = 0; i < 5; ++i) {
            PutU32(answer, 0);
        }
        if (endlessListing && !exists) {
            std::string name = "f";
            name += std::to_string(sequence);
            answer.insert(answer.end(), name.begin(), name.end());
        } else if (exists) {
            for (char c : children[sequence - 1].first) {
                answer.push_back(static_cast<uint8_t>(c));
            }
        }
        answer.push_back(0);
        break;
    }
    case 0x0D:   // closedir
        log.push_back("efsclosedir " + openDirs_[U32(body, 4)]);
        openDirs_.erase(U32(body, 4));
        PutU32(answer, 0);
        break;
    default:
        log.push_back("unknown efs");
        PutU32(answer, 22);
        break;
    }
    Answer(answer);
}

}  // namespace backup_test
