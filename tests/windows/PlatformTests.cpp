// The Win32 backend of the platform layer, exercised against the real
// Windows API (Wine in the test run): code pages, registry, files, clock,
// libraries, resources and the COM port.
#include <cstdlib>
#include <thread>

#include "platform/win32/WinApi.h"
#include "tests/windows/Harness.h"
#include "tests/windows/WinTestSupport.h"

namespace {

using platform::RegistryKey;

// A key of our own below HKEY_CURRENT_USER, removed again by the test.
const std::u16string kTestRoot = u"Software\\fwupgrade-wintest";

}  // namespace

TEST(Text_Cp936RoundTripCountsUtf16Units) {
    platform::SetAnsiCodePage("CP936");
    CHECK_EQ(platform::AnsiCodePage(), std::string("CP936"));
    const std::string chinese = "\xD6\xD0\xCE\xC4";   // two characters, four bytes
    const std::u16string wide = platform::AnsiToWide(chinese);
    CHECK_EQ(wide, std::u16string(u"\u4E2D\u6587"));
    CHECK_EQ(platform::WideToAnsi(wide), chinese);
    // A character the code page lacks narrows to the default character.
    CHECK_EQ(platform::WideToAnsi(u"a\u0E01b"), std::string("a?b"));
    platform::SetAnsiCodePage("");
    CHECK_EQ(platform::AnsiCodePage(), "CP" + std::to_string(::GetACP()));
}

TEST(Text_Utf8KeepsSurrogatePairsAndReplacesBadBytes) {
    const std::u16string smiley = platform::Utf8ToWide("\xF0\x9F\x98\x80");
    REQUIRE_EQ(smiley.size(), size_t{2});
    CHECK_EQ(static_cast<int>(smiley[0]), 0xD83D);
    CHECK_EQ(static_cast<int>(smiley[1]), 0xDE00);
    CHECK_EQ(platform::WideToUtf8(smiley), std::string("\xF0\x9F\x98\x80"));
    const std::u16string bad = platform::Utf8ToWide("a\xFF" "b");
    CHECK_EQ(bad, std::u16string(u"a\uFFFDb"));
    CHECK(platform::AnsiToWide("").empty());
    CHECK(platform::WideToAnsi(u"").empty());
}

TEST(Registry_ValuesLandInTheCurrentUserHive) {
    RegistryKey key = platform::RegCreateKey(nullptr, kTestRoot + u"\\268\\80");
    REQUIRE(key != nullptr);
    const std::u16string path = u"C:\\dll\\FWUpgradeDataCDMAW326.dll";
    // Written without a terminator: the byte count is twice the units.
    CHECK(platform::RegSetString(key, u"Path", path.c_str(), static_cast<uint32_t>(path.size() * 2)));
    platform::RegCloseKey(key);

    // Read back with the native API from HKEY_CURRENT_USER.
    HKEY native = nullptr;
    const std::u16string full = kTestRoot + u"\\268\\80";
    REQUIRE(::RegOpenKeyExW(HKEY_CURRENT_USER, platform::win32::Wide(full), 0, KEY_READ, &native) == ERROR_SUCCESS);
    wchar_t buffer[64] = {};
    DWORD type = 0;
    DWORD bytes = sizeof buffer;
    CHECK(::RegQueryValueExW(native, L"Path", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) == ERROR_SUCCESS);
    ::RegCloseKey(native);
    CHECK_EQ(type, static_cast<DWORD>(REG_SZ));
    CHECK_EQ(bytes, static_cast<DWORD>(path.size() * 2));
    CHECK_EQ(platform::win32::FromWide(buffer, bytes / 2), path);

    key = platform::RegOpenKey(nullptr, full);
    REQUIRE(key != nullptr);
    uint32_t size = 0;
    CHECK(platform::RegQueryValueSize(key, u"Path", size));
    CHECK_EQ(size, static_cast<uint32_t>(path.size() * 2));
    CHECK(!platform::RegQueryValueSize(key, u"Missing", size));
    // Exactly the bytes given: with a terminator when the caller counts it, none for empty text.
    CHECK(platform::RegSetString(key, u"Terminated", u"ab", 6));
    CHECK(platform::RegQueryValueSize(key, u"Terminated", size));
    CHECK_EQ(size, uint32_t{6});
    CHECK(platform::RegSetString(key, u"Description", u"", 0));
    CHECK(platform::RegQueryValueSize(key, u"Description", size));
    CHECK_EQ(size, uint32_t{0});

    // A short buffer receives only what fits.
    char16_t part[4] = {};
    uint32_t partBytes = 6;
    CHECK(platform::RegQueryString(key, u"Path", part, partBytes));
    CHECK_EQ(partBytes, uint32_t{6});
    CHECK_EQ(std::u16string(part, 3), std::u16string(u"C:\\"));
    CHECK_EQ(static_cast<int>(part[3]), 0);
    platform::RegCloseKey(key);
}

TEST(Registry_EnumeratesAndDeletesOnlyLeafKeys) {
    RegistryKey root = platform::RegCreateKey(nullptr, kTestRoot);
    REQUIRE(root != nullptr);
    RegistryKey child = platform::RegCreateKey(root, u"268\\80");
    REQUIRE(child != nullptr);
    platform::RegCloseKey(child);

    std::u16string name;
    REQUIRE(platform::RegEnumKey(root, 0, name));
    CHECK_EQ(name, std::u16string(u"268"));
    CHECK(!platform::RegEnumKey(root, 1, name));

    // A key that still has subkeys stays.
    CHECK(!platform::RegDeleteKey(root, u"268"));
    CHECK(platform::RegDeleteKey(root, u"268\\80"));
    CHECK(platform::RegDeleteKey(root, u"268"));
    CHECK(!platform::RegEnumKey(root, 0, name));
    CHECK(platform::RegOpenKey(root, u"268") == nullptr);
    // An empty name never deletes the parent, not even a leaf one.
    CHECK(!platform::RegDeleteKey(root, u""));
    RegistryKey stillThere = platform::RegOpenKey(nullptr, kTestRoot);
    CHECK(stillThere != nullptr);
    platform::RegCloseKey(stillThere);
    platform::RegCloseKey(root);
    CHECK(platform::RegDeleteKey(nullptr, kTestRoot));
    CHECK(platform::RegOpenKey(nullptr, kTestRoot) == nullptr);
    CHECK(!platform::RegSetString(nullptr, u"Path", u"x", 2));
}

TEST(Files_ReadWriteSeekAndLength) {
    const std::u16string folder = wintest::FreshFolder(u"files");
    const std::u16string path = folder + u"\\data.bin";
    platform::File out;
    REQUIRE(out.CreateWrite(path));
    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7, 8};
    CHECK_EQ(out.Write(bytes, 8), uint32_t{8});
    CHECK(out.Flush());
    out.Close();
    CHECK(!out.IsOpen());

    platform::File in;
    REQUIRE(in.OpenRead(path));
    CHECK_EQ(in.Length(), uint64_t{8});
    CHECK(in.Seek(5));
    uint8_t tail[8] = {};
    CHECK_EQ(in.Read(tail, 8), uint32_t{3});
    CHECK_EQ(static_cast<int>(tail[0]), 6);
    CHECK_EQ(static_cast<int>(tail[2]), 8);

    // Moving hands over the handle; the moved-from file is closed.
    platform::File moved(std::move(in));
    CHECK(!in.IsOpen());
    CHECK(moved.IsOpen());
    CHECK(moved.Seek(0));
    uint8_t head = 0;
    CHECK_EQ(moved.Read(&head, 1), uint32_t{1});
    CHECK_EQ(static_cast<int>(head), 1);

    // Creating again truncates.
    platform::File again;
    moved.Close();
    REQUIRE(again.CreateWrite(path));
    again.Close();
    REQUIRE(again.OpenRead(path));
    CHECK_EQ(again.Length(), uint64_t{0});
    again.Close();
    CHECK(!again.OpenRead(folder + u"\\missing.bin"));
}

TEST(Files_ReadersDenyWritersButNotOtherReaders) {
    const std::u16string path = wintest::FreshFolder(u"share") + u"\\locked.bin";
    platform::File writer;
    REQUIRE(writer.CreateWrite(path));
    const uint8_t byte = 0x5A;
    REQUIRE_EQ(writer.Write(&byte, 1), uint32_t{1});
    writer.Close();

    platform::File reader;
    REQUIRE(reader.OpenRead(path));
    platform::File secondReader;
    CHECK(secondReader.OpenRead(path));
    platform::File blocked;
    CHECK(!blocked.CreateWrite(path));
    reader.Close();
    secondReader.Close();
    CHECK(blocked.CreateWrite(path));
}

TEST(Files_FoldersReplaceRemoveAndPaths) {
    const std::u16string folder = wintest::FreshFolder(u"folders");
    const std::u16string sub = folder + u"\\sub";
    CHECK(platform::CreateDirectory(sub));
    CHECK(!platform::CreateDirectory(sub));
    CHECK(platform::PathExists(sub));
    CHECK(!platform::PathExists(sub + u"\\nothing"));
    // Wildcards name no file, even where files would match them.
    CHECK(!platform::PathExists(folder + u"\\*"));
    CHECK(!platform::PathExists(folder + u"\\su?"));
    CHECK(!platform::PathExists(u""));

    const std::u16string source = sub + u"\\new.tmp";
    const std::u16string target = sub + u"\\channel.nvm";
    wintest::WriteFile(source, {9, 9, 9});
    wintest::WriteFile(target, {1});
    CHECK(platform::ReplaceFile(source, target));
    CHECK(!platform::PathExists(source));
    CHECK_EQ(wintest::ReadFile(target).size(), size_t{3});
    CHECK(platform::RemoveFile(target));
    CHECK(!platform::PathExists(target));
    CHECK(!platform::RemoveFile(target));

    CHECK_EQ(platform::RemoveFileSpec(u"C:\\host\\fwupgrade.exe"), std::u16string(u"C:\\host"));
    CHECK_EQ(platform::RemoveFileSpec(u"C:\\host/sub/file"), std::u16string(u"C:\\host/sub"));
    CHECK_EQ(platform::RemoveFileSpec(u"file"), std::u16string());
    CHECK_EQ(platform::PathSeparator(), u'\\');
    const std::u16string data = platform::UserDataFolder();
    CHECK(!data.empty());
    CHECK(platform::PathExists(data));
}

TEST(Clock_TicksFollowSleepAndCalendarIsLocal) {
    platform::Clock& clock = platform::RealClock();
    const uint32_t before = clock.TickCount();
    clock.Sleep(120);
    const uint32_t elapsed = clock.TickCount() - before;
    CHECK(elapsed >= 100);
    CHECK(elapsed < 5000);

    platform::LocalTime now;
    REQUIRE(clock.Now(now));
    SYSTEMTIME native{};
    ::GetLocalTime(&native);
    CHECK_EQ(now.year, static_cast<int>(native.wYear));
    CHECK(now.month >= 1 && now.month <= 12);
    CHECK(now.day >= 1 && now.day <= 31);

    uint32_t otherThread = 0;
    std::thread worker([&] { otherThread = platform::CurrentThreadId(); });
    worker.join();
    CHECK_EQ(platform::CurrentThreadId(), static_cast<uint32_t>(::GetCurrentThreadId()));
    CHECK(otherThread != platform::CurrentThreadId());
}

TEST(Libraries_LoadLookUpAndNameFiles) {
    const std::u16string exe = platform::GetModuleFileName(nullptr);
    REQUIRE(exe.size() > 4);
    CHECK_EQ(wintest::Lower(exe.substr(exe.size() - 4)), std::u16string(u".exe"));
    // Linked into the program, the platform code belongs to the program.
    CHECK(platform::OwnLibraryHandle() == static_cast<void*>(::GetModuleHandleW(nullptr)));

    platform::LibraryHandle kernel = platform::LoadLibrary(u"kernel32.dll");
    REQUIRE(kernel != nullptr);
    CHECK(platform::GetProcAddress(kernel, "GetTickCount") != nullptr);
    CHECK(platform::GetProcAddress(kernel, "NoSuchExportAnywhere") == nullptr);
    CHECK(platform::GetProcAddress(nullptr, "GetTickCount") == nullptr);
    CHECK(wintest::Lower(platform::GetModuleFileName(kernel)).find(u"kernel32.dll") != std::u16string::npos);
    CHECK(platform::LoadLibrary(u"C:\\no\\such\\library.dll") == nullptr);
    // An empty "Path" value loads nothing.
    CHECK(platform::LoadLibrary(u"") == nullptr);
}

TEST(Resources_FoundByTypeAndNumberInTheOwnModule) {
    // The test program carries a resource of its own (WinTests.rc).
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    REQUIRE(platform::LoadOwnResource(u"BIN", 102, data, size));
    REQUIRE_EQ(size, uint32_t{8});
    CHECK_EQ(std::string(reinterpret_cast<const char*>(data), 8), std::string("WINTEST\n"));
    CHECK(!platform::LoadOwnResource(u"BIN", 103, data, size));
    CHECK(!platform::LoadOwnResource(u"TXT", 102, data, size));
    // Registering has no effect where the resource section exists.
    static const uint8_t other[] = {1, 2};
    platform::RegisterEmbeddedResource(u"BIN", 103, other, 2);
    CHECK(!platform::LoadOwnResource(u"BIN", 103, data, size));
}

TEST(Serial_MissingPortDoesNotOpen) {
    platform::ComPortOpener& opener = platform::GetComPortOpener();
    CHECK(opener.Open(u"//./COM199", 199) == nullptr);
}

TEST(Serial_LoopbackLineCarriesBytesBothWays) {
    const char* number = std::getenv("FWUP_WINTEST_LOOPBACK_COM");
    if (number == nullptr || *number == '\0') SKIP("FWUP_WINTEST_LOOPBACK_COM names no loopback port");
    const int port = std::atoi(number);
    const std::u16string name = u"//./COM" + wintest::Wide(std::to_string(port));
    std::unique_ptr<platform::ComPort> com = platform::GetComPortOpener().Open(name, port);
    REQUIRE(com != nullptr);

    // The line is set through the device's DCB and a mode text.
    CHECK(com->SetLine({9600, 7, 'e', 2}));
    CHECK(com->SetLine({115200, 8, 'n', 1}));
    CHECK(com->SetupComm(4096, 4096));
    CHECK(com->SetCommMask(0x78));
    platform::PortTimeouts timeouts;
    timeouts.readTotalTimeoutConstant = 10;
    timeouts.writeTotalTimeoutMultiplier = 2;
    timeouts.writeTotalTimeoutConstant = 500;
    CHECK(com->SetCommTimeouts(timeouts));
    CHECK(com->PurgeComm(platform::kPurgeAll));

    // A read with nothing waiting returns after the read timeout, empty.
    uint8_t received[64] = {};
    CHECK_EQ(com->Read(received, sizeof received), uint32_t{0});

    const uint8_t frame[] = {0x7E, 0x0C, 0x14, 0x3A, 0x7E, 0x00, 0xFF};
    CHECK_EQ(com->Write(frame, sizeof frame), static_cast<uint32_t>(sizeof frame));
    uint32_t queued = 0;
    for (int i = 0; i < 200 && queued < sizeof frame; ++i) {
        ::Sleep(10);
        queued = com->QueuedInput();
    }
    CHECK_EQ(queued, static_cast<uint32_t>(sizeof frame));
    uint32_t got = 0;
    for (int i = 0; i < 100 && got < sizeof frame; ++i) got += com->Read(received + got, sizeof received - got);
    REQUIRE_EQ(got, static_cast<uint32_t>(sizeof frame));
    CHECK(std::equal(frame, frame + sizeof frame, received));
    CHECK_EQ(com->QueuedInput(), uint32_t{0});

    // Closing hands the line back: the same number opens again.
    com.reset();
    std::unique_ptr<platform::ComPort> reopened = platform::GetComPortOpener().Open(name, port);
    CHECK(reopened != nullptr);
}
