#include "host/fwupgrade/station/CardRun.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <nlohmann/json.hpp>

#include "host/fwupgrade/report/FailureReport.h"
#include "host/fwupgrade/run/PackageView.h"
#include "host/fwupgrade/run/Workers.h"

namespace fwupgrade::station {

std::optional<WorkerReport> ReportOfLine(const std::string& line) {
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_discarded() || !event.is_object()) return std::nullopt;
    const std::string kind = event.value("event", "");
    WorkerReport report;
    if (kind == "card") {
        report.kind = WorkerReport::Kind::Card;
        report.esn = event.value("esn", "");
        report.version = event.value("version", "");
        if (report.esn.empty()) return std::nullopt;
    } else if (kind == "step") {
        report.kind = WorkerReport::Kind::Step;
        report.step = event.value("words", "");
    } else if (kind == "progress") {
        report.kind = WorkerReport::Kind::Progress;
        report.percent = event.value("percent", 0);
        report.step = event.value("step", "");
        report.secondsLeft = event.value("left", -1.0);
    } else if (kind == "result") {
        report.kind = WorkerReport::Kind::Result;
        report.result = RunResultFromJson(event);
    } else {
        return std::nullopt;
    }
    return report;
}

CardRun::~CardRun() {
    // A station that ends leaves its running cards to finish: the worker is
    // not signalled, only no longer waited for.
    if (fd_ >= 0) ::close(fd_);
}

bool CardRun::Start(const RunSetup& setup, const std::vector<std::string>& args, const std::string& folder,
                    const std::string& package, std::string& error) {
    folder_ = folder;
    std::vector<std::string> all = args;
    all.insert(all.end(), {"--json", "--package", package, "--log", folder + "/fwupgrade.log"});
    if (!setup.pluginPath.empty()) all.insert(all.end(), {"--plugin", AbsolutePath(setup.pluginPath)});
    pid_ = SpawnWorker(setup.executable, all, folder, WorkerEnvironment(setup.command, folder), fd_, error);
    return pid_ > 0;
}

bool CardRun::Read(const std::function<void(const WorkerReport&)>& report) {
    char buffer[4096];
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (got <= 0) return false;
    pending_.append(buffer, static_cast<size_t>(got));
    size_t newline;
    while ((newline = pending_.find('\n')) != std::string::npos) {
        if (auto parsed = ReportOfLine(pending_.substr(0, newline))) {
            if (parsed->kind == WorkerReport::Kind::Result) result_ = parsed->result;
            report(*parsed);
        }
        pending_.erase(0, newline + 1);
    }
    return true;
}

RunResult CardRun::Finish() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (result_) return *result_;
    RunResult missing;
    missing.exitStatus = kExitOther;
    missing.folder = folder_;
    // A worker stopped before it took its signals itself had not loaded the
    // plug-in yet: nothing was sent to the card.
    if (stopAsked_ && WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) {
        missing.exitStatus = kExitInterrupted;
        missing.headline = "Stopped before anything was sent to the card.";
        return missing;
    }
    missing.headline = WIFSIGNALED(status)
                           ? "the worker was ended by signal " + std::to_string(WTERMSIG(status))
                           : "the worker ended without a result (see worker.err in " + folder_ + ")";
    return missing;
}

void CardRun::AskToStop() {
    if (stopAsked_ || pid_ <= 0) return;
    stopAsked_ = true;
    ::kill(pid_, SIGINT);
}

}  // namespace fwupgrade::station

namespace fwupgrade::station {

void CardRun::Pass(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}

}  // namespace fwupgrade::station
