// The station's bus tests run under umockdev's preload, which must also be
// in the process that sends the uevents: the test program starts itself
// again through umockdev-wrapper when it is not under it yet.
#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "UsbTestbed.h"

int main(int argc, char** argv) {
    if (!fwupgrade::station_tests::UnderUmockdev() && ::access(UMOCKDEV_WRAPPER, X_OK) == 0) {
        std::vector<char*> args = {const_cast<char*>(UMOCKDEV_WRAPPER)};
        for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        ::execv(UMOCKDEV_WRAPPER, args.data());
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
