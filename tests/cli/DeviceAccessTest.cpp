// The three ways a card's device fails to open, told apart before the
// plug-in loads: missing, not this user's, held by another process.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "tests/support/TempFolder.h"
#include "host/fwupgrade/card/DeviceAccess.h"
#include "host/fwupgrade/report/FailureReport.h"

namespace fwupgrade {
namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(DeviceAccess, EachFailureHasItsWordsAndExitStatus) {
    DeviceFacts facts;
    facts.path = "/dev/ttyUSB0";
    facts.group = "dialout";
    facts.mode = 0660;
    facts.holders = {"minicom (pid 4242)", "screen (pid 17)"};

    const DeviceAccess missing = DescribeOpenFailure(ENOENT, facts);
    EXPECT_EQ(missing.exitStatus, kExitNoDevice);
    EXPECT_TRUE(Has(missing.problem, "No such device: /dev/ttyUSB0")) << missing.problem;
    EXPECT_TRUE(Has(missing.problem, "fwupgrade detect")) << missing.problem;

    const DeviceAccess denied = DescribeOpenFailure(EACCES, facts);
    EXPECT_EQ(denied.exitStatus, kExitDeviceDenied);
    for (const char* part : {"Permission denied: /dev/ttyUSB0 (rw-rw----, group dialout)", "not in the group dialout",
                             "70-fwupgrade.rules", "sudo usermod -aG dialout \"$USER\""})
        EXPECT_TRUE(Has(denied.problem, part)) << part << " in " << denied.problem;
    facts.userInGroup = true;   // in the group, but the mode keeps the group out
    facts.mode = 0600;
    const DeviceAccess stillDenied = DescribeOpenFailure(EACCES, facts);
    EXPECT_FALSE(Has(stillDenied.problem, "not in the group")) << stillDenied.problem;
    EXPECT_TRUE(Has(stillDenied.problem, "(rw-------, group dialout)")) << stillDenied.problem;

    const DeviceAccess busy = DescribeOpenFailure(EBUSY, facts);
    EXPECT_EQ(busy.exitStatus, kExitDeviceBusy);
    EXPECT_TRUE(Has(busy.problem, "is busy: it is held by minicom (pid 4242), screen (pid 17)")) << busy.problem;
}

TEST(DeviceAccess, ADeviceLockedByAnotherProcessIsBusyAndTheHolderIsNamed) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string terminal = ::ptsname(master);
    EXPECT_EQ(CheckDeviceAccess(terminal).exitStatus, kExitOk);

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int fd = ::open(terminal.c_str(), O_RDWR | O_NOCTTY);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? '1' : '0';
        (void)!::write(ready[1], &ok, 1);   // the parent reads the outcome; nothing to do if it is gone
        ::pause();
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    const DeviceAccess busy = CheckDeviceAccess(terminal);
    EXPECT_EQ(busy.exitStatus, kExitDeviceBusy);
    EXPECT_TRUE(Has(busy.problem, "(pid " + std::to_string(holder) + ")")) << busy.problem;
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(CheckDeviceAccess(terminal).exitStatus, kExitOk);
    ::close(ready[0]);
    ::close(ready[1]);
    ::close(master);

    test_support::TempFolder temp;
    EXPECT_EQ(CheckDeviceAccess(temp / "ttyUSB9").exitStatus, kExitNoDevice);
}

TEST(DeviceAccess, WhatIsNoTerminalIsRefusedAsNoSerialPortAndAPseudoTerminalIsTaken) {
    test_support::TempFolder temp;
    const std::string plainFile = temp / "ttyUSB0";
    { std::ofstream(plainFile) << "not a card"; }
    const std::string fifo = temp / "ttyUSB1";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {std::string("/dev/null"), plainFile, temp.path(), fifo}) {
        const DeviceAccess access = CheckDeviceAccess(path);
        EXPECT_EQ(access.exitStatus, kExitNoDevice) << path;
        EXPECT_TRUE(Has(access.problem, path + " is ")) << access.problem;
        EXPECT_TRUE(Has(access.problem, ", not a serial port")) << access.problem;
    }
    EXPECT_TRUE(Has(CheckDeviceAccess(plainFile).problem, "a plain file")) << CheckDeviceAccess(plainFile).problem;
    EXPECT_TRUE(Has(CheckDeviceAccess(temp.path()).problem, "a folder")) << CheckDeviceAccess(temp.path()).problem;

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const DeviceAccess terminal = CheckDeviceAccess(::ptsname(master));
    EXPECT_EQ(terminal.exitStatus, kExitOk) << terminal.problem;
    ::close(master);
}

TEST(DeviceAccess, ADeviceThisUserMayNotOpenIsRefusedWithItsGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand a file to another user";
    test_support::TempFolder temp;
    const std::string node = temp / "ttyUSB0";
    { std::ofstream(node) << ""; }
    ASSERT_EQ(::chmod(node.c_str(), 0660), 0);
    ASSERT_EQ(::chmod(temp.path().c_str(), 0755), 0);
    // The check, as an unprivileged user outside the file's group, in a
    // child: its exit status carries the verdict.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const gid_t nogroup = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(65534) != 0) ::_exit(100);
        const DeviceAccess access = CheckDeviceAccess(node);
        const bool words = Has(access.problem, "Permission denied: " + node + " (rw-rw----, group root)") &&
                           Has(access.problem, "sudo usermod -aG root");
        ::_exit(words ? access.exitStatus : 101);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kExitDeviceDenied);
}

}  // namespace
}  // namespace fwupgrade
