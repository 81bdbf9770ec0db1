#include "host/fwupgrade/demo/CardProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "host/fwupgrade/run/SignalWatch.h"
#include "host/fwupgrade/run/Workers.h"

#ifndef FWUPGRADE_BUILD_CARDSIM
#define FWUPGRADE_BUILD_CARDSIM ""
#endif
#ifndef FWUPGRADE_BUILD_PROGRAM
#define FWUPGRADE_BUILD_PROGRAM ""
#endif
#ifndef FWUPGRADE_RELATIVE_CARDSIM
#define FWUPGRADE_RELATIVE_CARDSIM "../../bin/cardsim"
#endif
#ifndef FWUPGRADE_INSTALL_BINDIR
#define FWUPGRADE_INSTALL_BINDIR "/usr/bin"
#endif

namespace fwupgrade {

namespace {

bool IsExecutable(const std::string& path) { return !path.empty() && ::access(path.c_str(), X_OK) == 0; }

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool SameFile(const std::string& one, const std::string& other) {
    struct stat first {};
    struct stat second {};
    return ::stat(one.c_str(), &first) == 0 && ::stat(other.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

}  // namespace

std::string FindCardsim() {
    if (const char* env = std::getenv("FWUPGRADE_CARDSIM"); env != nullptr && *env != '\0') return env;
    const std::string self = SelfExecutable();
    const std::string folder = self.substr(0, self.rfind('/'));
    // Installed, the program sits in its own folder and cardsim in the program
    // folder; an installed program never takes a build tree's cardsim.
    const std::string build = SameFile(self, FWUPGRADE_BUILD_PROGRAM) ? FWUPGRADE_BUILD_CARDSIM : "";
    for (const std::string& candidate : {folder + "/cardsim", folder + "/" FWUPGRADE_RELATIVE_CARDSIM, build,
                                         std::string(FWUPGRADE_INSTALL_BINDIR) + "/cardsim"})
        if (IsExecutable(candidate)) return candidate;
    return {};
}

CardProcess::~CardProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

bool CardProcess::Start(const std::string& program, const std::string& link, const std::string& stateFile,
                        const std::vector<std::string>& extra, const std::string& logFile, std::string& error) {
    stateFile_ = stateFile;
    std::vector<std::string> args = {program, "--link", link, "--state-out", stateFile};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) {
        error = std::string("cannot start cardsim: ") + std::strerror(errno);
        return false;
    }
    if (pid_ == 0) {
        RestoreSignalsForChild();
        // A demo stopped by a signal takes its virtual cards with it.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int out = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Exists(link)) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error = "cardsim ended before its port appeared (see " + logFile + ")";
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            error = "cardsim's port " + link + " did not appear";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool CardProcess::Stop(sim::CardData& data, bool& newFirmware, size_t& violations, std::string& error) {
    if (pid_ <= 0) {
        error = "cardsim is not running";
        return false;
    }
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    std::ifstream in(stateFile_);
    nlohmann::json state = nlohmann::json::parse(in, nullptr, false);
    if (state.is_discarded() || !state.is_object()) {
        error = "cardsim left no readable state in " + stateFile_;
        return false;
    }
    try {
        data = sim::CardDataFromJson(state);
    } catch (const std::exception& e) {
        error = std::string("the card state cannot be read: ") + e.what();
        return false;
    }
    newFirmware = state.value("new_firmware", false);
    violations = state.contains("violations") && state["violations"].is_array() ? state["violations"].size() : 0;
    return true;
}

}  // namespace fwupgrade
