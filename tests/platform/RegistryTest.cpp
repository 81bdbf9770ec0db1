#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/Platform.h"
#include "tests/support/TempFolder.h"

using test_support::TempFolder;

namespace {

namespace fs = std::filesystem;

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("FWUPGRADE_REGISTRY_ROOT", root_.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("FWUPGRADE_REGISTRY_ROOT"); }

    std::string FileBytes(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    TempFolder root_;
};

TEST_F(RegistryTest, KeysAreFoldersAndValuesAreFilesWithExactBytes) {
    platform::RegistryKey base = platform::RegCreateKey(nullptr, u"Software\\vek\\vek Quillane");
    ASSERT_NE(base, nullptr);
    platform::RegistryKey key = platform::RegCreateKey(base, u"268\\80");
    ASSERT_NE(key, nullptr);
    const std::u16string text = u"0.0.1.0";
    ASSERT_TRUE(platform::RegSetString(key, u"Version", text.data(), 14));

    const fs::path valueFile = fs::path(root_.path()) / "Software" / "vek" / "vek Quillane" / "268" / "80" / "Version";
    EXPECT_EQ(FileBytes(valueFile), std::string("0\0.\0" "0\0.\0" "1\0.\0" "0\0", 14));

    uint32_t size = 0;
    ASSERT_TRUE(platform::RegQueryValueSize(key, u"Version", size));
    EXPECT_EQ(size, 14u);
    char16_t buffer[16] = {};
    uint32_t bytes = 6;   // reads at most what is asked for
    ASSERT_TRUE(platform::RegQueryString(key, u"Version", buffer, bytes));
    EXPECT_EQ(bytes, 6u);
    EXPECT_EQ(std::u16string(buffer), u"0.0");
    EXPECT_FALSE(platform::RegQueryValueSize(key, u"Path", size));
    platform::RegCloseKey(key);
    platform::RegCloseKey(base);
}

TEST_F(RegistryTest, OpenEnumerateAndDelete) {
    platform::RegistryKey base = platform::RegCreateKey(nullptr, u"Software\\vek\\vek Quillane");
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(platform::RegOpenKey(base, u"300"), nullptr);
    platform::RegCloseKey(platform::RegCreateKey(base, u"300\\1"));
    platform::RegCloseKey(platform::RegCreateKey(base, u"256\\1"));

    std::u16string name;
    ASSERT_TRUE(platform::RegEnumKey(base, 0, name));
    EXPECT_EQ(name, u"256");
    ASSERT_TRUE(platform::RegEnumKey(base, 1, name));
    EXPECT_EQ(name, u"300");
    EXPECT_FALSE(platform::RegEnumKey(base, 2, name));

    // A key with subkeys is not deleted; one with only values is.
    EXPECT_FALSE(platform::RegDeleteKey(base, u"300"));
    platform::RegistryKey instance = platform::RegOpenKey(base, u"300\\1");
    ASSERT_NE(instance, nullptr);
    ASSERT_TRUE(platform::RegSetString(instance, u"Path", u"x", 2));
    platform::RegCloseKey(instance);
    EXPECT_TRUE(platform::RegDeleteKey(base, u"300\\1"));
    EXPECT_TRUE(platform::RegDeleteKey(base, u"300"));
    EXPECT_EQ(platform::RegOpenKey(base, u"300"), nullptr);
    platform::RegCloseKey(base);
}

TEST_F(RegistryTest, NamesCannotLeaveTheTree) {
    platform::RegistryKey base = platform::RegCreateKey(nullptr, u"Software");
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(platform::RegCreateKey(base, u"..\\escape"), nullptr);
    EXPECT_EQ(platform::RegCreateKey(base, u"a/b"), nullptr);
    EXPECT_FALSE(platform::RegSetString(base, u"../value", u"x", 2));
    EXPECT_FALSE(fs::exists(fs::path(root_.path()).parent_path() / "escape"));
    platform::RegCloseKey(base);
}

TEST(RegistryRoot, FallsBackToXdgConfigHome) {
    TempFolder config;
    ::unsetenv("FWUPGRADE_REGISTRY_ROOT");
    const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = savedXdg != nullptr ? savedXdg : "";
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    platform::RegistryKey key = platform::RegCreateKey(nullptr, u"Software\\vek");
    EXPECT_NE(key, nullptr);
    platform::RegCloseKey(key);
    EXPECT_TRUE(fs::is_directory(fs::path(config.path()) / "Software" / "vek"));
    if (savedXdg != nullptr) {
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

}  // namespace
