// The subcommands of fwupgrade. Each returns the program's exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fwupgrade {

struct UpgradeOptions {
    int32_t port = -1;                   // --port N
    std::vector<std::string> devices;    // --device PATH (one or more)
    std::vector<std::string> usbPorts;   // --usb-port PORT (one or more)
    std::string package;
    std::string logFile;
    bool json = false;
    std::string workRoot = "fwupgrade-cards";
    std::string pluginPath;
    std::string commandLine;             // as the user typed it, for the history
};

struct DemoOptions {
    std::string folder;      // empty: a new temporary folder
    bool keep = false;
    uint32_t seed = 7;
    uint64_t systemSize = 0;    // 0: the package maker's default
    int clockScale = 10;        // 1: real time
    size_t cards = 1;           // several: one worker process each
    std::string pluginPath;
};

struct DetectOptions {
    bool all = false;
    bool json = false;
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
    std::string pluginPath;
};

struct RescueOptions {
    int32_t port = -1;
    std::string device;
    std::string usbPort;
    std::string package;
    std::string from;         // a kept backup to restore instead of the package folder's
    bool withoutData = false; // flash without restoring anything
    std::string logFile;
    bool json = false;
    std::string commandLine;
    std::string pluginPath;   // --plugin: instead of the registered plug-in
};

int RunUpgrade(const UpgradeOptions& options);
// A card an interrupted or failed run left behind: found in whatever state
// it is, flashed with the whole package and given its data back.
int RunRescue(const RescueOptions& options);
// Writes the package's SHA256SUMS from the files it holds now.
int RunPackageSums(const std::string& package);
int RunCheck(const std::string& package, bool json);
int RunDetect(const DetectOptions& options);
int RunDemo(const DemoOptions& options);
int RunRegister(bool unregister, const std::string& pluginPath);
// The run history, newest first.
int RunHistory(bool json);

// True when the output is a terminal that can redraw a line.
bool OutputIsTerminal();

}  // namespace fwupgrade
