#include "host/kit/ProcessFootprint.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace hostkit {

namespace {

constexpr const char* kStatusPath = "/proc/self/status";
constexpr const char* kDescriptorFolder = "/proc/self/fd";
constexpr const char* kResidentField = "VmRSS:";

bool ReadResidentKiB(size_t& out) {
    std::ifstream status(kStatusPath);
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, std::strlen(kResidentField), kResidentField) != 0) continue;
        unsigned long long kib = 0;
        if (std::sscanf(line.c_str() + std::strlen(kResidentField), "%llu", &kib) != 1) return false;
        out = static_cast<size_t>(kib);
        return true;
    }
    return false;
}

// Counts the open descriptors; the one the listing itself holds is left out.
bool CountDescriptors(size_t& out) {
    DIR* folder = ::opendir(kDescriptorFolder);
    if (folder == nullptr) return false;
    size_t entries = 0;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] != '.') ++entries;
    }
    ::closedir(folder);
    out = entries > 0 ? entries - 1 : 0;
    return true;
}

std::vector<size_t> Series(const std::vector<Footprint>& samples, size_t Footprint::*field) {
    std::vector<size_t> values;
    values.reserve(samples.size());
    for (const Footprint& sample : samples) values.push_back(sample.*field);
    return values;
}

}  // namespace

Footprint ReadFootprint() {
    Footprint footprint;
    footprint.valid = ReadResidentKiB(footprint.residentKiB) && CountDescriptors(footprint.descriptors);
    return footprint;
}

std::vector<size_t> ResidentSeries(const std::vector<Footprint>& samples) {
    return Series(samples, &Footprint::residentKiB);
}

std::vector<size_t> DescriptorSeries(const std::vector<Footprint>& samples) {
    return Series(samples, &Footprint::descriptors);
}

Flatness CheckFlat(const std::vector<size_t>& series, size_t warmUp, size_t tolerance) {
    Flatness result;
    if (warmUp == 0 || series.size() <= warmUp) {
        result.text = "not enough samples: " + std::to_string(series.size()) + " after a warm-up of " +
                      std::to_string(warmUp);
        return result;
    }
    result.baseline = series[warmUp - 1];
    result.flat = true;
    for (size_t i = warmUp; i < series.size(); ++i) {
        result.peak = std::max(result.peak, series[i]);
        if (result.flat && series[i] > result.baseline + tolerance) {
            result.flat = false;
            result.firstOver = i;
        }
    }
    result.text = "baseline " + std::to_string(result.baseline) + " after " + std::to_string(warmUp) +
                  " samples, peak " + std::to_string(result.peak) + ", last " + std::to_string(series.back()) +
                  ", tolerance " + std::to_string(tolerance);
    if (!result.flat) result.text += "; sample " + std::to_string(result.firstOver) + " is above the limit";
    return result;
}

}  // namespace hostkit
