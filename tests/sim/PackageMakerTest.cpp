#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "sim/frontends/PackageMaker.h"

namespace {

std::filesystem::path TempFolder(const std::string& name) {
    auto dir = std::filesystem::temp_directory_path() / ("cardsim_pkg_" + name + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    return dir;
}

sim::Bytes ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return sim::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A card whose flash holds exactly what a complete upgrade from the package writes.
sim::CardData Flashed(const std::filesystem::path& dir, bool userdata) {
    sim::CardData card = sim::DefaultCardData();
    card.partitionTable = ReadAll(dir / "partition.mbn");
    for (const char* name : {"qcsblhd_cfgdata.mbn", "qcsbl.mbn", "oemsblhd.mbn", "oemsbl.mbn", "amsshd.mbn", "amss.mbn",
                             "appsboothd.mbn", "appsboot.mbn", "boot.img", "system.img", "recovery.img", "cefs.mbn",
                             "splash.img"}) {
        card.partitions[name].content = ReadAll(dir / name);
    }
    if (userdata) card.partitions["userdata.img"].content = ReadAll(dir / "userdata.img");
    sim::Bytes vendor = ReadAll(dir / "partition_vek.mbn");
    vendor.resize(135167, 0);
    card.partitions["partition_vek.mbn"].content = vendor;
    for (const char* name : {"misc.img", "cache.img"}) card.partitions[name].erased = true;
    if (!userdata) card.partitions["userdata.img"].erased = true;
    return card;
}

}  // namespace

TEST(PackageMaker, WritesADeterministicValidPackage) {
    const auto a = TempFolder("a");
    const auto b = TempFolder("b");
    std::string error;
    sim::PackageOptions options;
    options.seed = 9;
    ASSERT_TRUE(sim::MakePackage(a.string(), options, error)) << error;
    ASSERT_TRUE(sim::MakePackage(b.string(), options, error)) << error;
    for (const auto& name : sim::RequiredPackageFiles()) {
        const auto bytes = ReadAll(a / name);
        EXPECT_GE(bytes.size(), 2u) << name;
        EXPECT_EQ(bytes, ReadAll(b / name)) << name;
    }
    for (const char* small : {"partition.mbn", "qcsblhd_cfgdata.mbn", "oemsblhd.mbn", "amsshd.mbn", "appsboothd.mbn"}) {
        EXPECT_LE(std::filesystem::file_size(a / small), 1024u) << small;
    }
    EXPECT_EQ(ReadAll(a / "partition.mbn"), sim::DefaultPartitionTable());
    EXPECT_EQ(std::filesystem::file_size(a / "system.img"), options.systemSize);
    EXPECT_EQ(sim::VersionInImage(ReadAll(a / "amss.mbn")), options.version);

    options.seed = 10;
    options.userdata = false;
    options.splash = false;
    options.newPartitionLayout = true;
    ASSERT_TRUE(sim::MakePackage(b.string(), options, error));
    EXPECT_FALSE(std::filesystem::exists(b / "userdata.img"));
    EXPECT_FALSE(std::filesystem::exists(b / "splash.img"));
    EXPECT_NE(ReadAll(a / "system.img"), ReadAll(b / "system.img"));
    EXPECT_NE(ReadAll(b / "partition.mbn"), sim::DefaultPartitionTable());
    std::filesystem::remove_all(a);
    std::filesystem::remove_all(b);
}

TEST(PackageMaker, FlashCheckFindsEveryDeviation) {
    const auto dir = TempFolder("check");
    std::string error;
    sim::PackageOptions options;
    options.userdata = false;
    ASSERT_TRUE(sim::MakePackage(dir.string(), options, error)) << error;
    sim::CardData card = Flashed(dir, false);
    EXPECT_TRUE(sim::CheckFlashAgainstPackage(card, dir.string(), true).ok);

    sim::CardData flipped = card;
    flipped.partitions["system.img"].content[1000] ^= 1;
    auto check = sim::CheckFlashAgainstPackage(flipped, dir.string(), true);
    EXPECT_FALSE(check.ok);
    ASSERT_EQ(check.problems.size(), 1u);
    EXPECT_NE(check.problems[0].find("system.img"), std::string::npos);

    sim::CardData notErased = card;
    notErased.partitions["userdata.img"].erased = false;
    EXPECT_FALSE(sim::CheckFlashAgainstPackage(notErased, dir.string(), true).ok);

    sim::CardData oldCefs = card;
    oldCefs.partitions["cefs.mbn"].content = {1, 2};
    EXPECT_FALSE(sim::CheckFlashAgainstPackage(oldCefs, dir.string(), true).ok);
    EXPECT_TRUE(sim::CheckFlashAgainstPackage(oldCefs, dir.string(), false).ok);

    sim::CardData oldTable = card;
    oldTable.partitionTable.push_back(0);
    EXPECT_FALSE(sim::CheckFlashAgainstPackage(oldTable, dir.string(), true).ok);
    std::filesystem::remove_all(dir);
}
