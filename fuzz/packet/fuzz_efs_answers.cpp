// Any bytes as the card's answer to each EFS2 file request. A command only
// succeeds on an answer that carries every field it reads: a short answer
// never passes off zeros as a handle, a file's length or a success code, and
// a read never reports more bytes than the answer brought nor copies more
// than the caller's buffer holds.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/common/FuzzInput.h"
#include "fuzz/packet/AnswerCommands.h"
#include "fuzz/packet/AnswerPort.h"
#include "packet/Codec.h"

using fuzz::Require;

namespace {

constexpr size_t kReadDataOffset = 20;
constexpr size_t kDirNameOffset = 40;

// The answer body as the EFS path sees it: unescaped up to the closing flag,
// without its FCS; empty when the FCS does not check.
std::vector<uint8_t> EfsBody(std::span<const uint8_t> answer) {
    std::vector<uint8_t> plain(answer.size());
    const auto result = packet::codec::Unescape(answer, plain);
    if (result.length < 3 || !packet::codec::CheckFcs(std::span<const uint8_t>(plain.data(), result.length - 1))) {
        return {};
    }
    plain.resize(result.length - 3);
    return plain;
}

struct Run {
    packet::CPacket& p;
    const std::vector<uint8_t>& body;
    fuzz::FuzzInput& in;
};

void Carries(const Run& r, size_t fields) { Require(r.body.size() >= fields); }

void OpenDir(const Run& r) {
    uint32_t handle = 0;
    if (r.p.EfsOpenDir(u"vek", handle)) Carries(r, 8);
}
void ReadDir(const Run& r) {
    uint32_t type = 7;
    std::u16string name = u"unchanged";
    if (!r.p.EfsReadDir(1, 1, type, name)) return;
    // The name and the NUL that ends it were carried whole, even an empty
    // one, which ends the listing.
    Carries(r, kDirNameOffset + name.size() + 1);
    Require(name.find(u'\0') == std::u16string::npos);
}
void CloseDir(const Run& r) {
    if (r.p.EfsCloseDir(1)) Carries(r, 8);
}
void Open(const Run& r) {
    uint32_t descriptor = 0;
    if (r.p.EfsOpen(u"/vek/lock/a", r.in.Bit(), descriptor)) Carries(r, 12);
}
void Stat(const Run& r) {
    uint32_t size = 0;
    if (r.p.EfsFstat(3, size)) Carries(r, 16);
}
void Read(const Run& r) {
    const uint32_t count = r.in.Le16() % 1100;
    const uint32_t room = r.in.Le16() % 1100;
    std::vector<uint8_t> buffer(room);   // exactly the room the caller says it has
    uint32_t bytesRead = 0;
    if (!r.p.EfsRead(3, count, 0, buffer.data(), room, bytesRead)) return;
    Carries(r, kReadDataOffset + bytesRead);
    const size_t copied = std::min<size_t>(bytesRead, room);
    Require(std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(copied),
                       r.body.begin() + kReadDataOffset));
}
void Write(const Run& r) {
    const uint8_t data[64] = {1, 2, 3};
    if (r.p.EfsWrite(3, 0, data, sizeof data)) Carries(r, 20);
}
void Close(const Run& r) {
    if (r.p.EfsClose(3)) Carries(r, 8);
}

using Command = void (*)(const Run&);
constexpr Command kCommands[] = {OpenDir, ReadDir, CloseDir, Open, Stat, Read, Write, Close};
static_assert(std::size(kCommands) == std::size(fuzz::kEfsRequests));

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const Command command = kCommands[in.U8() % std::size(kCommands)];
    // The read's count and room come first for every command, so one seed
    // layout serves all of them.
    fuzz::FuzzInput options(data + (size > 0 ? 1 : 0), size > 5 ? 4 : 0);
    in.Bytes(4);
    const auto answer = in.Rest();
    if (answer.size() > 4096) return 0;
    fuzz::AnsweredPacket port(answer);
    const std::vector<uint8_t> body = EfsBody(answer);
    command(Run{port.packet, body, options});
    return 0;
}
