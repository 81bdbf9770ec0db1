#include "host/fwupgrade/package/PackageSums.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>

#include "host/fwupgrade/package/PackageCheck.h"

namespace fwupgrade {

namespace {

constexpr size_t kHexDigits = 64;

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool PlainFileName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return false;
    return std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

bool ParseLine(std::string_view line, SumsEntry& entry, std::string& why) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() < kHexDigits + 3 || !std::all_of(line.begin(), line.begin() + kHexDigits, IsHex)) {
        why = "expected 64 hex digits, two separators and a file name";
        return false;
    }
    if (line[kHexDigits] != ' ' || (line[kHexDigits + 1] != ' ' && line[kHexDigits + 1] != '*')) {
        why = "expected \"  \" or \" *\" after the digest";
        return false;
    }
    entry.sha256.clear();
    std::transform(line.begin(), line.begin() + kHexDigits, std::back_inserter(entry.sha256), Lower);
    entry.name = std::string(line.substr(kHexDigits + 2));
    if (!PlainFileName(entry.name)) {
        why = "\"" + entry.name + "\" is not a file name of the package folder";
        return false;
    }
    return true;
}

bool ReadSmallFile(const std::string& path, std::string& text, std::string& error) {
    // O_NONBLOCK: a FIFO in the package must not block the check.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot be read";
        return false;
    }
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() <= kSumsFileLimit)
        text.append(buffer, static_cast<size_t>(got));
    ::close(fd);
    if (got < 0) error = "cannot be read";
    else if (text.size() > kSumsFileLimit) error = "is larger than 64 KiB";
    return error.empty();
}

const PackageFileDigest* Find(const std::vector<PackageFileDigest>& found, const std::string& name) {
    for (const auto& file : found)
        if (file.name == name) return &file;
    return nullptr;
}

bool IsPackageFile(const std::string& name) {
    for (const auto& file : PackageFiles())
        if (name == file.name) return true;
    return false;
}

}  // namespace

bool ParseSums(std::string_view text, std::vector<SumsEntry>& entries, std::string& error) {
    entries.clear();
    std::set<std::string> names;
    size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        SumsEntry entry;
        std::string why;
        if (!ParseLine(line, entry, why)) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        }
        if (!names.insert(entry.name).second) {
            error = "line " + std::to_string(lineNumber) + ": " + entry.name + " is listed twice";
            return false;
        }
        entries.push_back(entry);
    }
    if (entries.empty()) {
        error = "it lists no file";
        return false;
    }
    return true;
}

std::string FormatSums(const std::vector<SumsEntry>& entries) {
    std::string text;
    for (const auto& entry : entries) text += entry.sha256 + "  " + entry.name + "\n";
    return text;
}

SumsVerdict CheckSums(const std::string& folder, const std::vector<PackageFileDigest>& found) {
    SumsVerdict verdict;
    const std::string path = folder + "/" + kSumsFileName;
    if (::access(path.c_str(), F_OK) != 0) return verdict;
    verdict.present = true;
    std::string text, error;
    std::vector<SumsEntry> entries;
    if (!ReadSmallFile(path, text, error)) {
        verdict.problems.push_back(std::string(kSumsFileName) + " " + error);
        return verdict;
    }
    if (!ParseSums(text, entries, error)) {
        verdict.problems.push_back(std::string(kSumsFileName) + " is not valid: " + error);
        return verdict;
    }
    for (const auto& file : found) {
        const auto listed =
            std::find_if(entries.begin(), entries.end(), [&](const SumsEntry& e) { return e.name == file.name; });
        if (listed == entries.end())
            verdict.problems.push_back(file.name + " is not listed in " + kSumsFileName);
        else if (listed->sha256 != file.sha256)
            verdict.problems.push_back(file.name + " does not match " + kSumsFileName + " (listed " +
                                       listed->sha256.substr(0, 16) + "..., found " + file.sha256.substr(0, 16) + "...)");
    }
    // Other files the list may name (notes, a signature) are not flashed.
    for (const auto& entry : entries)
        if (IsPackageFile(entry.name) && Find(found, entry.name) == nullptr)
            verdict.problems.push_back(entry.name + " is listed in " + kSumsFileName + " but not in the package");
    return verdict;
}

bool WriteSums(const std::string& folder, const std::vector<PackageFileDigest>& found, std::string& error) {
    std::vector<SumsEntry> entries;
    for (const auto& file : found) entries.push_back({file.name, file.sha256});
    const std::string path = folder + "/" + kSumsFileName;
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << FormatSums(entries);
        out.flush();
        if (!out) {
            error = "cannot write " + temp;
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path;
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace fwupgrade
