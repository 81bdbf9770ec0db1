// A package's SHA256SUMS, in the format sha256sum writes and checks: one
// line per file, 64 hex digits, a space, a space or '*', the file name. When
// a package has one, every package file present must be listed and match,
// and every file listed must be present, or the package is refused before
// any card is touched.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fwupgrade {

constexpr const char* kSumsFileName = "SHA256SUMS";
constexpr size_t kSumsFileLimit = 64 * 1024;

struct SumsEntry {
    std::string name;
    std::string sha256;   // 64 lowercase hex digits
};

// Parses the file's bytes; false with "line N: ..." in `error` for anything
// else than the lines above (names with a folder part are refused too).
bool ParseSums(std::string_view text, std::vector<SumsEntry>& entries, std::string& error);
std::string FormatSums(const std::vector<SumsEntry>& entries);

// A package file as found: its size and digest.
struct PackageFileDigest {
    std::string name;
    uint64_t size = 0;
    std::string sha256;
};

// What the SHA256SUMS of a package says about the files found in it.
struct SumsVerdict {
    bool present = false;                 // the package has a SHA256SUMS
    std::vector<std::string> problems;    // "system.img does not match SHA256SUMS ..."
};
SumsVerdict CheckSums(const std::string& folder, const std::vector<PackageFileDigest>& found);

// Writes SHA256SUMS for the files found (a temporary file renamed over it).
bool WriteSums(const std::string& folder, const std::vector<PackageFileDigest>& found, std::string& error);

}  // namespace fwupgrade
