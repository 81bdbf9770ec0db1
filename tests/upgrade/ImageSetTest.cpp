#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "PackageFiles.h"
#include "tests/support/TempFolder.h"
#include "TraceCapture.h"
#include "platform/Platform.h"
#include "upgrade/run/UpgradeModule.h"

using namespace upgrade;
using namespace upgrade_test;
using test_support::TempFolder;

namespace {

std::u16string Joined(const TempFolder& folder, const char* name) {
    return folder.Wide() + platform::PathSeparator() + platform::Utf8ToWide(name);
}

}  // namespace

TEST(Initialize, CompletePackageFormsEveryPathAndSetsTheFlags) {
    TempFolder folder;
    WriteSmallPackage(folder);
    TraceCapture trace;
    UpgradeModule module;
    ASSERT_TRUE(module.Images().Initialize(folder.Wide()));
    const DownloadFileList& list = module.Images().DownloadFiles();
    EXPECT_EQ(list.strPartitionFilePath, Joined(folder, "partition.mbn"));
    EXPECT_EQ(list.strQcsblhdCfgdataFilePath, Joined(folder, "qcsblhd_cfgdata.mbn"));
    EXPECT_EQ(list.strVendorPartitionFilePath, Joined(folder, "partition_vek.mbn"));
    EXPECT_EQ(list.strCefsFilePath, Joined(folder, "cefs.mbn"));
    EXPECT_EQ(list.strNvBakFilePath, Joined(folder, "NV_Bak.NVM"));
    EXPECT_EQ(module.Data().channelNvPath, Joined(folder, "channel.nvm"));
    EXPECT_TRUE(module.Images().HasUserdata());
    EXPECT_TRUE(module.Images().HasSplash());
    EXPECT_TRUE(module.Images().HasVendorPartition());

    const std::vector<std::string> messages = trace.Messages();
    ASSERT_GE(messages.size(), 19u);
    EXPECT_EQ(messages[0], "60X5 Initialize the file !!");
    EXPECT_EQ(messages[1], "Release the recource armprg.bin !!");
    EXPECT_EQ(messages[3], "Check partition.mbn file");
    EXPECT_EQ(messages.back(), "Check cefs.mbn file");
    EXPECT_EQ(trace.lines()[0].function, "CFWUpgradeDataCDMA7627Module::Initialize");
}

TEST(Initialize, OptionalImagesMayBeMissing) {
    TempFolder complete;
    WriteSmallPackage(complete);
    TempFolder folder;
    WriteSmallPackage(folder, false);
    UpgradeModule module;
    ASSERT_TRUE(module.Images().Initialize(complete.Wide()));
    ASSERT_TRUE(module.Images().HasUserdata() && module.Images().HasSplash());
    TraceCapture trace;
    ASSERT_TRUE(module.Images().Initialize(folder.Wide()));
    EXPECT_FALSE(module.Images().HasUserdata());
    EXPECT_FALSE(module.Images().HasSplash());
    EXPECT_TRUE(trace.Contains("userdata.img file is not Exist !!"));
    EXPECT_TRUE(trace.Contains("splash.img file is not Exist !!"));
    EXPECT_TRUE(trace.Contains("NULL==pfile !!"));
}

TEST(Initialize, StopsAtTheFirstMissingRequiredFile) {
    TempFolder folder;
    WriteSmallPackage(folder);
    folder.WriteBytes("partition_vek.mbn", {});
    TraceCapture trace;
    UpgradeModule module;
    EXPECT_FALSE(module.Images().Initialize(folder.Wide()));
    EXPECT_FALSE(module.Images().HasVendorPartition());
    const std::vector<std::string> messages = trace.Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2], "fclose(pfile); !!");
    EXPECT_EQ(messages.back(), "partition_vek.mbn file is not Exist !!");
    EXPECT_FALSE(trace.Contains("Check system.img file"));
}

TEST(Initialize, OneByteFileIsRefused) {
    TempFolder folder;
    WriteSmallPackage(folder);
    folder.WriteBytes("cefs.mbn", {0x42});
    TraceCapture trace;
    UpgradeModule module;
    EXPECT_FALSE(module.Images().Initialize(folder.Wide()));
    const std::vector<std::string> messages = trace.Messages();
    EXPECT_EQ(messages[messages.size() - 2], "fclose(pfile); !!");
    EXPECT_EQ(messages.back(), "cefs.mbn file is not Exist !!");
    EXPECT_EQ(trace.lines().back().function, "CFWUpgradeDataCDMA7627Module::Initialize");
    EXPECT_EQ(trace.lines()[trace.lines().size() - 2].function, "CFWUpgradeDataCDMA7627Module::CheckFile");
}

TEST(Initialize, EmptyFolderFailsOnTheFirstFile) {
    TempFolder folder;
    TraceCapture trace;
    UpgradeModule module;
    EXPECT_FALSE(module.Images().Initialize(folder.Wide()));
    EXPECT_EQ(trace.Messages().back(), "partition.mbn file is not Exist !!");
}

TEST(Initialize, HeaderFileLongerThanOneCommandIsRefused) {
    for (const char* header : {"partition.mbn", "oemsblhd.mbn", "amsshd.mbn", "appsboothd.mbn"}) {
        TempFolder folder;
        WriteSmallPackage(folder);
        folder.WritePattern(header, 1024);
        UpgradeModule module;
        EXPECT_TRUE(module.Images().Initialize(folder.Wide())) << header << " of 1024 bytes still fits";
        folder.WritePattern(header, 1025);
        TraceCapture trace;
        EXPECT_FALSE(module.Images().Initialize(folder.Wide())) << header;
        EXPECT_TRUE(trace.ContainsPart(std::string(header) + ": 1025 bytes")) << header;
    }
}

TEST(Initialize, ImageOfTwoGibibytesIsRefused) {
    TempFolder folder;
    WriteSmallPackage(folder);
    std::filesystem::resize_file(folder / "system.img", 0x80000000ull);
    TraceCapture trace;
    UpgradeModule module;
    EXPECT_FALSE(module.Images().Initialize(folder.Wide()));
    EXPECT_TRUE(trace.ContainsPart("system.img: 2147483648 bytes"));
    std::filesystem::resize_file(folder / "system.img", 0x7FFFFFFFull);
    EXPECT_TRUE(module.Images().Initialize(folder.Wide()));
}

TEST(Initialize, PathBeyondTheCapacityIsRefusedNotCut) {
    TempFolder folder;
    // 259 units is the longest path; "qcsblhd_cfgdata.mbn" is the longest name.
    const size_t room = kPathCapacity - 1 - 1 - std::string("qcsblhd_cfgdata.mbn").size();
    std::string sub = folder.path();
    std::filesystem::path deep = folder.path();
    while (sub.size() < room) {
        const size_t add = std::min<size_t>(room - sub.size() - 1, 60);
        if (add == 0) break;
        deep /= std::string(add, 'd');
        sub = deep.string();
    }
    ASSERT_EQ(sub.size(), room);
    std::filesystem::create_directories(deep);
    for (const std::string& name : RequiredPackageFiles()) {
        std::ofstream(deep / name, std::ios::binary) << "0123456789";
    }
    UpgradeModule module;
    EXPECT_TRUE(module.Images().Initialize(platform::Utf8ToWide(sub))) << "a path of exactly 259 units fits";
    EXPECT_EQ(module.Images().DownloadFiles().strQcsblhdCfgdataFilePath.size(), kPathCapacity - 1);

    std::filesystem::path deeper = deep.parent_path() / (deep.filename().string() + "x");
    std::filesystem::create_directories(deeper);
    for (const std::string& name : RequiredPackageFiles()) std::ofstream(deeper / name, std::ios::binary) << "0123456789";
    TraceCapture trace;
    EXPECT_FALSE(module.Images().Initialize(platform::Utf8ToWide(deeper.string())));
    EXPECT_TRUE(trace.ContainsPart("Refuse qcsblhd_cfgdata.mbn"));
    EXPECT_TRUE(module.Images().DownloadFiles().strQcsblhdCfgdataFilePath.empty()) << "never a cut path";
}

TEST(CheckFile, NeedsTwoBytes) {
    TempFolder folder;
    UpgradeModule module;
    folder.WriteBytes("a", {1, 2});
    folder.WriteBytes("b", {1});
    EXPECT_TRUE(module.Images().CheckFile(folder.WideFile("a")));
    EXPECT_FALSE(module.Images().CheckFile(folder.WideFile("b")));
    EXPECT_FALSE(module.Images().CheckFile(folder.WideFile("missing")));
}
