// Code page conversions with iconv. The ANSI code page is the locale's
// character set unless a caller names another one.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "platform/Platform.h"

namespace platform {

namespace {

std::mutex g_codePageMutex;
std::string g_codePage;   // empty: take it from the locale

const char* Utf16Name() { return std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE"; }

std::string LocaleCodeSet() {
    locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) {
        return "UTF-8";
    }
    const char* codeSet = nl_langinfo_l(CODESET, locale);
    std::string name = codeSet != nullptr && *codeSet != '\0' ? codeSet : "UTF-8";
    freelocale(locale);
    return name;
}

// Opening a converter costs more than most conversions (every trace line and
// path goes through here), so the ones opened are kept. A converter carries
// state, so one conversion at a time uses them.
class Converters {
public:
    Converters() = default;
    Converters(const Converters&) = delete;
    Converters& operator=(const Converters&) = delete;
    ~Converters() {
        for (auto& [names, cd] : open_) iconv_close(cd);
    }
    // The converter from one set to another in its initial shift state;
    // (iconv_t)-1 when iconv does not know the pair (not kept, so a set
    // installed later is found).
    iconv_t Get(const char* from, const char* to) {
        auto found = open_.find({from, to});
        if (found == open_.end()) {
            const iconv_t cd = iconv_open(to, from);
            if (cd == reinterpret_cast<iconv_t>(-1)) return cd;
            found = open_.emplace(std::make_pair(std::string(from), std::string(to)), cd).first;
        }
        iconv(found->second, nullptr, nullptr, nullptr, nullptr);
        return found->second;
    }

private:
    std::map<std::pair<std::string, std::string>, iconv_t> open_;
};

// Converts with iconv; an input sequence that does not convert is skipped by
// skipBytes and replaced by the given output bytes.
std::string Convert(const char* from, const char* to, const char* input, size_t inputBytes, size_t skipBytes,
                    const std::string& replacement) {
    static std::mutex mutex;
    static Converters converters;
    std::lock_guard<std::mutex> lock(mutex);
    std::string output;
    const iconv_t cd = converters.Get(from, to);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return output;
    }
    char* in = const_cast<char*>(input);
    size_t inLeft = inputBytes;
    char chunk[1024];
    while (inLeft > 0) {
        char* out = chunk;
        size_t outLeft = sizeof chunk;
        const size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
        output.append(chunk, sizeof chunk - outLeft);
        if (result != static_cast<size_t>(-1)) {
            continue;
        }
        if (errno == E2BIG) {
            continue;
        }
        // EILSEQ or EINVAL: an unconvertible or cut sequence.
        const size_t skip = skipBytes < inLeft ? skipBytes : inLeft;
        in += skip;
        inLeft -= skip;
        output += replacement;
    }
    char* out = chunk;
    size_t outLeft = sizeof chunk;
    iconv(cd, nullptr, nullptr, &out, &outLeft);
    output.append(chunk, sizeof chunk - outLeft);
    return output;
}

std::u16string BytesToWide(const std::string& bytes) {
    std::u16string wide(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < wide.size(); ++i) {
        char16_t unit;
        std::memcpy(&unit, bytes.data() + 2 * i, 2);
        wide[i] = unit;
    }
    return wide;
}

std::string ReplacementInUtf16() {
    const char16_t unit = 0xFFFD;
    return std::string(reinterpret_cast<const char*>(&unit), 2);
}

std::u16string ToWide(const std::string& codePage, const std::string& text) {
    if (text.empty()) {
        return {};
    }
    return BytesToWide(Convert(codePage.c_str(), Utf16Name(), text.data(), text.size(), 1, ReplacementInUtf16()));
}

// Narrows one character (one unit, or a surrogate pair) at a time where
// iconv refuses, so that an unmappable character becomes a single '?'.
std::string FromWide(const std::string& codePage, const std::u16string& wide) {
    if (wide.empty()) {
        return {};
    }
    return Convert(Utf16Name(), codePage.c_str(), reinterpret_cast<const char*>(wide.data()), wide.size() * 2, 2,
                   "?");
}

}  // namespace

void SetAnsiCodePage(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_codePageMutex);
    g_codePage = name;
}

std::string AnsiCodePage() {
    std::lock_guard<std::mutex> lock(g_codePageMutex);
    if (g_codePage.empty()) {
        g_codePage = LocaleCodeSet();
    }
    return g_codePage;
}

std::u16string AnsiToWide(const std::string& ansi) { return ToWide(AnsiCodePage(), ansi); }

std::string WideToAnsi(const std::u16string& wide) { return FromWide(AnsiCodePage(), wide); }

std::u16string Utf8ToWide(const std::string& utf8) { return ToWide("UTF-8", utf8); }

std::string WideToUtf8(const std::u16string& wide) { return FromWide("UTF-8", wide); }

}  // namespace platform
