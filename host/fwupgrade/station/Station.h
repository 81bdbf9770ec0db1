// `fwupgrade station`: watches the USB bus and flashes every card plugged
// in, each in a run of its own pinned to its USB port, at most
// `maxParallel` at once. It runs until stopped: the first SIGINT or SIGTERM
// takes no new card and waits for the running ones, the second is passed on
// to every running worker, which applies the rules of `upgrade` to its card.
// A line "stop <usb port>" on the input stops that card at a safe point.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/fwupgrade/station/output/Board.h"
#include "host/fwupgrade/station/bus/BusWatch.h"
#include "host/fwupgrade/station/bus/CardRegistry.h"
#include "host/fwupgrade/station/CardRun.h"
#include "host/fwupgrade/station/RunQueue.h"
#include "host/fwupgrade/station/output/StationOutput.h"

namespace fwupgrade::station {

struct StationOptions {
    std::string package;
    std::vector<std::string> usbPorts;   // patterns; none: every port
    size_t maxParallel = 4;
    bool json = false;
    std::string workRoot = "fwupgrade-station";
    std::string pluginPath;
    std::string commandLine;
};

class Station {
public:
    Station(const StationOptions& options, std::unique_ptr<StationOutput> output);
    // Runs until stopped and the running cards are done; the exit status.
    int Run();

    // Reactions, each to one thing that happens.
    void OnBusChange(const UsbChange& change);
    void OnSignal(int signal);
    void OnInputLine(const std::string& line);

private:
    void Appeared(const UsbChange& change);
    void Left(const std::string& port);
    void StartReady();
    void StartCard(const std::string& port);
    // The interface to rescue the card on `port` through: the one its
    // firmware was driven through, else `now`.
    std::string FirmwarePinOf(const std::string& port, const std::string& portFolder, const std::string& now);
    void EndWithoutRun(const std::string& port, RowState state, const std::string& reason, const std::string& command);
    void ReadWorker(const std::string& port);
    void WorkerDone(const std::string& port);
    void Report(const std::string& port, const WorkerReport& report);
    bool Over() const { return !queue_.Taking() && runs_.empty(); }
    int Poll(int signalFd, bool& inputOpen, std::string& inputPending);
    void DrainBus();

    StationOptions options_;
    RunSetup setup_;
    std::unique_ptr<StationOutput> output_;
    BusWatch bus_;
    CardRegistry registry_;
    RunQueue queue_;
    Board board_;
    std::map<std::string, std::unique_ptr<CardRun>> runs_;
    std::vector<RunResult> results_;
    // The interface each port's card was driven through in its firmware: a
    // card found outside it shows another one, which its firmware uses for
    // something else (its modem port). Kept in the port's folder as well.
    std::map<std::string, std::string> firmwarePins_;
    int stopSignals_ = 0;
};

int RunStation(const StationOptions& options);

}  // namespace fwupgrade::station
