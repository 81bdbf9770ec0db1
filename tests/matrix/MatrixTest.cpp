// The fault matrix: every scenario of the table, each a whole upgrade with
// its fault, the recovery a user would make, and the checks that the card
// is flashed and its data safe. With FWUP_FAULT_MATRIX_DOC naming a file,
// the table of outcomes is written there as markdown.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <map>
#include <set>
#include <string>

#include "tests/matrix/MatrixDoc.h"
#include "tests/matrix/MatrixRun.h"

namespace {

using matrix::Scenario;

// Scenarios that still show a fault of the module; each stays in the table.
const std::map<std::string, std::string>& KnownFaults() {
    static const std::map<std::string, std::string> known = {};
    return known;
}

std::vector<matrix::DocRow>& Rows() {
    static std::vector<matrix::DocRow> rows;
    return rows;
}

// With FWUP_FAULT_MATRIX_SHARE=n only every n-th scenario runs (a sample
// for slow builds); the others are skipped.
bool InShare(size_t index) {
    const char* share = getenv("FWUP_FAULT_MATRIX_SHARE");
    const long n = share ? strtol(share, nullptr, 10) : 1;
    return n <= 1 || index % static_cast<size_t>(n) == 0;
}

class FaultMatrix : public ::testing::TestWithParam<size_t> {
protected:
    static void SetUpTestSuite() { matrix::StartHost(); }
    static void TearDownTestSuite() {
        const char* doc = getenv("FWUP_FAULT_MATRIX_DOC");
        if (doc && *doc) {
            EXPECT_TRUE(matrix::WriteDoc(doc, Rows())) << doc;
        }
    }
    static const std::vector<Scenario>& All() {
        static const std::vector<Scenario> all = matrix::AllScenarios();
        return all;
    }
};

TEST(FaultMatrixTable, HasAtLeast150ScenariosWithDistinctNames) {
    const std::vector<Scenario> all = matrix::AllScenarios();
    EXPECT_GE(all.size(), 150u);
    std::set<std::string> names;
    for (const Scenario& s : all) EXPECT_TRUE(names.insert(s.name).second) << s.name;
}

TEST_P(FaultMatrix, NoFailureLosesTheCardsData) {
    const Scenario& s = All().at(GetParam());
    const auto known = KnownFaults().find(s.name);
    if (known != KnownFaults().end()) {
        Rows().push_back({s, {}, known->second});
        GTEST_SKIP() << "known fault: " << known->second;
    }
    if (!InShare(GetParam())) GTEST_SKIP() << "not in this build's share of the matrix";
    const matrix::Outcome outcome = matrix::RunScenario(s);
    Rows().push_back({s, outcome, ""});
    EXPECT_EQ(outcome.result, outcome.expectedResult) << s.fault;
    EXPECT_EQ(matrix::StepKind(outcome.failedStep), matrix::StepKind(outcome.expectedStep)) << s.fault;
    EXPECT_TRUE(outcome.problems.empty()) << s.fault << ": " << ::testing::PrintToString(outcome.problems);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultMatrix, ::testing::Range<size_t>(0, matrix::AllScenarios().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return matrix::AllScenarios().at(info.param).name;
                         });

}  // namespace
