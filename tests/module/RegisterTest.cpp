#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "host/kit/HostKit.h"
#include "module/ModuleManagerAgent.h"
#include "module/Register.h"

namespace {

namespace fs = std::filesystem;
using module::CWin32Register;
using module::DualString;

std::string ValueBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Utf16Bytes(const std::u16string& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

class RegisterTest : public ::testing::Test {
protected:
    fs::path Base() const { return fs::path(hostkit::HostSession::RegistryRoot()) / "Software" / "vek" / "vek Quillane"; }
    void WritePath(int32_t id, int32_t instance, const std::u16string& path) {
        platform::RegistryKey key =
            platform::RegCreateKey(nullptr, std::u16string(module::kHostBaseKey) + u"\\" + module::KeyName(id) +
                                                u"\\" + module::KeyName(instance));
        ASSERT_NE(key, nullptr);
        ASSERT_TRUE(platform::RegSetString(key, u"Path", path.data(), static_cast<uint32_t>(path.size() * 2)));
        platform::RegCloseKey(key);
    }

    hostkit::HostSession host_;   // private register root
    CWin32Register register_;
};

TEST_F(RegisterTest, RegisterAndUnregister268Instance80) {
    ASSERT_TRUE(register_.BaseKeyOpen());
    register_.SetModuleInstance(nullptr);   // the program itself
    ASSERT_EQ(register_.RegisterModuleEntry(268, 80, DualString(u"CDMADataCardW326 FWUpgrade Module"),
                                            module::ModuleVersion{0, 0, 1, 0}),
              0);
    const fs::path key = Base() / "268" / "80";
    EXPECT_EQ(ValueBytes(key / "Description"), Utf16Bytes(u"CDMADataCardW326 FWUpgrade Module"));
    EXPECT_EQ(ValueBytes(key / "Version"), Utf16Bytes(u"0.0.1.0"));
    EXPECT_EQ(ValueBytes(key / "Path"), Utf16Bytes(platform::GetModuleFileName(nullptr)));

    // A second instance keeps the identifier key when the first goes.
    ASSERT_EQ(register_.RegisterModuleEntry(268, 81, DualString(), module::ModuleVersion{}), 0);
    EXPECT_EQ(ValueBytes(Base() / "268" / "81" / "Description"), "");
    EXPECT_EQ(register_.UnregisterModuleEntry(268, 80), 0);
    EXPECT_FALSE(fs::exists(key));
    EXPECT_TRUE(fs::exists(Base() / "268"));
    EXPECT_EQ(register_.UnregisterModuleAlias(268, 81), 0);
    EXPECT_FALSE(fs::exists(Base() / "268"));
}

TEST_F(RegisterTest, PathOfExactly256UnitsIsReadAnd257IsRefused) {
    const std::u16string path256(256, u'p');
    WritePath(300, 1, path256);
    DualString read;
    EXPECT_EQ(register_.ReadModulePath(300, 1, &read), 0);
    EXPECT_EQ(read.Text(), path256);
    WritePath(300, 2, path256 + u"q");
    EXPECT_EQ(register_.ReadModulePathAlias(300, 2, &read), module::kPathTooLong);
    EXPECT_EQ(register_.ReadModulePath(300, 1, nullptr), module::kNullArgument);
    EXPECT_EQ(register_.ReadModulePath(300, 9, &read), module::kKeyFailed);
    ASSERT_EQ(register_.CreateModuleKey(301), 0);
    ASSERT_EQ(register_.RegisterModulePath(301, 1), 0);
    EXPECT_EQ(register_.ReadModulePath(301, 1, &read), 0);
    platform::RegistryKey key = platform::RegOpenKey(nullptr, std::u16string(module::kHostBaseKey) + u"\\302");
    EXPECT_EQ(key, nullptr);
    ASSERT_EQ(register_.RegisterModulePathAlias(302, 1), 0);
    fs::remove(Base() / "302" / "1" / "Path");
    EXPECT_EQ(register_.ReadModulePath(302, 1, &read), module::kPathMissing);
}

TEST_F(RegisterTest, LoadingLibrariesByIdentityAndByIndex) {
    platform::LibraryHandle library = nullptr;
    WritePath(256, 1, platform::Utf8ToWide(hostkit::DefaultManagerPath()));
    EXPECT_EQ(register_.LoadModuleLibrary(256, 1, &library), 0);
    EXPECT_NE(platform::GetProcAddress(library, "HostManagerAttach"), nullptr);

    WritePath(257, 1, u"/no/such/library.so");
    EXPECT_EQ(register_.LoadModuleLibraryAlias(257, 1, &library), module::kLibraryNotLoaded);
    WritePath(258, 1, u"");
    EXPECT_EQ(register_.LoadModuleLibrary(258, 1, &library), module::kLibraryNotLoaded);
    EXPECT_EQ(register_.LoadModuleLibrary(256, 1, nullptr), module::kNullArgument);

    library = nullptr;
    EXPECT_EQ(register_.LoadModuleByIndex(0, 0, &library), 0);   // "256" sorts first
    EXPECT_NE(library, nullptr);
    EXPECT_EQ(register_.LoadModuleByIndex(1, 0, &library), module::kLibraryNotLoaded);
    EXPECT_EQ(register_.LoadModuleByIndex(0, 1, &library), module::kNoSuchSubkey);
    EXPECT_EQ(register_.LoadModuleByIndex(9, 0, &library), module::kNoSuchSubkey);
}

TEST(RegisterWithoutBaseKey, AnswersNotOpen) {
    // A root below a regular file can never be created.
    const fs::path blocker = fs::temp_directory_path() / ("fwup-blocker-" + std::to_string(::getpid()));
    std::ofstream(blocker) << "x";
    const char* saved = std::getenv("FWUPGRADE_REGISTRY_ROOT");
    const std::string savedText = saved != nullptr ? saved : "";
    ::setenv("FWUPGRADE_REGISTRY_ROOT", (blocker / "root").c_str(), 1);
    {
        CWin32Register closed;
        EXPECT_FALSE(closed.BaseKeyOpen());
        DualString path;
        platform::LibraryHandle library = nullptr;
        EXPECT_EQ(closed.CreateModuleKey(268), module::kBaseKeyNotOpen);
        EXPECT_EQ(closed.RegisterModulePath(268, 80), module::kBaseKeyNotOpen);
        EXPECT_EQ(closed.DeleteModuleKey(268), module::kBaseKeyNotOpen);
        EXPECT_EQ(closed.ReadModulePath(268, 80, &path), module::kBaseKeyNotOpen);
        EXPECT_EQ(closed.LoadModuleByIndex(0, 0, &library), module::kBaseKeyNotOpen);
        EXPECT_EQ(closed.RegisterModuleEntry(268, 80, DualString(u"n"), module::ModuleVersion{}), module::kKeyFailed);
        EXPECT_EQ(closed.UnregisterModuleEntry(268, 80), module::kKeyFailed);
    }
    if (saved != nullptr) {
        ::setenv("FWUPGRADE_REGISTRY_ROOT", savedText.c_str(), 1);
    } else {
        ::unsetenv("FWUPGRADE_REGISTRY_ROOT");
    }
    fs::remove(blocker);
}

}  // namespace
