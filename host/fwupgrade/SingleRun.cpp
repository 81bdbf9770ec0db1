#include "host/fwupgrade/SingleRun.h"

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <deque>
#include <fstream>

#include "host/fwupgrade/Commands.h"
#include "host/fwupgrade/FailureReport.h"
#include "host/fwupgrade/PackageView.h"
#include "host/fwupgrade/PluginHost.h"
#include "host/fwupgrade/Progress.h"
#include "host/fwupgrade/RunLock.h"

namespace fwupgrade {

namespace {

constexpr size_t kTraceKept = 400;

// True when the file exists and was written at or after `since`.
bool WrittenSince(const std::string& path, std::time_t since) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && info.st_mtime >= since;
}

}  // namespace

RunResult RunSingleCard(const SingleRunRequest& request, std::ostream& out) {
    RunResult result;
    result.port = request.port;
    result.device = request.device.empty() ? "COM" + std::to_string(request.port) : request.device;
    const std::string package = AbsolutePath(request.package);
    result.channelNvm = package + "/" + kChannelNvFile;
    result.lockBackup = AbsolutePath(kLockBackupFile);
    result.folder = AbsolutePath(".");
    if (!request.logFile.empty()) result.logFile = AbsolutePath(request.logFile);

    if (!request.device.empty()) {
        // The serial layer maps the COM number through this pattern; a
        // pattern without %d names one device whatever the number.
        if (request.device.find('%') != std::string::npos) {
            result.exitStatus = kExitUsage;
            result.headline = "The device path must not contain '%'.";
            return result;
        }
        ::setenv("FWUPGRADE_PORT_PATTERN", request.device.c_str(), 1);
    }

    RunLock lock;
    std::string busy;
    if (!lock.Acquire({package, result.folder}, busy)) {
        result.exitStatus = kExitOther;
        result.headline = "Not started: " + busy + ".";
        return result;
    }

    std::ofstream log;
    if (!request.logFile.empty()) {
        log.open(request.logFile, std::ios::out | std::ios::trunc);
        if (!log) {
            result.exitStatus = kExitOther;
            result.headline = "Cannot write the log file " + result.logFile + ".";
            return result;
        }
    }

    std::deque<TraceEntry> trace;
    ProgressView view(out, {""}, !request.json && OutputIsTerminal());
    PluginHostOptions options;
    options.pluginPath = request.pluginPath;
    options.onTrace = [&](const TraceEntry& entry) {
        if (log.is_open()) log << FormatTraceLine(entry) << "\n";
        trace.push_back(entry);
        if (trace.size() > kTraceKept) trace.pop_front();
    };
    options.onProgress = [&](int percent) {
        if (request.json) {
            out << ProgressEvent(percent) << "\n";
            out.flush();
        } else {
            view.Update(0, percent);
        }
    };
    PluginHost host(options);
    std::string error;
    if (!host.Load(error)) {
        result.exitStatus = kExitOther;
        result.headline = "Cannot load the upgrade module: " + error;
        return result;
    }

    const std::time_t started = std::time(nullptr);
    bool handled = false;
    result.code = host.Upgrade(request.port, package, handled);
    view.Close();
    if (log.is_open()) log.flush();
    result.channelNvmWritten = WrittenSince(result.channelNvm, started);
    result.lockBackupWritten = WrittenSince(result.lockBackup, started);

    if (!handled) {
        result.exitStatus = kExitOther;
        result.headline = "The module did not accept the upgrade message (answer " + std::to_string(result.code) + ").";
        return result;
    }
    result.exitStatus = ExitStatusFor(result.code);
    if (result.code == 0) {
        result.headline = "The card was flashed successfully.";
        return result;
    }
    const FailureSummary summary = SummarizeFailure(result.code, trace);
    result.headline = summary.headline;
    if (summary.step) result.stepLine = FormatTraceLine(*summary.step);
    if (summary.reason) result.reasonLine = FormatTraceLine(*summary.reason);
    return result;
}

}  // namespace fwupgrade
