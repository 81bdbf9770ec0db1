#include "host/fwupgrade/station/Station.h"

#include <signal.h>

#include <filesystem>

#include "host/fwupgrade/plugin/CardSupport.h"
#include "host/fwupgrade/report/FailureReport.h"
#include "host/fwupgrade/run/PackageView.h"
#include "host/fwupgrade/card/RescueCommand.h"
#include "host/fwupgrade/run/Workers.h"
#include "host/fwupgrade/station/bus/CardPort.h"
#include "host/fwupgrade/station/bus/FirmwarePin.h"
#include "host/fwupgrade/station/bus/PortPatterns.h"

namespace fwupgrade::station {

namespace {

std::string ModeWords(packet::UsbIdentity identity) {
    const std::string mode = CardModeOf(identity);
    return mode.empty() ? "its firmware" : "its " + mode;
}

}  // namespace

Station::Station(const StationOptions& options, std::unique_ptr<StationOutput> output)
    : options_(options), output_(std::move(output)), queue_(options.maxParallel) {
    setup_.executable = SelfExecutable();
    setup_.package = AbsolutePath(options.package);
    setup_.pluginPath = options.pluginPath;
    setup_.command = options.commandLine;
}

void Station::OnBusChange(const UsbChange& change) {
    if (!PortServed(options_.usbPorts, change.usbPort)) return;
    if (change.added)
        Appeared(change);
    else
        Left(change.usbPort);
}

void Station::Appeared(const UsbChange& change) {
    const packet::UsbIdentity identity{change.vendor, change.product};
    const Arrival arrival = registry_.Appeared(change.usbPort, identity);
    if (arrival == Arrival::SameRun || arrival == Arrival::AlreadyKnown) {
        board_.At(change.usbPort).present = true;
        return;
    }
    Row& row = board_.At(change.usbPort);
    row = Row{};
    row.port = change.usbPort;
    row.identity = IdentityText(identity);
    if (arrival == Arrival::NotSupported) {
        row.state = RowState::NotSupported;
        row.reason = "the upgrade module does not take USB identity " + row.identity + "; nothing was sent to it";
        output_->Tell(board_, Happening::NotSupported, change.usbPort);
        return;
    }
    row.step = "found in " + ModeWords(identity);
    output_->Tell(board_, Happening::Appeared, change.usbPort);
    if (!queue_.Taking()) {
        EndWithoutRun(change.usbPort, RowState::Stopped, "not started: the station takes no new cards", "");
        return;
    }
    queue_.Add(change.usbPort);
    StartReady();
}

void Station::Left(const std::string& port) {
    if (!registry_.Left(port)) return;   // a running card's restart, or nothing the station knows
    if (queue_.Remove(port)) board_.At(port).state = RowState::Stopped;
    Row& row = board_.At(port);
    row.present = false;
    if (row.state == RowState::Stopped && row.reason.empty()) row.reason = "unplugged before its run started";
    output_->Tell(board_, Happening::Removed, port);
}

void Station::StartReady() {
    for (const auto& port : queue_.TakeReady()) StartCard(port);
}

void Station::EndWithoutRun(const std::string& port, RowState state, const std::string& reason,
                            const std::string& command) {
    Row& row = board_.At(port);
    row.state = state;
    row.reason = reason;
    row.command = command;
    queue_.Done(port);
    registry_.Finished(port);
    output_->Tell(board_, Happening::Result, port);
}

void Station::StartCard(const std::string& port) {
    registry_.Started(port);
    Row& row = board_.At(port);
    const PortReach reach = ReachCardPort(port);
    if (reach.usbPin.empty() || !reach.problem.empty()) {
        EndWithoutRun(port, RowState::Failed, reach.problem, "");
        return;
    }
    CardFolder folder;
    std::string error;
    std::error_code made;
    std::filesystem::create_directories(options_.workRoot, made);
    const std::string portFolder = options_.workRoot + "/" + port;
    if (!MakeCardFolder(portFolder, 0, options_.package, folder, error)) {
        EndWithoutRun(port, RowState::Failed, error, "");
        return;
    }
    std::string command = "upgrade";
    std::string pin = reach.usbPin;
    if (registry_.NeedAt(port) == CardNeed::Rescue) {
        pin = FirmwarePinOf(port, portFolder, pin);
        if (!HasPendingRecord(folder.package)) {
            EndWithoutRun(port, RowState::NeedsRescue, "no pending record of a run on this port",
                          RescueCommandFor(pin, "", -1, setup_.package));
            return;
        }
        command = "rescue";
    } else if (const auto known = firmwarePins_.find(port); known == firmwarePins_.end() || known->second != pin) {
        // Written once per port and interface: the cards after it on the
        // same port cost no sync.
        firmwarePins_[port] = pin;
        if (!KeepFirmwarePin(portFolder, pin, error)) output_->Note(port + ": " + error);
    }
    auto run = std::make_unique<CardRun>();
    if (!run->Start(setup_, {command, "--usb-port", pin}, folder.folder, folder.package, error)) {
        EndWithoutRun(port, RowState::Failed, error, "");
        return;
    }
    row.state = RowState::Running;
    row.step = command == "rescue" ? "rescuing the card" : "starting";
    runs_[port] = std::move(run);
    output_->Tell(board_, Happening::Step, port);
}

std::string Station::FirmwarePinOf(const std::string& port, const std::string& portFolder, const std::string& now) {
    if (const auto known = firmwarePins_.find(port); known != firmwarePins_.end()) return known->second;
    // Followed by an earlier station: its pin is kept in the port's folder.
    std::string problem;
    if (const auto kept = KeptFirmwarePin(portFolder, port, problem)) return *kept;
    if (!problem.empty()) output_->Note(port + ": " + problem + "; the card's interface now is used");
    return now;
}

void Station::Report(const std::string& port, const WorkerReport& report) {
    Row& row = board_.At(port);
    switch (report.kind) {
    case WorkerReport::Kind::Card:
        row.esn = report.esn;
        row.version = report.version;
        output_->Tell(board_, Happening::Identified, port);
        break;
    case WorkerReport::Kind::Step:
        row.step = report.step;
        output_->Tell(board_, Happening::Step, port);
        break;
    case WorkerReport::Kind::Progress:
        row.percent = report.percent;
        if (!report.step.empty()) row.step = report.step;
        row.secondsLeft = report.secondsLeft;
        output_->Tell(board_, Happening::Progress, port);
        break;
    case WorkerReport::Kind::Result: break;   // told once the worker has ended
    }
}

void Station::ReadWorker(const std::string& port) {
    CardRun& run = *runs_.at(port);
    if (run.Read([this, &port](const WorkerReport& report) { Report(port, report); })) return;
    WorkerDone(port);
}

void Station::WorkerDone(const std::string& port) {
    const bool stopAsked = runs_.at(port)->Stopping();
    const RunResult result = runs_.at(port)->Finish();
    runs_.erase(port);
    results_.push_back(result);
    board_.Record(port, result);
    Row& row = board_.At(port);
    if (stopAsked && result.exitStatus == kExitInterrupted && result.rescueCommand.empty())
        row.reason = "stopped on request before the switch; the card is unchanged";
    queue_.Done(port);
    if (registry_.Finished(port)) row.present = false;
    output_->Tell(board_, Happening::Result, port);
    StartReady();
}

void Station::OnSignal(int signal) {
    // A closed terminal only closes the queue; it never reaches a card.
    if (signal != SIGHUP) ++stopSignals_;
    if (stopSignals_ <= 1 || signal == SIGHUP) {
        if (!queue_.Taking()) return;
        for (const auto& port : queue_.StopTaking())
            EndWithoutRun(port, RowState::Stopped, "not started: the station was stopped", "");
        output_->Note("No new cards are taken; the running ones finish (again to stop them as `upgrade` would).");
        return;
    }
    for (auto& [port, run] : runs_) run->Pass(signal);
}

void Station::OnInputLine(const std::string& line) {
    std::string error;
    const std::string port = PortToStop(line, error);
    if (port.empty()) {
        if (!error.empty()) output_->Note(error);
        return;
    }
    if (queue_.Remove(port)) {
        EndWithoutRun(port, RowState::Stopped, "taken out of the queue on request", "");
        return;
    }
    const auto run = runs_.find(port);
    if (run == runs_.end()) {
        output_->Note("stop " + port + ": no card of that port is waiting or running");
        return;
    }
    run->second->AskToStop();
    output_->Note("stop " + port + ": the card stops before its switch to download mode, or finishes if past it");
}

}  // namespace fwupgrade::station
