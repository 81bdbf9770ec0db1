// Whole runs against the virtual card, each compared with the transcript of
// the same run kept in transcripts/: every port opened, line setting, purge,
// byte each way, pause, trace line (its function and text) and progress
// report, in order. A change that alters any of them shows here; one that
// only rearranges the code does not. FWUP_WRITE_TRANSCRIPTS=1 rewrites the
// kept transcripts after a change of behaviour that was meant.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "RunTranscript.h"
#include "tests/support/WholeRunFixture.h"
#include "sim/frontends/InProcessPort.h"
#include "sim/frontends/PackageMaker.h"

using namespace upgrade_test;

namespace {

namespace fs = std::filesystem;
constexpr int32_t kPort = 7;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

class Transcript : public test_support::WholeRunFixture {
protected:
    void SetUp() override {
        Enter(clock_, opener_);
        transcript_.SetHostLines([this] { return NewHostLines(); });
    }

    // Trace lines and progress reports that arrived since the last call.
    // The file and line of a trace are the code's, not the run's: left out.
    std::vector<std::string> NewHostLines() {
        std::vector<std::string> lines;
        const std::vector<hostkit::DecodedLogRecord> records = session_->Log().Records();
        for (; tracesSeen_ < records.size(); ++tracesSeen_) {
            const hostkit::DecodedLogRecord& r = records[tracesSeen_];
            lines.push_back("trace " + platform::WideToUtf8(r.time) + " " + platform::WideToUtf8(r.function) + ": " +
                            platform::WideToUtf8(r.message));
        }
        const std::vector<hostkit::ProgressReport> reports = session_->Display().Reports();
        for (; reportsSeen_ < reports.size(); ++reportsSeen_) {
            const hostkit::ProgressReport& p = reports[reportsSeen_];
            lines.push_back("progress " + std::to_string(p.first) + " " + std::to_string(p.second) + " " +
                            std::to_string(p.percent));
        }
        return lines;
    }

    std::string PackagePath() const { return work_ / "package"; }
    void Package(sim::PackageOptions options = {}) {
        std::string error;
        ASSERT_TRUE(sim::MakePackage(PackagePath(), options, error)) << error;
    }
    void Plug(sim::CardData data, std::initializer_list<const char*> rules = {}) {
        sim::FaultPlan plan;
        for (const char* rule : rules) plan.rules.push_back(sim::ParseFaultOption(rule));
        cards_.Attach(kPort, sim::MakeCard(std::move(data), sim::CardTiming{}, std::move(plan)));
    }
    void Run(int32_t expected) {
        const int32_t result = session_->RunUpgrade(kPort, platform::Utf8ToWide(PackagePath())).result;
        transcript_.Event("result " + std::to_string(result));
        EXPECT_EQ(result, expected);
    }

    // The run's transcript, with what differs between runs that behave the
    // same named alike: the scratch folder, the test program's folder and
    // the wall-clock time a backup is named by.
    void ExpectTranscript(const std::string& name) {
        const fs::path programFolder = fs::read_symlink("/proc/self/exe").parent_path();
        std::string actual = Replaced(transcript_.Text(), work_.path(), "<work>");
        actual = Replaced(actual, programFolder.string(), "<bin>");
        actual = std::regex_replace(actual, std::regex("[0-9]{8}T[0-9]{6}Z"), "<backup time>");
        const fs::path kept = fs::path(FWUP_TRANSCRIPT_DIR) / (name + ".txt");
        const char* rewrite = std::getenv("FWUP_WRITE_TRANSCRIPTS");
        if (rewrite != nullptr && std::string(rewrite) == "1") {
            std::ofstream(kept, std::ios::binary) << actual;
            return;
        }
        const fs::path made = programFolder / ("transcript-" + name + ".txt");
        std::ofstream(made, std::ios::binary) << actual;
        const std::vector<std::string> want = Lines(ReadText(kept)), got = Lines(actual);
        ASSERT_FALSE(want.empty()) << "no kept transcript at " << kept;
        for (size_t i = 0; i < std::max(want.size(), got.size()); ++i) {
            const std::string w = i < want.size() ? want[i] : "<end>", g = i < got.size() ? got[i] : "<end>";
            ASSERT_EQ(g, w) << "first difference at line " << i + 1 << "; this run's transcript is at " << made;
        }
    }

    RunTranscript transcript_;
    TranscriptClock clock_{transcript_};
    sim::InProcessPortOpener cards_;
    TranscriptOpener opener_{cards_, transcript_};
    size_t tracesSeen_ = 0;
    size_t reportsSeen_ = 0;
};

sim::CardData NotQ7k() {
    sim::CardData data = sim::DefaultCardData();
    data.version = "LUM_W326V1.0.0B05";
    return data;
}

TEST_F(Transcript, Q7kCardFlashedAndRestored) {
    Package();
    Plug(sim::DefaultCardData());
    Run(0);
    ExpectTranscript("q7k-upgrade");
}

TEST_F(Transcript, CardToldToTakeANewPartitionTable) {
    sim::PackageOptions options;
    options.newPartitionLayout = true;
    options.version = "LUM_W326V1.0.0B06";
    Package(options);
    Plug(NotQ7k());
    Run(0);
    ExpectTranscript("partition-override-upgrade");
}

// A refused NV write after the reflash fails the run; the retry restores
// from the backup the first run left pending.
TEST_F(Transcript, RefusedRestoreThenRetry) {
    Package();
    Plug(sim::DefaultCardData(), {"nv_refuse:item=77,command=0x27,count=0"});
    Run(-13314);
    cards_.Attach(kPort, sim::MakeCard(cards_.CardAt(kPort)->Data()));
    transcript_.Event("card plugged in again");
    Run(0);
    ExpectTranscript("refused-restore-then-retry");
}

}  // namespace
