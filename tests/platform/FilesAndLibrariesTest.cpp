#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/Platform.h"
#include "tests/support/TempFolder.h"

using test_support::TempFolder;

namespace {

namespace fs = std::filesystem;
using platform::Utf8ToWide;

TEST(Folders, ListingCurrentFolderAndSync) {
    TempFolder folder;
    const std::u16string wide = Utf8ToWide(folder.path());
    EXPECT_TRUE(platform::ListFolder(wide).empty());
    fs::create_directory(fs::path(folder.path()) / "20261208T034000Z");
    std::ofstream(fs::path(folder.path()) / "name with blank") << "x";
    std::vector<std::u16string> names = platform::ListFolder(wide);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::u16string>{u"20261208T034000Z", u"name with blank"}));
    EXPECT_TRUE(platform::ListFolder(wide + u"/missing").empty());

    EXPECT_TRUE(platform::SyncFolder(wide));
    EXPECT_FALSE(platform::SyncFolder(wide + u"/missing"));

    const fs::path previous = fs::current_path();
    fs::current_path(folder.path());
    EXPECT_EQ(platform::CurrentFolder(), Utf8ToWide(fs::current_path().string()));
    fs::current_path(previous);

    platform::LocalTime utc;
    ASSERT_TRUE(platform::UtcNow(utc));
    EXPECT_GE(utc.year, 2024);
    EXPECT_TRUE(utc.month >= 1 && utc.month <= 12 && utc.day >= 1 && utc.day <= 31 && utc.hour < 24);
}

TEST(File, WriteSeekReadAndLength) {
    TempFolder folder;
    const std::u16string path = Utf8ToWide(folder.path()) + u"/data.bin";
    platform::File out;
    ASSERT_TRUE(out.CreateWrite(path));
    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(out.Write(bytes, sizeof bytes), sizeof bytes);
    EXPECT_TRUE(out.Flush());
    out.Close();
    EXPECT_FALSE(out.IsOpen());

    platform::File in;
    ASSERT_TRUE(in.OpenRead(path));
    EXPECT_EQ(in.Length(), 6u);
    ASSERT_TRUE(in.Seek(4));
    uint8_t back[8] = {};
    EXPECT_EQ(in.Read(back, 8), 2u);   // short read at the end
    EXPECT_EQ(back[0], 5);
    EXPECT_EQ(back[1], 6);

    platform::File moved(std::move(in));
    EXPECT_TRUE(moved.IsOpen());
    EXPECT_FALSE(in.IsOpen());   // NOLINT: moved-from state is defined

    // Creating truncates.
    ASSERT_TRUE(out.CreateWrite(path));
    out.Close();
    EXPECT_EQ(fs::file_size(folder.path() + "/data.bin"), 0u);
}

TEST(File, MissingFilesAndFoldersDoNotOpen) {
    TempFolder folder;
    platform::File file;
    EXPECT_FALSE(file.OpenRead(Utf8ToWide(folder.path()) + u"/missing"));
    EXPECT_FALSE(file.OpenRead(Utf8ToWide(folder.path())));   // a folder is not a file
    EXPECT_EQ(file.Read(nullptr, 0), 0u);
    EXPECT_EQ(file.Length(), 0u);
}

TEST(Paths, DirectoriesReplaceAndRemoveFileSpec) {
    TempFolder folder;
    const std::u16string base = Utf8ToWide(folder.path());
    EXPECT_TRUE(platform::CreateDirectory(base + u"/sub"));
    EXPECT_FALSE(platform::CreateDirectory(base + u"/sub"));   // exists already
    EXPECT_TRUE(platform::PathExists(base + u"/sub"));
    EXPECT_FALSE(platform::PathExists(base + u"/nothing"));

    platform::File file;
    ASSERT_TRUE(file.CreateWrite(base + u"/new"));
    const uint8_t mark = 7;
    ASSERT_EQ(file.Write(&mark, 1), 1u);
    file.Close();
    ASSERT_TRUE(file.CreateWrite(base + u"/old"));
    file.Close();
    EXPECT_TRUE(platform::ReplaceFile(base + u"/new", base + u"/old"));
    EXPECT_FALSE(platform::PathExists(base + u"/new"));
    EXPECT_EQ(fs::file_size(folder.path() + "/old"), 1u);
    EXPECT_TRUE(platform::RemoveFile(base + u"/old"));
    EXPECT_FALSE(platform::RemoveFile(base + u"/old"));

    EXPECT_EQ(platform::RemoveFileSpec(u"/opt/host/app"), u"/opt/host");
    EXPECT_EQ(platform::RemoveFileSpec(u"/app"), u"/");
    EXPECT_EQ(platform::RemoveFileSpec(u"app"), u"");
    EXPECT_EQ(platform::PathSeparator(), u'/');
}

TEST(Paths, UserDataFolderExists) {
    TempFolder folder;
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string savedText = saved != nullptr ? saved : "";
    ::setenv("XDG_DATA_HOME", folder.path().c_str(), 1);
    const std::u16string data = platform::UserDataFolder();
    EXPECT_EQ(data, Utf8ToWide(folder.path()) + u"/fwupgrade");
    EXPECT_TRUE(fs::is_directory(folder.path() + "/fwupgrade"));
    if (saved != nullptr) {
        ::setenv("XDG_DATA_HOME", savedText.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}

TEST(Libraries, LoadLookUpAndName) {
    platform::LibraryHandle libc = platform::LoadLibrary(u"libc.so.6");
    ASSERT_NE(libc, nullptr);
    EXPECT_NE(platform::GetProcAddress(libc, "strlen"), nullptr);
    EXPECT_EQ(platform::GetProcAddress(libc, "no_such_function_here"), nullptr);
    EXPECT_NE(platform::GetModuleFileName(libc).find(u"libc"), std::u16string::npos);
    EXPECT_EQ(platform::LoadLibrary(u""), nullptr);
    EXPECT_EQ(platform::LoadLibrary(u"/no/such/library.so"), nullptr);

    // The host executable's name comes from /proc/self/exe; code linked into
    // the program reports the program itself as its library.
    const std::u16string exe = platform::GetModuleFileName(nullptr);
    EXPECT_NE(exe.find(u"platform_tests"), std::u16string::npos);
    EXPECT_NE(platform::OwnLibraryHandle(), nullptr);
    EXPECT_EQ(platform::GetModuleFileName(platform::OwnLibraryHandle()), exe);
}

TEST(Resources, EmbeddedTableFindsRegisteredBytes) {
    static const uint8_t image[] = {0xAA, 0xBB, 0xCC};
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    EXPECT_FALSE(platform::LoadOwnResource(u"TEST", 9, data, size));
    platform::RegisterEmbeddedResource(u"TEST", 9, image, sizeof image);
    ASSERT_TRUE(platform::LoadOwnResource(u"TEST", 9, data, size));
    EXPECT_EQ(data, image);
    EXPECT_EQ(size, 3u);
    EXPECT_FALSE(platform::LoadOwnResource(u"TEST", 10, data, size));
    EXPECT_FALSE(platform::LoadOwnResource(u"OTHER", 9, data, size));
}

TEST(ThreadId, DiffersBetweenThreads) {
    const uint32_t mine = platform::CurrentThreadId();
    uint32_t other = mine;
    std::thread([&] { other = platform::CurrentThreadId(); }).join();
    EXPECT_NE(mine, 0u);
    EXPECT_NE(other, mine);
}

}  // namespace
