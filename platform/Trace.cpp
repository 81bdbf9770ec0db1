// The wide printf formatter of the trace calls and the hand-off to the sink.
// The formatter is our own so that it behaves the same on every platform
// (glibc's vswprintf works on 32-bit wchar_t, not on UTF-16).
#include "platform/Trace.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "platform/Platform.h"

namespace platform {

namespace {

std::atomic<TraceSink> g_sink{nullptr};

constexpr size_t kMessageCapacity = 4096;

// Collects output; counts everything but stores only what fits.
class Output {
public:
    Output(char16_t* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}
    void Put(char16_t unit) {
        if (written_ + 1 < capacity_) {
            buffer_[written_++] = unit;
        }
    }
    void Repeat(char16_t unit, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            Put(unit);
        }
    }
    void Terminate() {
        if (capacity_ > 0) {
            buffer_[written_] = u'\0';
        }
    }
    size_t Written() const { return written_; }

private:
    char16_t* buffer_;
    size_t capacity_;
    size_t written_ = 0;
};

struct Spec {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool zero = false;
    bool alternate = false;
    int width = 0;
    int precision = -1;   // -1: none given
};

enum class Length { Default, Short, Long, LongLong };

void PadAndPut(Output& out, const Spec& spec, const char16_t* text, size_t length) {
    const size_t width = spec.width > 0 ? static_cast<size_t>(spec.width) : 0;
    const size_t pad = width > length ? width - length : 0;
    if (!spec.left) {
        out.Repeat(u' ', pad);
    }
    for (size_t i = 0; i < length; ++i) {
        out.Put(text[i]);
    }
    if (spec.left) {
        out.Repeat(u' ', pad);
    }
}

void PutInteger(Output& out, const Spec& spec, unsigned long long magnitude, bool negative, unsigned base,
                bool upper, bool isSigned) {
    char16_t digits[32];
    size_t count = 0;
    const char* table = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    while (magnitude != 0) {
        digits[count++] = static_cast<char16_t>(table[magnitude % base]);
        magnitude /= base;
    }
    const bool valueIsZero = count == 0;
    // Precision is the minimum digit count; "%.0d" of zero prints no digits.
    size_t minimumDigits = spec.precision >= 0 ? static_cast<size_t>(spec.precision) : 1;
    const size_t zeros = minimumDigits > count ? minimumDigits - count : 0;

    char16_t prefix[2];
    size_t prefixLength = 0;
    if (isSigned) {
        if (negative) {
            prefix[prefixLength++] = u'-';
        } else if (spec.plus) {
            prefix[prefixLength++] = u'+';
        } else if (spec.space) {
            prefix[prefixLength++] = u' ';
        }
    } else if (spec.alternate && base == 16 && !valueIsZero) {
        prefix[prefixLength++] = u'0';
        prefix[prefixLength++] = upper ? u'X' : u'x';
    }

    const size_t bodyLength = prefixLength + zeros + count;
    const size_t width = spec.width > 0 ? static_cast<size_t>(spec.width) : 0;
    size_t pad = width > bodyLength ? width - bodyLength : 0;
    const bool zeroPad = spec.zero && !spec.left && spec.precision < 0;

    if (!spec.left && !zeroPad) {
        out.Repeat(u' ', pad);
    }
    for (size_t i = 0; i < prefixLength; ++i) {
        out.Put(prefix[i]);
    }
    if (zeroPad) {
        out.Repeat(u'0', pad);
        pad = 0;
    }
    out.Repeat(u'0', zeros);
    while (count > 0) {
        out.Put(digits[--count]);
    }
    if (spec.left) {
        out.Repeat(u' ', pad);
    }
}

size_t WideLength(const char16_t* text, int precision) {
    size_t length = 0;
    while ((precision < 0 || length < static_cast<size_t>(precision)) && text[length] != u'\0') {
        ++length;
    }
    return length;
}

// A count of at most 100,000 from the digits at p (a larger one stops growing).
int ReadCount(const char16_t*& p) {
    int count = 0;
    while (*p >= u'0' && *p <= u'9') {
        count = count < 100000 ? count * 10 + (*p - u'0') : count;
        ++p;
    }
    return count;
}

// Flags, width, precision and length of the directive after its '%'. The
// argument list is passed by pointer: a callee that takes arguments from a
// va_list passed by value leaves the caller's list unusable.
void ReadSpec(const char16_t*& p, va_list* args, Spec& spec, Length& length) {
    for (;; ++p) {
        if (*p == u'-') {
            spec.left = true;
        } else if (*p == u'+') {
            spec.plus = true;
        } else if (*p == u' ') {
            spec.space = true;
        } else if (*p == u'0') {
            spec.zero = true;
        } else if (*p == u'#') {
            spec.alternate = true;
        } else {
            break;
        }
    }
    if (*p == u'*') {
        int width = va_arg(*args, int);
        if (width < 0) {
            spec.left = true;
            width = width == INT32_MIN ? 0 : -width;
        }
        spec.width = width;
        ++p;
    } else {
        spec.width = ReadCount(p);
    }
    if (*p == u'.') {
        ++p;
        if (*p == u'*') {
            const int precision = va_arg(*args, int);
            spec.precision = precision < 0 ? -1 : precision;
            ++p;
        } else {
            spec.precision = ReadCount(p);
        }
    }
    length = Length::Default;
    if (*p == u'h') {
        length = Length::Short;
        ++p;
    } else if (*p == u'l') {
        ++p;
        length = Length::Long;
        if (*p == u'l') {
            length = Length::LongLong;
            ++p;
        }
    } else if (*p == u'I' && p[1] == u'6' && p[2] == u'4') {
        length = Length::LongLong;
        p += 3;
    }
}

void PutSigned(Output& out, const Spec& spec, Length length, va_list* args) {
    long long value;
    if (length == Length::LongLong) {
        value = va_arg(*args, long long);
    } else if (length == Length::Long) {
        value = va_arg(*args, long);
    } else if (length == Length::Short) {
        value = static_cast<short>(va_arg(*args, int));
    } else {
        value = va_arg(*args, int);
    }
    const bool negative = value < 0;
    const unsigned long long magnitude =
        negative ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    PutInteger(out, spec, magnitude, negative, 10, false, true);
}

void PutUnsigned(Output& out, const Spec& spec, Length length, char16_t conversion, va_list* args) {
    unsigned long long value;
    if (length == Length::LongLong) {
        value = va_arg(*args, unsigned long long);
    } else if (length == Length::Long) {
        value = va_arg(*args, unsigned long);
    } else if (length == Length::Short) {
        value = static_cast<unsigned short>(va_arg(*args, unsigned int));
    } else {
        value = va_arg(*args, unsigned int);
    }
    const unsigned base = conversion == u'u' ? 10 : 16;
    PutInteger(out, spec, value, false, base, conversion == u'X', false);
}

// In a wide format %c and %lc take a UTF-16 unit, %hc a narrow one.
void PutCharacter(Output& out, const Spec& spec, Length length, va_list* args) {
    const int value = va_arg(*args, int);
    char16_t unit;
    if (length == Length::Short) {
        const std::u16string wide = AnsiToWide(std::string(1, static_cast<char>(value)));
        unit = wide.empty() ? u'?' : wide[0];
    } else {
        unit = static_cast<char16_t>(value);
    }
    PadAndPut(out, spec, &unit, 1);
}

// Wide printf: %s and %ls are wide texts; %S and %hs are narrow ones.
void PutText(Output& out, const Spec& spec, Length length, char16_t conversion, va_list* args) {
    const bool narrow =
        (conversion == u'S' && length != Length::Long) || (conversion == u's' && length == Length::Short);
    if (!narrow) {
        const char16_t* text = va_arg(*args, const char16_t*);
        if (text == nullptr) {
            text = u"(null)";
        }
        PadAndPut(out, spec, text, WideLength(text, spec.precision));
        return;
    }
    const char* text = va_arg(*args, const char*);
    if (text == nullptr) {
        static const char16_t kNull[] = u"(null)";
        PadAndPut(out, spec, kNull, WideLength(kNull, spec.precision));
        return;
    }
    size_t bytes = 0;
    while ((spec.precision < 0 || bytes < static_cast<size_t>(spec.precision)) && text[bytes] != '\0') {
        ++bytes;
    }
    const std::u16string wide = AnsiToWide(std::string(text, bytes));
    PadAndPut(out, spec, wide.data(), wide.size());
}

void PutAsWritten(Output& out, const char16_t* from, const char16_t* to) {
    for (const char16_t* q = from; q < to; ++q) {
        out.Put(*q);
    }
}

void Format(Output& out, const char16_t* format, va_list* args) {
    const char16_t* p = format;
    while (*p != u'\0') {
        if (*p != u'%') {
            out.Put(*p++);
            continue;
        }
        const char16_t* directiveStart = p;
        ++p;
        Spec spec;
        Length length = Length::Default;
        ReadSpec(p, args, spec, length);
        const char16_t conversion = *p;
        if (conversion == u'\0') {
            // A lone '%' at the end is printed as it stands.
            PutAsWritten(out, directiveStart, p);
            break;
        }
        ++p;
        switch (conversion) {
            case u'd': case u'i': PutSigned(out, spec, length, args); break;
            case u'u': case u'x': case u'X': PutUnsigned(out, spec, length, conversion, args); break;
            case u'c': PutCharacter(out, spec, length, args); break;
            case u's': case u'S': PutText(out, spec, length, conversion, args); break;
            case u'%': out.Put(u'%'); break;
            // Unknown directive: shown as written, no argument taken.
            default: PutAsWritten(out, directiveStart, p); break;
        }
    }
    out.Terminate();
}

}  // namespace

void SetTraceSink(TraceSink sink) { g_sink.store(sink, std::memory_order_release); }

size_t FormatWide(char16_t* buffer, size_t capacity, const char16_t* format, va_list args) {
    if (buffer == nullptr || capacity == 0) {
        return 0;
    }
    Output out(buffer, capacity);
    if (format == nullptr) {
        out.Terminate();
        return 0;
    }
    // A local copy: the address of a va_list parameter is not a va_list*
    // where va_list is an array type.
    va_list local;
    va_copy(local, args);
    Format(out, format, &local);
    va_end(local);
    return out.Written();
}

std::u16string FormatWide(const char16_t* format, ...) {
    std::vector<char16_t> buffer(512);
    for (;;) {
        va_list args;
        va_start(args, format);
        const size_t written = FormatWide(buffer.data(), buffer.size(), format, args);
        va_end(args);
        if (written + 1 < buffer.size() || buffer.size() >= (size_t{1} << 24)) {
            return std::u16string(buffer.data(), written);
        }
        buffer.resize(buffer.size() * 4);
    }
}

size_t FormatWideTo(char16_t* buffer, size_t capacity, const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    const size_t written = FormatWide(buffer, capacity, format, args);
    va_end(args);
    return written;
}

void WriteLog(const char16_t* file, int line, const char16_t* function, const char16_t* format, ...) {
    if (file == nullptr || line < 0 || function == nullptr || format == nullptr) {
        return;
    }
    const TraceSink sink = g_sink.load(std::memory_order_acquire);
    if (sink == nullptr) {
        return;
    }
    char16_t message[kMessageCapacity] = {};
    va_list args;
    va_start(args, format);
    FormatWide(message, kMessageCapacity, format, args);
    va_end(args);
    sink(file, line, function, message);
}

}  // namespace platform
