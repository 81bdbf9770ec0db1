// The package check without a card: the files the module's own check asks
// for (present, readable, at least 2 bytes) and the limits of the writes that
// follow (headers and the partition table travel as one 1024-byte payload,
// image sizes are signed 32-bit). Unlike the module, which stops at the first
// missing file, this lists every problem at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/fwupgrade/package/PackageSums.h"

namespace fwupgrade {

enum class PackageFileKind { Table, Header, Loader, Image };

struct PackageFile {
    const char* name;
    bool required;
    PackageFileKind kind;
};

// The package files in the order the module checks them.
const std::vector<PackageFile>& PackageFiles();

constexpr uint64_t kPayloadLimit = 1024;                 // headers and partition.mbn
constexpr uint64_t kImageLimit = uint64_t{1} << 31;      // images stay below 2 GiB
constexpr uint64_t kMinimumFileSize = 2;
constexpr size_t kModulePathCapacity = 260;              // units, terminator included

struct PackageProblem {
    std::string file;      // the package file concerned ("" for the folder)
    std::string text;      // what is wrong, in plain words
    bool fatal = true;     // false: noted only (a missing optional image)
};

struct PackageReport {
    std::vector<PackageProblem> problems;
    bool hasUserdata = false;
    bool hasSplash = false;
    uint64_t totalBytes = 0;
    std::vector<PackageFileDigest> files;   // the usable files found, with their digests when taken
    bool sumsChecked = false;               // a SHA256SUMS was there and was checked
    bool Accepted() const;
};

struct PackageCheckOptions {
    bool digestAll = false;   // hash every file; else only when a SHA256SUMS is to be checked
    bool checkSums = true;    // check the files against the package's SHA256SUMS when it has one
};

PackageReport CheckPackage(const std::string& folder, PackageCheckOptions options = {});

}  // namespace fwupgrade
