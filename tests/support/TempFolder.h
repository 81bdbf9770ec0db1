// A fresh folder under the system temporary folder for one test, removed
// with everything in it.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace test_support {

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "fwup-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    std::u16string Wide() const { return platform::Utf8ToWide(path_); }
    std::u16string WideFile(const std::string& name) const { return platform::Utf8ToWide(*this / name); }

    // `size` bytes of `fill`.
    void Fill(const std::string& name, size_t size, char fill = 'x') const {
        std::ofstream out(*this / name, std::ios::binary | std::ios::trunc);
        out << std::string(size, fill);
    }
    void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream out(*this / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    // `size` bytes of a pattern that differs from one seed to another.
    void WritePattern(const std::string& name, size_t size, uint8_t seed = 1) const {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(seed + i * 7 + (i >> 9));
        WriteBytes(name, bytes);
    }
    void Remove(const std::string& name) const { std::filesystem::remove(*this / name); }

private:
    std::string path_;
};

}  // namespace test_support
