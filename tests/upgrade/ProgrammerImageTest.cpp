#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/support/TempFolder.h"
#include "TraceCapture.h"
#include "platform/Platform.h"
#include "upgrade/run/UpgradeModule.h"
#include "upgrade/flashing/ProgrammerResource.h"
#include "upgrade/run/UpgradeInternal.h"

using namespace upgrade;
using namespace upgrade_test;
using test_support::TempFolder;

namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(ProgrammerImage, EmbeddedImageHasTheProgrammerLayout) {
    RegisterProgrammerResource();
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(platform::LoadOwnResource(u"BIN", 102, data, size));
    ASSERT_EQ(size, 177376u);
    EXPECT_EQ(Le32(data + 8), 0x00500028u);
    EXPECT_EQ(Le32(data + 12), 0x00500028u);
    const uint32_t imageSize = Le32(data + 16);
    const uint32_t codeSize = Le32(data + 20);
    EXPECT_EQ(imageSize, size - 40);
    EXPECT_EQ(Le32(data + 28), 256u);
    EXPECT_EQ(Le32(data + 36), 1202u);
    EXPECT_EQ(codeSize + 256 + 1202, imageSize);
    EXPECT_EQ(Le32(data + 24), 0x00500028u + codeSize) << "signature follows the code";
    EXPECT_EQ(Le32(data + 32), 0x00500028u + codeSize + 256) << "certificates follow the signature";
}

TEST(ProgrammerImage, ExtractionFallsBackToTheNextFolder) {
    TempFolder folder;
    const std::u16string unwritable = folder.WideFile("no/such/folder");
    const std::u16string fallback = folder.WideFile("user");
    std::u16string written;
    TraceCapture trace;
    ASSERT_TRUE(ExtractProgrammerTo({unwritable, fallback}, written));
    EXPECT_EQ(written, fallback + platform::PathSeparator() + u"armprgVEKMSM7627.bin");
    EXPECT_TRUE(trace.ContainsPart("Cannot write the programmer to"));

    const std::vector<uint8_t> onDisk = ReadAll(folder / "user/armprgVEKMSM7627.bin");
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(platform::LoadOwnResource(u"BIN", 102, data, size));
    EXPECT_EQ(onDisk, std::vector<uint8_t>(data, data + size));
}

TEST(ProgrammerImage, NoWritableFolderFails) {
    TempFolder folder;
    std::u16string written;
    EXPECT_FALSE(ExtractProgrammerTo({folder.WideFile("a/b"), folder.WideFile("c/d")}, written));
    EXPECT_TRUE(written.empty());
    const std::u16string tooLong(300, u'x');
    TraceCapture trace;
    EXPECT_FALSE(ExtractProgrammerTo({tooLong}, written));
    EXPECT_TRUE(trace.ContainsPart("Refuse the programmer path"));
}

TEST(ProgrammerImage, TheRunLoadsTheFileExtractionWrote) {
    ASSERT_TRUE(UpgradeModule::ExtractProgrammer());
    const std::u16string written = ImageSet::ExtractedProgrammerPath();
    EXPECT_EQ(written, platform::RemoveFileSpec(platform::GetModuleFileName(nullptr)) + platform::PathSeparator() +
                           u"armprgVEKMSM7627.bin");
    UpgradeModule module;
    EXPECT_TRUE(module.Images().SelectArmprgAccordingToPidVid(u"ignored"));
    EXPECT_EQ(module.Images().ArmprgPath(), written);
    EXPECT_EQ(ReadAll(std::filesystem::path(platform::WideToUtf8(written))).size(), 177376u);
}

TEST(ProgrammerImage, ExtractionReplacesAStaleFileWholeAndKeepsAnIdenticalOne) {
    TempFolder folder;
    folder.WritePattern("armprgVEKMSM7627.bin", 1000);
    std::u16string written;
    ASSERT_TRUE(ExtractProgrammerTo({folder.Wide()}, written));
    const std::filesystem::path file = folder / "armprgVEKMSM7627.bin";
    EXPECT_EQ(std::filesystem::file_size(file), 177376u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1) << "no temporary file left";

    const auto stamp = std::filesystem::last_write_time(file);
    std::filesystem::last_write_time(file, stamp - std::chrono::hours(1));
    const auto older = std::filesystem::last_write_time(file);
    ASSERT_TRUE(ExtractProgrammerTo({folder.Wide()}, written));
    EXPECT_EQ(std::filesystem::last_write_time(file), older) << "an identical file is not rewritten";
}
