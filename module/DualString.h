// The string of the host boundary: UTF-16 text (the master copy) with a
// narrow copy in the ANSI code page and a length in UTF-16 units. Host
// modules read it in place inside shared records, so its layout is fixed:
// narrow pointer, wide pointer, signed 32-bit length (12 bytes on a 32-bit
// build; 24 with padding on a 64-bit one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace module {

// Result codes of the string operations.
constexpr int32_t kStringOk = 0;
constexpr int32_t kStringBadDigit = -22;

struct DualString {
    char* narrow = nullptr;
    char16_t* wide = nullptr;
    int32_t length = 0;

    DualString() = default;
    // A null source gives the empty string.
    DualString(const char16_t* text);   // NOLINT: implicit like the host's string class
    // Exactly count units of text (no terminator needed); null gives empty.
    DualString(const char16_t* text, int32_t count);
    explicit DualString(const std::u16string& text);
    DualString(const DualString& other);
    DualString(DualString&& other) noexcept;
    ~DualString();

    DualString& operator=(const DualString& other);
    DualString& operator=(DualString&& other) noexcept;
    DualString& operator=(const char16_t* text);
    // Converts from the ANSI code page; a null source leaves the string empty.
    DualString& operator=(const char* ansi);

    // This text followed by other; an empty other changes nothing.
    int32_t Append(const DualString& other);
    // Other followed by this text.
    int32_t Prepend(const DualString& other);
    // This text followed by an ANSI literal.
    DualString operator+(const char* ansi) const;

    // Decimal (or another base up to 16) text of a value; kStringBadDigit
    // (and the empty string) for a base the digit table cannot serve.
    int32_t AssignInteger(int64_t value, int base = 10);
    static DualString FromInteger(int64_t value);

    // Rebuilds the narrow copy from the wide text.
    void RebuildNarrow();
    // Frees both buffers; the string is empty afterwards.
    void Clear();

    bool Empty() const { return length <= 0 || wide == nullptr; }
    std::u16string Text() const;
};

// "a.b.c.d" of four numbers, as module versions are written.
DualString VersionText(int32_t major, int32_t minor, int32_t build, int32_t revision);

#if UINTPTR_MAX == 0xFFFFFFFF
static_assert(sizeof(DualString) == 12, "host records embed a 12-byte string");
static_assert(offsetof(DualString, narrow) == 0 && offsetof(DualString, wide) == 4 &&
              offsetof(DualString, length) == 8);
#else
static_assert(sizeof(DualString) == 24, "pointer-wide string on a 64-bit build");
static_assert(offsetof(DualString, narrow) == 0 && offsetof(DualString, wide) == 8 &&
              offsetof(DualString, length) == 16);
#endif

}  // namespace module
