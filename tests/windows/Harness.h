// A small assertion harness for the Windows test program (GoogleTest has no
// mingw build in the distribution). Tests register themselves with TEST;
// CHECK and CHECK_EQ record a failure and go on, REQUIRE stops the test.
#pragma once

#include <functional>
#include <sstream>
#include <string>
#include <type_traits>
#include <cstdint>
#include <vector>

namespace wintest {

struct TestCase {
    std::string name;
    std::function<void()> body;
};

std::vector<TestCase>& Registry();

struct Registrar {
    Registrar(const char* name, std::function<void()> body) { Registry().push_back({name, std::move(body)}); }
};

// Thrown by REQUIRE to leave the current test.
struct RequireFailed {};
// Thrown by SKIP: the test needs something this run does not provide.
struct Skipped {
    std::string why;
};

void Fail(const char* file, int line, const std::string& what);

// Text helpers for messages.
std::string Narrow(const std::u16string& text);

template <typename T>
std::string Show(const T& value) {
    std::ostringstream text;
    if constexpr (std::is_same_v<T, uint8_t> || std::is_same_v<T, int8_t> || std::is_same_v<T, char16_t>) {
        text << static_cast<int>(value);
    } else {
        text << value;
    }
    return text.str();
}
inline std::string Show(const std::u16string& value) { return "u\"" + Narrow(value) + "\""; }

template <typename A, typename B>
void CheckEqual(const A& actual, const B& expected, const char* actualText, const char* expectedText, const char* file,
                int line, bool required) {
    if (actual == expected) return;
    std::ostringstream message;
    message << actualText << " == " << expectedText << " failed: got " << Show(actual) << ", expected " << Show(expected);
    Fail(file, line, message.str());
    if (required) throw RequireFailed{};
}

// Runs the tests whose name contains filter (all when empty); returns the
// number of failed tests and prints "N passed, M failed, K skipped".
int RunAll(const std::string& filter);

}  // namespace wintest

#define WINTEST_CONCAT2(a, b) a##b
#define WINTEST_CONCAT(a, b) WINTEST_CONCAT2(a, b)
#define TEST(name)                                                                                      \
    static void WINTEST_CONCAT(Test_, name)();                                                          \
    static const ::wintest::Registrar WINTEST_CONCAT(registrar_, name)(#name, WINTEST_CONCAT(Test_, name)); \
    static void WINTEST_CONCAT(Test_, name)()

#define CHECK(condition) \
    do { \
        if (!(condition)) ::wintest::Fail(__FILE__, __LINE__, "CHECK(" #condition ") failed"); \
    } while (0)
#define REQUIRE(condition) \
    do { \
        if (!(condition)) { \
            ::wintest::Fail(__FILE__, __LINE__, "REQUIRE(" #condition ") failed"); \
            throw ::wintest::RequireFailed{}; \
        } \
    } while (0)
#define SKIP(why) throw ::wintest::Skipped{why}
#define CHECK_EQ(actual, expected) \
    ::wintest::CheckEqual((actual), (expected), #actual, #expected, __FILE__, __LINE__, false)
#define REQUIRE_EQ(actual, expected) \
    ::wintest::CheckEqual((actual), (expected), #actual, #expected, __FILE__, __LINE__, true)
