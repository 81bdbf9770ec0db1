// What a host process holds between runs, and whether it stays flat over
// many runs: resident memory and open file descriptors read from /proc/self.
//
//   std::vector<hostkit::Footprint> samples;
//   ... after each run: samples.push_back(hostkit::ReadFootprint());
//   hostkit::Flatness fds = hostkit::CheckFlat(Descriptors(samples), 5, 2);
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace hostkit {

struct Footprint {
    size_t residentKiB = 0;    // VmRSS
    size_t descriptors = 0;    // entries of /proc/self/fd, the reading's own excluded
    bool valid = false;        // false when /proc could not be read
};

Footprint ReadFootprint();

std::vector<size_t> ResidentSeries(const std::vector<Footprint>& samples);
std::vector<size_t> DescriptorSeries(const std::vector<Footprint>& samples);

// A series is flat when no sample after the first `warmUp` ones exceeds the
// last warm-up sample (the baseline) by more than `tolerance`.
struct Flatness {
    bool flat = false;
    size_t baseline = 0;
    size_t peak = 0;          // highest sample after the warm-up
    size_t firstOver = 0;     // index of the first sample above the limit (flat: 0)
    std::string text;         // one line for a failure message or a report
};

Flatness CheckFlat(const std::vector<size_t>& series, size_t warmUp, size_t tolerance);

}  // namespace hostkit
