#include "host/fwupgrade/report/History.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fwupgrade {

namespace {

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
}

std::string Text(const nlohmann::json& entry, const char* key) {
    const auto it = entry.find(key);
    return it != entry.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool SyncFolderOf(const std::string& file) {
    const size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return synced;
}

}  // namespace

std::string StateFolder() {
    std::string base;
    // Relative values are invalid by the XDG rules and are ignored.
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        base = state;
    } else if (const std::string home = HomeFolder(); !home.empty()) {
        base = home + "/.local/state";
    } else {
        return {};
    }
    const std::string folder = base + "/fwupgrade";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return std::filesystem::is_directory(folder, error) ? folder : std::string();
}

bool AppendHistory(const std::string& file, const nlohmann::json& entry, std::string& error) {
    const std::string line = entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const bool isNew = ::access(file.c_str(), F_OK) != 0;
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open " + file + ": " + std::strerror(errno);
        return false;
    }
    ssize_t put;
    do {
        put = ::write(fd, line.data(), line.size());
    } while (put < 0 && errno == EINTR);
    const bool written = put == static_cast<ssize_t>(line.size());
    if (!written) error = "cannot append to " + file + ": " + (put < 0 ? std::strerror(errno) : "short write");
    const bool synced = ::fsync(fd) == 0;
    if (written && !synced) error = "cannot sync " + file + ": " + std::strerror(errno);
    ::close(fd);
    // A new history is durable only once its folder holds its name.
    if (written && synced && isNew && !SyncFolderOf(file)) {
        error = "cannot sync the folder of " + file + ": " + std::strerror(errno);
        return false;
    }
    return written && synced;
}

std::vector<nlohmann::json> ReadHistory(const std::string& file) {
    std::vector<nlohmann::json> entries;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
        if (!entry.is_discarded() && entry.is_object()) entries.push_back(std::move(entry));
    }
    return entries;
}

std::string HistoryRow(const nlohmann::json& entry) {
    // The subcommand: "upgrade", "rescue", "backup", "restore".
    const std::string command = Text(entry, "command");
    const size_t word = command.find(' ');
    const std::string kind = word == std::string::npos ? "" : command.substr(word + 1, command.find(' ', word + 1) - word - 1);
    std::string row = Text(entry, "time") + "  " + (kind.empty() ? "" : kind + " ") + Text(entry, "result");
    if (const std::string step = Text(entry, "failed_step"); !step.empty()) row += " (" + step + ")";
    row += "  " + Text(entry, "device");
    const std::string before = Text(entry, "version_before");
    const std::string after = Text(entry, "version_after");
    if (!before.empty() || !after.empty())
        row += "  " + (before.empty() ? "?" : before) + " -> " + (after.empty() ? "?" : after);
    row += "  " + Text(entry, "package");
    if (const std::string esn = Text(entry, "esn"); !esn.empty()) row += "\n    ESN " + esn;
    if (const std::string kept = Text(entry, "kept_backup"); !kept.empty()) row += "\n    backup: " + kept;
    if (const std::string log = Text(entry, "log"); !log.empty()) row += "\n    log: " + log;
    return row;
}

}  // namespace fwupgrade
