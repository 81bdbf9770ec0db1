#include "tests/windows/Harness.h"

#include <algorithm>
#include <cstdio>
#include <exception>

namespace wintest {

namespace {
int g_failuresInTest = 0;
}

std::vector<TestCase>& Registry() {
    static std::vector<TestCase> tests;
    return tests;
}

void Fail(const char* file, int line, const std::string& what) {
    ++g_failuresInTest;
    std::printf("  %s:%d: %s\n", file, line, what.c_str());
    std::fflush(stdout);
}

int RunAll(const std::string& filter) {
    int passed = 0;
    int failed = 0;
    int skipped = 0;
    // Registration order follows static initialisation, which differs between
    // builds: run in name order instead.
    std::vector<TestCase> tests = Registry();
    std::stable_sort(tests.begin(), tests.end(), [](const TestCase& a, const TestCase& b) { return a.name < b.name; });
    for (const TestCase& test : tests) {
        if (!filter.empty() && test.name.find(filter) == std::string::npos) continue;
        g_failuresInTest = 0;
        std::printf("[ RUN  ] %s\n", test.name.c_str());
        std::fflush(stdout);
        try {
            test.body();
        } catch (const RequireFailed&) {
        } catch (const Skipped& skip) {
            if (g_failuresInTest == 0) {
                ++skipped;
                std::printf("[ SKIP ] %s: %s\n", test.name.c_str(), skip.why.c_str());
                std::fflush(stdout);
                continue;
            }
        } catch (const std::exception& error) {
            Fail(__FILE__, __LINE__, std::string("exception: ") + error.what());
        } catch (...) {
            Fail(__FILE__, __LINE__, "unknown exception");
        }
        if (g_failuresInTest == 0) {
            ++passed;
            std::printf("[  OK  ] %s\n", test.name.c_str());
        } else {
            ++failed;
            std::printf("[ FAIL ] %s\n", test.name.c_str());
        }
        std::fflush(stdout);
    }
    std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
    std::fflush(stdout);
    return failed;
}

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace wintest
