// The station's bus tests run under umockdev's preload, which must also be
// in the process that sends the uevents: the test program starts itself
// again through umockdev-wrapper when it is not under it yet.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "UsbTestbed.h"

int main(int argc, char** argv) {
    if (!fwupgrade::station_tests::UnderUmockdev() && ::access(UMOCKDEV_WRAPPER, X_OK) == 0) {
        std::vector<char*> args = {const_cast<char*>(UMOCKDEV_WRAPPER)};
        for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        // The wrapper preloads umockdev's library ahead of everything, the
        // sanitizer runtime of a sanitizer build included, which AddressSanitizer
        // refuses unless told that the order is meant.
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string options = std::string(asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") +
                                    "verify_asan_link_order=0";
        ::setenv("ASAN_OPTIONS", options.c_str(), 1);
        ::execv(UMOCKDEV_WRAPPER, args.data());
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
