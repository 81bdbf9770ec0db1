#include "module/DualString.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "platform/Platform.h"

namespace module {

namespace {

// Array sizes are checked for 32-bit overflow: an oversized request fails
// instead of wrapping around to a small buffer.
template <typename T>
T* AllocateZeroed(uint64_t count) {
    if (count == 0 || count * sizeof(T) > std::numeric_limits<uint32_t>::max()) {
        return nullptr;
    }
    return new (std::nothrow) T[static_cast<size_t>(count)]();
}

size_t WideLength(const char16_t* text) {
    size_t length = 0;
    while (text[length] != u'\0') {
        ++length;
    }
    return length;
}

}  // namespace

DualString::DualString(const char16_t* text) : DualString(text, text == nullptr ? 0 : static_cast<int32_t>(
                                                                       std::min<size_t>(WideLength(text), INT32_MAX))) {}

DualString::DualString(const char16_t* text, int32_t count) {
    if (text == nullptr || count < 0) {
        return;
    }
    // A wide buffer holds count + 1 units, zero-filled, so it is always terminated.
    wide = AllocateZeroed<char16_t>(static_cast<uint64_t>(count) + 1);
    if (wide == nullptr) {
        return;
    }
    std::memcpy(wide, text, static_cast<size_t>(count) * sizeof(char16_t));
    length = count;
    RebuildNarrow();
}

DualString::DualString(const std::u16string& text)
    : DualString(text.data(), static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX))) {}

DualString::DualString(const DualString& other) {
    if (!other.Empty()) {
        *this = DualString(other.wide, other.length);
    }
}

DualString::DualString(DualString&& other) noexcept : narrow(other.narrow), wide(other.wide), length(other.length) {
    other.narrow = nullptr;
    other.wide = nullptr;
    other.length = 0;
}

DualString::~DualString() { Clear(); }

DualString& DualString::operator=(const DualString& other) {
    if (this == &other) {
        return *this;
    }
    DualString copy(other);
    return *this = std::move(copy);
}

DualString& DualString::operator=(DualString&& other) noexcept {
    if (this != &other) {
        Clear();
        narrow = other.narrow;
        wide = other.wide;
        length = other.length;
        other.narrow = nullptr;
        other.wide = nullptr;
        other.length = 0;
    }
    return *this;
}

DualString& DualString::operator=(const char16_t* text) { return *this = DualString(text); }

DualString& DualString::operator=(const char* ansi) {
    Clear();
    if (ansi == nullptr) {
        return *this;
    }
    *this = DualString(platform::AnsiToWide(ansi));
    return *this;
}

int32_t DualString::Append(const DualString& other) {
    if (other.Empty()) {
        return kStringOk;
    }
    const int32_t ownLength = Empty() ? 0 : length;
    const uint64_t combined = static_cast<uint64_t>(ownLength) + static_cast<uint64_t>(other.length);
    if (combined > INT32_MAX) {
        return kStringOk;   // cannot be represented; the string stays as it was
    }
    char16_t* joined = AllocateZeroed<char16_t>(combined + 1);
    if (joined == nullptr) {
        return kStringOk;
    }
    if (ownLength > 0) {
        std::memcpy(joined, wide, static_cast<size_t>(ownLength) * sizeof(char16_t));
    }
    std::memcpy(joined + ownLength, other.wide, static_cast<size_t>(other.length) * sizeof(char16_t));
    delete[] wide;
    wide = joined;
    length = static_cast<int32_t>(combined);
    RebuildNarrow();
    return kStringOk;
}

int32_t DualString::Prepend(const DualString& other) {
    DualString joined(other);
    joined.Append(*this);
    if (!joined.Empty()) {
        *this = std::move(joined);
    }
    return kStringOk;
}

DualString DualString::operator+(const char* ansi) const {
    DualString result(*this);
    DualString tail;
    tail = ansi;
    result.Append(tail);
    return result;
}

int32_t DualString::AssignInteger(int64_t value, int base) {
    static const char16_t kDigits[] = u"0123456789abcdef";
    Clear();
    if (base < 2 || base > 16) {
        return kStringBadDigit;
    }
    const bool negative = value < 0;
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::u16string text;
    do {
        text.insert(text.begin(), kDigits[magnitude % static_cast<uint64_t>(base)]);
        magnitude /= static_cast<uint64_t>(base);
    } while (magnitude != 0);
    if (negative) {
        text.insert(text.begin(), u'-');
    }
    *this = DualString(text);
    return kStringOk;
}

DualString DualString::FromInteger(int64_t value) {
    DualString text;
    text.AssignInteger(value);
    return text;
}

void DualString::RebuildNarrow() {
    delete[] narrow;
    narrow = nullptr;
    if (wide == nullptr) {
        return;
    }
    const std::string converted = platform::WideToAnsi(std::u16string(wide, static_cast<size_t>(length)));
    // One byte larger than the converted text and zero-filled: always terminated.
    narrow = AllocateZeroed<char>(static_cast<uint64_t>(converted.size()) + 1);
    if (narrow != nullptr) {
        std::memcpy(narrow, converted.data(), converted.size());
    }
}

void DualString::Clear() {
    delete[] narrow;
    delete[] wide;
    narrow = nullptr;
    wide = nullptr;
    length = 0;
}

std::u16string DualString::Text() const {
    return Empty() ? std::u16string() : std::u16string(wide, static_cast<size_t>(length));
}

DualString VersionText(int32_t major, int32_t minor, int32_t build, int32_t revision) {
    DualString text = DualString::FromInteger(major);
    const int32_t rest[] = {minor, build, revision};
    for (int32_t part : rest) {
        text.Append(DualString(u"."));
        text.Append(DualString::FromInteger(part));
    }
    return text;
}

}  // namespace module
