#include "bench/run/RunWorker.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>

#include "host/kit/HostKit.h"
#include "module/Application.h"
#include "module/UpgradeModuleObject.h"
#include "platform/Platform.h"

namespace runbench {

namespace {

using Steady = std::chrono::steady_clock;

constexpr int32_t kPort = 1;
constexpr const char16_t* kRunFunction = u"CFWUpgradeDataCDMA7627Module::FirmWareUpgrade";

// The events of one run, stamped against its start; filled from the module's
// thread and the delivery of its trace and progress.
class EventLog {
public:
    void Start() { start_ = Steady::now(); }
    double Now() const { return std::chrono::duration<double, std::milli>(Steady::now() - start_).count(); }
    void Add(RunEvent event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::vector<RunEvent> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::move(events_);
    }

private:
    Steady::time_point start_ = Steady::now();
    std::mutex mutex_;
    std::vector<RunEvent> events_;
};

// The real clock, noting each pause before it is slept in full.
class PauseNotingClock : public platform::Clock {
public:
    explicit PauseNotingClock(EventLog& log) : log_(log) {}
    uint32_t TickCount() override { return platform::RealClock().TickCount(); }
    bool Now(platform::LocalTime& out) override { return platform::RealClock().Now(out); }
    void Sleep(uint32_t milliseconds) override {
        RunEvent pause;
        pause.kind = EventKind::Pause;
        pause.atMs = log_.Now();
        pause.lengthMs = milliseconds;
        log_.Add(std::move(pause));
        platform::RealClock().Sleep(milliseconds);
    }

private:
    EventLog& log_;
};

bool IsStep(const hostkit::DecodedLogRecord& record) {
    if (record.function != kRunFunction) return false;
    return record.message.rfind(u"Function: ", 0) == 0 || record.message.rfind(u"Execute ", 0) == 0;
}

double CpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// VmHWM, the peak of this program's own memory: getrusage's maximum would
// also count the parent's pages held between its fork and this program's start.
uint64_t PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    uint64_t kib = 0;
    while (status >> key) {
        if (key == "VmHWM:") {
            status >> kib;
            return kib;
        }
        status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return 0;
}

void MeasurePackage(const std::string& package, RunRecord& record) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(package, ec)) {
        const uint64_t size = std::filesystem::file_size(entry.path(), ec);
        if (ec) continue;
        record.imageBytes += size;
        if (entry.path().filename() == "system.img") record.systemBytes = size;
    }
}

void Observe(hostkit::HostSession& host, EventLog& log, double cpuBefore) {
    host.Log().SetObserver([&log, cpuBefore](const hostkit::DecodedLogRecord& record) {
        if (!IsStep(record)) return;
        RunEvent step;
        step.kind = EventKind::Step;
        step.atMs = log.Now();
        step.cpuMs = CpuMs() - cpuBefore;
        step.text = platform::WideToUtf8(record.message);
        log.Add(std::move(step));
    });
    host.Display().SetObserver([&log, last = -1](const hostkit::ProgressReport& report) mutable {
        if (report.percent == last) return;
        last = report.percent;
        RunEvent progress;
        progress.kind = EventKind::Progress;
        progress.atMs = log.Now();
        progress.percent = report.percent;
        log.Add(std::move(progress));
    });
}

}  // namespace

bool RunOneUpgrade(const WorkerRequest& request, RunRecord& record, std::string& error) {
    ::setenv("FWUPGRADE_PORT_PATTERN", request.device.c_str(), 1);
    ::unsetenv(module::kClockScaleVariable);
    MeasurePackage(request.package, record);

    static hostkit::HostSession host;
    if (!host.StartManager()) {
        error = "the host kit's module manager does not load";
        return false;
    }
    module::InitialiseLibrary();
    host.UseLinkedModule(&GetModule);
    EventLog log;
    PauseNotingClock clock(log);
    platform::SetClock(&clock);
    host.Log().KeepRecords(false);
    const double cpuBefore = CpuMs();
    Observe(host, log, cpuBefore);

    log.Start();
    const Steady::time_point started = Steady::now();
    const hostkit::UpgradeAnswer answer = host.RunUpgrade(kPort, platform::Utf8ToWide(request.package));
    record.wallMs = std::chrono::duration<double, std::milli>(Steady::now() - started).count();
    record.cpuMs = CpuMs() - cpuBefore;
    platform::SetClock(nullptr);
    host.Log().SetObserver(nullptr);
    host.Display().SetObserver(nullptr);

    record.peakResidentKiB = PeakResidentKiB();
    record.result = answer.result;
    record.events = log.Take();
    for (const RunEvent& e : record.events)
        if (e.kind == EventKind::Pause) record.pausesMs += e.lengthMs;
    if (answer.handled != 0) {
        error = "the module did not handle message 1025 (" + std::to_string(answer.handled) + ")";
        return false;
    }
    return true;
}

}  // namespace runbench
