// fwup_plugin_probe: loads the built plug-in like the host does and checks
// the host boundary with the kit's own record offsets — identity, the
// identity query, a rejected package with its trace records, and the
// progress path. Used where GoogleTest is not available (the 32-bit build).
// Exit status 0 when every check holds.
#include <cstdio>
#include <cstring>
#include <string>

#include "host/kit/HostKit.h"
#include "platform/Platform.h"

namespace {

int g_failures = 0;

void Check(bool condition, const char* what) {
    std::printf("%s %s\n", condition ? "ok  " : "FAIL", what);
    if (!condition) {
        ++g_failures;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string plugin = argc > 1 ? argv[1] : hostkit::DefaultPluginPath();
    const std::string manager = argc > 2 ? argv[2] : hostkit::DefaultManagerPath();
    hostkit::HostSession host;
    Check(host.StartManager(manager), "module manager registered and attached");
    if (!host.LoadPlugin(plugin)) {
        Check(false, "plug-in loads and GetModule answers");
        return 1;
    }
    module::CHolModuleInterface* object = host.Module();
    Check(object->GetModuleId() == 268 && object->GetModuleInstance() == 80, "identifier 268, instance 80");
    Check(object->GetModuleName().Text() == u"CDMADataCardW326 FWUpgrade Module", "module name");

    const uint8_t supported[4] = {0x2E, 0x1A, 0x00, 0x81};
    uint32_t identity;
    std::memcpy(&identity, supported, 4);
    uint8_t answer = 0;
    uint8_t result = 0xFF;
    Check(host.QueryIdentity(identity, answer, result) == 0 && answer == 1 && result == 0, "identity query");

    std::string request(hostkit::UpgradeRequestSize() + 1, '\0');
    int32_t output = 0;
    int32_t code = 0;
    Check(host.Send(1025, static_cast<int32_t>(hostkit::UpgradeRequestSize()) - 1, request.data(), 4, &output, 4,
                    &code) == -1,
          "short upgrade request refused");

    const hostkit::UpgradeAnswer run = host.RunUpgrade(1, u"/nonexistent/fwup/package");
    Check(run.handled == 0 && run.result == -13313, "missing package answers -13313");
    const auto records = host.Log().Records();
    Check(!records.empty(), "the run is traced to the log module");
    bool recordsSound = !records.empty();
    for (const hostkit::DecodedLogRecord& record : records) {
        recordsSound = recordsSound && record.kind == 61 && record.unusedBytesZero && record.time.size() == 19 &&
                       record.threadId == platform::CurrentThreadId() &&
                       static_cast<size_t>(record.messageLength) == record.message.size() && !record.function.empty();
    }
    Check(recordsSound, "every trace record reads back by offset");

    std::printf("%zu-byte request, %zu-byte trace record, %zu trace records\n", hostkit::UpgradeRequestSize(),
                hostkit::LogRecordSize(), records.size());
    return g_failures == 0 ? 0 : 1;
}
