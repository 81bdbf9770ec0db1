#include <gtest/gtest.h>

#include <filesystem>

#include "host/fwupgrade/run/RunLock.h"
#include "host/fwupgrade/run/RunPlace.h"
#include "tests/support/TempFolder.h"

namespace fwupgrade {
namespace {

using test_support::TempFolder;

TEST(RunLock, ASecondRunInTheSameFolderIsRefusedUntilTheFirstEnds) {
    TempFolder run, package, other;
    std::string error;
    {
        RunLock first;
        ASSERT_TRUE(first.Acquire({package.path(), run.path()}, error)) << error;
        RunLock second;
        EXPECT_FALSE(second.Acquire({other.path(), run.path()}, error));
        EXPECT_NE(error.find(std::filesystem::canonical(run.path()).string()), std::string::npos) << error;
        RunLock third;
        EXPECT_TRUE(third.Acquire({other.path()}, error)) << "other folders stay free";
    }
    RunLock again;
    EXPECT_TRUE(again.Acquire({package.path(), run.path()}, error)) << error;
}

TEST(RunLock, OneFolderNamedTwiceIsHeldOnce) {
    TempFolder folder;
    std::filesystem::create_symlink(folder.path(), folder / "link");
    RunLock lock;
    std::string error;
    EXPECT_TRUE(lock.Acquire({folder.path(), folder / "link"}, error)) << error;
}

TEST(RunLock, AFolderWithoutALockFileIsNotHeld) {
    RunLock lock;
    std::string error;
    EXPECT_TRUE(lock.Acquire({"/nonexistent/folder"}, error));
}

TEST(RunLock, AFolderIsHeldBusyOrUnwritable) {
    TempFolder temp;
    RunLock first;
    EXPECT_EQ(first.Hold(temp.path()), FolderHold::Held);
    EXPECT_EQ(first.Hold(temp.path() + "/."), FolderHold::Held);
    RunLock second;
    EXPECT_EQ(second.Hold(temp.path()), FolderHold::Busy);
    EXPECT_EQ(second.Hold(temp / "missing"), FolderHold::Unwritable);
    std::string error;
    EXPECT_FALSE(second.Acquire({temp.path()}, error));
    EXPECT_NE(error.find("another fwupgrade run is using " + temp.path()), std::string::npos) << error;
}

TEST(PlaceRun, ARunThatMayMoveTakesItsOwnFolderAndSaysWhyOneThatMayNotIsRefused) {
    TempFolder package, current;
    RunLock other;
    std::string error;
    ASSERT_TRUE(other.Acquire({package.path()}, error)) << error;

    RunLock lone;
    Placement placement;
    ASSERT_TRUE(PlaceRun(lone, true, package.path(), current.path(), placement, error));
    EXPECT_TRUE(placement.ownFolder);
    EXPECT_EQ(placement.why, "another fwupgrade run is using " + package.path());

    RunLock missing;
    Placement unwritable;
    ASSERT_TRUE(PlaceRun(missing, true, package / "gone", current / "gone", unwritable, error));
    EXPECT_EQ(unwritable.why,
              "the package folder " + package / "gone" + " cannot be written: the folder does not exist");

    RunLock worker;
    Placement fixed;
    EXPECT_FALSE(PlaceRun(worker, false, package.path(), current.path(), fixed, error));
    EXPECT_FALSE(fixed.ownFolder);
    EXPECT_NE(error.find("another fwupgrade run is using"), std::string::npos) << error;
}

TEST(PlaceRun, ARunThatHoldsBothFoldersWorksInPlace) {
    TempFolder package, current;
    RunLock lock;
    Placement placement;
    std::string error;
    ASSERT_TRUE(PlaceRun(lock, true, package.path(), current.path(), placement, error));
    EXPECT_FALSE(placement.ownFolder);
    EXPECT_EQ(placement.why, "");
    RunLock second;
    EXPECT_EQ(second.Hold(current.path()), FolderHold::Busy);
}

}  // namespace
}  // namespace fwupgrade
