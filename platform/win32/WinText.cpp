// Code-page conversions with MultiByteToWideChar / WideCharToMultiByte.
//
// The ANSI code page is the process's CP_ACP unless a caller names another
// one ("CP936", "936", "UTF-8"), which tests use to pin the conversion.
#include <atomic>
#include <cctype>
#include <climits>

#include "platform/win32/WinApi.h"

namespace platform {

namespace {

std::atomic<UINT> g_ansiCodePage{CP_ACP};

// "CP936", "cp936", "936", "UTF-8", "utf8" -> code page number; 0 when unknown.
UINT ParseCodePage(const std::string& name) {
    std::string lower;
    for (char c : name) {
        if (c != '-' && c != '_') lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (lower == "utf8") return CP_UTF8;
    if (lower.rfind("cp", 0) == 0) lower.erase(0, 2);
    if (lower.empty() || lower.size() > 5) return 0;
    UINT number = 0;
    for (char c : lower) {
        if (c < '0' || c > '9') return 0;
        number = number * 10 + static_cast<UINT>(c - '0');
    }
    return number;
}

std::u16string ToWide(UINT codePage, const std::string& text) {
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return {};
    const int inLength = static_cast<int>(text.size());
    const int units = ::MultiByteToWideChar(codePage, 0, text.data(), inLength, nullptr, 0);
    if (units <= 0) return {};
    std::wstring out(static_cast<size_t>(units), L'\0');
    const int written = ::MultiByteToWideChar(codePage, 0, text.data(), inLength, out.data(), units);
    if (written <= 0) return {};
    return win32::FromWide(out.data(), static_cast<size_t>(written));
}

std::string ToNarrow(UINT codePage, const std::u16string& text) {
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return {};
    const int inLength = static_cast<int>(text.size());
    const wchar_t* in = reinterpret_cast<const wchar_t*>(text.data());
    const int bytes = ::WideCharToMultiByte(codePage, 0, in, inLength, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    const int written = ::WideCharToMultiByte(codePage, 0, in, inLength, out.data(), bytes, nullptr, nullptr);
    if (written <= 0) return {};
    out.resize(static_cast<size_t>(written));
    return out;
}

}  // namespace

void SetAnsiCodePage(const std::string& name) {
    const UINT parsed = ParseCodePage(name);
    g_ansiCodePage.store(parsed != 0 && ::IsValidCodePage(parsed) ? parsed : CP_ACP);
}

std::string AnsiCodePage() {
    const UINT selected = g_ansiCodePage.load();
    const UINT number = selected == CP_ACP ? ::GetACP() : selected;
    if (number == CP_UTF8) return "UTF-8";
    return "CP" + std::to_string(number);
}

std::u16string AnsiToWide(const std::string& ansi) { return ToWide(g_ansiCodePage.load(), ansi); }
std::string WideToAnsi(const std::u16string& wide) { return ToNarrow(g_ansiCodePage.load(), wide); }
std::u16string Utf8ToWide(const std::string& utf8) { return ToWide(CP_UTF8, utf8); }
std::string WideToUtf8(const std::u16string& wide) { return ToNarrow(CP_UTF8, wide); }

}  // namespace platform
