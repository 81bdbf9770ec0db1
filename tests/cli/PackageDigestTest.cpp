#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "TempFolder.h"
#include "host/fwupgrade/PackageCheck.h"
#include "host/fwupgrade/PackageDigest.h"
#include "host/fwupgrade/Sha256.h"

namespace fwupgrade {
namespace {

using testing::TempFolder;

std::string Digest(const std::string& text) {
    Sha256 digest;
    digest.Add(text);
    return digest.HexDigest();
}

TEST(Sha256, MatchesTheKnownDigests) {
    EXPECT_EQ(Digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Two blocks: the length no longer fits after the padding of the first.
    EXPECT_EQ(Digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    Sha256 pieces;
    pieces.Add("ab");
    pieces.Add("c");
    EXPECT_EQ(pieces.HexDigest(), Digest("abc"));
}

TEST(PackageDigest, ChangesWithAnyByteAndRefusesAFileThatIsNotRegular) {
    TempFolder temp;
    std::filesystem::create_directories(temp / "package");
    for (const auto& file : PackageFiles()) temp.Write("package/" + std::string(file.name), 16);
    const std::string first = PackageDigest(temp / "package");
    EXPECT_EQ(first.rfind("sha256:", 0), 0u);
    EXPECT_EQ(first.size(), 7u + 64u);
    EXPECT_EQ(PackageDigest(temp / "package"), first);
    temp.Write("package/boot.img", 16, 'y');
    EXPECT_NE(PackageDigest(temp / "package"), first);
    // A missing optional image is no error; a FIFO is never read.
    std::filesystem::remove(temp / "package/splash.img");
    EXPECT_FALSE(PackageDigest(temp / "package").empty());
    ASSERT_EQ(::mkfifo((temp / "package/splash.img").c_str(), 0644), 0);
    EXPECT_EQ(PackageDigest(temp / "package"), "");
}

}  // namespace
}  // namespace fwupgrade
