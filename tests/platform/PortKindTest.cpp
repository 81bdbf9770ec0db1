// Which POSIX ports count as a virtual card's: only a pseudo-terminal's
// slave side lets the sped-up clock shorten a pause.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/posix/SerialPort.h"
#include "tests/support/TempFolder.h"

namespace {

TEST(PosixPortRule, OnlyTheUnix98PseudoTerminalMajorsAreVirtual) {
    EXPECT_TRUE(platform::IsPseudoTerminalNode(S_IFCHR | 0620, makedev(136, 3)));
    EXPECT_TRUE(platform::IsPseudoTerminalNode(S_IFCHR | 0620, makedev(143, 255)));
    // Real serial devices: 8250 UART, usb-serial, cdc-acm; and /dev/ptmx.
    EXPECT_FALSE(platform::IsPseudoTerminalNode(S_IFCHR | 0660, makedev(4, 64)));
    EXPECT_FALSE(platform::IsPseudoTerminalNode(S_IFCHR | 0660, makedev(188, 0)));
    EXPECT_FALSE(platform::IsPseudoTerminalNode(S_IFCHR | 0660, makedev(166, 0)));
    EXPECT_FALSE(platform::IsPseudoTerminalNode(S_IFCHR | 0666, makedev(5, 2)));
    EXPECT_FALSE(platform::IsPseudoTerminalNode(S_IFCHR | 0660, makedev(135, 0)));
    EXPECT_FALSE(platform::IsPseudoTerminalNode(S_IFCHR | 0660, makedev(144, 0)));
    // Only a character device: the same numbers on a block device or a file do not count.
    EXPECT_FALSE(platform::IsPseudoTerminalNode(S_IFBLK | 0660, makedev(136, 3)));
    EXPECT_FALSE(platform::IsPseudoTerminalNode(S_IFREG | 0644, makedev(136, 3)));
}

TEST(PosixPortRule, APseudoTerminalAndALinkToItAreVirtualItsMasterAndOtherFilesAreNot) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string name = ::ptsname(master);
    const int slave = ::open(name.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    EXPECT_TRUE(platform::IsPseudoTerminal(slave));
    EXPECT_TRUE(platform::IsPseudoTerminalPath(name));
    EXPECT_FALSE(platform::IsPseudoTerminal(master));

    test_support::TempFolder temp;
    const std::filesystem::path link = temp / "card";
    std::filesystem::create_symlink(name, link);
    EXPECT_TRUE(platform::IsPseudoTerminalPath(link));
    const std::filesystem::path file = temp / "ttyUSB0";
    std::ofstream(file) << "not a device\n";
    EXPECT_FALSE(platform::IsPseudoTerminalPath(file));
    EXPECT_FALSE(platform::IsPseudoTerminalPath("/dev/null"));
    EXPECT_FALSE(platform::IsPseudoTerminalPath(temp / "missing"));
    ::close(master);
    ::close(slave);
}

}  // namespace
