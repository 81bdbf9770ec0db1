#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tests/support/TempFolder.h"
#include "host/fwupgrade/package/PackageCheck.h"
#include "host/fwupgrade/package/PackageDigest.h"

namespace fwupgrade {
namespace {

using test_support::TempFolder;

TEST(PackageDigest, ChangesWithAnyByteAndRefusesAFileThatIsNotRegular) {
    TempFolder temp;
    std::filesystem::create_directories(temp / "package");
    for (const auto& file : PackageFiles()) temp.Fill("package/" + std::string(file.name), 16);
    const std::string first = PackageDigest(temp / "package");
    EXPECT_EQ(first.rfind("sha256:", 0), 0u);
    EXPECT_EQ(first.size(), 7u + 64u);
    EXPECT_EQ(PackageDigest(temp / "package"), first);
    temp.Fill("package/boot.img", 16, 'y');
    EXPECT_NE(PackageDigest(temp / "package"), first);
    // A missing optional image is no error; a FIFO is never read.
    std::filesystem::remove(temp / "package/splash.img");
    EXPECT_FALSE(PackageDigest(temp / "package").empty());
    ASSERT_EQ(::mkfifo((temp / "package/splash.img").c_str(), 0644), 0);
    EXPECT_EQ(PackageDigest(temp / "package"), "");
}

}  // namespace
}  // namespace fwupgrade
