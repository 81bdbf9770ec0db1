#include "host/fwupgrade/run/Workers.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

extern char** environ;

#include "host/fwupgrade/report/FailureReport.h"
#include "host/fwupgrade/run/PackageView.h"
#include "host/fwupgrade/run/SignalWatch.h"

namespace fwupgrade {

namespace {

struct Worker {
    size_t index = 0;
    pid_t pid = -1;
    int fd = -1;
    std::string pending;
    bool reported = false;
    RunResult result;
};

RunResult Unreported(const std::string& device, const std::string& folder, const std::string& why) {
    RunResult r;
    r.device = device;
    r.code = 0;
    r.exitStatus = kExitOther;
    r.headline = why;
    r.folder = folder;
    return r;
}

}  // namespace

std::vector<std::string> WorkerEnvironment(const std::string& command, const std::string& folder) {
    std::vector<std::string> env;
    const std::string commandPrefix = std::string(kWorkerCommandVariable) + "=";
    const std::string folderPrefix = std::string(kWorkerFolderVariable) + "=";
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.rfind(commandPrefix, 0) != 0 && text.rfind(folderPrefix, 0) != 0) env.push_back(text);
    }
    env.push_back(commandPrefix + command);
    env.push_back(folderPrefix + folder);
    return env;
}

pid_t SpawnWorker(const std::string& executable, const std::vector<std::string>& args, const std::string& folder,
                  const std::vector<std::string>& env, int& readFd, std::string& error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return -1;
    }
    const std::string errFile = folder + "/worker.err";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        error = std::string("cannot start a worker: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return -1;
    }
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        ::setpgid(0, 0);
        RestoreSignalsForChild();
        if (::chdir(folder.c_str()) != 0) ::_exit(kExitOther);
        ::dup2(fds[1], STDOUT_FILENO);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) ::dup2(err, STDERR_FILENO);
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) ::dup2(null, STDIN_FILENO);
        ::execve(executable.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);   // either side may get there first
    ::close(fds[1]);
    readFd = fds[0];
    return pid;
}

namespace {

void HandleLine(Worker& worker, const std::string& line, const WorkerEvents& events) {
    nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_discarded() || !event.is_object()) return;
    const std::string kind = event.value("event", "");
    if (kind == "progress") {
        if (events.progress) events.progress(worker.index, event.value("percent", 0));
        if (events.step && event.contains("step"))
            events.step(worker.index, event.value("step", ""), event.value("left", 0.0));
    } else if (kind == "notice") {
        if (events.notice) events.notice(worker.index, event.value("text", ""));
    } else if (kind == "result") {
        const std::string folder = worker.result.folder;
        worker.result = RunResultFromJson(event);
        worker.result.folder = folder;
        worker.reported = true;
        if (events.finished) events.finished(worker.index, worker.result);
    }
}

void Drain(Worker& worker, const WorkerEvents& events, bool& open) {
    char buffer[4096];
    const ssize_t got = ::read(worker.fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (got <= 0) {
        open = false;
        return;
    }
    worker.pending.append(buffer, static_cast<size_t>(got));
    size_t newline;
    while ((newline = worker.pending.find('\n')) != std::string::npos) {
        HandleLine(worker, worker.pending.substr(0, newline), events);
        worker.pending.erase(0, newline + 1);
    }
}

std::string DescribeWait(int status) {
    if (WIFSIGNALED(status)) return "the worker was ended by signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status)) return "the worker ended with status " + std::to_string(WEXITSTATUS(status)) +
                                  " without a result (see worker.err in its folder)";
    return "the worker ended without a result";
}

}  // namespace

std::string SelfExecutable() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    path[n] = '\0';
    return path;
}

namespace {

// The workers a stop signal is passed on to; a worker leaves the list before
// it is reaped, so a signal never reaches a process id used again.
class SignalRelay {
public:
    void Add(pid_t pid) {
        std::lock_guard<std::mutex> lock(mutex_);
        pids_.push_back(pid);
    }
    void Remove(pid_t pid) {
        std::lock_guard<std::mutex> lock(mutex_);
        pids_.erase(std::remove(pids_.begin(), pids_.end(), pid), pids_.end());
    }
    void Pass(int signal) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (pid_t pid : pids_) ::kill(pid, signal);
    }

private:
    std::mutex mutex_;
    std::vector<pid_t> pids_;
};

void StartWorker(const WorkerPlan& plan, Worker& w, SignalRelay& relay) {
    const std::string& device = plan.devices[w.index];
    w.result.device = device;
    CardFolder folder;
    std::string error;
    if (!MakeCardFolder(plan.workRoot, w.index, plan.package, folder, error)) {
        w.result = Unreported(device, "", error);
        w.reported = true;
        return;
    }
    w.result.folder = folder.folder;
    // Each worker follows its own card by its own USB port, so two cards
    // that restart at the same moment cannot swap tty numbers under them.
    const bool pinned = w.index < plan.usbPorts.size() && !plan.usbPorts[w.index].empty();
    std::vector<std::string> args = {
        "upgrade", "--json", pinned ? "--usb-port" : "--device", pinned ? plan.usbPorts[w.index] : AbsolutePath(device),
        "--package", folder.package, "--log", folder.folder + "/fwupgrade.log",
    };
    if (!plan.pluginPath.empty()) args.insert(args.end(), {"--plugin", AbsolutePath(plan.pluginPath)});
    w.pid = SpawnWorker(plan.executable, args, folder.folder, WorkerEnvironment(plan.command, folder.folder), w.fd, error);
    if (w.pid < 0) {
        w.result = Unreported(device, folder.folder, error);
        w.reported = true;
        return;
    }
    relay.Add(w.pid);
}

// Reads every worker's events until all their outputs are closed.
void CollectEvents(std::vector<Worker>& workers, const WorkerEvents& events) {
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<Worker*> owners;
        for (auto& w : workers) {
            if (w.fd < 0) continue;
            fds.push_back(pollfd{w.fd, POLLIN, 0});
            owners.push_back(&w);
        }
        if (fds.empty()) return;
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            bool open = true;
            Drain(*owners[i], events, open);
            if (!open) {
                ::close(owners[i]->fd);
                owners[i]->fd = -1;
            }
        }
    }
}

RunResult Reap(Worker& w, const WorkerEvents& events, SignalRelay& relay) {
    if (w.pid > 0) {
        relay.Remove(w.pid);
        int status = 0;
        while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (!w.reported) {
            w.result = Unreported(w.result.device, w.result.folder, DescribeWait(status));
            if (events.finished) events.finished(w.index, w.result);
        }
    } else if (events.finished) {
        events.finished(w.index, w.result);
    }
    if (w.fd >= 0) ::close(w.fd);
    return w.result;
}

}  // namespace

std::vector<RunResult> RunWorkers(const WorkerPlan& plan, const WorkerEvents& events) {
    SignalRelay relay;
    SignalWatch watch([&relay](int signal) { relay.Pass(signal); });
    std::vector<Worker> workers(plan.devices.size());
    for (size_t i = 0; i < workers.size(); ++i) {
        workers[i].index = i;
        StartWorker(plan, workers[i], relay);
    }
    CollectEvents(workers, events);
    std::vector<RunResult> results;
    for (auto& w : workers) results.push_back(Reap(w, events, relay));
    return results;
}

int WorstExitStatus(const std::vector<RunResult>& results) {
    auto rank = [](int status) {
        if (status == kExitInterrupted) return 3;
        if (status == kExitFailed) return 2;
        return status == kExitOk ? 0 : 1;
    };
    int worst = kExitOk;
    for (const auto& result : results)
        if (rank(result.exitStatus) > rank(worst)) worst = result.exitStatus;
    return worst;
}

}  // namespace fwupgrade
