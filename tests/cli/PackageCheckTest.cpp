#include <gtest/gtest.h>

#include <algorithm>

#include "host/fwupgrade/package/PackageCheck.h"
#include "tests/support/TempFolder.h"

namespace fwupgrade {
namespace {

using test_support::TempFolder;

void WriteFullPackage(const TempFolder& folder) {
    for (const auto& file : PackageFiles()) folder.Fill(file.name, 64);
}

const PackageProblem* ProblemFor(const PackageReport& report, const std::string& file) {
    auto it = std::find_if(report.problems.begin(), report.problems.end(),
                           [&](const PackageProblem& p) { return p.file == file; });
    return it == report.problems.end() ? nullptr : &*it;
}

TEST(PackageCheck, AcceptsACompletePackage) {
    TempFolder folder;
    WriteFullPackage(folder);
    const PackageReport report = CheckPackage(folder.path());
    EXPECT_TRUE(report.Accepted());
    EXPECT_TRUE(report.problems.empty());
    EXPECT_TRUE(report.hasUserdata);
    EXPECT_TRUE(report.hasSplash);
    EXPECT_EQ(report.totalBytes, 64u * 16u);
}

TEST(PackageCheck, ListsEveryMissingOrShortRequiredFile) {
    TempFolder folder;
    WriteFullPackage(folder);
    std::filesystem::remove(folder / "partition_vek.mbn");
    folder.Fill("cefs.mbn", 1);
    folder.Fill("system.img", 0);
    const PackageReport report = CheckPackage(folder.path());
    EXPECT_FALSE(report.Accepted());
    ASSERT_NE(ProblemFor(report, "partition_vek.mbn"), nullptr);
    EXPECT_EQ(ProblemFor(report, "partition_vek.mbn")->text, "missing");
    ASSERT_NE(ProblemFor(report, "cefs.mbn"), nullptr);
    EXPECT_NE(ProblemFor(report, "cefs.mbn")->text.find("1 byte"), std::string::npos);
    ASSERT_NE(ProblemFor(report, "system.img"), nullptr);
    EXPECT_EQ(report.problems.size(), 3u);
}

TEST(PackageCheck, OptionalImagesAreNotedButAccepted) {
    TempFolder folder;
    WriteFullPackage(folder);
    std::filesystem::remove(folder / "userdata.img");
    std::filesystem::remove(folder / "splash.img");
    const PackageReport report = CheckPackage(folder.path());
    EXPECT_TRUE(report.Accepted());
    EXPECT_FALSE(report.hasUserdata);
    EXPECT_FALSE(report.hasSplash);
    ASSERT_NE(ProblemFor(report, "userdata.img"), nullptr);
    EXPECT_FALSE(ProblemFor(report, "userdata.img")->fatal);
}

TEST(PackageCheck, HeadersAndThePartitionTableFitOnePayload) {
    TempFolder folder;
    WriteFullPackage(folder);
    folder.Fill("partition.mbn", 1024);
    folder.Fill("amsshd.mbn", 1025);
    folder.Fill("qcsblhd_cfgdata.mbn", 5000);   // streamed in chunks: no limit
    const PackageReport report = CheckPackage(folder.path());
    EXPECT_FALSE(report.Accepted());
    EXPECT_EQ(ProblemFor(report, "partition.mbn"), nullptr);
    ASSERT_NE(ProblemFor(report, "amsshd.mbn"), nullptr);
    EXPECT_NE(ProblemFor(report, "amsshd.mbn")->text.find("1024"), std::string::npos);
    EXPECT_EQ(ProblemFor(report, "qcsblhd_cfgdata.mbn"), nullptr);
}

TEST(PackageCheck, ImagesOf2GiBAreRefused) {
    TempFolder folder;
    WriteFullPackage(folder);
    // A sparse file: the size counts, not the blocks.
    std::filesystem::resize_file(folder / "system.img", kImageLimit);
    std::filesystem::resize_file(folder / "boot.img", kImageLimit - 1);
    const PackageReport report = CheckPackage(folder.path());
    ASSERT_NE(ProblemFor(report, "system.img"), nullptr);
    EXPECT_NE(ProblemFor(report, "system.img")->text.find("2 GiB"), std::string::npos);
    EXPECT_EQ(ProblemFor(report, "boot.img"), nullptr);
}

TEST(PackageCheck, FolderProblems) {
    EXPECT_FALSE(CheckPackage("/nonexistent/package").Accepted());
    EXPECT_FALSE(CheckPackage("").Accepted());
    TempFolder folder;
    std::string deep = folder.path();
    while (deep.size() < 250) deep += "/abcdefghij";
    std::filesystem::create_directories(deep);
    for (const auto& file : PackageFiles()) {
        std::ofstream(deep + "/" + file.name) << "0123";
    }
    const PackageReport report = CheckPackage(deep);
    EXPECT_FALSE(report.Accepted());
    ASSERT_NE(ProblemFor(report, ""), nullptr);
    EXPECT_NE(ProblemFor(report, "")->text.find("too long"), std::string::npos);
}

}  // namespace
}  // namespace fwupgrade
