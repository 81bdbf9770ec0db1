// A package's SHA256SUMS: the list's own format, and a package refused when
// its files and the list part ways.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/support/TempFolder.h"
#include "host/fwupgrade/package/PackageCheck.h"
#include "host/fwupgrade/package/PackageSums.h"

namespace fwupgrade {
namespace {

using test_support::TempFolder;

const std::string kDigestA(64, 'a');
const std::string kDigestB = std::string(63, '0') + "F";

TEST(PackageSums, ReadsWhatSha256sumWritesAndRefusesTheRest) {
    std::vector<SumsEntry> entries;
    std::string error;
    ASSERT_TRUE(ParseSums(kDigestA + "  system.img\n" + kDigestB + " *boot.img\r\n", entries, error)) << error;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "system.img");
    EXPECT_EQ(entries[1].name, "boot.img");
    EXPECT_EQ(entries[1].sha256, std::string(63, '0') + "f") << "digests compare in lower case";
    std::vector<SumsEntry> again;
    ASSERT_TRUE(ParseSums(FormatSums(entries), again, error)) << error;
    EXPECT_EQ(FormatSums(again), FormatSums(entries));

    const std::pair<std::string, std::string> bad[] = {
        {"", "it lists no file"},
        {kDigestA.substr(1) + "  system.img\n", "line 1: expected 64 hex digits"},
        {kDigestA + " system.img\n", "line 1: expected \"  \" or \" *\""},
        {kDigestA + "  system.img\n" + kDigestA + "  ../system.img\n", "line 2: \"../system.img\" is not a file name"},
        {kDigestA + "  sub/boot.img\n", "is not a file name"},
        {kDigestA + "  ..\n", "is not a file name"},
        {kDigestA + "  boot.img\n" + kDigestB + "  boot.img\n", "line 2: boot.img is listed twice"},
        {kDigestA + "  boot.img\n\n", "line 2: expected 64 hex digits"},
        {std::string(64, 'g') + "  boot.img\n", "line 1: expected 64 hex digits"},
    };
    for (const auto& [text, why] : bad) {
        error.clear();
        EXPECT_FALSE(ParseSums(text, entries, error)) << text;
        EXPECT_NE(error.find(why), std::string::npos) << error << " for " << text;
    }
}

class PackageWithSums : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& file : PackageFiles()) folder_.Fill(file.name, 64, file.name[0]);
        std::string error;
        ASSERT_TRUE(WriteSums(folder_.path(), CheckPackage(folder_.path(), {.digestAll = true}).files, error)) << error;
    }
    // The reasons the package is refused for.
    std::vector<std::string> Problems() const {
        std::vector<std::string> texts;
        for (const auto& problem : CheckPackage(folder_.path()).problems)
            if (problem.fatal) texts.push_back(problem.text);
        return texts;
    }
    TempFolder folder_;
};

TEST_F(PackageWithSums, AMatchingPackageIsCheckedAndAccepted) {
    const PackageReport report = CheckPackage(folder_.path());
    EXPECT_TRUE(report.Accepted());
    EXPECT_TRUE(report.sumsChecked);
    ASSERT_EQ(report.files.size(), PackageFiles().size());
    EXPECT_EQ(report.files.front().size, 64u);
    EXPECT_EQ(report.files.front().sha256.size(), 64u);
}

TEST_F(PackageWithSums, AChangedByteAnUnlistedFileOrAListedFileGoneIsRefused) {
    {
        std::fstream image(folder_ / "system.img", std::ios::in | std::ios::out | std::ios::binary);
        image.seekp(40);
        image.put('!');
    }
    std::vector<std::string> problems = Problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].rfind("system.img does not match SHA256SUMS (listed ", 0), 0u) << problems[0];

    // The list rewritten without boot.img, and splash.img (optional) taken away.
    std::string error;
    PackageReport report = CheckPackage(folder_.path(), {.digestAll = true, .checkSums = false});
    std::vector<PackageFileDigest> files;
    for (const auto& file : report.files)
        if (file.name != "boot.img") files.push_back(file);
    ASSERT_TRUE(WriteSums(folder_.path(), files, error)) << error;
    std::filesystem::remove(folder_ / "splash.img");
    problems = Problems();
    EXPECT_NE(std::find(problems.begin(), problems.end(), "boot.img is not listed in SHA256SUMS"), problems.end());
    EXPECT_NE(std::find(problems.begin(), problems.end(), "splash.img is listed in SHA256SUMS but not in the package"),
              problems.end());

    // Notes the list may name beside the images do not matter.
    std::ofstream(folder_ / "SHA256SUMS", std::ios::app) << kDigestA << "  README.txt\n";
    EXPECT_EQ(Problems().size(), 2u);

    std::ofstream(folder_ / "SHA256SUMS", std::ios::trunc) << "not a list\n";
    problems = Problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].rfind("SHA256SUMS is not valid: line 1:", 0), 0u) << problems[0];
}

}  // namespace
}  // namespace fwupgrade
