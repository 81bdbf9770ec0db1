// One digest for the files of a package, so the history tells which images a
// card got: SHA-256 over each package file present, in the module's order,
// as its name, a zero byte, its size (8 bytes, little-endian) and its bytes.
#pragma once

#include <string>

namespace fwupgrade {

// "sha256:<64 hex digits>"; empty when a file cannot be read or is not a
// regular file (a FIFO is never opened for reading).
std::string PackageDigest(const std::string& folder);

}  // namespace fwupgrade
