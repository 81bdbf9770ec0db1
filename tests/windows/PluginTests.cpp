// The plug-in DLL as a host sees it: loaded with LoadLibraryW, reached through
// GetModule and the module interface, registered in the Windows registry,
// tracing through a module manager found in the register, and upgrading a
// virtual card on a COM port.
#include <cstdlib>
#include <cstring>

#include "module/ModuleInterface.h"
#include "module/UpgradeRequest.h"
#include "platform/win32/WinApi.h"
#include "tests/windows/Harness.h"
#include "tests/windows/RecordingManager.h"
#include "tests/windows/WinTestSupport.h"

namespace {

using module::CHolModuleInterface;

constexpr uint32_t kProgrammerSize = 177376;
const std::u16string kBaseKey = u"Software\\vek\\vek Quillane";

std::u16string PluginPath() { return wintest::ProgramFolder() + u"\\FWUpgradeDataCDMAW326.dll"; }
std::u16string ManagerPath() { return wintest::ProgramFolder() + u"\\fw_wintest_manager.dll"; }
std::u16string ProgrammerFile() { return wintest::ProgramFolder() + u"\\armprgVEKMSM7627.bin"; }

// Registers the recording manager as the host's module manager (256, 1).
void RegisterManager() {
    platform::RegistryKey key = platform::RegCreateKey(nullptr, kBaseKey + u"\\256\\1");
    const std::u16string path = ManagerPath();
    REQUIRE(platform::RegSetString(key, u"Path", path.c_str(), static_cast<uint32_t>(path.size() * 2)));
    platform::RegCloseKey(key);
}

struct Plugin {
    HMODULE library = nullptr;
    CHolModuleInterface* (*getModule)() = nullptr;
    bool programmerWrittenOnLoad = false;
};

// Loads the plug-in once per process, like a host: the manager is registered
// first and the programmer file of an earlier run is removed.
const Plugin& LoadPlugin() {
    static Plugin plugin = [] {
        Plugin loaded;
        RegisterManager();
        ::DeleteFileW(platform::win32::Wide(ProgrammerFile()));
        loaded.library = ::LoadLibraryW(platform::win32::Wide(PluginPath()));
        loaded.programmerWrittenOnLoad = platform::PathExists(ProgrammerFile());
        if (loaded.library != nullptr) {
            loaded.getModule =
                reinterpret_cast<CHolModuleInterface* (*)()>(platform::GetProcAddress(loaded.library, "GetModule"));
        }
        return loaded;
    }();
    return plugin;
}

CHolModuleInterface* Module() {
    const Plugin& plugin = LoadPlugin();
    return plugin.getModule != nullptr ? plugin.getModule() : nullptr;
}

template <typename Fn>
Fn ManagerFunction(const char* name) {
    HMODULE manager = ::GetModuleHandleW(platform::win32::Wide(ManagerPath()));
    if (manager == nullptr) return nullptr;
    return reinterpret_cast<Fn>(platform::GetProcAddress(manager, name));
}

struct Trace {
    std::u16string message;
    std::u16string function;
    int32_t kind = 0;
    int32_t line = 0;
};

std::vector<Trace> ReceivedTraces() {
    std::vector<Trace> traces;
    auto count = ManagerFunction<RecordingManagerLogCountFn>("RecordingManagerLogCount");
    auto get = ManagerFunction<RecordingManagerLogFn>("RecordingManagerLog");
    if (count == nullptr || get == nullptr) return traces;
    for (int32_t i = 0; i < count(); ++i) {
        wchar_t message[512] = {};
        wchar_t function[270] = {};
        Trace trace;
        get(i, message, 512, function, 270, &trace.kind, &trace.line);
        trace.message = platform::win32::FromWide(message, std::wcslen(message));
        trace.function = platform::win32::FromWide(function, std::wcslen(function));
        traces.push_back(trace);
    }
    return traces;
}

std::vector<int32_t> ReceivedPercentages(bool& framedAsThreeFour) {
    std::vector<int32_t> percentages;
    framedAsThreeFour = true;
    auto count = ManagerFunction<RecordingManagerProgressCountFn>("RecordingManagerProgressCount");
    auto get = ManagerFunction<RecordingManagerProgressFn>("RecordingManagerProgress");
    if (count == nullptr || get == nullptr) return percentages;
    for (int32_t i = 0; i < count(); ++i) {
        int32_t first = 0, second = 0, percent = 0;
        get(i, &first, &second, &percent);
        framedAsThreeFour = framedAsThreeFour && first == 3 && second == 4;
        percentages.push_back(percent);
    }
    return percentages;
}

void ResetManager() {
    if (auto reset = ManagerFunction<RecordingManagerResetFn>("RecordingManagerReset")) reset();
}

bool HasTrace(const std::vector<Trace>& traces, const std::u16string& message) {
    for (const Trace& trace : traces) {
        if (trace.message == message) return true;
    }
    return false;
}

constexpr int32_t kRequestSize = static_cast<int32_t>(module::kUpgradeRequestSize);

// Message 1025 with a request laid out by offset as a host of this pointer
// width builds it (LayoutChecks.cpp pins the offsets): the folder string is
// narrow pointer, wide pointer, length.
int32_t SendUpgrade(CHolModuleInterface* module, int32_t port, const std::u16string& folder, int32_t& result) {
    uint8_t request[module::kUpgradeRequestSize] = {};
    std::memcpy(request + module::kRequestPortOffset, &port, 4);
    std::string narrow(folder.begin(), folder.end());
    const char* narrowText = narrow.c_str();
    const char16_t* wideText = folder.empty() ? nullptr : folder.c_str();
    const int32_t length = static_cast<int32_t>(folder.size());
    uint8_t* text = request + module::kRequestFolderOffset;
    std::memcpy(text, &narrowText, sizeof(void*));
    std::memcpy(text + sizeof(void*), &wideText, sizeof(void*));
    std::memcpy(text + 2 * sizeof(void*), &length, 4);
    int32_t out = 0;
    result = 12345;
    return module->HandleMessage(1025, kRequestSize, request, 4, &out, 4, &result);
}

std::u16string RegistryText(const std::u16string& key, const wchar_t* value) {
    HKEY native = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, platform::win32::Wide(key), 0, KEY_READ, &native) != ERROR_SUCCESS) return u"<no key>";
    wchar_t buffer[600] = {};
    DWORD bytes = sizeof buffer - 2;
    const LONG status = ::RegQueryValueExW(native, value, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes);
    ::RegCloseKey(native);
    if (status != ERROR_SUCCESS) return u"<no value>";
    return platform::win32::FromWide(buffer, std::wcslen(buffer));
}

bool KeyExists(const std::u16string& key) {
    HKEY native = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, platform::win32::Wide(key), 0, KEY_READ, &native) != ERROR_SUCCESS) return false;
    ::RegCloseKey(native);
    return true;
}

}  // namespace

module::CHolModuleInterface* wintest::PluginModule() { return Module(); }

TEST(Plugin_LoadWritesTheProgrammerNextToTheHost) {
    const Plugin& plugin = LoadPlugin();
    REQUIRE(plugin.library != nullptr);
    CHECK(plugin.programmerWrittenOnLoad);
    const std::vector<uint8_t> written = wintest::ReadFile(ProgrammerFile());
    REQUIRE_EQ(written.size(), size_t{kProgrammerSize});
    // Header words three and four: the load address of the code.
    uint32_t words[4] = {};
    std::memcpy(words, written.data(), sizeof words);
    CHECK_EQ(words[2], uint32_t{0x00500028});
    CHECK_EQ(words[3], uint32_t{0x00500028});

    // Byte for byte the resource the library carries.
    HRSRC found = ::FindResourceExW(plugin.library, L"BIN", MAKEINTRESOURCEW(102), 2052);
    REQUIRE(found != nullptr);
    CHECK_EQ(static_cast<uint32_t>(::SizeofResource(plugin.library, found)), kProgrammerSize);
    const void* resource = ::LockResource(::LoadResource(plugin.library, found));
    REQUIRE(resource != nullptr);
    CHECK(std::memcmp(resource, written.data(), kProgrammerSize) == 0);
}

TEST(Plugin_GetModuleReturnsTheOneModuleWithItsIdentity) {
    const Plugin& plugin = LoadPlugin();
    REQUIRE(plugin.getModule != nullptr);
    CHolModuleInterface* first = plugin.getModule();
    REQUIRE(first != nullptr);
    CHECK(first == plugin.getModule());
    CHECK_EQ(first->GetModuleId(), int32_t{268});
    CHECK_EQ(first->GetModuleInstance(), int32_t{80});
    const module::DualString name = first->GetModuleName();
    CHECK_EQ(name.Text(), std::u16string(u"CDMADataCardW326 FWUpgrade Module"));
    REQUIRE(name.narrow != nullptr);
    CHECK_EQ(std::string(name.narrow), std::string("CDMADataCardW326 FWUpgrade Module"));
    const module::ModuleVersion* version = first->GetModuleVersion();
    REQUIRE(version != nullptr);
    CHECK(version->major == 0 && version->minor == 0 && version->build == 1 && version->revision == 0);
    // Only the entry point is exported by name.
    CHECK(::GetProcAddress(plugin.library, "InitialiseLibrary") == nullptr);
    CHECK(::GetProcAddress(plugin.library, "GetModule@0") == nullptr);
}

TEST(Plugin_AnswersTheHostMessages) {
    CHolModuleInterface* module = Module();
    REQUIRE(module != nullptr);
    // Identity query: vendor 0x2E1A then product 0x0081, most significant byte first.
    const uint8_t supported[4] = {0x2E, 0x1A, 0x00, 0x81};
    uint8_t answer = 0;
    uint8_t result = 0xAA;
    CHECK_EQ(module->HandleMessage(1026, 4, const_cast<uint8_t*>(supported), 1, &answer, 1, &result), int32_t{0});
    CHECK_EQ(answer, uint8_t{1});
    CHECK_EQ(result, uint8_t{0});
    const uint8_t other[4] = {0x12, 0xD1, 0x14, 0x01};
    answer = 7;
    CHECK_EQ(module->HandleMessage(1026, 4, const_cast<uint8_t*>(other), 1, &answer, 1, &result), int32_t{0});
    CHECK_EQ(answer, uint8_t{7});

    int32_t code = 0;
    uint8_t request[module::kUpgradeRequestSize + 1] = {};
    CHECK_EQ(module->HandleMessage(1025, kRequestSize - 1, request, 4, &code, 4, &code), int32_t{-1});
    CHECK_EQ(module->HandleMessage(1025, kRequestSize + 1, request, 4, &code, 4, &code), int32_t{-1});
    int32_t value = 99;
    code = 0;
    CHECK_EQ(module->HandleMessage(2, 0, nullptr, 4, &value, 4, &code), int32_t{0});
    CHECK_EQ(code, int32_t{-12289});
    CHECK_EQ(value, int32_t{99});
    CHECK_EQ(module->HandleMessage(7, 0, nullptr, 0, nullptr, 4, &code), int32_t{-2});
}

TEST(Plugin_RegistersItselfUnderItsOwnFileName) {
    CHolModuleInterface* module = Module();
    REQUIRE(module != nullptr);
    const std::u16string key = kBaseKey + u"\\268\\80";
    REQUIRE_EQ(module->RegisterModule(), int32_t{0});
    // The path comes from the instance handle the DLL stored when it loaded.
    const std::u16string loadedFrom = platform::GetModuleFileName(LoadPlugin().library);
    CHECK_EQ(wintest::Lower(RegistryText(key, L"Path")), wintest::Lower(loadedFrom));
    CHECK_EQ(RegistryText(key, L"Description"), std::u16string(u"CDMADataCardW326 FWUpgrade Module"));
    CHECK_EQ(RegistryText(key, L"Version"), std::u16string(u"0.0.1.0"));

    CHECK_EQ(module->UnregisterModule(), int32_t{0});
    CHECK(!KeyExists(key));
    CHECK(!KeyExists(kBaseKey + u"\\268"));
    CHECK(KeyExists(kBaseKey + u"\\256\\1"));
}

TEST(Plugin_TracesThroughTheRegisteredManagerAndRejectsAnIncompletePackage) {
    CHolModuleInterface* module = Module();
    REQUIRE(module != nullptr);
    ResetManager();
    const std::u16string folder = wintest::FreshFolder(u"incomplete");
    wintest::WriteFile(folder + u"\\partition.mbn", {1, 2, 3});
    int32_t result = 0;
    CHECK_EQ(SendUpgrade(module, 3, folder, result), int32_t{0});
    CHECK_EQ(result, int32_t{-13313});

    const std::vector<Trace> traces = ReceivedTraces();
    REQUIRE(!traces.empty());
    CHECK(HasTrace(traces, u"Check partition.mbn file"));
    CHECK(HasTrace(traces, u"Check qcsblhd_cfgdata.mbn file"));
    CHECK(HasTrace(traces, u"qcsblhd_cfgdata.mbn file is not Exist !!"));
    CHECK(!HasTrace(traces, u"Check qcsbl.mbn file"));
    bool sawInitialize = false;
    for (const Trace& trace : traces) {
        CHECK_EQ(trace.kind, int32_t{61});
        CHECK(trace.line > 0);
        sawInitialize = sawInitialize || trace.function == u"CFWUpgradeDataCDMA7627Module::Initialize";
    }
    CHECK(sawInitialize);

    // A null folder counts as the empty one.
    CHECK_EQ(SendUpgrade(module, 3, u"", result), int32_t{0});
    CHECK_EQ(result, int32_t{-13313});
}

TEST(Plugin_ChecksAPackageInAFolderWithChineseNameAndFailsOnAnAbsentPort) {
    CHolModuleInterface* module = Module();
    REQUIRE(module != nullptr);
    ResetManager();
    // "升级包": the path reaches the file calls as UTF-16, whatever the ANSI code page.
    const std::u16string folder = wintest::FreshFolder(u"\u5347\u7EA7\u5305");
    const char16_t* files[] = {u"partition.mbn", u"qcsblhd_cfgdata.mbn", u"qcsbl.mbn", u"oemsblhd.mbn",
                               u"oemsbl.mbn", u"amsshd.mbn", u"amss.mbn", u"appsboothd.mbn", u"appsboot.mbn",
                               u"partition_vek.mbn", u"system.img", u"boot.img", u"recovery.img", u"cefs.mbn"};
    for (const char16_t* name : files) REQUIRE(wintest::WriteFile(folder + u"\\" + name, {0x11, 0x22}));
    int32_t result = 0;
    const DWORD started = ::GetTickCount();
    CHECK_EQ(SendUpgrade(module, 198, folder, result), int32_t{0});
    std::printf("  answered %d after %lu ms\n", static_cast<int>(result),
                static_cast<unsigned long>(::GetTickCount() - started));
    // Past the package check, the port that is not there ends the run.
    CHECK_EQ(result, int32_t{-13314});
    const std::vector<Trace> traces = ReceivedTraces();
    CHECK(HasTrace(traces, u"Check cefs.mbn file"));
    CHECK(HasTrace(traces, u"userdata.img file is not Exist !!"));
    CHECK(!HasTrace(traces, u"cefs.mbn file is not Exist !!"));
    CHECK(HasTrace(traces, u"Current Port is 198......."));
    CHECK(HasTrace(traces, u"Function: CSerial::CreateFile fail"));
}

// FWUP_WINTEST_EXPECTED_RESULT names the result a card with a fault must
// give (default 0); the trace lines are written for the script to read.
TEST(Plugin_UpgradesTheVirtualCardThroughMessage1025) {
    const char* port = std::getenv("FWUP_WINTEST_CARD_COM");
    const char* package = std::getenv("FWUP_WINTEST_PACKAGE");
    if (port == nullptr || package == nullptr) SKIP("FWUP_WINTEST_CARD_COM and FWUP_WINTEST_PACKAGE name no virtual card");
    const char* expectedText = std::getenv("FWUP_WINTEST_EXPECTED_RESULT");
    const int32_t expected = expectedText == nullptr ? 0 : std::atoi(expectedText);
    CHolModuleInterface* module = Module();
    REQUIRE(module != nullptr);
    ResetManager();
    int32_t result = 0;
    const DWORD started = ::GetTickCount();
    CHECK_EQ(SendUpgrade(module, std::atoi(port), wintest::Wide(package), result), int32_t{0});
    std::printf("  upgrade answered %d after %lu ms\n", static_cast<int>(result),
                static_cast<unsigned long>(::GetTickCount() - started));
    CHECK_EQ(result, expected);

    bool framed = false;
    const std::vector<int32_t> percentages = ReceivedPercentages(framed);
    REQUIRE(!percentages.empty());
    CHECK(framed);
    if (expected == 0) CHECK_EQ(percentages.back(), int32_t{100});
    for (int32_t percent : percentages) CHECK(percent >= 0 && percent <= 100);
    const std::vector<Trace> traces = ReceivedTraces();
    CHECK(traces.size() > 20);
    CHECK(HasTrace(traces, u"Current Port is " + wintest::Wide(port) + u"......."));
    // The run's trace lines, for reading after a failure.
    std::string lines;
    for (const Trace& trace : traces) {
        lines += wintest::Narrow(trace.function) + ": " + wintest::Narrow(trace.message) + "\n";
    }
    wintest::WriteFile(u"upgrade-traces.txt", std::vector<uint8_t>(lines.begin(), lines.end()));
}
