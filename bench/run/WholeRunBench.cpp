// Whole upgrade runs in real time against virtual cards on pseudo-terminals,
// for 1, 8 and 32 cards at once. Writes docs/performance.md and the timeline
// of the one-card run as docs/whole-run-timeline.svg.
//
//   fw_whole_run_bench [--cards 1,8,32] [--system-mb 16] [--docs DIR] [--work DIR]
//
// A --work folder is kept with each run's record (card*/run.txt); without
// one, a temporary folder is used and removed unless something failed.
// Each run is this program again (--worker), one process per card, started
// in the card's own folder with a view of the package.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/run/Report.h"
#include "bench/run/RunWorker.h"
#include "bench/run/Timeline.h"
#include "host/fwupgrade/demo/CardProcess.h"
#include "sim/frontends/PackageMaker.h"

namespace {

namespace fs = std::filesystem;
using namespace runbench;

constexpr const char* kTimelineFile = "whole-run-timeline.svg";

struct Options {
    std::vector<size_t> cards = {1, 8, 32};
    uint32_t systemMB = 16;
    std::string docs = FWUP_DOCS_DIR;
    std::string work;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::string LoadAverage() {
    std::istringstream in(ReadFile("/proc/loadavg"));
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::string Machine() {
    std::istringstream in(ReadFile("/proc/cpuinfo"));
    std::string line, model = "an unknown processor";
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    return model + ", " + std::to_string(::sysconf(_SC_NPROCESSORS_ONLN)) + " cores";
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    return text;
}

std::string SelfPath() { return fs::read_symlink("/proc/self/exe").string(); }

// The card's own package folder: links to the package's files, so that its
// channel.nvm and backup record are its own.
bool MakePackageView(const std::string& package, const std::string& view) {
    std::error_code ec;
    fs::create_directories(view, ec);
    for (const auto& entry : fs::directory_iterator(package, ec)) {
        fs::create_symlink(entry.path(), fs::path(view) / entry.path().filename(), ec);
        if (ec) return false;
    }
    return !ec;
}

pid_t StartWorker(const std::string& folder, const std::string& device, const std::string& package,
                  const std::string& out) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    ::setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);
    const std::string self = SelfPath();
    ::execl(self.c_str(), self.c_str(), "--worker", device.c_str(), package.c_str(), out.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
}

struct Card {
    std::string folder, link, view, out;
    std::unique_ptr<fwupgrade::CardProcess> process = std::make_unique<fwupgrade::CardProcess>();
};

// Stops the card; false when it broke the protocol or was left unflashed.
bool CheckCard(Card& card, const std::string& package) {
    sim::CardData data;
    bool newFirmware = false;
    size_t violations = 0;
    std::string error;
    if (!card.process->Stop(data, newFirmware, violations, error)) {
        std::cerr << card.link << ": " << error << "\n";
        return false;
    }
    const sim::FlashCheck check = sim::CheckFlashAgainstPackage(data, package, newFirmware);
    if (violations > 0 || !check.ok || !newFirmware) {
        std::cerr << card.link << ": " << violations << " violation(s), "
                  << (check.problems.empty() ? "" : check.problems.front()) << "\n";
        return false;
    }
    return true;
}

bool RunBatch(const std::string& root, const std::string& package, size_t count, Batch& batch) {
    batch.cards = count;
    std::vector<Card> cards(count);
    std::string error;
    for (size_t i = 0; i < count; ++i) {
        Card& card = cards[i];
        card.folder = root + "/card" + std::to_string(i);
        card.link = card.folder + "/tty";
        card.view = card.folder + "/package";
        card.out = card.folder + "/run.txt";
        if (!MakePackageView(package, card.view) ||
            !card.process->Start(fwupgrade::FindCardsim(), card.link, card.folder + "/state.json", {},
                                 card.folder + "/cardsim.log", error)) {
            std::cerr << "card " << i << ": cannot start: " << error << "\n";
            return false;
        }
    }
    batch.loadBefore = LoadAverage();
    const auto started = std::chrono::steady_clock::now();
    std::vector<pid_t> workers;
    for (const Card& card : cards) workers.push_back(StartWorker(card.folder, card.link, card.view, card.out));
    bool ok = true;
    for (pid_t pid : workers) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    batch.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    for (Card& card : cards) {
        RunRecord record;
        if (!ParseRunRecord(ReadFile(card.out), record)) {
            std::cerr << card.out << ": no complete run record\n";
            ok = false;
            continue;
        }
        batch.runs.push_back(std::move(record));
        ok = CheckCard(card, card.view) && ok;
    }
    return ok;
}

int Worker(int argc, char** argv) {
    if (argc != 5) return 2;
    WorkerRequest request{argv[2], argv[3]};
    RunRecord record;
    std::string error;
    const bool ran = RunOneUpgrade(request, record, error);
    if (!ran) std::cerr << "worker: " << error << "\n";
    if (!WriteFile(argv[4], FormatRunRecord(record))) return 1;
    return ran && record.result == 0 ? 0 : 1;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--cards") {
            options.cards.clear();
            std::istringstream list(value);
            for (std::string item; std::getline(list, item, ',');) options.cards.push_back(std::stoul(item));
        } else if (key == "--system-mb") {
            options.systemMB = static_cast<uint32_t>(std::stoul(value));
        } else if (key == "--docs") {
            options.docs = value;
        } else if (key == "--work") {
            options.work = value;
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--worker") return Worker(argc, argv);
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::cerr << "usage: fw_whole_run_bench [--cards 1,8,32] [--system-mb 16] [--docs DIR] [--work DIR]\n";
        return 2;
    }
    const bool ownWork = options.work.empty();
    if (ownWork) {
        std::string pattern = (fs::temp_directory_path() / "fwup-run-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) return 1;
        options.work = pattern;
    }
    const std::string package = options.work + "/package";
    sim::PackageOptions packageOptions;
    packageOptions.systemSize = options.systemMB * 1000000u;
    std::string error;
    if (!sim::MakePackage(package, packageOptions, error)) {
        std::cerr << "cannot write the package: " << error << "\n";
        return 1;
    }

    std::vector<Batch> batches;
    bool ok = true;
    for (size_t count : options.cards) {
        std::cout << "flashing " << count << " card(s) at once, load " << LoadAverage() << "\n" << std::flush;
        Batch batch;
        ok = RunBatch(options.work + "/" + std::to_string(count) + "-cards", package, count, batch) && ok;
        batches.push_back(std::move(batch));
    }
    std::cout << MarkdownTable(batches);

    ReportContext context;
    context.command = "build/bench/run/fw_whole_run_bench";
    context.machine = Machine();
    context.date = UtcNow();
    context.timelineFile = kTimelineFile;
    if (!batches.empty() && !batches.front().runs.empty()) {
        context.systemBytes = batches.front().runs.front().systemBytes;
        context.packageBytes = batches.front().runs.front().imageBytes;
        context.timelineRun = &batches.front().runs.front();
        const std::string title = "One whole upgrade run (" + std::to_string(batches.front().cards) + " card(s) at once)";
        ok = WriteFile(options.docs + "/" + kTimelineFile, TimelineSvg(batches.front().runs.front(), title)) && ok;
    }
    ok = WriteFile(options.docs + "/performance.md", PerformanceDocument(batches, context)) && ok;
    std::error_code ec;
    if (ok && ownWork) fs::remove_all(options.work, ec);
    else if (!ok) std::cerr << "the benchmark's files are kept in " << options.work << "\n";
    return ok ? 0 : 1;
}
