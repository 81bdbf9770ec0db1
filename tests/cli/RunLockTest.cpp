#include <gtest/gtest.h>

#include <filesystem>

#include "host/fwupgrade/RunLock.h"
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

}  // namespace
}  // namespace fwupgrade
