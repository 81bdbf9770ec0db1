// The footprint reader and the flatness check the soak relies on: a leak of
// one descriptor per run is seen, allocator noise within the tolerance is not.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "host/kit/ProcessFootprint.h"

namespace {

TEST(Footprint, ReadsDescriptorsAndResidentMemoryOfThisProcess) {
    const hostkit::Footprint before = hostkit::ReadFootprint();
    ASSERT_TRUE(before.valid);
    EXPECT_GE(before.descriptors, 3u);   // standard input, output, error
    EXPECT_GT(before.residentKiB, 0u);

    const int fd = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(hostkit::ReadFootprint().descriptors, before.descriptors + 1);
    ::close(fd);
    EXPECT_EQ(hostkit::ReadFootprint().descriptors, before.descriptors);

    std::vector<char> touched(16 << 20, 1);
    EXPECT_GE(hostkit::ReadFootprint().residentKiB, before.residentKiB + 8 * 1024);
}

TEST(Footprint, OneDescriptorLeakedPerRunIsNotFlat) {
    std::vector<hostkit::Footprint> samples;
    std::vector<int> leaked;
    for (int run = 0; run < 20; ++run) {
        leaked.push_back(::open("/dev/null", O_RDONLY));
        samples.push_back(hostkit::ReadFootprint());
    }
    for (int fd : leaked) ::close(fd);
    const hostkit::Flatness check = hostkit::CheckFlat(hostkit::DescriptorSeries(samples), 5, 2);
    EXPECT_FALSE(check.flat) << check.text;
    EXPECT_EQ(check.firstOver, 7u);
    EXPECT_EQ(check.peak, check.baseline + 15);
}

TEST(Footprint, FlatnessAgainstTheLastWarmUpSample) {
    // Growth during the warm-up and wobble within the tolerance are flat.
    EXPECT_TRUE(hostkit::CheckFlat({10, 40, 90, 100, 101, 99, 102, 100}, 4, 2).flat);
    // The limit is inclusive; one step beyond it is not flat.
    EXPECT_TRUE(hostkit::CheckFlat({5, 5, 7}, 2, 2).flat);
    const hostkit::Flatness over = hostkit::CheckFlat({5, 5, 7, 8, 6}, 2, 2);
    EXPECT_FALSE(over.flat);
    EXPECT_EQ(over.firstOver, 3u);
    EXPECT_EQ(over.peak, 8u);
    // A slow climb is caught once it passes the tolerance, even if it ends low.
    EXPECT_FALSE(hostkit::CheckFlat({50, 50, 51, 52, 53, 50}, 2, 2).flat);
    // Without samples after the warm-up nothing is proven.
    EXPECT_FALSE(hostkit::CheckFlat({1, 1, 1}, 3, 0).flat);
    EXPECT_FALSE(hostkit::CheckFlat({}, 0, 0).flat);
}

}  // namespace
