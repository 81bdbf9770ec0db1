#include "host/fwupgrade/Workers.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "host/fwupgrade/FailureReport.h"
#include "host/fwupgrade/PackageView.h"

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

pid_t Spawn(const std::string& executable, const std::vector<std::string>& args, const std::string& folder,
            int& readFd, std::string& error) {
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
    const pid_t pid = ::fork();
    if (pid < 0) {
        error = std::string("cannot start a worker: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return -1;
    }
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        if (::chdir(folder.c_str()) != 0) ::_exit(kExitOther);
        ::dup2(fds[1], STDOUT_FILENO);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) ::dup2(err, STDERR_FILENO);
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) ::dup2(null, STDIN_FILENO);
        ::execv(executable.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    readFd = fds[0];
    return pid;
}

void HandleLine(Worker& worker, const std::string& line, const WorkerEvents& events) {
    nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_discarded() || !event.is_object()) return;
    const std::string kind = event.value("event", "");
    if (kind == "progress") {
        if (events.progress) events.progress(worker.index, event.value("percent", 0));
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

std::vector<RunResult> RunWorkers(const WorkerPlan& plan, const WorkerEvents& events) {
    std::vector<Worker> workers(plan.devices.size());
    for (size_t i = 0; i < plan.devices.size(); ++i) {
        Worker& w = workers[i];
        w.index = i;
        w.result.device = plan.devices[i];
        CardFolder folder;
        std::string error;
        if (!MakeCardFolder(plan.workRoot, i, plan.package, folder, error)) {
            w.result = Unreported(plan.devices[i], "", error);
            w.reported = true;
            continue;
        }
        w.result.folder = folder.folder;
        std::vector<std::string> args = {
            "upgrade", "--json", "--device", AbsolutePath(plan.devices[i]), "--package", folder.package,
            "--log",   folder.folder + "/fwupgrade.log",
        };
        if (!plan.pluginPath.empty()) args.insert(args.end(), {"--plugin", AbsolutePath(plan.pluginPath)});
        w.pid = Spawn(plan.executable, args, folder.folder, w.fd, error);
        if (w.pid < 0) {
            w.result = Unreported(plan.devices[i], folder.folder, error);
            w.reported = true;
        }
    }
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<Worker*> owners;
        for (auto& w : workers) {
            if (w.fd < 0) continue;
            fds.push_back(pollfd{w.fd, POLLIN, 0});
            owners.push_back(&w);
        }
        if (fds.empty()) break;
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
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
    std::vector<RunResult> results;
    for (auto& w : workers) {
        if (w.pid > 0) {
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
        results.push_back(w.result);
    }
    return results;
}

}  // namespace fwupgrade
