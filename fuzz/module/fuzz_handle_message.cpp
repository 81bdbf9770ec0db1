// The host's messages with any number, any lengths and any buffers (null or
// exactly as long as the caller says). The module answers handled, bad length
// or unknown; it writes no byte outside the buffers it was given and none at
// all for a message it does not know or whose buffers it refuses. An upgrade
// request reaches only a port opener that opens nothing and a package folder
// inside the fuzzer's own temporary folder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/common/FuzzInput.h"
#include "fuzz/common/Sandbox.h"
#include "fuzz/common/VirtualTime.h"
#include "module/ModuleInterface.h"
#include "module/UpgradeModuleObject.h"
#include "module/UpgradeRequest.h"
#include "platform/Platform.h"

namespace {

void Require(bool property) {
    if (!property) std::abort();
}

// No port ever opens: every open is counted and refused.
class NoPortOpener : public platform::ComPortOpener {
public:
    std::unique_ptr<platform::ComPort> Open(const std::u16string&, int32_t) override {
        ++opens;
        return nullptr;
    }
    uint32_t opens = 0;
};

constexpr int32_t kMessages[] = {module::kMessageQuery1, module::kMessageExchange2, module::kMessageQuery3,
                                 module::kUpgradeMessage, module::kIdentityMessage, 0, -1, 1024, 1027};
constexpr int32_t kLengths[] = {0, 1, 3, 4, 5, -1, static_cast<int32_t>(module::kUpgradeRequestSize), 8,
                                static_cast<int32_t>(module::kUpgradeRequestSize) + 1};

// A caller's buffer: null, or exactly as long as its length says (at least
// the byte a zero length may still point at).
struct Buffer {
    int32_t length = 0;
    bool null = false;
    std::vector<uint8_t> bytes;
    void* Pointer() { return null ? nullptr : bytes.data(); }
};

Buffer MakeBuffer(fuzz::FuzzInput& in) {
    Buffer b;
    const uint8_t shape = in.U8();
    b.length = (shape & 0x40) != 0 ? static_cast<int32_t>(in.Le32()) : kLengths[shape % std::size(kLengths)];
    if (b.length > 4096) b.length %= 4097;   // a length the buffer really has
    b.null = (shape & 0x80) != 0;
    b.bytes.resize(b.length > 0 ? static_cast<size_t>(b.length) : 1);
    for (uint8_t& byte : b.bytes) byte = in.U8();
    return b;
}

// A package whose files are all there, so a run gets as far as the port.
std::filesystem::path CompletePackage() {
    const std::filesystem::path folder = fuzz::Sandbox::Get().Fresh("complete-package");
    for (const char* name : {"partition.mbn", "qcsblhd_cfgdata.mbn", "qcsbl.mbn", "oemsblhd.mbn", "oemsbl.mbn",
                             "amsshd.mbn", "amss.mbn", "appsboothd.mbn", "appsboot.mbn", "partition_vek.mbn",
                             "system.img", "boot.img", "recovery.img", "cefs.mbn"}) {
        std::ofstream(folder / name) << "package file " << name;
    }
    return folder;
}

// The package folder text: inside the sandbox whatever the input says.
std::u16string FolderText(fuzz::FuzzInput& in) {
    static const std::u16string complete = platform::Utf8ToWide(CompletePackage().string());
    static const std::u16string packages =
        platform::Utf8ToWide((fuzz::Sandbox::Get().Root() / "packages").string() + "/");
    if (in.Bit()) return complete;
    std::u16string text = packages;
    for (size_t n = in.U8() % 40; n > 0; --n) {
        char16_t unit = static_cast<char16_t>(in.Le16());
        if (unit == u'/' || unit == u'\\' || unit == u'.') unit = u'_';
        text.push_back(unit);
    }
    return text;
}

// Lays out an upgrade request the way a host does; the strings point into
// storage the caller keeps alive.
void FillRequest(Buffer& b, fuzz::FuzzInput& in, std::u16string& folder) {
    if (b.null || b.length != static_cast<int32_t>(module::kUpgradeRequestSize)) return;
    const int32_t port = static_cast<int32_t>(in.U8() % 8);
    std::memcpy(b.bytes.data() + module::kRequestPortOffset, &port, sizeof port);
    folder = FolderText(in);
    char16_t* wide = folder.data();
    // The length a host claims never exceeds its text; it may be shorter, zero or negative.
    const int32_t claimed = std::min(static_cast<int32_t>(folder.size()), static_cast<int32_t>(in.Le16()) - 2);
    uint8_t* field = b.bytes.data() + module::kRequestFolderOffset;
    std::memset(field + offsetof(module::DualString, narrow), 0, sizeof(char*));
    std::memcpy(field + offsetof(module::DualString, wide), &wide, sizeof wide);
    std::memcpy(field + offsetof(module::DualString, length), &claimed, sizeof claimed);
    // The second string is never read: a null one.
    std::memset(b.bytes.data() + module::kRequestOffsets[6], 0, sizeof(module::DualString));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Sandbox::Get();
    fuzz::InstallVirtualTime();
    static NoPortOpener* const opener = new NoPortOpener();
    platform::SetComPortOpener(opener);
    static module::CHolModuleInterface* const object = [] {
        module::CHolModuleInterface* created = module::GetModuleObject();
        // The lock backup would otherwise go to the current folder.
        static_cast<module::CFWUpgradeDataCDMA7627Module*>(created)->Upgrade().Data().lockBackupPath =
            platform::Utf8ToWide((fuzz::Sandbox::Get().Root() / "work" / "VEKLock_1").string());
        return created;
    }();

    fuzz::FuzzInput in(data, size);
    const uint8_t pick = in.U8();
    const int32_t message =
        (pick & 0x80) != 0 ? static_cast<int32_t>(in.Le32()) : kMessages[pick % std::size(kMessages)];
    Buffer input = MakeBuffer(in);
    Buffer output = MakeBuffer(in);
    Buffer result = MakeBuffer(in);
    std::u16string folder;
    if (message == module::kUpgradeMessage) FillRequest(input, in, folder);
    const std::vector<uint8_t> inputBefore = input.bytes;
    const std::vector<uint8_t> outputBefore = output.bytes;
    const std::vector<uint8_t> resultBefore = result.bytes;

    const int32_t answer = object->HandleMessage(message, input.length, input.Pointer(), output.length,
                                                 output.Pointer(), result.length, result.Pointer());
    Require(answer == module::kMessageHandled || answer == module::kBadLength || answer == module::kUnknownMessage);
    // The input is never written to.
    Require(input.bytes == inputBefore);
    if (answer != module::kMessageHandled) {
        Require(output.bytes == outputBefore && result.bytes == resultBefore);
        return 0;
    }
    if (message == module::kUpgradeMessage && result.length >= 4) {
        int32_t code = 0;
        std::memcpy(&code, result.bytes.data(), sizeof code);
        Require(code == 0 || code == -13313 || code == -13314);
        // Without a port nothing can have been flashed.
        Require(code != 0);
    }
    return 0;
}
