#include <gtest/gtest.h>

#include <filesystem>

#include "host/fwupgrade/package/PackageCheck.h"
#include "host/fwupgrade/run/PackageView.h"
#include "tests/support/TempFolder.h"

namespace fwupgrade {
namespace {

using test_support::TempFolder;
namespace fs = std::filesystem;

TEST(PackageView, EachCardGetsItsOwnFolderWithLinksToTheImages) {
    TempFolder package;
    for (const auto& file : PackageFiles()) package.Fill(file.name, 8);
    std::filesystem::remove(package / "splash.img");
    package.Fill("channel.nvm", 16);   // a backup of an earlier run is not shared
    TempFolder work;

    CardFolder first, second;
    std::string error;
    ASSERT_TRUE(MakeCardFolder(work.path(), 0, package.path(), first, error)) << error;
    ASSERT_TRUE(MakeCardFolder(work.path(), 1, package.path(), second, error)) << error;
    EXPECT_NE(first.folder, second.folder);
    EXPECT_EQ(first.package, first.folder + "/package");
    EXPECT_TRUE(fs::is_symlink(first.package + "/system.img"));
    EXPECT_EQ(fs::read_symlink(first.package + "/system.img"), fs::path(package / "system.img"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(first.package + "/splash.img")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(first.package + "/channel.nvm")));
    EXPECT_TRUE(CheckPackage(second.package).Accepted());
}

TEST(PackageView, RefreshingAFolderFollowsThePackage) {
    TempFolder package;
    for (const auto& file : PackageFiles()) package.Fill(file.name, 8);
    TempFolder work;
    CardFolder card;
    std::string error;
    ASSERT_TRUE(MakeCardFolder(work.path(), 0, package.path(), card, error));
    fs::remove(package / "userdata.img");
    ASSERT_TRUE(MakeCardFolder(work.path(), 0, package.path(), card, error));
    EXPECT_FALSE(fs::exists(fs::symlink_status(card.package + "/userdata.img")));
}

TEST(PackageView, AFileInPlaceOfALinkIsNotOverwritten) {
    TempFolder package;
    for (const auto& file : PackageFiles()) package.Fill(file.name, 8);
    TempFolder work;
    fs::create_directories(work / "card0/package");
    work.Fill("card0/package/boot.img", 3);
    CardFolder card;
    std::string error;
    EXPECT_FALSE(MakeCardFolder(work.path(), 0, package.path(), card, error));
    EXPECT_NE(error.find("boot.img"), std::string::npos);
    EXPECT_EQ(fs::file_size(work / "card0/package/boot.img"), 3u);
}

TEST(PackageView, PathsOfOneDeviceShareOneKey) {
    TempFolder folder;
    folder.Fill("ttyUSB0", 0);
    fs::create_symlink(folder / "ttyUSB0", folder / "by-id");
    EXPECT_EQ(SameDeviceKey(folder / "by-id"), SameDeviceKey(folder / "ttyUSB0"));
    EXPECT_NE(SameDeviceKey(folder / "ttyUSB1"), SameDeviceKey(folder / "ttyUSB0"));
    EXPECT_EQ(SameDeviceKey("/nonexistent/x"), "/nonexistent/x");
}

}  // namespace
}  // namespace fwupgrade
