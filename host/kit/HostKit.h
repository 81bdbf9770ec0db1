// The host side in a box, for tests and the fwupgrade program.
//
//   hostkit::HostSession host;            // private register root for this process
//   host.StartManager();                  // register + load fw_hostmanager, attach log 266 / display 260
//   host.LoadPlugin();                    // dlopen the plug-in like the host, call GetModule
//   auto answer = host.RunUpgrade(3, u"/path/to/package");   // message 1025
//   host.Log().Records();  host.Display().Percentages();
//
// The register root (FWUPGRADE_REGISTRY_ROOT) is a temporary folder created
// once per process and removed when the process ends; every session of the
// process shares it, because a loaded plug-in keeps the root it saw at load.
// A test that links the module statically instead of loading the library
// passes its GetModule to UseLinkedModule (and runs module::InitialiseLibrary
// itself when it wants the load-time initialisation).
//
// The manager library routes a ModuleRoute (message 1025) to the module
// attached under the target identifier and instance; an unknown target makes
// its HandleMessage return -2. Modules are attached in-process through its
// export HostManagerAttach(id, instance, module) / HostManagerDetach(id, instance).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "module/ModuleInterface.h"

namespace hostkit {

using GetModuleFunction = module::CHolModuleInterface* (*)();
using AttachFunction = int (*)(int32_t id, int32_t instance, module::CHolModuleInterface* module);
using DetachFunction = int (*)(int32_t id, int32_t instance);

// Paths of the libraries this build produced (empty when not built).
std::string DefaultManagerPath();
std::string DefaultPluginPath();

// ------------------------------------------------------------ records ----

// Size of the trace record on this build (1136 on 32-bit, 1152 on 64-bit).
size_t LogRecordSize();

// A trace record read back by offset.
struct DecodedLogRecord {
    std::u16string time;       // "hh:mm:ss yyyy-mm-dd"
    uint16_t kind = 0;         // 61
    std::u16string file;
    int32_t line = 0;
    std::u16string function;
    uint32_t threadId = 0;
    std::u16string message;    // the wide text, length units
    std::string narrowMessage; // the narrow copy
    int32_t messageLength = 0;
    // Bytes 594-595 and every byte after the terminator of each text field are zero.
    bool unusedBytesZero = false;
};

// Reads a record of LogRecordSize() bytes; the message pointers must be
// valid (they are during delivery).
DecodedLogRecord DecodeLogRecord(const uint8_t* bytes);

// Writes an upgrade request (message 1025) into bytes of UpgradeRequestSize():
// the port at offset 8 and the folder string at offset 16, everything else zero.
// The folder text must outlive the call that uses the bytes.
size_t UpgradeRequestSize();
void BuildUpgradeRequest(uint8_t* bytes, int32_t port, const char16_t* folderText, int32_t folderLength);

// ------------------------------------------------------------ modules ----

// A host module that keeps nothing but its identity; a base for the recorders.
class HostModule : public module::CHolModuleInterface {
public:
    HostModule(int32_t id, int32_t instance, std::u16string name);
    virtual ~HostModule() = default;
    void* DeleteThis(unsigned int flags) override;
    int32_t GetModuleId() override { return id_; }
    int32_t GetModuleInstance() override { return instance_; }
    module::DualString GetModuleName() override;
    const module::ModuleVersion* GetModuleVersion() override { return &version_; }
    int32_t RegisterModule() override { return module::kNotProvided; }
    int32_t UnregisterModule() override { return module::kNotProvided; }
    int32_t OnMessage1() override { return module::kNotProvided; }
    int32_t OnMessage2(int32_t*) override { return module::kNotProvided; }
    int32_t OnMessage3() override { return module::kNotProvided; }

private:
    int32_t id_;
    int32_t instance_;
    std::u16string name_;
    module::ModuleVersion version_{1, 0, 0, 0};
};

// The log module (266, 1): keeps every record of message 1026.
class RecordingLogModule : public HostModule {
public:
    RecordingLogModule();
    int32_t HandleMessage(int32_t message, int32_t inLength, void* inBuffer, int32_t outLength, void* outBuffer,
                          int32_t resultLength, void* resultBuffer) override;
    std::vector<DecodedLogRecord> Records() const;
    // Messages of every record, in order.
    std::vector<std::u16string> Messages() const;
    bool HasMessage(const std::u16string& message) const;
    void Clear();
    // Called with each record as it arrives, on the delivering thread.
    void SetObserver(std::function<void(const DecodedLogRecord&)> observer);
    // Whether records are kept (the default); a long run that only observes
    // them need not hold its whole trace in memory.
    void KeepRecords(bool keep);

private:
    mutable std::mutex mutex_;
    std::vector<DecodedLogRecord> records_;
    std::function<void(const DecodedLogRecord&)> observer_;
    bool keep_ = true;
};

// One progress report (message 1028): three int32, 3, 4 and the percentage.
struct ProgressReport {
    int32_t first = 0;
    int32_t second = 0;
    int32_t percent = 0;
};

// The display module (260, 1): keeps every progress report.
class RecordingDisplayModule : public HostModule {
public:
    RecordingDisplayModule();
    int32_t HandleMessage(int32_t message, int32_t inLength, void* inBuffer, int32_t outLength, void* outBuffer,
                          int32_t resultLength, void* resultBuffer) override;
    std::vector<ProgressReport> Reports() const;
    std::vector<int32_t> Percentages() const;
    void Clear();
    // The value left in the result buffer of every report (0: accepted).
    void SetAnswer(int32_t answer);
    // Called with each report as it arrives, on the delivering thread.
    void SetObserver(std::function<void(const ProgressReport&)> observer);

private:
    mutable std::mutex mutex_;
    std::vector<ProgressReport> reports_;
    std::function<void(const ProgressReport&)> observer_;
    int32_t answer_ = 0;
};

// ------------------------------------------------------------ session ----

struct UpgradeAnswer {
    int32_t handled = 0;   // HandleMessage's return
    int32_t result = 0;    // the run's result code
    int32_t output = 0;    // the 4-byte output
};

class HostSession {
public:
    HostSession();
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // The register root of this process (FWUPGRADE_REGISTRY_ROOT).
    static const std::string& RegistryRoot();

    // Registers the manager library under 256\1 and attaches the recording
    // log and display modules to it. False when the library does not load.
    bool StartManager(const std::string& managerPath = DefaultManagerPath());
    // Attaches another in-process module to the manager (after StartManager).
    bool Attach(module::CHolModuleInterface* module);
    void Detach(int32_t id, int32_t instance);

    // Loads the plug-in like the host (dlopen, then its GetModule).
    bool LoadPlugin(const std::string& pluginPath = DefaultPluginPath());
    void UseLinkedModule(GetModuleFunction getModule);
    module::CHolModuleInterface* Module() const { return module_; }
    void* PluginLibrary() const { return plugin_; }

    UpgradeAnswer RunUpgrade(int32_t port, const std::u16string& packageFolder);
    // Message 1026: the answer byte after the call (starting from answerIn).
    int32_t QueryIdentity(uint32_t identity, uint8_t& answer, uint8_t& result);
    int32_t Send(int32_t message, int32_t inLength, void* inBuffer, int32_t outLength, void* outBuffer,
                 int32_t resultLength, void* resultBuffer);

    RecordingLogModule& Log() { return log_; }
    RecordingDisplayModule& Display() { return display_; }

private:
    RecordingLogModule log_;
    RecordingDisplayModule display_;
    void* manager_ = nullptr;
    AttachFunction attach_ = nullptr;
    DetachFunction detach_ = nullptr;
    std::vector<std::pair<int32_t, int32_t>> attached_;
    void* plugin_ = nullptr;
    module::CHolModuleInterface* module_ = nullptr;
};

// Writes base\id\instance "Path" of the host's register (as the host's own
// installer does). False when the key or value cannot be written.
bool RegisterLibraryPath(int32_t id, int32_t instance, const std::string& path);

}  // namespace hostkit
